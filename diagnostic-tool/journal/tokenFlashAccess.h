#pragma once

#include "kvflashWrapper/linuxDeviceTree.h"
#include "pcscWrapper/token.h"

#include <kvflash-core/kvflash.h>

#include <cstdint>
#include <filesystem>
#include <utility>

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

// The token's own section list and switch, and the host's mount table.
class MountedSectionAccess : public TokenFlashAccess {
public:
    explicit MountedSectionAccess(DeviceTree tree = {}) : tree_(std::move(tree)) {}

    kvflash_Section getJournalSection(Token& token) override;
    void changeAccessSectionRights(Token& token, const kvflash_Section& section, kvflash_SectionAccessState state,
                                   bool permanent) override;
    std::filesystem::path path(const Token& token, uint8_t sectionId) override;

private:
    DeviceTree tree_;
};
