#include "scardImpl.h"

#include "exception.h"
#include "hexBytes.h"
#include "scriptedPcsc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace kvfl {
namespace {

using test::Answer;
using test::concat;
using test::hex;
using test::repeat;
using test::ScriptedPcsc;
using ::testing::ElementsAre;

const uint32_t RESET = static_cast<uint32_t>(SCARD_W_RESET_CARD);

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ATR with T=1 offered in TD1, then the historical bytes and TCK.
Bytes t1Atr(const Bytes& historical) {
    return concat({Bytes{0x3B, static_cast<uint8_t>(0x80 | historical.size()), 0x80, 0x01}, historical, {0x00}});
}

const Bytes MIREL_ATR = t1Atr(text("KelvaneMirelsc"));

class ScardImplTest : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedPcsc> pcsc = std::make_shared<ScriptedPcsc>();

    std::unique_ptr<ScardImpl> connect(DWORD protocol = SCARD_PROTOCOL_T1) {
        pcsc->readers.push_back({"Reader 0", MIREL_ATR, protocol});
        return std::make_unique<ScardImpl>("Reader 0", pcsc);
    }

    void answer(std::initializer_list<const char*> answers) {
        for (const char* bytes : answers) pcsc->answers.push_back({hex(bytes)});
    }
};

TEST_F(ScardImplTest, ConnectFailureReleasesTheContext) {
    pcsc->readers.push_back({"Reader 0", MIREL_ATR, SCARD_PROTOCOL_T1, static_cast<uint32_t>(SCARD_E_NO_SMARTCARD)});
    try {
        ScardImpl card("Reader 0", pcsc);
        FAIL() << "connected";
    } catch (const PcscException& error) {
        EXPECT_EQ(error.resultCode(), 0x8010000Cu);
    }
    EXPECT_EQ(pcsc->openContexts, 0);
}

TEST_F(ScardImplTest, ContextFailureIsAPcscError) {
    pcsc->establishResult = static_cast<uint32_t>(SCARD_E_NO_SERVICE);
    pcsc->readers.push_back({"Reader 0", MIREL_ATR});
    EXPECT_THROW(ScardImpl("Reader 0", pcsc), PcscException);
}

TEST_F(ScardImplTest, DestructorEndsTransactionDisconnectsAndReleases) {
    {
        auto card = connect();
        card->lock();
    }
    EXPECT_THAT(pcsc->calls, ElementsAre("begin", "end", "disconnect"));
    EXPECT_EQ(pcsc->openContexts, 0);
    EXPECT_EQ(pcsc->connected, 0);
}

TEST_F(ScardImplTest, SendsTheWholeCommandOnT1AndDropsLeOnT0) {
    const ApduCommand::SelectNextFileApdu select(0x0102);
    for (DWORD protocol : {SCARD_PROTOCOL_T1, SCARD_PROTOCOL_T0}) {
        pcsc = std::make_shared<ScriptedPcsc>();
        auto card = connect(protocol);
        answer({"90 00"});
        EXPECT_EQ(card->transmit(select).sw, 0x9000);
        const Bytes expected = protocol == SCARD_PROTOCOL_T1 ? hex("00 A4 00 06 02 01 02 00") : hex("00 A4 00 06 02 01 02");
        EXPECT_EQ(pcsc->sent.at(0).command, expected);
        EXPECT_EQ(pcsc->sent.at(0).pci, protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0);
    }
}

TEST_F(ScardImplTest, T0KeepsLeWhenTheCommandHasNoData) {
    auto card = connect(SCARD_PROTOCOL_T0);
    answer({"00 00 00 01 00 00 00 02 90 00"});
    const Response response = card->transmit(GetTokenSerial());
    EXPECT_EQ(pcsc->sent.at(0).command, hex("00 CA 01 81 08"));
    EXPECT_EQ(pcsc->sent.at(0).bufferSize, 10u);
    EXPECT_EQ(response.data, hex("00 00 00 01 00 00 00 02"));
}

