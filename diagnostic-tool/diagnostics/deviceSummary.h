#pragma once

#include "logging/checkResult.h"
#include "logging/logger.h"
#include "pcscWrapper/token.h"

// Model, serial, usage counters, firmware version and EEPROM occupancy.
void deviceSummary(Token& token, logging::Logger& logger, const MarkFailed& markFailed);
