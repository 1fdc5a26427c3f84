#include "logging/checkResult.h"

#include "utils/hexText.h"

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
    for (uint8_t byte : bytes)
        line << lowerHex(byte, 2) << ':';
}
