// The journal events section's drive: the journal appears as files while the
// section is readable and goes when the switch ends.
#include "journalDrive.h"
#include "testCard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kvtoken::test {
namespace {

namespace fs = std::filesystem;

struct Cut {
    const char* name;
    const char* journal;
    size_t maxFileSize;
    std::vector<std::string> files;
};

std::string nameOf(const testing::TestParamInfo<Cut>& info)
{
    return info.param.name;
}

void PrintTo(const Cut& cut, std::ostream* out)
{
    *out << cut.name;
}

class JournalCuts : public testing::TestWithParam<Cut> {};

TEST_P(JournalCuts, FilesEndBetweenRecords)
{
    std::vector<std::string> files;
    for (const Bytes& file : journalFiles(parseHex(GetParam().journal), GetParam().maxFileSize))
        files.push_back(formatHex(file));
    EXPECT_EQ(files, GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(Journal, JournalCuts, testing::Values(
    Cut{"Empty", "", 8, {}},
    Cut{"AllInOne", "40 02 01 02 44 02 00 90", 8, {"40 02 01 02 44 02 00 90"}},
    Cut{"RecordsStayWhole", "40 02 01 02 44 02 00 90 48 02 00 90", 10, {"40 02 01 02 44 02 00 90", "48 02 00 90"}},
    Cut{"LargeRecordAlone", "44 02 00 90 4E 04 56 00 00 00 44 02 00 90", 4,
        {"44 02 00 90", "4E 04 56 00 00 00", "44 02 00 90"}},
    Cut{"RecordRunningPastTheEndStays", "44 02 00 90 4B 08 00 90", 4, {"44 02 00 90", "4B 08 00 90"}},
    Cut{"LoneTagAtTheEnd", "44 02 00 90 4B", 5, {"44 02 00 90 4B"}}), nameOf);

// A drive directory of a test's own, removed with the object.
class DriveDirectory {
public:
    DriveDirectory() : path_(fs::temp_directory_path() / ("kvtoken-drive-" + std::to_string(getpid())))
    {
        fs::create_directories(path_);
    }
    ~DriveDirectory() { fs::remove_all(path_); }

    const fs::path& path() const { return path_; }
    std::vector<std::string> names() const
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(path_))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }
    Bytes read(const std::string& name) const
    {
        std::ifstream in(path_ / name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    fs::path path_;
};

const char showJournal[] = "80 53 11 01 04 82 02 02 01";

class JournalDrive : public testing::Test {
protected:
    Card flashCard(size_t fileSize = 200)
    {
        return cardOver("mirel3-flash.json", R"("flash": {"journalDrive": ")" + drive.path().string() +
                                                 R"(", "journalFileSize": )" + std::to_string(fileSize) + "}");
    }

    DriveDirectory drive;
};

TEST_F(JournalDrive, ReadOnlySwitchWritesTheJournalInOrder)
{
    Card card = flashCard();
    EXPECT_TRUE(drive.names().empty());
    ASSERT_EQ(send(card, showJournal), "90 00");
    ASSERT_THAT(drive.names(), testing::ElementsAre("journal-0001.bin", "journal-0002.bin"));
    Bytes whole;
    for (const auto& name : drive.names()) {
        const Bytes file = drive.read(name);
        EXPECT_LE(file.size(), 200u);
        whole.insert(whole.end(), file.begin(), file.end());
    }
    EXPECT_EQ(whole, *loadProfile(bundled("mirel3-flash.json")).securityJournal);
}

TEST_F(JournalDrive, SwitchEndsWithThePowerAndTakesOnlyItsFiles)
{
    std::ofstream(drive.path() / "notes.txt") << "not the token's";
    Card card = flashCard();
    ASSERT_EQ(send(card, showJournal), "90 00");
    card.receive({0x02});  // a warm reset leaves the drive
    EXPECT_EQ(drive.names().size(), 3u);
    card.receive({0x00});
    EXPECT_THAT(drive.names(), testing::ElementsAre("notes.txt"));
    ASSERT_EQ(send(card, showJournal), "90 00");  // and it can be shown again
    card.unplug();
    EXPECT_THAT(drive.names(), testing::ElementsAre("notes.txt"));
}

TEST_F(JournalDrive, NothingIsWrittenWithoutTheJournalSectionOpen)
{
    Card card = flashCard();
    EXPECT_EQ(send(card, "80 53 11 02 04 82 02 02 01"), "69 85");
    EXPECT_EQ(send(card, "80 53 11 01 04 82 02 01 01"), "90 00");  // the ordinary section
    EXPECT_TRUE(drive.names().empty());
}

TEST_F(JournalDrive, ASmallFileSizeGivesOneFilePerRecord)
{
    Card card = flashCard(1);
    ASSERT_EQ(send(card, showJournal), "90 00");
    const auto names = drive.names();
    EXPECT_GT(names.size(), 9u);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
}

TEST(JournalDriveProfile, DriveMustBeADirectory)
{
    const TempProfile profile(R"({"base": ")" + bundled("mirel3-flash.json").string() +
                              R"(", "flash": {"journalDrive": "/nonexistent/drive"}})");
    try {
        loadProfile(profile.path());
        ADD_FAILURE() << "a missing drive directory was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), testing::HasSubstr("key 'flash': journalDrive '/nonexistent/drive' is not a directory"));
    }
}

}  // namespace
}  // namespace kvtoken::test
