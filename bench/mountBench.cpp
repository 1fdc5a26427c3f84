// How soon a newly mounted drive is noticed by a wait on the mount table, as
// the flash journal reader waits for its section's drive. Runs in a child
// with a mount namespace of its own, so the test mounts touch nothing else.
#include "benchNames.h"

#include "utils/mountTableWatch.h"

#include <benchmark/benchmark.h>

#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMounts = 9;
constexpr auto kBeforeMount = std::chrono::milliseconds(20);

bool mountedAt(const std::string& dir)
{
    std::ifstream table("/proc/self/mountinfo");
    for (std::string line; std::getline(table, line);)
        if (line.find(" " + dir + " ") != std::string::npos)
            return true;
    return false;
}

// Seconds from the mount to the waiter seeing it; negative when this process
// may not mount.
double mountToFound()
{
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return -1;
    char dir[] = "/tmp/kvdiag-bench-mount-XXXXXX";
    if (!mkdtemp(dir))
        return -1;
    kelvane::utils::MountTableWatch watch;
    Clock::time_point mountedTime;
    std::thread mounter([&] {
        std::this_thread::sleep_for(kBeforeMount);
        mountedTime = Clock::now();
        mount("kvdiag-bench", dir, "tmpfs", 0, nullptr);
    });
    const auto giveUp = Clock::now() + std::chrono::seconds(5);
    while (!mountedAt(dir) && Clock::now() < giveUp)
        watch.waitForChange(std::chrono::seconds(1));
    const Clock::time_point found = Clock::now();
    mounter.join();
    const bool seen = mountedAt(dir);
    umount(dir);
    rmdir(dir);
    return seen ? std::chrono::duration<double>(found - mountedTime).count() : -1;
}

void mountNoticed(benchmark::State& state)
{
    for (auto _ : state) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            state.SkipWithError("pipe failed");
            break;
        }
        const pid_t child = fork();
        if (child == 0) {
            const double seconds = mountToFound();
            const bool written = write(pipeFds[1], &seconds, sizeof seconds) == sizeof seconds;
            _exit(written ? 0 : 1);
        }
        close(pipeFds[1]);
        double seconds = -1;
        const bool read = ::read(pipeFds[0], &seconds, sizeof seconds) == sizeof seconds;
        close(pipeFds[0]);
        waitpid(child, nullptr, 0);
        if (!read || seconds < 0) {
            state.SkipWithError("no private mount namespace here (needs root)");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

}  // namespace

BENCHMARK(mountNoticed)->Name(benchNames::mountToFound)->UseManualTime()->Iterations(1)->Repetitions(kMounts);
