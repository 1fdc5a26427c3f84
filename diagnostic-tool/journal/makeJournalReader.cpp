#include "journal/makeJournalReader.h"

#include "journal/mirelJournalReader.h"

std::unique_ptr<IJournalReader> makeJournalReader(Token& token)
{
    // Flash-equipped tokens (isFlashSupported) will read the journal from their flash section here.
    if (token.isSupported())
        return std::make_unique<MirelJournalReader>();
    return nullptr;
}
