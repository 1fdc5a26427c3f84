#pragma once

#include "logging/logger.h"
#include "pcscWrapper/token.h"

#include <functional>

extern const char* const toolVersion;

// The run's verdict: set when the suite starts, cleared by any fault.
extern bool allChecksPassed;
// Clears allChecksPassed; handed to the journal reader.
extern const std::function<void()> markFailed;

// Runs every check against the token, in order, writing the report through logger.
void performDiagnostics(Token& token, logging::Logger& logger);
