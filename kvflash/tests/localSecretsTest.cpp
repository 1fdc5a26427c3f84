// Logins, local PINs, MVAs and host information through the exported
// functions, on a scripted token.
#include "exception.h"
#include "loginImpl.h"
#include "scriptedScard.h"
#include "thrown.h"
#include "tokenHandle.h"
#include "tokenImpl.h"

#include <kvflash-core/kvflash.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace kvfl {
namespace {

using test::detail;
using test::hex;
using test::ScriptedScard;
using test::thrownBy;

constexpr uint8_t LOCAL_PIN = 0x10;
constexpr uint8_t MVA = 0x14;

constexpr char selectFolder[] = "00 A4 08 04 06 10 00 10 00 60 05 00";
constexpr char resetAccessRights[] = "80 40 00 00";

struct LocalFile {
    uint8_t id;
    uint8_t descriptor;
    std::string recordStatus = "01";  // MVA only: one byte per slot
};

std::string hexByte(unsigned value)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X ", value & 0xFFu);
    return text;
}

// The FCP a SELECT of the file answers, status word included.
std::string selectAnswer(const LocalFile& file)
{
    if (file.descriptor == LOCAL_PIN)
        return "62 08 82 02 10 00 83 02 00 " + hexByte(file.id) + "90 00";
    const Bytes status = hex(file.recordStatus);
    const std::string content = "82 05 14 00 00 20 " + hexByte(status.size()) + "80 02 01 40 83 02 00 " +
                                hexByte(file.id) + "85 06 21 00 00 33 00 00 " +
                                "86 0F 7B 01 01 00 FF FF 01 FF 00 00 00 00 00 00 00 8F 01 81 A5 " +
                                hexByte(status.size() + 2) + "C0 " + hexByte(status.size()) + file.recordStatus;
    return "62 " + hexByte(hex(content).size()) + content + " 90 00";
}

std::string selectById(uint8_t id) { return "00 A4 08 04 08 10 00 10 00 60 05 00 " + hexByte(id); }

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
kvflash_Buffer buffer(const Bytes& bytes) { return {static_cast<uint32_t>(bytes.size()), bytes.data()}; }

// A token whose local-authentication folder holds the given files.
struct SecretsToken : testing::Test {
    std::shared_ptr<ScriptedScard> card = std::make_shared<ScriptedScard>();
    kvflash_TokenImpl_ cell{std::make_unique<TokenImpl>(card)};
    kvflash_TokenImpl_* token = &cell;
    TokenImpl& impl() { return static_cast<TokenImpl&>(*cell.token); }

    void folder(const std::vector<LocalFile>& files)
    {
        card->on(selectFolder, "90 00");
        card->on("00 A4 00 04", files.empty() ? "6A 82" : selectAnswer(files.front()));
        for (std::size_t i = 0; i < files.size(); ++i) {
            card->on("00 A4 00 06 02 00 " + hexByte(files[i].id),
                     i + 1 < files.size() ? selectAnswer(files[i + 1]) : "6A 82");
            card->on(selectById(files[i].id), selectAnswer(files[i]));
        }
    }

    std::size_t sentCount(const std::string& prefix) const
    {
        const Bytes wanted = hex(prefix);
        return std::ranges::count_if(card->sent(), [&](const ScriptedScard::Sent& sent) {
            return sent.command.size() >= wanted.size() && std::equal(wanted.begin(), wanted.end(), sent.command.begin());
        });
    }
};

// ---- Pointers and argument sizes ----------------------------------------------

