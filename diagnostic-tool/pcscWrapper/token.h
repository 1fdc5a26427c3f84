#pragma once

#include "pcscWrapper/apdu.h"
#include "pcscWrapper/flashLibrary.h"
#include "pcscWrapper/scard.h"
#include "utils/applicationException.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

enum TokenModel : int {
    KelvaneBrisa = 0,
    KelvaneMirel20 = 1,
    KelvaneMirel20Flash = 2,
    KelvaneMirel30 = 3,
    KelvaneVaro = 4,
    KelvaneMirel30Flash = 5,
};

// The model's name as the report shows it; "Unknown model" for a value
// that names no model.
std::string_view modelName(TokenModel model);

struct TokenIdentity {
    uint8_t type = 0;
    uint8_t firmwareMajor = 0;     // byte 1
    uint16_t eepromUnits = 0;      // byte 2, units of 8192 bytes
    uint8_t modelInfo = 0;         // byte 4
    uint8_t hardwareGroup = 0;     // byte 6
    uint8_t firmwareBuild = 0;     // byte 7
    uint8_t firmwareRevision = 0;  // byte 8
    uint8_t firmwareMinor = 0;     // byte 9
};

// A flash-token library call that failed, with the library's status code.
class KvFlashException : public ApplicationException {
public:
    KvFlashException(kvflash_StatusCode code, ThrowSite site);
    int32_t code() const noexcept { return code_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    int32_t code_;
    std::string message_;
};

// The one token under diagnosis; copies share the connection and the flash
// library's handle on the same device.
class Token {
public:
    // Throws KvFlashException when the library knows the token but fails on it.
    Token(std::shared_ptr<Scard> scard, FlashLibrary& flashLibrary);

    uint64_t getSerial() const;
    bool isSupported() const;
    bool isFlashSupported() const { return flashSupported_; }
    TokenModel getModel() const;
    // (free, total) EEPROM bytes.
    std::pair<uint32_t, uint32_t> getMemoryInfo() const;
    // (identity byte 1, identity byte 9).
    std::array<uint8_t, 2> getFirmwareVersionHigh() const;
    // (identity byte 7, identity byte 8).
    std::array<uint8_t, 2> getFirmwareVersionLow() const;
    bool hasHardwareFeatureBit() const;
    uint8_t getMicroprogramIteration() const;
    std::optional<std::string> getSelfIdentificationModel() const;
    ApduResponse sendApdu(const Apdu& apdu) const;

    // The first section of the journal events type; throws std::runtime_error
    // when the sections cannot be listed or none is of that type.
    kvflash_Section getJournalSection() const;
    // Throws std::runtime_error when the token refuses the switch.
    void changeAccessSectionRights(const kvflash_Section& section, kvflash_SectionAccessState state,
                                   bool permanent) const;

    const TokenIdentity& identity() const { return identity_; }

private:
    void attachFlash(uint64_t serial);

    std::shared_ptr<Scard> scard_;
    FlashLibrary* flashLibrary_;
    // Empty when the library does not know the token.
    std::shared_ptr<kvflash_TokenImpl_> flash_;
    TokenIdentity identity_;
    bool flashSupported_ = false;
};
