#include "logging/logger.h"

#include "logCapture.h"
#include "process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <stdexcept>
#include <vector>

namespace {

namespace fs = std::filesystem;
using logging::Logger;
using testing::ElementsAre;

constexpr char startTime[] = "2024-03-05-14.03.27";

// How a run in a child process ended.
enum Outcome { Returned = 0, Threw = 1, ThrewWriteFile = 2, NoDirectory = 3 };

// The logging core is process-wide and initLogging is meant to run once, so
// every run that installs the file sink gets a process of its own, started in dir.
// The child leaves with _exit: what is on disk was written when each line ended.
int runInFreshProcess(const fs::path& dir, const std::function<void()>& body)
{
    const pid_t pid = fork();
    if (pid == 0) {
        int outcome = Returned;
        try {
            if (chdir(dir.c_str()) != 0)
                _exit(NoDirectory);
            body();
        } catch (const logging::WriteFileException&) {
            outcome = ThrewWriteFile;
        } catch (...) {
            outcome = Threw;
        }
        _exit(outcome);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::set<std::string> filesBelow(const fs::path& dir)
{
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files.insert(fs::relative(entry.path(), dir).string());
    return files;
}

// Splits each stored line into its time stamp and its message.
std::vector<std::pair<std::string, std::string>> readRecords(const fs::path& file)
{
    static const std::regex record(R"(\[(.*)\] - (.*))");
    std::vector<std::pair<std::string, std::string>> records;
    std::ifstream in(file);
    for (std::string text; std::getline(in, text);) {
        std::smatch parts;
        if (!std::regex_match(text, parts, record))
            throw std::runtime_error("not a log record: " + text);
        records.emplace_back(parts[1], parts[2]);
    }
    return records;
}

std::vector<std::string> messagesOf(const fs::path& file)
{
    std::vector<std::string> messages;
    for (const auto& [timeStamp, message] : readRecords(file))
        messages.push_back(message);
    return messages;
}

void writeOneRun(const std::string& prefix, uint64_t serial, const std::string& text)
{
    logging::prepareLogDirectory();
    logging::initLogging(prefix, startTime);
    Logger logger(serial);
    logger.line() << text;
}

struct FileNameCase {
    const char* prefix;
    uint64_t serial;
    const char* file;
};

class LogFileName : public testing::TestWithParam<FileNameCase> {};

TEST_P(LogFileName, IsPrefixSerialAndStartTime)
{
    const FileNameCase& expected = GetParam();
    TempDir dir;
    ASSERT_EQ(runInFreshProcess(dir.path(), [&] { writeOneRun(expected.prefix, expected.serial, "x"); }), Returned);

    // Nothing else either: the start-up probe file is gone.
    EXPECT_THAT(filesBelow(dir.path()), ElementsAre(expected.file));
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, LogFileName,
    testing::Values(FileNameCase{"log", 123456789, "logs/log-123456789-2024-03-05-14.03.27.txt"},
                    FileNameCase{"журнал", 42, "logs/журнал-42-2024-03-05-14.03.27.txt"},
                    FileNameCase{"", 7, "logs/-7-2024-03-05-14.03.27.txt"},
                    FileNameCase{"a/b/c", UINT64_MAX, "logs/a/b/c-18446744073709551615-2024-03-05-14.03.27.txt"}),
    [](const auto& info) { return "Serial" + std::to_string(info.param.serial); });

TEST(LogFile, NamedWithTheTimeTheRunStarted)
{
    TempDir dir;
    const std::string before = logging::fileTimeStamp();
    ASSERT_EQ(runInFreshProcess(dir.path(), [] {
                  logging::prepareLogDirectory();
                  logging::initLogging("log");
                  Logger(7).line() << "x";
              }),
              Returned);
    const std::string after = logging::fileTimeStamp();

    const std::set<std::string> files = filesBelow(dir.path());
    ASSERT_EQ(files.size(), 1u);
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(*files.begin(), parts,
                                 std::regex(R"(logs/log-7-(\d{4}-\d\d-\d\d-\d\d\.\d\d\.\d\d)\.txt)")))
        << *files.begin();
    EXPECT_LE(before, parts[1].str());
    EXPECT_GE(after, parts[1].str());
}

TEST(LogFile, StoresEachLineAsTimeStampAndIndentedText)
{
    TempDir dir;
    ASSERT_EQ(runInFreshProcess(dir.path(), [] {
                  logging::prepareLogDirectory();
                  logging::initLogging("log", startTime);
                  Logger logger(1);
                  logger.level = 2;
                  logger.indented() << "Проверка " << 5;
                  logger.line();
                  logger.level = 0;
                  logger.indented() << "конец";
              }),
              Returned);

    const auto records = readRecords(dir.path() / "logs/log-1-2024-03-05-14.03.27.txt");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].second, "    Проверка 5");
    EXPECT_EQ(records[1].second, "");
    EXPECT_EQ(records[2].second, "конец");
    // The date-time library's own text, fractions only when not zero: 2024-Mar-05 14:03:27.512000
    const std::regex timeStamp(R"(\d{4}-[A-Z][a-z]{2}-\d\d \d\d:\d\d:\d\d(\.\d{6})?)");
    for (const auto& [stamp, message] : records)
        EXPECT_TRUE(std::regex_match(stamp, timeStamp)) << stamp;
}

