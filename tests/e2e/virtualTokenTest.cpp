// The virtual token itself, seen through pcscd as any PC/SC application sees it.
#include "harness.h"

#include "caseName.h"
#include "process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

namespace {

using testing::HasSubstr;

struct PluggedCase {
    const char* profile;
    const char* atr;
    DWORD protocol;
    const char* serialAnswer;
};

void PrintTo(const PluggedCase& plugged, std::ostream* out)
{
    *out << plugged.profile;
}

class PluggedToken : public testing::TestWithParam<PluggedCase> {};

TEST_P(PluggedToken, ShowsItsAtrAndAnswersGetDataSerial)
{
    const auto& param = GetParam();
    VirtualToken token(bundledProfile(param.profile));
    ReaderConnection card(token.readerName());
    EXPECT_EQ(card.atr(), param.atr);
    EXPECT_EQ(card.protocol(), param.protocol);
    EXPECT_EQ(card.transmit("00 CA 01 81 08"), param.serialAnswer);
}

INSTANTIATE_TEST_SUITE_P(Profiles, PluggedToken, testing::Values(
    PluggedCase{"mirel3.json", "3B 8D 80 01 4B 65 6C 76 61 6E 65 20 4D 69 72 65 6C 2D", SCARD_PROTOCOL_T1,
                "00 00 00 00 12 34 56 78 90 00"},
    PluggedCase{"brisa.json", "3B 0C 4B 65 6C 76 61 6E 65 62 72 69 73 61", SCARD_PROTOCOL_T0,
                "00 00 00 00 EF 2A C3 F5 90 00"}),
    [](const auto& info) { return caseName("", info.param.profile); });

TEST(VirtualTokenOnT0, CaseFourAnswerComesThroughGetResponse)
{
    VirtualToken token(bundledProfile("brisa.json"));
    ReaderConnection card(token.readerName());
    ASSERT_EQ(card.protocol(), static_cast<DWORD>(SCARD_PROTOCOL_T0));
    EXPECT_EQ(card.transmit("00 A4 08 04 06 10 00 10 00 60 02"), "61 0D");
    EXPECT_EQ(card.transmit("00 C0 00 00 0D"), "62 0B 82 02 38 00 83 02 60 02 8A 01 05 90 00");
}

TEST(VirtualTokens, TwoAtOnceBothShowAsCards)
{
    VirtualToken mirel(bundledProfile("mirel3.json"), 35963);
    VirtualToken varo(bundledProfile("varo.json"), 35964);
    ReaderConnection first(mirel.readerName());
    ReaderConnection second(varo.readerName());
    EXPECT_EQ(mirel.readerName(), "Virtual PCD 00 00");
    EXPECT_EQ(varo.readerName(), "Virtual PCD 00 01");
    EXPECT_EQ(first.transmit("00 CA 01 81 08"), "00 00 00 00 12 34 56 78 90 00");
    EXPECT_EQ(second.transmit("00 CA 01 81 08"), "00 19 00 00 00 00 00 00 90 00");
}

// vpcd's two writes per command meet delayed ACK on the card's side unless the
// token acknowledges at once: 48 ms a command instead of a fraction of one.
TEST(VirtualTokenSpeed, CommandThroughPcscdTakesWellUnderAMillisecond)
{
    constexpr int commands = 200;
    VirtualToken token(bundledProfile("mirel3.json"));
    ReaderConnection card(token.readerName());
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < commands; ++i)
        ASSERT_EQ(card.transmit("00 CA 01 81 08"), "00 00 00 00 12 34 56 78 90 00");
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    const double perCommand = elapsed.count() / commands;
    RecordProperty("msPerCommand", std::to_string(perCommand));
    std::cout << "GET DATA through pcscd and kvtoken-emu: " << perCommand << " ms per command\n";
    EXPECT_LT(perCommand, 5.0);
}

TEST(VirtualTokenTrace, WritesEachCommandAndAnswer)
{
    VirtualToken token(bundledProfile("mirel3.json"));
    ReaderConnection(token.readerName()).transmit("00 CA 01 81 08");
    EXPECT_THAT(token.stderrText(), HasSubstr("> 00 CA 01 81 08\n< 00 00 00 00 12 34 56 78 90 00\n"));
}

TEST(VirtualTokenStart, FailsClearlyWithoutAReaderOrWithABadProfile)
{
    const TempDir dir;
    const auto noReader = runProcess(KVTOKEN_EMU_PATH, {"--port", "1", "--connect-timeout", "0"}, dir.path());
    EXPECT_EQ(noReader.exitCode, 1);
    EXPECT_THAT(noReader.err, HasSubstr("cannot connect to vpcd at 127.0.0.1:1"));

    const auto badProfile = runProcess(KVTOKEN_EMU_PATH, {"--profile", "missing.json"}, dir.path());
    EXPECT_EQ(badProfile.exitCode, 2);
    EXPECT_THAT(badProfile.err, HasSubstr("missing.json: cannot be read"));

    const auto badOption = runProcess(KVTOKEN_EMU_PATH, {"--port", "seventy"}, dir.path());
    EXPECT_EQ(badOption.exitCode, 2);
    EXPECT_THAT(badOption.err, HasSubstr("--port takes a number"));
}

}  // namespace
