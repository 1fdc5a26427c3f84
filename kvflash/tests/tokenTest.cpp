#include "exception.h"
#include "scriptedScard.h"
#include "thrown.h"
#include "tokenImpl.h"

#include <PCSC/winscard.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <string>

namespace kvfl {
namespace {

using namespace std::chrono_literals;
using test::FakeClock;
using test::hex;
using test::ScriptedEnumerator;
using test::ScriptedScard;
using test::statusOf;
using test::thrownBy;

using Value = std::variant<int64_t, std::string>;

constexpr uint64_t serial = 0x0102030405060708;

// Section descriptions as the device sends them (the value bytes of tag 80).
//                               nr acc count tc mask conditions        -- secrets           --
constexpr char journalEvents[] = "01 00 01 F4 01 3D   FF 00 FF FF FF FF 00 00 00 00 00 00 00 00";
constexpr char ordinary[] =      "02 03 03 00 00 00   00 00 00 00 00 00 00 00 00 00 00 00 00 00";
constexpr char encryptedRW[] =   "03 43 00 40 00 00   00 00 00 00 00 00 00 00 00 00 00 00 00 00";
constexpr char encryptedNone[] = "03 40 00 40 00 00   00 00 00 00 00 00 00 00 00 00 00 00 00 00";

std::string sectionsAnswer(std::initializer_list<const char*> descriptions)
{
    std::string answer;
    for (const char* description : descriptions)
        answer += std::string("80 14 ") + description + " ";
    return answer + "90 00";
}

constexpr char getSections[] = "80 53 11 00 00";
constexpr char totalFlash[] = "80 53 12 00";
constexpr char splitCommand[] = "80 53 10 00";
constexpr char resetAccessRights[] = "80 40 00 00";
constexpr char resetToken[] = "80 53 14 00";

// A flash token of 4096 units with a journal events section of 500 and an
// ordinary read-write section; tests change what they need.
struct FlashToken : testing::Test {
    std::shared_ptr<ScriptedScard> card = std::make_shared<ScriptedScard>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<ScriptedEnumerator> enumerator = std::make_shared<ScriptedEnumerator>();
    TokenImpl token{card, clock};

    FlashToken() { script(*card, {journalEvents, ordinary}); }

    static void script(ScriptedScard& scard, std::initializer_list<const char*> sections,
                       const char* total = "00 00 10 00 90 00")
    {
        scard.withSerial(serial).on(getSections, sectionsAnswer(sections)).on(totalFlash, total);
    }

    // The command prefixes the token sent, in order.
    bool sentInOrder(std::initializer_list<const char*> prefixes) const
    {
        auto next = prefixes.begin();
        for (const ScriptedScard::Sent& sent : card->sent()) {
            if (next == prefixes.end())
                break;
            const Bytes prefix = hex(*next);
            if (sent.command.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), sent.command.begin()))
                ++next;
        }
        return next == prefixes.end();
    }

    // Every command went inside a card transaction, the last one dropped the
    // access rights, and the transaction is over.
    void expectTransactionClosed() const
    {
        ASSERT_FALSE(card->sent().empty());
        for (const ScriptedScard::Sent& sent : card->sent())
            EXPECT_GE(sent.lockDepth, 1);
        EXPECT_EQ(card->sent().back().command, hex(resetAccessRights));
        EXPECT_EQ(card->lockDepth(), 0);
    }

    // A card that came back from a restart with the same serial.
    std::shared_ptr<ScriptedScard> restartedCard(std::initializer_list<const char*> sections, uint64_t itsSerial = serial)
    {
        auto restarted = std::make_shared<ScriptedScard>();
        restarted->withSerial(itsSerial).on(getSections, sectionsAnswer(sections));
        return restarted;
    }
};

// ---- Serial, support, free size ------------------------------------------------

TEST(TokenSerial, IsTheAnswerReadBigEndian)
{
    auto card = std::make_shared<ScriptedScard>();
    card->on("00 CA 01 81 08", "00 00 00 01 00 00 00 02 90 00");
    EXPECT_EQ(readTokenSerial(card), 0x0000000100000002u);
    EXPECT_EQ(card->sent().front().lockDepth, 1);
}

