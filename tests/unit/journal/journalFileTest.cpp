#include "caseName.h"
#include "journal/journalFile.h"
#include "journalTesting.h"
#include "scriptedPcsc.h"

#include <gmock/gmock.h>

#include <cstdio>
#include <iomanip>
#include <regex>
#include <sstream>

using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

struct ContentCase {
    const char* name;
    const char* journalHex;
    std::string fileText;
};

const ContentCase kContentCases[] = {
    {"EmptyJournal", "", "Журнал СБ пуст\n\n"},
    // Completion records never get text of their own.
    {"CompletionRecordsOnly", "44 02 00 90 44 02 82 6A", "Журнал СБ пуст\n\n"},
    {"RecordsSeparatedByEmptyLine", "40 02 01 00 C1 00",
     "Версия журнала 1.0\n\nИмя пользователя в системе: \n\n"},
    {"SomeRecordsFailedKeepsTextsThenDump", "40 02 01 00 7F 01 AB",
     "Версия журнала 1.0\n\n"
     "Неизвестный тип записи\nТег: 0x7f\nДанные: ab\n\n"
     "Журнал СБ в бинарном формате:\n4002010" "07f01ab\n"},
    // A broken journal keeps no records and is not called empty: the dump alone.
    {"JournalFailedDumpOnly", "40 02 01 00 41", "Журнал СБ в бинарном формате:\n4002010041\n"},
};

class JournalFileContent : public JournalReportTest, public testing::WithParamInterface<ContentCase> {};

TEST_P(JournalFileContent, FileHoldsTextsAndDumpAsLfOnlyBytes)
{
    const Bytes journalBytes = hexBytes(GetParam().journalHex);
    DecodedJournal journal(journalBytes);
    const auto path = dir.path() / "journal.txt";

    EXPECT_TRUE(writeJournalFile(path, journal, journalBytes, logger));

    EXPECT_EQ(readFile(path), GetParam().fileText);
    EXPECT_THAT(lines(), ElementsAre("", "  Запись журнала СБ в файл", "  -> Успешно",
                                     "    Файл " + path.string() + " создан"));
    EXPECT_EQ(logger.level, kSuiteLevel);
}

