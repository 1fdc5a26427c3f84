#include "kvflashWrapper/linuxDeviceTree.h"

#include <boost/throw_exception.hpp>

#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// sysfs attributes are a few bytes; anything longer is not one.
constexpr std::streamsize kMaxAttributeLength = 4096;

bool isOctalDigit(char c) { return c >= '0' && c <= '7'; }

// The kernel writes blanks, tabs, newlines and backslashes of mount points
// as a backslash and three octal digits ("\040" for a blank).
std::string decodeMountField(std::string_view field)
{
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctalDigit(field[i + 1]) &&
            isOctalDigit(field[i + 2]) && isOctalDigit(field[i + 3])) {
            text += static_cast<char>((field[i + 1] - '0') << 6 | (field[i + 2] - '0') << 3 | (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

// Mount point -> "major:minor" of the mounted file system. A mount point
// mounted over again shows the last mount, the one on top.
std::map<std::string, std::string> mountTable(const DeviceTree& tree)
{
    std::ifstream in(tree.mountInfo);
    if (!in.is_open())
        BOOST_THROW_EXCEPTION(std::system_error(errno, std::generic_category(), tree.mountInfo.string()));
    std::map<std::string, std::string> table;
    std::string line;
    while (std::getline(in, line)) {
        // mount id, parent id, major:minor, root within the file system, mount point, ...
        std::istringstream fields(line);
        std::string mountId, parentId, deviceNumber, root, mountPoint;
        if (fields >> mountId >> parentId >> deviceNumber >> root >> mountPoint)
            table[decodeMountField(mountPoint)] = deviceNumber;
    }
    if (in.bad())
        BOOST_THROW_EXCEPTION(std::system_error(EIO, std::generic_category(), tree.mountInfo.string()));
    return table;
}

// "major:minor" in decimal, nothing else: the name of a link in sysfs dev/block.
bool isDeviceNumber(std::string_view text)
{
    const size_t colon = text.find(':');
    const auto allDigits = [](std::string_view part) {
        return !part.empty() && part.find_first_not_of("0123456789") == std::string_view::npos;
    };
    return colon != std::string_view::npos && allDigits(text.substr(0, colon)) && allDigits(text.substr(colon + 1));
}

std::optional<UsbDevice> usbDeviceAt(const fs::path& directory)
{
    std::optional<std::string> vendor = readAttribute(directory / "idVendor");
    std::optional<std::string> product = readAttribute(directory / "idProduct");
    if (!vendor || !product)
        return std::nullopt;
    return UsbDevice{directory, std::move(*vendor), std::move(*product)};
}

}  // namespace

std::vector<fs::path> mountedVolumes(const DeviceTree& tree)
{
    std::vector<fs::path> volumes;
    for (const auto& [mountPoint, deviceNumber] : mountTable(tree))
        volumes.emplace_back(mountPoint);
    return volumes;
}

fs::path blockDeviceOf(const fs::path& volume, const DeviceTree& tree)
{
    const std::map<std::string, std::string> table = mountTable(tree);
    const auto mount = table.find(volume.string());
    if (mount == table.end())
        BOOST_THROW_EXCEPTION(std::system_error(ENOENT, std::generic_category(), volume.string()));
    // Pseudo file systems have device numbers that sysfs does not list as block devices.
    std::error_code error;
    fs::path device;
    if (isDeviceNumber(mount->second))
        device = fs::canonical(tree.sysfsRoot / "dev" / "block" / mount->second, error);
    if (device.empty() || error)
        BOOST_THROW_EXCEPTION(std::system_error(ENOTBLK, std::generic_category(), volume.string()));
    return device;
}

fs::path diskOf(const fs::path& blockDevice)
{
    return fs::exists(blockDevice / "partition") ? blockDevice.parent_path() : blockDevice;
}

std::optional<UsbDevice> usbDeviceAbove(const fs::path& device, const DeviceTree& tree,
                                        const std::function<bool(const UsbDevice&)>& accept)
{
    std::error_code error;
    fs::path top = fs::canonical(tree.sysfsRoot, error);
    if (error)
        top = tree.sysfsRoot;
    for (fs::path directory = device.parent_path(); directory != top && directory != directory.parent_path();
         directory = directory.parent_path()) {
        if (std::optional<UsbDevice> usb = usbDeviceAt(directory); usb && accept(*usb))
            return usb;
    }
    return std::nullopt;
}

std::optional<std::string> readAttribute(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open())
        return std::nullopt;
    std::string text(kMaxAttributeLength, '\0');
    in.read(text.data(), kMaxAttributeLength);
    if (in.bad())
        return std::nullopt;
    text.resize(static_cast<size_t>(in.gcount()));
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}