TEST(TokenSerial, WrongAnswersFail)
{
    auto shortAnswer = std::make_shared<ScriptedScard>();
    shortAnswer->on("00 CA", "00 00 00 01 00 00 02 90 00");
    EXPECT_EQ(statusOf([&] { readTokenSerial(shortAnswer); }), KVFLASH_INVALID_DEVICE_RESPONSE);
    auto refused = std::make_shared<ScriptedScard>();
    refused->on("00 CA", "6A 82");
    EXPECT_EQ(statusOf([&] { readTokenSerial(refused); }), KVFLASH_FILE_NOT_FOUND);
}

// ---- Opening a token by serial ------------------------------------------------

struct TokenOpening : testing::Test {
    ScriptedEnumerator enumerator;
    TokenReaders readers;

    static std::shared_ptr<ScriptedScard> tokenIn(const char* reader, uint64_t itsSerial)
    {
        auto card = std::make_shared<ScriptedScard>();
        card->withSerial(itsSerial).in(reader);
        return card;
    }

    static int serialReads(const ScriptedScard& card)
    {
        return static_cast<int>(std::ranges::count_if(card.sent(), [](const ScriptedScard::Sent& sent) {
            return sent.command == hex("00 CA 01 81 08");
        }));
    }

    // Whether the opened token talks to this card.
    static bool opensOn(Token& token, const ScriptedScard& card)
    {
        token.isTokenSupported();
        return card.received("80 71");
    }
};

TEST_F(TokenOpening, OpensTheTokenWithExactlyTheSerial)
{
    auto first = tokenIn("Reader 0", serial + 1);
    auto second = tokenIn("Reader 1", serial);
    enumerator.addRound({first, second});
    EXPECT_EQ(enumerateTokens(enumerator, readers),
              (std::map<uint64_t, std::shared_ptr<Scard>>{{serial, second}, {serial + 1, first}}));
    EXPECT_TRUE(opensOn(*openToken(serial, enumerator, readers), *second));
    EXPECT_EQ(statusOf([&] { openToken(serial + 2, enumerator, readers); }), KVFLASH_TOKEN_NOT_FOUND);
}

TEST_F(TokenOpening, SecondOpenGoesStraightToTheReaderTheTokenWasFoundIn)
{
    auto other = tokenIn("Reader 0", serial + 1);
    auto token = tokenIn("Reader 1", serial);
    enumerator.addRound({other, token});
    openToken(serial, enumerator, readers);
    EXPECT_TRUE(opensOn(*openToken(serial, enumerator, readers), *token));
    EXPECT_EQ(enumerator.calls(), 1);
    EXPECT_EQ(enumerator.directConnections(), std::vector<PcscString>{"Reader 1"});
    EXPECT_EQ(serialReads(*other), 1);  // only the one look at all readers
    EXPECT_EQ(serialReads(*token), 2);
}

TEST_F(TokenOpening, TokenMovedToAnotherReaderIsFoundThere)
{
    enumerator.addRound({tokenIn("Reader 0", serial + 1), tokenIn("Reader 1", serial)});
    auto moved = tokenIn("Reader 0", serial);
    auto newcomer = tokenIn("Reader 1", serial + 1);
    enumerator.addRound({moved, newcomer});
    openToken(serial, enumerator, readers);
    EXPECT_TRUE(opensOn(*openToken(serial, enumerator, readers), *moved));
    EXPECT_FALSE(newcomer->received("80 71"));
    openToken(serial, enumerator, readers);
    EXPECT_EQ(enumerator.directConnections(), (std::vector<PcscString>{"Reader 1", "Reader 0"}));
    EXPECT_EQ(enumerator.calls(), 2);
}

TEST_F(TokenOpening, StaleReaderNeverOpensAnotherToken)
{
    enumerator.addRound({tokenIn("Reader 1", serial)});
    auto other = tokenIn("Reader 1", serial + 1);
    enumerator.addRound({other});
    openToken(serial, enumerator, readers);
    EXPECT_EQ(statusOf([&] { openToken(serial, enumerator, readers); }), KVFLASH_TOKEN_NOT_FOUND);
    // The token is forgotten: the next open looks at all readers at once.
    EXPECT_EQ(statusOf([&] { openToken(serial, enumerator, readers); }), KVFLASH_TOKEN_NOT_FOUND);
    EXPECT_EQ(enumerator.directConnections().size(), 1u);
    EXPECT_EQ(enumerator.calls(), 3);
}

