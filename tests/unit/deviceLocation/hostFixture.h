#pragma once

#include "kvflashWrapper/linuxDeviceTree.h"
#include "process.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

// What a lookup throws, as "<kind>: <message>" ("Runtime: getSerialIndex
// returned 0"); empty when it throws nothing. Every error of the lookup
// carries its throw site; one without it reads "... (no throw site)".
std::string lookupError(const std::function<void()>& lookup);

// A host's sysfs and mount table, built in a temporary directory. Device
// paths are relative to the sysfs root, as the kernel's links are. The
// mount table starts with /proc and /sys, which are on no block device.
class HostFixture {
public:
    HostFixture();

    const DeviceTree& tree() const { return tree_; }

    // The SATA controller's SCSI host, parent of its disks.
    static std::filesystem::path sataHost();
    // A USB device on port 1-<port> of the root hub; serial none: the device has no serial string.
    std::filesystem::path addUsbDevice(int port, const std::string& vendorId, const std::string& productId,
                                       const std::optional<std::string>& serial);
    // The SCSI host of a USB device's mass-storage interface.
    static std::filesystem::path storageHostOf(const std::filesystem::path& usbDevice);
    // A disk with its SCSI product identification (padded to 16 characters as
    // the kernel shows it); lun tells the disks of one host apart.
    std::filesystem::path addDisk(const std::filesystem::path& host, int lun, const std::string& model,
                                  const std::string& name, const std::string& deviceNumber);
    std::filesystem::path addPartition(const std::filesystem::path& disk, const std::string& name,
                                       const std::string& deviceNumber);
    // A mount table line; the mount point is written as it stands, so tests give the kernel's escapes.
    void mount(const std::string& deviceNumber, const std::string& mountPointField);
    // A disk with a file system on the whole of it, mounted.
    void addMountedDisk(const std::filesystem::path& host, int lun, const std::string& model, const std::string& name,
                        const std::string& deviceNumber, const std::string& mountPointField);

private:
    void addBlockDevice(const std::filesystem::path& device, const std::string& deviceNumber);
    void writeAttribute(const std::filesystem::path& device, const std::string& name, const std::string& value);

    TempDir dir_;
    DeviceTree tree_;
    int nextMountId_ = 30;
};
