#include "journal/tokenFlashAccess.h"

#include "kvflashWrapper/pathToSection.h"

kvflash_Section MountedSectionAccess::getJournalSection(Token& token) { return token.getJournalSection(); }

void MountedSectionAccess::changeAccessSectionRights(Token& token, const kvflash_Section& section,
                                                     kvflash_SectionAccessState state, bool permanent)
{
    token.changeAccessSectionRights(section, state, permanent);
}

std::filesystem::path MountedSectionAccess::path(const Token& token, uint8_t sectionId)
{
    return ::path(token, sectionId, tree_);
}