TEST_F(TokenOpening, FailureInTheLastReaderLeavesTheAnswerToTheLookAtAllReaders)
{
    enumerator.addRound({tokenIn("Reader 1", serial)});
    enumerator.addRoundBy([]() -> std::vector<std::shared_ptr<Scard>> {
        throw PcscException(static_cast<uint32_t>(SCARD_E_SHARING_VIOLATION));
    });
    auto moved = tokenIn("Reader 0", serial);
    enumerator.addRound({moved});
    openToken(serial, enumerator, readers);
    EXPECT_TRUE(opensOn(*openToken(serial, enumerator, readers), *moved));
}

TEST(TokenSupport, NeedsJournalAndPartitioningBits)
{
    const struct {
        const char* answer;
        bool supported;
    } cases[] = {
        {"40 05 04 03 00 00 05 90 00", true},
        {"40 05 04 03 00 00 07 90 00", true},
        {"40 05 04 03 00 00 01 90 00", false},  // journal without partitioning
        {"40 05 04 03 00 00 04 90 00", false},
        {"6D 00", false},
        {"41 05 04 03 00 00 05 90 00", false},  // no tag 40
        {"40 05 05 03 00 00 05 90 00", false},  // no tag 04
        {"40 04 04 02 00 05 90 00", false},     // feature element too short
        {"90 00", false},
    };
    for (const auto& c : cases) {
        auto card = std::make_shared<ScriptedScard>();
        card->on("80 71 00 00 00", c.answer);
        EXPECT_EQ(TokenImpl(card).isTokenSupported(), c.supported) << c.answer;
    }
    auto failing = std::make_shared<ScriptedScard>();
    failing->on("80 71", "69 82");
    EXPECT_EQ(statusOf([&] { TokenImpl(failing).isTokenSupported(); }), KVFLASH_INVALID_ACCESS_RIGHTS);
}

TEST_F(FlashToken, FreeSizeLeavesOutOnlyTheJournalSections)
{
    card = std::make_shared<ScriptedScard>();
    script(*card, {journalEvents, ordinary, "04 00 00 64 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"});
    EXPECT_EQ(TokenImpl(card).getAvailableFlashSize(), 4096u - 500u - 100u);
}

TEST(FlashSize, WrongTotalsAreInvalidAnswers)
{
    const struct {
        const char* total;
        const char* what;
    } cases[] = {
        {"00 10 00 90 00", "the response length didn't match the expected"},
        {"00 00 00 00 00 90 00", "the response length didn't match the expected"},
        {"00 00 00 00 90 00", "invalid total device memory size"},
        {"00 00 01 F3 90 00", "invalid total device memory size"},  // smaller than the journal
    };
    for (const auto& c : cases) {
        auto card = std::make_shared<ScriptedScard>();
        FlashToken::script(*card, {journalEvents}, c.total);
        const Exception e = thrownBy([&] { TokenImpl(card).getAvailableFlashSize(); });
        EXPECT_EQ(e.status(), KVFLASH_INVALID_DEVICE_RESPONSE) << c.total;
        EXPECT_EQ(test::detail(e, ErrorInfoKind::ApduResponse), Value{std::string(c.what)}) << c.total;
    }
}

TEST(LocalSecretType, FromTheDescriptorOfTheFile)
{
    auto card = std::make_shared<ScriptedScard>();
    card->on("00 A4 08 04 08 10 00 10 00 60 05 00 07", "62 08 82 02 14 00 83 02 00 07 90 00")
        .on("00 A4 08 04 08 10 00 10 00 60 05 00 05", "62 08 82 02 10 00 83 02 00 05 90 00");
    TokenImpl token(card);
    EXPECT_EQ(token.getLocalSecretType(7), LocalSecretType::Mva);
    EXPECT_EQ(token.getLocalSecretType(5), LocalSecretType::LocalPin);
    EXPECT_EQ(statusOf([&] { token.getLocalSecretType(2); }), KVFLASH_INVALID_SECRET_ID);
    EXPECT_EQ(statusOf([&] { token.getLocalSecretType(32); }), KVFLASH_INVALID_SECRET_ID);
    EXPECT_EQ(card->sent().size(), 2u);
}

