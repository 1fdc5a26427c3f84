// The tool's TLV walks in both length forms and findTag over any bytes.
#include "pcscWrapper/tlv.h"

#include <cstdlib>
#include <stdexcept>

namespace {

// Every object lies inside the data, after the one before it.
void checkInside(ByteView data, const TlvSequence& sequence)
{
    const uint8_t* end = data.data() + data.size();
    const uint8_t* previousEnd = data.data();
    for (const Tlv& object : sequence.objects) {
        if (object.value.data() < previousEnd || object.value.data() + object.value.size() > end)
            std::abort();
        previousEnd = object.value.data() + object.value.size();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const ByteView data(bytes, size);
    checkInside(data, parseTlv(data, TlvLengths::OneByte));
    checkInside(data, parseTlv(data, TlvLengths::Ber));
    if (size == 0)
        return 0;
    try {
        const ByteView value = findTag(data.subspan(1), data[0]);
        if (value.data() < bytes || value.data() + value.size() > bytes + size)
            std::abort();
    } catch (const std::logic_error&) {
        // no element with that tag: the answer the callers expect for it
    }
    return 0;
}
