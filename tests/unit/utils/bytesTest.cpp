#include "utils/bytes.h"
#include "utils/hexText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct NumberCase {
    const char* name;
    Bytes bytes;
    uint64_t bigEndian;
    uint64_t littleEndian;
};

const NumberCase kNumbers[] = {
    {"Empty", {}, 0, 0},
    {"OneByte", {0xAB}, 0xAB, 0xAB},
    {"StatusWord", {0x90, 0x00}, 0x9000, 0x0090},
    {"FourBytes", {0x00, 0x01, 0xA2, 0xFF}, 0x0001A2FF, 0xFFA20100},
    {"EightBytes", {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}, 0x123456789ABCDEF0, 0xF0DEBC9A78563412},
    {"AllOnes", Bytes(8, 0xFF), UINT64_MAX, UINT64_MAX},
};

class ByteOrder : public testing::TestWithParam<NumberCase> {};

TEST_P(ByteOrder, ReadsBothWays)
{
    EXPECT_EQ(bigEndian(GetParam().bytes), GetParam().bigEndian);
    EXPECT_EQ(littleEndian(GetParam().bytes), GetParam().littleEndian);
}

INSTANTIATE_TEST_SUITE_P(Numbers, ByteOrder, testing::ValuesIn(kNumbers),
                         [](const auto& info) { return std::string(info.param.name); });

struct HexCase {
    const char* name;
    uint64_t value;
    int digits;
    const char* lower;
    const char* upper;
};

const HexCase kHexValues[] = {
    {"ZeroFilled", 0x6A82, 8, "00006a82", "00006A82"},
    {"ExactWidth", 0x6A82, 4, "6a82", "6A82"},
    {"WiderThanAsked", 0x1234567, 4, "1234567", "1234567"},
    {"ZeroOneDigit", 0, 1, "0", "0"},
    {"ZeroNoWidth", 0, 0, "0", "0"},
    {"SignedCodeAsUnsigned", 0x8010001D, 8, "8010001d", "8010001D"},
    {"LargestValue", UINT64_MAX, 2, "ffffffffffffffff", "FFFFFFFFFFFFFFFF"},
};

class HexNumber : public testing::TestWithParam<HexCase> {};

TEST_P(HexNumber, IsZeroFilledToTheWidth)
{
    EXPECT_EQ(lowerHex(GetParam().value, GetParam().digits), GetParam().lower);
    EXPECT_EQ(upperHex(GetParam().value, GetParam().digits), GetParam().upper);
}

INSTANTIATE_TEST_SUITE_P(Values, HexNumber, testing::ValuesIn(kHexValues),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HexDigits, TwoLowerCaseDigitsPerByteWithoutSeparators)
{
    EXPECT_EQ(hexDigits(Bytes{}), "");
    EXPECT_EQ(hexDigits(Bytes{0x0A, 0x1B, 0x2C, 0xFF, 0x00}), "0a1b2cff00");
}

}  // namespace
