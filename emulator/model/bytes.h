#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvtoken {

using Bytes = std::vector<uint8_t>;

// Hex text as profiles and traces write it: pairs of digits, blanks allowed
// anywhere between them. Throws std::invalid_argument on anything else.
Bytes parseHex(std::string_view text);

// Upper-case pairs separated by single blanks: "00 CA 01 81 08".
std::string formatHex(const Bytes& bytes);

void appendBigEndian(Bytes& out, uint64_t value, int byteCount);

// The token's object checksum (CRC-32, reflected polynomial 0xEDB88320).
uint32_t crc32(const Bytes& bytes);

}  // namespace kvtoken
