#include "pcscWrapper/flashLibrary.h"

namespace {

class LinkedFlashLibrary : public FlashLibrary {
public:
    kvflash_StatusCode createToken(uint64_t serial, kvflash_TokenImpl_** token) override
    {
        return kvflash_create_token(serial, token);
    }
    kvflash_StatusCode destroyToken(kvflash_TokenImpl_** token) override { return kvflash_destroy_token(token); }
    kvflash_StatusCode isTokenSupported(kvflash_TokenImpl_* token, bool* supported) override
    {
        return kvflash_is_token_supported(token, supported);
    }
    kvflash_StatusCode createSectionList(kvflash_TokenImpl_* token, kvflash_Section** sections,
                                         uint32_t* count) override
    {
        return kvflash_create_section_list(token, sections, count);
    }
    kvflash_StatusCode destroySectionList(kvflash_Section** sections) override
    {
        return kvflash_destroy_section_list(sections);
    }
    kvflash_StatusCode changeSectionAccessRights(kvflash_TokenImpl_* token, uint8_t sectionId,
                                                 kvflash_SectionAccessState state, bool permanent) override
    {
        return kvflash_change_section_access_rights(token, sectionId, state, permanent);
    }
};

}  // namespace

FlashLibrary& systemFlashLibrary()
{
    static LinkedFlashLibrary library;
    return library;
}
