#pragma once

#include "pcscWrapper/flashLibrary.h"

#include <cstdint>
#include <vector>

// A flash-token library that answers from its fields and counts what it was
// asked. By default it knows no token, as for a token without flash.
class FakeFlashLibrary : public FlashLibrary {
public:
    kvflash_StatusCode createStatus = KVFLASH_TOKEN_NOT_FOUND;
    kvflash_StatusCode supportedStatus = KVFLASH_OK;
    bool supported = true;
    kvflash_StatusCode listStatus = KVFLASH_OK;
    kvflash_StatusCode freeListStatus = KVFLASH_OK;
    kvflash_StatusCode changeStatus = KVFLASH_OK;
    std::vector<kvflash_Section> sections;

    std::vector<uint64_t> createdSerials;
    int destroyedTokens = 0;
    int listsMade = 0;
    int listsFreed = 0;
    struct Change {
        uint8_t sectionId;
        kvflash_SectionAccessState state;
        bool permanent;
    };
    std::vector<Change> changes;

    kvflash_StatusCode createToken(uint64_t serial, kvflash_TokenImpl_** token) override;
    kvflash_StatusCode destroyToken(kvflash_TokenImpl_** token) override;
    kvflash_StatusCode isTokenSupported(kvflash_TokenImpl_* token, bool* supported) override;
    kvflash_StatusCode createSectionList(kvflash_TokenImpl_* token, kvflash_Section** sections,
                                         uint32_t* count) override;
    kvflash_StatusCode destroySectionList(kvflash_Section** sections) override;
    kvflash_StatusCode changeSectionAccessRights(kvflash_TokenImpl_* token, uint8_t sectionId,
                                                 kvflash_SectionAccessState state, bool permanent) override;
};

// A section description with the fields the tool reads.
kvflash_Section flashSection(uint8_t id, kvflash_SectionType type);
