// Tag-length-value parsing of the token's structured answers. Tags are
// always one byte. Elements are views into the parsed buffer, which must
// outlive them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kvfl {

enum class TlvMode {
    // length byte FF announces a 2-byte big-endian length
    Simple = 0,
    // BER lengths: 81..84 announce 1..4 length bytes, which must be minimal
    Ber = 1,
};

struct TlvElement {
    uint8_t tag;
    std::span<const uint8_t> value;
};

using TlvElements = std::vector<TlvElement>;

// Throws kvfl::Exception (status 1, TLV parsing detail) on malformed input;
// never returns a partial result.
TlvElements parseTlv(std::span<const uint8_t> buffer, TlvMode mode);

// The first element with this tag, or null.
const TlvElement* findTlv(const TlvElements& elements, uint8_t tag);

}  // namespace kvfl