TEST_F(SecretsToken, NullPointersGiveStatus3AndTouchNothing)
{
    const Bytes pin = bytes("123456");
    const kvflash_Buffer noData{6, nullptr};
    uint16_t attempts = 77;
    uint16_t* ids = nullptr;
    uint32_t count = 77;
    uint16_t id = 77;
    uint8_t recordId = 77;
    const kvflash_MvaParams params{1, 1, 1};
    const kvflash_PcInfo unreadableText{{0, nullptr}, {3, nullptr}, {0, nullptr}, {0, nullptr}, 0};
    const struct {
        const char* name;
        std::function<kvflash_StatusCode()> call;
    } cases[] = {
        {"login user", [&] { return kvflash_login_user(nullptr, buffer(pin)); }},
        {"login user, no data", [&] { return kvflash_login_user(token, noData); }},
        {"login admin", [&] { return kvflash_login_admin(nullptr, buffer(pin)); }},
        {"login local PIN", [&] { return kvflash_login_local_pin(nullptr, 3, buffer(pin)); }},
        {"login local PIN, no data", [&] { return kvflash_login_local_pin(token, 3, {0, nullptr}); }},
        {"logout", [&] { return kvflash_logout(nullptr); }},
        {"user attempts", [&] { return kvflash_get_remaining_login_attempts_user(token, nullptr); }},
        {"admin attempts", [&] { return kvflash_get_remaining_login_attempts_admin(nullptr, &attempts); }},
        {"local PIN attempts", [&] { return kvflash_get_remaining_login_attempts_local_pin(token, 3, nullptr); }},
        {"reset local PIN", [&] { return kvflash_reset_login_attempts_local_pin(nullptr, 3); }},
        {"local PIN list", [&] { return kvflash_create_local_pin_id_list(token, &ids, nullptr); }},
        {"destroy local PIN list", [&] { return kvflash_destroy_local_pin_id_list(nullptr); }},
        {"create local PIN", [&] { return kvflash_create_local_pin(token, buffer(pin), KVFLASH_SECURE_GLOBAL_BIT0, nullptr); }},
        {"create local PIN, no data", [&] { return kvflash_create_local_pin(token, noData, KVFLASH_SECURE_GLOBAL_BIT0, &id); }},
        {"change local PIN, no data", [&] { return kvflash_change_local_pin(token, 3, noData); }},
        {"host information", [&] { return kvflash_add_pc_info_to_journal(token, nullptr); }},
        {"host information, no text", [&] { return kvflash_add_pc_info_to_journal(token, &unreadableText); }},
        {"reset user", [&] { return kvflash_reset_login_attempts_user(nullptr); }},
        {"login MVA, no data", [&] { return kvflash_login_mva(token, 4, noData); }},
        {"MVA attempts", [&] { return kvflash_get_remaining_login_attempts_mva(token, 4, nullptr); }},
        {"MVA list", [&] { return kvflash_create_mva_id_list(nullptr, &ids, &count); }},
        {"destroy MVA list", [&] { return kvflash_destroy_mva_id_list(nullptr); }},
        {"create MVA, no params", [&] { return kvflash_create_mva(token, nullptr, &id); }},
        {"create MVA, no id", [&] { return kvflash_create_mva(token, &params, nullptr); }},
        {"add record, no id", [&] { return kvflash_mva_add_record(token, 4, buffer(pin), nullptr); }},
        {"add record, no data", [&] { return kvflash_mva_add_record(token, 4, noData, &recordId); }},
        {"delete record", [&] { return kvflash_mva_delete_record(nullptr, 4, 1); }},
        {"clear records", [&] { return kvflash_mva_clear_all_records(nullptr, 4); }},
        {"reset MVA", [&] { return kvflash_reset_login_attempts_mva(nullptr, 4); }},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.call(), KVFLASH_NULL_POINTER) << c.name;
    EXPECT_EQ(attempts, 77);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(id, 77);
    EXPECT_EQ(recordId, 77);
    EXPECT_TRUE(card->sent().empty());
}

