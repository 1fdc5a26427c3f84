// Device location's readers of host files: the mount table (as
// /proc/self/mountinfo gives it) with the block device behind each volume,
// and the token serial in a USB serial-number string from sysfs.
#include "kvflashWrapper/linuxDeviceTree.h"
#include "kvflashWrapper/tokenSerial.h"

#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

// A mount table file and an empty sysfs of this process's own.
DeviceTree fixtureTree()
{
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("kvdiag-fuzz-device-" + std::to_string(getpid()));
    std::filesystem::create_directories(root / "sys");
    return {root / "sys", root / "mountinfo"};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static const DeviceTree tree = fixtureTree();
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    std::ofstream(tree.mountInfo, std::ios::binary | std::ios::trunc) << text;
    for (const std::filesystem::path& volume : mountedVolumes(tree)) {
        try {
            blockDeviceOf(volume, tree);
        } catch (const std::system_error&) {
            // not mounted from a block device this sysfs knows
        }
    }
    try {
        serialFromUsbString(text);
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    }
    return 0;
}
