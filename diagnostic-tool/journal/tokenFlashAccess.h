#pragma once

#include "pcscWrapper/token.h"

#include <kvflash-core/kvflash.h>

#include <cstdint>
#include <filesystem>

// What the flash journal reader needs of a flash-equipped token: its journal
// events section, the switch of that section's access rights, and the
// mounted volume where the section shows once it is readable.
class TokenFlashAccess {
public:
    virtual ~TokenFlashAccess() = default;

    // Throws when the token has no journal events section or cannot list its sections.
    virtual kvflash_Section getJournalSection(Token& token) = 0;
    // Throws when the token refuses the switch.
    virtual void changeAccessSectionRights(Token& token, const kvflash_Section& section,
                                           kvflash_SectionAccessState state, bool permanent) = 0;
    // The section's mount point; throws std::runtime_error while it is not mounted.
    virtual std::filesystem::path path(const Token& token, uint8_t sectionId) = 0;
};
