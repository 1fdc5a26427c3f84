// The checks against a token whose every answer comes from the input: the
// identity and serial that build the token, then the answers of one check's
// commands in the order it sends them. Exercises the card connection's 61xx
// and 6Cxx handling (T=0 when the first byte has bit 7 set) and every reader
// of answers: counters, FCP attributes, RSF folder walks, the error journal,
// the sector records, the security journal portions.
//
// Input: one selector byte, then answers as a length byte followed by that
// many bytes (data, SW1, SW2). Once the answers run out the token says 6F00.
#include "diagnostics/algorithmTests.h"
#include "diagnostics/deviceSummary.h"
#include "diagnostics/healthChecks.h"
#include "diagnostics/integrityChecks.h"
#include "fakeFlashLibrary.h"
#include "journal/mirelJournalReader.h"
#include "scriptedPcsc.h"

#include <boost/log/core/core.hpp>

#include <array>
#include <filesystem>
#include <functional>
#include <unistd.h>

namespace {

using Check = std::function<void(Token&, logging::Logger&, const MarkFailed&)>;

const std::array<Check, 7> kChecks{
    osIntegrityCheck,
    deviceSummary,
    [](Token& token, logging::Logger& logger, const MarkFailed& markFailed) {
        algorithmSelfTests(token, logger, token.getModel(), markFailed);
    },
    [](Token& token, logging::Logger& logger, const MarkFailed& markFailed) {
        keyInformationCheck(token, logger, token.getModel(), token.getFirmwareVersionLow()[0], markFailed);
    },
    errorJournalCheck,
    memorySectorsCheck,
    [](Token& token, logging::Logger& logger, const MarkFailed& markFailed) {
        const std::filesystem::path file =
            std::filesystem::temp_directory_path() / ("kvdiag-fuzz-journal-" + std::to_string(getpid()));
        MirelJournalReader([&](uint64_t) { return file; }).readJournal(markFailed, token, logger);
        std::filesystem::remove(file);
    },
};

constexpr uint8_t kT0Flag = 0x80;

std::vector<std::string> answersOf(ByteView input)
{
    std::vector<std::string> answers;
    while (!input.empty()) {
        const size_t length = std::min<size_t>(input[0], input.size() - 1);
        answers.push_back(toHex(Bytes(input.begin() + 1, input.begin() + 1 + length)));
        input = input.subspan(1 + length);
    }
    answers.push_back("6F 00");
    return answers;
}

}  // namespace

// Report lines go nowhere: without a sink the logging core would print them.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    boost::log::core::get()->set_logging_enabled(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t selector = bytes[0];
    ScriptedPcsc pcsc;
    pcsc.addReader("Reader", hexBytes("3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 03 00 00 00 00 68"),
                   (selector & kT0Flag) ? SCARD_PROTOCOL_T0 : SCARD_PROTOCOL_T1)
        .on("", answersOf(ByteView(bytes + 1, size - 1)));
    logging::Logger logger(0);
    try {
        FakeFlashLibrary noFlash;  // the library knows no token: one without flash
        Token token(std::make_shared<Scard>(pcsc, "Reader"), noFlash);
        kChecks[(selector & ~kT0Flag) % kChecks.size()](token, logger, [] {});
    } catch (const std::exception&) {
        // a token that cannot be read ends the run with an error line
    }
    return 0;
}
