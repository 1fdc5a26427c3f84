#pragma once

#include "logging/logger.h"
#include "pcscWrapper/token.h"

#include <cstdint>
#include <functional>

extern const char* const toolVersion;

// The run's verdict: set when the suite starts, cleared by any fault.
extern bool allChecksPassed;
// Clears allChecksPassed; handed to the journal reader.
extern const std::function<void()> markFailed;

// Runs every check against the token, in order, writing the report through logger.
void performDiagnostics(Token& token, logging::Logger& logger);

// The whole report on the token with this serial: header, every check, verdict.
void writeReport(Token& token, uint64_t serial, logging::Logger& logger);
