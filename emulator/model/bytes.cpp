#include "bytes.h"

#include <cctype>
#include <stdexcept>

namespace kvtoken {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    const int lower = std::tolower(static_cast<unsigned char>(c));
    if (lower >= 'a' && lower <= 'f')
        return lower - 'a' + 10;
    return -1;
}

}  // namespace

Bytes parseHex(std::string_view text)
{
    Bytes bytes;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        const int digit = hexDigit(c);
        if (digit < 0)
            throw std::invalid_argument("not a hex digit: '" + std::string(1, c) + "'");
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::invalid_argument("odd number of hex digits");
    return bytes;
}

std::string formatHex(const Bytes& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

void appendBigEndian(Bytes& out, uint64_t value, int byteCount)
{
    // Bytes above the value's eight are zeros (shifting by 64 or more is undefined).
    for (int shift = (byteCount - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(shift < 64 ? static_cast<uint8_t>(value >> shift) : uint8_t{0});
}

uint32_t crc32(const Bytes& bytes)
{
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
    }
    return ~crc;
}

}  // namespace kvtoken
