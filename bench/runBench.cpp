// A whole kvdiag run beside a bare client that sends the very commands kvdiag
// sent, recorded from the virtual token's trace: wall and CPU time, the
// commands the token counted and the peak resident set size.
#include "benchNames.h"
#include "benchToken.h"
#include "childRun.h"
#include "kvdiagRun.h"
#include "process.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

constexpr int kRepetitions = 31;

size_t commandsSoFar()
{
    return commandsReceived(pluggedToken().stderrText()).size();
}

// A private copy of kvdiag with "logs" beside it for the journal file, a
// working directory for the report, and the command sequence of its first
// run, as the token received it.
class KvdiagPlace {
public:
    KvdiagPlace()
    {
        fs::create_directories(program().parent_path() / "logs");
        fs::create_directories(workDir());
        fs::copy_file(KVDIAG_PATH, program());
        recordCommands();
    }

    fs::path program() const { return dir_.path() / "bin" / "kvdiag"; }
    fs::path workDir() const { return dir_.path() / "work"; }
    fs::path commandsFile() const { return dir_.path() / "commands.txt"; }

    // Each run starts without the files of the runs before it.
    ChildUsage run(const std::vector<std::string>& args = {}) const
    {
        fs::remove_all(workDir() / "logs");
        for (const auto& entry : fs::directory_iterator(program().parent_path() / "logs"))
            fs::remove_all(entry.path());
        return runChild(program(), args, workDir());
    }

private:
    void recordCommands() const
    {
        const std::string before = pluggedToken().stderrText();
        if (run().exitCode != 0)
            throw std::runtime_error("kvdiag failed against the virtual token");
        const std::string trace = pluggedToken().stderrText().substr(before.size());
        std::ofstream out(commandsFile());
        for (const auto& command : commandsReceived(trace))
            out << command << '\n';
        if (!out.flush())
            throw std::runtime_error("cannot write " + commandsFile().string());
    }

    TempDir dir_;
};

const KvdiagPlace& kvdiagPlace()
{
    static const auto place = std::make_unique<KvdiagPlace>();
    return *place;
}

void measure(benchmark::State& state, const std::function<ChildUsage()>& runOnce)
{
    for (auto _ : state) {
        const size_t before = commandsSoFar();
        const ChildUsage usage = runOnce();
        if (usage.exitCode != 0) {
            state.SkipWithError("the program did not exit with 0");
            break;
        }
        state.SetIterationTime(usage.wallSeconds);
        state.counters[benchNames::cpuCounter] = usage.cpuSeconds * 1e3;
        state.counters[benchNames::peakRssCounter] = static_cast<double>(usage.peakRssKib);
        state.counters[benchNames::commandsCounter] = static_cast<double>(commandsSoFar() - before);
    }
}

void kvdiagRun(benchmark::State& state)
{
    measure(state, [] { return kvdiagPlace().run(); });
}

// What starting and ending the program costs without a token: the usage text.
void kvdiagStartOnly(benchmark::State& state)
{
    measure(state, [] { return kvdiagPlace().run({"--help"}); });
}

void bareClientRun(benchmark::State& state)
{
    const KvdiagPlace& place = kvdiagPlace();
    const std::vector<std::string> args{pluggedToken().readerName(), place.commandsFile().string()};
    measure(state, [&] { return runChild(BARE_CLIENT_PATH, args, place.workDir()); });
}

}  // namespace

BENCHMARK(kvdiagRun)->Name(benchNames::kvdiagRunTool)->UseManualTime()->Iterations(1)->Repetitions(kRepetitions);
BENCHMARK(kvdiagStartOnly)->Name(benchNames::kvdiagStartOnly)->UseManualTime()->Iterations(1)->Repetitions(kRepetitions);
BENCHMARK(bareClientRun)->Name(benchNames::kvdiagRunBare)->UseManualTime()->Iterations(1)->Repetitions(kRepetitions);
