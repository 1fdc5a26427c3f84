#pragma once

#include "logging/logger.h"

#include <cstdint>
#include <span>
#include <string_view>

// Outcome of one check; any value other than the four below reads as Error.
enum CheckResult : unsigned {
    Success = 0,
    Error = 1,
    Critical = 2,
    Fatal = 3,
};

std::string_view resultText(CheckResult result);

// Appends each byte as two lower-case hex digits followed by ':'.
void writeHexBytes(logging::LogLine& line, std::span<const uint8_t> bytes);
