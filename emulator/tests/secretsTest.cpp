// Logins, local PINs, MVAs and their records, and host information written
// into the journal, as exchanges the host would have with the token.
#include "testCard.h"

#include <gtest/gtest.h>

namespace kvtoken::test {
namespace {

struct Step {
    std::string command;
    std::string answer;
};

struct Script {
    const char* name;
    std::vector<Step> steps;
};

std::string nameOf(const testing::TestParamInfo<Script>& info)
{
    return info.param.name;
}

void PrintTo(const Script& script, std::ostream* out)
{
    *out << script.name;
}

std::string hexText(const std::string& text)
{
    return formatHex(Bytes(text.begin(), text.end()));
}

const std::string adminLogin = "00 20 00 01 08 " + hexText("87654321");
const std::string userLogin = "00 20 00 02 08 " + hexText("12345678");
const char selectLocalFolder[] = "00 A4 08 04 06 10 00 10 00 60 05 00";
const char selectFive[] = "00 A4 08 04 08 10 00 10 00 60 05 00 05 00";
const char dropRights[] = "80 40 00 00";
const char createLocalPinFive[] =
    "00 E0 00 00 27 62 25 80 02 00 20 82 02 10 00 83 02 00 05 "
    "86 0F 43 01 01 00 00 00 00 FF 00 00 00 00 00 00 00 85 06 21 06 00 AA 00 00";
const char createMvaFive[] =  // ten records of at most 32 bytes, three attempts
    "00 E0 00 00 29 62 27 82 04 14 00 00 20 80 02 01 40 83 02 00 05 85 06 21 00 00 33 00 00 "
    "86 0F 7B 01 01 00 FF FF 01 FF 00 00 00 00 00 00 00";
const char mvaFcpStart[] = "62 32 82 05 14 00 00 20 ";
const char mvaFcpMiddle[] = "80 02 01 40 83 02 00 05 85 06 21 00 00 ";
const char mvaAccess[] = "86 0F 7B 01 01 00 FF FF 01 FF 00 00 00 00 00 00 00 8F 01 81 ";

class Exchanges : public testing::TestWithParam<Script> {};

TEST_P(Exchanges, FollowTheTokensRules)
{
    Card card = bundledCard("mirel3-flash.json");
    for (const Step& step : GetParam().steps)
        ASSERT_EQ(send(card, step.command), step.answer) << step.command;
}

INSTANTIATE_TEST_SUITE_P(GlobalPins, Exchanges, testing::Values(
    Script{"QueryWrongAndRightAdminPin", {
        {"00 20 00 01 00", "63 CA"},
        {"00 20 00 01 04 31 31 31 31", "63 C9"},
        {"00 20 00 01", "63 C9"},
        {adminLogin, "90 00"},
        {"00 20 00 01 00", "63 CA"}}},
    Script{"UserPinBlocksAndTheAdministratorUnblocksIt", {
        {"00 20 00 02 01 30", "63 C9"}, {"00 20 00 02 01 30", "63 C8"}, {"00 20 00 02 01 30", "63 C7"},
        {"00 20 00 02 01 30", "63 C6"}, {"00 20 00 02 01 30", "63 C5"}, {"00 20 00 02 01 30", "63 C4"},
        {"00 20 00 02 01 30", "63 C3"}, {"00 20 00 02 01 30", "63 C2"}, {"00 20 00 02 01 30", "63 C1"},
        {"00 20 00 02 01 30", "63 C0"},
        {"00 20 00 02 00", "69 83"},
        {userLogin, "69 83"},
        {"00 2C 03 02", "69 82"},
        {adminLogin, "90 00"},
        {"00 2C 03 02", "90 00"},
        {userLogin, "90 00"}}},
    Script{"RightsEndWithResetAccessRightsAndReset", {
        {adminLogin, "90 00"},
        {dropRights, "90 00"},
        {"00 2C 03 02", "69 82"},
        {adminLogin, "90 00"},
        {"00 2C 03 02", "90 00"}}},
    Script{"BadReferences", {
        {"00 20 00 03 00", "6A 86"},       // a local reference needs bit 7
        {"00 20 00 81 00", "6A 86"},       // local identifiers start at 3
        {"00 20 01 01 00", "6A 86"},
        {"00 20 00 9F 00", "6A 88"},       // no local secret 31
        {"00 20 00 83 00", "63 CA"},       // the local PIN 3 of the profile...
        {"00 20 00 83 01 30", "69 85"},    // ...whose value was never set
        {"00 2C 03 01", "6A 86"},          // the administrator is not unblocked
        {"00 2C 02 02", "6A 86"}}}), nameOf);

INSTANTIATE_TEST_SUITE_P(LocalPins, Exchanges, testing::Values(
    Script{"CreatedSetChangedAndUsed", {
        {selectLocalFolder, "62 0B 82 02 38 00 83 02 60 05 8A 01 05 90 00"},
        {createLocalPinFive, "69 82"},
        {adminLogin, "90 00"},
        {createLocalPinFive, "90 00"},
        {"00 24 01 00 0C 80 02 00 06 A6 06 31 32 33 34 35 36", "90 00"},  // the new file is current
        {createLocalPinFive, "6A 89"},
        {selectFive, "62 24 82 02 10 00 83 02 00 05 85 06 21 06 00 AA 00 00 "
                     "86 0F 43 01 01 00 00 00 00 FF 00 00 00 00 00 00 00 8A 01 05 90 00"},
        {"00 20 00 85 00", "63 CA"},
        {"00 24 01 00 0B 80 02 00 05 A6 05 31 32 33 34 35", "6F 8C"},       // too short a PIN
        {"00 24 01 00 0C 80 02 00 06 A6 05 31 32 33 34 35 36", "6A 80"},
        {"00 24 01 00 0C 80 02 00 06 A6 06 31 32 33 34 35 36", "90 00"},
        {dropRights, "90 00"},
        {selectFive, "62 24 82 02 10 00 83 02 00 05 85 06 21 06 00 AA 00 00 "
                     "86 0F 43 01 01 00 00 00 00 FF 00 00 00 00 00 00 00 8A 01 05 90 00"},
        {"00 24 01 00 0C 80 02 00 06 A6 06 36 35 34 33 32 31", "69 82"},  // not logged in
        {"00 20 00 85 06 31 32 33 34 35 36", "90 00"},
        {"00 24 01 00 0C 80 02 00 06 A6 06 36 35 34 33 32 31", "90 00"},  // its own login may
        {"00 20 00 85 06 31 32 33 34 35 36", "63 C9"},
        {adminLogin, "90 00"},
        {"00 2C 03 85", "90 00"},
        {"00 20 00 85 00", "63 CA"}}},
    Script{"CreatedOnlyInTheLocalFolder", {
        {adminLogin, "90 00"},
        {createLocalPinFive, "69 85"},                     // the root is current
        {selectLocalFolder, "62 0B 82 02 38 00 83 02 60 05 8A 01 05 90 00"},
        {"00 E0 00 00 06 62 04 82 02 10 00", "6A 80"},     // no identifier
        {"00 24 01 00 0C 80 02 00 06 A6 06 31 32 33 34 35 36", "69 86"}}}), nameOf);

INSTANTIATE_TEST_SUITE_P(Mvas, Exchanges, testing::Values(
    Script{"RecordsAddedErasedAndUsedToLogIn", {
        {adminLogin, "90 00"},
        {selectLocalFolder, "62 0B 82 02 38 00 83 02 60 05 8A 01 05 90 00"},
        {createMvaFive, "90 00"},
        {selectFive, std::string(mvaFcpStart) + "00 " + mvaFcpMiddle + "33 00 00 " + mvaAccess + "A5 02 C0 00 8A 01 05 90 00"},
        {"00 E2 00 00 03 AA BB CC", "90 00"},
        {"00 E2 00 00 02 DD EE", "90 00"},
        {"00 0C 01 04", "90 00"},
        {selectFive, "62 34 82 05 14 00 00 20 02 " + std::string(mvaFcpMiddle) + "33 00 00 " + mvaAccess +
                         "A5 04 C0 02 03 01 8A 01 05 90 00"},
        {"00 20 00 85 03 AA BB CC", "63 C2"},              // erased
        {"00 20 00 85 02 DD EE", "90 00"},
        {"00 DC 01 04 02 11 22", "90 00"},
        {"00 DC 03 04 02 11 22", "6A 83"},
        {"00 E2 00 00 21 " + formatHex(Bytes(33, 0x42)), "67 00"},
        {"00 0C 01 05", "90 00"},
        {"00 20 00 85 02 DD EE", "63 C2"},
        {"00 20 00 85 02 11 22", "63 C1"},
        {"00 2C 03 85", "90 00"},
        {"00 20 00 85 00", "63 C3"},
        {dropRights, "90 00"},
        {"00 E2 00 00 01 01", "69 82"}}},
    Script{"RecordCommandsNeedAnMva", {
        {adminLogin, "90 00"},
        {"00 E2 00 00 01 01", "69 86"},
        {"00 A4 08 04 08 10 00 10 00 60 05 00 03 00", "62 24 82 02 10 00 83 02 00 03 85 06 00 00 00 AA 00 00 "
                                                       "86 0F 00 01 02 02 FF FF FF FF 02 01 01 FF FF FF FF 8A 01 05 90 00"},
        {"00 E2 00 00 01 01", "69 81"},
        {"00 0C 00 04", "69 81"}}}), nameOf);

INSTANTIATE_TEST_SUITE_P(Sections, Exchanges, testing::Values(
    Script{"LoginStillCannotOpenTheJournalForGood", {
        {adminLogin, "90 00"},
        {userLogin, "90 00"},
        {"80 53 11 02 04 82 02 02 01", "69 85"}}}), nameOf);

TEST(SectionRules, AskedLoginOpensTheSwitch)
{
    Card card = bundledCard("varo.json");
    EXPECT_EQ(send(card, "80 53 11 01 04 82 02 02 03"), "69 82");
    EXPECT_EQ(send(card, userLogin), "90 00");
    EXPECT_EQ(send(card, "80 53 11 01 04 82 02 02 03"), "69 82");  // the administrator's
    EXPECT_EQ(send(card, adminLogin), "90 00");
    EXPECT_EQ(send(card, "80 53 11 01 04 82 02 02 03"), "90 00");
}

TEST(Mvas, CreatingOneTakesItsSizeFromTheFreeMemory)
{
    Card card = bundledCard("mirel3-flash.json");
    send(card, adminLogin);
    send(card, selectLocalFolder);
    ASSERT_EQ(send(card, createMvaFive), "90 00");
    EXPECT_EQ(send(card, "00 CA 01 8A 04"), "00 00 9E C0 90 00");  // 40960 - 320
}

Bytes journalOf(Card& card)
{
    Bytes journal;
    for (;;) {
        const Bytes answer = card.transmit(parseHex("90 5D 01 00 FF"));
        if (answer.size() == 2)
            return journal;
        journal.insert(journal.end(), answer.begin(), answer.end() - 2);
    }
}

const char hostItems[] = "C1 04 69 76 61 6E C5 08 00 00 00 00 65 E7 26 2F C4 04 4E 4F 4E 45";

TEST(HostInformation, OneChunkBecomesTheJournalsOwnRecords)
{
    Card card = bundledCard("mirel3-flash.json");
    const Bytes before = journalOf(card);
    const std::string command = "00 DA 01 7C 1C 80 02 00 18 A5 16 " + std::string(hostItems);
    EXPECT_EQ(send(card, command), "69 82");
    send(card, userLogin);
    ASSERT_EQ(send(card, command), "90 00");
    const Bytes after = journalOf(card);
    ASSERT_EQ(after.size(), before.size() + 18 + 12);
    const Bytes added(after.begin() + static_cast<long>(before.size()), after.end());
    EXPECT_EQ(formatHex(Bytes(added.begin(), added.begin() + 14)), "66 10 C5 08 00 00 00 00 65 E7 26 2F C6 04");
    EXPECT_EQ(formatHex(Bytes(added.begin() + 18, added.end())), "C1 04 69 76 61 6E C4 04 4E 4F 4E 45");
}

TEST(HostInformation, ChunksAreJoinedWhereverTheyAreCut)
{
    Card card = bundledCard("mirel3-flash.json");
    send(card, userLogin);
    const Bytes before = journalOf(card);
    EXPECT_EQ(send(card, "10 DA 01 7C 09 80 02 00 18 A5 03 C1 04 69"), "90 00");
    EXPECT_EQ(send(card, "10 DA 01 7C 05 A5 03 76 61 6E"), "90 00");
    EXPECT_EQ(journalOf(card), before);  // nothing until the last chunk
    EXPECT_EQ(send(card, "00 DA 01 7C 0C A5 0A C4 04 4E 4F 4E 45 C2 02 6C 61"), "90 00");
    const Bytes after = journalOf(card);
    EXPECT_EQ(formatHex(Bytes(after.begin() + static_cast<long>(before.size()), after.end())),
              "C1 04 69 76 61 6E C4 04 4E 4F 4E 45 C2 02 6C 61");
}

TEST(HostInformation, MalformedChunksAreRefusedAndForgotten)
{
    Card card = bundledCard("mirel3-flash.json");
    send(card, adminLogin);
    const Bytes before = journalOf(card);
    EXPECT_EQ(send(card, "00 DA 01 7C 05 A5 03 C1 01 69"), "6A 80");                  // no 80 02 first
    EXPECT_EQ(send(card, "00 DA 01 7C 09 80 02 00 05 A5 03 C7 01 69"), "6A 80");      // unknown item
    EXPECT_EQ(send(card, "00 DA 01 7C 09 80 02 00 05 A5 03 C1 05 69"), "6A 80");      // item cut short
    EXPECT_EQ(send(card, "10 DA 01 7C 09 80 02 00 05 A5 03 C1 01 69"), "90 00");
    EXPECT_EQ(send(card, "00 DA 01 7C 04 A5 03 C1 01"), "6A 80");
    EXPECT_EQ(send(card, "00 DA 01 7C 09 80 02 00 05 A5 03 C1 01 69"), "90 00");      // starts afresh
    EXPECT_EQ(journalOf(card).size(), before.size() + 3);
    EXPECT_EQ(send(card, "00 DA 02 7C 09 80 02 00 05 A5 03 C1 01 69"), "6A 86");
}

TEST(HostInformation, MoreThanFourTextsAndTheValueCanHoldIsRefused)
{
    Card card = bundledCard("mirel3-flash.json");
    send(card, adminLogin);
    const std::string piece = "A5 F0 " + formatHex(Bytes(240, 0x41));
    EXPECT_EQ(send(card, "10 DA 01 7C F6 80 02 04 0E " + piece), "90 00");
    for (int chunk = 0; chunk < 3; ++chunk)
        EXPECT_EQ(send(card, "10 DA 01 7C F2 " + piece), "90 00");
    EXPECT_EQ(send(card, "10 DA 01 7C F2 " + piece), "6A 80");  // 1200 bytes
    EXPECT_EQ(send(card, "00 DA 01 7C 04 A5 02 C1 00"), "6A 80");  // the first chunk is gone
}

}  // namespace
}  // namespace kvtoken::test
