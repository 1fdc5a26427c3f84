#pragma once

#include "kvflashWrapper/linuxDeviceTree.h"
#include "pcscWrapper/token.h"

#include <cstdint>
#include <filesystem>
#include <string>

enum class BusType { Other, Usb };

// What the host reports of the storage device behind a volume.
struct StorageDeviceDescriptor {
    BusType busType = BusType::Other;
    // The device's product identifier; a token's flash names the section in it.
    std::string productId;
};

// Throws std::system_error when the drive is not a mounted block device.
StorageDeviceDescriptor getStorageDeviceDescriptor(const std::filesystem::path& drive, const DeviceTree& tree = {});

// The token serial of the USB device behind the drive. Throws
// kvd::except::Runtime "<drive> not a usb device" for a drive on another bus,
// and the errors of getStorageDeviceDescriptor and tokenSerialFromPath.
uint64_t getDeviceSerialNumber(const std::filesystem::path& drive, const DeviceTree& tree = {});

// The mount point of the token's section sectionId. Volumes that are not the
// token's are skipped; throws std::runtime_error "Section id = N not found."
// when none of the token's volumes is that section.
std::filesystem::path path(const Token& token, uint8_t sectionId, const DeviceTree& tree = {});