// The size limits of PINs and records, at and beyond their edges. A size
// refused sends nothing; an accepted one reaches the token.
TEST_F(SecretsToken, SecretSizesAtTheirLimits)
{
    folder({{3, LOCAL_PIN}, {4, MVA, "01 01"}});
    card->on("00 20", "90 00").on("00 E0", "90 00").on("00 24", "90 00").on("00 E2", "90 00");
    uint16_t id = 0;
    uint8_t recordId = 0;
    const struct {
        const char* name;
        std::function<kvflash_StatusCode(const kvflash_Buffer&)> call;
        std::vector<std::pair<std::size_t, kvflash_StatusCode>> sizes;
    } cases[] = {
        {"global PIN", [&](const kvflash_Buffer& b) { return kvflash_login_user(token, b); },
         {{0, KVFLASH_LOGIN_INCORRECT}, {1, KVFLASH_OK}, {249, KVFLASH_OK}, {250, KVFLASH_LOGIN_INCORRECT}}},
        {"local PIN login", [&](const kvflash_Buffer& b) { return kvflash_login_local_pin(token, 3, b); },
         {{5, KVFLASH_INVALID_PIN_SIZE}, {6, KVFLASH_OK}, {32, KVFLASH_OK}, {33, KVFLASH_INVALID_PIN_SIZE}}},
        {"new local PIN", [&](const kvflash_Buffer& b) { return kvflash_create_local_pin(token, b, KVFLASH_SECURE_GLOBAL_BIT0, &id); },
         {{5, KVFLASH_INVALID_PIN_SIZE}, {6, KVFLASH_OK}, {32, KVFLASH_OK}, {33, KVFLASH_INVALID_PIN_SIZE}}},
        {"changed local PIN", [&](const kvflash_Buffer& b) { return kvflash_change_local_pin(token, 3, b); },
         {{5, KVFLASH_INVALID_PIN_SIZE}, {6, KVFLASH_OK}, {32, KVFLASH_OK}, {33, KVFLASH_INVALID_PIN_SIZE}}},
        {"MVA login", [&](const kvflash_Buffer& b) { return kvflash_login_mva(token, 4, b); },
         {{0, KVFLASH_INVALID_RECORD_SIZE}, {1, KVFLASH_OK}, {249, KVFLASH_OK}, {250, KVFLASH_INVALID_RECORD_SIZE}}},
        {"MVA record", [&](const kvflash_Buffer& b) { return kvflash_mva_add_record(token, 4, b, &recordId); },
         {{0, KVFLASH_INVALID_RECORD_SIZE}, {1, KVFLASH_OK}, {249, KVFLASH_OK}, {250, KVFLASH_INVALID_RECORD_SIZE}}},
    };
    for (const auto& c : cases) {
        for (const auto& [size, status] : c.sizes) {
            const Bytes secret(std::max<std::size_t>(size, 1), '7');  // readable even for size 0
            const std::size_t sentBefore = card->sent().size();
            EXPECT_EQ(c.call({static_cast<uint32_t>(size), secret.data()}), status) << c.name << ", " << size << " bytes";
            if (status != KVFLASH_OK) {
                EXPECT_EQ(card->sent().size(), sentBefore) << c.name << ", " << size << " bytes";
            }
            kvflash_logout(token);
        }
    }
}

TEST_F(SecretsToken, MvaShapeChecksRunInOrderBeforeAnyCommand)
{
    folder({});
    card->on("00 E0", "90 00");
    const struct {
        kvflash_MvaParams params;
        kvflash_StatusCode status;
    } cases[] = {
        {{0, 1, 1}, KVFLASH_INVALID_RECORD_COUNT},   {{1, 1, 1}, KVFLASH_OK},
        {{254, 1, 1}, KVFLASH_OK},                   {{255, 1, 1}, KVFLASH_INVALID_RECORD_COUNT},
        {{10, 0, 3}, KVFLASH_INVALID_RECORD_SIZE},   {{10, 250, 3}, KVFLASH_INVALID_RECORD_SIZE},
        {{254, 130, 10}, KVFLASH_OK},                {{254, 131, 10}, KVFLASH_INVALID_MVA_SIZE},
        // 33020 is the largest product allowed; no count and size give 33021, 33022 is the next
        {{158, 209, 10}, KVFLASH_INVALID_MVA_SIZE},
        {{10, 32, 0}, KVFLASH_INVALID_ATTEMPT_COUNT}, {{10, 32, 1}, KVFLASH_OK},
        {{10, 32, 10}, KVFLASH_OK},                  {{10, 32, 11}, KVFLASH_INVALID_ATTEMPT_COUNT},
        {{255, 250, 11}, KVFLASH_INVALID_RECORD_COUNT},
    };
    for (const auto& c : cases) {
        uint16_t id = 77;
        const std::size_t sentBefore = card->sent().size();
        EXPECT_EQ(kvflash_create_mva(token, &c.params, &id), c.status)
            << int{c.params.maxRecordCount} << " x " << int{c.params.maxRecordSize} << ", " << int{c.params.maxAttempts};
        if (c.status != KVFLASH_OK) {
            EXPECT_EQ(id, 77);
            EXPECT_EQ(card->sent().size(), sentBefore);
        }
    }
}

// ---- Creation -----------------------------------------------------------------

