#include "apdu/createFileFcp.h"

#include "apdu/fcp.h"
#include "exception.h"

#include <stdexcept>

namespace kvfl {
namespace {

constexpr uint16_t MAX_LOCAL_PIN_LENGTH = 32;
constexpr uint8_t MIN_LOCAL_PIN_LENGTH = 6;

constexpr uint8_t MAX_ATTEMPTS = 10;
constexpr uint8_t MAX_RECORD_COUNT = 254;
constexpr uint8_t MAX_RECORD_SIZE = 249;
constexpr unsigned MVA_SIZE_LIMIT = 33021;  // count × size stays below

void check(bool valid, kvflash_StatusCode status) {
    if (!valid) throw Exception(status);
}

// Maximum and remaining attempts share one byte, a nibble each.
uint8_t attemptsByte(uint8_t attempts) { return static_cast<uint8_t>(attempts * 0x11); }

}  // namespace

void checkLocalPinParams(std::size_t pinSize, uint8_t attempts) {
    check(attempts >= 1 && attempts <= MAX_ATTEMPTS, KVFLASH_INVALID_ATTEMPT_COUNT);
    checkLocalPinSize(pinSize);
}

void checkLocalPinSize(std::size_t pinSize) {
    check(pinSize >= MIN_LOCAL_PIN_LENGTH && pinSize <= MAX_LOCAL_PIN_LENGTH, KVFLASH_INVALID_PIN_SIZE);
}

void checkMvaRecordSize(std::size_t recordSize) {
    check(recordSize >= 1 && recordSize <= MAX_RECORD_SIZE, KVFLASH_INVALID_RECORD_SIZE);
}

void checkMvaParams(uint8_t maxRecordCount, uint8_t maxRecordSize, uint8_t maxAttempts) {
    check(maxRecordCount >= 1 && maxRecordCount <= MAX_RECORD_COUNT, KVFLASH_INVALID_RECORD_COUNT);
    check(maxRecordSize >= 1 && maxRecordSize <= MAX_RECORD_SIZE, KVFLASH_INVALID_RECORD_SIZE);
    check(unsigned{maxRecordCount} * maxRecordSize < MVA_SIZE_LIMIT, KVFLASH_INVALID_MVA_SIZE);
    check(maxAttempts >= 1 && maxAttempts <= MAX_ATTEMPTS, KVFLASH_INVALID_ATTEMPT_COUNT);
}

uint8_t localPinSecurityFlag(kvflash_SecureType secureType) {
    switch (secureType) {
        case KVFLASH_SECURE_GLOBAL_BIT0: return 0x01;
        case KVFLASH_SECURE_GLOBAL_BIT1: return 0x02;
        case KVFLASH_SECURE_GLOBAL_BOTH: return 0x04;
        case KVFLASH_SECURE_NONE: throw std::logic_error("Incorrect security parameters have been set");
        default: throw std::logic_error("Unknown kvflash_SecureType");
    }
}

Bytes localPinFcp(uint8_t id, uint8_t attempts, kvflash_SecureType secureType) {
    const uint8_t flag = localPinSecurityFlag(secureType);
    // with both global bits the PIN itself is named in the second block
    const uint8_t self = secureType == KVFLASH_SECURE_GLOBAL_BOTH ? id : 0x00;
    const FCP::FcpSizeTag maxLength(MAX_LOCAL_PIN_LENGTH);
    const FCP::FcpDescriptorTag descriptor(FCP::DESCRIPTOR_LOCAL_PIN);
    const FCP::FcpFileIdTag fileId(id);
    const FCP::SecurityAttributesTag security(
        {0x43, 0x01, flag, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, self, 0x00, 0x00, 0x00, 0x00, 0x00});
    const FCP::FcpParametersTag parameters({0x21, MIN_LOCAL_PIN_LENGTH, 0x00, attemptsByte(attempts), 0x00, 0x00});
    return FCP::encodeFcp({maxLength, descriptor, fileId, security, parameters});
}

Bytes mvaFcp(uint8_t id, uint8_t maxRecordCount, uint8_t maxRecordSize, uint8_t maxAttempts) {
    const FCP::FcpDescriptorTag descriptor(FCP::DESCRIPTOR_MVA, FCP::RecordInfo{maxRecordSize, std::nullopt});
    const FCP::FcpSizeTag size(static_cast<uint16_t>(maxRecordCount * maxRecordSize));
    const FCP::FcpFileIdTag fileId(id);
    const FCP::FcpParametersTag parameters({0x21, 0x00, 0x00, attemptsByte(maxAttempts), 0x00, 0x00});
    // the same for every MVA
    const FCP::SecurityAttributesTag security(
        {0x7B, 0x01, 0x01, 0x00, 0xFF, 0xFF, 0x01, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    return FCP::encodeFcp({descriptor, size, fileId, parameters, security});
}

}  // namespace kvfl
