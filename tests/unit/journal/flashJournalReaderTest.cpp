#include "journal/flashJournalReader.h"
#include "journalTesting.h"
#include "scriptedPcsc.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <tuple>

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::MatchesRegex;

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kJournalSectionId = 2;
constexpr int kNeverMounted = -1;

const std::vector<std::string> kSupportedLines = {
    "", "  Проверка поддержки журнала СБ", "  -> Успешно", "    Журнал СБ поддерживается",
};
const std::vector<std::string> kNotSupportedLines = {
    "", "  Проверка поддержки журнала СБ", "  -> Успешно", "    Журнал СБ не поддерживается",
};

// A journal of one user-name record, and the text it decodes to.
Bytes userRecord(const std::string& name)
{
    Bytes journal{0xC1, static_cast<uint8_t>(name.size())};
    for (char c : name)
        journal.push_back(static_cast<uint8_t>(c));
    return journal;
}

std::string userRecordText(const std::string& name) { return "Имя пользователя в системе: " + name + "\n\n"; }

// What the token's flash does, as the test sets it up, and what the reader asked of it.
struct FlashScript {
    std::function<kvflash_Section()> journalSection = [] {
        kvflash_Section section{};
        section.id = kJournalSectionId;
        section.type = KVFLASH_SECTION_JOURNAL_EVENTS;
        return section;
    };
    std::function<void()> onSwitch = [] {};
    int failuresBeforeMount = 0;  // kNeverMounted: the volume never appears
    std::function<fs::path()> mountPoint;
    std::function<void()> pathFailure = [] { throw std::runtime_error("Section id = 2 not found."); };

    std::vector<std::tuple<uint8_t, kvflash_SectionAccessState, bool>> switches;
    std::vector<uint8_t> lookedUpSections;
};

class ScriptedFlash : public TokenFlashAccess {
public:
    explicit ScriptedFlash(FlashScript& script) : script_(script) {}

    kvflash_Section getJournalSection(Token&) override { return script_.journalSection(); }

    void changeAccessSectionRights(Token&, const kvflash_Section& section, kvflash_SectionAccessState state,
                                   bool permanent) override
    {
        script_.switches.emplace_back(section.id, state, permanent);
        script_.onSwitch();
    }

    fs::path path(const Token&, uint8_t sectionId) override
    {
        script_.lookedUpSections.push_back(sectionId);
        const int failures = static_cast<int>(script_.lookedUpSections.size()) - 1;
        if (script_.failuresBeforeMount == kNeverMounted || failures < script_.failuresBeforeMount)
            script_.pathFailure();
        return script_.mountPoint();
    }

private:
    FlashScript& script_;
};

// The mount table as the reader's waits see it, on the test's own clock: a
// wait ends at the next change within its time, else when its time is up.
struct MountTable {
    using Time = std::chrono::milliseconds;

    bool waitForChange(Time atMost)
    {
        waits.push_back(atMost);
        const Time end = now + atMost;
        if (nextChange < changes.size() && changes[nextChange] <= end) {
            now = std::max(now, changes[nextChange++]);
            return true;
        }
        now = end;
        return false;
    }

    Time now{0};
    std::vector<Time> changes;  // in time order
    size_t nextChange = 0;
    std::vector<Time> waits;  // the time each wait was given
};

class FlashJournalReaderTest : public JournalReportTest {
protected:
    FlashJournalReaderTest()
    {
        fs::create_directory(section);
        script.mountPoint = [this] { return section; };
    }

    void addJournalFile(const std::string& name, const Bytes& journal)
    {
        std::ofstream(section / name, std::ios::binary).write(reinterpret_cast<const char*>(journal.data()),
                                                              static_cast<std::streamsize>(journal.size()));
    }

    void readJournal()
    {
        FlashJournalReader reader(
            std::make_unique<ScriptedFlash>(script),
            [this](std::chrono::milliseconds atMost) { return mountTable.waitForChange(atMost); },
            [this] { return std::chrono::steady_clock::time_point(mountTable.now); },
            [this](uint64_t serial) {
                serialInPath = serial;
                return journalPath;
            });
        reader.readJournal([this] { ++failures; }, token, logger);
    }

