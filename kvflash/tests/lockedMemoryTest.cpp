#include "lockedMemory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace kvfl {
namespace {

// Locked memory of this process in kB, as the kernel counts it.
long lockedKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmLck:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

bool isMapped(const void* address) {
    unsigned char residency;
    const long page = sysconf(_SC_PAGESIZE);
    void* pageStart = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(address) & ~static_cast<uintptr_t>(page - 1));
    return mincore(pageStart, static_cast<std::size_t>(page), &residency) == 0;
}

TEST(LockedMemory, SecretsLiveInLockedPagesThatGoAwayOnRelease) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer turns mlock into a no-op";
#endif
    const long before = lockedKilobytes();
    const uint8_t* data = nullptr;
    {
        SecretBytes secret{'1', '2', '3', '4', '5', '6'};
        data = secret.data();
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)), 0u);
        EXPECT_GT(lockedKilobytes(), before);
        EXPECT_TRUE(isMapped(data));
    }
    EXPECT_EQ(lockedKilobytes(), before);
    EXPECT_FALSE(isMapped(data));
}

TEST(LockedMemory, GrowingKeepsTheContent) {
    SecretBytes secret(10, 0x5A);
    secret.resize(3 * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)), 0xA5);
    EXPECT_EQ(secret[9], 0x5A);
    EXPECT_EQ(secret.back(), 0xA5);
}

TEST(LockedMemory, ImpossibleSizesAreBadAlloc) {
    LockedAllocator<uint64_t> allocator;
    EXPECT_THROW(allocator.allocate(std::numeric_limits<std::size_t>::max() / 4), std::bad_alloc);
    EXPECT_THROW(allocateLocked(std::numeric_limits<std::size_t>::max() / 2), std::bad_alloc);
}

}  // namespace
}  // namespace kvfl
