// The tool's locator of an ATR's historical bytes and its family test.
#include "pcscWrapper/tokenDiscovery.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const ByteView atr(bytes, size);
    if (const auto historical = historicalBytes(atr))
        if (historical->data() < bytes || historical->data() + historical->size() > bytes + size)
            std::abort();
    isFamilyAtr(atr);
    return 0;
}
