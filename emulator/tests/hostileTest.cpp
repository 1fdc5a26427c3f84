#include "hostile.h"
#include "testCard.h"

#include <gtest/gtest.h>

#include <set>

namespace kvtoken::test {
namespace {

// What a diagnostic host sends, round and round: data objects, FCPs, a
// directory walk, the journal, diagnostics, a challenge.
const char* const hostCommands[] = {
    "00 CA 01 81 08", "00 CA 01 89 0C", "00 CA 01 01", "00 A4 08 04 04 10 00 10 00", "00 A4 00 04",
    "00 A4 00 06 02 60 05", "00 A4 03 04", "90 5D 01 00 00", "80 7E 51 01 00", "80 71 00 00",
    "00 84 00 00 08", "80 7E 10 00 04", "00 20 00 02",
};

struct Exchange {
    Bytes message;
    std::optional<Bytes> answer;
    Distortion distortion;
};

// Drives a hostile card as a host does: follows 6Cxx with the command again
// at the length asked and 61xx with GET RESPONSE, asks for the ATR and
// powers the card up again every so often.
class HostDriver {
public:
    HostDriver(const std::string& profile, uint64_t seed) : card_(loadProfile(bundled(profile)), seed) {}

    Exchange next()
    {
        const Bytes message = chooseMessage();
        auto answer = card_.receive(message);
        if (card_.takeDeparture())
            card_.unplug();
        previous_ = message;
        previousAnswer_ = answer;
        return {message, answer, card_.lastDistortion()};
    }

private:
    Bytes chooseMessage()
    {
        ++count_;
        if (count_ % 40 == 0)
            return {0x04};
        if (count_ % 97 == 0)
            return {0x01};
        if (previousAnswer_ && previousAnswer_->size() == 2 && previous_.size() >= 4) {
            const uint8_t sw1 = (*previousAnswer_)[0], sw2 = (*previousAnswer_)[1];
            if (sw1 == 0x6C) {
                Bytes again(previous_.begin(), previous_.begin() + 4);
                if (previous_.size() > 5)
                    again.insert(again.end(), previous_.begin() + 4, previous_.begin() + 5 + previous_[4]);
                again.push_back(sw2);
                return again;
            }
            if (sw1 == 0x61)
                return {0x00, 0xC0, 0x00, 0x00, sw2};
        }
        return parseHex(hostCommands[next_++ % std::size(hostCommands)]);
    }

