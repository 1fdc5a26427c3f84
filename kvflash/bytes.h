// Byte strings and the big-endian numbers the token uses in them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kvfl {

using Bytes = std::vector<uint8_t>;

// The bytes read as one unsigned big-endian number (at most 8 bytes).
uint64_t readBigEndian(std::span<const uint8_t> bytes);

// Appends the low `width` bytes of value, most significant first.
void appendBigEndian(Bytes& out, uint64_t value, std::size_t width);

}  // namespace kvfl
