#pragma once

#include "kvflashWrapper/linuxDeviceTree.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// The configuration manager's name of one of its result codes;
// "UNKNOWN_CONFIGRET" for a code it does not define.
std::string_view configRetName(uint32_t code);

// The USB device of a token's flash function: the maker's vendor 1d7b and the
// product number of its mass-storage function, 0030.
bool isTokenUsbDevice(const UsbDevice& device);

// The token serial in a USB serial-number string, read as hexadecimal the way
// the C library's strtoull with base 16 reads it (leading blanks, a sign and
// "0x" accepted, stops at the first other character). Throws
// std::invalid_argument "invalid stoull argument" when there are no digits and
// std::out_of_range "stoull argument out of range" when it exceeds 64 bits.
uint64_t serialFromUsbString(const std::string& text);

// The serial of the token whose flash section is mounted at volume: the
// serial-number string of the token's USB device above the volume's disk.
// Throws kvd::except::Runtime when no token device is above the disk or it
// has no serial string, std::system_error when the volume is not on a block
// device, and the errors of serialFromUsbString.
uint64_t tokenSerialFromPath(const std::filesystem::path& volume, const DeviceTree& tree = {});
