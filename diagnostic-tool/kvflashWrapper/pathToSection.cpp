#include "kvflashWrapper/pathToSection.h"

#include "kvflashWrapper/kvdExceptions.h"
#include "kvflashWrapper/tokenSerial.h"

#include <boost/throw_exception.hpp>

#include <cerrno>
#include <exception>
#include <optional>
#include <string_view>
#include <system_error>

namespace {

constexpr unsigned kMaxSectionNumber = 255;

// The token names its section in the product identifier: the decimal digits
// right after the first blank ("Journal 2" is section 2). 0 when there are
// none or they do not fit a section number.
unsigned sectionNumberOf(std::string_view productId)
{
    const size_t blank = productId.find(' ');
    if (blank == std::string_view::npos)
        return 0;
    unsigned number = 0;
    for (char c : productId.substr(blank + 1)) {
        if (c < '0' || c > '9')
            break;
        number = number * 10 + static_cast<unsigned>(c - '0');
        if (number > kMaxSectionNumber)
            return 0;
    }
    return number;
}

// Whether the drive is on the token's flash. A drive whose serial cannot be
// looked up (not on USB, another maker's stick, no serial) is not the token's.
bool isTokenDrive(const Token& token, const std::filesystem::path& drive, const DeviceTree& tree)
{
    std::optional<uint64_t> serial;
    try {
        serial = getDeviceSerialNumber(drive, tree);
    } catch (const std::exception&) {
        return false;
    }
    return *serial == token.getSerial();
}

}  // namespace

uint64_t getDeviceSerialNumber(const std::filesystem::path& drive, const DeviceTree& tree)
{
    if (getStorageDeviceDescriptor(drive, tree).busType != BusType::Usb)
        BOOST_THROW_EXCEPTION(kvd::except::Runtime(drive.string() + " not a usb device"));
    return tokenSerialFromPath(drive, tree);
}

std::filesystem::path path(const Token& token, uint8_t sectionId, const DeviceTree& tree)
{
    const std::vector<std::filesystem::path> drives = mountedVolumes(tree);
    if (drives.empty())
        BOOST_THROW_EXCEPTION(std::system_error(ENOENT, std::generic_category(), "No mounted volumes"));
    for (const std::filesystem::path& drive : drives) {
        if (!isTokenDrive(token, drive, tree))
            continue;
        // Outside the guard: a drive of the token that cannot be read again is a real failure.
        if (sectionNumberOf(getStorageDeviceDescriptor(drive, tree).productId) == sectionId)
            return drive;
    }
    BOOST_THROW_EXCEPTION(std::runtime_error("Section id = " + std::to_string(sectionId) + " not found."));
}
