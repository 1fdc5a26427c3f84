#include "hostFixture.h"
#include "kvflashWrapper/tokenSerial.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

const char kVolume[] = "/media/kv/JOURNAL";

struct SerialCase {
    const char* name;
    std::optional<std::string> serialString;  // none: the device has no serial string
    uint64_t serial;                          // when error is empty
    std::string error;
};

const SerialCase kSerialCases[] = {
    {"CafeBabe", "00000000CAFEBABE", 3405691582, ""},
    {"BlanksAndPrefix", "  0x00000000cafebabe", 0xCAFEBABE, ""},
    {"StopsAtTheFirstOtherCharacter", "CAFEBABE-01", 0xCAFEBABE, ""},
    {"Largest", "FFFFFFFFFFFFFFFF", std::numeric_limits<uint64_t>::max(), ""},
    {"NotHexadecimal", "TOKEN", 0, "invalid_argument: invalid stoull argument"},
    {"Empty", "", 0, "invalid_argument: invalid stoull argument"},
    {"TooLarge", "1FFFFFFFFFFFFFFFF", 0, "out_of_range: stoull argument out of range"},
    {"NoSerialString", std::nullopt, 0, "Runtime: getSerialIndex returned 0"},
};

class SerialString : public testing::TestWithParam<SerialCase> {};

TEST_P(SerialString, IsTheTokenSerialOfItsVolumes)
{
    HostFixture host;
    const std::filesystem::path token = host.addUsbDevice(2, "1d7b", "0030", GetParam().serialString);
    const std::filesystem::path disk = host.addDisk(HostFixture::storageHostOf(token), 0, "Journal 2", "sdb", "8:16");
    host.addPartition(disk, "sdb1", "8:17");
    host.mount("8:16", "/media/kv/WHOLE");
    host.mount("8:17", kVolume);

    for (const char* volume : {"/media/kv/WHOLE", kVolume}) {
        uint64_t serial = 0;
        EXPECT_EQ(lookupError([&] { serial = tokenSerialFromPath(volume, host.tree()); }), GetParam().error) << volume;
        if (GetParam().error.empty()) {
            EXPECT_EQ(serial, GetParam().serial) << volume;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Strings, SerialString, testing::ValuesIn(kSerialCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct ForeignDevice {
    const char* name;
    const char* vendorId;
    const char* productId;
};

class ForeignUsbDevice : public testing::TestWithParam<ForeignDevice> {};

// The walk passes the stick and the root hub (both USB devices with serials) and finds no token.
TEST_P(ForeignUsbDevice, HasNoTokenAboveIt)
{
    HostFixture host;
    const std::filesystem::path stick = host.addUsbDevice(1, GetParam().vendorId, GetParam().productId, "4C530001");
    host.addMountedDisk(HostFixture::storageHostOf(stick), 0, "Cruzer 2", "sdb", "8:16", "/media/stick");

    EXPECT_EQ(lookupError([&] { tokenSerialFromPath("/media/stick", host.tree()); }),
              "Runtime: Parent device with interface GUID {a5dcbf10-6530-11d2-901f-00c04fb951ed} not found");
}

INSTANTIATE_TEST_SUITE_P(Devices, ForeignUsbDevice,
                         testing::Values(ForeignDevice{"AnotherMaker", "0781", "5581"},
                                         ForeignDevice{"AnotherProductOfTheMaker", "1d7b", "0031"},
                                         ForeignDevice{"ProductAndVendorSwapped", "0030", "1d7b"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TokenSerialFromPath, VolumesOffABlockDeviceAreSystemErrors)
{
    HostFixture host;
    host.mount("0:41", "/media/tmp");
    host.mount("8:99", "/media/gone");  // a device no longer in sysfs

    EXPECT_EQ(lookupError([&] { tokenSerialFromPath("/media/none", host.tree()); }),
              "system_error: No such file or directory");
    for (const char* volume : {"/proc", "/media/tmp", "/media/gone"})
        EXPECT_EQ(lookupError([&] { tokenSerialFromPath(volume, host.tree()); }),
                  "system_error: Block device required")
            << volume;
}

TEST(ConfigRetName, NamesTheDefinedCodesOnly)
{
    const std::pair<uint32_t, std::string_view> cases[] = {
        {0x00, "CR_SUCCESS"},
        {0x0D, "CR_NO_SUCH_DEVINST(NODE)"},
        {0x1A, "CR_BUFFER_SMALL"},
        {0x3B, "CR_INVALID_STRUCTURE_SIZE"},
        {0x3C, "UNKNOWN_CONFIGRET"},
        {0xFFFFFFFF, "UNKNOWN_CONFIGRET"},
    };
    for (auto [code, name] : cases)
        EXPECT_EQ(configRetName(code), name) << code;
}

}  // namespace
