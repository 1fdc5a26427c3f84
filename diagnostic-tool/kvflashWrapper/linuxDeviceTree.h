#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Where the host's devices and mounted volumes are read; tests point both
// at a fixture tree.
struct DeviceTree {
    std::filesystem::path sysfsRoot = "/sys";
    std::filesystem::path mountInfo = "/proc/self/mountinfo";
};

// A USB device in sysfs: the directory that holds idVendor and idProduct.
struct UsbDevice {
    std::filesystem::path directory;
    std::string vendorId;   // lower-case hex, "1d7b"
    std::string productId;  // lower-case hex, "0030"
};

// The mount points of the mount table, decoded, each once, in byte order:
// the volumes are always tried in the same order.
std::vector<std::filesystem::path> mountedVolumes(const DeviceTree& tree);

// The sysfs directory of the block device (disk or partition) that holds the
// volume. Throws std::system_error: ENOENT when nothing is mounted there,
// ENOTBLK when the volume does not live on a block device.
std::filesystem::path blockDeviceOf(const std::filesystem::path& volume, const DeviceTree& tree);

// The whole disk of a block device: itself, or the disk that holds a partition.
std::filesystem::path diskOf(const std::filesystem::path& blockDevice);

// The nearest USB device above the device that accept takes, if any.
std::optional<UsbDevice> usbDeviceAbove(const std::filesystem::path& device, const DeviceTree& tree,
                                        const std::function<bool(const UsbDevice&)>& accept);

// A sysfs attribute's text without its trailing newline; none when it cannot be read.
std::optional<std::string> readAttribute(const std::filesystem::path& file);
