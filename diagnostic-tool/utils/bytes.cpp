#include "utils/bytes.h"

uint64_t bigEndian(ByteView bytes)
{
    uint64_t value = 0;
    for (uint8_t byte : bytes)
        value = value << 8 | byte;
    return value;
}

uint64_t littleEndian(ByteView bytes)
{
    uint64_t value = 0;
    for (auto byte = bytes.rbegin(); byte != bytes.rend(); ++byte)
        value = value << 8 | *byte;
    return value;
}
