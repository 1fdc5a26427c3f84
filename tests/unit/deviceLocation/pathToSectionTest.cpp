#include "hostFixture.h"
#include "kvflashWrapper/pathToSection.h"
#include "scriptedPcsc.h"

#include <gtest/gtest.h>

#include <boost/exception/get_error_info.hpp>
#include <boost/throw_exception.hpp>

namespace {

namespace fs = std::filesystem;

const char kTokenSerialString[] = "00000000CAFEBABE";

// The token under diagnosis, serial 0xCAFEBABE, with its flash function on port 1-4.
class PathToSectionTest : public testing::Test {
protected:
    // A section of the token, mounted whole.
    void mountSection(int lun, const std::string& model, const std::string& deviceNumber, const std::string& mountPoint)
    {
        host.addMountedDisk(tokenHost, lun, model, "sd" + std::to_string(lun), deviceNumber, mountPoint);
    }

    fs::path sectionPath(uint8_t sectionId) { return path(token, sectionId, host.tree()); }
    std::string sectionError(uint8_t sectionId)
    {
        return lookupError([&] { path(token, sectionId, host.tree()); });
    }

    HostFixture host;
    ScriptedPcsc pcsc;
    ScriptedCard& card = pcsc.addReader("Reader", hexBytes("3B 04 4B 76 53 43"))
                             .on("00 CA 01 89", "01 03 08 EE 10 EE 80 1B 05 02 EE EE 90 00")
                             .on("00 CA 01 81", "00 00 00 00 CA FE BA BE 90 00");
    Token token{std::make_shared<Scard>(pcsc, "Reader"), pcsc.flash};
    fs::path tokenHost = HostFixture::storageHostOf(host.addUsbDevice(4, "1d7b", "0030", kTokenSerialString));
};

TEST_F(PathToSectionTest, SataDiskBesideTheJournalSectionIsSkipped)
{
    const fs::path sata = host.addDisk(HostFixture::sataHost(), 0, "Samsung SSD 870", "sda", "8:0");
    host.addPartition(sata, "sda1", "8:1");
    host.mount("8:1", "/");
    mountSection(0, "Journal 2", "8:16", "/media/kv/JOURNAL");

    EXPECT_EQ(sectionPath(2), "/media/kv/JOURNAL");
    EXPECT_EQ(lookupError([&] { getDeviceSerialNumber("/", host.tree()); }), "Runtime: / not a usb device");
    const StorageDeviceDescriptor disk = getStorageDeviceDescriptor("/", host.tree());
    EXPECT_EQ(disk.busType, BusType::Other);
    EXPECT_EQ(disk.productId, "Samsung SSD 870");
    const StorageDeviceDescriptor section = getStorageDeviceDescriptor("/media/kv/JOURNAL", host.tree());
    EXPECT_EQ(section.busType, BusType::Usb);
    EXPECT_EQ(section.productId, "Journal 2");
    EXPECT_EQ(getDeviceSerialNumber("/media/kv/JOURNAL", host.tree()), 0xCAFEBABE);
}

class TwoSections : public PathToSectionTest, public testing::WithParamInterface<bool> {};

TEST_P(TwoSections, EachIsFoundWhateverTheOrderOfTheVolumes)
{
    const bool journalFirst = GetParam();
    const std::string journal = journalFirst ? "/media/kv/A" : "/media/kv/B";
    const std::string ordinary = journalFirst ? "/media/kv/B" : "/media/kv/A";
    // The mount table lists them in the other order than their names sort.
    mountSection(0, "Section 1", "8:16", ordinary);
    mountSection(1, "Journal 2", "8:32", journal);

    EXPECT_EQ(sectionPath(2), journal);
    EXPECT_EQ(sectionPath(1), ordinary);
    EXPECT_EQ(sectionError(3), "runtime_error: Section id = 3 not found.");
}

INSTANTIATE_TEST_SUITE_P(Orders, TwoSections, testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "JournalFirst" : "JournalLast"); });

struct ProductIdCase {
    const char* name;
    const char* productId;
    uint8_t section;  // the section the token's volume is taken for
};

const ProductIdCase kProductIds[] = {
    {"WordAndNumber", "word 2", 2},
    {"NumberFollowedByLetter", "word 2a", 2},
    {"SingleWord", "word", 0},
    {"NumberAbove255", "word 300", 0},
    {"LargestNumber", "word 255", 255},
    {"NoDigitAfterTheBlank", "word x2", 0},
};

class ProductIdentifier : public PathToSectionTest, public testing::WithParamInterface<ProductIdCase> {};

