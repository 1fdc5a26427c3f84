#include "apdu/fcp.h"

#include "exception.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace kvfl {
namespace FCP {
namespace {

[[noreturn]] void fcpError(const char* message) {
    fail(KVFLASH_INTERNAL_ERROR, ErrorInfoKind::TlvParsing, std::string(message));
}

constexpr const char* INVALID_LENGTH = "invalid data length field in the TLV structure";

uint8_t descriptorLength(const std::optional<RecordInfo>& records) {
    if (!records) return 2;
    return records->recordCount ? 5 : 4;
}

template <std::size_t N>
std::array<uint8_t, N> exactly(std::span<const uint8_t> value) {
    if (value.size() != N) fcpError(INVALID_LENGTH);
    std::array<uint8_t, N> bytes;
    std::ranges::copy(value, bytes.begin());
    return bytes;
}

}  // namespace

Bytes FcpTag::encode() const {
    Bytes bytes{tag_, length_};
    Bytes content = value();
    bytes.insert(bytes.end(), content.begin(), content.end());
    return bytes;
}

Bytes FcpNumberTag::value() const {
    Bytes bytes;
    appendBigEndian(bytes, number_, 2);
    return bytes;
}

FcpDescriptorTag::FcpDescriptorTag(uint8_t descriptor, std::optional<RecordInfo> records)
    : FcpTag(TAG_DESCRIPTOR, descriptorLength(records)), descriptor_(descriptor), records_(records) {}

FcpDescriptorTag FcpDescriptorTag::decode(std::span<const uint8_t> value) {
    if (value.size() < 2) fcpError(INVALID_LENGTH);
    std::optional<RecordInfo> records;
    if (value.size() >= 4) {
        records = RecordInfo{static_cast<uint16_t>(readBigEndian(value.subspan(2, 2))), std::nullopt};
        if (value.size() >= 5) records->recordCount = value[4];
    }
    return FcpDescriptorTag(value[0], records);
}

Bytes FcpDescriptorTag::value() const {
    Bytes bytes{descriptor_, 0x00};
    if (records_) {
        appendBigEndian(bytes, records_->maxRecordSize, 2);
        if (records_->recordCount) bytes.push_back(*records_->recordCount);
    }
    return bytes;
}

Bytes encodeFcp(std::initializer_list<std::reference_wrapper<const FcpTag>> tags) {
    Bytes content;
    for (const FcpTag& tag : tags) {
        Bytes encoded = tag.encode();
        content.insert(content.end(), encoded.begin(), encoded.end());
    }
    // one length byte: the short BER form ends at 7F
    if (content.size() >= 0x80) throw std::length_error("FCP too long for a one-byte length");
    Bytes fcp{TAG_FCP_TEMPLATE, static_cast<uint8_t>(content.size())};
    fcp.insert(fcp.end(), content.begin(), content.end());
    return fcp;
}

namespace {

// The FCP's elements: the content of a 62 template, or the buffer's own.
TlvElements vrRsfElements(std::span<const uint8_t> fcp) {
    TlvElements elements = parseTlv(fcp, TlvMode::Ber);
    if (elements.empty() || elements.front().tag != TAG_FCP_TEMPLATE) return elements;
    if (elements.size() != 1) fcpError("invalid FCP tlv");
    return parseTlv(elements.front().value, TlvMode::Ber);
}

FcpDescriptorTag vrRsfDescriptor(std::span<const uint8_t> value) {
    FcpDescriptorTag descriptor = FcpDescriptorTag::decode(value);
    if (descriptor.descriptor() != DESCRIPTOR_MVA) fcpError("invalid descriptor for VR-RSF");
    if (value.size() < 5) fcpError(INVALID_LENGTH);
    return descriptor;
}

FcpFileIdTag vrRsfFileId(std::span<const uint8_t> value) {
    if (value.size() < 2) fcpError(INVALID_LENGTH);
    return FcpFileIdTag(static_cast<uint16_t>(readBigEndian(value.first(2))));
}

FcpParametersTag vrRsfParameters(std::span<const uint8_t> value) {
    FcpParametersTag parameters(exactly<6>(value));
    // the maximum number of attempts (high nibble) is 1..10
    if (parameters.maxAttempts() < 1 || parameters.maxAttempts() > 10) {
        fcpError("invalid max number of attempts in the TLV structure for VR-RSF");
    }
    return parameters;
}

SecurityAttributesTag vrRsfSecurityAttributes(std::span<const uint8_t> value) {
    SecurityAttributesTag attributes(exactly<15>(value));
    if (attributes.accessMode() != 0x00 && attributes.accessMode() != 0x7B) {
        fcpError("unknown access mode for VR-RSF");
    }
    return attributes;
}

void checkProfileIndicator(std::span<const uint8_t> value) {
    if (value.empty()) fcpError(INVALID_LENGTH);
    if (value[0] != PROFILE_INDICATOR) fcpError("unknown profile indicator for VR-RSF");
}

Bytes recordStatusBytes(std::span<const uint8_t> value) {
    const TlvElements elements = parseTlv(value, TlvMode::Ber);
    const TlvElement* statusBytes = findTlv(elements, TAG_RECORD_STATUS_BYTES);
    if (!statusBytes) return {};
    return Bytes(statusBytes->value.begin(), statusBytes->value.end());
}

constexpr uint8_t VR_RSF_TAGS[] = {TAG_DESCRIPTOR,          TAG_FILE_ID,           TAG_PARAMETERS,
                                   TAG_SECURITY_ATTRIBUTES, TAG_PROFILE_INDICATOR, TAG_RECORD_STATUS};

}  // namespace

VrRsf parseVrRsf(std::span<const uint8_t> fcp) {
    std::optional<FcpDescriptorTag> descriptor;
    std::optional<FcpFileIdTag> fileId;
    std::optional<FcpParametersTag> parameters;
    std::optional<SecurityAttributesTag> securityAttributes;
    std::optional<Bytes> recordStatus;
    bool profileIndicator = false;
    std::vector<uint8_t> seen;

    for (const TlvElement& element : vrRsfElements(fcp)) {
        if (std::ranges::find(VR_RSF_TAGS, element.tag) == std::end(VR_RSF_TAGS)) continue;
        if (std::ranges::find(seen, element.tag) != seen.end()) {
            fcpError("the TLV structure for VR-RSF contains a duplicate tag");
        }
        seen.push_back(element.tag);
        switch (element.tag) {
            case TAG_DESCRIPTOR: descriptor = vrRsfDescriptor(element.value); break;
            case TAG_FILE_ID: fileId = vrRsfFileId(element.value); break;
            case TAG_PARAMETERS: parameters = vrRsfParameters(element.value); break;
            case TAG_SECURITY_ATTRIBUTES: securityAttributes = vrRsfSecurityAttributes(element.value); break;
            case TAG_PROFILE_INDICATOR:
                checkProfileIndicator(element.value);
                profileIndicator = true;
                break;
            case TAG_RECORD_STATUS: recordStatus = recordStatusBytes(element.value); break;
        }
    }
    if (!descriptor || !fileId || !parameters || !securityAttributes || !profileIndicator || !recordStatus) {
        fcpError("the TLV structure doesn't contain the required tags for VR-RSF");
    }
    return VrRsf{*descriptor, *fileId, *parameters, *securityAttributes, std::move(*recordStatus)};
}

}  // namespace FCP

