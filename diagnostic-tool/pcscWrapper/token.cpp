#include "pcscWrapper/token.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace {

constexpr uint16_t kSwNoHardwareData = 0x6F3A;

constexpr size_t kIdentityLength = 12;
constexpr size_t kSerialLength = 8;
constexpr size_t kHardwareDataLength = 16;
constexpr uint32_t kEepromUnitBytes = 8192;

constexpr uint8_t kTypeMask = 0x1F;
constexpr uint8_t kTypeMirel = 1, kTypeBrisa = 2, kTypeMirelLate = 9;
constexpr uint8_t kFlashGroupBit = 0x80;       // identity byte 6
constexpr uint8_t kHardwareFeatureBit = 0x40;  // hardware data byte 4
constexpr uint8_t kReportsModelNameAbove = 0x1F;
constexpr uint8_t kNewHardwareModelInfo = 26;
constexpr uint8_t kNewHardwareIterationAbove = 24;
constexpr uint8_t kMirel30BuildAbove = 27;

struct ModelName {
    TokenModel model;
    std::string_view name;
};

constexpr ModelName kModelNames[] = {
    {KelvaneBrisa, "Kelvane Brisa"},
    {KelvaneMirel20, "Kelvane Mirel 2.0"},
    {KelvaneMirel20Flash, "Kelvane Mirel 2.0 Flash"},
    {KelvaneMirel30, "Kelvane Mirel 3.0"},
    {KelvaneVaro, "Kelvane Varo"},
    {KelvaneMirel30Flash, "Kelvane Mirel 3.0 Flash"},
};

TokenIdentity parseIdentity(const Bytes& data)
{
    TokenIdentity identity;
    identity.type = data[0];
    identity.firmwareMajor = data[1];
    identity.eepromUnits = data[2];
    identity.modelInfo = data[4];
    identity.hardwareGroup = data[6];
    identity.firmwareBuild = data[7];
    identity.firmwareRevision = data[8];
    identity.firmwareMinor = data[9];
    return identity;
}

}  // namespace

std::string_view modelName(TokenModel model)
{
    const auto row = std::find_if(std::begin(kModelNames), std::end(kModelNames),
                                  [model](const ModelName& r) { return r.model == model; });
    return row == std::end(kModelNames) ? "Unknown model" : row->name;
}

Token::Token(std::shared_ptr<Scard> scard) : scard_(std::move(scard))
{
    const ApduResponse answer = sendApdu(GetIdentityApdu());
    if (answer.sw != kSwSuccess)
        throw std::runtime_error("Failed to get token identity data.");
    if (answer.data.size() < kIdentityLength)
        throw std::runtime_error("Wrong token identity data length.");
    identity_ = parseIdentity(answer.data);
    getSerial();
}

uint64_t Token::getSerial() const
{
    const ApduResponse answer = sendApdu(GetSerialApdu());
    if (answer.sw != kSwSuccess)
        throw std::runtime_error("Failed to get token serial.");
    if (answer.data.size() != kSerialLength)
        throw std::runtime_error("Wrong token id length.");
    return bigEndian(answer.data);
}

bool Token::isSupported() const
{
    const uint8_t type = identity_.type & kTypeMask;
    return type == kTypeMirel || type == kTypeBrisa || type == kTypeMirelLate;
}

TokenModel Token::getModel() const
{
    bool newHardware = false;
    if (hasHardwareFeatureBit()) {
        const uint8_t iteration = getMicroprogramIteration();
        newHardware = identity_.modelInfo > kNewHardwareModelInfo ||
                      (identity_.modelInfo == kNewHardwareModelInfo && iteration > kNewHardwareIterationAbove);
    }
    if (identity_.hardwareGroup & kFlashGroupBit) {
        if (newHardware)
            return KelvaneVaro;
        return flashSupported_ ? KelvaneMirel30Flash : KelvaneMirel20Flash;
    }
    switch (identity_.type & kTypeMask) {
    case kTypeBrisa:
        return KelvaneBrisa;
    case kTypeMirel:
    case kTypeMirelLate:
        return identity_.firmwareBuild > kMirel30BuildAbove ? KelvaneMirel30 : KelvaneMirel20;
    }
    throw std::runtime_error("Unsupported token.");
}

std::pair<uint32_t, uint32_t> Token::getMemoryInfo() const
{
    const ApduResponse answer = sendApdu(GetFreeMemoryApdu());
    if (answer.sw != kSwSuccess || answer.data.size() < sizeof(uint32_t))
        throw std::runtime_error("Failed to get token free memory.");
    const auto free = static_cast<uint32_t>(bigEndian(ByteView(answer.data).first(sizeof(uint32_t))));
    return {free, identity_.eepromUnits * kEepromUnitBytes};
}

std::array<uint8_t, 2> Token::getFirmwareVersionHigh() const
{
    return {identity_.firmwareMajor, identity_.firmwareMinor};
}

std::array<uint8_t, 2> Token::getFirmwareVersionLow() const
{
    return {identity_.firmwareBuild, identity_.firmwareRevision};
}

bool Token::hasHardwareFeatureBit() const
{
    const ApduResponse answer = sendApdu(GetHardwareDataApdu());
    if (answer.sw == kSwFunctionNotSupported || answer.sw == kSwNoHardwareData)
        return false;
    if (answer.sw != kSwSuccess)
        throw std::runtime_error("Failed to get token hardware data.");
    if (answer.data.size() < kHardwareDataLength)
        throw std::runtime_error("Invalid hardware data length.");
    return answer.data[4] & kHardwareFeatureBit;
}

uint8_t Token::getMicroprogramIteration() const
{
    const ApduResponse answer = sendApdu(GetMicroprogramIterationApdu());
    if (answer.sw == kSwFunctionNotSupported)
        return 0;
    if (answer.sw != kSwSuccess || answer.data.empty())
        throw std::runtime_error("Failed to get token iteration.");
    return answer.data[0];
}

std::optional<std::string> Token::getSelfIdentificationModel() const
{
    if (identity_.modelInfo <= kReportsModelNameAbove)
        return std::nullopt;
    const ApduResponse answer = sendApdu(GetSelfIdentificationModelApdu());
    if (answer.sw != kSwSuccess)
        return std::nullopt;
    const auto end = std::find(answer.data.begin(), answer.data.end(), uint8_t{0});
    return std::string(answer.data.begin(), end);
}

ApduResponse Token::sendApdu(const Apdu& apdu) const
{
    return scard_->sendApdu(apdu);
}
