#include "hostFixture.h"

#include "kvflashWrapper/kvdExceptions.h"

#include <boost/exception/get_error_info.hpp>
#include <boost/throw_exception.hpp>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const fs::path kRootHub = "devices/pci0000:00/0000:00:14.0/usb1";
constexpr size_t kModelWidth = 16;

void append(const fs::path& file, const std::string& text)
{
    std::ofstream(file, std::ios::app) << text;
}

std::string withThrowSite(const std::exception& error, const std::string& text)
{
    const auto* site = dynamic_cast<const boost::exception*>(&error);
    return site && boost::get_error_info<boost::throw_function>(*site) ? text : text + " (no throw site)";
}

}  // namespace

std::string lookupError(const std::function<void()>& lookup)
{
    try {
        lookup();
    } catch (const kvd::except::Runtime& e) {
        return withThrowSite(e, std::string("Runtime: ") + e.what());
    } catch (const std::system_error& e) {
        return withThrowSite(e, "system_error: " + e.code().message());
    } catch (const std::invalid_argument& e) {
        return withThrowSite(e, std::string("invalid_argument: ") + e.what());
    } catch (const std::out_of_range& e) {
        return withThrowSite(e, std::string("out_of_range: ") + e.what());
    } catch (const std::runtime_error& e) {
        return withThrowSite(e, std::string("runtime_error: ") + e.what());
    }
    return "";
}

HostFixture::HostFixture()
{
    tree_.sysfsRoot = dir_.path() / "sys";
    tree_.mountInfo = dir_.path() / "mountinfo";
    fs::create_directories(tree_.sysfsRoot / "dev" / "block");
    fs::create_directories(tree_.sysfsRoot / kRootHub);
    // The root hub is a USB device too, of another vendor, and has a serial.
    writeAttribute(kRootHub, "idVendor", "1d6b");
    writeAttribute(kRootHub, "idProduct", "0002");
    writeAttribute(kRootHub, "serial", "0000:00:14.0");
    append(tree_.mountInfo, "22 28 0:21 / /proc rw,relatime - proc proc rw\n"
                            "23 28 0:22 / /sys rw,relatime - sysfs sysfs rw\n");
}

fs::path HostFixture::sataHost() { return "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0"; }

fs::path HostFixture::addUsbDevice(int port, const std::string& vendorId, const std::string& productId,
                                   const std::optional<std::string>& serial)
{
    const fs::path device = kRootHub / ("1-" + std::to_string(port));
    fs::create_directories(tree_.sysfsRoot / device);
    writeAttribute(device, "idVendor", vendorId);
    writeAttribute(device, "idProduct", productId);
    if (serial)
        writeAttribute(device, "serial", *serial);
    return device;
}

fs::path HostFixture::storageHostOf(const fs::path& usbDevice)
{
    return usbDevice / (usbDevice.filename().string() + ":1.0") / "host3" / "target3:0:0";
}

fs::path HostFixture::addDisk(const fs::path& host, int lun, const std::string& model, const std::string& name,
                              const std::string& deviceNumber)
{
    const fs::path scsiDevice = host / ("3:0:0:" + std::to_string(lun));
    fs::create_directories(tree_.sysfsRoot / scsiDevice);
    writeAttribute(scsiDevice, "model", model + std::string(kModelWidth - std::min(kModelWidth, model.size()), ' '));
    const fs::path disk = scsiDevice / "block" / name;
    addBlockDevice(disk, deviceNumber);
    fs::create_directory_symlink(fs::path("../../..") / scsiDevice.filename(), tree_.sysfsRoot / disk / "device");
    return disk;
}

fs::path HostFixture::addPartition(const fs::path& disk, const std::string& name, const std::string& deviceNumber)
{
    const fs::path partition = disk / name;
    addBlockDevice(partition, deviceNumber);
    writeAttribute(partition, "partition", "1");
    return partition;
}

void HostFixture::mount(const std::string& deviceNumber, const std::string& mountPointField)
{
    append(tree_.mountInfo, std::to_string(nextMountId_++) + " 28 " + deviceNumber + " / " + mountPointField +
                                " rw,relatime - vfat /dev/sdx rw\n");
}

void HostFixture::addMountedDisk(const fs::path& host, int lun, const std::string& model, const std::string& name,
                                 const std::string& deviceNumber, const std::string& mountPointField)
{
    addDisk(host, lun, model, name, deviceNumber);
    mount(deviceNumber, mountPointField);
}

void HostFixture::addBlockDevice(const fs::path& device, const std::string& deviceNumber)
{
    fs::create_directories(tree_.sysfsRoot / device);
    writeAttribute(device, "dev", deviceNumber);
    // As in sysfs: dev/block/<major:minor> links to the device, relative to dev/block.
    fs::create_directory_symlink("../.." / device, tree_.sysfsRoot / "dev" / "block" / deviceNumber);
}

void HostFixture::writeAttribute(const fs::path& device, const std::string& name, const std::string& value)
{
    std::ofstream(tree_.sysfsRoot / device / name) << value << '\n';
}
