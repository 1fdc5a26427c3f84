#include "pcInfo.h"

#include "exception.h"
#include "hexBytes.h"

#include <gtest/gtest.h>

namespace kvfl {
namespace {

using test::concat;
using test::hex;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(PcInfo, EmptyTextsGoAsNone) {
    const PcInfo info{{"host", "", "user", ""}, 0x0102030405060708};
    EXPECT_EQ(serializePcInfo(info), concat({hex("C1 04"), text("host"), hex("C2 04"), text("NONE"), hex("C3 04"),
                                             text("user"), hex("C4 04"), text("NONE"),
                                             hex("C5 08 01 02 03 04 05 06 07 08")}));
}

TEST(PcInfo, TextLongerThan255BytesIsRefused) {
    PcInfo info{{std::string(255, 'a'), "", "", ""}, 0};
    EXPECT_NO_THROW(serializePcInfo(info));
    info.texts[3] = std::string(256, 'b');
    try {
        serializePcInfo(info);
        FAIL() << "accepted";
    } catch (const Exception& error) {
        EXPECT_EQ(error.status(), KVFLASH_INVALID_STRING_SIZE);
    }
}

TEST(JournalInformation, ShortInformationIsOneLastCommand) {
    const PcInfo info{{"a", "b", "c", "d"}, 1};
    const auto commands = journalInformationCommands(info);
    ASSERT_EQ(commands.size(), 1u);
    const Bytes items = serializePcInfo(info);
    EXPECT_EQ(commands[0].encode(),
              concat({hex("00 DA 01 7C"), Bytes{static_cast<uint8_t>(items.size() + 6)}, hex("80 02 00"),
                      Bytes{static_cast<uint8_t>(items.size())}, hex("A5"), Bytes{static_cast<uint8_t>(items.size())},
                      items}));
}

TEST(JournalInformation, LongInformationIsChainedInPartsOfAtMost253Bytes) {
    const PcInfo info{{std::string(255, 'a'), std::string(255, 'b'), std::string(200, 'c'), "d"}, 7};
    const Bytes items = serializePcInfo(info);
    const auto commands = journalInformationCommands(info);
    ASSERT_GT(commands.size(), 1u);

    Bytes joined;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        EXPECT_EQ(commands[i].cla(), i + 1 < commands.size() ? 0x10 : 0x00);
        const Bytes& data = *commands[i].data();
        EXPECT_LE(data.size(), 253u);
        const std::size_t header = i == 0 ? 4u : 0u;
        if (i == 0) {
            EXPECT_EQ(Bytes(data.begin(), data.begin() + 4), hex("80 02 02 D9"));  // the items' total length
        }
        ASSERT_EQ(data[header], 0xA5);
        EXPECT_EQ(data[header + 1], data.size() - header - 2);
        joined.insert(joined.end(), data.begin() + static_cast<std::ptrdiff_t>(header + 2), data.end());
    }
    EXPECT_EQ(items.size(), 0x02D9u);
    EXPECT_EQ(joined, items);
}

}  // namespace
}  // namespace kvfl
