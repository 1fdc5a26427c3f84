#pragma once

#include <kvflash-core/kvflash.h>

#include <cstdint>

// Every call of the tool into the flash-token library goes through this seam,
// so unit tests can stand in for the library without pcscd or a flash token.
class FlashLibrary {
public:
    virtual ~FlashLibrary() = default;

    virtual kvflash_StatusCode createToken(uint64_t serial, kvflash_TokenImpl_** token) = 0;
    virtual kvflash_StatusCode destroyToken(kvflash_TokenImpl_** token) = 0;
    virtual kvflash_StatusCode isTokenSupported(kvflash_TokenImpl_* token, bool* supported) = 0;
    virtual kvflash_StatusCode createSectionList(kvflash_TokenImpl_* token, kvflash_Section** sections,
                                                 uint32_t* count) = 0;
    virtual kvflash_StatusCode destroySectionList(kvflash_Section** sections) = 0;
    virtual kvflash_StatusCode changeSectionAccessRights(kvflash_TokenImpl_* token, uint8_t sectionId,
                                                         kvflash_SectionAccessState state, bool permanent) = 0;
};

// The flash-token library linked into the program.
FlashLibrary& systemFlashLibrary();
