// The flash library's locator of an ATR's historical bytes and its test for
// the known token models.
#include "scardImpl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    kvfl::isKnownToken(kvfl::historicalBytes(std::span<const uint8_t>(bytes, size)));
    return 0;
}
