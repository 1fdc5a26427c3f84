#include "kvflash-core/protectConditions.h"

#include "exception.h"

#include <bit>
#include <string>

namespace kvfl {
namespace {

constexpr uint8_t deviceForbidden = 0xFF;
constexpr uint8_t deviceSecretBit = 0x04;
constexpr uint8_t deviceKeyBit = 0x08;
constexpr uint8_t complexRuleSecretBit = 0x80;

struct SecretRange {
    uint8_t flag;
    uint8_t lowest;
    uint8_t highest;
    const char* text;
};
constexpr SecretRange secretRanges[] = {
    {ProtectConditions::localSecretBit, 3, 31, "local PIN and MVA: [3, 31]"},
    {ProtectConditions::complexRuleBit, 1, 31, "complex rule: [1, 31]"},
    {ProtectConditions::keyBit, 16, 31, "key: [16, 31]"},
};

[[noreturn]] void invalidSecretId(int64_t secretId)
{
    fail(KVFLASH_INVALID_SECRET_ID, ErrorInfoKind::SecretId, secretId);
}

[[noreturn]] void invalidCombination(uint8_t flags)
{
    fail(KVFLASH_INVALID_PROTECT_CONDITIONS, ErrorInfoKind::ProtectConditionsByte, flags);
}

void checkSecretInRange(const SecretRange& range, int64_t secretId)
{
    if (secretId < range.lowest || secretId > range.highest)
        throw Exception(KVFLASH_INVALID_SECRET_ID,
                        {{ErrorInfoKind::SecretIdRange, std::string(range.text)}, {ErrorInfoKind::SecretId, secretId}});
}

}  // namespace

void validateProtectConditions(const ProtectConditions& conditions)
{
    if (conditions.forbidden) {
        if (conditions.hasSecret)
            invalidSecretId(conditions.secretId);
        return;
    }
    const uint8_t secretKinds = conditions.flags & ProtectConditions::secretBits;
    if ((conditions.flags & ~ProtectConditions::knownBits) || std::popcount(secretKinds) > 1)
        invalidCombination(conditions.flags);
    // A secret needs a flag that says what kind of secret it is, and the flag needs the secret.
    if (!secretKinds && conditions.hasSecret)
        invalidSecretId(conditions.secretId);
    if (secretKinds && !conditions.hasSecret)
        invalidSecretId(0);
    for (const SecretRange& range : secretRanges)
        if (conditions.flags & range.flag)
            checkSecretInRange(range, conditions.secretId);
}

void checkLocalSecretId(uint16_t id)
{
    checkSecretInRange(secretRanges[0], id);
}

ProtectConditions decodeProtectConditions(DeviceCondition device)
{
    if (device.conditions == deviceForbidden)
        return ProtectConditions::forbiddenOperation();
    if ((device.conditions & deviceSecretBit) && (device.conditions & deviceKeyBit))
        invalidCombination(device.conditions);
    ProtectConditions conditions;
    conditions.flags = device.conditions & ProtectConditions::globalPinBits;
    if (device.conditions & deviceSecretBit) {
        const bool complexRule = device.secret & complexRuleSecretBit;
        conditions.flags |= complexRule ? ProtectConditions::complexRuleBit : ProtectConditions::localSecretBit;
        conditions.secretId = device.secret & ~complexRuleSecretBit;
        conditions.hasSecret = true;
    } else if (device.conditions & deviceKeyBit) {
        conditions.flags |= ProtectConditions::keyBit;
        conditions.secretId = device.secret;
        conditions.hasSecret = true;
    }
    return conditions;
}

DeviceCondition encodeProtectConditions(const ProtectConditions& conditions)
{
    if (conditions.forbidden)
        return {deviceForbidden, 0};
    DeviceCondition device;
    device.conditions = conditions.flags & ProtectConditions::globalPinBits;
    if (conditions.flags & (ProtectConditions::localSecretBit | ProtectConditions::complexRuleBit))
        device.conditions |= deviceSecretBit;
    if (conditions.flags & ProtectConditions::keyBit)
        device.conditions |= deviceKeyBit;
    if (conditions.hasSecret)
        device.secret = conditions.secretId | ((conditions.flags & ProtectConditions::complexRuleBit) ? complexRuleSecretBit : 0);
    return device;
}

}  // namespace kvfl
