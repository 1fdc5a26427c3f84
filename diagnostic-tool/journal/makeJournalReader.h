#pragma once

#include "journal/journalReader.h"
#include "pcscWrapper/token.h"

#include <memory>

// The reader for the token's kind of journal, or none when it keeps no journal.
std::unique_ptr<IJournalReader> makeJournalReader(Token& token);
