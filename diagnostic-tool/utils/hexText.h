#pragma once

#include "utils/bytes.h"

#include <cstdint>
#include <string>

// The value in hexadecimal, zero-filled to at least `digits` digits:
// lowerHex(0x6a82, 8) is "00006a82", upperHex(0x6a82, 4) is "6A82".
std::string lowerHex(uint64_t value, int digits);
std::string upperHex(uint64_t value, int digits);

// An error code as the tool's error messages show it: signed decimal, then
// eight lower-case hex digits, "100013(0x000186ad)".
std::string errorCodeText(int32_t code);

// Each byte as two lower-case hex digits, without separators: "0a1b2c3d".
std::string hexDigits(ByteView bytes);
// The same digits appended to a text, for writers that build long texts in one buffer.
void appendHexDigits(std::string& text, ByteView bytes);
