// The exported functions for tokens and sections.
#include "cArguments.h"
#include "callGuarded.h"
#include "exception.h"
#include "scardImpl.h"
#include "section.h"
#include "sectionConversion.h"
#include "tokenHandle.h"
#include "tokenImpl.h"

#include <kvflash-core/kvflash.h>

#include <memory>
#include <vector>

using namespace kvfl;

namespace {

std::shared_ptr<ScardEnumerator> freshEnumerator()
{
    return std::make_shared<ScardEnumeratorImpl>();
}

// Opens tokens in the process's kept context.
std::shared_ptr<ScardEnumerator> openingEnumerator()
{
    static const auto kept = std::make_shared<KeptContext>();
    return std::make_shared<ScardEnumeratorImpl>(systemPcsc(), kept);
}

// Where the tokens of this process were last found.
TokenReaders& tokenReaders()
{
    static TokenReaders readers;
    return readers;
}

SecretTypeLookup secretTypesOf(Token& token)
{
    return [&token](uint16_t id) { return token.getLocalSecretType(id); };
}

}  // namespace

extern "C" {

kvflash_StatusCode kvflash_create_token_list(uint64_t** serials, uint32_t* count)
{
    if (anyNull(serials, count))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        const auto tokens = enumerateTokens(*freshEnumerator(), tokenReaders());
        auto list = std::make_unique<uint64_t[]>(tokens.size());
        uint64_t* next = list.get();
        for (const auto& [serial, card] : tokens)
            *next++ = serial;
        *count = static_cast<uint32_t>(tokens.size());
        *serials = list.release();
    });
}

kvflash_StatusCode kvflash_destroy_token_list(uint64_t** serials)
{
    if (anyNull(serials))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        delete[] *serials;
        *serials = nullptr;
    });
}

kvflash_StatusCode kvflash_create_token(uint64_t serial, kvflash_TokenImpl_** token)
{
    if (anyNull(token))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        // Braces, not make_unique: clang 14 cannot build an aggregate from parentheses.
        std::unique_ptr<kvflash_TokenImpl_> handle(
            new kvflash_TokenImpl_{openToken(serial, *openingEnumerator(), tokenReaders())});
        *token = handle.release();
    });
}

kvflash_StatusCode kvflash_destroy_token(kvflash_TokenImpl_** token)
{
    if (anyNull(token))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        delete *token;
        *token = nullptr;
    });
}

kvflash_StatusCode kvflash_is_token_supported(kvflash_TokenImpl_* token, bool* supported)
{
    if (anyNull(token, supported))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        const bool result = token->token->isTokenSupported();
        *supported = result;
    });
}

kvflash_StatusCode kvflash_create_section_list(kvflash_TokenImpl_* token, kvflash_Section** sections, uint32_t* count)
{
    if (anyNull(token, sections, count))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        const Sections current = token->token->getSections();
        auto list = std::make_unique<kvflash_Section[]>(current.size());
        kvflash_Section* next = list.get();
        for (const auto& [id, section] : current)
            *next++ = toCSection(id, section, secretTypesOf(*token->token));
        *count = static_cast<uint32_t>(current.size());
        *sections = list.release();
    });
}

kvflash_StatusCode kvflash_destroy_section_list(kvflash_Section** sections)
{
    if (anyNull(sections) || anyNull(*sections))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        delete[] *sections;
        *sections = nullptr;
    });
}

kvflash_StatusCode kvflash_get_available_flash_size(kvflash_TokenImpl_* token, uint32_t* size)
{
    if (anyNull(token, size))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        const uint32_t available = token->token->getAvailableFlashSize();
        *size = available;
    });
}

kvflash_StatusCode kvflash_split_into_sections(kvflash_TokenImpl_* token, const kvflash_Section* sections,
                                               uint32_t count)
{
    if (anyNull(token, sections))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        // The caller's array is read only as far as a split can reach.
        if (count > maxSectionCount)
            fail(KVFLASH_INVALID_SECTION_COUNT, ErrorInfoKind::MaxSectionCount, int64_t{maxSectionCount});
        std::vector<Section> requested;
        for (uint32_t i = 0; i < count; ++i)
            requested.push_back(fromCSection(sections[i], secretTypesOf(*token->token)));
        token->token->splitIntoSections(requested, freshEnumerator());
    });
}

kvflash_StatusCode kvflash_change_section_access_rights(kvflash_TokenImpl_* token, uint8_t sectionId,
                                                        kvflash_SectionAccessState state, bool permanent)
{
    if (anyNull(token))
        return KVFLASH_NULL_POINTER;
    return callGuarded([&] {
        // Only the low byte of the state reaches the device, and only a state it knows.
        const uint8_t accessState = accessStateFromC(cEnumValue(state) & 0xFFu);
        token->token->changeSectionAccessRights(sectionId, accessState, permanent, freshEnumerator());
    });
}

}  // extern "C"
