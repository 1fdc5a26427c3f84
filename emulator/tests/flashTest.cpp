// The flash sections of a flash-equipped token: descriptions, total size,
// access switches with the device's rules, the split and the restart.
#include "testCard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kvtoken::test {
namespace {

// The bundled Mirel 3.0 Flash: an ordinary read-write section of 512 MiB
// (16 x 8000h) and the journal events section, which only ever opens
// read-only for a while.
const char ordinaryOne[] = "80 14 01 13 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
const char journalTwo[] = "80 14 02 00 04 00 01 3F FF 00 FF FF FF FF 00 00 00 00 00 00 00 00";
const char journalTwoReadOnly[] = "80 14 02 01 04 00 01 3F FF 00 FF FF FF FF 00 00 00 00 00 00 00 00";
const char journalRules[] = "3F FF 00 FF FF FF FF 00 00 00 00 00 00 00 00";

std::string answer(const std::vector<std::string>& parts)
{
    std::string text;
    for (const auto& part : parts)
        text += part + " ";
    return text + "90 00";
}

// One requested section: number, access byte, block count, type code, then
// the rule mask with its condition and secret bytes.
std::string element(int number, int accessByte, int count, int type, const std::string& rules = "")
{
    char head[64];
    std::snprintf(head, sizeof head, "80 14 %02X %02X %02X %02X %02X ", number, accessByte, count >> 8, count & 0xFF, type);
    return head + (rules.empty() ? "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00" : rules);
}

std::string splitCommand(const std::vector<std::string>& elements)
{
    std::string data;
    for (const auto& e : elements)
        data += e + " ";
    char lc[8];
    std::snprintf(lc, sizeof lc, "%02X ", static_cast<unsigned>(parseHex(data).size()));
    return "80 53 10 00 " + std::string(lc) + data;
}

struct Exchange {
    const char* profile;
    const char* command;
    std::string answer;
};

void PrintTo(const Exchange& exchange, std::ostream* out)
{
    *out << exchange.profile << ' ' << exchange.command;
}

class FlashCommands : public testing::TestWithParam<Exchange> {};

TEST_P(FlashCommands, AnswerAsTheDeviceRulesSay)
{
    Card card = bundledCard(GetParam().profile);
    EXPECT_EQ(send(card, GetParam().command), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(Reading, FlashCommands, testing::Values(
    Exchange{"mirel3-flash.json", "80 53 11 00 00", answer({ordinaryOne, journalTwo})},
    Exchange{"mirel3-flash.json", "80 53 12 00 04", "00 10 00 00 90 00"},
    Exchange{"mirel2-flash.json", "80 53 11 00 00", "6C 42"},  // T=0: three sections, 66 bytes
    Exchange{"mirel3-flash.json", "80 53 13 00 00", "6A 86"},
    Exchange{"mirel3-flash.json", "80 53 12 00 01 00 04", "67 00"},
    Exchange{"mirel3.json", "80 53 11 00 00", "6D 00"},  // no flash
    Exchange{"mirel3.json", "80 40 00 00", "90 00"},
    Exchange{"mirel3-flash.json", "80 40 00 01", "6A 86"}));

INSTANTIATE_TEST_SUITE_P(Switching, FlashCommands, testing::Values(
    Exchange{"mirel3-flash.json", "80 53 11 01 04 82 02 02 01", "90 00"},    // journal, for a while
    Exchange{"mirel3-flash.json", "80 53 11 02 04 82 02 02 01", "69 85"},    // journal, for good
    Exchange{"mirel3-flash.json", "80 53 11 01 04 82 02 02 03", "69 85"},    // journal read-write
    Exchange{"mirel3-flash.json", "80 53 11 01 04 82 02 02 00", "69 85"},    // journal closed again
    Exchange{"mirel3-flash.json", "80 53 11 01 04 82 02 09 01", "6A 82"},    // no section 9
    Exchange{"mirel3-flash.json", "80 53 11 01 04 82 02 01 05", "6A 80"},    // CD-ROM only for good
    Exchange{"mirel3-flash.json", "80 53 11 01 04 82 02 01 02", "6A 80"},    // no state 2
    Exchange{"mirel3-flash.json", "80 53 11 01 04 83 02 01 01", "6A 80"},
    Exchange{"mirel3-flash.json", "80 53 11 01 03 82 01 01", "67 00"},
    Exchange{"mirel3-flash.json", "80 53 11 03 04 82 02 01 01", "6A 86"},
    Exchange{"mirel3-flash.json", "80 53 11 01 04 82 02 01 00", "90 00"},    // no rules: anybody
    Exchange{"mirel3-flash.json", "80 53 11 02 04 82 02 01 05", "90 00"},
    Exchange{"varo.json", "80 53 11 01 04 82 02 02 03", "69 82"},           // needs the administrator
    Exchange{"varo.json", "80 53 11 02 04 82 02 02 05", "69 85"},           // forbidden
    Exchange{"varo.json", "80 53 11 01 04 82 02 02 00", "90 00"},           // no rule for it
    Exchange{"varo.json", "80 53 11 01 04 82 02 03 01", "90 00"}));         // encrypted section closed

TEST(FlashSwitch, TemporaryShowsInTheDescriptionUntilThePowerGoes)
{
    Card card = bundledCard("mirel3-flash.json");
    ASSERT_EQ(send(card, "80 53 11 01 04 82 02 02 01"), "90 00");
    EXPECT_EQ(send(card, "80 53 11 00 00"), answer({ordinaryOne, journalTwoReadOnly}));
    card.receive({0x02});  // a warm reset keeps it
    EXPECT_EQ(send(card, "80 53 11 00 00"), answer({ordinaryOne, journalTwoReadOnly}));
    card.receive({0x00});
    EXPECT_EQ(send(card, "80 53 11 00 00"), answer({ordinaryOne, journalTwo}));
}

TEST(FlashSwitch, PermanentChangeOutlivesARestart)
{
    Card card = bundledCard("mirel3-flash.json");
    ASSERT_EQ(send(card, "80 53 11 02 04 82 02 01 01"), "90 00");
    EXPECT_FALSE(card.takeDeparture());
    ASSERT_EQ(send(card, "80 53 14 00"), "90 00");
    EXPECT_EQ(card.takeDeparture(), std::chrono::milliseconds(1500));
    EXPECT_FALSE(card.takeDeparture());
    card.unplug();
    EXPECT_EQ(send(card, "80 53 11 00 00"),
              answer({"80 14 01 11 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", journalTwo}));
}

TEST(FlashSwitch, JournalStaysClosedWhileTheEncryptedSectionIsOpen)
{
    Card card = cardOver("varo.json", R"("flash": {"sections": [
        {"number": 1, "type": 3, "size": 1024, "access": 1},
        {"number": 2, "type": 1, "size": 1024, "rules": {"01": "FF", "02": "00", "04": "FF", "08": "FF", "10": "FF", "20": "FF"}}]})");
    EXPECT_EQ(send(card, "80 53 11 01 04 82 02 02 01"), "69 85");
    ASSERT_EQ(send(card, "80 53 11 01 04 82 02 01 00"), "90 00");
    EXPECT_EQ(send(card, "80 53 11 01 04 82 02 02 01"), "90 00");
}

TEST(FlashSplit, NewSectionsComeFirstAndTheJournalFollowsThem)
{
    Card card = bundledCard("mirel3-flash.json");
    ASSERT_EQ(send(card, splitCommand({element(1, 0x03, 1000, 0), element(2, 0x09, 2000, 0)})), "90 00");
    EXPECT_EQ(send(card, "80 53 11 00 00"),
              answer({element(1, 0x03, 1000, 0), element(2, 0x01, 16000, 0),  // 8 x 2000, as one count
                      "80 14 03 00 04 00 01 3F FF 00 FF FF FF FF 00 00 00 00 00 00 00 00"}));
    EXPECT_EQ(send(card, "80 53 12 00 04"), "00 10 00 00 90 00");  // the total does not change
}

TEST(FlashSplit, ATokenWithoutJournalSectionMayGetOne)
{
    const char noSections[] = R"("flash": {"totalSize": 4096, "sections": []})";
    Card tooSmall = cardOver("mirel3-flash.json", noSections);
    EXPECT_EQ(send(tooSmall, splitCommand({element(1, 0x00, 499, 1, journalRules)})), "6A 80");
    Card card = cardOver("mirel3-flash.json", noSections);
    ASSERT_EQ(send(card, splitCommand({element(1, 0x03, 100, 0), element(2, 0x00, 500, 1, journalRules)})), "90 00");
    EXPECT_EQ(send(card, "80 53 11 00 00"), answer({element(1, 0x03, 100, 0), element(2, 0x00, 500, 1, journalRules)}));
}

struct Refusal {
    const char* name;
    std::string command;
    const char* answer;
};

std::string nameOf(const testing::TestParamInfo<Refusal>& info)
{
    return info.param.name;
}

void PrintTo(const Refusal& refusal, std::ostream* out)
{
    *out << refusal.name;
}

class SplitRefusals : public testing::TestWithParam<Refusal> {};

TEST_P(SplitRefusals, LeaveThePartitionAsItWas)
{
    Card card = bundledCard("mirel3-flash.json");
    const std::string before = send(card, "80 53 11 00 00");
    EXPECT_EQ(send(card, GetParam().command), GetParam().answer);
    EXPECT_EQ(send(card, "80 53 11 00 00"), before);
}

std::vector<std::string> ordinarySections(int count)
{
    std::vector<std::string> elements;
    for (int i = 1; i <= count; ++i)
        elements.push_back(element(i, 0x03, 100, 0));
    return elements;
}

INSTANTIATE_TEST_SUITE_P(Device, SplitRefusals, testing::Values(
    Refusal{"NoData", "80 53 10 00", "67 00"},
    Refusal{"NotADescription", "80 53 10 00 03 81 01 00", "6A 80"},
    Refusal{"ShortDescription", "80 53 10 00 05 80 14 01 03 00", "6A 80"},
    Refusal{"NumbersOutOfOrder", splitCommand({element(2, 0x03, 100, 0)}), "6A 80"},
    Refusal{"SizeZero", splitCommand({element(1, 0x03, 0, 0)}), "6A 80"},
    Refusal{"AccessStateTwo", splitCommand({element(1, 0x02, 100, 0)}), "6A 80"},
    Refusal{"SecondJournal", splitCommand({element(1, 0x00, 600, 1, journalRules)}), "6A 80"},
    Refusal{"EncryptedSection", splitCommand({element(1, 0x43, 100, 0)}), "6A 81"},
    Refusal{"JournalTypeSection", splitCommand({element(1, 0x00, 600, 4, journalRules)}), "6A 81"},
    Refusal{"NineSectionsWithTheJournal", splitCommand(ordinarySections(8)), "6A 80"},
    Refusal{"MoreThanTheFreeFlash", splitCommand({element(1, 0x1B, 0xFFF0, 0)}), "6A 84"}), nameOf);  // 32 x FFF0

TEST(FlashSplit, SevenOrdinarySectionsFitBesideTheJournal)
{
    Card card = bundledCard("mirel3-flash.json");
    EXPECT_EQ(send(card, splitCommand(ordinarySections(7))), "90 00");
}

TEST(FlashProfile, ErrorsNameTheFlashKey)
{
    const char* cases[] = {
        R"({"flash": {"totalSize": 100, "sections": [{"number": 9, "size": 10}]}})",
        R"({"flash": {"totalSize": 100, "sections": [{"number": 257, "size": 10}]}})",  // not section 1
        R"({"flash": {"totalSize": 100, "sections": [{"number": 1, "size": 10, "access": 259}]}})",
        R"({"flash": {"totalSize": 100, "sections": [{"number": 1, "size": 10}, {"number": 1, "size": 10}]}})",
        R"({"flash": {"totalSize": 5, "sections": [{"number": 1, "size": 10}]}})",
        R"({"flash": {"totalSize": 9000, "sections": [{"number": 1, "type": 1, "size": 1000}]}})",
        R"({"flash": {"totalSize": 100, "sections": [{"number": 1, "size": 10, "rules": {"03": "00"}}]}})",
        R"({"flash": {"totalSize": 100, "sections": [{"number": 1, "size": 10, "access": 2}]}})",
        R"({"flash": {"totalSize": 900000, "sections": [{"number": 1, "size": 65537}]}})",
    };
    for (const char* json : cases) {
        const TempProfile profile(json);
        try {
            loadProfile(profile.path());
            ADD_FAILURE() << json;
        } catch (const std::runtime_error& e) {
            EXPECT_THAT(e.what(), testing::HasSubstr("key 'flash'")) << json;
        }
    }
}

}  // namespace
}  // namespace kvtoken::test
