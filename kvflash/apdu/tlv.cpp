#include "apdu/tlv.h"

#include "bytes.h"
#include "exception.h"

#include <algorithm>

namespace kvfl {
namespace {

[[noreturn]] void tlvError(const char* message) {
    fail(KVFLASH_INTERNAL_ERROR, ErrorInfoKind::TlvParsing, std::string(message));
}

struct Header {
    std::size_t size;    // tag and length bytes
    std::size_t length;  // value bytes
};

constexpr const char* INVALID_LENGTH = "invalid length encoding in TLV";

Header simpleHeader(std::span<const uint8_t> rest) {
    if (rest[1] != 0xFF) return {2, rest[1]};
    if (rest.size() < 4) tlvError(INVALID_LENGTH);
    return {4, static_cast<std::size_t>(readBigEndian(rest.subspan(2, 2)))};
}

Header berHeader(std::span<const uint8_t> rest) {
    const uint8_t first = rest[1];
    if (first == 0x80) tlvError(INVALID_LENGTH);
    if (first < 0x81 || first > 0x84) return {2, first};
    const std::size_t lengthBytes = first - 0x80u;
    if (rest.size() < lengthBytes + 2) tlvError(INVALID_LENGTH);
    const uint64_t length = readBigEndian(rest.subspan(2, lengthBytes));
    // a length below 80 fits the short form, so the long form is not minimal
    if (length < 0x80) tlvError(INVALID_LENGTH);
    return {lengthBytes + 2, static_cast<std::size_t>(length)};
}

}  // namespace

TlvElements parseTlv(std::span<const uint8_t> buffer, TlvMode mode) {
    TlvElements elements;
    while (!buffer.empty()) {
        if (buffer.size() < 2) tlvError("missing Tag or/and Length field");
        const Header header = mode == TlvMode::Simple ? simpleHeader(buffer) : berHeader(buffer);
        if (buffer.size() - header.size < header.length) tlvError("buffer contains incomplete structure value");
        elements.push_back({buffer[0], buffer.subspan(header.size, header.length)});
        buffer = buffer.subspan(header.size + header.length);
    }
    return elements;
}

const TlvElement* findTlv(const TlvElements& elements, uint8_t tag) {
    auto found = std::ranges::find(elements, tag, &TlvElement::tag);
    return found == elements.end() ? nullptr : &*found;
}

}  // namespace kvfl