INSTANTIATE_TEST_SUITE_P(Journals, JournalFileContent, testing::ValuesIn(kContentCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JournalReportTest, WritingReplacesAnEarlierFile)
{
    const auto path = dir.path() / "journal.txt";
    std::ofstream(path) << std::string(100, 'x');
    DecodedJournal journal(ByteView{});

    ASSERT_TRUE(writeJournalFile(path, journal, ByteView{}, logger));

    EXPECT_EQ(readFile(path), "Журнал СБ пуст\n\n");
}

// Journals whose text fills several of the writer's blocks: nothing is lost
// or doubled where one block ends and the next begins.
class LongJournalFile : public JournalReportTest, public testing::WithParamInterface<size_t> {};

TEST_P(LongJournalFile, HoldsEveryTextInOrderThenTheDump)
{
    Bytes journalBytes;
    std::string expected;
    for (size_t i = 0; i < GetParam(); ++i) {
        const std::string name = std::to_string(i);
        journalBytes.insert(journalBytes.end(), {0xC1, static_cast<uint8_t>(name.size())});
        journalBytes.insert(journalBytes.end(), name.begin(), name.end());
        journalBytes.insert(journalBytes.end(), {0x48, 0x02, 0x00, 0x90});
        expected += "Имя пользователя в системе: " + name + "\n\n" +
                    "Смена PIN Пользователя\nSW-код операции: 0x9000\nОперация не была завершена\n\n";
    }
    journalBytes.insert(journalBytes.end(), {0x7F, 0x01, 0xAB});
    expected += "Неизвестный тип записи\nТег: 0x7f\nДанные: ab\n\n";
    std::ostringstream dump;
    writeBinaryDump(journalBytes, dump);
    expected += dump.str();
    DecodedJournal journal(journalBytes);
    const auto path = dir.path() / "journal.txt";

    ASSERT_TRUE(writeJournalFile(path, journal, journalBytes, logger));

    EXPECT_EQ(readFile(path), expected);
}

INSTANTIATE_TEST_SUITE_P(Records, LongJournalFile, testing::Values(500, 5000),
                         [](const auto& info) { return std::to_string(info.param); });

// Lengths in hex digits of the dump lines for a journal of n bytes 00, 01, ...
struct DumpCase {
    size_t byteCount;
    std::vector<size_t> lineLengths;
};

class BinaryDump : public testing::TestWithParam<DumpCase> {};

TEST_P(BinaryDump, BreaksLineEveryThirtyTwoBytes)
{
    Bytes journalBytes(GetParam().byteCount);
    for (size_t i = 0; i < journalBytes.size(); ++i)
        journalBytes[i] = static_cast<uint8_t>(i * 7);
    std::ostringstream out;
    out << std::hex << std::setfill('*');
    const auto flags = out.flags();

    writeBinaryDump(journalBytes, out);

    std::istringstream dump(out.str());
    std::string line;
    std::getline(dump, line);
    EXPECT_EQ(line, "Журнал СБ в бинарном формате:");
    std::string digits;
    std::vector<size_t> lengths;
    while (std::getline(dump, line)) {
        lengths.push_back(line.size());
        digits += line;
    }
    EXPECT_THAT(lengths, ElementsAreArray(GetParam().lineLengths));
    EXPECT_EQ(out.str().back(), '\n');
    std::string expectedDigits;
    for (uint8_t byte : journalBytes) {
        char text[3];
        std::snprintf(text, sizeof text, "%02x", byte);
        expectedDigits += text;
    }
    EXPECT_EQ(digits, expectedDigits);
    EXPECT_EQ(out.flags(), flags);
    EXPECT_EQ(out.fill(), '*');
}

// Dumps longer than one block the writer hands to the stream at a time.
DumpCase longDump(size_t byteCount)
{
    DumpCase dump{byteCount, std::vector<size_t>(byteCount / 32, 64)};
    if (byteCount % 32 != 0)
        dump.lineLengths.push_back(byteCount % 32 * 2);
    return dump;
}

INSTANTIATE_TEST_SUITE_P(Lengths, BinaryDump,
                         testing::Values(DumpCase{1, {2}}, DumpCase{32, {64}}, DumpCase{33, {64, 2}},
                                         DumpCase{64, {64, 64}}, DumpCase{65, {64, 64, 2}}, longDump(32 * 1024),
                                         longDump(100'001)),
                         [](const auto& info) { return "Bytes" + std::to_string(info.param.byteCount); });

struct HashCase {
    const char* name;
    std::string content;
    const char* digest;
};

const HashCase kHashCases[] = {
    {"EmptyFile", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"Abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    // Larger than one read of the file.
    {"MillionA", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

class JournalFileHash : public JournalReportTest, public testing::WithParamInterface<HashCase> {};

TEST_P(JournalFileHash, PrintsSha256OfTheFile)
{
    const auto path = dir.path() / "journal.txt";
    std::ofstream(path, std::ios::binary) << GetParam().content;

    printJournalFileHash(path, logger);

    EXPECT_THAT(lines(), ElementsAre("", "  Расчёт SHA256 файла журнала СБ", "  -> Успешно", "",
                                     std::string("  SHA256 файла журнала СБ: ") + GetParam().digest));
    EXPECT_EQ(logger.level, kSuiteLevel);
}

INSTANTIATE_TEST_SUITE_P(Files, JournalFileHash, testing::ValuesIn(kHashCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A directory opens for reading but cannot be read: the digest of nothing must not pass as success.
class UnreadableJournalFile : public JournalReportTest, public testing::WithParamInterface<const char*> {};

TEST_P(UnreadableJournalFile, GetsNoDigest)
{
    printJournalFileHash(dir.path() / GetParam(), logger);

    EXPECT_THAT(lines(), ElementsAre("", "  Расчёт SHA256 файла журнала СБ", "  [fatal] -> !ОШИБКА",
                                     "    Не удалось открыть файл"));
    EXPECT_EQ(logger.level, kSuiteLevel);
}

INSTANTIATE_TEST_SUITE_P(Paths, UnreadableJournalFile, testing::Values("missing.txt", ""), [](const auto& info) {
    return std::string(*info.param ? "MissingFile" : "EmptyPath");
});

TEST(JournalFilePath, LogsDirectoryBesideTheProgram)
{
    const auto path = journalFilePath(3405691582);

    EXPECT_EQ(path.parent_path(), std::filesystem::read_symlink("/proc/self/exe").parent_path() / "logs");
    EXPECT_TRUE(std::regex_match(path.filename().string(),
                                 std::regex(R"(security_log-3405691582-\d{4}-\d\d-\d\d-\d\d\.\d\d\.\d\d\.txt)")))
        << path;
}

}  // namespace
