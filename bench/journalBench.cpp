// The security journal's own work at three sizes: cutting it into records,
// writing the journal file, and the file's SHA-256.
#include "benchNames.h"
#include "hex.h"
#include "process.h"

#include "journal/decodedJournal.h"
#include "journal/journalFile.h"
#include "logging/logger.h"

#include <benchmark/benchmark.h>
#include <boost/log/core/core.hpp>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

constexpr int kRepetitions = 9;
constexpr double kMinSecondsPerRepetition = 0.05;

// The healthy token's journal (whole records) repeated until size bytes are
// reached, cut at the last record boundary that fits.
Bytes journalOfSize(size_t size)
{
    std::ifstream profile(fs::path(PROFILES_DIR) / "mirel3.json");
    const Bytes healthy = hexBytes(nlohmann::json::parse(profile).at("securityJournal").get<std::string>());
    Bytes journal;
    while (journal.size() + healthy.size() <= size)
        journal.insert(journal.end(), healthy.begin(), healthy.end());
    return journal;
}

const Bytes& journal(size_t size)
{
    static std::map<size_t, Bytes> made;
    auto found = made.find(size);
    if (found == made.end())
        found = made.emplace(size, journalOfSize(size)).first;
    return found->second;
}

// The journal's real size: it is cut at a record boundary below the nominal one.
void countBytes(benchmark::State& state, const Bytes& bytes)
{
    state.counters[benchNames::journalBytesCounter] = static_cast<double>(bytes.size());
}

void decode(benchmark::State& state)
{
    const Bytes& bytes = journal(state.range(0));
    for (auto _ : state) {
        DecodedJournal decoded(bytes);
        if (decoded.status() != DecodeStatus::Ok) {
            state.SkipWithError("the repeated journal does not decode cleanly");
            break;
        }
    }
    countBytes(state, bytes);
}

// Each iteration writes a new file, as the tool does: rewriting one file in
// place would measure the file system's truncation instead.
void decodeAndWrite(benchmark::State& state)
{
    const Bytes& bytes = journal(state.range(0));
    const TempDir dir;
    int written = 0;
    for (auto _ : state) {
        DecodedJournal decoded(bytes);
        std::ofstream out(dir.path() / ("journal-" + std::to_string(++written) + ".txt"), std::ios::binary);
        writeJournalContent(out, decoded, bytes);
    }
    countBytes(state, bytes);
}

// The hash of the file a journal of this size gives; its report lines go
// nowhere, as logging is off.
void hashFile(benchmark::State& state)
{
    boost::log::core::get()->set_logging_enabled(false);
    const Bytes& bytes = journal(state.range(0));
    const TempDir dir;
    const fs::path file = dir.path() / "journal.txt";
    {
        DecodedJournal decoded(bytes);
        std::ofstream out(file, std::ios::binary);
        writeJournalContent(out, decoded, bytes);
    }
    logging::Logger logger(0);
    for (auto _ : state)
        printJournalFileHash(file, logger);
    countBytes(state, bytes);
}

void sizes(benchmark::internal::Benchmark* bench)
{
    for (const int64_t size : {4 << 10, 64 << 10, 1 << 20})
        bench->Arg(size);
    bench->MinTime(kMinSecondsPerRepetition)->Repetitions(kRepetitions);
}

}  // namespace

BENCHMARK(decode)->Name(benchNames::journalDecode)->Apply(sizes);
BENCHMARK(decodeAndWrite)->Name(benchNames::journalWrite)->Apply(sizes);
BENCHMARK(hashFile)->Name(benchNames::journalHash)->Apply(sizes);
