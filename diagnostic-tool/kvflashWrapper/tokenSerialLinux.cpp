#include "kvflashWrapper/kvdExceptions.h"
#include "kvflashWrapper/tokenSerial.h"

#include <boost/throw_exception.hpp>

#include <string>

namespace {

// The device interface class of USB devices, named in the lookup's failure
// as the host's device manager names it.
constexpr std::string_view kUsbDeviceInterfaceClass = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

}  // namespace

uint64_t tokenSerialFromPath(const std::filesystem::path& volume, const DeviceTree& tree)
{
    const std::optional<UsbDevice> token = usbDeviceAbove(blockDeviceOf(volume, tree), tree, isTokenUsbDevice);
    if (!token)
        BOOST_THROW_EXCEPTION(kvd::except::Runtime("Parent device with interface GUID " +
                                                   std::string(kUsbDeviceInterfaceClass) + " not found"));
    // sysfs shows the serial-number string only when the device has one.
    const std::optional<std::string> serial = readAttribute(token->directory / "serial");
    if (!serial)
        BOOST_THROW_EXCEPTION(kvd::except::Runtime("getSerialIndex returned 0"));
    return serialFromUsbString(*serial);
}
