// The C interface under abuse: sizes that no buffer behind them can hold,
// values outside every range, a destroyed handle's variable, and many
// threads at once. Every call answers with a status, reads nothing beyond
// what it was given and writes no output on failure.
#include "scriptedScard.h"
#include "tokenHandle.h"
#include "tokenImpl.h"

#include <kvflash-core/kvflash.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kvfl {
namespace {

using test::ScriptedScard;

constexpr uint32_t kHugeSize = std::numeric_limits<uint32_t>::max();
constexpr char ordinaryRW[] = "80 14 02 03 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";

// A handle on a scripted token with one ordinary section and 4096 units of flash.
struct Handle {
    std::shared_ptr<ScriptedScard> card = std::make_shared<ScriptedScard>();
    kvflash_TokenImpl_ cell{std::make_unique<TokenImpl>(card)};
    kvflash_TokenImpl_* get() { return &cell; }

    Handle()
    {
        card->on("80 53 11 00", std::string(ordinaryRW) + " 90 00").on("80 53 12 00", "00 00 10 00 90 00");
    }
};

struct AbuseCase {
    const char* name;
    std::function<kvflash_StatusCode(kvflash_TokenImpl_*)> call;
    kvflash_StatusCode status;
};

// Four readable bytes behind a size of 4 GiB - 1: a call that trusted the
// size would read far past them (AddressSanitizer reports it; without it
// the call crashes or copies gigabytes).
TEST(Abuse, SizesBeyondTheBufferAreRefusedBeforeAnyRead)
{
    static const uint8_t four[4] = {'1', '2', '3', '4'};
    const kvflash_Buffer huge{kHugeSize, four};
    const kvflash_Buffer fine{4, four};
    uint16_t id = 77;
    uint8_t recordId = 77;
    const kvflash_Section oneSection{};
    const AbuseCase cases[] = {
        {"login user", [&](auto* t) { return kvflash_login_user(t, huge); }, KVFLASH_LOGIN_INCORRECT},
        {"login admin", [&](auto* t) { return kvflash_login_admin(t, huge); }, KVFLASH_LOGIN_INCORRECT},
        {"login local PIN", [&](auto* t) { return kvflash_login_local_pin(t, 3, huge); }, KVFLASH_INVALID_PIN_SIZE},
        {"create local PIN",
         [&](auto* t) { return kvflash_create_local_pin(t, huge, KVFLASH_SECURE_GLOBAL_BIT0, &id); },
         KVFLASH_INVALID_PIN_SIZE},
        {"change local PIN", [&](auto* t) { return kvflash_change_local_pin(t, 3, huge); }, KVFLASH_INVALID_PIN_SIZE},
        {"login MVA", [&](auto* t) { return kvflash_login_mva(t, 4, huge); }, KVFLASH_INVALID_RECORD_SIZE},
        {"add MVA record", [&](auto* t) { return kvflash_mva_add_record(t, 4, huge, &recordId); },
         KVFLASH_INVALID_RECORD_SIZE},
        {"host text 1",
         [&](auto* t) {
             const kvflash_PcInfo info{huge, fine, fine, fine, 0};
             return kvflash_add_pc_info_to_journal(t, &info);
         },
         KVFLASH_INVALID_STRING_SIZE},
        {"host text 4",
         [&](auto* t) {
             const kvflash_PcInfo info{fine, fine, fine, huge, 0};
             return kvflash_add_pc_info_to_journal(t, &info);
         },
         KVFLASH_INVALID_STRING_SIZE},
        {"split with a count beyond the array",
         [&](auto* t) { return kvflash_split_into_sections(t, &oneSection, kHugeSize); },
         KVFLASH_INVALID_SECTION_COUNT},
    };
    for (const AbuseCase& c : cases) {
        Handle token;
        EXPECT_EQ(c.call(token.get()), c.status) << c.name;
        EXPECT_TRUE(token.card->sent().empty()) << c.name;
    }
    EXPECT_EQ(id, 77);
    EXPECT_EQ(recordId, 77);
}

// Values outside every range the device knows give a status other than
// success and leave the outputs as they were.
TEST(Abuse, OutOfRangeValuesGiveAStatus)
{
    const uint8_t pin[6] = {'1', '2', '3', '4', '5', '6'};
    uint16_t out16 = 77;
    uint8_t out8 = 77;
    const kvflash_MvaParams zeroShape{0, 0, 0};
    const kvflash_MvaParams hugeShape{255, 255, 255};
    const auto state = [](uint32_t value) { return static_cast<kvflash_SectionAccessState>(value); };
    const auto secure = [](uint32_t value) { return static_cast<kvflash_SecureType>(value); };
    const std::vector<std::pair<const char*, std::function<kvflash_StatusCode(kvflash_TokenImpl_*)>>> calls = {
        {"section 0", [&](auto* t) { return kvflash_change_section_access_rights(t, 0, KVFLASH_ACCESS_READ_ONLY, false); }},
        {"section 255", [&](auto* t) { return kvflash_change_section_access_rights(t, 255, KVFLASH_ACCESS_READ_ONLY, true); }},
        {"state 0xFFFFFFFF", [&](auto* t) { return kvflash_change_section_access_rights(t, 2, state(0xFFFFFFFF), false); }},
        {"state 6", [&](auto* t) { return kvflash_change_section_access_rights(t, 2, state(6), true); }},
        {"secure type 7", [&](auto* t) { return kvflash_create_local_pin(t, {6, pin}, secure(7), &out16); }},
        {"secure type 0xFFFFFFFF", [&](auto* t) { return kvflash_create_local_pin(t, {6, pin}, secure(0xFFFFFFFF), &out16); }},
        {"local PIN 0 attempts", [&](auto* t) { return kvflash_get_remaining_login_attempts_local_pin(t, 0, &out16); }},
        {"local PIN 32 attempts", [&](auto* t) { return kvflash_get_remaining_login_attempts_local_pin(t, 32, &out16); }},
        {"local PIN 0xFFFF reset", [&](auto* t) { return kvflash_reset_login_attempts_local_pin(t, 0xFFFF); }},
        {"MVA 2 attempts", [&](auto* t) { return kvflash_get_remaining_login_attempts_mva(t, 2, &out16); }},
        {"MVA 0xFFFF record", [&](auto* t) { return kvflash_mva_add_record(t, 0xFFFF, {6, pin}, &out8); }},
        {"MVA of no shape", [&](auto* t) { return kvflash_create_mva(t, &zeroShape, &out16); }},
        {"MVA of the largest shape", [&](auto* t) { return kvflash_create_mva(t, &hugeShape, &out16); }},
    };
    for (const auto& [name, call] : calls) {
        Handle token;
        EXPECT_NE(call(token.get()), KVFLASH_OK) << name;
    }
    // A C caller may leave any 32-bit number in a section's enumerations: an
    // unknown type or access state refuses the split; an unknown secure type
    // reads as no global-PIN condition.
    const struct {
        std::size_t field;
        bool splitSent;
    } fields[] = {{offsetof(kvflash_Section, type), false},
                  {offsetof(kvflash_Section, accessState), false},
                  {offsetof(kvflash_Section, conditions[1].secureType), true}};
    for (const auto& [field, splitSent] : fields) {
        kvflash_Section section{};
        section.size = 100;
        section.accessState = KVFLASH_ACCESS_READ_WRITE;
        const uint32_t raw = 0xFFFFFFFF;
        std::memcpy(reinterpret_cast<unsigned char*>(&section) + field, &raw, sizeof raw);
        Handle token;
        EXPECT_NE(kvflash_split_into_sections(token.get(), &section, 1), KVFLASH_OK) << "field at " << field;
        EXPECT_EQ(token.card->received("80 53 10"), splitSent) << "field at " << field;
    }
    EXPECT_EQ(out16, 77);
    EXPECT_EQ(out8, 77);
}

// The variable of a destroyed handle is null: every call on it says so and
// a second destroy does nothing.
TEST(Abuse, DestroyedHandleVariable)
{
    auto card = std::make_shared<ScriptedScard>();
    kvflash_TokenImpl_* token = new kvflash_TokenImpl_{std::make_unique<TokenImpl>(card)};
    ASSERT_EQ(kvflash_destroy_token(&token), KVFLASH_OK);
    ASSERT_EQ(token, nullptr);
    bool supported = true;
    uint32_t size = 77;
    uint16_t attempts = 77;
    EXPECT_EQ(kvflash_is_token_supported(token, &supported), KVFLASH_NULL_POINTER);
    EXPECT_EQ(kvflash_get_available_flash_size(token, &size), KVFLASH_NULL_POINTER);
    EXPECT_EQ(kvflash_get_remaining_login_attempts_user(token, &attempts), KVFLASH_NULL_POINTER);
    EXPECT_EQ(kvflash_logout(token), KVFLASH_NULL_POINTER);
    EXPECT_EQ(kvflash_destroy_token(&token), KVFLASH_OK);
    EXPECT_TRUE(supported);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(attempts, 77);
    EXPECT_TRUE(card->sent().empty());
}

// A token whose local-authentication folder never ends: every walk stops at
// its bound with a status instead of looping for ever.
TEST(Abuse, EndlessLocalAuthenticationFolder)
{
    Handle token;
    const std::string sameFile = "62 08 82 02 10 00 83 02 00 03 90 00";
    token.card->on("00 A4 08 04 06 10 00 10 00 60 05 00", "90 00").on("00 A4 00 04", sameFile).on("00 A4 00 06", sameFile);
    uint16_t* ids = nullptr;
    uint32_t count = 77;
    uint16_t id = 77;
    const uint8_t pin[6] = {'1', '2', '3', '4', '5', '6'};
    EXPECT_EQ(kvflash_create_local_pin_id_list(token.get(), &ids, &count), KVFLASH_INVALID_DEVICE_RESPONSE);
    EXPECT_EQ(kvflash_create_mva_id_list(token.get(), &ids, &count), KVFLASH_INVALID_DEVICE_RESPONSE);
    EXPECT_EQ(kvflash_create_local_pin(token.get(), {6, pin}, KVFLASH_SECURE_GLOBAL_BIT0, &id),
              KVFLASH_INVALID_DEVICE_RESPONSE);
    EXPECT_EQ(ids, nullptr);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(id, 77);
    EXPECT_LE(token.card->sent().size(), 3u * 260);
}

// Many threads call at once, all on one handle or each on its own; the call
// frame runs them one at a time, so every call sees whole answers. The
// ThreadSanitizer build runs these to prove no two calls overlap.
class Concurrency : public testing::TestWithParam<int> {};

TEST_P(Concurrency, ManyThreadsCallingAtOnce)
{
    constexpr int kThreads = 8;
    constexpr int kCallsEach = 100;
    const int handleCount = GetParam();
    std::vector<Handle> handles(handleCount);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            kvflash_TokenImpl_* token = handles[t % handleCount].get();
            for (int call = 0; call < kCallsEach; ++call) {
                uint32_t size = 0;
                kvflash_Section* sections = nullptr;
                uint32_t count = 0;
                if (kvflash_get_available_flash_size(token, &size) != KVFLASH_OK || size != 0x1000)
                    ++wrong;
                if (kvflash_create_section_list(token, &sections, &count) != KVFLASH_OK || count != 1)
                    ++wrong;
                else
                    kvflash_destroy_section_list(&sections);
                kvflash_logout(token);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
    for (Handle& handle : handles)
        EXPECT_EQ(handle.card->lockDepth(), 0);
}

INSTANTIATE_TEST_SUITE_P(Handles, Concurrency, testing::Values(1, 4),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("OneHandle") : std::string("SeveralHandles");
                         });

}  // namespace
}  // namespace kvfl
