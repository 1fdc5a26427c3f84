// The token's answers to each command family, from the bundled profiles.
#include "testCard.h"

#include <gtest/gtest.h>

namespace kvtoken::test {
namespace {

struct Exchange {
    const char* profile;
    const char* command;
    const char* answer;
};

// Test names show the profile and the command.
void PrintTo(const Exchange& exchange, std::ostream* out)
{
    *out << exchange.profile << ' ' << exchange.command;
}

class CommandAnswers : public testing::TestWithParam<Exchange> {};

TEST_P(CommandAnswers, AnswerAsTheTokenLaysItOut)
{
    Card card = bundledCard(GetParam().profile);
    EXPECT_EQ(send(card, GetParam().command), GetParam().answer);
}

const char adminPinFcp[] =
    "62 24 82 02 10 00 83 02 00 01 85 06 00 00 00 AA 00 00 "
    "86 0F 00 01 02 02 FF FF FF FF 02 01 01 FF FF FF FF 8A 01 05 90 00";

INSTANTIATE_TEST_SUITE_P(GetData, CommandAnswers, testing::Values(
    Exchange{"mirel3.json", "00 CA 01 81 08", "00 00 00 00 12 34 56 78 90 00"},
    Exchange{"mirel3.json", "00 CA 01 89 0C", "01 03 08 00 21 00 00 20 05 00 00 00 90 00"},
    Exchange{"mirel3.json", "00 CA 01 8A 04", "00 00 AB 00 90 00"},
    Exchange{"mirel3.json", "00 CA 01 8C 10", "4B 56 03 00 00 00 00 00 00 00 00 00 00 00 00 00 90 00"},
    Exchange{"mirel3.json", "00 CA 01 F1 20", "1F 90 00"},
    Exchange{"mirel3.json", "00 CA 01 85 80", "4B 65 6C 76 61 6E 65 20 4D 69 72 65 6C 20 33 2E 30 90 00"},
    Exchange{"mirel3.json", "00 CA 01 32 04", "00 00 05 FC 90 00"},
    Exchange{"mirel3.json", "00 CA 01 01 26", adminPinFcp},
    Exchange{"brisa.json", "00 CA 01 8C 10", "6A 81"},
    Exchange{"brisa.json", "00 CA 01 F1 20", "6A 81"},
    Exchange{"brisa.json", "00 CA 01 85 80", "6A 81"},
    Exchange{"mirel3.json", "00 CA 01 99 04", "6A 88"},
    Exchange{"mirel3.json", "00 CA 02 81 08", "6A 86"}));

INSTANTIATE_TEST_SUITE_P(Diagnose, CommandAnswers, testing::Values(
    Exchange{"mirel3.json", "80 7E 00 00 04", "5A 3C 91 E7 90 00"},
    Exchange{"broken-firmware.json", "80 7E 00 00 04", "6F 20"},
    Exchange{"mirel3.json", "80 7E 22 00", "90 00"},
    Exchange{"damaged-keys.json", "80 7E 21 00", "90 00"},
    Exchange{"damaged-keys.json", "80 7E 22 00", "6F 87"},
    Exchange{"mirel3.json", "80 7E 19 00 04", "00 00 00 00 90 00"},
    Exchange{"failing-selftests.json", "80 7E 10 00 04", "00 00 00 05 90 00"},
    Exchange{"failing-selftests.json", "80 7E 18 00 04", "FF FF FF FF 90 00"},
    Exchange{"failing-selftests.json", "80 7E 41 01 0C", "00 00 00 00 00 00 00 00 00 03 00 07 90 00"},
    Exchange{"mirel3.json", "80 7E 42 01 00", "6A 88"},
    Exchange{"worn-sectors.json", "80 7E 51 01 00",
             "85 08 00 00 00 07 99 C0 01 00 85 08 00 01 00 04 C6 2D 01 00 "
             "85 08 00 02 00 01 83 30 00 00 85 08 00 03 00 00 B0 05 00 00 "
             "85 08 00 04 00 00 51 61 00 00 85 08 00 05 00 00 1E 22 00 00 "
             "85 08 00 06 00 00 05 0A 00 00 85 08 00 07 00 00 00 4D 00 00 90 00"},
    Exchange{"mirel3.json", "80 7E 33 00 04", "69 86"},  // nothing selected yet
    Exchange{"mirel3.json", "80 7E 31 02 04", "6A 86"},
    Exchange{"mirel3.json", "80 7E 60 00", "6A 86"}));

INSTANTIATE_TEST_SUITE_P(Dispatch, CommandAnswers, testing::Values(
    Exchange{"mirel3.json", "80 71 00 00 00", "40 05 04 03 00 00 01 90 00"},
    Exchange{"mirel3-flash.json", "80 71 00 00 00", "40 05 04 03 00 00 05 90 00"},
    Exchange{"mirel2.json", "80 71 00 00 07", "40 05 04 03 00 00 00 90 00"},
    Exchange{"mirel2-flash.json", "80 71 00 00 07", "40 05 04 03 00 00 05 90 00"},
    Exchange{"mirel2.json", "90 5D 01 00 FF", "6D 00"},  // no journal kept
    Exchange{"mirel3.json", "00 B0 00 00 10", "6D 00"},
    Exchange{"mirel3.json", "A0 CA 01 81 08", "6E 00"},
    Exchange{"mirel3.json", "00 CA 01", "67 00"},
    Exchange{"mirel3.json", "00 A4 08 04 04 10 00", "67 00"}));

}  // namespace
}  // namespace kvtoken::test
