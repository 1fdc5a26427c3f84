#include "journal/makeJournalReader.h"

#include "journal/flashJournalReader.h"
#include "journal/mirelJournalReader.h"
#include "journal/tokenFlashAccess.h"

std::unique_ptr<IJournalReader> makeJournalReader(Token& token)
{
    if (token.isFlashSupported())
        return std::make_unique<FlashJournalReader>(std::make_unique<MountedSectionAccess>());
    if (token.isSupported())
        return std::make_unique<MirelJournalReader>();
    return nullptr;
}