TEST_F(ScardImplTest, WrongLengthSendsAgainOnceWithTheNamedLength) {
    auto card = connect();
    answer({"6C 08", "01 02 03 04 05 06 07 08 90 00"});
    const Response response = card->transmit(GetSectionsAttributesApdu());
    ASSERT_EQ(pcsc->sent.size(), 2u);
    EXPECT_EQ(pcsc->sent[0].bufferSize, 258u);
    EXPECT_EQ(pcsc->sent[1].command, hex("80 53 11 00 08"));
    EXPECT_EQ(pcsc->sent[1].bufferSize, 10u);
    EXPECT_EQ(response.sw, 0x9000);
    EXPECT_EQ(response.data, hex("01 02 03 04 05 06 07 08"));
}

TEST_F(ScardImplTest, WrongLengthIsRetriedOnlyOnce) {
    auto card = connect();
    answer({"6C 08", "6C 04"});
    EXPECT_EQ(card->transmit(GetSectionsAttributesApdu()).sw, 0x6C04);
    EXPECT_EQ(pcsc->sent.size(), 2u);
}

TEST_F(ScardImplTest, WrongLengthToACommandWithoutLeIsReturnedUntouched) {
    // its last byte is data, which must not be rewritten
    auto card = connect();
    answer({"6C 08"});
    EXPECT_EQ(card->transmit(AppendRecord(hex("AA BB"))).sw, 0x6C08);
    EXPECT_EQ(pcsc->sent.size(), 1u);
}

