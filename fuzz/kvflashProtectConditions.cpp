// The flash library's decoder of a device protect condition (conditions
// byte, secret byte) and its checks; a condition that passes both encodes
// without a fault.
#include "exception.h"
#include "kvflash-core/protectConditions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 2)
        return 0;
    try {
        const kvfl::ProtectConditions decoded = kvfl::decodeProtectConditions({bytes[0], bytes[1]});
        kvfl::validateProtectConditions(decoded);
        kvfl::encodeProtectConditions(decoded);
    } catch (const kvfl::Exception&) {
        // a condition the library refuses, with its status
    }
    return 0;
}