    HostileCard card_;
    size_t count_ = 0;
    size_t next_ = 0;
    Bytes previous_;
    std::optional<Bytes> previousAnswer_;
};

std::vector<Exchange> session(const std::string& profile, uint64_t seed, size_t messages)
{
    HostDriver host(profile, seed);
    std::vector<Exchange> exchanges;
    for (size_t i = 0; i < messages; ++i)
        exchanges.push_back(host.next());
    return exchanges;
}

std::vector<std::optional<Bytes>> answersOf(const std::vector<Exchange>& exchanges)
{
    std::vector<std::optional<Bytes>> answers;
    for (const auto& exchange : exchanges)
        answers.push_back(exchange.answer);
    return answers;
}

const char* const profiles[] = {"mirel3.json", "brisa.json", "mirel3-flash.json", "varo.json"};

// The long length form 89 writes a length in nine bytes: wider than the value.
TEST(BigEndian, WiderThanEightBytesPadsWithZeros)
{
    Bytes out;
    appendBigEndian(out, 0x0102030405060708, 9);
    EXPECT_EQ(formatHex(out), "00 01 02 03 04 05 06 07 08");
}

TEST(HostileCard, SameSeedSameAnswersOtherSeedOthers)
{
    for (const char* profile : profiles) {
        SCOPED_TRACE(profile);
        const auto first = answersOf(session(profile, 7, 1500));
        EXPECT_EQ(first, answersOf(session(profile, 7, 1500)));
        EXPECT_NE(first, answersOf(session(profile, 8, 1500)));
    }
}

TEST(HostileCard, AtRateZeroItIsTheTokenItself)
{
    HostileCard hostile(loadProfile(bundled("brisa.json")), 5, 0);
    Card card(loadProfile(bundled("brisa.json")), 5);
    for (int round = 0; round < 3; ++round) {
        for (const char* command : hostCommands) {
            ASSERT_EQ(hostile.receive(parseHex(command)), card.receive(parseHex(command))) << command;
            ASSERT_EQ(hostile.lastDistortion(), Distortion::none);
        }
        ASSERT_EQ(hostile.receive({0x04}), card.receive({0x04}));
    }
}

TEST(HostileCard, EveryDistortionOccursAndAnswersStayInBounds)
{
    std::set<Distortion> seen;
    for (const char* profile : profiles) {
        for (uint64_t seed = 0; seed < 25; ++seed) {
            for (const auto& exchange : session(profile, seed, 400)) {
                seen.insert(exchange.distortion);
                if (exchange.message.size() == 1 && exchange.message[0] == 0x04) {
                    ASSERT_TRUE(exchange.answer);
                    EXPECT_GE(exchange.answer->size(), 1u);
                    EXPECT_LE(exchange.answer->size(), 33u);
                    continue;
                }
                if (exchange.message.size() == 1)
                    continue;
                ASSERT_EQ(!exchange.answer, exchange.distortion == Distortion::vanish) << profile << " seed " << seed;
                if (exchange.answer) {
                    EXPECT_GE(exchange.answer->size(), 2u);
                    EXPECT_LE(exchange.answer->size(), 258u + 2u) << profile << " seed " << seed;
                }
            }
        }
    }
    for (int kind = 0; kind <= static_cast<int>(Distortion::atr); ++kind)
        EXPECT_TRUE(seen.count(static_cast<Distortion>(kind))) << distortionName(static_cast<Distortion>(kind));
}

// The first seed whose answer to `command` went through `wanted`.
uint64_t seedStarting(Distortion wanted, const std::string& profile, const std::string& command, unsigned rate)
{
    for (uint64_t seed = 0; seed < 100000; ++seed) {
        HostileCard card(loadProfile(bundled(profile)), seed, rate);
        card.receive(parseHex(command));
        if (card.lastDistortion() == wanted)
            return seed;
    }
    ADD_FAILURE() << "no seed starts " << distortionName(wanted);
    return 0;
}

struct Started {
    std::unique_ptr<HostileCard> card;
    Bytes answer;
};

Started startWith(Distortion wanted, const std::string& profile, const std::string& command, unsigned rate = 100)
{
    auto card = std::make_unique<HostileCard>(loadProfile(bundled(profile)),
                                              seedStarting(wanted, profile, command, rate), rate);
    const Bytes answer = card->receive(parseHex(command)).value_or(Bytes{});
    return {std::move(card), answer};
}

uint16_t statusOf(const Bytes& answer)
{
    return static_cast<uint16_t>(answer[answer.size() - 2] << 8 | answer.back());
}

TEST(HostileCard, WrongLengthStormAnswersEveryRetryWith6C)
{
    auto [card, answer] = startWith(Distortion::wrongLengthStorm, "mirel3.json", "00 CA 01 81 08");
    for (int retry = 0; retry < 500; ++retry) {
        ASSERT_EQ(answer.size(), 2u);
        ASSERT_EQ(answer[0], 0x6C);
        answer = *card->receive({0x00, 0xCA, 0x01, 0x81, answer[1]});
    }
    // Another command ends it.
    card->receive(parseHex("00 CA 01 89 0C"));
    EXPECT_NE(card->lastDistortion(), Distortion::wrongLengthStorm);
}

TEST(HostileCard, ResponseStormNeverEndsTheChain)
{
    auto [card, answer] = startWith(Distortion::responseStorm, "brisa.json", "00 CA 01 81");
    for (int part = 0; part < 500; ++part) {
        ASSERT_EQ(answer.at(answer.size() - 2), 0x61);
        const uint8_t asked = answer.back();
        answer = *card->receive({0x00, 0xC0, 0x00, 0x00, asked});
        ASSERT_EQ(answer.size(), (asked == 0 ? 256u : asked) + 2u);
    }
}

TEST(HostileCard, EndlessWalkFindsANewFileEveryTime)
{
    for (const char* profile : {"mirel3.json", "brisa.json"}) {
        SCOPED_TRACE(profile);
        auto [card, answer] = startWith(Distortion::endlessWalk, profile, "00 A4 00 04 00");
        std::set<Bytes> identifiers;
        for (int entry = 0; entry < 300; ++entry) {
            auto fcp = *card->receive(parseHex("00 A4 00 06 02 01 01"));
            if (statusOf(fcp) >> 8 == 0x61)  // T=0
                fcp = *card->receive({0x00, 0xC0, 0x00, 0x00, fcp.back()});
            ASSERT_EQ(statusOf(fcp), sw::ok);
            ASSERT_EQ(fcp[0], 0x62);
            identifiers.insert(Bytes(fcp.begin() + 8, fcp.begin() + 10));
        }
        EXPECT_EQ(identifiers.size(), 300u);
    }
}

TEST(HostileCard, EndlessJournalNeverEnds)
{
    auto [card, answer] = startWith(Distortion::endlessJournal, "mirel3.json", "80 71 00 00 07", 10);
    size_t read = 0;
    for (int portion = 0; portion < 300; ++portion) {
        const Bytes part = *card->receive(parseHex("90 5D 01 00 00"));
        ASSERT_EQ(statusOf(part), sw::ok);
        read += part.size() - 2;
    }
    EXPECT_EQ(read, 300u * 255u);
    card->receive({0x01});  // the power going ends it
    Bytes last;
    for (int portion = 0; portion < 50 && statusOf(last = *card->receive(parseHex("90 5D 01 00 00"))) != 0x6B00;)
        ++portion;
    EXPECT_EQ(statusOf(last), 0x6B00);
}

TEST(HostileCard, VanishesInsteadOfAnsweringAndComesBackSoon)
{
    const uint64_t seed = seedStarting(Distortion::vanish, "mirel3.json", "00 CA 01 81 08", 100);
    HostileCard card(loadProfile(bundled("mirel3.json")), seed, 100);
    EXPECT_FALSE(card.receive(parseHex("00 CA 01 81 08")));
    const auto away = card.takeDeparture();
    ASSERT_TRUE(away);
    EXPECT_GE(away->count(), 20);
    EXPECT_LE(away->count(), 300);
    EXPECT_FALSE(card.takeDeparture());
}

TEST(HostileCard, RestartAnswersThenLeaves)
{
    auto [card, answer] = startWith(Distortion::restart, "mirel3.json", "00 CA 01 81 08");
    EXPECT_EQ(formatHex(answer), "00 00 00 00 12 34 56 78 90 00");
    EXPECT_TRUE(card->takeDeparture());
}

}  // namespace
}  // namespace kvtoken::test
