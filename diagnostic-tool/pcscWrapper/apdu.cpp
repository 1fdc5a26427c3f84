#include "pcscWrapper/apdu.h"

namespace {

// The tool's command bytes, one row per command.
namespace cmd {
constexpr uint8_t kDiagnoseCla = 0x80, kDiagnoseIns = 0x7E;
constexpr uint8_t kGetDataCla = 0x00, kGetDataIns = 0xCA, kGetDataP1 = 0x01;
constexpr uint8_t kSelectCla = 0x00, kSelectIns = 0xA4;
constexpr uint8_t kGetChallengeCla = 0x00, kGetChallengeIns = 0x84;
constexpr uint8_t kExtendedInfoCla = 0x80, kExtendedInfoIns = 0x71;
constexpr uint8_t kReadJournalCla = 0x90, kReadJournalIns = 0x5D;
}  // namespace cmd

Bytes fileIdBytes(std::span<const uint16_t> ids)
{
    Bytes bytes;
    bytes.reserve(ids.size() * 2);
    for (uint16_t id : ids) {
        bytes.push_back(static_cast<uint8_t>(id >> 8));
        bytes.push_back(static_cast<uint8_t>(id));
    }
    return bytes;
}

}  // namespace

Apdu::Apdu(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, std::optional<Bytes> data,
           std::optional<uint8_t> le)
    : header_{cla, ins, p1, p2}, data_(std::move(data)), le_(le)
{
}

Bytes Apdu::encode() const
{
    Bytes bytes(std::begin(header_), std::end(header_));
    if (data_) {
        bytes.push_back(static_cast<uint8_t>(data_->size() % 256));
        bytes.insert(bytes.end(), data_->begin(), data_->end());
    }
    if (le_)
        bytes.push_back(*le_);
    return bytes;
}

unsigned Apdu::expectedResponseLength() const
{
    if (!le_)
        return 2;
    return (*le_ == 0 ? 256u : *le_) + 2u;
}

int Apdu::isoCase() const
{
    if (data_)
        return le_ ? 4 : 3;
    return le_ ? 2 : 1;
}

DiagnoseCardApdu::DiagnoseCardApdu(uint8_t p1, uint8_t p2, std::optional<uint8_t> le)
    : Apdu(cmd::kDiagnoseCla, cmd::kDiagnoseIns, p1, p2, std::nullopt, le)
{
}

GetDataApdu::GetDataApdu(uint8_t p1, uint8_t p2, uint8_t le)
    : Apdu(cmd::kGetDataCla, cmd::kGetDataIns, p1, p2, std::nullopt, le)
{
}

SelectApdu::SelectApdu(uint8_t p1, uint8_t p2, std::optional<Bytes> data, std::optional<uint8_t> le)
    : Apdu(cmd::kSelectCla, cmd::kSelectIns, p1, p2, std::move(data), le)
{
}

GetOsCrcApdu::GetOsCrcApdu() : DiagnoseCardApdu(0x00, 0x00, 0x04) {}
CheckSystemKeyApdu::CheckSystemKeyApdu(uint8_t key) : DiagnoseCardApdu(key, 0x00) {}
CheckAlgApdu::CheckAlgApdu(uint8_t test) : DiagnoseCardApdu(test, 0x00, 0x04) {}
CheckRsfApdu::CheckRsfApdu(uint8_t object) : DiagnoseCardApdu(object, 0x00, 0x04) {}
GetRsfRefChecksumApdu::GetRsfRefChecksumApdu(uint8_t object) : DiagnoseCardApdu(object, 0x01, 0x04) {}
GetErrorsJournalApdu::GetErrorsJournalApdu() : DiagnoseCardApdu(0x41, 0x01, 0x0C) {}
GetEepromStatusApdu::GetEepromStatusApdu() : DiagnoseCardApdu(0x51, 0x01, 0x00) {}

GetIdentityApdu::GetIdentityApdu() : GetDataApdu(cmd::kGetDataP1, 0x89, 0x0C) {}
GetSerialApdu::GetSerialApdu() : GetDataApdu(cmd::kGetDataP1, 0x81, 0x08) {}
GetFreeMemoryApdu::GetFreeMemoryApdu() : GetDataApdu(cmd::kGetDataP1, 0x8A, 0x04) {}
GetHardwareDataApdu::GetHardwareDataApdu() : GetDataApdu(cmd::kGetDataP1, 0x8C, 0x10) {}
GetMicroprogramIterationApdu::GetMicroprogramIterationApdu() : GetDataApdu(cmd::kGetDataP1, 0xF1, 0x20) {}
GetSelfIdentificationModelApdu::GetSelfIdentificationModelApdu() : GetDataApdu(cmd::kGetDataP1, 0x85, 0x80) {}
GetChangesCounterApdu::GetChangesCounterApdu() : GetDataApdu(cmd::kGetDataP1, 0x32, 0x04) {}
GetUsbConnectionCounterApdu::GetUsbConnectionCounterApdu() : GetDataApdu(cmd::kGetDataP1, 0x34, 0x04) {}
GetGlobalPinFcpApdu::GetGlobalPinFcpApdu(uint8_t pin) : GetDataApdu(cmd::kGetDataP1, pin, 0x26) {}

SelectFirstFileApdu::SelectFirstFileApdu() : SelectApdu(0x00, 0x04, std::nullopt, 0x00) {}
SelectNextFileApdu::SelectNextFileApdu(uint16_t fileId)
    : SelectApdu(0x00, 0x06, fileIdBytes(std::span(&fileId, 1)), 0x00)
{
}
SelectUpperFolder::SelectUpperFolder() : SelectApdu(0x03, 0x04) {}
SelectByFullPath::SelectByFullPath(std::span<const uint16_t> path) : SelectApdu(0x08, 0x04, fileIdBytes(path), 0x00) {}

GetChallengeApdu::GetChallengeApdu(uint8_t length)
    : Apdu(cmd::kGetChallengeCla, cmd::kGetChallengeIns, 0x00, 0x00, std::nullopt, length)
{
}
GetTokenExtendedInfoApdu::GetTokenExtendedInfoApdu()
    : Apdu(cmd::kExtendedInfoCla, cmd::kExtendedInfoIns, 0x00, 0x00, std::nullopt, 0x00)
{
}
ReadJournalApdu::ReadJournalApdu() : Apdu(cmd::kReadJournalCla, cmd::kReadJournalIns, 0x01, 0x00, std::nullopt, 0xFF) {}
