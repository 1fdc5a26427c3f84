#include "hexBytes.h"
#include "kvflash-core/protectConditions.h"
#include "section.h"
#include "thrown.h"

#include <gtest/gtest.h>

#include <optional>

namespace kvfl {
namespace {

using test::concat;
using test::detail;
using test::hex;
using test::statusOf;
using test::thrownBy;

constexpr ProtectConditions forbidden = ProtectConditions::forbiddenOperation();

ProtectConditions rule(uint8_t flags, std::optional<uint8_t> secret = std::nullopt)
{
    return {flags, false, secret.value_or(0), secret.has_value()};
}

// ---- Protect conditions ------------------------------------------------------

struct DeviceCase {
    DeviceCondition device;
    ProtectConditions decoded;
};

class DeviceConditionTable : public testing::TestWithParam<DeviceCase> {};

TEST_P(DeviceConditionTable, DecodesAndEncodesBack)
{
    EXPECT_EQ(decodeProtectConditions(GetParam().device), GetParam().decoded);
    EXPECT_EQ(encodeProtectConditions(GetParam().decoded), GetParam().device);
}

INSTANTIATE_TEST_SUITE_P(ProtectConditions, DeviceConditionTable,
                         testing::Values(DeviceCase{{0xFF, 0x00}, forbidden},
                                         DeviceCase{{0x00, 0x00}, rule(0x00)},
                                         DeviceCase{{0x03, 0x00}, rule(0x03)},
                                         DeviceCase{{0x05, 0x07}, rule(0x05, 7)},        // user PIN and local PIN 7
                                         DeviceCase{{0x06, 0x87}, rule(0x0A, 7)},        // complex rule 7
                                         DeviceCase{{0x08, 0x12}, rule(0x10, 0x12)},     // key 18
                                         DeviceCase{{0x0B, 0x1F}, rule(0x13, 0x1F)}));  // both PINs and key 31

TEST(ProtectConditions, DecodingIgnoresTheSecretByteOfAForbiddenOrSecretlessRule)
{
    EXPECT_EQ(decodeProtectConditions({0xFF, 0x42}), forbidden);
    EXPECT_EQ(decodeProtectConditions({0x01, 0x42}), rule(0x01));
}

TEST(ProtectConditions, DeviceByteAskingForSecretAndKeyIsInvalid)
{
    const Exception e = thrownBy([] { decodeProtectConditions({0x0C, 0x05}); });
    EXPECT_EQ(e.status(), KVFLASH_INVALID_PROTECT_CONDITIONS);
    EXPECT_EQ(detail(e, ErrorInfoKind::ProtectConditionsByte), (std::variant<int64_t, std::string>{0x0C}));
}

struct ValidationCase {
    const char* name;
    ProtectConditions conditions;
    kvflash_StatusCode status;
    ErrorInfoKind kind = ErrorInfoKind::SecretId;
    std::variant<int64_t, std::string> value = int64_t{0};
};

class ValidationTable : public testing::TestWithParam<ValidationCase> {};

TEST_P(ValidationTable, GivesStatusAndDetail)
{
    const ValidationCase& c = GetParam();
    if (c.status == KVFLASH_OK) {
        EXPECT_NO_THROW(validateProtectConditions(c.conditions));
        return;
    }
    const Exception e = thrownBy([&] { validateProtectConditions(c.conditions); });
    EXPECT_EQ(e.status(), c.status);
    EXPECT_EQ(detail(e, c.kind), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    ProtectConditions, ValidationTable,
    testing::Values(
        ValidationCase{"Forbidden", forbidden, KVFLASH_OK},
        ValidationCase{"Unrestricted", rule(0x00), KVFLASH_OK},
        ValidationCase{"BothGlobalPins", rule(0x03), KVFLASH_OK},
        ValidationCase{"LocalPinLowest", rule(0x05, 3), KVFLASH_OK},
        ValidationCase{"ComplexRuleLowest", rule(0x08, 1), KVFLASH_OK},
        ValidationCase{"KeyHighest", rule(0x10, 31), KVFLASH_OK},
        ValidationCase{"ForbiddenWithSecret", {0, true, 5, true}, KVFLASH_INVALID_SECRET_ID, ErrorInfoKind::SecretId,
                       int64_t{5}},
        ValidationCase{"UnknownFlag", rule(0x20), KVFLASH_INVALID_PROTECT_CONDITIONS,
                       ErrorInfoKind::ProtectConditionsByte, int64_t{0x20}},
        ValidationCase{"LocalPinAndComplexRule", rule(0x0C, 5), KVFLASH_INVALID_PROTECT_CONDITIONS,
                       ErrorInfoKind::ProtectConditionsByte, int64_t{0x0C}},
        ValidationCase{"ComplexRuleAndKey", rule(0x18, 20), KVFLASH_INVALID_PROTECT_CONDITIONS,
                       ErrorInfoKind::ProtectConditionsByte, int64_t{0x18}},
        ValidationCase{"GlobalPinWithSecret", rule(0x01, 5), KVFLASH_INVALID_SECRET_ID, ErrorInfoKind::SecretId,
                       int64_t{5}},
        ValidationCase{"SecretWithoutKind", rule(0x00, 5), KVFLASH_INVALID_SECRET_ID, ErrorInfoKind::SecretId,
                       int64_t{5}},
        ValidationCase{"LocalPinWithoutSecret", rule(0x04), KVFLASH_INVALID_SECRET_ID, ErrorInfoKind::SecretId,
                       int64_t{0}},
        ValidationCase{"LocalPinBelowRange", rule(0x04, 2), KVFLASH_INVALID_SECRET_ID, ErrorInfoKind::SecretIdRange,
                       std::string("local PIN and MVA: [3, 31]")},
        ValidationCase{"LocalPinAboveRange", rule(0x04, 32), KVFLASH_INVALID_SECRET_ID, ErrorInfoKind::SecretId,
                       int64_t{32}},
        ValidationCase{"ComplexRuleZero", rule(0x08, 0), KVFLASH_INVALID_SECRET_ID, ErrorInfoKind::SecretIdRange,
                       std::string("complex rule: [1, 31]")},
        ValidationCase{"KeyBelowRange", rule(0x10, 15), KVFLASH_INVALID_SECRET_ID, ErrorInfoKind::SecretIdRange,
                       std::string("key: [16, 31]")}),
    [](const testing::TestParamInfo<ValidationCase>& info) { return std::string(info.param.name); });

// ---- Section descriptions ----------------------------------------------------

// One element of GET SECTIONS ATTRIBUTES: 80 14 and the 20 value bytes.
Bytes description(const char* valueHex)
{
    return concat({hex("80 14"), hex(valueHex)});
}

//                          nr acc count tc mask conditions        -- secrets           --
constexpr char plainRW[] = "01 0B 00 10  00 00   00 00 00 00 00 00 00 00 00 00 00 00 00 00";

TEST(SectionDescriptions, ReadNumberStateSizeAndType)
{
    const Sections sections = parseSectionDescriptions(concat({
        description(plainRW),
        description("02 41 00 20  01 00   00 00 00 00 00 00 00 00 00 00 00 00 00 00"),  // code 1 wins over bit 6
        description("03 53 00 02  04 00   00 00 00 00 00 00 00 00 00 00 00 00 00 00"),  // multiplier 16
        description("04 5D 00 01  07 00   00 00 00 00 00 00 00 00 00 00 00 00 00 00"),  // multiplier 32, encrypted
        description("05 00 01 00  00 00   00 00 00 00 00 00 00 00 00 00 00 00 00 00"),
    }));
    ASSERT_EQ(sections.size(), 5u);
    EXPECT_EQ(sections.at(1), (Section{8 * 0x10, Section::ReadWrite, {}, Section::Ordinary}));
    EXPECT_EQ(sections.at(2), (Section{0x20, Section::ReadOnly, {}, Section::JournalEvents}));
    EXPECT_EQ(sections.at(3), (Section{16 * 2, Section::ReadWrite, {}, Section::JournalType}));
    EXPECT_EQ(sections.at(4), (Section{32, Section::CdRom, {}, Section::Encrypted}));
    EXPECT_EQ(sections.at(5), (Section{0x100, Section::NoAccess, {}, Section::Ordinary}));
}

TEST(SectionDescriptions, ReadTheRulesOfTheOperationsInTheMask)
{
    const Sections sections = parseSectionDescriptions(
        description("01 03 00 10  00 23   FF 05 33 00 00 06 00 00 07 00 00 00 84 00"));
    EXPECT_EQ(sections.at(1).conditions,
              (std::map<uint8_t, ProtectConditions>{{0x01, forbidden}, {0x02, rule(0x05, 7)}, {0x20, rule(0x0A, 4)}}));
}

TEST(SectionDescriptions, JournalSectionMayOnlyRuleTheTemporaryReadOnlySwitch)
{
    EXPECT_NO_THROW(parseSectionDescriptions(description("01 00 02 00  01 3F   FF 05 FF FF FF FF 00 00 07 00 00 00 00 00")));
    EXPECT_EQ(statusOf([] { parseSectionDescriptions(description("01 00 02 00  04 01   01 00 00 00 00 00 00 00 00 00 00 00 00 00")); }),
              KVFLASH_INVALID_PROTECT_CONDITIONS);
}

TEST(SectionDescriptions, RejectMalformedAnswers)
{
    const struct {
        Bytes answer;
        ErrorInfoKind kind;
        const char* what;
    } cases[] = {
        {description("01 02 00 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"), ErrorInfoKind::ApduResponse,
         "invalid access rights byte value"},
        {description("01 0E 00 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"), ErrorInfoKind::ApduResponse,
         "invalid access rights byte value"},
        {hex("80 13 01 0B 00 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"), ErrorInfoKind::TlvParsing,
         "invalid structure with information about flash memory"},
        {concat({hex("81 14"), hex(plainRW)}), ErrorInfoKind::TlvParsing,
         "invalid structure with information about flash memory"},
    };
    for (const auto& c : cases) {
        const Exception e = thrownBy([&] { parseSectionDescriptions(c.answer); });
        EXPECT_EQ(e.status(), KVFLASH_INVALID_DEVICE_RESPONSE);
        EXPECT_EQ(detail(e, c.kind), (std::variant<int64_t, std::string>{std::string(c.what)}));
    }
}

TEST(SectionDescriptions, EncodeAsTheDeviceReadsThem)
{
    const Section section{0x10000, Section::ReadWrite, {{0x02, rule(0x01)}, {0x04, rule(0x0A, 9)}}, Section::Ordinary};
    EXPECT_EQ(encodeSectionDescription(2, section),
              description("02 0B 20 00  00 06   00 01 06 00 00 00 00 00 00 89 00 00 00 00"));
    const Section journal{500, Section::NoAccess,
                          {{0x01, forbidden}, {0x02, rule(0x05, 3)}, {0x04, forbidden}, {0x08, forbidden},
                           {0x10, forbidden}, {0x20, forbidden}},
                          Section::JournalEvents};
    const Bytes encoded = encodeSectionDescription(1, journal);
    EXPECT_EQ(encoded, description("01 00 01 F4  01 3F   FF 05 FF FF FF FF 00 00 03 00 00 00 00 00"));
    EXPECT_EQ(parseSectionDescriptions(encoded), (Sections{{1, journal}}));
}

TEST(SectionDescriptions, EncodeLargeSizesWithTheSmallestMultiplierThatFits)
{
    const struct {
        uint32_t size;
        const char* accessAndCount;
    } cases[] = {
        {0xFFFF, "03 FF FF"},    {0x10000, "0B 20 00"},  {0x10007, "0B 20 00"},  // rounded down, never up
        {0x7FFF8, "0B FF FF"},   {0x80000, "13 80 00"},  {0x1FFFE0, "1B FF FF"},
    };
    for (const auto& c : cases) {
        const Bytes encoded = encodeSectionDescription(1, Section{c.size, Section::ReadWrite, {}, Section::Ordinary});
        EXPECT_EQ(Bytes(encoded.begin() + 3, encoded.begin() + 6), hex(c.accessAndCount)) << c.size;
    }
    EXPECT_EQ(statusOf([] { encodeSectionDescription(1, Section{0x200000, Section::ReadWrite, {}, Section::Ordinary}); }),
              KVFLASH_INVALID_SECTION_SIZE);
}

// ---- Rules of the journal sections -------------------------------------------

using Rules = std::map<uint8_t, ProtectConditions>;
const Rules othersForbidden = {{0x01, forbidden}, {0x04, forbidden}, {0x08, forbidden}, {0x10, forbidden}, {0x20, forbidden}};

Rules with(Rules rules, uint8_t operation, ProtectConditions condition)
{
    rules[operation] = condition;
    return rules;
}

Rules without(Rules rules, uint8_t operation)
{
    rules.erase(operation);
    return rules;
}

TEST(JournalRules, EveryStatus)
{
    const struct {
        const char* name;
        Rules rules;
        kvflash_StatusCode status;
    } cases[] = {
        {"no rules", {}, KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY},
        {"one operation left open", without(othersForbidden, 0x20), KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY},
        {"five rules with read-only among them", with(without(othersForbidden, 0x20), 0x02, rule(0x01)),
         KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY},
        {"read-only forbidden", with(othersForbidden, 0x02, forbidden), KVFLASH_JOURNAL_READ_ONLY_SWITCH_FORBIDDEN},
        {"another operation guarded, not forbidden", with(with(othersForbidden, 0x02, rule(0x01)), 0x08, rule(0x02)),
         KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY},
        {"read-only unrestricted", othersForbidden, KVFLASH_OK},
        {"read-only guarded by a PIN", with(othersForbidden, 0x02, rule(0x05, 3)), KVFLASH_OK},
    };
    for (const auto& c : cases)
        EXPECT_EQ(statusOf([&] { checkJournalConditions(c.rules); }), c.status) << c.name;
}

}  // namespace
}  // namespace kvfl
