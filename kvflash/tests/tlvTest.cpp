#include "apdu/tlv.h"
#include "exception.h"
#include "hexBytes.h"

#include <gtest/gtest.h>

namespace kvfl {
namespace {

using test::concat;
using test::hex;
using test::repeat;

Bytes valueOf(const TlvElement& element) { return Bytes(element.value.begin(), element.value.end()); }

TEST(TlvSimple, ReadsShortAndThreeByteLengths) {
    const Bytes buffer = hex("01 FF 00 03 AA BB CC  02 01 DD  03 00");
    const TlvElements elements = parseTlv(buffer, TlvMode::Simple);
    ASSERT_EQ(elements.size(), 3u);
    EXPECT_EQ(elements[0].tag, 0x01);
    EXPECT_EQ(valueOf(elements[0]), hex("AA BB CC"));
    EXPECT_EQ(valueOf(elements[1]), hex("DD"));
    EXPECT_TRUE(elements[2].value.empty());
    // the values are views into the buffer, not copies
    EXPECT_EQ(elements[0].value.data(), buffer.data() + 4);
}

TEST(TlvSimple, TakesBerLongFormBytesAsPlainLengths) {
    const Bytes buffer = concat({hex("01 81"), repeat(0x55, 0x81)});
    const TlvElements elements = parseTlv(buffer, TlvMode::Simple);
    ASSERT_EQ(elements.size(), 1u);
    EXPECT_EQ(elements[0].value.size(), 0x81u);
}

TEST(TlvBer, ReadsLongFormAndHighShortLengths) {
    const struct {
        Bytes buffer;
        std::size_t length;
    } cases[] = {
        {concat({hex("01 81 80"), repeat(0x11, 128)}), 128},
        {concat({hex("02 82 01 00"), repeat(0x22, 256)}), 256},
        // 85..FF are lengths of their own
        {concat({hex("05 85"), repeat(0x33, 133)}), 133},
    };
    for (const auto& [buffer, length] : cases) {
        const TlvElements elements = parseTlv(buffer, TlvMode::Ber);
        ASSERT_EQ(elements.size(), 1u);
        EXPECT_EQ(elements[0].tag, buffer[0]);
        EXPECT_EQ(elements[0].value.size(), length);
        EXPECT_EQ(elements[0].value.data() + length, buffer.data() + buffer.size());
    }
}

TEST(Tlv, EmptyBufferHasNoElements) {
    EXPECT_TRUE(parseTlv({}, TlvMode::Simple).empty());
    EXPECT_TRUE(parseTlv({}, TlvMode::Ber).empty());
}

struct BadTlv {
    const char* name;
    Bytes buffer;
    TlvMode mode;
    const char* message;
};

class TlvErrors : public ::testing::TestWithParam<BadTlv> {};

TEST_P(TlvErrors, ThrowsStatusOneWithTheReason) {
    try {
        parseTlv(GetParam().buffer, GetParam().mode);
        FAIL() << "no exception";
    } catch (const Exception& error) {
        EXPECT_EQ(error.status(), KVFLASH_INTERNAL_ERROR);
        ASSERT_EQ(error.detailLines().size(), 1u);
        EXPECT_EQ(error.detailLines()[0], std::string("TLV structure parsing error: \"") + GetParam().message + "\"");
    }
}

constexpr const char* INVALID_LENGTH = "invalid length encoding in TLV";
constexpr const char* MISSING_HEADER = "missing Tag or/and Length field";
constexpr const char* INCOMPLETE = "buffer contains incomplete structure value";

INSTANTIATE_TEST_SUITE_P(
    Examples, TlvErrors,
    ::testing::Values(BadTlv{"SimpleCutLongLength", hex("01 FF 00"), TlvMode::Simple, INVALID_LENGTH},
                      BadTlv{"BerNonMinimal", concat({hex("01 81 7F"), repeat(0, 0x7F)}), TlvMode::Ber, INVALID_LENGTH},
                      BadTlv{"BerTwoByteNonMinimal", concat({hex("01 82 00 7F"), repeat(0, 0x7F)}), TlvMode::Ber,
                             INVALID_LENGTH},
                      BadTlv{"BerIndefinite", hex("01 80"), TlvMode::Ber, INVALID_LENGTH},
                      BadTlv{"BerCutLongLength", hex("01 82 01"), TlvMode::Ber, INVALID_LENGTH},
                      BadTlv{"TrailingByte", hex("01 01 AA 02"), TlvMode::Simple, MISSING_HEADER},
                      BadTlv{"TrailingByteBer", hex("01 01 AA 02"), TlvMode::Ber, MISSING_HEADER},
                      BadTlv{"ValueTooLong", hex("01 03 AA BB"), TlvMode::Simple, INCOMPLETE},
                      BadTlv{"LongValueTooLong", concat({hex("01 81 90"), repeat(0, 0x8F)}), TlvMode::Ber, INCOMPLETE},
                      BadTlv{"ThreeByteTooLong", hex("01 FF 01 00 AA"), TlvMode::Simple, INCOMPLETE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FindTlv, GivesTheFirstElementWithTheTag) {
    const Bytes buffer = hex("01 01 AA  02 01 BB  02 01 CC");
    const TlvElements elements = parseTlv(buffer, TlvMode::Simple);
    ASSERT_NE(findTlv(elements, 0x02), nullptr);
    EXPECT_EQ(findTlv(elements, 0x02)->value[0], 0xBB);
    EXPECT_EQ(findTlv(elements, 0x03), nullptr);
}

}  // namespace
}  // namespace kvfl
