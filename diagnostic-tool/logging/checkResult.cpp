#include "logging/checkResult.h"

#include <array>

std::string_view resultText(CheckResult result)
{
    switch (result) {
    case Success: return "-> Успешно";
    case Critical: return "[critical] -> !ОШИБКА";
    case Fatal: return "[fatal] -> !ОШИБКА";
    default: return "-> !ОШИБКА";
    }
}

void writeHexBytes(logging::LogLine& line, std::span<const uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    for (uint8_t byte : bytes) {
        const std::array<char, 4> text{digits[byte >> 4], digits[byte & 0x0F], ':', '\0'};
        line << text.data();
    }
}
