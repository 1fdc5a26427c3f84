#include "utils/mountTableWatch.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace {

using kelvane::utils::MountTableWatch;
using namespace std::chrono_literals;

constexpr int kNoPrivateMounts = 77;

// In a mount namespace of its own the child's mounts touch nothing outside
// it. Returns kNoPrivateMounts when the system allows none (no privilege),
// else the first step that went wrong, 0 when none did.
int watchOwnMounts()
{
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return kNoPrivateMounts;
    char dir[] = "/tmp/kvdiag-mount-XXXXXX";
    if (!mkdtemp(dir))
        return kNoPrivateMounts;
    MountTableWatch watch;
    int failedStep = 0;
    if (watch.waitForChange(0ms))
        failedStep = 1;  // nothing changed yet
    else if (mount("kvdiag-test", dir, "tmpfs", 0, nullptr) != 0)
        failedStep = kNoPrivateMounts;
    else if (!watch.waitForChange(0ms))
        failedStep = 2;  // the mount went unnoticed
    else if (watch.waitForChange(0ms))
        failedStep = 3;  // one change seen twice
    else if (umount(dir) != 0 || !watch.waitForChange(0ms))
        failedStep = 4;  // the unmount went unnoticed
    rmdir(dir);
    return failedStep;
}

TEST(MountTableWatch, NoticesEachMountAndUnmountOnce)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(watchOwnMounts());
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kNoPrivateMounts)
        GTEST_SKIP() << "no private mount namespace can be made here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed step";
}

}  // namespace