uint8_t descriptor(const TlvElements& fcpElements) {
    const TlvElement* element = findTlv(fcpElements, FCP::TAG_DESCRIPTOR);
    if (!element || element->value.empty()) {
        fail(KVFLASH_INTERNAL_ERROR, ErrorInfoKind::TlvParsing, std::string("no descriptor in FCP"));
    }
    return element->value[0];
}

namespace {

[[noreturn]] void invalidSelectAnswer(const char* message) {
    fail(KVFLASH_INVALID_DEVICE_RESPONSE, ErrorInfoKind::ApduResponse, std::string(message));
}

}  // namespace

SelectedFile parseSelectAnswer(std::span<const uint8_t> answer) {
    const TlvElements elements = parseTlv(answer, TlvMode::Ber);
    const TlvElement* fcpTemplate = findTlv(elements, FCP::TAG_FCP_TEMPLATE);
    if (!fcpTemplate) invalidSelectAnswer("SELECT response doesn't contain the FCP tag");
    TlvElements fcp = parseTlv(fcpTemplate->value, TlvMode::Ber);
    const TlvElement* fileId = findTlv(fcp, FCP::TAG_FILE_ID);
    if (!fileId) invalidSelectAnswer("no file identifier in FCP");
    // a shorter value would be read past its end
    if (fileId->value.size() < 2) invalidSelectAnswer("invalid file identifier in FCP");
    return {static_cast<uint16_t>(readBigEndian(fileId->value.first(2))), std::move(fcp)};
}

namespace {

constexpr uint8_t TAG_FEATURES = 0x04;
constexpr std::size_t FEATURE_BYTE = 2;
constexpr int BIT_SECURITY_EVENT_LOGGING = 0;
constexpr int BIT_PARTITIONING = 2;

}  // namespace

bool FeatureElement::isValid() const { return element_.tag == TAG_FEATURES && element_.value.size() > FEATURE_BYTE; }

bool FeatureElement::featureBit(int bit, const char* operation) const {
    if (!isValid()) {
        throw InvalidState("kvflash/apdu/fcp.cpp(" + std::to_string(__LINE__) + "): " + operation + ": isValid()");
    }
    return (element_.value[FEATURE_BYTE] >> bit & 1) != 0;
}

bool FeatureElement::isSecurityEventLoggingSupported() const {
    return featureBit(BIT_SECURITY_EVENT_LOGGING, "isSecurityEventLoggingSupported");
}

bool FeatureElement::isPartitioningSupported() const {
    return featureBit(BIT_PARTITIONING, "isPartitioningSupported");
}

}  // namespace kvfl
