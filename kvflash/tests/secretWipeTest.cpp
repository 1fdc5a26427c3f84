// No byte string of a secret may be given back to the heap: every heap block
// freed while the check is armed is searched for the secret. The secrets
// themselves live in locked pages that are wiped and unmapped.
#include "pcscApi.h"
#include "scardImpl.h"
#include "tokenHandle.h"
#include "tokenImpl.h"

#include <kvflash-core/kvflash.h>

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

// The secret is kept masked so that the test's own memory never holds it
// in the clear outside the caller's buffer.
constexpr uint8_t MASK = 0xA5;
constexpr std::array<uint8_t, 8> maskedSecret = {0x94, 0x97, 0x96, 0x91, 0x90, 0x93, 0x92, 0x9D};

std::atomic<bool> armed{false};
std::atomic<int> blocksWithSecret{0};

bool holdsSecret(const uint8_t* bytes, std::size_t size)
{
    for (std::size_t start = 0; start + maskedSecret.size() <= size; ++start) {
        std::size_t matched = 0;
        while (matched < maskedSecret.size() && bytes[start + matched] == (maskedSecret[matched] ^ MASK))
            ++matched;
        if (matched == maskedSecret.size())
            return true;
    }
    return false;
}

void inspectFreed(void* block) noexcept
{
    if (block && armed && holdsSecret(static_cast<const uint8_t*>(block), malloc_usable_size(block)))
        ++blocksWithSecret;
}

}  // namespace

void* operator new(std::size_t size)
{
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    inspectFreed(block);
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    inspectFreed(block);
    std::free(block);
}

namespace kvfl {
namespace {

// One T=1 card in one reader. SELECT of file 3 shows a local PIN, any other
// SELECT an MVA (identifier 4) with an erased second slot; every other
// command succeeds. Nothing that was sent is kept.
class QuietCard : public PcscApi {
public:
    uint32_t establishContext(SCARDCONTEXT& context) override { return context = 1, SCARD_S_SUCCESS; }
    uint32_t releaseContext(SCARDCONTEXT) override { return SCARD_S_SUCCESS; }
    uint32_t listReaders(SCARDCONTEXT, char*, DWORD&) override { return SCARD_E_NO_READERS_AVAILABLE; }
    uint32_t waitForChange(SCARDCONTEXT, std::vector<SCARD_READERSTATE>&, DWORD) override { return SCARD_E_TIMEOUT; }
    uint32_t connect(SCARDCONTEXT, const std::string&, DWORD, SCARDHANDLE& card, DWORD& protocol) override
    {
        card = 1;
        protocol = SCARD_PROTOCOL_T1;
        return SCARD_S_SUCCESS;
    }
    uint32_t reconnect(SCARDHANDLE, DWORD, DWORD& protocol) override { return protocol = SCARD_PROTOCOL_T1, SCARD_S_SUCCESS; }
    uint32_t disconnect(SCARDHANDLE) override { return SCARD_S_SUCCESS; }
    uint32_t beginTransaction(SCARDHANDLE) override { return SCARD_S_SUCCESS; }
    uint32_t endTransaction(SCARDHANDLE) override { return SCARD_S_SUCCESS; }
    uint32_t readAtr(SCARDHANDLE, uint8_t*, DWORD& length) override { return length = 0, SCARD_S_SUCCESS; }

