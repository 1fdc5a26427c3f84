#include "callGuarded.h"
#include "scriptedScard.h"
#include "thrown.h"
#include "tokenHandle.h"
#include "tokenImpl.h"

#include <kvflash-core/kvflash.h>

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace kvfl {
namespace {

using test::ScriptedScard;

constexpr char ordinaryRW[] = "80 14 02 03 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";

// A handle on a scripted token, as kvflash_create_token would make it.
struct Handle {
    std::shared_ptr<ScriptedScard> card = std::make_shared<ScriptedScard>();
    kvflash_TokenImpl_ cell{std::make_unique<TokenImpl>(card)};
    kvflash_TokenImpl_* get() { return &cell; }
};

TEST(CallFrame, NullPointersGiveStatus3AndTouchNothing)
{
    Handle token;
    uint64_t* serials = reinterpret_cast<uint64_t*>(0x1);
    uint32_t count = 77;
    kvflash_Section* sections = reinterpret_cast<kvflash_Section*>(0x1);
    kvflash_Section section = {};
    bool supported = true;
    uint32_t size = 77;
    const struct {
        const char* name;
        std::function<kvflash_StatusCode()> call;
    } cases[] = {
        {"token list, no list", [&] { return kvflash_create_token_list(nullptr, &count); }},
        {"token list, no count", [&] { return kvflash_create_token_list(&serials, nullptr); }},
        {"destroy token list", [&] { return kvflash_destroy_token_list(nullptr); }},
        {"create token", [&] { return kvflash_create_token(1, nullptr); }},
        {"destroy token", [&] { return kvflash_destroy_token(nullptr); }},
        {"supported, no token", [&] { return kvflash_is_token_supported(nullptr, &supported); }},
        {"supported, no flag", [&] { return kvflash_is_token_supported(token.get(), nullptr); }},
        {"section list, no token", [&] { return kvflash_create_section_list(nullptr, &sections, &count); }},
        {"section list, no list", [&] { return kvflash_create_section_list(token.get(), nullptr, &count); }},
        {"section list, no count", [&] { return kvflash_create_section_list(token.get(), &sections, nullptr); }},
        {"destroy section list", [&] { return kvflash_destroy_section_list(nullptr); }},
        {"free size, no token", [&] { return kvflash_get_available_flash_size(nullptr, &size); }},
        {"free size, no size", [&] { return kvflash_get_available_flash_size(token.get(), nullptr); }},
        {"split, no token", [&] { return kvflash_split_into_sections(nullptr, &section, 1); }},
        {"split, no sections", [&] { return kvflash_split_into_sections(token.get(), nullptr, 1); }},
        {"change, no token", [&] { return kvflash_change_section_access_rights(nullptr, 1, KVFLASH_ACCESS_READ_ONLY, false); }},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.call(), KVFLASH_NULL_POINTER) << c.name;
    EXPECT_EQ(serials, reinterpret_cast<uint64_t*>(0x1));
    EXPECT_EQ(sections, reinterpret_cast<kvflash_Section*>(0x1));
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(size, 77u);
    EXPECT_TRUE(supported);
    EXPECT_TRUE(token.card->sent().empty());
}

TEST(CallFrame, DestroyFunctionsOnNullLists)
{
    kvflash_Section* noSections = nullptr;
    EXPECT_EQ(kvflash_destroy_section_list(&noSections), KVFLASH_NULL_POINTER);
    uint64_t* noSerials = nullptr;
    EXPECT_EQ(kvflash_destroy_token_list(&noSerials), KVFLASH_OK);
    kvflash_TokenImpl_* noToken = nullptr;
    EXPECT_EQ(kvflash_destroy_token(&noToken), KVFLASH_OK);
    EXPECT_EQ(noToken, nullptr);
}

TEST(CallFrame, DestroyTokenReleasesTheHandle)
{
    auto card = std::make_shared<ScriptedScard>();
    kvflash_TokenImpl_* token = new kvflash_TokenImpl_{std::make_unique<TokenImpl>(card)};
    EXPECT_EQ(kvflash_destroy_token(&token), KVFLASH_OK);
    EXPECT_EQ(token, nullptr);
    EXPECT_EQ(card.use_count(), 1);  // the token's share of the connection is gone
}

TEST(CallFrame, EveryExceptionBecomesAStatus)
{
    EXPECT_EQ(callGuarded([] {}), KVFLASH_OK);
    EXPECT_EQ(lastError().status(), KVFLASH_OK);

    EXPECT_EQ(callGuarded([] { throw Exception(KVFLASH_INVALID_SECTION_ID); }), KVFLASH_INVALID_SECTION_ID);

    EXPECT_EQ(callGuarded([] { throw std::runtime_error("card on fire"); }), KVFLASH_INTERNAL_ERROR);
    EXPECT_EQ(test::detail(lastError(), ErrorInfoKind::StdException),
              (std::variant<int64_t, std::string>{std::string("card on fire")}));

    EXPECT_EQ(callGuarded([] { throw 42; }), KVFLASH_INTERNAL_ERROR);
    EXPECT_TRUE(lastError().details().empty());

    EXPECT_EQ(callGuarded([] { throw PcscException(0x80100069); }), KVFLASH_PCSC_ERROR);
}

TEST(CallFrame, TokenStatusWordsBecomeStatuses)
{
    const struct {
        const char* answer;
        kvflash_StatusCode status;
    } cases[] = {{"69 82", KVFLASH_INVALID_ACCESS_RIGHTS}, {"6A 88", KVFLASH_INTERNAL_ERROR}, {"90 00", KVFLASH_OK}};
    for (const auto& c : cases) {
        Handle token;
        token.card->on("80 53 11 00", std::string(ordinaryRW) + " 90 00").on("80 53 11 01", c.answer);
        EXPECT_EQ(kvflash_change_section_access_rights(token.get(), 2, KVFLASH_ACCESS_READ_ONLY, false), c.status)
            << c.answer;
    }
}

TEST(CallFrame, OutputsAreWrittenOnlyOnSuccess)
{
    Handle token;
    token.card->on("80 53 11 00", "80 13 00 90 00").on("80 53 12 00", "00 00 10 90 00").on("80 71", "6A 82");
    kvflash_Section* sections = reinterpret_cast<kvflash_Section*>(0x1);
    uint32_t count = 77;
    uint32_t size = 77;
    bool supported = true;
    EXPECT_EQ(kvflash_create_section_list(token.get(), &sections, &count), KVFLASH_INTERNAL_ERROR);
    EXPECT_EQ(kvflash_get_available_flash_size(token.get(), &size), KVFLASH_INVALID_DEVICE_RESPONSE);
    EXPECT_EQ(kvflash_is_token_supported(token.get(), &supported), KVFLASH_FILE_NOT_FOUND);
    EXPECT_EQ(sections, reinterpret_cast<kvflash_Section*>(0x1));
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(size, 77u);
    EXPECT_TRUE(supported);
}

TEST(SectionList, ListsTheSectionsInIdOrderWithTheirSecretTypes)
{
    Handle token;
    token.card
        ->on("80 53 11 00",
             std::string("80 14 05 0B 00 10 00 02 00 05 00 00 00 00 00 00 0C 00 00 00 00 00 ") + ordinaryRW + " 90 00")
        .on("00 A4 08 04 08 10 00 10 00 60 05 00 0C", "62 08 82 02 14 00 83 02 00 0C 90 00");
    kvflash_Section* sections = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(kvflash_create_section_list(token.get(), &sections, &count), KVFLASH_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(sections[0].id, 2);
    EXPECT_EQ(sections[1].id, 5);
    EXPECT_EQ(sections[1].size, 128u);
    EXPECT_EQ(sections[1].accessState, KVFLASH_ACCESS_READ_WRITE);
    EXPECT_EQ(sections[1].conditions[1].secureType, KVFLASH_SECURE_GLOBAL_BIT0);
    EXPECT_EQ(sections[1].conditions[1].secretId, 12);
    EXPECT_EQ(sections[1].conditions[1].secretType, KVFLASH_SECRET_MVA);
    EXPECT_EQ(kvflash_destroy_section_list(&sections), KVFLASH_OK);
    EXPECT_EQ(sections, nullptr);
}

TEST(SectionList, NoSectionIsAnEmptyList)
{
    Handle token;
    token.card->on("80 53 11 00", "90 00");
    kvflash_Section* sections = nullptr;
    uint32_t count = 77;
    ASSERT_EQ(kvflash_create_section_list(token.get(), &sections, &count), KVFLASH_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(sections, nullptr);
    EXPECT_EQ(kvflash_destroy_section_list(&sections), KVFLASH_OK);
}

TEST(AccessChange, OnlyTheLowByteOfAKnownStateReachesTheToken)
{
    Handle token;
    token.card->on("80 53 11 00", std::string(ordinaryRW) + " 90 00").on("80 53 11 01", "90 00");
    EXPECT_EQ(kvflash_change_section_access_rights(token.get(), 2, static_cast<kvflash_SectionAccessState>(2), false),
              KVFLASH_INTERNAL_ERROR);
    EXPECT_TRUE(token.card->sent().empty());
    EXPECT_EQ(kvflash_change_section_access_rights(token.get(), 2, static_cast<kvflash_SectionAccessState>(0x103), false),
              KVFLASH_OK);
    EXPECT_TRUE(token.card->received("80 53 11 01 04 82 02 02 03"));
}

TEST(Split, RefusedRequestsSendNoSplit)
{
    Handle token;
    token.card->on("80 53 11 00", std::string(ordinaryRW) + " 90 00")
        .on("80 53 12 00", "00 00 10 00 90 00")
        .on("00 A4 08 04 08 10 00 10 00 60 05 00 05", "62 08 82 02 10 00 83 02 00 05 90 00");
    kvflash_Section requested[2] = {};
    requested[0].size = 100;
    requested[0].accessState = KVFLASH_ACCESS_READ_WRITE;
    requested[1] = requested[0];
    requested[1].conditions[1] = {KVFLASH_SECURE_NONE, 5, 0, KVFLASH_SECRET_MVA};
    EXPECT_EQ(kvflash_split_into_sections(token.get(), requested, 2), KVFLASH_SECRET_TYPE_MISMATCH);
    EXPECT_EQ(kvflash_split_into_sections(token.get(), requested, 0), KVFLASH_INVALID_SECTION_COUNT);
    requested[1].conditions[1] = {};
    requested[1].size = 4000;
    EXPECT_EQ(kvflash_split_into_sections(token.get(), requested, 2), KVFLASH_INVALID_TOTAL_SECTION_SIZE);
    EXPECT_FALSE(token.card->received("80 53 10"));
}

// The first call stops inside the card until the test lets it go; the
// second thread's call must not begin before the first one has returned.
TEST(CallFrame, CallsOfTwoThreadsRunOneAfterTheOther)
{
    std::mutex orderMutex;
    std::vector<std::string> order;
    auto note = [&](const std::string& event) {
        const std::lock_guard lock(orderMutex);
        order.push_back(event);
    };
    std::promise<void> firstInside;
    std::promise<void> letFirstGo;
    std::shared_future<void> firstMayGo = letFirstGo.get_future().share();

    Handle first;
    first.card->on("80 71", "6D 00");
    first.card->onTransmit = [&](const Bytes&) {
        note("first inside");
        firstInside.set_value();
        firstMayGo.wait();
        note("first leaves");
    };
    Handle second;
    second.card->on("80 71", "6D 00");
    second.card->onTransmit = [&](const Bytes&) { note("second inside"); };

    bool firstSupported = true;
    bool secondSupported = true;
    std::thread firstThread([&] { kvflash_is_token_supported(first.get(), &firstSupported); });
    firstInside.get_future().wait();
    const bool heldForTheWholeBody = !apiMutex().try_lock();
    if (!heldForTheWholeBody)
        apiMutex().unlock();
    EXPECT_TRUE(heldForTheWholeBody);
    std::promise<void> secondCalling;
    std::thread secondThread([&] {
        secondCalling.set_value();
        kvflash_is_token_supported(second.get(), &secondSupported);
    });
    secondCalling.get_future().wait();
    // Give the second call the chance to overtake, which it must not take.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    letFirstGo.set_value();
    firstThread.join();
    secondThread.join();
    EXPECT_EQ(order, (std::vector<std::string>{"first inside", "first leaves", "second inside"}));
    EXPECT_FALSE(firstSupported);
    EXPECT_FALSE(secondSupported);
}

}  // namespace
}  // namespace kvfl
