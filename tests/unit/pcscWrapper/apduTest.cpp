#include "pcscWrapper/apdu.h"
#include "scriptedPcsc.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

struct EncodingCase {
    const char* name;
    std::function<std::unique_ptr<Apdu>()> make;
    const char* bytes;
    int isoCase;
    unsigned responseLength;
};

const uint16_t kRsfFolder[] = {0x1000, 0x1001};

const EncodingCase kEncodings[] = {
    {"GetSerial", [] { return std::make_unique<GetSerialApdu>(); }, "00 CA 01 81 08", 2, 10},
    {"SelectNextFile", [] { return std::make_unique<SelectNextFileApdu>(0x1001); }, "00 A4 00 06 02 10 01 00", 4, 258},
    {"SelectUpperFolder", [] { return std::make_unique<SelectUpperFolder>(); }, "00 A4 03 04", 1, 2},
    {"SelectByEmptyPath", [] { return std::make_unique<SelectByFullPath>(std::span<const uint16_t>()); }, "00 A4 08 04 00 00", 4, 258},
    {"SelectByFullPath", [] { return std::make_unique<SelectByFullPath>(kRsfFolder); }, "00 A4 08 04 04 10 00 10 01 00", 4, 258},
    {"GetOsCrc", [] { return std::make_unique<GetOsCrcApdu>(); }, "80 7E 00 00 04", 2, 6},
    {"CheckSystemKey", [] { return std::make_unique<CheckSystemKeyApdu>(0x22); }, "80 7E 22 00", 1, 2},
    {"CheckAlg", [] { return std::make_unique<CheckAlgApdu>(0x19); }, "80 7E 19 00 04", 2, 6},
    {"CheckRsf", [] { return std::make_unique<CheckRsfApdu>(0x33); }, "80 7E 33 00 04", 2, 6},
    {"GetRsfRefChecksum", [] { return std::make_unique<GetRsfRefChecksumApdu>(0x31); }, "80 7E 31 01 04", 2, 6},
    {"GetErrorsJournal", [] { return std::make_unique<GetErrorsJournalApdu>(); }, "80 7E 41 01 0C", 2, 14},
    {"EmergencyEvent", [] { return std::make_unique<DiagnoseCardApdu>(0x42, 0x01, 0x00); }, "80 7E 42 01 00", 2, 258},
    {"GetEepromStatus", [] { return std::make_unique<GetEepromStatusApdu>(); }, "80 7E 51 01 00", 2, 258},
    {"GetIdentity", [] { return std::make_unique<GetIdentityApdu>(); }, "00 CA 01 89 0C", 2, 14},
    {"GetFreeMemory", [] { return std::make_unique<GetFreeMemoryApdu>(); }, "00 CA 01 8A 04", 2, 6},
    {"GetHardwareData", [] { return std::make_unique<GetHardwareDataApdu>(); }, "00 CA 01 8C 10", 2, 18},
    {"GetIteration", [] { return std::make_unique<GetMicroprogramIterationApdu>(); }, "00 CA 01 F1 20", 2, 34},
    {"GetModelName", [] { return std::make_unique<GetSelfIdentificationModelApdu>(); }, "00 CA 01 85 80", 2, 130},
    {"GetChangesCounter", [] { return std::make_unique<GetChangesCounterApdu>(); }, "00 CA 01 32 04", 2, 6},
    {"GetUsbCounter", [] { return std::make_unique<GetUsbConnectionCounterApdu>(); }, "00 CA 01 34 04", 2, 6},
    {"GetGlobalPinFcp", [] { return std::make_unique<GetGlobalPinFcpApdu>(0x02); }, "00 CA 01 02 26", 2, 40},
    {"SelectFirstFile", [] { return std::make_unique<SelectFirstFileApdu>(); }, "00 A4 00 04 00", 2, 258},
    {"GetChallenge", [] { return std::make_unique<GetChallengeApdu>(0x20); }, "00 84 00 00 20", 2, 34},
    {"GetExtendedInfo", [] { return std::make_unique<GetTokenExtendedInfoApdu>(); }, "80 71 00 00 00", 2, 258},
    {"ReadJournal", [] { return std::make_unique<ReadJournalApdu>(); }, "90 5D 01 00 FF", 2, 257},
    {"DataOnly", [] { return std::make_unique<Apdu>(0x00, 0xA4, 0x08, 0x04, Bytes{0x3F, 0x00}); }, "00 A4 08 04 02 3F 00", 3, 2},
    {"EmptyDataOnly", [] { return std::make_unique<Apdu>(0x00, 0xA4, 0x08, 0x04, Bytes{}); }, "00 A4 08 04 00", 3, 2},
};

class ApduEncoding : public testing::TestWithParam<EncodingCase> {};

TEST_P(ApduEncoding, BytesCaseAndResponseRoom)
{
    const auto apdu = GetParam().make();
    EXPECT_EQ(toHex(apdu->encode()), GetParam().bytes);
    EXPECT_EQ(apdu->isoCase(), GetParam().isoCase);
    EXPECT_EQ(apdu->expectedResponseLength(), GetParam().responseLength);
}

INSTANTIATE_TEST_SUITE_P(CommandTable, ApduEncoding, testing::ValuesIn(kEncodings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ApduEncoding, LcIsDataLengthModulo256)
{
    const Apdu apdu(0x00, 0xD6, 0x00, 0x00, Bytes(256, 0xAA));
    const Bytes bytes = apdu.encode();
    ASSERT_EQ(bytes.size(), 4u + 1u + 256u);
    EXPECT_EQ(bytes[4], 0x00);
}

}  // namespace
