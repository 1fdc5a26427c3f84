#include "exception.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kvfl {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

TEST(StatusMessages, EveryCodeHasItsText) {
    EXPECT_EQ(statusMessage(KVFLASH_OK), "Command executed successfully");
    EXPECT_EQ(statusMessage(KVFLASH_NULL_POINTER), "Passed pointer is nil");
    EXPECT_EQ(statusMessage(KVFLASH_MODE_NOT_SUPPORTED), "Mode of command isn't supported by the device");
    EXPECT_EQ(statusMessage(KVFLASH_INVALID_PIN_SIZE), "Invalid PIN-code size");
    EXPECT_EQ(statusMessage(KVFLASH_JOURNAL_READ_ONLY_SWITCH_FORBIDDEN),
              "The journal section can't be created with forbidden temporarily swiching to read-only mode");
}

TEST(StatusMessages, UnknownCodesHaveNoText) {
    EXPECT_EQ(statusMessage(100020), "");
    EXPECT_EQ(statusMessage(6019), "");
    EXPECT_EQ(statusMessage(-1), "");
}

struct SwCase {
    uint16_t sw;
    kvflash_StatusCode status;
};

class SwToStatus : public ::testing::TestWithParam<SwCase> {};

TEST_P(SwToStatus, MapsTheWord) { EXPECT_EQ(swToStatus(GetParam().sw), GetParam().status); }

INSTANTIATE_TEST_SUITE_P(Table, SwToStatus,
                         ::testing::Values(SwCase{0x6300, KVFLASH_DATA_VERIFICATION_FAILED},
                                           SwCase{0x6381, KVFLASH_NO_SPACE_FOR_RECORD},
                                           SwCase{0x6982, KVFLASH_INVALID_ACCESS_RIGHTS},
                                           SwCase{0x6983, KVFLASH_OBJECT_BLOCKED},
                                           SwCase{0x6A82, KVFLASH_FILE_NOT_FOUND},
                                           SwCase{0x6A84, KVFLASH_NOT_ENOUGH_MEMORY},
                                           SwCase{0x6D00, KVFLASH_COMMAND_NOT_SUPPORTED},
                                           SwCase{0x6F8D, KVFLASH_PIN_IN_HISTORY},
                                           // words the table does not know
                                           SwCase{0x6A88, KVFLASH_INTERNAL_ERROR},
                                           SwCase{0x9000, KVFLASH_INTERNAL_ERROR},
                                           SwCase{0x63C3, KVFLASH_INTERNAL_ERROR}));

TEST(Exception, FormatsDetailLinesOnlyForLabelledKinds) {
    Exception error(KVFLASH_INVALID_SECRET_ID,
                    {{ErrorInfoKind::SecretIdRange, std::string("local PIN and MVA: [3, 31]")},
                     {static_cast<ErrorInfoKind>(99), int64_t{5}},
                     {ErrorInfoKind::SecretId, int64_t{0x1FFFFFFFF}}});

    EXPECT_EQ(error.status(), KVFLASH_INVALID_SECRET_ID);
    EXPECT_STREQ(error.what(), "Invalid secret ID");
    EXPECT_EQ(error.details().size(), 3u);
    // integers show the signed value of their low 32 bits
    EXPECT_THAT(error.detailLines(), ElementsAre("Valid range of secret ID values: \"local PIN and MVA: [3, 31]\"",
                                                 "Secret ID: -1"));
}

TEST(Exception, CopyKeepsEverything) {
    Exception original(KVFLASH_INVALID_SECTION_SIZE, {{ErrorInfoKind::SectionSize, int64_t{7}}});
    Exception copy = original;
    EXPECT_EQ(copy.status(), original.status());
    EXPECT_EQ(copy.message(), original.message());
    EXPECT_EQ(copy.detailLines(), original.detailLines());
    EXPECT_EQ(copy.details().size(), 1u);
}

TEST(Exception, CodeOutsideTheTableHasAnEmptyMessage) {
    Exception error(static_cast<kvflash_StatusCode>(100020));
    EXPECT_STREQ(error.what(), "");
}

TEST(PcscException, CarriesLocationCodeAndHex) {
    PcscException error(0x80100068);  // SCARD_W_RESET_CARD
    EXPECT_EQ(error.status(), KVFLASH_PCSC_ERROR);
    EXPECT_EQ(error.resultCode(), 0x80100068u);
    ASSERT_EQ(error.details().size(), 3u);
    EXPECT_EQ(error.details()[0].kind, ErrorInfoKind::Location);
    EXPECT_THAT(error.detailLines()[0], MatchesRegex("Exception location: \".*exceptionTest\\.cpp\\([0-9]+\\): .*\""));
    EXPECT_THAT(error.detailLines()[0], HasSubstr("TestBody"));
    EXPECT_EQ(error.detailLines()[1], "PCSC error code: -2146434968");
    EXPECT_EQ(error.detailLines()[2], "PCSC error code, hex: \"0x80100068\"");
}

TEST(ApduException, MapsTheStatusWordAndKeepsIt) {
    ApduException known(0x6982);
    EXPECT_EQ(known.status(), KVFLASH_INVALID_ACCESS_RIGHTS);
    EXPECT_THAT(known.detailLines(), ElementsAre("APDU command status: 27010"));

    ApduException unknown(0x6A88);
    EXPECT_EQ(unknown.status(), KVFLASH_INTERNAL_ERROR);
    EXPECT_EQ(unknown.statusWord(), 0x6A88);
}

TEST(InvalidState, IsALogicError) {
    EXPECT_THROW(throw InvalidState("isValid()"), std::logic_error);
}

}  // namespace
}  // namespace kvfl