// ---- Transaction discipline ---------------------------------------------------

class PinLogin : public Login {
public:
    PinLogin(uint8_t reference, std::string pin) : reference_(reference), pin_(std::move(pin)) {}
    uint8_t kind() const override { return 4; }
    int32_t reference() const override { return reference_; }
    Apdu makeLoginCommand() const override
    {
        return ApduCommand::Verify(reference_, std::span(reinterpret_cast<const uint8_t*>(pin_.data()), pin_.size()));
    }
    kvflash_StatusCode wrongSecretStatus() const override { return KVFLASH_LOGIN_INCORRECT; }
    Apdu makeQueryCommand() const override { return ApduCommand::Verify(reference_, {}); }

private:
    uint8_t reference_;
    std::string pin_;
};

TEST_F(FlashToken, OperationRunsInOneTransactionAndEndsByDroppingAccessRights)
{
    card->on("80 53 11 01", "90 00");
    token.changeSectionAccessRights(2, Section::ReadOnly, false, enumerator);
    EXPECT_TRUE(sentInOrder({getSections, "80 53 11 01 04 82 02 02 01", resetAccessRights}));
    expectTransactionClosed();
    EXPECT_EQ(enumerator->calls(), 0);
}

TEST_F(FlashToken, FailedOperationStillDropsAccessRights)
{
    card->on("80 53 11 01", "69 82");
    EXPECT_EQ(statusOf([&] { token.changeSectionAccessRights(2, Section::ReadOnly, false, enumerator); }),
              KVFLASH_INVALID_ACCESS_RIGHTS);
    expectTransactionClosed();
}

TEST_F(FlashToken, StoredLoginsAreReplayedBeforeEveryOperation)
{
    card->on("00 20 00 85", "90 00").on("00 20 00 86", "90 00").on("80 53 11 01", "90 00");
    token.login({std::make_shared<PinLogin>(0x85, "123456"), std::make_shared<PinLogin>(0x86, "654321")});
    token.changeSectionAccessRights(2, Section::ReadOnly, false, enumerator);
    EXPECT_TRUE(sentInOrder({"00 20 00 85 06", "00 20 00 86 06", resetAccessRights,   // the login call
                             "00 20 00 85 06", "00 20 00 86 06", getSections, "80 53 11 01", resetAccessRights}));
    expectTransactionClosed();
}

TEST_F(FlashToken, LoginTheTokenNoLongerAcceptsIsDroppedAndTheOperationGoesOn)
{
    card->on("00 20 00 85", std::vector<std::string>{"90 00", "63 C2"}).on("00 20 00 86", "90 00").on("80 53 11 01", "90 00");
    token.login({std::make_shared<PinLogin>(0x85, "123456"), std::make_shared<PinLogin>(0x86, "654321")});
    token.changeSectionAccessRights(2, Section::ReadOnly, false, enumerator);
    token.changeSectionAccessRights(2, Section::ReadOnly, false, enumerator);
    const auto sentTo85 = std::ranges::count_if(card->sent(), [](const auto& s) { return s.command[3] == 0x85; });
    EXPECT_EQ(sentTo85, 3);  // login, failed replay, its query; never again
    EXPECT_EQ(std::ranges::count_if(card->sent(), [](const auto& s) { return s.command[1] == 0x53 && s.command[3] == 0x01; }), 2);
}

TEST_F(FlashToken, LoginThatFailsOtherwiseStopsTheOperation)
{
    card->on("00 20 00 85", std::vector<std::string>{"90 00", "69 83"}).on("80 53 11 01", "90 00");
    token.login({std::make_shared<PinLogin>(0x85, "123456")});
    EXPECT_EQ(statusOf([&] { token.changeSectionAccessRights(2, Section::ReadOnly, false, enumerator); }),
              KVFLASH_OBJECT_BLOCKED);
    EXPECT_FALSE(card->received("80 53 11 01"));
    expectTransactionClosed();
}