TEST_F(SecretsToken, NewMvaTakesTheFirstFreeIdentifier)
{
    folder({{3, LOCAL_PIN}, {5, MVA}});
    card->on("00 E0", "90 00");
    const kvflash_MvaParams params{10, 32, 3};
    uint16_t id = 0;
    ASSERT_EQ(kvflash_create_mva(token, &params, &id), KVFLASH_OK);
    EXPECT_EQ(id, 4);
    const Bytes fcp = hex("62 27 82 04 14 00 00 20 80 02 01 40 83 02 00 04 85 06 21 00 00 33 00 00 "
                          "86 0F 7B 01 01 00 FF FF 01 FF 00 00 00 00 00 00 00");
    const auto& sent = card->sent();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[sent.size() - 3].command, hex(selectFolder));
    EXPECT_EQ(sent[sent.size() - 2].command, test::concat({hex("00 E0 00 00 29"), fcp}));
    EXPECT_EQ(sent.back().command, hex(resetAccessRights));
}

TEST_F(SecretsToken, NewLocalPinTakesTheFirstFreeIdentifierAndGetsItsValue)
{
    folder({{3, LOCAL_PIN}, {4, MVA}});
    card->on("00 E0", "90 00").on("00 24", "90 00");
    const Bytes pin = bytes("246810");
    uint16_t id = 0;
    ASSERT_EQ(kvflash_create_local_pin(token, buffer(pin), KVFLASH_SECURE_GLOBAL_BOTH, &id), KVFLASH_OK);
    EXPECT_EQ(id, 5);
    const auto& sent = card->sent();
    ASSERT_GE(sent.size(), 4u);
    const Bytes& create = sent[sent.size() - 3].command;
    // security attributes: both global PINs (04) and the PIN itself (05)
    EXPECT_NE(std::ranges::search(create, hex("86 0F 43 01 04 00 00 00 00 FF 00 05")).begin(), create.end());
    EXPECT_NE(std::ranges::search(create, hex("83 02 00 05")).begin(), create.end());
    EXPECT_EQ(sent[sent.size() - 2].command, test::concat({hex("00 24 01 00 0C 80 02 00 06 A6 06"), pin}));
}

TEST_F(SecretsToken, UnknownSecureTypesFailBeforeAnyCommand)
{
    folder({});
    const Bytes pin = bytes("246810");
    uint16_t id = 0;
    for (const int secureType : {0, 4, 255}) {
        EXPECT_EQ(kvflash_create_local_pin(token, buffer(pin), static_cast<kvflash_SecureType>(secureType), &id),
                  KVFLASH_INTERNAL_ERROR)
            << secureType;
    }
    EXPECT_TRUE(card->sent().empty());
}

TEST_F(SecretsToken, NoFreeIdentifierIs6014)
{
    std::vector<LocalFile> full;
    for (uint8_t id = 3; id <= 31; ++id)
        full.push_back({id, id % 2 ? LOCAL_PIN : MVA});
    folder(full);
    const Bytes pin = bytes("246810");
    const kvflash_MvaParams params{1, 1, 1};
    uint16_t id = 0;
    EXPECT_EQ(kvflash_create_local_pin(token, buffer(pin), KVFLASH_SECURE_GLOBAL_BIT1, &id), KVFLASH_NO_FREE_LOCAL_ID);
    EXPECT_EQ(kvflash_create_mva(token, &params, &id), KVFLASH_NO_FREE_LOCAL_ID);
    EXPECT_FALSE(card->received("00 E0"));
}

// ---- Identifiers and kinds of files ---------------------------------------------

TEST_F(SecretsToken, ListsHoldTheIdentifiersOfTheirKindInWalkOrder)
{
    folder({{5, LOCAL_PIN}, {3, MVA}, {4, LOCAL_PIN}, {31, MVA}});
    uint16_t* ids = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(kvflash_create_local_pin_id_list(token, &ids, &count), KVFLASH_OK);
    EXPECT_EQ(std::vector<uint16_t>(ids, ids + count), (std::vector<uint16_t>{5, 4}));
    EXPECT_EQ(kvflash_destroy_local_pin_id_list(&ids), KVFLASH_OK);
    EXPECT_EQ(ids, nullptr);
    ASSERT_EQ(kvflash_create_mva_id_list(token, &ids, &count), KVFLASH_OK);
    EXPECT_EQ(std::vector<uint16_t>(ids, ids + count), (std::vector<uint16_t>{3, 31}));
    EXPECT_EQ(kvflash_destroy_mva_id_list(&ids), KVFLASH_OK);
    EXPECT_EQ(kvflash_destroy_mva_id_list(&ids), KVFLASH_OK);  // a null list is accepted
}

