#pragma once

#include "logging/logger.h"
#include "pcscWrapper/token.h"

#include <functional>
#include <memory>

// Reads, decodes, saves and hashes the token's security journal.
class IJournalReader {
public:
    virtual ~IJournalReader() = default;
    virtual void readJournal(const std::function<void()>& markFailed, Token& token, logging::Logger& logger) = 0;
};

// The reader for the token's kind of journal, or none when it keeps no journal.
std::unique_ptr<IJournalReader> makeJournalReader(Token& token);
