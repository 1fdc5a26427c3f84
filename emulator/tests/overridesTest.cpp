// Overrides: how a test makes any command fail.
#include "testCard.h"

#include <gtest/gtest.h>

namespace kvtoken::test {
namespace {

TEST(Overrides, MatchingCommandGetsTheGivenAnswerForItsTimes)
{
    Card card = cardOver("mirel3.json",
                         R"("overrides": [{"command": "80 7E 00 00", "response": "6F 20", "times": 2}])");
    EXPECT_EQ(send(card, "80 7E 00 00 04"), "6F 20");
    EXPECT_EQ(send(card, "80 7E 00 00 04"), "6F 20");
    EXPECT_EQ(send(card, "80 7E 00 00 04"), "5A 3C 91 E7 90 00");
}

TEST(Overrides, WithoutTimesEveryMatchAndOnlyByPrefix)
{
    Card card = cardOver("mirel3.json", R"("overrides": [{"command": "00CA0181", "response": "01 02 90 00"}])");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(send(card, "00 CA 01 81 08"), "01 02 90 00");
    EXPECT_EQ(send(card, "00 CA 01 89 0C").substr(0, 2), "01");
    EXPECT_EQ(send(card, "00 CA 01"), "67 00");  // shorter than the prefix: not a match
}

TEST(Overrides, AnswerIsSentAsWrittenEvenOnT0)
{
    Card card = cardOver("brisa.json",
                         R"("overrides": [{"command": "00 A4 08 04", "response": "62 03 83 01 01 90 00"}])");
    EXPECT_EQ(send(card, "00 A4 08 04 02 10 00"), "62 03 83 01 01 90 00");
}

TEST(Overrides, DerivedProfileAddsToItsBaseAndWinsFirst)
{
    const TempProfile middle(R"({"base": ")" + bundled("mirel3.json").string() + R"(",
        "overrides": [{"command": "00 84", "response": "6F 12"}, {"command": "80 7E 22", "response": "6F 87"}]})");
    const TempProfile top(R"({"base": ")" + middle.path().string() + R"(",
        "overrides": [{"command": "00 84", "response": "6F A0"}]})");
    Card card(loadProfile(top.path()));
    EXPECT_EQ(send(card, "00 84 00 00 20"), "6F A0");
    EXPECT_EQ(send(card, "80 7E 22 00"), "6F 87");
}

}  // namespace
}  // namespace kvtoken::test