TEST_F(SecretsToken, EmptyFolderGivesEmptyLists)
{
    folder({});
    uint16_t* ids = nullptr;
    uint32_t count = 77;
    ASSERT_EQ(kvflash_create_mva_id_list(token, &ids, &count), KVFLASH_OK);
    EXPECT_NE(ids, nullptr);
    EXPECT_EQ(count, 0u);
    kvflash_destroy_mva_id_list(&ids);
}

TEST_F(SecretsToken, ListedIdentifierOutside3To31IsRefused)
{
    folder({{4, MVA}, {32, MVA}});
    uint16_t* ids = nullptr;
    uint32_t count = 77;
    EXPECT_EQ(kvflash_create_mva_id_list(token, &ids, &count), KVFLASH_INVALID_SECRET_ID);
    EXPECT_EQ(ids, nullptr);
    EXPECT_EQ(count, 77u);
}

TEST_F(SecretsToken, IdentifiersAtTheEdgesOf3To31)
{
    folder({{3, MVA}, {31, MVA}});
    card->on("00 2C 03", "90 00");
    const std::pair<uint16_t, kvflash_StatusCode> cases[] = {
        {2, KVFLASH_INVALID_SECRET_ID}, {3, KVFLASH_OK}, {31, KVFLASH_OK}, {32, KVFLASH_INVALID_SECRET_ID}};
    for (const auto& [id, status] : cases)
        EXPECT_EQ(kvflash_reset_login_attempts_mva(token, id), status) << id;
    EXPECT_EQ(sentCount("00 2C 03 83"), 1u);
    EXPECT_EQ(sentCount("00 2C 03 9F"), 1u);
    const Exception refused = thrownBy([&] { impl().mvaLogin(32); });
    EXPECT_EQ(detail(refused, ErrorInfoKind::SecretId), (std::variant<int64_t, std::string>{int64_t{32}}));
}

TEST_F(SecretsToken, WrongKindOfFileIs100027WithTheExpectedType)
{
    folder({{3, LOCAL_PIN}, {4, MVA}});
    const Bytes secret = bytes("123456");
    EXPECT_EQ(kvflash_login_mva(token, 3, buffer(secret)), KVFLASH_SECRET_TYPE_MISMATCH);
    EXPECT_EQ(kvflash_login_local_pin(token, 4, buffer(secret)), KVFLASH_SECRET_TYPE_MISMATCH);
    EXPECT_EQ(kvflash_change_local_pin(token, 4, buffer(secret)), KVFLASH_SECRET_TYPE_MISMATCH);
    EXPECT_EQ(kvflash_mva_clear_all_records(token, 3), KVFLASH_SECRET_TYPE_MISMATCH);
    EXPECT_FALSE(card->received("00 20"));
    const Exception asMva = thrownBy([&] { impl().mvaLogin(3); });
    EXPECT_EQ(detail(asMva, ErrorInfoKind::SecretId), (std::variant<int64_t, std::string>{int64_t{3}}));
    EXPECT_EQ(detail(asMva, ErrorInfoKind::ExpectedSecretType), (std::variant<int64_t, std::string>{int64_t{1}}));
    const Exception asPin = thrownBy([&] { impl().localPinLogin(4); });
    EXPECT_EQ(detail(asPin, ErrorInfoKind::ExpectedSecretType), (std::variant<int64_t, std::string>{int64_t{2}}));
}

// ---- Logins and attempts ----------------------------------------------------------

TEST_F(SecretsToken, RemainingAttemptsComeFromTheQueryForm)
{
    folder({{3, LOCAL_PIN}, {4, MVA}});
    card->on("00 20 00 02 00", "63 CA").on("00 20 00 01 00", "90 00").on("00 20 00 83 00", "63 C1")
        .on("00 20 00 84 00", "69 83");
    uint16_t attempts = 77;
    EXPECT_EQ(kvflash_get_remaining_login_attempts_user(token, &attempts), KVFLASH_OK);
    EXPECT_EQ(attempts, 10);
    EXPECT_EQ(kvflash_get_remaining_login_attempts_admin(token, &attempts), KVFLASH_OK);
    EXPECT_EQ(attempts, 0);
    EXPECT_EQ(kvflash_get_remaining_login_attempts_local_pin(token, 3, &attempts), KVFLASH_OK);
    EXPECT_EQ(attempts, 1);
    attempts = 77;
    EXPECT_EQ(kvflash_get_remaining_login_attempts_mva(token, 4, &attempts), KVFLASH_OBJECT_BLOCKED);
    EXPECT_EQ(attempts, 77);
    EXPECT_FALSE(card->received(resetAccessRights));  // no replay, nothing to drop
}