TEST_F(FlashToken, NullLoginIsAnIncorrectLogin)
{
    EXPECT_EQ(statusOf([&] { token.login({nullptr}); }), KVFLASH_LOGIN_INCORRECT);
    expectTransactionClosed();
}

// ---- Access changes -------------------------------------------------------------

TEST_F(FlashToken, AccessChangeRules)
{
    const struct {
        const char* name;
        std::initializer_list<const char*> sections;
        uint8_t id;
        uint8_t state;
        bool permanent;
        kvflash_StatusCode status;
    } cases[] = {
        {"journal temporarily read-only", {journalEvents, encryptedNone}, 1, Section::ReadOnly, false, KVFLASH_OK},
        {"ordinary temporarily read-write", {journalEvents, ordinary}, 2, Section::ReadWrite, false, KVFLASH_OK},
        {"no such section", {journalEvents, ordinary}, 4, Section::ReadOnly, false, KVFLASH_INVALID_SECTION_ID},
        {"journal permanently", {journalEvents}, 1, Section::ReadOnly, true, KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY},
        {"journal read-write", {journalEvents}, 1, Section::ReadWrite, false, KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY},
        {"journal type code 4", {"05 00 01 F4 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"}, 5, Section::NoAccess,
         false, KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY},
        {"journal while encrypted readable", {journalEvents, encryptedRW}, 1, Section::ReadOnly, false,
         KVFLASH_JOURNAL_BLOCKED_BY_ENCRYPTED_SECTION},
    };
    for (const auto& c : cases) {
        auto scard = std::make_shared<ScriptedScard>();
        script(*scard, c.sections);
        scard->on("80 53 11 01", "90 00");
        TokenImpl token(scard, clock);
        EXPECT_EQ(statusOf([&] { token.changeSectionAccessRights(c.id, c.state, c.permanent, enumerator); }), c.status)
            << c.name;
        EXPECT_EQ(scard->received("80 53 11 01"), c.status == KVFLASH_OK) << c.name;
        EXPECT_EQ(scard->sent().back().command, hex(resetAccessRights)) << c.name;
    }
}

TEST_F(FlashToken, TemporaryCdRomIsRefusedBeforeAnyCommand)
{
    EXPECT_EQ(statusOf([&] { token.changeSectionAccessRights(2, Section::CdRom, false, enumerator); }),
              KVFLASH_CDROM_PERMANENT_ONLY);
    EXPECT_TRUE(card->sent().empty());
}

TEST_F(FlashToken, PermanentChangeRestartsTheTokenAndKeepsTheHandleWorking)
{
    card->on("80 53 11 02", "90 00").on(resetToken, "90 00");
    enumerator->addRound(std::vector<std::shared_ptr<Scard>>{});
    enumerator->addRound({restartedCard({journalEvents, "02 05 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"})});
    token.changeSectionAccessRights(2, Section::CdRom, true, enumerator);
    EXPECT_TRUE(sentInOrder({"80 53 11 02 04 82 02 02 05", resetAccessRights, "00 CA 01 81", resetToken, resetAccessRights}));
    EXPECT_EQ(clock->sleeps, (std::vector<std::chrono::milliseconds>{1s, 1s}));
    EXPECT_EQ(token.getSections().at(2).accessState, Section::CdRom);  // asked of the card that came back
    EXPECT_EQ(card->lockDepth(), 0);
}

// ---- Reconnect after a restart --------------------------------------------------

struct RestartingToken : FlashToken {
    RestartingToken() { card->on("80 53 11 02", "90 00").on(resetToken, "90 00"); }
    kvflash_StatusCode restart() { return statusOf([&] { token.changeSectionAccessRights(2, Section::ReadOnly, true, enumerator); }); }
};

