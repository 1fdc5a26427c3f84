#include "logging/checkResult.h"

#include "utils/hexText.h"

std::string_view resultText(CheckResult result)
{
    switch (result) {
    case CheckResult::Success: return "-> Успешно";
    case CheckResult::Critical: return "[critical] -> !ОШИБКА";
    case CheckResult::Fatal: return "[fatal] -> !ОШИБКА";
    default: return "-> !ОШИБКА";
    }
}

void writeHexBytes(logging::LogLine& line, std::span<const uint8_t> bytes)
{
    for (uint8_t byte : bytes)
        line << lowerHex(byte, 2) << ':';
}