TEST_F(SecretsToken, WrongPinCarriesTheRemainingAttemptsAndIsNotKept)
{
    card->on("00 20 00 02 00", "63 C4").on("00 20 00 02 06", "63 C4").on("00 2C 03 02", "90 00");
    const Bytes pin = bytes("000000");
    const Exception wrong = thrownBy([&] { impl().login({std::make_shared<UserPin>(pin)}); });
    EXPECT_EQ(wrong.status(), KVFLASH_LOGIN_INCORRECT);
    EXPECT_EQ(detail(wrong, ErrorInfoKind::RemainingAttempts), (std::variant<int64_t, std::string>{int64_t{4}}));
    EXPECT_EQ(kvflash_login_user(token, buffer(pin)), KVFLASH_LOGIN_INCORRECT);
    const std::size_t verifies = sentCount("00 20 00 02 06");
    EXPECT_EQ(kvflash_reset_login_attempts_user(token), KVFLASH_OK);
    EXPECT_EQ(sentCount("00 20 00 02 06"), verifies);
}

TEST_F(SecretsToken, WrongMvaRecordIs100019)
{
    folder({{4, MVA}});
    card->on("00 20 00 84 00", "63 C2").on("00 20 00 84", "63 C2");
    const Bytes record = bytes("not a record");
    EXPECT_EQ(kvflash_login_mva(token, 4, buffer(record)), KVFLASH_MVA_RECORD_MISMATCH);
}

TEST_F(SecretsToken, LoginsAreReplayedUntilLogout)
{
    folder({{3, LOCAL_PIN}});
    card->on("00 20", "90 00").on("00 2C 03 02", "90 00");
    const Bytes admin = bytes("87654321");
    const Bytes localPin = bytes("135790");
    ASSERT_EQ(kvflash_login_admin(token, buffer(admin)), KVFLASH_OK);
    ASSERT_EQ(kvflash_login_local_pin(token, 3, buffer(localPin)), KVFLASH_OK);
    ASSERT_EQ(kvflash_reset_login_attempts_user(token), KVFLASH_OK);
    const auto& sent = card->sent();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent[sent.size() - 4].command, test::concat({hex("00 20 00 01 08"), admin}));
    EXPECT_EQ(sent[sent.size() - 3].command, test::concat({hex("00 20 00 83 06"), localPin}));
    EXPECT_EQ(sent[sent.size() - 2].command, hex("00 2C 03 02"));
    EXPECT_EQ(sent.back().command, hex(resetAccessRights));

    ASSERT_EQ(kvflash_logout(token), KVFLASH_OK);
    const std::size_t verifies = sentCount("00 20");
    ASSERT_EQ(kvflash_reset_login_attempts_user(token), KVFLASH_OK);
    EXPECT_EQ(sentCount("00 20"), verifies);
}

// A secret changed or deleted behind the library's back: its replay answers
// 63Cx, the login is dropped and the operation goes on.
TEST_F(SecretsToken, StoredLoginWhoseSecretChangedElsewhereIsDropped)
{
    folder({{3, LOCAL_PIN}, {4, MVA}});
    card->on("00 20 00 83 00", "63 C9").on("00 20 00 84 00", "63 C9")
        .on("00 20 00 83", std::vector<std::string>{"90 00", "63 C9"})
        .on("00 20 00 84", std::vector<std::string>{"90 00", "63 C9"})
        .on("00 2C 03 02", "90 00");
    const Bytes pin = bytes("135790");
    const Bytes record = bytes("a record");
    ASSERT_EQ(kvflash_login_local_pin(token, 3, buffer(pin)), KVFLASH_OK);
    ASSERT_EQ(kvflash_login_mva(token, 4, buffer(record)), KVFLASH_OK);
    EXPECT_EQ(kvflash_reset_login_attempts_user(token), KVFLASH_OK);
    EXPECT_EQ(kvflash_reset_login_attempts_user(token), KVFLASH_OK);
    EXPECT_EQ(sentCount("00 2C 03 02"), 2u);
    EXPECT_EQ(sentCount("00 20 00 83 06"), 2u);  // the login and one failed replay
    EXPECT_EQ(sentCount("00 20 00 84 08"), 2u);
}

