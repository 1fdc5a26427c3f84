#pragma once

#include "logging/checkResult.h"
#include "logging/logger.h"
#include "pcscWrapper/token.h"

#include <cstdint>

extern const char* const toolVersion;

// Runs every check against the token, in order, writing the report through
// logger; every check and the journal reader call markFailed for a fault.
void performDiagnostics(Token& token, logging::Logger& logger, const MarkFailed& markFailed);

// The whole report on the token with this serial: header, every check, verdict.
void writeReport(Token& token, uint64_t serial, logging::Logger& logger);