    uint32_t transmit(SCARDHANDLE, const SCARD_IO_REQUEST*, const uint8_t* command, DWORD commandLength,
                      uint8_t* response, DWORD& responseLength) override
    {
        static constexpr uint8_t localPin[] = {0x62, 0x08, 0x82, 0x02, 0x10, 0x00, 0x83, 0x02, 0x00, 0x03, 0x90, 0x00};
        static constexpr uint8_t mva[] = {
            0x62, 0x31, 0x82, 0x05, 0x14, 0x00, 0x00, 0x20, 0x02, 0x80, 0x02, 0x01, 0x40, 0x83, 0x02, 0x00,
            0x04, 0x85, 0x06, 0x21, 0x00, 0x00, 0x33, 0x00, 0x00, 0x86, 0x0F, 0x7B, 0x01, 0x01, 0x00, 0xFF,
            0xFF, 0x01, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x8F, 0x01, 0x81, 0xA5, 0x04, 0xC0,
            0x02, 0x01, 0x03, 0x90, 0x00};
        static constexpr uint8_t success[] = {0x90, 0x00};
        const bool select = commandLength > 1 && command[1] == 0xA4;
        const bool ofFile3 = select && commandLength > 12 && command[12] == 0x03;
        using Bytes = std::span<const uint8_t>;
        const Bytes answer = !select ? Bytes(success) : ofFile3 ? Bytes(localPin) : Bytes(mva);
        std::memcpy(response, answer.data(), answer.size());
        responseLength = static_cast<DWORD>(answer.size());
        return SCARD_S_SUCCESS;
    }
};

TEST(SecretWipe, DetectorFindsASecretGivenBackToTheHeap)
{
    std::array<uint8_t, maskedSecret.size()> secret{};
    for (std::size_t i = 0; i < secret.size(); ++i)
        secret[i] = maskedSecret[i] ^ MASK;
    blocksWithSecret = 0;
    armed = true;
    delete new std::vector<uint8_t>(secret.begin(), secret.end());
    armed = false;
    explicit_bzero(secret.data(), secret.size());
    EXPECT_EQ(blocksWithSecret, 1);
}

TEST(SecretWipe, NoCopyOfASecretOutlivesLoginLogoutAndDestruction)
{
    std::array<uint8_t, maskedSecret.size()> secret{};
    for (std::size_t i = 0; i < secret.size(); ++i)
        secret[i] = maskedSecret[i] ^ MASK;
    const kvflash_Buffer buffer{static_cast<uint32_t>(secret.size()), secret.data()};

    blocksWithSecret = 0;
    armed = true;
    auto* token = new kvflash_TokenImpl_{std::make_unique<TokenImpl>(
        std::make_shared<ScardImpl>("Virtual PCD 00 00", std::make_shared<QuietCard>()))};
    uint8_t recordId = 0;
    EXPECT_EQ(kvflash_login_user(token, buffer), KVFLASH_OK);
    EXPECT_EQ(kvflash_login_admin(token, buffer), KVFLASH_OK);
    EXPECT_EQ(kvflash_login_local_pin(token, 3, buffer), KVFLASH_OK);
    EXPECT_EQ(kvflash_change_local_pin(token, 3, buffer), KVFLASH_OK);
    EXPECT_EQ(kvflash_mva_add_record(token, 4, buffer, &recordId), KVFLASH_OK);
    EXPECT_EQ(recordId, 2);
    EXPECT_EQ(kvflash_login_mva(token, 4, buffer), KVFLASH_OK);
    EXPECT_EQ(kvflash_reset_login_attempts_user(token), KVFLASH_OK);  // replays every login
    EXPECT_EQ(kvflash_logout(token), KVFLASH_OK);
    EXPECT_EQ(kvflash_destroy_token(&token), KVFLASH_OK);
    armed = false;
    explicit_bzero(secret.data(), secret.size());
    EXPECT_EQ(blocksWithSecret, 0);
}

// What a user without the right to lock memory meets: root loses
// CAP_IPC_LOCK, and the limit of locked memory drops to nothing.
void forbidLockedMemory()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct capabilities[2] = {};
    syscall(SYS_capget, &header, capabilities);
    capabilities[CAP_IPC_LOCK / 32].effective &= ~(1u << (CAP_IPC_LOCK % 32));
    syscall(SYS_capset, &header, capabilities);
    const rlimit none{0, 0};
    setrlimit(RLIMIT_MEMLOCK, &none);
}

// Exits 0 when a login without locked memory gives status 1.
[[noreturn]] void loginWithoutLockedMemory()
{
    forbidLockedMemory();
    kvflash_TokenImpl_ token{std::make_unique<TokenImpl>(
        std::make_shared<ScardImpl>("Virtual PCD 00 00", std::make_shared<QuietCard>()))};
    const uint8_t pin[] = {'1', '2', '3', '4', '5', '6'};
    std::exit(kvflash_login_user(&token, {sizeof pin, pin}) == KVFLASH_INTERNAL_ERROR ? 0 : 1);
}

TEST(SecretWipe, NoLockedMemoryIsStatus1NotACrash)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer turns mlock into a no-op";
#endif
    EXPECT_EXIT(loginWithoutLockedMemory(), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kvfl