// Written without the date-time library's stream, the stamp stays byte for
// byte what that stream writes, special values included.
TEST(TimeStampText, IsTheDateTimeLibrarysDefaultText)
{
    namespace pt = boost::posix_time;
    using boost::gregorian::date;
    std::vector<pt::ptime> stamps{
        pt::ptime(date(2024, 3, 5), pt::hours(14) + pt::minutes(3) + pt::seconds(27) + pt::microseconds(512000)),
        pt::ptime(date(2024, 1, 1)),
        pt::ptime(date(1999, 12, 31), pt::hours(23) + pt::minutes(59) + pt::seconds(59) + pt::microseconds(999999)),
        pt::ptime(date(2026, 9, 9), pt::hours(9) + pt::minutes(5) + pt::seconds(7) + pt::microseconds(1)),
        pt::ptime(pt::not_a_date_time),
        pt::ptime(pt::pos_infin),
    };
    for (int month = 1; month <= 12; ++month)
        stamps.emplace_back(date(2025, month, 28), pt::seconds(1));
    for (const pt::ptime& stamp : stamps) {
        std::ostringstream library;
        library << stamp;
        EXPECT_EQ(logging::timeStampText(stamp), library.str());
    }
    EXPECT_EQ(logging::timeStampText(stamps[0]), "2024-Mar-05 14:03:27.512000");
    EXPECT_EQ(logging::timeStampText(stamps[1]), "2024-Jan-01 00:00:00");
}

TEST(LogFile, SecondRunInTheSameSecondAppends)
{
    TempDir dir;
    ASSERT_EQ(runInFreshProcess(dir.path(), [] { writeOneRun("log", 5, "первый"); }), Returned);
    ASSERT_EQ(runInFreshProcess(dir.path(), [] { writeOneRun("log", 5, "второй"); }), Returned);

    EXPECT_THAT(messagesOf(dir.path() / "logs/log-5-2024-03-05-14.03.27.txt"), ElementsAre("первый", "второй"));
}

