#include "fakeFlashLibrary.h"

#include <algorithm>

namespace {

// The handle the fake hands out; only its address matters.
kvflash_TokenImpl_* fakeHandle()
{
    static char handle;
    return reinterpret_cast<kvflash_TokenImpl_*>(&handle);
}

}  // namespace

kvflash_StatusCode FakeFlashLibrary::createToken(uint64_t serial, kvflash_TokenImpl_** token)
{
    createdSerials.push_back(serial);
    if (createStatus == KVFLASH_OK)
        *token = fakeHandle();
    return createStatus;
}

kvflash_StatusCode FakeFlashLibrary::destroyToken(kvflash_TokenImpl_** token)
{
    if (*token == fakeHandle())
        ++destroyedTokens;
    *token = nullptr;
    return KVFLASH_OK;
}

kvflash_StatusCode FakeFlashLibrary::isTokenSupported(kvflash_TokenImpl_*, bool* answer)
{
    if (supportedStatus == KVFLASH_OK)
        *answer = supported;
    return supportedStatus;
}

kvflash_StatusCode FakeFlashLibrary::createSectionList(kvflash_TokenImpl_*, kvflash_Section** list, uint32_t* count)
{
    if (listStatus != KVFLASH_OK)
        return listStatus;
    ++listsMade;
    *list = new kvflash_Section[sections.size() + 1];
    std::copy(sections.begin(), sections.end(), *list);
    *count = static_cast<uint32_t>(sections.size());
    return KVFLASH_OK;
}

kvflash_StatusCode FakeFlashLibrary::destroySectionList(kvflash_Section** list)
{
    ++listsFreed;
    delete[] *list;
    *list = nullptr;
    return freeListStatus;
}

kvflash_StatusCode FakeFlashLibrary::changeSectionAccessRights(kvflash_TokenImpl_*, uint8_t sectionId,
                                                               kvflash_SectionAccessState state, bool permanent)
{
    changes.push_back({sectionId, state, permanent});
    return changeStatus;
}

kvflash_Section flashSection(uint8_t id, kvflash_SectionType type)
{
    kvflash_Section section{};
    section.id = id;
    section.type = type;
    return section;
}
