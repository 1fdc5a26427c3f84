#pragma once

#include "pcscWrapper/apdu.h"
#include "pcscWrapper/scard.h"

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

// The one token under diagnosis; copies share the connection.
class Token {
public:
    explicit Token(std::shared_ptr<Scard> scard);

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

    const TokenIdentity& identity() const { return identity_; }

private:
    std::shared_ptr<Scard> scard_;
    TokenIdentity identity_;
    bool flashSupported_ = false;
};