TEST_F(RestartingToken, TokenThatDoesNotComeBackIn60SecondsIsNotFound)
{
    enumerator->addRound({restartedCard({ordinary}, serial + 1)});  // another token stays plugged in
    EXPECT_EQ(restart(), KVFLASH_TOKEN_NOT_FOUND);
    EXPECT_GE(clock->elapsed(), 60s);
    EXPECT_LE(clock->elapsed(), 61s);
    EXPECT_TRUE(std::ranges::all_of(clock->sleeps, [](auto sleep) { return sleep == 1s; }));
    EXPECT_EQ(enumerator->calls(), static_cast<int>(clock->sleeps.size()));
    EXPECT_EQ(statusOf([&] { token.getSections(); }), KVFLASH_OK);  // still the old connection
}

TEST_F(RestartingToken, TokenBackAtTheLastPollIsFound)
{
    for (int i = 0; i < 59; ++i)
        enumerator->addRound(std::vector<std::shared_ptr<Scard>>{});
    enumerator->addRound({restartedCard({ordinary})});
    EXPECT_EQ(restart(), KVFLASH_OK);
    EXPECT_EQ(clock->elapsed(), 60s);
}

TEST_F(RestartingToken, ReaderThatRefusesTheComingBackTokenIsAskedAgain)
{
    enumerator->addRoundBy([]() -> std::vector<std::shared_ptr<Scard>> { throw PcscException(0x8010000C); });
    auto unready = std::make_shared<ScriptedScard>();
    unready->on("00 CA", "6A 82");
    enumerator->addRound({unready});
    enumerator->addRound({restartedCard({ordinary})});
    EXPECT_EQ(restart(), KVFLASH_OK);
    EXPECT_EQ(clock->sleeps.size(), 3u);
}

TEST_F(FlashToken, RestartThatTheTokenRefusesIsNotWaitedFor)
{
    card->on("80 53 11 02", "90 00").on(resetToken, "69 85");
    EXPECT_EQ(statusOf([&] { token.changeSectionAccessRights(2, Section::ReadOnly, true, enumerator); }),
              KVFLASH_UNSUITABLE_CONDITIONS);
    EXPECT_TRUE(clock->sleeps.empty());
}

// ---- Split ---------------------------------------------------------------------------

ProtectConditions globalPin() { return {0x01, false, 0, false}; }
constexpr ProtectConditions forbidden = ProtectConditions::forbiddenOperation();

Section journalRequest(uint32_t size, std::map<uint8_t, ProtectConditions> rules = {{0x01, forbidden}, {0x04, forbidden},
                       {0x08, forbidden}, {0x10, forbidden}, {0x20, forbidden}}, uint8_t state = Section::NoAccess)
{
    return Section{size, state, std::move(rules), Section::JournalEvents};
}

Section ordinaryRequest(uint32_t size, std::map<uint8_t, ProtectConditions> rules = {})
{
    return Section{size, Section::ReadWrite, std::move(rules), Section::Ordinary};
}