TEST_P(ProductIdentifier, NamesTheSection)
{
    mountSection(0, GetParam().productId, "8:16", "/media/kv/SECTION");
    const uint8_t otherSection = GetParam().section == 2 ? 1 : 2;

    EXPECT_EQ(sectionPath(GetParam().section), "/media/kv/SECTION");
    EXPECT_EQ(sectionError(otherSection),
              "runtime_error: Section id = " + std::to_string(otherSection) + " not found.");
}

INSTANTIATE_TEST_SUITE_P(Forms, ProductIdentifier, testing::ValuesIn(kProductIds),
                         [](const auto& info) { return std::string(info.param.name); });

struct MountPointCase {
    const char* name;
    const char* mountTableField;
    const char* mountPoint;
};

const MountPointCase kMountPoints[] = {
    {"Blank", "/media/user/KV\\0402", "/media/user/KV 2"},
    {"TabAndBackslash", "/media/user/a\\011b\\134c", "/media/user/a\tb\\c"},
    {"NotAnEscape", "/media/user/KV\\08", "/media/user/KV\\08"},
    {"EscapeCutShort", "/media/user/KV\\04", "/media/user/KV\\04"},
};

class EscapedMountPoint : public PathToSectionTest, public testing::WithParamInterface<MountPointCase> {};

TEST_P(EscapedMountPoint, IsReturnedDecoded)
{
    mountSection(0, "Journal 2", "8:16", GetParam().mountTableField);

    EXPECT_EQ(mountedVolumes(host.tree()), (std::vector<fs::path>{GetParam().mountPoint, "/proc", "/sys"}));
    EXPECT_EQ(sectionPath(2), GetParam().mountPoint);
}

INSTANTIATE_TEST_SUITE_P(Fields, EscapedMountPoint, testing::ValuesIn(kMountPoints),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PathToSectionTest, VolumesOfOtherDevicesNamingTheSectionAreSkipped)
{
    const fs::path stick = host.addUsbDevice(1, "0781", "5581", "4C530001");
    host.addMountedDisk(HostFixture::storageHostOf(stick), 0, "Cruzer 2", "sdb", "8:16", "/media/a-stick");
    const fs::path otherToken = host.addUsbDevice(2, "1d7b", "0030", "00000000DEADBEEF");
    host.addMountedDisk(HostFixture::storageHostOf(otherToken), 0, "Journal 2", "sdc", "8:32", "/media/b-token");
    const fs::path noSerial = host.addUsbDevice(3, "1d7b", "0030", std::nullopt);
    host.addMountedDisk(HostFixture::storageHostOf(noSerial), 0, "Journal 2", "sdd", "8:48", "/media/c-token");

    EXPECT_EQ(sectionError(2), "runtime_error: Section id = 2 not found.");

    mountSection(0, "Journal 2", "8:64", "/media/d-ours");
    EXPECT_EQ(sectionPath(2), "/media/d-ours");
}

TEST_F(PathToSectionTest, VolumeMountedOverIsTriedOnceAsItsTopMount)
{
    mountSection(0, "Journal 2", "8:16", "/media/kv");
    mountSection(1, "Section 1", "8:32", "/media/kv");

    EXPECT_EQ(mountedVolumes(host.tree()), (std::vector<fs::path>{"/media/kv", "/proc", "/sys"}));
    EXPECT_EQ(sectionPath(1), "/media/kv");
    EXPECT_EQ(sectionError(2), "runtime_error: Section id = 2 not found.");
}

TEST_F(PathToSectionTest, SectionMountedTwiceGivesTheFirstMountPointInByteOrder)
{
    mountSection(0, "Journal 2", "8:16", "/media/kv/b");
    host.mount("8:16", "/media/kv/a");  // the same file system, mounted again

    EXPECT_EQ(sectionPath(2), "/media/kv/a");
}

TEST_F(PathToSectionTest, MountTableThatCannotBeReadOrIsEmptyFailsTheLookup)
{
    const DeviceTree missing{host.tree().sysfsRoot, host.tree().mountInfo.parent_path() / "none"};
    EXPECT_EQ(lookupError([&] { path(token, 2, missing); }), "system_error: No such file or directory");
    const DeviceTree empty{host.tree().sysfsRoot, "/dev/null"};
    EXPECT_EQ(lookupError([&] { path(token, 2, empty); }), "system_error: No such file or directory");
}

// This machine has no token's section mounted: every volume is skipped quietly.
TEST_F(PathToSectionTest, OnThisMachineTheSectionIsNotFound)
{
    try {
        path(token, 2);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Section id = 2 not found.");
        const auto* site = dynamic_cast<const boost::exception*>(&error);
        ASSERT_NE(site, nullptr);
        ASSERT_NE(boost::get_error_info<boost::throw_function>(*site), nullptr);
        EXPECT_NE(std::string(*boost::get_error_info<boost::throw_function>(*site)).find("path("), std::string::npos);
    }
}

}  // namespace