// The file stays open for the run, yet each line is on disk the moment it
// ends, also when the records of two tokens take turns.
TEST(LogFile, EachLineIsOnDiskWhenItEnds)
{
    TempDir dir;
    const fs::path first = "logs/log-1-2024-03-05-14.03.27.txt";
    const fs::path second = "logs/log-2-2024-03-05-14.03.27.txt";
    const auto expect = [](const fs::path& file, const std::vector<std::string>& lines) {
        if (messagesOf(file) != lines)
            throw std::runtime_error(file.string() + " does not hold its lines yet");
    };
    ASSERT_EQ(runInFreshProcess(dir.path(), [&] {
                  logging::prepareLogDirectory();
                  logging::initLogging("log", startTime);
                  Logger one(1);
                  Logger two(2);
                  one.line() << "раз";
                  expect(first, {"раз"});
                  two.line() << "два";
                  expect(second, {"два"});
                  one.line() << "три";
                  expect(first, {"раз", "три"});
              }),
              Returned);
}

TEST(LogFile, DirectoryTheBackendCannotCreateIsWriteFileException)
{
    TempDir dir;
    fs::create_directory(dir.path() / "logs");
    std::ofstream(dir.path() / "logs/taken");

    EXPECT_EQ(runInFreshProcess(dir.path(), [] { writeOneRun("taken/log", 1, "x"); }), ThrewWriteFile);
}

TEST(LogFile, FileThatCannotBeOpenedIsWriteFileException)
{
    TempDir dir;
    fs::create_directories(dir.path() / "logs/log-1-2024-03-05-14.03.27.txt");  // the name is taken by a directory

    EXPECT_EQ(runInFreshProcess(dir.path(), [] { writeOneRun("log", 1, "x"); }), ThrewWriteFile);
}

struct DirectoryCase {
    const char* name;
    std::function<void(const fs::path&)> arrange;
    int outcome;
};

class PrepareLogDirectory : public testing::TestWithParam<DirectoryCase> {};

TEST_P(PrepareLogDirectory, AcceptsOnlyAWritableDirectory)
{
    TempDir dir;
    GetParam().arrange(dir.path());

    ASSERT_EQ(runInFreshProcess(dir.path(), [] { logging::prepareLogDirectory(); }), GetParam().outcome);
    if (GetParam().outcome == Returned) {
        EXPECT_TRUE(fs::is_directory(dir.path() / "logs"));
        EXPECT_FALSE(fs::exists(dir.path() / "logs/log.txt"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrepareLogDirectory,
    testing::Values(DirectoryCase{"Missing", [](const fs::path&) {}, Returned},
                    DirectoryCase{"ExistingDirectoryKeepsItsFiles",
                                  [](const fs::path& dir) {
                                      fs::create_directories(dir / "logs/old");
                                  },
                                  Returned},
                    DirectoryCase{"PlainFile", [](const fs::path& dir) { std::ofstream(dir / "logs"); },
                                  ThrewWriteFile}),
    [](const auto& info) { return std::string(info.param.name); });

struct WritesWhileUnwinding {
    Logger& logger;
    ~WritesWhileUnwinding() { logger.line() << "kept"; }
};

TEST(LogLine, CutShortByAnExceptionIsNotPushed)
{
    LogCapture capture;
    Logger logger(1);
    try {
        auto line = logger.line();
        line << "lost";
        throw std::runtime_error("check failed");
    } catch (const std::runtime_error&) {
    }
    // Opened after the exception began: complete, so it is kept.
    try {
        WritesWhileUnwinding writer{logger};
        throw std::runtime_error("check failed");
    } catch (const std::runtime_error&) {
    }

    EXPECT_THAT(capture.lines(), ElementsAre("kept"));
}

TEST(LogLine, MovedLineEndsOnce)
{
    LogCapture capture;
    Logger logger(1);
    std::ostringstream echo;
    {
        logging::LogLine consoleLine(echo);
        consoleLine << "a" << 5;
        logging::LogLine movedConsoleLine(std::move(consoleLine));
        movedConsoleLine << "b";

        auto reportLine = logger.line();
        reportLine << "x";
        logging::LogLine movedReportLine(std::move(reportLine));
    }

    EXPECT_EQ(echo.str(), "a5b\n");
    EXPECT_THAT(capture.lines(), ElementsAre("x"));
}

}  // namespace
