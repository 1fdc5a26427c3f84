#include "pcscWrapper/tlv.h"

#include <optional>
#include <stdexcept>

namespace {

constexpr uint8_t kBerLongForm = 0x80;

// Reads the length at pos and moves pos past it. None when the length bytes
// are missing or the length exceeds what the data holds.
std::optional<size_t> readLength(ByteView data, size_t& pos, TlvLengths lengths)
{
    if (pos >= data.size())
        return std::nullopt;
    const uint8_t first = data[pos++];
    if (lengths == TlvLengths::OneByte || first < kBerLongForm)
        return first;
    size_t length = 0;
    for (size_t count = first & ~kBerLongForm; count > 0; --count) {
        if (pos >= data.size())
            return std::nullopt;
        length = length * 256 + data[pos++];
        // Checked at every byte: nine or more length bytes would otherwise
        // wrap the sum round to a small, plausible length.
        if (length > data.size())
            return std::nullopt;
    }
    return length;
}

}  // namespace

TlvSequence parseTlv(ByteView data, TlvLengths lengths)
{
    TlvSequence sequence;
    size_t pos = 0;
    while (pos < data.size()) {
        const uint8_t tag = data[pos++];
        const std::optional<size_t> length = readLength(data, pos, lengths);
        if (!length || *length > data.size() - pos) {
            sequence.complete = false;
            break;
        }
        sequence.objects.push_back({tag, data.subspan(pos, *length)});
        pos += *length;
    }
    return sequence;
}

ByteView findTag(ByteView buffer, uint8_t tag)
{
    for (const Tlv& element : parseTlv(buffer, TlvLengths::OneByte).objects)
        if (element.tag == tag)
            return element.value;
    throw std::logic_error("Tag was not found in buffer");
}
