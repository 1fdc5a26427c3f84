#include "apdu/fcp.h"
#include "exception.h"
#include "hexBytes.h"

#include <gtest/gtest.h>

namespace kvfl {
namespace {

using test::concat;
using test::hex;

TEST(FcpEncoding, BuildsTheLocalPinTemplate) {
    const FCP::FcpSizeTag maxPinLength(0x20);
    const FCP::FcpDescriptorTag descriptor(FCP::DESCRIPTOR_LOCAL_PIN);
    const FCP::FcpFileIdTag fileId(5);
    const FCP::SecurityAttributesTag security(
        {0x43, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00});
    const FCP::FcpParametersTag parameters({0x21, 0x06, 0x00, 0xAA, 0x00, 0x00});

    EXPECT_EQ(FCP::encodeFcp({maxPinLength, descriptor, fileId, security, parameters}),
              hex("62 25  80 02 00 20  82 02 10 00  83 02 00 05"
                  "  86 0F 43 01 04 00 00 00 00 FF 00 05 00 00 00 00 00  85 06 21 06 00 AA 00 00"));
}

TEST(FcpEncoding, DescriptorCarriesRecordInformationWhenGiven) {
    const FCP::FcpDescriptorTag mva(FCP::DESCRIPTOR_MVA, FCP::RecordInfo{0x0120, std::nullopt});
    EXPECT_EQ(mva.encode(), hex("82 04 14 00 01 20"));
    EXPECT_EQ(mva.encodedSize(), 6u);
    const FCP::FcpDescriptorTag counted(FCP::DESCRIPTOR_MVA, FCP::RecordInfo{0x20, 3});
    EXPECT_EQ(counted.encode(), hex("82 05 14 00 00 20 03"));
}

TEST(FcpDecoding, DescriptorReadsWhatTheValueHolds) {
    const Bytes plain = hex("10 00");
    EXPECT_FALSE(FCP::FcpDescriptorTag::decode(plain).records());
    const Bytes counted = hex("14 00 00 20 03");
    const auto records = FCP::FcpDescriptorTag::decode(counted).records();
    ASSERT_TRUE(records);
    EXPECT_EQ(records->maxRecordSize, 0x20);
    EXPECT_EQ(records->recordCount, 3);
    const Bytes tooShort = hex("10");
    EXPECT_THROW(FCP::FcpDescriptorTag::decode(tooShort), Exception);
}

// The parts of an MVA file's FCP as the token answers a SELECT.
const Bytes DESCRIPTOR = hex("82 05 14 00 00 20 02");
const Bytes FILE_ID = hex("83 02 00 05");
const Bytes PARAMETERS = hex("85 06 21 00 00 A3 00 00");
const Bytes SECURITY = hex("86 0F 7B 01 01 00 FF FF 01 FF 00 00 00 00 00 00 00");
const Bytes PROFILE = hex("8F 01 81");
const Bytes RECORD_STATUS = hex("A5 05 C0 03 01 03 01");
const Bytes SIZE = hex("80 02 01 40");

Bytes wrapped(const Bytes& content) { return concat({Bytes{0x62, static_cast<uint8_t>(content.size())}, content}); }

TEST(VrRsf, ReadsAValidMvaFileWithOrWithoutTheTemplate) {
    const Bytes content = concat({DESCRIPTOR, SIZE, FILE_ID, PARAMETERS, SECURITY, PROFILE, RECORD_STATUS});
    for (const Bytes& fcp : {wrapped(content), content}) {
        const FCP::VrRsf file = FCP::parseVrRsf(fcp);
        EXPECT_EQ(file.descriptor.descriptor(), FCP::DESCRIPTOR_MVA);
        EXPECT_EQ(file.descriptor.records()->maxRecordSize, 0x20);
        EXPECT_EQ(file.descriptor.records()->recordCount, 2);
        EXPECT_EQ(file.fileId.fileId(), 5);
        EXPECT_EQ(file.parameters.maxAttempts(), 10);
        EXPECT_EQ(file.parameters.remainingAttempts(), 3);
        EXPECT_EQ(file.securityAttributes.accessMode(), 0x7B);
        EXPECT_EQ(file.recordStatus, hex("01 03 01"));
    }
}

struct BadVrRsf {
    const char* name;
    Bytes fcp;
    const char* message;
};

class VrRsfErrors : public ::testing::TestWithParam<BadVrRsf> {};

TEST_P(VrRsfErrors, ThrowsStatusOneWithTheReason) {
    try {
        FCP::parseVrRsf(GetParam().fcp);
        FAIL() << "no exception";
    } catch (const Exception& error) {
        EXPECT_EQ(error.status(), KVFLASH_INTERNAL_ERROR);
        ASSERT_EQ(error.details().size(), 1u);
        EXPECT_EQ(error.details()[0].kind, ErrorInfoKind::TlvParsing);
        EXPECT_EQ(std::get<std::string>(error.details()[0].value), GetParam().message);
    }
}

// A complete file with `replaced` in place of `original`.
Bytes with(const Bytes& original, const Bytes& replaced) {
    Bytes content;
    for (const Bytes& part : {DESCRIPTOR, FILE_ID, PARAMETERS, SECURITY, PROFILE, RECORD_STATUS}) {
        const Bytes& chosen = part == original ? replaced : part;
        content.insert(content.end(), chosen.begin(), chosen.end());
    }
    return wrapped(content);
}

const Bytes ALL = concat({DESCRIPTOR, FILE_ID, PARAMETERS, SECURITY, PROFILE, RECORD_STATUS});
constexpr const char* BAD_LENGTH = "invalid data length field in the TLV structure";

INSTANTIATE_TEST_SUITE_P(
    Failures, VrRsfErrors,
    ::testing::Values(
        BadVrRsf{"TemplateWithNeighbour", concat({wrapped(ALL), PROFILE}), "invalid FCP tlv"},
        BadVrRsf{"DuplicateTag", wrapped(concat({ALL, FILE_ID})),
                 "the TLV structure for VR-RSF contains a duplicate tag"},
        BadVrRsf{"ShortDescriptor", with(DESCRIPTOR, hex("82 01 14")), BAD_LENGTH},
        BadVrRsf{"LocalPinDescriptor", with(DESCRIPTOR, hex("82 05 10 00 00 20 02")), "invalid descriptor for VR-RSF"},
        BadVrRsf{"DescriptorWithoutRecords", with(DESCRIPTOR, hex("82 04 14 00 00 20")), BAD_LENGTH},
        BadVrRsf{"ShortFileId", with(FILE_ID, hex("83 01 05")), BAD_LENGTH},
        BadVrRsf{"ShortParameters", with(PARAMETERS, hex("85 05 21 00 00 A3 00")), BAD_LENGTH},
        BadVrRsf{"LongParameters", with(PARAMETERS, hex("85 07 21 00 00 A3 00 00 00")), BAD_LENGTH},
        BadVrRsf{"NoAttempts", with(PARAMETERS, hex("85 06 21 00 00 0F 00 00")),
                 "invalid max number of attempts in the TLV structure for VR-RSF"},
        BadVrRsf{"ElevenAttempts", with(PARAMETERS, hex("85 06 21 00 00 B0 00 00")),
                 "invalid max number of attempts in the TLV structure for VR-RSF"},
        BadVrRsf{"ShortSecurity", with(SECURITY, hex("86 02 7B 01")), BAD_LENGTH},
        BadVrRsf{"AccessMode", with(SECURITY, hex("86 0F 43 01 01 00 FF FF 01 FF 00 00 00 00 00 00 00")),
                 "unknown access mode for VR-RSF"},
        BadVrRsf{"Profile", with(PROFILE, hex("8F 01 80")), "unknown profile indicator for VR-RSF"},
        BadVrRsf{"EmptyProfile", with(PROFILE, hex("8F 00")), BAD_LENGTH},
        BadVrRsf{"NoRecordStatus", with(RECORD_STATUS, hex("")),
                 "the TLV structure doesn't contain the required tags for VR-RSF"},
        BadVrRsf{"Empty", Bytes{}, "the TLV structure doesn't contain the required tags for VR-RSF"},
        BadVrRsf{"BrokenTemplateContent", hex("62 02 82 05"), "buffer contains incomplete structure value"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VrRsf, AcceptsTheBoundsOfItsRanges) {
    EXPECT_NO_THROW(FCP::parseVrRsf(with(PARAMETERS, hex("85 06 21 00 00 10 00 00"))));
    EXPECT_NO_THROW(FCP::parseVrRsf(with(SECURITY, hex("86 0F 00 01 01 00 FF FF 01 FF 00 00 00 00 00 00 00"))));
    // unknown tags are carried past
    EXPECT_NO_THROW(FCP::parseVrRsf(wrapped(concat({hex("8A 01 05"), ALL}))));
}

TEST(FcpQueries, DescriptorIsTheFirstByteOfTag82) {
    const Bytes fcp = hex("83 02 00 05 82 02 10 00");
    EXPECT_EQ(descriptor(parseTlv(fcp, TlvMode::Ber)), 0x10);
    for (const Bytes& bad : {hex("83 02 00 05"), hex("82 00")}) {
        try {
            descriptor(parseTlv(bad, TlvMode::Ber));
            FAIL() << "no exception";
        } catch (const Exception& error) {
            EXPECT_EQ(error.status(), KVFLASH_INTERNAL_ERROR);
            EXPECT_EQ(error.detailLines().at(0), "TLV structure parsing error: \"no descriptor in FCP\"");
        }
    }
}

TEST(FcpQueries, SelectAnswerGivesFileIdAndElements) {
    const Bytes answer = hex("62 08 82 02 14 00 83 02 01 0A");
    const SelectedFile file = parseSelectAnswer(answer);
    EXPECT_EQ(file.fileId, 0x010A);
    EXPECT_EQ(descriptor(file.fcp), 0x14);
}

TEST(FcpQueries, SelectAnswerWithoutFcpOrFileIdIsAnInvalidResponse) {
    const struct {
        Bytes answer;
        const char* message;
    } cases[] = {
        {hex("6F 02 83 00"), "SELECT response doesn't contain the FCP tag"},
        {hex("62 04 82 02 14 00"), "no file identifier in FCP"},
        {hex("62 03 83 01 05"), "invalid file identifier in FCP"},
    };
    for (const auto& [answer, message] : cases) {
        try {
            parseSelectAnswer(answer);
            FAIL() << message;
        } catch (const Exception& error) {
            EXPECT_EQ(error.status(), KVFLASH_INVALID_DEVICE_RESPONSE);
            EXPECT_EQ(error.detailLines().at(0), std::string("APDU response from the device: \"") + message + "\"");
        }
    }
}

TEST(FeatureElement, ReadsLoggingAndPartitioningBits) {
    const Bytes both = hex("00 00 05");
    const Bytes loggingOnly = hex("00 00 01");
    EXPECT_TRUE(FeatureElement({0x04, both}).isSecurityEventLoggingSupported());
    EXPECT_TRUE(FeatureElement({0x04, both}).isPartitioningSupported());
    EXPECT_TRUE(FeatureElement({0x04, loggingOnly}).isSecurityEventLoggingSupported());
    EXPECT_FALSE(FeatureElement({0x04, loggingOnly}).isPartitioningSupported());
}

TEST(FeatureElement, RefusesQueriesOnAnInvalidElement) {
    const Bytes shortValue = hex("00 00");
    const Bytes value = hex("00 00 05");
    for (const FeatureElement& element : {FeatureElement({0x04, shortValue}), FeatureElement({0x05, value})}) {
        EXPECT_FALSE(element.isValid());
        try {
            element.isPartitioningSupported();
            FAIL() << "no exception";
        } catch (const InvalidState& error) {
            EXPECT_NE(std::string(error.what()).find("kvflash/apdu/fcp"), std::string::npos);
            EXPECT_NE(std::string(error.what()).find("isPartitioningSupported: isValid()"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace kvfl
