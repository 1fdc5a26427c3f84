#include "diagnostics/berTlv.h"

#include <optional>

namespace {

// Reads a BER length at pos and moves pos past it. Short form below 0x80;
// 0x80 + n is followed by n big-endian length bytes (0x80 alone is 0).
// None when the length bytes are missing or the length exceeds what is left.
std::optional<size_t> readLength(ByteView data, size_t& pos)
{
    if (pos >= data.size())
        return std::nullopt;
    const uint8_t first = data[pos++];
    if (first < 0x80)
        return first;
    size_t length = 0;
    for (size_t count = first & 0x7F; count > 0; --count) {
        if (pos >= data.size())
            return std::nullopt;
        length = length * 256 + data[pos++];
        if (length > data.size())  // also keeps the sum from overflowing
            return std::nullopt;
    }
    return length;
}

}  // namespace

TlvSequence parseBerTlv(ByteView data)
{
    TlvSequence sequence;
    size_t pos = 0;
    while (pos < data.size()) {
        const uint8_t tag = data[pos++];
        const std::optional<size_t> length = readLength(data, pos);
        if (!length || *length > data.size() - pos) {
            sequence.complete = false;
            break;
        }
        sequence.objects.push_back({tag, data.subspan(pos, *length)});
        pos += *length;
    }
    return sequence;
}