    std::vector<std::string> linesAfterSupport() const
    {
        EXPECT_GE(lines().size(), kSupportedLines.size());
        EXPECT_EQ(std::vector(lines().begin(), lines().begin() + kSupportedLines.size()), kSupportedLines);
        return {lines().begin() + kSupportedLines.size(), lines().end()};
    }

    std::vector<std::string> summaryLines(bool readOk, bool decodeOk) const
    {
        std::vector<std::string> summary;
        if (readOk)
            summary.insert(summary.end(), {"", "  Чтение журнала СБ", "  -> Успешно"});
        if (decodeOk)
            summary.insert(summary.end(), {"", "  Декодирование журнала СБ", "  -> Успешно"});
        summary.insert(summary.end(), {"", "  Запись журнала СБ в файл", "  -> Успешно",
                                       "    Файл " + journalPath.string() + " создан", "",
                                       "  Расчёт SHA256 файла журнала СБ", "  -> Успешно", ""});
        return summary;
    }

    // The lines after the hash step's blank line end with the digest.
    void expectSummaryWithHash(const std::vector<std::string>& after, bool readOk, bool decodeOk) const
    {
        const std::vector<std::string> summary = summaryLines(readOk, decodeOk);
        ASSERT_GE(after.size(), summary.size() + 1);
        EXPECT_EQ(std::vector(after.end() - 1 - static_cast<long>(summary.size()), after.end() - 1), summary);
        EXPECT_THAT(after.back(), MatchesRegex("  SHA256 файла журнала СБ: [0-9a-f]{64}"));
    }

    fs::path section = dir.path() / "section";
    fs::path journalPath = dir.path() / "journal.txt";
    ScriptedPcsc pcsc;
    ScriptedCard& card = pcsc.addReader("Reader", hexBytes("3B 04 4B 76 53 43"))
                             .on("00 CA 01 89", "01 03 08 EE 10 EE 80 1B 05 02 EE EE 90 00")
                             .on("00 CA 01 81", "00 00 00 00 CA FE BA BE 90 00");
    Token token{std::make_shared<Scard>(pcsc, "Reader"), pcsc.flash};
    FlashScript script;
    MountTable mountTable;
    uint64_t serialInPath = 0;
    int failures = 0;
};

TEST_F(FlashJournalReaderTest, JournalFilesGoIntoOneFileInNameOrder)
{
    addJournalFile("journal-2.bin", userRecord("second"));
    addJournalFile("journal-1.bin", userRecord("first"));
    std::ofstream(journalPath) << "left from before\n";

    readJournal();

    std::vector<std::string> expected = summaryLines(true, true);
    expected.insert(expected.begin(), kSupportedLines.begin(), kSupportedLines.end());
    expected.push_back("");
    ASSERT_EQ(lines().size(), expected.size());
    EXPECT_EQ(std::vector(lines().begin(), lines().end() - 1), std::vector(expected.begin(), expected.end() - 1));
    EXPECT_THAT(lines().back(), MatchesRegex("  SHA256 файла журнала СБ: [0-9a-f]{64}"));
    EXPECT_EQ(readFile(journalPath), userRecordText("first") + userRecordText("second"));
    EXPECT_THAT(script.switches, ElementsAre(std::tuple{kJournalSectionId, KVFLASH_ACCESS_READ_ONLY, false}));
    EXPECT_THAT(script.lookedUpSections, ElementsAre(kJournalSectionId));
    EXPECT_TRUE(mountTable.waits.empty());
    EXPECT_EQ(serialInPath, 0xCAFEBABEu);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(logger.level, kSuiteLevel);
}

struct WaitCase {
    const char* name;
    int failuresBeforeMount;
    size_t waits;
    bool supported;
};

const WaitCase kWaitCases[] = {
    {"MountedAtOnce", 0, 0, true},
    {"MountedAfterFiveSeconds", 5, 5, true},
    {"MountedAtTheLastLook", FlashJournalReader::kMaxWaits, 61, true},
    {"NeverMounted", kNeverMounted, 61, false},
};

class SectionVolume : public FlashJournalReaderTest, public testing::WithParamInterface<WaitCase> {};

