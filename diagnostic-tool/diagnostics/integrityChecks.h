#pragma once

#include "logging/checkResult.h"
#include "logging/logger.h"
#include "pcscWrapper/token.h"

#include <cstdint>

// Asks the token for the checksum of its firmware; a refusal is fatal.
void osIntegrityCheck(Token& token, logging::Logger& logger, const MarkFailed& markFailed);

// The key-information group: system keys, global PINs and the RSF folders,
// graded as a whole. firmwareBuild is identity byte 7.
void keyInformationCheck(Token& token, logging::Logger& logger, TokenModel model, uint8_t firmwareBuild,
                         const MarkFailed& markFailed);