TEST_F(FlashToken, SplitRules)
{
    const struct {
        const char* name;
        std::initializer_list<const char*> existing;
        std::vector<Section> requested;
        kvflash_StatusCode status;
        ErrorInfoKind kind = ErrorInfoKind::StdException;
        int64_t value = 0;
    } cases[] = {
        {"nothing asked", {ordinary}, {}, KVFLASH_INVALID_SECTION_COUNT},
        {"more than the free places", {journalEvents, encryptedNone},
         std::vector<Section>(7, ordinaryRequest(10)), KVFLASH_INVALID_SECTION_COUNT, ErrorInfoKind::MaxSectionCount, 6},
        {"empty section", {journalEvents}, {ordinaryRequest(0)}, KVFLASH_INVALID_SECTION_SIZE,
         ErrorInfoKind::AvailableFlashSize, 3596},
        {"larger than the free flash", {journalEvents}, {ordinaryRequest(3597)}, KVFLASH_INVALID_SECTION_SIZE,
         ErrorInfoKind::SectionSize, 3597},
        {"together larger than the free flash", {journalEvents}, {ordinaryRequest(2000), ordinaryRequest(1597)},
         KVFLASH_INVALID_TOTAL_SECTION_SIZE, ErrorInfoKind::AvailableFlashSize, 3596},
        {"second journal", {journalEvents}, {journalRequest(500)}, KVFLASH_JOURNAL_SECTION_EXISTS},
        {"journal too small", {ordinary}, {journalRequest(499)}, KVFLASH_INVALID_JOURNAL_SECTION_SIZE},
        {"readable journal", {ordinary}, {journalRequest(500, {}, Section::ReadOnly)},
         KVFLASH_INVALID_JOURNAL_ACCESS_RIGHTS},
        {"journal without rules", {ordinary}, {journalRequest(500, {})}, KVFLASH_JOURNAL_TEMPORARY_READ_ONLY_ONLY},
        {"journal read-only forbidden", {ordinary},
         {journalRequest(500, {{0x01, forbidden}, {0x02, forbidden}, {0x04, forbidden}, {0x08, forbidden},
                               {0x10, forbidden}, {0x20, forbidden}})},
         KVFLASH_JOURNAL_READ_ONLY_SWITCH_FORBIDDEN},
        {"journal-type section", {ordinary}, {Section{500, 0, {}, Section::JournalType}},
         KVFLASH_SECTION_TYPE_NOT_SUPPORTED, ErrorInfoKind::SectionType, 2},
        {"encrypted section", {ordinary}, {Section{500, 0, {}, Section::Encrypted}}, KVFLASH_SECTION_TYPE_NOT_SUPPORTED,
         ErrorInfoKind::SectionType, 3},
        {"invalid rule", {journalEvents}, {ordinaryRequest(100, {{0x02, {0x04, false, 0, false}}})},
         KVFLASH_INVALID_SECRET_ID, ErrorInfoKind::SecretId, 0},
        {"eight sections on an empty token", {}, std::vector<Section>(8, ordinaryRequest(10)), KVFLASH_OK},
        {"journal with read-only unrestricted", {ordinary}, {journalRequest(500), ordinaryRequest(3596)}, KVFLASH_OK},
    };
    for (const auto& c : cases) {
        auto scard = std::make_shared<ScriptedScard>();
        script(*scard, c.existing);
        scard->on(splitCommand, "90 00").on(resetToken, "90 00");
        auto comesBack = std::make_shared<ScriptedEnumerator>();
        comesBack->addRound({restartedCard({ordinary})});
        TokenImpl token(scard, clock);
        const Exception e = c.status == KVFLASH_OK ? Exception(KVFLASH_OK)
                                                   : thrownBy([&] { token.splitIntoSections(c.requested, comesBack); });
        if (c.status == KVFLASH_OK) {
            EXPECT_NO_THROW(token.splitIntoSections(c.requested, comesBack)) << c.name;
        }
        EXPECT_EQ(e.status(), c.status) << c.name;
        if (c.kind != ErrorInfoKind::StdException) {
            EXPECT_EQ(test::detail(e, c.kind), Value{c.value}) << c.name;
        }
        EXPECT_EQ(scard->received(splitCommand), c.status == KVFLASH_OK) << c.name;
    }
}

TEST_F(FlashToken, SplitSendsTheNumberedSectionsThenWaitsForTheRestartedToken)
{
    card = std::make_shared<ScriptedScard>();
    script(*card, {ordinary}, "00 10 00 00 90 00");
    card->on(splitCommand, "90 00").on(resetToken, "90 00");
    TokenImpl splitting(card, clock);
    enumerator->addRound({restartedCard({journalEvents, ordinary})});
    splitting.splitIntoSections({journalRequest(500), ordinaryRequest(0x10000, {{0x02, globalPin()}})}, enumerator);
    const std::string elements =
        "80 14 01 00 01 F4 01 3D FF 00 FF FF FF FF 00 00 00 00 00 00 00 00 "
        "80 14 02 0B 20 00 00 02 00 01 00 00 00 00 00 00 00 00 00 00 00 00";
    EXPECT_TRUE(sentInOrder({getSections, totalFlash, getSections, ("80 53 10 00 2C " + elements).c_str(),
                             resetAccessRights, "00 CA 01 81", resetToken, resetAccessRights}));
    EXPECT_EQ(splitting.getSections().size(), 2u);
    EXPECT_EQ(clock->sleeps.size(), 1u);
}

}  // namespace
}  // namespace kvfl
