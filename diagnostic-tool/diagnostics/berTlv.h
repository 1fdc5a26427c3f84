#pragma once

#include "pcscWrapper/apdu.h"

#include <cstdint>
#include <vector>

struct Tlv {
    uint8_t tag;
    ByteView value;
};

// The objects of a one-byte-tag BER-TLV sequence, in order. Reading stops at an
// object whose length bytes or value run past the end: complete is then false and
// objects holds only those before it.
struct TlvSequence {
    std::vector<Tlv> objects;
    bool complete = true;
};

TlvSequence parseBerTlv(ByteView data);
