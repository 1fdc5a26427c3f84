// The flash library through its C interface: opening a token and listing its
// sections beside the bare commands it sends, and how soon a handle works
// again after the token restarted.
#include "bareCard.h"
#include "benchNames.h"
#include "benchToken.h"
#include "hex.h"
#include "kvdiagRun.h"

#include <kvflash-core/kvflash.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <future>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
constexpr int kOpenRepetitions = 15;
constexpr int kOpensPerRepetition = 20;
constexpr int kRestarts = 5;

uint64_t onlyTokenSerial()
{
    uint64_t* serials = nullptr;
    uint32_t count = 0;
    if (kvflash_create_token_list(&serials, &count) != KVFLASH_OK || count != 1)
        throw std::runtime_error("the flash library does not see exactly one token");
    const uint64_t serial = serials[0];
    kvflash_destroy_token_list(&serials);
    return serial;
}

// kvflash_create_token, kvflash_create_section_list and their destroy calls;
// false when a call fails.
bool openAndListSections(uint64_t serial)
{
    kvflash_TokenImpl_* token = nullptr;
    if (kvflash_create_token(serial, &token) != KVFLASH_OK)
        return false;
    kvflash_Section* sections = nullptr;
    uint32_t count = 0;
    const bool listed = kvflash_create_section_list(token, &sections, &count) == KVFLASH_OK;
    if (listed)
        kvflash_destroy_section_list(&sections);
    kvflash_destroy_token(&token);
    return listed;
}

// The commands the token received while the library opened it and listed its sections.
const std::vector<Bytes>& libraryCommands(uint64_t serial)
{
    static const std::vector<Bytes> commands = [serial] {
        const size_t before = pluggedToken().stderrText().size();
        if (!openAndListSections(serial))
            throw std::runtime_error("the flash library cannot open the token");
        std::vector<Bytes> bytes;
        for (const auto& command : commandsReceived(pluggedToken().stderrText().substr(before)))
            bytes.push_back(hexBytes(command));
        return bytes;
    }();
    return commands;
}

void libraryOpen(benchmark::State& state)
{
    const uint64_t serial = onlyTokenSerial();
    libraryCommands(serial);
    for (auto _ : state) {
        if (!openAndListSections(serial)) {
            state.SkipWithError("the flash library failed");
            break;
        }
    }
    state.counters[benchNames::commandsCounter] = static_cast<double>(libraryCommands(serial).size());
}

// A connection of its own and the library's commands, nothing else.
void bareOpen(benchmark::State& state)
{
    const std::vector<Bytes>& commands = libraryCommands(onlyTokenSerial());
    const std::string reader = pluggedToken().readerName();
    BYTE answer[258];
    for (auto _ : state) {
        bare_card card;
        if (bare_connect(&card, reader.c_str()) != SCARD_S_SUCCESS) {
            state.SkipWithError("cannot connect to the virtual token");
            break;
        }
        for (const Bytes& command : commands) {
            DWORD length = sizeof answer;
            bare_transmit(&card, command.data(), static_cast<DWORD>(command.size()), answer, &length);
        }
        bare_disconnect(&card);
    }
    state.counters[benchNames::commandsCounter] = static_cast<double>(commands.size());
}

// Follows the reader as any PC/SC program can: the moment the card is there
// again after it was gone; none when that was not seen within 30 s.
std::optional<Clock::time_point> cardBackAt(const std::string& reader, std::promise<void>& watching)
{
    SCARDCONTEXT context = 0;
    SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    SCardGetStatusChange(context, 0, &state, 1);
    watching.set_value();
    bool gone = false;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
        state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
        if (SCardGetStatusChange(context, 1000, &state, 1) != SCARD_S_SUCCESS)
            continue;
        gone = gone || (state.dwEventState & SCARD_STATE_EMPTY);
        if (gone && (state.dwEventState & SCARD_STATE_PRESENT)) {
            const auto back = Clock::now();
            SCardReleaseContext(context);
            return back;
        }
    }
    SCardReleaseContext(context);
    return std::nullopt;
}

// A permanent switch restarts the token; the time from the token being back
// in its reader to the first command that succeeds on the same handle.
void restartToFirstCommand(benchmark::State& state)
{
    kvflash_TokenImpl_* token = nullptr;
    if (kvflash_create_token(onlyTokenSerial(), &token) != KVFLASH_OK) {
        state.SkipWithError("the flash library cannot open the token");
        return;
    }
    for (auto _ : state) {
        std::promise<void> watching;
        auto back = std::async(std::launch::async, cardBackAt, pluggedToken().readerName(), std::ref(watching));
        watching.get_future().wait();
        const bool restarted =
            kvflash_change_section_access_rights(token, 1, KVFLASH_ACCESS_READ_WRITE, true) == KVFLASH_OK;
        kvflash_Section* sections = nullptr;
        uint32_t count = 0;
        const bool listed = restarted && kvflash_create_section_list(token, &sections, &count) == KVFLASH_OK;
        const auto firstCommandDone = Clock::now();
        if (!listed) {
            state.SkipWithError("the handle did not work after the restart");
            break;
        }
        kvflash_destroy_section_list(&sections);
        const std::optional<Clock::time_point> backAt = back.get();
        if (!backAt) {
            state.SkipWithError("pcscd did not show the token leaving and coming back");
            break;
        }
        const std::chrono::duration<double> latency = firstCommandDone - *backAt;
        state.SetIterationTime(latency.count());
    }
    kvflash_destroy_token(&token);
}

}  // namespace

BENCHMARK(libraryOpen)->Name(benchNames::libraryOpenTool)->Iterations(kOpensPerRepetition)->Repetitions(kOpenRepetitions);
BENCHMARK(bareOpen)->Name(benchNames::libraryOpenBare)->Iterations(kOpensPerRepetition)->Repetitions(kOpenRepetitions);
BENCHMARK(restartToFirstCommand)->Name(benchNames::restartToFirstCommand)->UseManualTime()->Iterations(1)->Repetitions(kRestarts);
