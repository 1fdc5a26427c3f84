#pragma once

#include "logging/logger.h"
#include "pcscWrapper/token.h"

// Model, serial, usage counters, firmware version and EEPROM occupancy.
void deviceSummary(Token& token, logging::Logger& logger);
