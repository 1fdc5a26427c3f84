#include "utils/mountTableWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <thread>

namespace kelvane::utils {

namespace {

// The kernel marks this file with POLLPRI and POLLERR when a mount or an
// unmount happened since the descriptor last saw the table.
constexpr char kMountTable[] = "/proc/self/mountinfo";

}  // namespace

MountTableWatch::MountTableWatch() : fd_(open(kMountTable, O_RDONLY | O_CLOEXEC)) {}

MountTableWatch::~MountTableWatch()
{
    if (fd_ >= 0)
        close(fd_);
}

bool MountTableWatch::waitForChange(std::chrono::milliseconds atMost)
{
    if (fd_ < 0) {
        std::this_thread::sleep_for(atMost);
        return false;
    }
    pollfd watched{fd_, POLLPRI, 0};
    const int ready = poll(&watched, 1, static_cast<int>(atMost.count()));
    return ready > 0 && (watched.revents & (POLLPRI | POLLERR));
}

}  // namespace kelvane::utils
