#include "pcscWrapper/token.h"
#include "scriptedPcsc.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

constexpr uint64_t kSerial = 123456;

class TokenFlashTest : public testing::Test {
protected:
    TokenFlashTest()
    {
        pcsc.addReader("Reader", hexBytes("3B 04 4B 76 53 43"))
            .on("00 CA 01 89", "01 03 08 00 10 00 80 1B 05 02 00 00 90 00")
            .on("00 CA 01 81", "00 00 00 00 00 01 E2 40 90 00");
        pcsc.flash.createStatus = KVFLASH_OK;
    }

    Token token() { return Token(std::make_shared<Scard>(pcsc, "Reader"), pcsc.flash); }

    ScriptedPcsc pcsc;
};

// The message of the runtime error that action throws; empty when it throws none.
std::string runtimeErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

std::optional<int32_t> kvFlashStatusOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const KvFlashException& error) {
        return error.code();
    }
    return std::nullopt;
}

TEST_F(TokenFlashTest, ATokenTheLibraryDoesNotKnowHasNoFlash)
{
    pcsc.flash.createStatus = KVFLASH_TOKEN_NOT_FOUND;
    const Token t = token();
    EXPECT_FALSE(t.isFlashSupported());
    EXPECT_EQ(pcsc.flash.createdSerials, std::vector<uint64_t>{kSerial});
}

TEST_F(TokenFlashTest, SupportIsWhatTheLibrarySays)
{
    for (const bool supported : {true, false}) {
        pcsc.flash.supported = supported;
        EXPECT_EQ(token().isFlashSupported(), supported);
    }
}

TEST_F(TokenFlashTest, OtherLibraryFailuresAbortConstruction)
{
    pcsc.flash.createStatus = KVFLASH_JOURNAL_SECTION_MISSING;
    EXPECT_EQ(kvFlashStatusOf([&] { token(); }), KVFLASH_JOURNAL_SECTION_MISSING);

    pcsc.flash.createStatus = KVFLASH_OK;
    pcsc.flash.supportedStatus = KVFLASH_TOKEN_NOT_FOUND;
    EXPECT_EQ(kvFlashStatusOf([&] { token(); }), KVFLASH_TOKEN_NOT_FOUND);
    EXPECT_EQ(pcsc.flash.destroyedTokens, 1);  // the handle already made is not leaked
}

TEST_F(TokenFlashTest, CopiesShareTheHandleWhichTheLastOneReleases)
{
    {
        std::optional<Token> first = token();
        const Token copy = *first;
        first.reset();
        EXPECT_EQ(pcsc.flash.destroyedTokens, 0);
    }
    EXPECT_EQ(pcsc.flash.destroyedTokens, 1);
}

TEST_F(TokenFlashTest, JournalSectionIsTheFirstOfTheJournalEventsType)
{
    pcsc.flash.sections = {flashSection(1, KVFLASH_SECTION_ORDINARY), flashSection(2, KVFLASH_SECTION_JOURNAL),
                           flashSection(3, KVFLASH_SECTION_JOURNAL_EVENTS),
                           flashSection(4, KVFLASH_SECTION_JOURNAL_EVENTS)};
    EXPECT_EQ(token().getJournalSection().id, 3);
    EXPECT_EQ(pcsc.flash.listsFreed, 1);
}

TEST_F(TokenFlashTest, SectionListFailures)
{
    struct Case {
        const char* name;
        std::function<void(FakeFlashLibrary&)> arrange;
        const char* message;
        int listsFreed;
    };
    const Case cases[] = {
        {"no journal events section",
         [](FakeFlashLibrary& f) { f.sections = {flashSection(1, KVFLASH_SECTION_ORDINARY)}; },
         "No journal events section found", 1},
        {"no sections", [](FakeFlashLibrary& f) { f.sections = {}; }, "No journal events section found", 1},
        {"list refused", [](FakeFlashLibrary& f) { f.listStatus = KVFLASH_TOKEN_NOT_FOUND; }, "Default error message",
         0},
        {"free refused",
         [](FakeFlashLibrary& f) {
             f.sections = {flashSection(1, KVFLASH_SECTION_JOURNAL_EVENTS)};
             f.freeListStatus = KVFLASH_TOKEN_NOT_FOUND;
         },
         "Default error message", 1},
    };
    for (const Case& c : cases) {
        pcsc.flash = FakeFlashLibrary{};
        pcsc.flash.createStatus = KVFLASH_OK;
        c.arrange(pcsc.flash);
        const Token t = token();
        EXPECT_EQ(runtimeErrorOf([&] { t.getJournalSection(); }), c.message) << c.name;
        EXPECT_EQ(pcsc.flash.listsFreed, c.listsFreed) << c.name;
    }
}

TEST_F(TokenFlashTest, RightsChangeIsPassedOnUnchanged)
{
    const Token t = token();
    t.changeAccessSectionRights(flashSection(4, KVFLASH_SECTION_JOURNAL_EVENTS), KVFLASH_ACCESS_READ_ONLY, false);
    ASSERT_EQ(pcsc.flash.changes.size(), 1u);
    EXPECT_EQ(pcsc.flash.changes[0].sectionId, 4);
    EXPECT_EQ(pcsc.flash.changes[0].state, KVFLASH_ACCESS_READ_ONLY);
    EXPECT_FALSE(pcsc.flash.changes[0].permanent);

    pcsc.flash.changeStatus = KVFLASH_TOKEN_NOT_FOUND;
    EXPECT_EQ(runtimeErrorOf([&] {
                  t.changeAccessSectionRights(flashSection(4, KVFLASH_SECTION_JOURNAL_EVENTS),
                                              KVFLASH_ACCESS_READ_ONLY, false);
              }),
              "Default error message");
}

TEST(KvFlashException, MessageCarriesTheStatusInDecimalAndHex)
{
    EXPECT_STREQ(KvFlashException(KVFLASH_JOURNAL_SECTION_MISSING, KV_THROW_SITE).what(),
                 "some kvflash error acquired:100013(0x000186ad)");
}

}  // namespace
