#pragma once

#include "logging/checkResult.h"
#include "logging/logger.h"
#include "pcscWrapper/token.h"

// Reads, decodes, saves and hashes the token's security journal.
class IJournalReader {
public:
    virtual ~IJournalReader() = default;
    virtual void readJournal(const MarkFailed& markFailed, Token& token, logging::Logger& logger) = 0;
};