TEST_P(SectionVolume, IsWaitedForOnceASecondWithoutReportLines)
{
    script.failuresBeforeMount = GetParam().failuresBeforeMount;
    addJournalFile("journal.bin", userRecord("user"));

    readJournal();

    EXPECT_EQ(mountTable.waits, std::vector<MountTable::Time>(GetParam().waits, FlashJournalReader::kWait));
    EXPECT_EQ(mountTable.now, GetParam().waits * FlashJournalReader::kWait);
    EXPECT_EQ(script.lookedUpSections.size(), GetParam().waits + 1);
    if (GetParam().supported) {
        expectSummaryWithHash(linesAfterSupport(), true, true);
        EXPECT_EQ(readFile(journalPath), userRecordText("user"));
    } else {
        EXPECT_EQ(lines(), kNotSupportedLines);
        EXPECT_FALSE(fs::exists(journalPath));
    }
    EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(Waits, SectionVolume, testing::ValuesIn(kWaitCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Other drives coming and going wake the reader each time; it looks, and
// waits on for the rest of the second.
TEST_F(FlashJournalReaderTest, UnrelatedMountsDoNotShortenTheMinute)
{
    script.failuresBeforeMount = kNeverMounted;
    for (int ms = 5; ms < 1000; ms += 10)
        mountTable.changes.push_back(MountTable::Time(ms));
    mountTable.changes.push_back(MountTable::Time(30'500));

    readJournal();

    EXPECT_EQ(lines(), kNotSupportedLines);
    EXPECT_EQ(mountTable.now, FlashJournalReader::kMaxWaits * FlashJournalReader::kWait);
    EXPECT_EQ(mountTable.nextChange, mountTable.changes.size());
    EXPECT_EQ(script.lookedUpSections.size(), FlashJournalReader::kMaxWaits + 1 + mountTable.changes.size());
    EXPECT_EQ(failures, 0);
}

TEST_F(FlashJournalReaderTest, SectionMountedWithinASecondIsFoundAtOnce)
{
    using Time = MountTable::Time;
    const Time mounted(2300);
    mountTable.changes = {Time(2100), Time(2200), mounted};  // two other drives first
    script.failuresBeforeMount = kNeverMounted;
    script.pathFailure = [this, mounted] {
        if (mountTable.now < mounted)
            throw std::runtime_error("Section id = 2 not found.");
    };
    addJournalFile("journal.bin", userRecord("user"));

    readJournal();

    EXPECT_EQ(mountTable.now, mounted);
    EXPECT_EQ(mountTable.waits, (std::vector<Time>{Time(1000), Time(1000), Time(1000), Time(900), Time(800)}));
    EXPECT_EQ(script.lookedUpSections.size(), 6u);
    expectSummaryWithHash(linesAfterSupport(), true, true);
    EXPECT_EQ(readFile(journalPath), userRecordText("user"));
}

struct UnsupportedCase {
    const char* name;
    std::function<void(FlashScript&, const fs::path& section)> setUp;
};

const UnsupportedCase kUnsupportedCases[] = {
    {"NoJournalSection",
     [](FlashScript& s, const fs::path&) {
         s.journalSection = []() -> kvflash_Section { throw std::runtime_error("No journal events section found"); };
     }},
    {"SwitchRefused",
     [](FlashScript& s, const fs::path&) { s.onSwitch = [] { throw std::runtime_error("Default error message"); }; }},
    {"LookupFailsOtherwise",
     [](FlashScript& s, const fs::path&) {
         s.failuresBeforeMount = kNeverMounted;
         s.pathFailure = [] { throw std::logic_error("broken lookup"); };
     }},
    {"MountPointMissing", [](FlashScript& s, const fs::path& section) { s.mountPoint = [section] { return section / "gone"; }; }},
    {"MountPointNotADirectory",
     [](FlashScript& s, const fs::path& section) {
         s.mountPoint = [section] { return section / "journal.bin"; };
     }},
};

class UnsupportedJournal : public FlashJournalReaderTest, public testing::WithParamInterface<UnsupportedCase> {};

TEST_P(UnsupportedJournal, EndsTheCheckQuietly)
{
    addJournalFile("journal.bin", userRecord("user"));
    GetParam().setUp(script, section);

    readJournal();

    EXPECT_EQ(lines(), kNotSupportedLines);
    EXPECT_TRUE(mountTable.waits.empty());
    EXPECT_FALSE(fs::exists(journalPath));
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(logger.level, kSuiteLevel);
}

INSTANTIATE_TEST_SUITE_P(Failures, UnsupportedJournal, testing::ValuesIn(kUnsupportedCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct DecodeCase {
    const char* name;
    Bytes secondJournal;
    const char* outcomeLine;
    std::string secondTextStart;  // the second journal's record texts begin so
    const char* secondDump;
};

const DecodeCase kDecodeCases[] = {
    {"UnknownRecord", {0xC1, 0x02, 'b', 'c', 0x7F, 0x01, 0xAB},
     "  -> !ОШИБКА Возникли ошибки при декодировании некоторых записей", userRecordText("bc"), "c10262637f01ab"},
    {"BrokenJournal", {0x41, 0x08, 0x00, 0x90}, "  -> !ОШИБКА Возникли ошибки при декодировании журнала", "",
     "41080090"},
};

class DecodingFailure : public FlashJournalReaderTest, public testing::WithParamInterface<DecodeCase> {};

TEST_P(DecodingFailure, IsReportedInTheLoopAndLeftOutOfTheSummary)
{
    addJournalFile("a.bin", userRecord("first"));
    addJournalFile("b.bin", GetParam().secondJournal);

    readJournal();

    const std::vector<std::string> after = linesAfterSupport();
    ASSERT_GE(after.size(), 3u);
    EXPECT_THAT(std::vector(after.begin(), after.begin() + 3),
                ElementsAre("", "  Декодирование журнала СБ", GetParam().outcomeLine));
    expectSummaryWithHash({after.begin() + 3, after.end()}, true, false);
    const std::string file = readFile(journalPath);
    const std::string start = userRecordText("first") + GetParam().secondTextStart;
    const std::string end = std::string("Журнал СБ в бинарном формате:\n") + GetParam().secondDump + "\n";
    EXPECT_TRUE(file.starts_with(start)) << file;
    EXPECT_TRUE(file.ends_with(end)) << file;
    EXPECT_EQ(file.find("Журнал СБ в бинарном формате"), file.size() - end.size()) << file;
    EXPECT_EQ(failures, 1);
}

INSTANTIATE_TEST_SUITE_P(Journals, DecodingFailure, testing::ValuesIn(kDecodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

class EmptySection : public FlashJournalReaderTest, public testing::WithParamInterface<bool> {};

TEST_P(EmptySection, SavesAnEmptyJournal)
{
    if (GetParam())
        fs::create_directory(section / "System Volume Information");

    readJournal();

    expectSummaryWithHash(linesAfterSupport(), true, true);
    EXPECT_EQ(linesAfterSupport().size(), summaryLines(true, true).size() + 1);
    EXPECT_EQ(readFile(journalPath), "Журнал СБ пуст\n\n");
    EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(Roots, EmptySection, testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "OnlyADirectory" : "NoEntries");
});

// /proc/self/mem is a regular file that cannot be read from its start.
TEST_F(FlashJournalReaderTest, FirstFileUnreadableIsAReadFailureWithNothingWritten)
{
    fs::create_symlink("/proc/self/mem", section / "a.bin");
    addJournalFile("b.bin", userRecord("second"));

    readJournal();

    EXPECT_THAT(linesAfterSupport(), ElementsAre("", "  Чтение журнала СБ", MatchesRegex("  \\[fatal\\] -> !ОШИБКА.+"),
                                                 "    Ошибка чтения журнала СБ"));
    EXPECT_FALSE(fs::exists(journalPath));
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(logger.level, kSuiteLevel);
}

TEST_F(FlashJournalReaderTest, LaterFileUnreadableEndsTheLoopAndKeepsWhatWasWritten)
{
    addJournalFile("a.bin", userRecord("first"));
    fs::create_symlink("/proc/self/mem", section / "b.bin");
    addJournalFile("c.bin", userRecord("third"));

    readJournal();

    const std::vector<std::string> after = linesAfterSupport();
    ASSERT_GE(after.size(), 4u);
    EXPECT_THAT(std::vector(after.begin(), after.begin() + 4),
                ElementsAre("", "  Чтение журнала СБ", MatchesRegex("  \\[fatal\\] -> !ОШИБКА.+"),
                            "    Ошибка чтения журнала СБ"));
    expectSummaryWithHash({after.begin() + 4, after.end()}, false, true);
    EXPECT_EQ(readFile(journalPath), userRecordText("first"));
    EXPECT_EQ(failures, 1);
}

// Fifty files beyond the limit, made in reverse name order: the first files
// by name up to the limit are read, then the reading stops with a failure.
TEST_F(FlashJournalReaderTest, FilesBeyondTheLimitAreAReadFailureAfterTheFirstByName)
{
    const size_t count = FlashJournalReader::kMaxJournalFiles + 50;
    for (size_t i = count; i-- > 0;) {
        char name[48];
        std::snprintf(name, sizeof name, "journal-%05zu.bin", i);
        addJournalFile(name, userRecord(std::to_string(i)));
    }

    readJournal();

    const std::vector<std::string> after = linesAfterSupport();
    ASSERT_GE(after.size(), 4u);
    EXPECT_THAT(std::vector(after.begin(), after.begin() + 4),
                ElementsAre("", "  Чтение журнала СБ", "  [fatal] -> !ОШИБКА В разделе журнала СБ больше 4096 файлов",
                            "    Ошибка чтения журнала СБ"));
    expectSummaryWithHash({after.begin() + 4, after.end()}, false, true);
    std::string text;
    for (size_t i = 0; i < FlashJournalReader::kMaxJournalFiles; ++i)
        text += userRecordText(std::to_string(i));
    EXPECT_EQ(readFile(journalPath), text);
    EXPECT_EQ(failures, 1);
}

// Exactly `size` bytes of user-name records.
Bytes userRecordsOfSize(size_t size)
{
    Bytes journal;
    while (journal.size() < size) {
        const Bytes record = userRecord(std::string(std::min<size_t>(255, size - journal.size() - 2), 'u'));
        journal.insert(journal.end(), record.begin(), record.end());
    }
    return journal;
}

TEST_F(FlashJournalReaderTest, FileOfTheLargestSizeIsRead)
{
    const Bytes journal = userRecordsOfSize(FlashJournalReader::kMaxJournalFileSize);
    ASSERT_EQ(journal.size(), FlashJournalReader::kMaxJournalFileSize);
    addJournalFile("journal.bin", journal);

    readJournal();

    expectSummaryWithHash(linesAfterSupport(), true, true);
    EXPECT_EQ(linesAfterSupport().size(), summaryLines(true, true).size() + 1);
    EXPECT_TRUE(readFile(journalPath).ends_with(userRecordText(std::string(62, 'u'))));
    EXPECT_EQ(failures, 0);
}

TEST_F(FlashJournalReaderTest, LargerFileIsAReadFailureAndKeepsWhatWasWritten)
{
    addJournalFile("a.bin", userRecord("first"));
    std::ofstream(section / "b.bin").close();
    fs::resize_file(section / "b.bin", FlashJournalReader::kMaxJournalFileSize + 1);
    addJournalFile("c.bin", userRecord("third"));

    readJournal();

    const std::vector<std::string> after = linesAfterSupport();
    ASSERT_GE(after.size(), 4u);
    EXPECT_THAT(std::vector(after.begin(), after.begin() + 4),
                ElementsAre("", "  Чтение журнала СБ", "  [fatal] -> !ОШИБКА Файл журнала СБ b.bin больше 4194304 байт",
                            "    Ошибка чтения журнала СБ"));
    expectSummaryWithHash({after.begin() + 4, after.end()}, false, true);
    EXPECT_EQ(readFile(journalPath), userRecordText("first"));
    EXPECT_EQ(failures, 1);
}

struct WriteFailureCase {
    const char* name;
    const char* path;  // below the test directory unless absolute
    const char* reason;
};

const WriteFailureCase kWriteFailures[] = {
    {"LogsDirectoryMissing", "logs/journal.txt", "Не удалось создать файл"},
    {"DiskFull", "/dev/full", "Не удалось записать в файл"},
};

class WriteFailure : public FlashJournalReaderTest, public testing::WithParamInterface<WriteFailureCase> {};

TEST_P(WriteFailure, EndsTheStepAtTheFirstFileWithoutSummary)
{
    journalPath = dir.path() / GetParam().path;
    addJournalFile("a.bin", userRecord("first"));
    addJournalFile("b.bin", userRecord("second"));

    readJournal();

    EXPECT_THAT(linesAfterSupport(), ElementsAre("", "  Запись журнала СБ в файл", "  [fatal] -> !ОШИБКА",
                                                 std::string("    ") + GetParam().reason));
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(logger.level, kSuiteLevel);
}

INSTANTIATE_TEST_SUITE_P(Paths, WriteFailure, testing::ValuesIn(kWriteFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
