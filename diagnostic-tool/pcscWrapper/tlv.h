#pragma once

#include "utils/bytes.h"

#include <cstdint>
#include <vector>

// The file control parameters template in the answer to SELECT or GET DATA.
constexpr uint8_t kFcpTemplateTag = 0x62;

struct Tlv {
    uint8_t tag;
    ByteView value;
};

// How the length after a one-byte tag is written.
enum class TlvLengths {
    OneByte,  // one byte, 0 to 255
    Ber,      // below 0x80 the length itself; 0x80 + n: n big-endian length bytes follow (0x80 alone is 0)
};

// The objects of a one-byte-tag TLV sequence, in order. Reading stops at an
// object whose length bytes or value run past the end: complete is then false and
// objects holds only those before it.
struct TlvSequence {
    std::vector<Tlv> objects;
    bool complete = true;
};

TlvSequence parseTlv(ByteView data, TlvLengths lengths);

// Value of the first element with the given one-byte tag in a flat
// tag/length/value sequence with one-byte lengths. Throws
// std::logic_error("Tag was not found in buffer") when no element before the
// first one that runs past the buffer has the tag.
ByteView findTag(ByteView buffer, uint8_t tag);