// The replay that uses up the last try: the token answers 63C0, then 6983 to
// the query. The login is still a wrong one and is dropped.
TEST_F(SecretsToken, StoredLoginWhoseReplayBlocksItIsDropped)
{
    folder({{3, LOCAL_PIN}});
    card->on("00 20 00 83 00", "69 83")
        .on("00 20 00 83", std::vector<std::string>{"90 00", "63 C0"})
        .on("00 2C 03 02", "90 00");
    const Bytes pin = bytes("135790");
    ASSERT_EQ(kvflash_login_local_pin(token, 3, buffer(pin)), KVFLASH_OK);
    EXPECT_EQ(kvflash_reset_login_attempts_user(token), KVFLASH_OK);
    EXPECT_EQ(kvflash_reset_login_attempts_user(token), KVFLASH_OK);
    EXPECT_EQ(sentCount("00 20 00 83 06"), 2u);

    const Exception lastTry = thrownBy([&] { impl().login({impl().localPinLogin(3, pin)}); });
    EXPECT_EQ(lastTry.status(), KVFLASH_LOGIN_INCORRECT);
    EXPECT_EQ(detail(lastTry, ErrorInfoKind::RemainingAttempts), (std::variant<int64_t, std::string>{int64_t{0}}));
}

// ---- Unblocking and records ----------------------------------------------------------

TEST_F(SecretsToken, UnblockCommandsNameTheirSecret)
{
    folder({{3, LOCAL_PIN}, {7, MVA}});
    card->on("00 2C 03", "90 00");
    EXPECT_EQ(kvflash_reset_login_attempts_user(token), KVFLASH_OK);
    EXPECT_EQ(kvflash_reset_login_attempts_local_pin(token, 3), KVFLASH_OK);
    EXPECT_EQ(kvflash_reset_login_attempts_mva(token, 7), KVFLASH_OK);
    EXPECT_EQ(sentCount("00 2C 03 02"), 1u);
    EXPECT_EQ(sentCount("00 2C 03 83"), 1u);
    EXPECT_EQ(sentCount("00 2C 03 87"), 1u);
    EXPECT_EQ(card->sent().back().command, hex(resetAccessRights));
}

TEST_F(SecretsToken, NewRecordTakesTheFirstErasedSlotElseIsAppended)
{
    folder({{4, MVA, "01 03 01"}, {5, MVA, "01 01"}});
    card->on("00 DC", "90 00").on("00 E2", "90 00");
    const Bytes record = bytes("record");
    uint8_t recordId = 0;
    ASSERT_EQ(kvflash_mva_add_record(token, 4, buffer(record), &recordId), KVFLASH_OK);
    EXPECT_EQ(recordId, 2);
    EXPECT_TRUE(card->received("00 DC 02 04 06"));
    ASSERT_EQ(kvflash_mva_add_record(token, 5, buffer(record), &recordId), KVFLASH_OK);
    EXPECT_EQ(recordId, 3);
    EXPECT_TRUE(card->received("00 E2 00 00 06"));
}

TEST_F(SecretsToken, DeletingNamesAnExistingSlot)
{
    folder({{4, MVA, "01 03 01"}});
    card->on("00 0C", "90 00");
    EXPECT_EQ(kvflash_mva_delete_record(token, 4, 0), KVFLASH_RECORD_NOT_FOUND);
    EXPECT_EQ(kvflash_mva_delete_record(token, 4, 4), KVFLASH_RECORD_NOT_FOUND);
    EXPECT_FALSE(card->received("00 0C"));
    EXPECT_EQ(kvflash_mva_delete_record(token, 4, 3), KVFLASH_OK);
    EXPECT_EQ(kvflash_mva_clear_all_records(token, 4), KVFLASH_OK);
    EXPECT_TRUE(card->received("00 0C 03 04"));
    EXPECT_TRUE(card->received("00 0C 01 05"));
}

