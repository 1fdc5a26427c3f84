#include "bytes.h"

namespace kvfl {

uint64_t readBigEndian(std::span<const uint8_t> bytes) {
    uint64_t value = 0;
    for (uint8_t byte : bytes) value = value << 8 | byte;
    return value;
}

void appendBigEndian(Bytes& out, uint64_t value, std::size_t width) {
    for (std::size_t i = width; i-- > 0;) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace kvfl
