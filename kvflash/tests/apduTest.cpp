#include "apdu/apdu.h"
#include "apdu/response.h"
#include "exception.h"
#include "hexBytes.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>

namespace kvfl {
namespace {

using test::hex;

const Bytes PIN = hex("31 32 33 34 35 36");
const Bytes RECORD = hex("AA BB");

struct EncodingCase {
    const char* name;
    std::function<std::unique_ptr<Apdu>()> make;
    const char* bytes;
};

class ApduEncoding : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(ApduEncoding, EncodesTheCommandBytes) { EXPECT_EQ(GetParam().make()->encode(), hex(GetParam().bytes)); }

template <typename T, typename... Args>
std::function<std::unique_ptr<Apdu>()> make(Args... args) {
    return [=] { return std::make_unique<T>(args...); };
}

const uint16_t LOCAL_DIRECTORY[] = {0x1000, 0x1000, 0x6005, 0x0004};

INSTANTIATE_TEST_SUITE_P(
    CommandTable, ApduEncoding,
    ::testing::Values(
        EncodingCase{"GetData", make<GetDataApdu>(uint8_t{0x01}, uint8_t{0x02}, uint8_t{0x10}), "00 CA 01 02 10"},
        EncodingCase{"TokenSerial", make<GetTokenSerial>(), "00 CA 01 81 08"},
        EncodingCase{"GetResponse", make<GetResponseApdu>(uint8_t{0x10}), "00 C0 00 00 10"},
        EncodingCase{"ExtendedInfo", make<GetExtendedTokenInfoApdu>(), "80 71 00 00 00"},
        EncodingCase{"AdminLogin", make<ApduCommand::PinLoginAdmin>(PIN), "00 20 00 01 06 31 32 33 34 35 36"},
        EncodingCase{"UserLogin", make<ApduCommand::PinLoginUser>(PIN), "00 20 00 02 06 31 32 33 34 35 36"},
        EncodingCase{"AttemptsQuery", make<ApduCommand::PinLoginUser>(Bytes{}), "00 20 00 02 00"},
        EncodingCase{"LocalLogin", make<ApduCommand::LCHVRSFLogin>(uint8_t{5}, RECORD), "00 20 00 85 02 AA BB"},
        EncodingCase{"ChangeReference", make<ChangeReferenceData>(PIN),
                     "00 24 01 00 0C 80 02 00 06 A6 06 31 32 33 34 35 36"},
        EncodingCase{"UnblockUser", make<ApduCommand::UnblockUserPin>(), "00 2C 03 02"},
        EncodingCase{"UnblockLocal", make<ApduCommand::UnblockLchvRsf>(uint8_t{31}), "00 2C 03 9F"},
        EncodingCase{"ResetAccessRights", make<ApduCommand::ResetAccessRights>(), "80 40 00 00"},
        EncodingCase{"ResetToken", make<ResetToken>(), "80 53 14 00"},
        EncodingCase{"Split", make<SplitIntoSectionsApdu>(hex("80 01 AA")), "80 53 10 00 03 80 01 AA"},
        EncodingCase{"TemporaryAccess", make<ChangeAccessRights>(uint8_t{2}, uint8_t{1}, false),
                     "80 53 11 01 04 82 02 02 01"},
        EncodingCase{"PermanentAccess", make<ChangeAccessRights>(uint8_t{3}, uint8_t{5}, true),
                     "80 53 11 02 04 82 02 03 05"},
        EncodingCase{"SectionAttributes", make<GetSectionsAttributesApdu>(), "80 53 11 00 00"},
        EncodingCase{"TotalFlash", make<CountTotalFlashMemory>(), "80 53 12 00 04"},
        EncodingCase{"SelectPath", [] { return std::make_unique<ApduCommand::SelectByFullPath>(LOCAL_DIRECTORY); },
                     "00 A4 08 04 08 10 00 10 00 60 05 00 04 00"},
        EncodingCase{"SelectFirst", make<ApduCommand::SelectFirstFileApdu>(), "00 A4 00 04 00"},
        EncodingCase{"SelectNext", make<ApduCommand::SelectNextFileApdu>(uint16_t{0x0102}), "00 A4 00 06 02 01 02 00"},
        EncodingCase{"CreateFile", make<ApduCreateFile>(hex("62 00")), "00 E0 00 00 02 62 00"},
        EncodingCase{"AppendRecord", make<AppendRecord>(RECORD), "00 E2 00 00 02 AA BB"},
        EncodingCase{"UpdateRecord", make<UpdateRecord>(uint8_t{2}, RECORD), "00 DC 02 04 02 AA BB"},
        EncodingCase{"EraseRecord", make<EraseRecord>(uint8_t{1}, uint8_t{5}), "00 0C 01 05"},
        EncodingCase{"JournalChunk", make<ApduCommand::JournaInformation>(uint8_t{0x10}, hex("A5 01 C1")),
                     "10 DA 01 7C 03 A5 01 C1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Apdu, ExpectedResponseLengthFollowsLe) {
    EXPECT_EQ(ApduCommand::ResetAccessRights().expectedResponseLength(), 2u);
    EXPECT_EQ(GetTokenSerial().expectedResponseLength(), 10u);
    EXPECT_EQ(GetSectionsAttributesApdu().expectedResponseLength(), 258u);  // Le 00 is 256
}

TEST(Apdu, KnowsWhenItCarriesDataAndLe) {
    EXPECT_TRUE(ApduCommand::SelectNextFileApdu(3).hasDataAndLe());
    EXPECT_FALSE(ApduCommand::SelectFirstFileApdu().hasDataAndLe());
    EXPECT_FALSE(AppendRecord(RECORD).hasDataAndLe());
}

TEST(Apdu, RefusesDataLongerThanAShortApduCarries) {
    EXPECT_NO_THROW(AppendRecord(Bytes(255, 0)));
    EXPECT_THROW(AppendRecord(Bytes(256, 0)), std::length_error);
}

TEST(Response, RaisesTheStatusWordAsApduException) {
    Response ok{0x9000, {}};
    EXPECT_TRUE(ok.is(0x9000));
    EXPECT_NO_THROW(ok.require());

    Response denied{0x6982, {}};
    EXPECT_TRUE(denied.isNot(0x9000));
    try {
        denied.require();
        FAIL() << "no exception";
    } catch (const ApduException& error) {
        EXPECT_EQ(error.status(), KVFLASH_INVALID_ACCESS_RIGHTS);
        EXPECT_EQ(error.statusWord(), 0x6982);
    }
    EXPECT_NO_THROW(Response({0x6D00, {}}).require(0x6D00));
}

}  // namespace
}  // namespace kvfl
