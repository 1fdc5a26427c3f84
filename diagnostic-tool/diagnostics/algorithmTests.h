#pragma once

#include "logging/checkResult.h"
#include "logging/logger.h"
#include "pcscWrapper/token.h"

// The token's self-tests of its cryptographic algorithms; the newest three
// only on Kelvane Mirel 3.0.
void algorithmSelfTests(Token& token, logging::Logger& logger, TokenModel model, const MarkFailed& markFailed);
