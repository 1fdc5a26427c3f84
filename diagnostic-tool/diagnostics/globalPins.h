#pragma once

#include "logging/checkResult.h"
#include "logging/logger.h"
#include "pcscWrapper/token.h"

// The administrator's and the user's global PINs: their file attributes and the
// integrity of each; a fault stores Fatal in kiSeverity, an attribute it
// cannot read fails the run.
void globalPinsCheck(Token& token, logging::Logger& logger, CheckResult& kiSeverity, const MarkFailed& markFailed);