TEST_F(SecretsToken, TokenWithoutRoomForTheRecord)
{
    folder({{4, MVA, "01"}});
    card->on("00 E2", "6A 84");
    const Bytes record = bytes("record");
    uint8_t recordId = 77;
    EXPECT_EQ(kvflash_mva_add_record(token, 4, buffer(record), &recordId), KVFLASH_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(recordId, 77);
}

// ---- Host information ------------------------------------------------------------------

constexpr char journalEventsSection[] =
    "80 14 01 00 01 F4 01 02 00 00 00 00 00 00 00 00 00 00 00 00 00 00 90 00";
constexpr char ordinarySection[] = "80 14 02 03 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 90 00";

TEST_F(SecretsToken, HostInformationGoesIntoTheJournal)
{
    card->on("80 53 11 00", journalEventsSection).on("00 DA 01 7C", "90 00");
    const Bytes user = bytes("user"), domain = bytes("domain"), system = bytes("Debian 12");
    const kvflash_PcInfo info{buffer(user), buffer(domain), buffer(system), {0, nullptr}, 0x0102030405060708};
    ASSERT_EQ(kvflash_add_pc_info_to_journal(token, &info), KVFLASH_OK);
    ASSERT_EQ(sentCount("00 DA 01 7C"), 1u);
    const auto& sent = card->sent();
    const Bytes& chunk = sent[sent.size() - 2].command;
    EXPECT_NE(std::ranges::search(chunk, hex("C1 04 75 73 65 72 C2 06")).begin(), chunk.end());
    EXPECT_NE(std::ranges::search(chunk, hex("C4 04 4E 4F 4E 45")).begin(), chunk.end());  // "NONE"
    EXPECT_NE(std::ranges::search(chunk, hex("C5 08 01 02 03 04 05 06 07 08")).begin(), chunk.end());
    EXPECT_EQ(sent.back().command, hex(resetAccessRights));
}

// Short texts take 21 item bytes besides the fourth text; the first chunk
// holds 247 item bytes after 80 02 xx xx A5 len.
TEST_F(SecretsToken, HostInformationChunksAtTheirBoundary)
{
    card->on("80 53 11 00", journalEventsSection).on("00 DA 01 7C", "90 00").on("10 DA 01 7C", "90 00");
    const Bytes user = bytes("u"), domain = bytes("d"), system = bytes("s");
    const struct {
        std::size_t fourthText;
        std::vector<std::string> chunkStarts;  // CLA ... Lc of each PUT DATA
    } cases[] = {
        {226, {"00 DA 01 7C FD"}},
        {227, {"10 DA 01 7C FD", "00 DA 01 7C 03"}},
        {255, {"10 DA 01 7C FD", "00 DA 01 7C 1F"}},
    };
    for (const auto& c : cases) {
        const Bytes device(c.fourthText, 'x');
        const kvflash_PcInfo info{buffer(user), buffer(domain), buffer(system), buffer(device), 1};
        const std::size_t before = card->sent().size();
        ASSERT_EQ(kvflash_add_pc_info_to_journal(token, &info), KVFLASH_OK) << c.fourthText;
        std::vector<Bytes> chunks;
        for (std::size_t i = before; i < card->sent().size(); ++i)
            if (card->sent()[i].command[1] == 0xDA)
                chunks.push_back(Bytes(card->sent()[i].command.begin(), card->sent()[i].command.begin() + 5));
        std::vector<Bytes> expected;
        for (const std::string& start : c.chunkStarts)
            expected.push_back(hex(start));
        EXPECT_EQ(chunks, expected) << c.fourthText;
    }
}

TEST_F(SecretsToken, HostInformationNeedsAJournalEventsSection)
{
    card->on("80 53 11 00", ordinarySection);
    const Bytes text = bytes("host");
    const kvflash_PcInfo info{buffer(text), buffer(text), buffer(text), buffer(text), 0};
    EXPECT_EQ(kvflash_add_pc_info_to_journal(token, &info), KVFLASH_JOURNAL_SECTION_MISSING);
    EXPECT_FALSE(card->received("00 DA"));
}

TEST_F(SecretsToken, HostTextLongerThan255BytesIsRefused)
{
    card->on("80 53 11 00", journalEventsSection).on("00 DA", "90 00");
    const Bytes text = bytes("host"), tooLong(256, 'x');
    const kvflash_PcInfo info{buffer(text), buffer(tooLong), buffer(text), buffer(text), 0};
    EXPECT_EQ(kvflash_add_pc_info_to_journal(token, &info), KVFLASH_INVALID_STRING_SIZE);
    EXPECT_FALSE(card->received("00 DA"));
}

}  // namespace
}  // namespace kvfl
