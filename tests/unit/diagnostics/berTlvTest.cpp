#include "diagnostics/berTlv.h"
#include "scriptedPcsc.h"

#include <gmock/gmock.h>

namespace {

struct TlvCase {
    const char* name;
    std::string data;
    std::vector<std::string> objects;  // tag and value, as hex
    bool complete;
};

const std::string k128Bytes = toHex(Bytes(128, 0xAB));

const TlvCase kTlvCases[] = {
    {"Empty", "", {}, true},
    {"ShortForms", "85 02 01 02 84 00", {"85 01 02", "84"}, true},
    {"LongFormOneByte", "85 81 80 " + k128Bytes, {"85 " + k128Bytes}, true},
    {"LongFormTwoBytes", "85 82 00 01 AA", {"85 AA"}, true},
    {"LongFormWithoutLengthBytesIsZero", "86 80 85 01 01", {"86", "85 01"}, true},
    {"TagWithoutLength", "85 01 01 86", {"85 01"}, false},
    {"LongFormLengthBytesMissing", "85 82 00", {}, false},
    {"ValuePastTheEnd", "85 01 01 85 08 00 03", {"85 01"}, false},
    {"HugeLengthDoesNotWrap", "85 88 FF FF FF FF FF FF FF FF 00", {}, false},
};

void PrintTo(const TlvCase& tlvCase, std::ostream* out)
{
    *out << tlvCase.name;
}

class BerTlv : public testing::TestWithParam<TlvCase> {};

TEST_P(BerTlv, SplitsObjectsAndStopsAtTheFirstCutShort)
{
    const Bytes data = hexBytes(GetParam().data);

    const TlvSequence sequence = parseBerTlv(data);

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

INSTANTIATE_TEST_SUITE_P(Sequences, BerTlv, testing::ValuesIn(kTlvCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
