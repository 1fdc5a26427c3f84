// One command through the tool's card connection beside the same bytes
// through a bare SCardTransmit, against the same virtual token.
#include "bareCard.h"
#include "benchNames.h"
#include "benchToken.h"

#include "pcscWrapper/scard.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kCommandsPerRepetition = 300;
constexpr int kRepetitions = 15;

void toolCommand(benchmark::State& state)
{
    Scard card(pluggedToken().readerName());
    const GetSerialApdu serial;
    for (auto _ : state) {
        const ApduResponse answer = card.sendApdu(serial);
        if (answer.sw != kSwSuccess) {
            state.SkipWithError("GET DATA serial did not answer 9000");
            break;
        }
    }
}

void bareCommand(benchmark::State& state)
{
    bare_card card;
    if (bare_connect(&card, pluggedToken().readerName().c_str()) != SCARD_S_SUCCESS) {
        state.SkipWithError("cannot connect to the virtual token");
        return;
    }
    const Bytes command = GetSerialApdu().encode();
    BYTE answer[258];
    for (auto _ : state) {
        DWORD length = sizeof answer;
        if (bare_transmit(&card, command.data(), command.size(), answer, &length) != SCARD_S_SUCCESS) {
            state.SkipWithError("SCardTransmit failed");
            break;
        }
    }
    bare_disconnect(&card);
}

}  // namespace

BENCHMARK(toolCommand)->Name(benchNames::oneCommandTool)->Iterations(kCommandsPerRepetition)->Repetitions(kRepetitions);
BENCHMARK(bareCommand)->Name(benchNames::oneCommandBare)->Iterations(kCommandsPerRepetition)->Repetitions(kRepetitions);
