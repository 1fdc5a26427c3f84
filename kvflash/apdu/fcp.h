// File control parameters (FCP): the tags the library builds for CREATE FILE
// and reads back from SELECT, the checks of a verification-reference file
// (local PIN or MVA), and the feature bits of the extended token information.
// The profile indicator (8F) and the record-status template (A5) are only
// ever read, so they are checked where the FCP is read.
#pragma once

#include "apdu/tlv.h"
#include "bytes.h"

#include <array>
#include <functional>
#include <initializer_list>
#include <cstdint>
#include <optional>
#include <span>

namespace kvfl {
namespace FCP {

inline constexpr uint8_t TAG_FCP_TEMPLATE = 0x62;
inline constexpr uint8_t TAG_SIZE = 0x80;
inline constexpr uint8_t TAG_DESCRIPTOR = 0x82;
inline constexpr uint8_t TAG_FILE_ID = 0x83;
inline constexpr uint8_t TAG_PARAMETERS = 0x85;
inline constexpr uint8_t TAG_SECURITY_ATTRIBUTES = 0x86;
inline constexpr uint8_t TAG_PROFILE_INDICATOR = 0x8F;
inline constexpr uint8_t TAG_RECORD_STATUS = 0xA5;
inline constexpr uint8_t TAG_RECORD_STATUS_BYTES = 0xC0;

inline constexpr uint8_t PROFILE_INDICATOR = 0x81;

inline constexpr uint8_t DESCRIPTOR_LOCAL_PIN = 0x10;
inline constexpr uint8_t DESCRIPTOR_MVA = 0x14;

class FcpTag {
public:
    FcpTag(uint8_t tag, uint8_t length) : tag_(tag), length_(length) {}
    // tag, length, value
    virtual Bytes encode() const;
    virtual ~FcpTag() = default;
    virtual std::size_t encodedSize() const { return length_ + 2u; }

    uint8_t tag() const { return tag_; }
    uint8_t length() const { return length_; }

protected:
    virtual Bytes value() const = 0;

private:
    uint8_t tag_;
    uint8_t length_;
};

// A tag whose value is one 16-bit big-endian number.
class FcpNumberTag : public FcpTag {
public:
    FcpNumberTag(uint8_t tag, uint16_t number) : FcpTag(tag, 2), number_(number) {}

protected:
    uint16_t number() const { return number_; }
    Bytes value() const override;

private:
    uint16_t number_;
};

// A tag whose value is a fixed number of bytes, carried as they come.
template <std::size_t N>
class FcpBytesTag : public FcpTag {
public:
    FcpBytesTag(uint8_t tag, std::array<uint8_t, N> bytes) : FcpTag(tag, N), bytes_(bytes) {}
    const std::array<uint8_t, N>& bytes() const { return bytes_; }

protected:
    Bytes value() const override { return Bytes(bytes_.begin(), bytes_.end()); }

private:
    std::array<uint8_t, N> bytes_;
};

// 80: a size: of a file's data, or the longest PIN.
class FcpSizeTag : public FcpNumberTag {
public:
    explicit FcpSizeTag(uint16_t size) : FcpNumberTag(TAG_SIZE, size) {}
    uint16_t size() const { return number(); }
};

struct RecordInfo {
    uint16_t maxRecordSize;
    std::optional<uint8_t> recordCount;
};

// 82: descriptor byte, data coding 00, optional record information.
class FcpDescriptorTag : public FcpTag {
public:
    explicit FcpDescriptorTag(uint8_t descriptor, std::optional<RecordInfo> records = std::nullopt);
    // Reads the descriptor and, when the value is long enough, the maximum
    // record size (bytes 2-3) and the number of records (byte 4); status 1
    // when the value is shorter than 2 bytes.
    static FcpDescriptorTag decode(std::span<const uint8_t> value);

    uint8_t descriptor() const { return descriptor_; }
    const std::optional<RecordInfo>& records() const { return records_; }

protected:
    Bytes value() const override;

private:
    uint8_t descriptor_;
    std::optional<RecordInfo> records_;
};

// 83: file identifier.
class FcpFileIdTag : public FcpNumberTag {
public:
    explicit FcpFileIdTag(uint16_t fileId) : FcpNumberTag(TAG_FILE_ID, fileId) {}
    uint16_t fileId() const { return number(); }
};

// 85: six proprietary bytes; byte 3 holds the maximum (high nibble) and the
// remaining (low nibble) attempts.
class FcpParametersTag : public FcpBytesTag<6> {
public:
    explicit FcpParametersTag(std::array<uint8_t, 6> bytes) : FcpBytesTag(TAG_PARAMETERS, bytes) {}
    uint8_t maxAttempts() const { return bytes()[3] >> 4; }
    uint8_t remainingAttempts() const { return bytes()[3] & 0x0F; }
};

// 86: access-mode byte and two 7-byte blocks.
class SecurityAttributesTag : public FcpBytesTag<15> {
public:
    explicit SecurityAttributesTag(std::array<uint8_t, 15> bytes) : FcpBytesTag(TAG_SECURITY_ATTRIBUTES, bytes) {}
    uint8_t accessMode() const { return bytes()[0]; }
};

// 62 L followed by the encoded tags, in the order given.
Bytes encodeFcp(std::initializer_list<std::reference_wrapper<const FcpTag>> tags);

// A verification-reference file (local PIN or MVA) read back with SELECT.
struct VrRsf {
    FcpDescriptorTag descriptor;
    FcpFileIdTag fileId;
    FcpParametersTag parameters;
    SecurityAttributesTag securityAttributes;
    Bytes recordStatus;  // the C0 bytes of tag A5
};

// Checks the FCP of an MVA file (either the whole 62 template or its
// content); throws kvfl::Exception status 1 with the reason.
VrRsf parseVrRsf(std::span<const uint8_t> fcp);

}  // namespace FCP

// The descriptor byte of an FCP's elements (status 1 without tag 82).
uint8_t descriptor(const TlvElements& fcpElements);

// What a SELECT answer says about the selected file.
struct SelectedFile {
    uint16_t fileId;
    TlvElements fcp;  // elements inside tag 62, views into the answer
};

// Status 100024 when the answer has no FCP template or no file identifier.
SelectedFile parseSelectAnswer(std::span<const uint8_t> answer);

// Element 04 inside tag 40 of the extended token information.
class FeatureElement {
public:
    explicit FeatureElement(const TlvElement& element) : element_(element) {}
    bool isValid() const;
    // Both throw InvalidState on an invalid element.
    bool isSecurityEventLoggingSupported() const;
    bool isPartitioningSupported() const;

private:
    bool featureBit(int bit, const char* operation) const;
    TlvElement element_;
};

}  // namespace kvfl
