#include "apdu/apdu.h"

#include "lockedMemory.h"

#include <stdexcept>

namespace kvfl {
namespace {

// Class and instruction bytes of every command the library sends.
constexpr uint8_t CLA_ISO = 0x00;
constexpr uint8_t CLA_PROPRIETARY = 0x80;

constexpr uint8_t INS_ERASE_RECORD = 0x0C;
constexpr uint8_t INS_VERIFY = 0x20;
constexpr uint8_t INS_CHANGE_REFERENCE_DATA = 0x24;
constexpr uint8_t INS_RESET_RETRY_COUNTER = 0x2C;
constexpr uint8_t INS_RESET_ACCESS_RIGHTS = 0x40;   // proprietary
constexpr uint8_t INS_SECTIONS_ACTION = 0x53;       // proprietary
constexpr uint8_t INS_EXTENDED_TOKEN_INFO = 0x71;   // proprietary
constexpr uint8_t INS_SELECT = 0xA4;
constexpr uint8_t INS_GET_RESPONSE = 0xC0;
constexpr uint8_t INS_GET_DATA = 0xCA;
constexpr uint8_t INS_PUT_DATA = 0xDA;
constexpr uint8_t INS_UPDATE_RECORD = 0xDC;
constexpr uint8_t INS_CREATE_FILE = 0xE0;
constexpr uint8_t INS_APPEND_RECORD = 0xE2;

// P1 of the section commands.
constexpr uint8_t SECTIONS_SPLIT = 0x10;
constexpr uint8_t SECTIONS_ATTRIBUTES = 0x11;  // read (P2 00) or change (P2 01/02)
constexpr uint8_t SECTIONS_TOTAL_FLASH = 0x12;
constexpr uint8_t SECTIONS_RESET_TOKEN = 0x14;

constexpr uint8_t ACCESS_CHANGE_TEMPORARY = 0x01;
constexpr uint8_t ACCESS_CHANGE_PERMANENT = 0x02;

// References of VERIFY and RESET RETRY COUNTER.
constexpr uint8_t REF_ADMIN_PIN = 0x01;
constexpr uint8_t REF_USER_PIN = 0x02;
constexpr uint8_t REF_LOCAL_FLAG = 0x80;  // local PIN or MVA: 80 | identifier

constexpr std::size_t MAX_SHORT_DATA = 255;

Bytes bytesOf(std::span<const uint8_t> bytes) { return Bytes(bytes.begin(), bytes.end()); }

}  // namespace

Apdu::Apdu(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, std::optional<Bytes> data, std::optional<uint8_t> le)
    : header_{cla, ins, p1, p2}, data_(std::move(data)), le_(le) {
    // Lc is one byte: longer data cannot be sent as a short APDU.
    if (data_ && data_->size() > MAX_SHORT_DATA) throw std::length_error("APDU command data exceeds 255 bytes");
}

Apdu::~Apdu() {
    if (data_) wipe(*data_);
}

Bytes Apdu::encode() const {
    // One allocation: a buffer that grew would leave the data behind unwiped.
    Bytes bytes;
    bytes.reserve(sizeof header_ + 1 + (data_ ? data_->size() : 0) + 1);
    bytes.assign(std::begin(header_), std::end(header_));
    if (data_) {
        bytes.push_back(static_cast<uint8_t>(data_->size()));
        bytes.insert(bytes.end(), data_->begin(), data_->end());
    }
    if (le_) bytes.push_back(*le_);
    return bytes;
}

std::size_t Apdu::expectedResponseLength() const {
    if (!le_) return 2;
    return (*le_ == 0 ? 256u : *le_) + 2u;
}

GetDataApdu::GetDataApdu(uint8_t p1, uint8_t p2, uint8_t le) : Apdu(CLA_ISO, INS_GET_DATA, p1, p2, std::nullopt, le) {}

GetTokenSerial::GetTokenSerial() : GetDataApdu(0x01, 0x81, 0x08) {}

GetResponseApdu::GetResponseApdu(uint8_t le) : Apdu(CLA_ISO, INS_GET_RESPONSE, 0x00, 0x00, std::nullopt, le) {}

GetExtendedTokenInfoApdu::GetExtendedTokenInfoApdu()
    : Apdu(CLA_PROPRIETARY, INS_EXTENDED_TOKEN_INFO, 0x00, 0x00, std::nullopt, 0x00) {}

namespace ApduCommand {

Verify::Verify(uint8_t ref, std::span<const uint8_t> value) : Apdu(CLA_ISO, INS_VERIFY, 0x00, ref, bytesOf(value)) {}

PinLoginAdmin::PinLoginAdmin(std::span<const uint8_t> pin) : Verify(REF_ADMIN_PIN, pin) {}

PinLoginUser::PinLoginUser(std::span<const uint8_t> pin) : Verify(REF_USER_PIN, pin) {}

LCHVRSFLogin::LCHVRSFLogin(uint8_t id, std::span<const uint8_t> value) : Verify(REF_LOCAL_FLAG | id, value) {}

ResetRetryCounter::ResetRetryCounter(uint8_t ref) : Apdu(CLA_ISO, INS_RESET_RETRY_COUNTER, 0x03, ref) {}

UnblockUserPin::UnblockUserPin() : ResetRetryCounter(REF_USER_PIN) {}

UnblockLchvRsf::UnblockLchvRsf(uint8_t id) : ResetRetryCounter(REF_LOCAL_FLAG | id) {}

ResetAccessRights::ResetAccessRights() : Apdu(CLA_PROPRIETARY, INS_RESET_ACCESS_RIGHTS, 0x00, 0x00) {}

}  // namespace ApduCommand

namespace {

// 80 02 len-hi len-lo A6 len value: the new value wrapped as the token wants it.
Bytes referenceDataTemplate(std::span<const uint8_t> value) {
    Bytes data;
    data.reserve(6 + value.size());  // one allocation: the PIN is never left behind by growth
    data = {0x80, 0x02};
    appendBigEndian(data, value.size(), 2);
    data.push_back(0xA6);
    data.push_back(static_cast<uint8_t>(value.size()));
    data.insert(data.end(), value.begin(), value.end());
    return data;
}

}  // namespace

ChangeReferenceData::ChangeReferenceData(std::span<const uint8_t> newValue)
    : Apdu(CLA_ISO, INS_CHANGE_REFERENCE_DATA, 0x01, 0x00, referenceDataTemplate(newValue)) {}

PerformSectionsActionApdu::PerformSectionsActionApdu(uint8_t p1, uint8_t p2, std::optional<Bytes> data,
                                                     std::optional<uint8_t> le)
    : Apdu(CLA_PROPRIETARY, INS_SECTIONS_ACTION, p1, p2, std::move(data), le) {}

ResetToken::ResetToken() : PerformSectionsActionApdu(SECTIONS_RESET_TOKEN, 0x00) {}

SplitIntoSectionsApdu::SplitIntoSectionsApdu(Bytes elements)
    : PerformSectionsActionApdu(SECTIONS_SPLIT, 0x00, std::move(elements)) {}

ChangeAccessRights::ChangeAccessRights(uint8_t sectionId, uint8_t accessState, bool permanent)
    : PerformSectionsActionApdu(SECTIONS_ATTRIBUTES, permanent ? ACCESS_CHANGE_PERMANENT : ACCESS_CHANGE_TEMPORARY,
                                Bytes{0x82, 0x02, sectionId, accessState}) {}

GetSectionsAttributesApdu::GetSectionsAttributesApdu()
    : PerformSectionsActionApdu(SECTIONS_ATTRIBUTES, 0x00, std::nullopt, 0x00) {}

CountTotalFlashMemory::CountTotalFlashMemory()
    : PerformSectionsActionApdu(SECTIONS_TOTAL_FLASH, 0x00, std::nullopt, 0x04) {}

namespace ApduCommand {

SelectApdu::SelectApdu(uint8_t p1, uint8_t p2, std::optional<Bytes> data)
    : Apdu(CLA_ISO, INS_SELECT, p1, p2, std::move(data), 0x00) {}

namespace {

Bytes pathBytes(std::span<const uint16_t> path) {
    Bytes bytes;
    for (uint16_t fileId : path) appendBigEndian(bytes, fileId, 2);
    return bytes;
}

}  // namespace

SelectByFullPath::SelectByFullPath(std::span<const uint16_t> path) : SelectApdu(0x08, 0x04, pathBytes(path)) {}

SelectFirstFileApdu::SelectFirstFileApdu() : SelectApdu(0x00, 0x04) {}

SelectNextFileApdu::SelectNextFileApdu(uint16_t fileId) : SelectApdu(0x00, 0x06, pathBytes({&fileId, 1})) {}

JournaInformation::JournaInformation(uint8_t cla, Bytes data) : Apdu(cla, INS_PUT_DATA, 0x01, 0x7C, std::move(data)) {}

}  // namespace ApduCommand

ApduCreateFile::ApduCreateFile(Bytes fcp) : Apdu(CLA_ISO, INS_CREATE_FILE, 0x00, 0x00, std::move(fcp)) {}

AppendRecord::AppendRecord(std::span<const uint8_t> record)
    : Apdu(CLA_ISO, INS_APPEND_RECORD, 0x00, 0x00, bytesOf(record)) {}

UpdateRecord::UpdateRecord(uint8_t number, std::span<const uint8_t> record)
    : Apdu(CLA_ISO, INS_UPDATE_RECORD, number, 0x04, bytesOf(record)) {}

EraseRecord::EraseRecord(uint8_t p1, uint8_t p2) : Apdu(CLA_ISO, INS_ERASE_RECORD, p1, p2) {}

}  // namespace kvfl
