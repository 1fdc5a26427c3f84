#include "pcscWrapper/token.h"

#include "utils/hexText.h"

#include <boost/exception/exception.hpp>
#include <boost/throw_exception.hpp>

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

// A section listing or switch that failed; the library's status is not shown.
[[noreturn]] void throwDefaultError(const boost::source_location& site)
{
    boost::throw_exception(std::runtime_error("Default error message"), site);
}

}  // namespace

KvFlashException::KvFlashException(kvflash_StatusCode code, ThrowSite site)
    : ApplicationException(site), code_(static_cast<int32_t>(code)),
      message_("some kvflash error acquired:" + errorCodeText(code_))
{
}

std::string_view modelName(TokenModel model)
{
    const auto row = std::find_if(std::begin(kModelNames), std::end(kModelNames),
                                  [model](const ModelName& r) { return r.model == model; });
    return row == std::end(kModelNames) ? "Unknown model" : row->name;
}

Token::Token(std::shared_ptr<Scard> scard, FlashLibrary& flashLibrary)
    : scard_(std::move(scard)), flashLibrary_(&flashLibrary)
{
    const ApduResponse answer = sendApdu(GetIdentityApdu());
    if (answer.sw != kSwSuccess)
        throw std::runtime_error("Failed to get token identity data.");
    if (answer.data.size() < kIdentityLength)
        throw std::runtime_error("Wrong token identity data length.");
    identity_ = parseIdentity(answer.data);
    attachFlash(getSerial());
}

// The library opens its own connection to the device with this serial; a
// serial it does not find is a token without flash access.
void Token::attachFlash(uint64_t serial)
{
    kvflash_TokenImpl_* handle = nullptr;
    const kvflash_StatusCode created = flashLibrary_->createToken(serial, &handle);
    if (created == KVFLASH_TOKEN_NOT_FOUND)
        return;
    if (created != KVFLASH_OK)
        throw KvFlashException(created, KV_THROW_SITE);
    FlashLibrary* library = flashLibrary_;
    flash_.reset(handle, [library](kvflash_TokenImpl_* owned) { library->destroyToken(&owned); });
    if (const kvflash_StatusCode status = flashLibrary_->isTokenSupported(flash_.get(), &flashSupported_);
        status != KVFLASH_OK)
        throw KvFlashException(status, KV_THROW_SITE);
}

kvflash_Section Token::getJournalSection() const
{
    kvflash_Section* sections = nullptr;
    uint32_t count = 0;
    if (flashLibrary_->createSectionList(flash_.get(), &sections, &count) != KVFLASH_OK)
        throwDefaultError(BOOST_CURRENT_LOCATION);
    const kvflash_Section* begin = sections;
    const kvflash_Section* end = begin + count;
    const kvflash_Section* journal = std::find_if(begin, end, [](const kvflash_Section& section) {
        return section.type == KVFLASH_SECTION_JOURNAL_EVENTS;
    });
    const std::optional<kvflash_Section> found = journal == end ? std::nullopt : std::optional(*journal);
    if (sections && flashLibrary_->destroySectionList(&sections) != KVFLASH_OK)
        throwDefaultError(BOOST_CURRENT_LOCATION);
    if (!found)
        throw std::runtime_error("No journal events section found");
    return *found;
}

void Token::changeAccessSectionRights(const kvflash_Section& section, kvflash_SectionAccessState state,
                                      bool permanent) const
{
    if (flashLibrary_->changeSectionAccessRights(flash_.get(), section.id, state, permanent) != KVFLASH_OK)
        throwDefaultError(BOOST_CURRENT_LOCATION);
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
