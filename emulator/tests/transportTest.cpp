// T=0 and T=1 as the reader sees them: 61xx with GET RESPONSE, 6Cxx for a
// wrong Le, and the control messages of vpcd.
#include "testCard.h"

#include <gtest/gtest.h>

namespace kvtoken::test {
namespace {

const char selectKeys[] = "00 A4 08 04 06 10 00 10 00 60 02";  // case 4 with Le dropped
const char keysFcp[] = "62 0B 82 02 38 00 83 02 60 02 8A 01 05";

TEST(T0Chaining, CaseFourWithoutLeIsAnnouncedThenFetched)
{
    Card card = bundledCard("brisa.json");
    ASSERT_EQ(card.protocol(), Protocol::T0);
    EXPECT_EQ(send(card, selectKeys), "61 0D");
    EXPECT_EQ(send(card, "00 C0 00 00 0D"), std::string(keysFcp) + " 90 00");
    EXPECT_EQ(send(card, "00 C0 00 00 0D"), "69 85");  // nothing left to fetch
}

TEST(T0Chaining, GetResponseInPartsAndWithAWrongLe)
{
    Card card = bundledCard("brisa.json");
    send(card, selectKeys);
    EXPECT_EQ(send(card, "00 C0 00 00 20"), "6C 0D");
    EXPECT_EQ(send(card, "00 C0 00 00 05"), "62 0B 82 02 38 61 08");
    EXPECT_EQ(send(card, "00 C0 00 00 08"), "00 83 02 60 02 8A 01 05 90 00");
}

TEST(T0Chaining, AnotherCommandDropsThePendingAnswer)
{
    Card card = bundledCard("brisa.json");
    send(card, selectKeys);
    send(card, "00 CA 01 81 08");
    EXPECT_EQ(send(card, "00 C0 00 00 0D"), "69 85");
}

TEST(T0Chaining, ARefusedCommandIsNotAnnounced)
{
    Card card = bundledCard("brisa.json");
    EXPECT_EQ(send(card, "00 A4 08 04 02 77 77"), "6A 82");
}

TEST(LengthChecks, LeAgainstTheAnswerLengthPerProtocol)
{
    const struct {
        const char* profile;
        const char* command;
        const char* answer;
    } cases[] = {
        {"brisa.json", "00 CA 01 81 04", "6C 08"},
        {"brisa.json", "00 CA 01 81 10", "6C 08"},  // T=0 sends exactly Le bytes or nothing
        {"brisa.json", "00 CA 01 81 08", "00 00 00 00 EF 2A C3 F5 90 00"},
        {"mirel3.json", "00 CA 01 81 04", "6C 08"},
        {"mirel3.json", "00 CA 01 81 00", "00 00 00 00 12 34 56 78 90 00"},  // T=1: Le is a maximum
        {"mirel3.json", "00 A4 08 04 06 10 00 10 00 60 02", "62 0B 82 02 38 00 83 02 60 02 8A 01 05 90 00"},
    };
    for (const auto& c : cases) {
        Card card = bundledCard(c.profile);
        EXPECT_EQ(send(card, c.command), c.answer) << c.profile << ": " << c.command;
    }
}

TEST(GetChallenge, AnswersAsManyFreshBytesAsAsked)
{
    Card card = bundledCard("mirel3.json");
    const Bytes first = card.transmit(parseHex("00 84 00 00 20"));
    const Bytes second = card.transmit(parseHex("00 84 00 00 20"));
    ASSERT_EQ(first.size(), 34u);
    EXPECT_EQ(formatHex({first[32], first[33]}), "90 00");
    EXPECT_NE(first, second);
    EXPECT_EQ(send(card, "00 84 00 00"), "67 00");
}

TEST(Controls, AtrRequestIsTheOnlyControlWithAnAnswer)
{
    Card card = bundledCard("mirel3.json");
    EXPECT_EQ(card.receive({0x04}), card.atr());
    EXPECT_EQ(card.receive({0x01}), std::nullopt);
    EXPECT_EQ(card.receive({0x02}), std::nullopt);
    EXPECT_EQ(card.receive({0x00}), std::nullopt);
}

TEST(Controls, UsbConnectionCounterGrowsOnPowerOnOnly)
{
    Card card = bundledCard("mirel3.json");
    card.receive({0x01});
    card.receive({0x02});
    card.receive({0x00});
    card.receive({0x01});
    EXPECT_EQ(send(card, "00 CA 01 34 04"), "00 00 00 58 90 00");  // 86 + 2
}

TEST(Atr, ProtocolFollowsTheInterfaceBytes)
{
    const std::pair<const char*, Protocol> cases[] = {
        {"3B 0E 4B 65 6C 76 61 6E 65 4D 69 72 65 6C 73 63", Protocol::T0},
        {"3B 8F 80 01 4B 65 6C 76 61 6E 65 42 72 69 73 61 53 43 32", Protocol::T1},
        {"3B 81 01 4B 4B", Protocol::T1},
        {"3B 81 11 4B", Protocol::T1},
        {"3B 8F", Protocol::T0},  // ends before its TD1
        {"3B", Protocol::T0},
    };
    for (const auto& [atr, protocol] : cases)
        EXPECT_EQ(protocolOfAtr(parseHex(atr)), protocol) << atr;
}

TEST(Atr, BuiltFromHistoricalBytes)
{
    EXPECT_EQ(formatHex(atrFromHistorical("KvSC", 0)), "3B 04 4B 76 53 43");
    // T=1 adds TD1 80, TD2 01 and the check byte over T0..the last byte.
    EXPECT_EQ(formatHex(atrFromHistorical("KvSC", 1)), "3B 84 80 01 4B 76 53 43 28");
    EXPECT_EQ(formatHex(bundledCard("mirel3.json").atr()),
              "3B 8D 80 01 4B 65 6C 76 61 6E 65 20 4D 69 72 65 6C 2D");
}

}  // namespace
}  // namespace kvtoken::test
