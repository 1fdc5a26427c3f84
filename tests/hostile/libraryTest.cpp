// The flash library's C interface against broken flash tokens: a plain-C
// program calls every function (tests/hostile/libraryClient.c); every call
// ends with one of the library's statuses, in bounded time. In the sanitizer
// build a finding ends the program with exit code 86, which fails here.
#include "harness.h"
#include "process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kSeeds = 50;
constexpr int kRunBoundSeconds = 60;

TEST(HostileToken, LibraryAnswersEveryCallWithAStatusForEverySeed)
{
    const TempDir workDir;
    Clock::duration slowest{};
    uint64_t slowestSeed = 0;
    const Clock::time_point start = Clock::now();
    for (uint64_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE("kvtoken-emu --hostile " + std::to_string(seed));
        const VirtualToken token(bundledProfile("mirel3-flash.json"), 35963, {"--hostile", std::to_string(seed)});
        const Clock::time_point runStart = Clock::now();
        const ProcessResult run = runProcess(LIBRARY_CLIENT_PATH, {}, workDir.path(), kRunBoundSeconds);
        const Clock::duration took = Clock::now() - runStart;
        EXPECT_EQ(run.exitCode, 0) << run.err;
        if (took > slowest) {
            slowest = took;
            slowestSeed = seed;
        }
    }
    const auto ms = [](Clock::duration duration) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
    };
    std::cout << kSeeds << " hostile library runs in " << ms(Clock::now() - start) << " ms; slowest: seed "
              << slowestSeed << ", " << ms(slowest) << " ms\n";
}

}  // namespace
