#include "sectionConversion.h"
#include "thrown.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kvfl {
namespace {

using test::detail;
using test::thrownBy;

constexpr ProtectConditions forbidden = ProtectConditions::forbiddenOperation();

// Identifiers 3..9 are local PINs, 10..31 MVAs; the lookup counts its calls.
struct SecretTypes {
    int calls = 0;
    SecretTypeLookup lookup()
    {
        return [this](uint16_t id) {
            ++calls;
            checkLocalSecretId(id);
            return id < 10 ? LocalSecretType::LocalPin : LocalSecretType::Mva;
        };
    }
};

bool sameCondition(const kvflash_ProtectCondition& a, const kvflash_ProtectCondition& b)
{
    return a.secureType == b.secureType && a.secretId == b.secretId && a.reserved == b.reserved &&
           a.secretType == b.secretType;
}

TEST(SectionToC, CopiesTheSectionAndOneEntryPerRuledOperation)
{
    SecretTypes types;
    const Section section{768, Section::ReadWrite,
                          {{0x01, forbidden},
                           {0x02, {0x05, false, 7, true}},    // user PIN and local PIN 7
                           {0x08, {0x03, false, 0, false}},   // both global PINs
                           {0x10, {0x06, false, 12, true}},   // MVA 12
                           {0x20, {0x0A, false, 2, true}}},   // complex rule 2: no type to ask for
                          Section::JournalType};
    const kvflash_Section c = toCSection(4, section, types.lookup());
    EXPECT_EQ(c.id, 4);
    EXPECT_EQ(c.type, KVFLASH_SECTION_JOURNAL);
    EXPECT_EQ(c.size, 768u);
    EXPECT_EQ(c.accessState, KVFLASH_ACCESS_READ_WRITE);
    const kvflash_ProtectCondition expected[KVFLASH_SWITCH_OPERATION_COUNT] = {
        {KVFLASH_SECURE_FORBIDDEN, 0, 0, KVFLASH_SECRET_NONE},
        {KVFLASH_SECURE_GLOBAL_BIT0, 7, 0, KVFLASH_SECRET_LOCAL_PIN},
        {KVFLASH_SECURE_NONE, 0, 0, KVFLASH_SECRET_NONE},  // not ruled
        {KVFLASH_SECURE_GLOBAL_BOTH, 0, 0, KVFLASH_SECRET_NONE},
        {KVFLASH_SECURE_GLOBAL_BIT1, 12, 0, KVFLASH_SECRET_MVA},
        {KVFLASH_SECURE_GLOBAL_BIT1, 2, 0, KVFLASH_SECRET_NONE},
    };
    for (int i = 0; i < KVFLASH_SWITCH_OPERATION_COUNT; ++i)
        EXPECT_TRUE(sameCondition(c.conditions[i], expected[i])) << "operation " << (1 << i);
    EXPECT_EQ(types.calls, 2);
    EXPECT_EQ(c.reserved[0] | c.reserved[1] | c.reserved[2], 0);
}

TEST(SectionToC, UnknownInternalValuesAreLogicErrors)
{
    SecretTypes types;
    const struct {
        Section section;
        const char* what;
    } cases[] = {
        {{1, Section::ReadOnly, {}, 4}, "Unknown Section::Type"},
        {{1, 2, {}, Section::Ordinary}, "Unknown Section::AccessState"},
        {{1, Section::ReadOnly, {{0x40, forbidden}}, Section::Ordinary}, "Unknown Section::SwitchAccessOperations!"},
        {{1, Section::ReadOnly, {{0x03, forbidden}}, Section::Ordinary}, "Unknown Section::SwitchAccessOperations!"},
    };
    for (const auto& c : cases) {
        try {
            toCSection(1, c.section, types.lookup());
            ADD_FAILURE() << c.what;
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), c.what);
        }
    }
}