TEST_F(ScardImplTest, MoreDataIsFetchedWithGetResponse) {
    auto card = connect();
    answer({"AA BB 61 10", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 90 00"});
    const Response response = card->transmit(GetExtendedTokenInfoApdu());
    ASSERT_EQ(pcsc->sent.size(), 2u);
    EXPECT_EQ(pcsc->sent[1].command, hex("00 C0 00 00 10"));
    EXPECT_EQ(pcsc->sent[1].bufferSize, 18u);
    EXPECT_EQ(response.sw, 0x9000);
    EXPECT_EQ(response.data, concat({hex("AA BB"), hex("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F")}));
}

TEST_F(ScardImplTest, GetResponseChainIsBounded) {
    auto card = connect();
    for (int i = 0; i < MAX_GET_RESPONSE_PARTS + 5; ++i) answer({"EE 61 01"});
    try {
        card->transmit(GetExtendedTokenInfoApdu());
        FAIL() << "endless chain accepted";
    } catch (const Exception& error) {
        EXPECT_EQ(error.status(), KVFLASH_INVALID_DEVICE_RESPONSE);
    }
    EXPECT_EQ(pcsc->sent.size(), 1u + MAX_GET_RESPONSE_PARTS);
}

TEST_F(ScardImplTest, FailuresOfTheExchangeArePcscErrors) {
    auto card = connect();
    const struct {
        Answer answer;
        uint32_t code;
    } cases[] = {
        {{hex("90")}, 0x8010001F},                                  // shorter than a status word
        {{{}, static_cast<uint32_t>(SCARD_E_COMM_DATA_LOST)}, 0x8010002F},
    };
    for (const auto& [scripted, code] : cases) {
        pcsc->answers.push_back(scripted);
        try {
            card->transmit(ApduCommand::ResetAccessRights());
            FAIL() << std::hex << code;
        } catch (const PcscException& error) {
            EXPECT_EQ(error.resultCode(), code);
        }
    }
}

TEST_F(ScardImplTest, NestedLocksMakeOneTransaction) {
    auto card = connect();
    card->lock();
    card->lock();
    EXPECT_EQ(pcsc->count("begin"), 1);
    card->unlock();
    EXPECT_EQ(pcsc->count("end"), 0);
    card->unlock();
    EXPECT_EQ(pcsc->count("end"), 1);
    // an unlock without a lock must not wrap the count around
    card->unlock();
    card->lock();
    EXPECT_EQ(pcsc->count("begin"), 2);
}

TEST_F(ScardImplTest, FailedLockLeavesTheCountAlone) {
    auto card = connect();
    pcsc->beginResults.push_back(static_cast<uint32_t>(SCARD_E_SHARING_VIOLATION));
    EXPECT_THROW(card->lock(), PcscException);
    card->lock();
    EXPECT_EQ(pcsc->count("begin"), 2);
    card->unlock();
    EXPECT_EQ(pcsc->count("end"), 1);
}

TEST_F(ScardImplTest, ScardLockHoldsTheTransactionForItsScope) {
    std::shared_ptr<ScardImpl> card = connect();
    {
        ScardLock outer(card);
        ScardLock inner(card);
        EXPECT_EQ(pcsc->count("begin"), 1);
    }
    EXPECT_EQ(pcsc->count("end"), 1);
}

TEST_F(ScardImplTest, ResetInsideATransactionReconnectsBeginsAgainAndKeepsTheCard) {
    auto card = connect();
    card->lock();
    pcsc->answers.push_back({{}, RESET});
    answer({"01 02 90 00", "90 00"});

    const Response response = card->transmit(GetDataApdu(0x01, 0x02, 0x02));
    EXPECT_EQ(response.data, hex("01 02"));
    EXPECT_THAT(pcsc->calls, ElementsAre("begin", "transmit", "reconnect", "begin", "transmit"));
    EXPECT_EQ(pcsc->sent[1].command, pcsc->sent[0].command);

    // the connection stays usable and the transaction is still ours to end
    EXPECT_EQ(card->transmit(ApduCommand::ResetAccessRights()).sw, 0x9000);
    card->unlock();
    EXPECT_EQ(pcsc->count("end"), 1);
    EXPECT_EQ(pcsc->count("disconnect"), 0);
}

TEST_F(ScardImplTest, ResetOutsideATransactionOnlyReconnects) {
    auto card = connect();
    pcsc->reconnectProtocol = SCARD_PROTOCOL_T0;
    pcsc->answers.push_back({{}, RESET});
    answer({"90 00", "90 00"});
    EXPECT_EQ(card->transmit(ApduCommand::SelectNextFileApdu(1)).sw, 0x9000);
    EXPECT_EQ(pcsc->count("begin"), 0);
    // the protocol the reconnect gave is used from then on
    EXPECT_EQ(pcsc->sent[1].pci, SCARD_PCI_T0);
    EXPECT_EQ(card->transmit(ApduCommand::SelectNextFileApdu(1)).sw, 0x9000);
    EXPECT_EQ(pcsc->sent[2].command, hex("00 A4 00 06 02 00 01"));
}

TEST_F(ScardImplTest, ResetReportedWhenBeginningATransactionIsRecovered) {
    auto card = connect();
    pcsc->beginResults.push_back(RESET);
    card->lock();
    EXPECT_THAT(pcsc->calls, ElementsAre("begin", "reconnect", "begin"));
    answer({"90 00"});
    EXPECT_EQ(card->transmit(ApduCommand::ResetAccessRights()).sw, 0x9000);
    card->unlock();
    EXPECT_EQ(pcsc->count("end"), 1);
}

TEST_F(ScardImplTest, ResetThatKeepsComingGivesUpAfterFifteenAttempts) {
    auto card = connect();
    for (int i = 0; i < 20; ++i) pcsc->answers.push_back({{}, RESET});
    try {
        card->transmit(ApduCommand::ResetAccessRights());
        FAIL() << "no exception";
    } catch (const PcscException& error) {
        EXPECT_EQ(error.resultCode(), RESET);
    }
    EXPECT_EQ(pcsc->count("reconnect"), MAX_RESET_RECOVERY_ATTEMPTS);
    EXPECT_EQ(pcsc->count("transmit"), 1 + MAX_RESET_RECOVERY_ATTEMPTS);
}

TEST_F(ScardImplTest, UnrecoveredResetDropsTheCard) {
    auto card = connect();
    card->lock();
    pcsc->answers.push_back({{}, RESET});
    pcsc->reconnectResults.push_back(static_cast<uint32_t>(SCARD_E_NO_SMARTCARD));
    try {
        card->transmit(ApduCommand::ResetAccessRights());
        FAIL() << "no exception";
    } catch (const PcscException& error) {
        EXPECT_EQ(error.resultCode(), 0x8010000Cu);
    }
    EXPECT_EQ(pcsc->count("disconnect"), 1);
    // every later command fails; ending the lost transaction does nothing
    EXPECT_THROW(card->transmit(ApduCommand::ResetAccessRights()), PcscException);
    EXPECT_NO_THROW(card->unlock());
    EXPECT_EQ(pcsc->count("end"), 0);
}

TEST_F(ScardImplTest, BeginFailureAfterReconnectEndsTheRecovery) {
    auto card = connect();
    card->lock();
    pcsc->answers.push_back({{}, RESET});
    pcsc->beginResults.push_back(static_cast<uint32_t>(SCARD_E_SHARING_VIOLATION));
    EXPECT_THROW(card->transmit(ApduCommand::ResetAccessRights()), PcscException);
    EXPECT_THAT(pcsc->calls, ElementsAre("begin", "transmit", "reconnect", "begin", "disconnect"));
}

TEST_F(ScardImplTest, SwapMovesTheConnection) {
    pcsc->readers.push_back({"Reader 0", MIREL_ATR});
    pcsc->readers.push_back({"Reader 1", MIREL_ATR});
    ScardImpl first("Reader 0", pcsc);
    ScardImpl second("Reader 1", pcsc);
    first.swap(second);
    EXPECT_EQ(first.reader(), "Reader 1");
    answer({"90 00"});
    first.transmit(ApduCommand::ResetAccessRights());
    EXPECT_EQ(pcsc->sent.at(0).card, 2);
}

TEST_F(ScardImplTest, SwapWithAnotherKindOfScardIsRefused) {
    struct OtherScard : Scard {
        Response transmit(const Apdu&) override { return {}; }
        void lock() override {}
        void unlock() override {}
        void swap(Scard&) override {}
        const PcscString& reader() const override { return name; }
        PcscString name;
    } other;
    auto card = connect();
    try {
        card->swap(other);
        FAIL() << "swapped";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Cannot swap Scard: incompatible implementation type");
    }
}

TEST(HistoricalBytes, FollowsTheInterfaceBytes) {
    EXPECT_EQ(historicalBytes(concat({hex("3B 0E"), text("KelvaneMirelsc")})), text("KelvaneMirelsc"));
    EXPECT_EQ(historicalBytes(t1Atr(text("Kelvane Mirel"))), text("Kelvane Mirel"));
    // TA1 TB1 TC1 TD1, then TD2 announcing TA3 only
    EXPECT_EQ(historicalBytes(concat({hex("3B F4 11 00 00 81 11 FE"), text("KvSC"), hex("00")})), text("KvSC"));
    EXPECT_EQ(historicalBytes(hex("3B 00")), Bytes{});
    EXPECT_EQ(historicalBytes(hex("3B")), Bytes{});
    // cut short: what is there, which then matches nothing
    EXPECT_EQ(historicalBytes(hex("3B 04 4B 76")), text("Kv"));
    EXPECT_EQ(historicalBytes(hex("3B 84 80")), Bytes{});
}

TEST(KnownTokens, MatchExactly) {
    EXPECT_TRUE(isKnownToken(text("KelvaneMirelsc")));
    EXPECT_TRUE(isKnownToken(text("Kelvane Tavi ")));
    EXPECT_FALSE(isKnownToken(text("Kelvane Tavi")));
    EXPECT_FALSE(isKnownToken(text("KelvaneMirelscX")));
    EXPECT_FALSE(isKnownToken(text("KelvaneMirel")));
    EXPECT_FALSE(isKnownToken({}));
}

class EnumeratorTest : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedPcsc> pcsc = std::make_shared<ScriptedPcsc>();

    std::vector<std::string> readersOf(const std::vector<std::shared_ptr<Scard>>& cards) {
        std::vector<std::string> names;
        for (const auto& card : cards) names.push_back(dynamic_cast<ScardImpl&>(*card).reader());
        return names;
    }
};

TEST_F(EnumeratorTest, KeepsOnlyCardsWhoseHistoricalBytesMatchExactly) {
    pcsc->readers = {
        {"Mirel", MIREL_ATR},
        {"Longer", t1Atr(text("KelvaneMirelscX"))},
        {"Shorter", t1Atr(text("KelvaneMirel"))},
        {"Empty", {}},
        {"Varo", concat({hex("3B 0D"), text("Kelvane Mirel")})},
    };
    auto cards = ScardEnumeratorImpl(pcsc).enumScards();
    EXPECT_THAT(readersOf(cards), ElementsAre("Mirel", "Varo"));
    EXPECT_EQ(pcsc->connected, 2);  // the others were closed again
    // No reader is asked for its state first: a connect to an empty one fails as quickly.
    EXPECT_THAT(pcsc->connects, ElementsAre("Mirel", "Longer", "Shorter", "Empty", "Varo"));
    EXPECT_TRUE(pcsc->waitTimeouts.empty());
    // One context for the whole look, kept by the cards and released with the last of them.
    EXPECT_EQ(pcsc->openContexts, 1);
    cards.pop_back();
    EXPECT_EQ(pcsc->openContexts, 1);
    cards.clear();
    EXPECT_EQ(pcsc->openContexts, 0);
}

TEST_F(EnumeratorTest, NoReaderGivesAnEmptyList) {
    EXPECT_TRUE(ScardEnumeratorImpl(pcsc).enumScards().empty());
    EXPECT_EQ(pcsc->openContexts, 0);
}

// An empty reader, a card that left before the connect, a reader unplugged
// after the listing, a reader that cannot be used.
TEST_F(EnumeratorTest, ReaderWithNothingToConnectToIsSkipped) {
    for (const LONG refusal : {SCARD_E_NO_SMARTCARD, SCARD_W_REMOVED_CARD, SCARD_E_UNKNOWN_READER,
                               SCARD_E_READER_UNAVAILABLE}) {
        pcsc->readers = {{"Gone", MIREL_ATR, SCARD_PROTOCOL_T1, static_cast<uint32_t>(refusal)}, {"Mirel", MIREL_ATR}};
        EXPECT_THAT(readersOf(ScardEnumeratorImpl(pcsc).enumScards()), ElementsAre("Mirel")) << std::hex << refusal;
    }
}

TEST_F(EnumeratorTest, OtherConnectFailuresEndTheEnumeration) {
    pcsc->readers = {{"Busy", MIREL_ATR, SCARD_PROTOCOL_T1, static_cast<uint32_t>(SCARD_E_SHARING_VIOLATION)}};
    EXPECT_THROW(ScardEnumeratorImpl(pcsc).enumScards(), PcscException);
    EXPECT_EQ(pcsc->openContexts, 0);
}

TEST_F(EnumeratorTest, ConnectsToOneReaderOnlyForAKnownToken) {
    pcsc->readers = {{"Mirel", MIREL_ATR}, {"Empty", {}}, {"Other", t1Atr(text("OtherCard"))}};
    ScardEnumeratorImpl enumerator(pcsc);
    const std::shared_ptr<Scard> mirel = enumerator.connectTo("Mirel");
    ASSERT_NE(mirel, nullptr);
    EXPECT_EQ(mirel->reader(), "Mirel");
    EXPECT_EQ(enumerator.connectTo("Empty"), nullptr);
    EXPECT_EQ(enumerator.connectTo("Other"), nullptr);
    EXPECT_THAT(pcsc->connects, ElementsAre("Mirel", "Empty", "Other"));
    EXPECT_EQ(pcsc->connected, 1);  // the other card's connection was closed
    EXPECT_EQ(pcsc->openContexts, 1);  // only the kept card's
}

TEST_F(EnumeratorTest, ReaderThatRefusesADirectConnectionIsAnError) {
    pcsc->readers = {{"Busy", MIREL_ATR, SCARD_PROTOCOL_T1, static_cast<uint32_t>(SCARD_E_SHARING_VIOLATION)}};
    EXPECT_THROW(ScardEnumeratorImpl(pcsc).connectTo("Busy"), PcscException);
    EXPECT_EQ(pcsc->openContexts, 0);
}

// Tokens are opened in one kept context: a context per opening costs more
// than the commands that open a token.
TEST_F(EnumeratorTest, DirectConnectionsShareTheKeptContextUntilOneFails) {
    pcsc->readers = {{"Mirel", MIREL_ATR},
                     {"Busy", MIREL_ATR, SCARD_PROTOCOL_T1, static_cast<uint32_t>(SCARD_E_SHARING_VIOLATION)}};
    ScardEnumeratorImpl enumerator(pcsc, std::make_shared<KeptContext>(pcsc));
    enumerator.connectTo("Mirel");
    std::shared_ptr<Scard> card = enumerator.connectTo("Mirel");
    EXPECT_EQ(pcsc->openContexts, 1);  // kept after the first card had gone
    EXPECT_THROW(enumerator.connectTo("Busy"), PcscException);
    card.reset();
    EXPECT_EQ(pcsc->openContexts, 0);  // the failed one is no longer kept
    card = enumerator.connectTo("Mirel");
    EXPECT_EQ(pcsc->openContexts, 1);
}

TEST(KeptContextTest, ForkedChildEstablishesItsOwnAndNeverReleasesItsParents) {
    auto pcsc = std::make_shared<ScriptedPcsc>();
    KeptContext kept(pcsc);
    const SCARDCONTEXT parents = kept.get()->handle();
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        const bool own = kept.get()->handle() != parents;
        _exit(own && pcsc->openContexts == 2 ? 0 : 1);  // the parent's still counted: not released
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(kept.get()->handle(), parents);
}

// After a restart the library waits for the token's card to come back: a
// card coming or going ends a wait at once, our own connections do not.
class ReaderWatchTest : public EnumeratorTest {
protected:
    ReaderWatchTest() { pcsc->readers = {{"Mirel", MIREL_ATR}}; }
    ScardEnumeratorImpl enumerator{pcsc};
};

TEST_F(ReaderWatchTest, CardGoingOrComingEndsTheWaitAReaderInUseDoesNot) {
    enumerator.noteReaders();
    pcsc->changes = {{SCARD_S_SUCCESS, {{"Mirel", SCARD_STATE_PRESENT | SCARD_STATE_INUSE}}},
                     {SCARD_S_SUCCESS, {{"Mirel", SCARD_STATE_EMPTY | 0x10000}}},
                     {SCARD_S_SUCCESS, {{"Mirel", SCARD_STATE_PRESENT | 0x20000}}}};
    enumerator.waitForReaderChange(std::chrono::seconds(1));
    EXPECT_EQ(pcsc->changes.size(), 1u);  // in use, then gone: one wait
    enumerator.waitForReaderChange(std::chrono::seconds(1));
    EXPECT_TRUE(pcsc->changes.empty());  // back
    ASSERT_EQ(pcsc->waitTimeouts.size(), 4u);
    EXPECT_EQ(pcsc->waitTimeouts[0], 0u);  // noting waits for nothing
    for (std::size_t i = 1; i < pcsc->waitTimeouts.size(); ++i) EXPECT_LE(pcsc->waitTimeouts[i], 1000u);
}

TEST_F(ReaderWatchTest, NothingHappeningEndsTheWaitWithItsTime) {
    enumerator.noteReaders();
    enumerator.waitForReaderChange(std::chrono::seconds(1));
    EXPECT_THAT(pcsc->waitTimeouts, ElementsAre(0u, 1000u));
}

TEST_F(ReaderWatchTest, ReaderThatWentAwayIsWatchedAnew) {
    enumerator.noteReaders();
    pcsc->changes = {{static_cast<uint32_t>(SCARD_E_UNKNOWN_READER), {}}};
    pcsc->readers = {{"Mirel 2", MIREL_ATR}};
    enumerator.waitForReaderChange(std::chrono::seconds(1));
    EXPECT_THAT(pcsc->waitTimeouts, ElementsAre(0u, 1000u, 0u));  // noted again at once
}

TEST(ListReaders, SplitsTheMultiString) {
    ScriptedPcsc pcsc;
    pcsc.readers = {{"Virtual PCD 00 00", {}}, {"Virtual PCD 00 01", {}}};
    EXPECT_THAT(listReaders(pcsc, 1), ElementsAre("Virtual PCD 00 00", "Virtual PCD 00 01"));
}

TEST(ListReaders, OtherFailuresThrow) {
    struct FailingList : ScriptedPcsc {
        uint32_t listReaders(SCARDCONTEXT, char*, DWORD&) override {
            return static_cast<uint32_t>(SCARD_E_NO_SERVICE);
        }
    } pcsc;
    EXPECT_THROW(listReaders(pcsc, 1), PcscException);
}

}  // namespace
}  // namespace kvfl
