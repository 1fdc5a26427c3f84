#include "sectionConversion.h"

#include "cArguments.h"
#include "exception.h"

#include <bit>
#include <optional>
#include <stdexcept>

namespace kvfl {
namespace {

struct SecureTypeBits {
    kvflash_SecureType secureType;
    uint8_t globalPinBits;
};
constexpr SecureTypeBits secureTypes[] = {
    {KVFLASH_SECURE_GLOBAL_BIT0, 0x01},
    {KVFLASH_SECURE_GLOBAL_BIT1, 0x02},
    {KVFLASH_SECURE_GLOBAL_BOTH, 0x03},
};

struct SecretTypes {
    LocalSecretType local;
    kvflash_SecretType c;
};
constexpr SecretTypes secretTypes[] = {
    {LocalSecretType::LocalPin, KVFLASH_SECRET_LOCAL_PIN},
    {LocalSecretType::Mva, KVFLASH_SECRET_MVA},
};

kvflash_SecretType toCSecretType(LocalSecretType type)
{
    for (const SecretTypes& entry : secretTypes)
        if (entry.local == type)
            return entry.c;
    throw std::logic_error("Unknown LocalSecretType");
}

kvflash_SecureType toCSecureType(uint8_t flags)
{
    for (const SecureTypeBits& entry : secureTypes)
        if (entry.globalPinBits == (flags & ProtectConditions::globalPinBits))
            return entry.secureType;
    return KVFLASH_SECURE_NONE;
}

uint8_t globalPinBitsFromC(int32_t secureType)
{
    for (const SecureTypeBits& entry : secureTypes)
        if (entry.secureType == secureType)
            return entry.globalPinBits;
    return 0;
}

bool isValidSectionType(int32_t type)
{
    return type >= Section::Ordinary && type <= Section::Encrypted;
}

bool isSwitchOperation(uint8_t operation)
{
    return std::has_single_bit(operation) && std::countr_zero(operation) < Section::switchOperationCount;
}

kvflash_ProtectCondition toCCondition(const ProtectConditions& rule, const SecretTypeLookup& secretTypeOf)
{
    if (rule.forbidden)
        return {KVFLASH_SECURE_FORBIDDEN, 0, 0, KVFLASH_SECRET_NONE};
    kvflash_ProtectCondition condition = {toCSecureType(rule.flags), 0, 0, KVFLASH_SECRET_NONE};
    // Only a local PIN or MVA has a secret type the caller can see; complex
    // rules and keys show their identifier alone.
    if (rule.hasSecret)
        condition.secretId = rule.secretId;
    if (rule.namesLocalSecret())
        condition.secretType = toCSecretType(secretTypeOf(rule.secretId));
    return condition;
}

// An entry the caller leaves all zero (or with no bit at all) is no rule.
std::optional<ProtectConditions> fromCCondition(const kvflash_ProtectCondition& condition,
                                                const SecretTypeLookup& secretTypeOf)
{
    ProtectConditions rule;
    const uint32_t secureType = cEnumValue(condition.secureType);
    if (secureType == KVFLASH_SECURE_FORBIDDEN)
        rule.forbidden = true;
    else
        rule.flags = globalPinBitsFromC(static_cast<int32_t>(secureType));
    if (condition.secretId != 0) {
        if (static_cast<uint32_t>(toCSecretType(secretTypeOf(condition.secretId))) != cEnumValue(condition.secretType))
            fail(KVFLASH_SECRET_TYPE_MISMATCH, ErrorInfoKind::SecretId, condition.secretId);
        if (!rule.forbidden)
            rule.flags |= ProtectConditions::localSecretBit;
        rule.secretId = static_cast<uint8_t>(condition.secretId);
        rule.hasSecret = true;
    }
    if (!rule.forbidden && rule.flags == 0)
        return std::nullopt;
    return rule;
}

}  // namespace

uint8_t accessStateFromC(uint32_t state)
{
    if (!isValidAccessState(state))
        throw std::logic_error("Unknown kvflash_SectionAccessState");
    return static_cast<uint8_t>(state);
}

kvflash_Section toCSection(uint8_t id, const Section& section, const SecretTypeLookup& secretTypeOf)
{
    kvflash_Section out = {};
    out.id = id;
    if (!isValidSectionType(section.type))
        throw std::logic_error("Unknown Section::Type");
    out.type = static_cast<kvflash_SectionType>(section.type);
    out.size = section.size;
    if (!isValidAccessState(section.accessState))
        throw std::logic_error("Unknown Section::AccessState");
    out.accessState = static_cast<kvflash_SectionAccessState>(section.accessState);
    for (const auto& [operation, rule] : section.conditions) {
        if (!isSwitchOperation(operation))
            throw std::logic_error("Unknown Section::SwitchAccessOperations!");
        out.conditions[std::countr_zero(operation)] = toCCondition(rule, secretTypeOf);
    }
    return out;
}

Section fromCSection(const kvflash_Section& in, const SecretTypeLookup& secretTypeOf)
{
    Section section;
    section.size = in.size;
    section.accessState = accessStateFromC(cEnumValue(in.accessState));
    const auto type = static_cast<int32_t>(cEnumValue(in.type));
    if (!isValidSectionType(type))
        throw std::logic_error("Unknown kvflash_SectionType");
    section.type = type;
    for (int i = 0; i < Section::switchOperationCount; ++i)
        if (const auto rule = fromCCondition(in.conditions[i], secretTypeOf))
            section.conditions[static_cast<uint8_t>(1u << i)] = *rule;
    return section;
}

}  // namespace kvfl
