#pragma once

#include <cstdint>
#include <span>
#include <vector>

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// Up to eight bytes read as one number, most significant first: how the token
// sends serials, counters, checksums and file identifiers.
uint64_t bigEndian(ByteView bytes);
// Up to eight bytes read as one number, least significant first: how the
// security journal keeps status words and clocks.
uint64_t littleEndian(ByteView bytes);
