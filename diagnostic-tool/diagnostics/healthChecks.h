#pragma once

#include "logging/checkResult.h"
#include "logging/logger.h"
#include "pcscWrapper/token.h"

// Counters of failed operations; when the token cannot give them, its emergency event.
void errorJournalCheck(Token& token, logging::Logger& logger, const MarkFailed& markFailed);
// Rewrite counts and reliability of the token's memory sectors.
void memorySectorsCheck(Token& token, logging::Logger& logger, const MarkFailed& markFailed);
// A challenge from the token shows that its random-number generator works.
void randomGeneratorCheck(Token& token, logging::Logger& logger, const MarkFailed& markFailed);
