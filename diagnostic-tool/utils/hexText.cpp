#include "utils/hexText.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::string_view kLowerDigits = "0123456789abcdef";
constexpr std::string_view kUpperDigits = "0123456789ABCDEF";

std::string hexText(uint64_t value, int digits, std::string_view alphabet)
{
    std::string text;
    do {
        text.push_back(alphabet[value & 0x0F]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(text.size()) < digits)
        text.append(static_cast<size_t>(digits) - text.size(), '0');
    std::reverse(text.begin(), text.end());
    return text;
}

}  // namespace

std::string lowerHex(uint64_t value, int digits)
{
    return hexText(value, digits, kLowerDigits);
}

std::string upperHex(uint64_t value, int digits)
{
    return hexText(value, digits, kUpperDigits);
}

std::string hexDigits(ByteView bytes)
{
    std::string text;
    appendHexDigits(text, bytes);
    return text;
}

void appendHexDigits(std::string& text, ByteView bytes)
{
    const size_t start = text.size();
    text.resize(start + bytes.size() * 2);
    char* digit = text.data() + start;
    for (uint8_t byte : bytes) {
        *digit++ = kLowerDigits[byte >> 4];
        *digit++ = kLowerDigits[byte & 0x0F];
    }
}

std::string errorCodeText(int32_t code)
{
    return std::to_string(code) + "(0x" + lowerHex(static_cast<uint32_t>(code), 8) + ")";
}
