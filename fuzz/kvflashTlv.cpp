// The flash library's TLV parser in both length modes: a whole result or
// the library's exception, never a partial one or a read past the buffer.
#include "apdu/tlv.h"
#include "exception.h"

#include <cstdlib>

namespace {

void parseInside(std::span<const uint8_t> data, kvfl::TlvMode mode)
{
    try {
        for (const kvfl::TlvElement& element : kvfl::parseTlv(data, mode))
            if (element.value.data() < data.data() ||
                element.value.data() + element.value.size() > data.data() + data.size())
                std::abort();
    } catch (const kvfl::Exception&) {
        // malformed: the status the C frame hands back
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const std::span<const uint8_t> data(bytes, size);
    parseInside(data, kvfl::TlvMode::Simple);
    parseInside(data, kvfl::TlvMode::Ber);
    return 0;
}
