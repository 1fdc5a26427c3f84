#pragma once

#include <cstdint>

namespace kvfl {

// The rule that guards one switch operation of a section: a global-PIN part
// (flag bits 0 and 1) and at most one secret (a local PIN or MVA, a complex
// rule or a key), or "forbidden": nobody may perform the operation.
struct ProtectConditions {
    static constexpr uint8_t globalPinBits = 0x03;
    static constexpr uint8_t localSecretBit = 0x04;  // local PIN or MVA, secretId 3..31
    static constexpr uint8_t complexRuleBit = 0x08;  // secretId 1..31
    static constexpr uint8_t keyBit = 0x10;          // secretId 16..31
    static constexpr uint8_t secretBits = localSecretBit | complexRuleBit | keyBit;
    static constexpr uint8_t knownBits = globalPinBits | secretBits;

    uint8_t flags = 0;
    bool forbidden = false;
    uint8_t secretId = 0;
    bool hasSecret = false;

    static constexpr ProtectConditions forbiddenOperation() { return {0, true, 0, false}; }
    bool namesLocalSecret() const { return hasSecret && (flags & localSecretBit); }

    friend bool operator==(const ProtectConditions&, const ProtectConditions&) = default;
};
static_assert(sizeof(ProtectConditions) == 4);

// Throws the library's status for a condition a caller may not hand to the
// device: 100018 for a secret that does not fit the flags, 100017 for flags
// that combine more than one kind of secret.
void validateProtectConditions(const ProtectConditions& conditions);

// Status 100018 unless id can name a local PIN or MVA (3..31).
void checkLocalSecretId(uint16_t id);

// The device's form: one conditions byte and one secret byte per operation.
struct DeviceCondition {
    uint8_t conditions = 0;
    uint8_t secret = 0;
    friend bool operator==(const DeviceCondition&, const DeviceCondition&) = default;
};
ProtectConditions decodeProtectConditions(DeviceCondition device);
DeviceCondition encodeProtectConditions(const ProtectConditions& conditions);

}  // namespace kvfl
