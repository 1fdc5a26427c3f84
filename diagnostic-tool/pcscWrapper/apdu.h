#pragma once

#include "utils/bytes.h"

#include <cstdint>
#include <optional>
#include <span>

// One short ISO 7816-4 command: one-byte Lc, one-byte Le (0x00 asks for 256).
class Apdu {
public:
    Apdu(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
         std::optional<Bytes> data = std::nullopt, std::optional<uint8_t> le = std::nullopt);
    virtual ~Apdu() = default;

    Bytes encode() const;
    // Receive room for the answer, status word included.
    unsigned expectedResponseLength() const;
    // 1: header only, 2: Le only, 3: data only, 4: data and Le.
    int isoCase() const;

    uint8_t cla() const { return header_[0]; }
    uint8_t ins() const { return header_[1]; }
    uint8_t p1() const { return header_[2]; }
    uint8_t p2() const { return header_[3]; }
    const std::optional<Bytes>& data() const { return data_; }
    const std::optional<uint8_t>& le() const { return le_; }

private:
    uint8_t header_[4];
    std::optional<Bytes> data_;
    std::optional<uint8_t> le_;
};

// The status word of a command the token carried out.
constexpr uint16_t kSwSuccess = 0x9000;
// The token does not offer the function or the data asked for.
constexpr uint16_t kSwFunctionNotSupported = 0x6A81;

struct ApduResponse {
    uint16_t sw = 0;
    Bytes data;
};

// The token's proprietary diagnostic function (80 7E), never with data.
class DiagnoseCardApdu : public Apdu {
public:
    DiagnoseCardApdu(uint8_t p1, uint8_t p2, std::optional<uint8_t> le = std::nullopt);
};

class GetDataApdu : public Apdu {
public:
    GetDataApdu(uint8_t p1, uint8_t p2, uint8_t le);
};

class SelectApdu : public Apdu {
public:
    SelectApdu(uint8_t p1, uint8_t p2, std::optional<Bytes> data = std::nullopt,
               std::optional<uint8_t> le = std::nullopt);
};

struct GetOsCrcApdu : DiagnoseCardApdu { GetOsCrcApdu(); };
struct CheckSystemKeyApdu : DiagnoseCardApdu { explicit CheckSystemKeyApdu(uint8_t key); };
struct CheckAlgApdu : DiagnoseCardApdu { explicit CheckAlgApdu(uint8_t test); };
struct CheckRsfApdu : DiagnoseCardApdu { explicit CheckRsfApdu(uint8_t object); };
struct GetRsfRefChecksumApdu : DiagnoseCardApdu { explicit GetRsfRefChecksumApdu(uint8_t object); };
struct GetErrorsJournalApdu : DiagnoseCardApdu { GetErrorsJournalApdu(); };
struct GetEepromStatusApdu : DiagnoseCardApdu { GetEepromStatusApdu(); };

struct GetIdentityApdu : GetDataApdu { GetIdentityApdu(); };
struct GetSerialApdu : GetDataApdu { GetSerialApdu(); };
struct GetFreeMemoryApdu : GetDataApdu { GetFreeMemoryApdu(); };
struct GetHardwareDataApdu : GetDataApdu { GetHardwareDataApdu(); };
struct GetMicroprogramIterationApdu : GetDataApdu { GetMicroprogramIterationApdu(); };
struct GetSelfIdentificationModelApdu : GetDataApdu { GetSelfIdentificationModelApdu(); };
struct GetChangesCounterApdu : GetDataApdu { GetChangesCounterApdu(); };
struct GetUsbConnectionCounterApdu : GetDataApdu { GetUsbConnectionCounterApdu(); };
struct GetGlobalPinFcpApdu : GetDataApdu { explicit GetGlobalPinFcpApdu(uint8_t pin); };

struct SelectFirstFileApdu : SelectApdu { SelectFirstFileApdu(); };
struct SelectNextFileApdu : SelectApdu { explicit SelectNextFileApdu(uint16_t fileId); };
struct SelectUpperFolder : SelectApdu { SelectUpperFolder(); };
struct SelectByFullPath : SelectApdu { explicit SelectByFullPath(std::span<const uint16_t> path); };

struct GetChallengeApdu : Apdu { explicit GetChallengeApdu(uint8_t length); };
struct GetTokenExtendedInfoApdu : Apdu { GetTokenExtendedInfoApdu(); };
struct ReadJournalApdu : Apdu { ReadJournalApdu(); };
