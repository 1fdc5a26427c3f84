#pragma once

#include <chrono>
#include <filesystem>

namespace kelvane::utils {

// Notices changes of the mount table: a drive mounted or unmounted. Changes
// count from the watch's creation on, so one made before a drive is looked
// for misses none that happen between a look and the next wait.
class MountTableWatch {
public:
    // The table of this process's mount namespace.
    MountTableWatch();
    ~MountTableWatch();
    MountTableWatch(const MountTableWatch&) = delete;
    MountTableWatch& operator=(const MountTableWatch&) = delete;

    // Returns as soon as the table has changed since the last wait (true), or
    // after atMost without a change (false). A table that cannot be watched
    // makes every wait last atMost.
    bool waitForChange(std::chrono::milliseconds atMost);

private:
    int fd_;
};

}  // namespace kelvane::utils
