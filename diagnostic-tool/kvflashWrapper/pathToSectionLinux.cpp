#include "kvflashWrapper/pathToSection.h"

namespace {

// The model attribute is the SCSI product identification, padded with blanks.
std::string withoutTrailingBlanks(std::string text)
{
    text.erase(text.find_last_not_of(" \t\n") + 1);
    return text;
}

bool hasUsbDeviceAbove(const std::filesystem::path& device, const DeviceTree& tree)
{
    return usbDeviceAbove(device, tree, [](const UsbDevice&) { return true; }).has_value();
}

}  // namespace

StorageDeviceDescriptor getStorageDeviceDescriptor(const std::filesystem::path& drive, const DeviceTree& tree)
{
    const std::filesystem::path device = blockDeviceOf(drive, tree);
    StorageDeviceDescriptor descriptor;
    descriptor.busType = hasUsbDeviceAbove(device, tree) ? BusType::Usb : BusType::Other;
    descriptor.productId = withoutTrailingBlanks(readAttribute(diskOf(device) / "device" / "model").value_or(""));
    return descriptor;
}
