#include "kvflashWrapper/tokenSerial.h"

#include <boost/throw_exception.hpp>

#include <array>
#include <stdexcept>

namespace {

constexpr std::string_view kTokenVendorId = "1d7b";
constexpr std::string_view kTokenProductId = "0030";

// Indexed by the result code.
constexpr std::array<std::string_view, 0x3C> kConfigRetNames = {
    "CR_SUCCESS",
    "CR_DEFAULT",
    "CR_OUT_OF_MEMORY",
    "CR_INVALID_POINTER",
    "CR_INVALID_FLAG",
    "CR_INVALID_DEVINST(NODE)",
    "CR_INVALID_RES_DES",
    "CR_INVALID_LOG_CONF",
    "CR_INVALID_ARBITRATOR",
    "CR_INVALID_NODELIST",
    "CR_DEVINST(NODE)_HAS_REQS",
    "CR_INVALID_RESOURCEID",
    "CR_DLVXD_NOT_FOUND",
    "CR_NO_SUCH_DEVINST(NODE)",
    "CR_NO_MORE_LOG_CONF",
    "CR_NO_MORE_RES_DES",
    "CR_ALREADY_SUCH_DEVINST(NODE)",
    "CR_INVALID_RANGE_LIST",
    "CR_INVALID_RANGE",
    "CR_FAILURE",
    "CR_NO_SUCH_LOGICAL_DEV",
    "CR_CREATE_BLOCKED",
    "CR_NOT_SYSTEM_VM",
    "CR_REMOVE_VETOED",
    "CR_APM_VETOED",
    "CR_INVALID_LOAD_TYPE",
    "CR_BUFFER_SMALL",
    "CR_NO_ARBITRATOR",
    "CR_NO_REGISTRY_HANDLE",
    "CR_REGISTRY_ERROR",
    "CR_INVALID_DEVICE_ID",
    "CR_INVALID_DATA",
    "CR_INVALID_API",
    "CR_DEVLOADER_NOT_READY",
    "CR_NEED_RESTART",
    "CR_NO_MORE_HW_PROFILES",
    "CR_DEVICE_NOT_THERE",
    "CR_NO_SUCH_VALUE",
    "CR_WRONG_TYPE",
    "CR_INVALID_PRIORITY",
    "CR_NOT_DISABLEABLE",
    "CR_FREE_RESOURCES",
    "CR_QUERY_VETOED",
    "CR_CANT_SHARE_IRQ",
    "CR_NO_DEPENDENT",
    "CR_SAME_RESOURCES",
    "CR_NO_SUCH_REGISTRY_KEY",
    "CR_INVALID_MACHINENAME",
    "CR_REMOTE_COMM_FAILURE",
    "CR_MACHINE_UNAVAILABLE",
    "CR_NO_CM_SERVICES",
    "CR_ACCESS_DENIED",
    "CR_CALL_NOT_IMPLEMENTED",
    "CR_INVALID_PROPERTY",
    "CR_DEVICE_INTERFACE_ACTIVE",
    "CR_NO_SUCH_DEVICE_INTERFACE",
    "CR_INVALID_REFERENCE_STRING",
    "CR_INVALID_CONFLICT_LIST",
    "CR_INVALID_INDEX",
    "CR_INVALID_STRUCTURE_SIZE",
};

}  // namespace

std::string_view configRetName(uint32_t code)
{
    return code < kConfigRetNames.size() ? kConfigRetNames[code] : "UNKNOWN_CONFIGRET";
}

bool isTokenUsbDevice(const UsbDevice& device)
{
    return device.vendorId == kTokenVendorId && device.productId == kTokenProductId;
}

uint64_t serialFromUsbString(const std::string& text)
{
    constexpr int kHexadecimal = 16;
    try {
        return std::stoull(text, nullptr, kHexadecimal);
    } catch (const std::invalid_argument&) {
        BOOST_THROW_EXCEPTION(std::invalid_argument("invalid stoull argument"));
    } catch (const std::out_of_range&) {
        BOOST_THROW_EXCEPTION(std::out_of_range("stoull argument out of range"));
    }
}
