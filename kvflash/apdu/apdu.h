// The library's command APDUs. Only short APDUs exist: command data never
// exceeds 255 bytes and Le 00 stands for 256.
#pragma once

#include "bytes.h"

#include <cstdint>
#include <optional>
#include <span>

namespace kvfl {

class Apdu {
public:
    Apdu(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
         std::optional<Bytes> data = std::nullopt, std::optional<uint8_t> le = std::nullopt);
    // Command data may hold a PIN or an MVA record: it is wiped with the command.
    virtual ~Apdu();
    Apdu(const Apdu&) = default;
    Apdu& operator=(const Apdu&) = delete;  // would free the old data unwiped

    uint8_t cla() const { return header_[0]; }
    uint8_t ins() const { return header_[1]; }
    uint8_t p1() const { return header_[2]; }
    uint8_t p2() const { return header_[3]; }
    const std::optional<Bytes>& data() const { return data_; }
    std::optional<uint8_t> le() const { return le_; }

    // CLA INS P1 P2 [Lc data] [Le]; the caller wipes it after use, since
    // the data may be a secret.
    Bytes encode() const;
    // Bytes the answer may take including SW1 SW2: 2 without Le, 258 for Le 00.
    std::size_t expectedResponseLength() const;
    bool hasDataAndLe() const { return data_.has_value() && le_.has_value(); }

private:
    uint8_t header_[4];
    std::optional<Bytes> data_;
    std::optional<uint8_t> le_;
};

// ---- Reading the token -----------------------------------------------------

class GetDataApdu : public Apdu {
public:
    GetDataApdu(uint8_t p1, uint8_t p2, uint8_t le);
};

// The token's 8-byte serial number.
class GetTokenSerial : public GetDataApdu {
public:
    GetTokenSerial();
};

// The next part of an answer that the token announced with 61xx.
class GetResponseApdu : public Apdu {
public:
    explicit GetResponseApdu(uint8_t le);
};

// Extended token information with the feature bits.
class GetExtendedTokenInfoApdu : public Apdu {
public:
    GetExtendedTokenInfoApdu();
};

// ---- Logins and PINs -------------------------------------------------------

namespace ApduCommand {

// VERIFY against reference `ref`; an empty value asks for the remaining tries.
class Verify : public Apdu {
public:
    Verify(uint8_t ref, std::span<const uint8_t> value);
};

class PinLoginAdmin : public Verify {
public:
    explicit PinLoginAdmin(std::span<const uint8_t> pin);
};

class PinLoginUser : public Verify {
public:
    explicit PinLoginUser(std::span<const uint8_t> pin);
};

// Login with a local PIN or an MVA record; id is 3..31.
class LCHVRSFLogin : public Verify {
public:
    LCHVRSFLogin(uint8_t id, std::span<const uint8_t> value);
};

class ResetRetryCounter : public Apdu {
public:
    explicit ResetRetryCounter(uint8_t ref);
};

class UnblockUserPin : public ResetRetryCounter {
public:
    UnblockUserPin();
};

class UnblockLchvRsf : public ResetRetryCounter {
public:
    explicit UnblockLchvRsf(uint8_t id);
};

// Drops every access right that logins gained.
class ResetAccessRights : public Apdu {
public:
    ResetAccessRights();
};

}  // namespace ApduCommand

// Sets a new value for the selected local PIN.
class ChangeReferenceData : public Apdu {
public:
    explicit ChangeReferenceData(std::span<const uint8_t> newValue);
};

// ---- Sections --------------------------------------------------------------

class PerformSectionsActionApdu : public Apdu {
public:
    PerformSectionsActionApdu(uint8_t p1, uint8_t p2, std::optional<Bytes> data = std::nullopt,
                              std::optional<uint8_t> le = std::nullopt);
};

// Restarts the device after a repartitioning or a permanent access change.
class ResetToken : public PerformSectionsActionApdu {
public:
    ResetToken();
};

// Repartitions the flash; elements are the encoded section descriptions.
class SplitIntoSectionsApdu : public PerformSectionsActionApdu {
public:
    explicit SplitIntoSectionsApdu(Bytes elements);
};

class ChangeAccessRights : public PerformSectionsActionApdu {
public:
    ChangeAccessRights(uint8_t sectionId, uint8_t accessState, bool permanent);
};

// Descriptions of all sections.
class GetSectionsAttributesApdu : public PerformSectionsActionApdu {
public:
    GetSectionsAttributesApdu();
};

// Total flash size, 4 bytes big-endian.
class CountTotalFlashMemory : public PerformSectionsActionApdu {
public:
    CountTotalFlashMemory();
};

// ---- Files -----------------------------------------------------------------

namespace ApduCommand {

class SelectApdu : public Apdu {
public:
    SelectApdu(uint8_t p1, uint8_t p2, std::optional<Bytes> data = std::nullopt);
};

// Select by path from the master file; each identifier goes big-endian.
class SelectByFullPath : public SelectApdu {
public:
    explicit SelectByFullPath(std::span<const uint16_t> path);
};

class SelectFirstFileApdu : public SelectApdu {
public:
    SelectFirstFileApdu();
};

class SelectNextFileApdu : public SelectApdu {
public:
    explicit SelectNextFileApdu(uint16_t fileId);
};

// PUT DATA of host information into the journal; CLA 10 chains a chunk to
// the next one, CLA 00 ends the chain.
class JournaInformation : public Apdu {
public:
    JournaInformation(uint8_t cla, Bytes data);
};

}  // namespace ApduCommand

class ApduCreateFile : public Apdu {
public:
    explicit ApduCreateFile(Bytes fcp);
};

class AppendRecord : public Apdu {
public:
    explicit AppendRecord(std::span<const uint8_t> record);
};

// Overwrites the record numbered `number`.
class UpdateRecord : public Apdu {
public:
    UpdateRecord(uint8_t number, std::span<const uint8_t> record);
};

class EraseRecord : public Apdu {
public:
    EraseRecord(uint8_t p1, uint8_t p2);
};

}  // namespace kvfl