kvflash_Section cSection(kvflash_SectionType type, uint32_t size, kvflash_SectionAccessState state)
{
    kvflash_Section section = {};
    section.type = type;
    section.size = size;
    section.accessState = state;
    return section;
}

TEST(SectionFromC, ReadsEveryEntryAndLeavesUnrestrictedOnesOut)
{
    SecretTypes types;
    kvflash_Section in = cSection(KVFLASH_SECTION_JOURNAL_EVENTS, 500, KVFLASH_ACCESS_NONE);
    in.id = 9;  // not read: the split numbers the sections itself
    in.conditions[0] = {KVFLASH_SECURE_FORBIDDEN, 0, 0, KVFLASH_SECRET_NONE};
    in.conditions[1] = {KVFLASH_SECURE_GLOBAL_BIT0, 12, 0, KVFLASH_SECRET_MVA};
    in.conditions[2] = {static_cast<kvflash_SecureType>(4), 0, 0, KVFLASH_SECRET_NONE};  // no bit: no rule
    in.conditions[3] = {KVFLASH_SECURE_GLOBAL_BOTH, 0, 0, KVFLASH_SECRET_LOCAL_PIN};  // no secret: type not read
    in.conditions[4] = {KVFLASH_SECURE_NONE, 5, 0, KVFLASH_SECRET_LOCAL_PIN};
    const Section section = fromCSection(in, types.lookup());
    EXPECT_EQ(section, (Section{500, Section::NoAccess,
                                {{0x01, forbidden},
                                 {0x02, {0x05, false, 12, true}},
                                 {0x08, {0x03, false, 0, false}},
                                 {0x10, {0x04, false, 5, true}}},
                                Section::JournalEvents}));
    EXPECT_EQ(types.calls, 2);
}

TEST(SectionFromC, SecretOfTheWrongKindOrOutOfRangeFails)
{
    SecretTypes types;
    kvflash_Section in = cSection(KVFLASH_SECTION_ORDINARY, 100, KVFLASH_ACCESS_READ_WRITE);
    in.conditions[1] = {KVFLASH_SECURE_NONE, 12, 0, KVFLASH_SECRET_LOCAL_PIN};
    const Exception mismatch = thrownBy([&] { fromCSection(in, types.lookup()); });
    EXPECT_EQ(mismatch.status(), KVFLASH_SECRET_TYPE_MISMATCH);
    EXPECT_EQ(detail(mismatch, ErrorInfoKind::SecretId), (std::variant<int64_t, std::string>{int64_t{12}}));
    in.conditions[1] = {KVFLASH_SECURE_NONE, 2, 0, KVFLASH_SECRET_LOCAL_PIN};
    EXPECT_EQ(thrownBy([&] { fromCSection(in, types.lookup()); }).status(), KVFLASH_INVALID_SECRET_ID);
}

TEST(SectionFromC, UnknownTypesAndStatesAreLogicErrors)
{
    SecretTypes types;
    const struct {
        kvflash_Section section;
        const char* what;
    } cases[] = {
        {cSection(KVFLASH_SECTION_ORDINARY, 1, static_cast<kvflash_SectionAccessState>(2)),
         "Unknown kvflash_SectionAccessState"},
        {cSection(KVFLASH_SECTION_ORDINARY, 1, static_cast<kvflash_SectionAccessState>(0x103)),
         "Unknown kvflash_SectionAccessState"},
        {cSection(static_cast<kvflash_SectionType>(4), 1, KVFLASH_ACCESS_READ_ONLY), "Unknown kvflash_SectionType"},
        {cSection(static_cast<kvflash_SectionType>(-1), 1, KVFLASH_ACCESS_READ_ONLY), "Unknown kvflash_SectionType"},
    };
    for (const auto& c : cases) {
        try {
            fromCSection(c.section, types.lookup());
            ADD_FAILURE() << c.what;
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), c.what);
        }
    }
}

}  // namespace
}  // namespace kvfl
