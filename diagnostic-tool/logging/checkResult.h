#pragma once

#include "logging/logger.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

// Outcome of one check; any value other than the four below reads as Error.
enum class CheckResult : unsigned {
    Success = 0,
    Error = 1,
    Critical = 2,
    Fatal = 3,
};

std::string_view resultText(CheckResult result);

// Clears the run's verdict: the run hands it to every check and to the
// journal reader, which call it for each fault they find.
using MarkFailed = std::function<void()>;

// Appends each byte as two lower-case hex digits followed by ':'.
void writeHexBytes(logging::LogLine& line, std::span<const uint8_t> bytes);
