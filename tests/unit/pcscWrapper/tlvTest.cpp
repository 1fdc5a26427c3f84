#include "pcscWrapper/tlv.h"
#include "scriptedPcsc.h"

#include <gmock/gmock.h>

#include <stdexcept>

namespace {

struct TlvCase {
    const char* name;
    TlvLengths lengths;
    std::string data;
    std::vector<std::string> objects;  // tag and value, as hex
    bool complete;
};

const std::string k128Bytes = toHex(Bytes(128, 0xAB));

const TlvCase kTlvCases[] = {
    {"Empty", TlvLengths::Ber, "", {}, true},
    {"ShortForms", TlvLengths::Ber, "85 02 01 02 84 00", {"85 01 02", "84"}, true},
    {"LongFormOneByte", TlvLengths::Ber, "85 81 80 " + k128Bytes, {"85 " + k128Bytes}, true},
    {"LongFormTwoBytes", TlvLengths::Ber, "85 82 00 01 AA", {"85 AA"}, true},
    {"LongFormWithoutLengthBytesIsZero", TlvLengths::Ber, "86 80 85 01 01", {"86", "85 01"}, true},
    {"TagWithoutLength", TlvLengths::Ber, "85 01 01 86", {"85 01"}, false},
    {"LongFormLengthBytesMissing", TlvLengths::Ber, "85 82 00", {}, false},
    {"ValuePastTheEnd", TlvLengths::Ber, "85 01 01 85 08 00 03", {"85 01"}, false},
    {"HugeLengthDoesNotWrap", TlvLengths::Ber, "85 88 FF FF FF FF FF FF FF FF 00", {}, false},
    // 2^64: nine length bytes would wrap a 64-bit sum round to a zero length.
    {"NineLengthBytesDoNotWrapToZero", TlvLengths::Ber, "85 89 01 00 00 00 00 00 00 00 00 86 00", {}, false},
    {"OneByteLengthAbove7F", TlvLengths::OneByte, "85 80 " + k128Bytes, {"85 " + k128Bytes}, true},
    {"OneByteTagWithoutLength", TlvLengths::OneByte, "50 01 01 51", {"50 01"}, false},
    {"OneByteValuePastTheEnd", TlvLengths::OneByte, "50 02 01", {}, false},
};

void PrintTo(const TlvCase& tlvCase, std::ostream* out)
{
    *out << tlvCase.name;
}

class TlvWalk : public testing::TestWithParam<TlvCase> {};

TEST_P(TlvWalk, SplitsObjectsAndStopsAtTheFirstCutShort)
{
    const Bytes data = hexBytes(GetParam().data);

    const TlvSequence sequence = parseTlv(data, GetParam().lengths);

    std::vector<std::string> objects;
    for (const Tlv& object : sequence.objects) {
        std::string text = toHex({object.tag});
        if (!object.value.empty())
            text += " " + toHex(Bytes(object.value.begin(), object.value.end()));
        objects.push_back(text);
    }
    EXPECT_THAT(objects, testing::ElementsAreArray(GetParam().objects));
    EXPECT_EQ(sequence.complete, GetParam().complete);
}

INSTANTIATE_TEST_SUITE_P(Sequences, TlvWalk, testing::ValuesIn(kTlvCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct FindTagCase {
    const char* name;
    const char* buffer;
    uint8_t tag;
    const char* value;  // nullptr: "Tag was not found in buffer"
};

const FindTagCase kFindTag[] = {
    {"SecondElement", "01 02 AA BB 05 01 CC", 0x05, "CC"},
    {"FirstMatchWins", "05 01 11 05 01 22", 0x05, "11"},
    {"EmptyValue", "05 00 07 01 99", 0x05, ""},
    {"Missing", "01 02 AA BB 05 01 CC", 0x07, nullptr},
    {"EmptyBuffer", "", 0x05, nullptr},
    {"LoneTagByte", "05", 0x05, nullptr},
    {"LengthPastEnd", "05 04 AA BB", 0x05, nullptr},
    {"LengthPastEndBeforeMatch", "01 09 AA 05 01 CC", 0x05, nullptr},
    {"NoDescentIntoValues", "62 03 83 01 07", 0x83, nullptr},
};

class FindTag : public testing::TestWithParam<FindTagCase> {};

TEST_P(FindTag, FindsFirstElementOrThrows)
{
    const Bytes buffer = hexBytes(GetParam().buffer);
    if (!GetParam().value) {
        try {
            findTag(buffer, GetParam().tag);
            FAIL() << "expected a logic error";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), "Tag was not found in buffer");
        }
        return;
    }
    const ByteView value = findTag(buffer, GetParam().tag);
    EXPECT_EQ(toHex(Bytes(value.begin(), value.end())), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Cases, FindTag, testing::ValuesIn(kFindTag),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
