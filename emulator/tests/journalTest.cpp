// The security journal leaves the token in portions from its own read
// position and ends with 6B00.
#include "testCard.h"

#include <gtest/gtest.h>

namespace kvtoken::test {
namespace {

constexpr size_t healthyJournalSize = 316;

Bytes journalOf(const std::string& profile)
{
    return *loadProfile(bundled(profile)).securityJournal;
}

// Reads until the token stops answering 9000; returns the portion sizes and
// the bytes joined, the way the tool reads it.
std::pair<std::vector<size_t>, Bytes> readJournal(Card& card)
{
    std::vector<size_t> portions;
    Bytes journal;
    for (Bytes answer = card.transmit(parseHex("90 5D 01 00 FF"));; answer = card.transmit(parseHex("90 5D 01 00 FF"))) {
        const std::string status = formatHex({answer[answer.size() - 2], answer.back()});
        if (status != "90 00") {
            EXPECT_EQ(status, "6B 00");
            EXPECT_EQ(answer.size(), 2u);
            return {portions, journal};
        }
        portions.push_back(answer.size() - 2);
        journal.insert(journal.end(), answer.begin(), answer.end() - 2);
    }
}

TEST(JournalPaging, PortionsOfAtMost255BytesThen6B00)
{
    Card card = bundledCard("mirel3.json");
    const auto [portions, journal] = readJournal(card);
    EXPECT_EQ(portions, (std::vector<size_t>{255, healthyJournalSize - 255}));
    EXPECT_EQ(journal, journalOf("mirel3.json"));
}

TEST(JournalPaging, NextReaderStartsFromTheBeginning)
{
    Card card = bundledCard("mirel3.json");
    readJournal(card);
    EXPECT_EQ(readJournal(card).second, journalOf("mirel3.json"));
}

TEST(JournalPaging, PowerOnRewindsAHalfReadJournal)
{
    Card card = bundledCard("mirel3.json");
    card.transmit(parseHex("90 5D 01 00 FF"));
    card.receive({0x01});
    EXPECT_EQ(readJournal(card).second, journalOf("mirel3.json"));
}

TEST(JournalPaging, OnT0AWrongLeDoesNotMoveTheReadPosition)
{
    Card card = cardOver("mirel3.json", R"("protocol": "T=0")");
    ASSERT_EQ(card.protocol(), Protocol::T0);
    EXPECT_EQ(card.transmit(parseHex("90 5D 01 00 FF")).size(), 257u);
    EXPECT_EQ(send(card, "90 5D 01 00 FF"), "6C 3D");  // 61 bytes left
    const Bytes rest = card.transmit(parseHex("90 5D 01 00 3D"));
    const Bytes journal = journalOf("mirel3.json");
    EXPECT_EQ(Bytes(rest.begin(), rest.end() - 2), Bytes(journal.begin() + 255, journal.end()));
    EXPECT_EQ(send(card, "90 5D 01 00 FF"), "6B 00");
}

TEST(JournalPaging, EmptyJournalEndsAtOnce)
{
    Card card = cardOver("mirel3.json", R"("securityJournal": "")");
    EXPECT_EQ(send(card, "90 5D 01 00 FF"), "6B 00");
    EXPECT_EQ(send(card, "80 71 00 00 00"), "40 05 04 03 00 00 01 90 00");
}

TEST(JournalPaging, RefusesOtherParameters)
{
    Card card = bundledCard("mirel3.json");
    EXPECT_EQ(send(card, "90 5D 02 00 FF"), "6A 86");
}

}  // namespace
}  // namespace kvtoken::test
