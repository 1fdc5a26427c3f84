#include "section.h"

#include "exception.h"
#include "apdu/tlv.h"

#include <array>
#include <bit>
#include <string>

namespace kvfl {
namespace {

constexpr uint8_t descriptionTag = 0x80;
constexpr size_t descriptionSize = 20;
// Offsets inside one section description.
constexpr size_t numberAt = 0, accessAt = 1, blockCountAt = 2, typeCodeAt = 4, ruleMaskAt = 5, conditionsAt = 6,
                 secretsAt = 13;

constexpr uint8_t accessStateBits = 0x07;
constexpr int multiplierShift = 3;
constexpr uint8_t multiplierCodeBits = 0x03;
constexpr uint8_t encryptedBit = 0x40;
constexpr std::array<uint32_t, 4> sizeMultipliers = {1, 8, 16, 32};  // by multiplier code
constexpr uint32_t maxBlockCount = 0xFFFF;

struct TypeCode {
    uint8_t code;
    int32_t type;
};
constexpr TypeCode typeCodes[] = {{0x01, Section::JournalEvents}, {0x04, Section::JournalType}};

int32_t typeFromCode(uint8_t code, bool encrypted)
{
    for (const TypeCode& entry : typeCodes)
        if (entry.code == code)
            return entry.type;
    return encrypted ? Section::Encrypted : Section::Ordinary;
}

uint8_t codeFromType(int32_t type)
{
    for (const TypeCode& entry : typeCodes)
        if (entry.type == type)
            return entry.code;
    return 0;
}

uint8_t operationBit(int index)
{
    return static_cast<uint8_t>(1u << index);
}

Section decodeDescription(const uint8_t* value)
{
    Section section;
    const uint8_t access = value[accessAt];
    section.accessState = access & accessStateBits;
    if (!isValidAccessState(section.accessState))
        fail(KVFLASH_INVALID_DEVICE_RESPONSE, ErrorInfoKind::ApduResponse, "invalid access rights byte value");
    const uint32_t blockCount = (uint32_t{value[blockCountAt]} << 8) | value[blockCountAt + 1];
    section.size = sizeMultipliers[(access >> multiplierShift) & multiplierCodeBits] * blockCount;
    section.type = typeFromCode(value[typeCodeAt], access & encryptedBit);
    for (int i = 0; i < Section::switchOperationCount; ++i) {
        if (!(value[ruleMaskAt] & operationBit(i)))
            continue;
        const ProtectConditions rule = decodeProtectConditions({value[conditionsAt + i], value[secretsAt + i]});
        if (section.isJournal() && operationBit(i) != Section::TemporaryReadOnly && !rule.forbidden)
            fail(KVFLASH_INVALID_PROTECT_CONDITIONS, ErrorInfoKind::ProtectConditionsByte, value[conditionsAt + i]);
        section.conditions[operationBit(i)] = rule;
    }
    return section;
}

struct BlockSize {
    uint8_t multiplierCode;
    uint16_t count;
};

// The device reads size = multiplier x count; sizes that need a multiplier
// are rounded down to it, so a section never grows beyond what was asked.
BlockSize blockSizeFor(uint32_t size)
{
    for (uint8_t code = 0; code < sizeMultipliers.size(); ++code) {
        const uint32_t count = size / sizeMultipliers[code];
        if (count <= maxBlockCount)
            return {code, static_cast<uint16_t>(count)};
    }
    fail(KVFLASH_INVALID_SECTION_SIZE, ErrorInfoKind::SectionSize, size);
}

}  // namespace

bool isValidAccessState(uint32_t state)
{
    return state == Section::NoAccess || state == Section::ReadOnly || state == Section::ReadWrite ||
           state == Section::CdRom;
}

Sections parseSectionDescriptions(const Bytes& answer)
{
    Sections sections;
    for (const TlvElement& element : parseTlv(answer, TlvMode::Simple)) {
        if (element.tag != descriptionTag || element.value.size() != descriptionSize)
            fail(KVFLASH_INVALID_DEVICE_RESPONSE, ErrorInfoKind::TlvParsing,
                 "invalid structure with information about flash memory");
        const uint8_t* value = element.value.data();
        sections.insert_or_assign(value[numberAt], decodeDescription(value));
    }
    return sections;
}

Bytes encodeSectionDescription(uint8_t number, const Section& section)
{
    const BlockSize blocks = blockSizeFor(section.size);
    uint8_t access = static_cast<uint8_t>(blocks.multiplierCode << multiplierShift) | section.accessState;
    if (section.type == Section::Encrypted)
        access |= encryptedBit;
    Bytes element = {descriptionTag, descriptionSize, number, access, static_cast<uint8_t>(blocks.count >> 8),
                     static_cast<uint8_t>(blocks.count), codeFromType(section.type)};
    element.resize(2 + descriptionSize);
    uint8_t* value = element.data() + 2;
    for (const auto& [operation, rule] : section.conditions) {
        const int index = std::countr_zero(operation);
        const DeviceCondition device = encodeProtectConditions(rule);
        value[ruleMaskAt] |= operation;
        value[conditionsAt + index] = device.conditions;
        value[secretsAt + index] = device.secret;
    }
    return element;
}

void checkJournalConditions(const std::map<uint8_t, ProtectConditions>& conditions)
{
    const auto temporaryReadOnly = conditions.find(Section::TemporaryReadOnly);
    const bool readOnlyRuled = temporaryReadOnly != conditions.end();
    // Every operation but the temporary switch to read-only must carry a rule.
    if (conditions.size() < Section::switchOperationCount - 1 ||
        (conditions.size() == Section::switchOperationCount - 1 && readOnlyRuled))
        throw Exception(KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY);
    if (readOnlyRuled && temporaryReadOnly->second.forbidden)
        throw Exception(KVFLASH_JOURNAL_READ_ONLY_SWITCH_FORBIDDEN);
    for (const auto& [operation, rule] : conditions)
        if (operation != Section::TemporaryReadOnly && !rule.forbidden)
            throw Exception(KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY);
}

}  // namespace kvfl
