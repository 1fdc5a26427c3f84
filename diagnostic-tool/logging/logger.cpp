#include "logging/logger.h"

#include "utils/console.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/filesystem.hpp>
#include <boost/log/attributes/clock.hpp>
#include <boost/log/attributes/constant.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/utility/exception_handler.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <sstream>
#include <utility>

namespace logging {

namespace {

namespace fs = boost::filesystem;
namespace logs = boost::log;

const fs::path logsDirectory = "logs";
constexpr char tokenAttribute[] = "Token";
constexpr char timeStampAttribute[] = "TimeStamp";

constexpr std::array<const char*, 12> kMonthAbbreviations{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Records carrying a token serial go to that token's file of this run;
// anything else to the bare prefix.
class FileNameComposer {
public:
    FileNameComposer(std::string base, std::string startTime)
        : base_(std::move(base)), startTime_(std::move(startTime))
    {
    }

    std::string operator()(const logs::record_view& record) const
    {
        const auto token = logs::extract<std::string>(tokenAttribute, record);
        if (!token)
            return base_ + ".txt";
        return base_ + "-" + *token + "-" + startTime_ + ".txt";
    }

private:
    std::string base_;
    std::string startTime_;
};

// Appends each record to the file named for it. Boost's own multi-file backend
// drops a record whose file cannot be opened without a word, and the report
// would be lost while the run says it was saved: here every file that cannot
// be created or written is a filesystem error, like a directory that cannot be.
// The file stays open while its records come, and each line is flushed as it
// is written, so that a program that dies loses no line of its report.
class MultiFileBackend
    : public logs::sinks::basic_formatted_sink_backend<char, logs::sinks::synchronized_feeding> {
public:
    explicit MultiFileBackend(FileNameComposer composer) : composer_(std::move(composer)) {}

    void consume(const logs::record_view& record, const string_type& formatted)
    {
        // The names compared as text: a path comparison walks every element, for every line.
        const std::string file = composer_(record);
        if (file != openFile_)
            open(file);
        out_ << formatted << '\n';
        out_.flush();
        if (!out_)
            fail(file, "cannot write the log file");
    }

private:
    void open(const std::string& file)
    {
        close();
        const fs::path absolute = fs::absolute(file);
        fs::create_directories(absolute.parent_path());
        out_.open(absolute.string(), std::ios::out | std::ios::app);
        if (!out_.is_open())
            fail(file, "cannot open the log file");
        openFile_ = file;
    }

    void close()
    {
        out_.close();
        out_.clear();
        openFile_.clear();
    }

    // The next record tries the file afresh.
    [[noreturn]] void fail(const std::string& file, const char* what)
    {
        close();
        throw fs::filesystem_error(what, fs::absolute(file),
                                   boost::system::errc::make_error_code(boost::system::errc::io_error));
    }

    FileNameComposer composer_;
    std::ofstream out_;
    std::string openFile_;  // empty when none is open
};

// Appends value as exactly `digits` decimal digits, leading zeros included.
void appendDigits(std::string& text, int64_t value, int digits)
{
    const size_t end = text.size() + static_cast<size_t>(digits);
    text.resize(end);
    for (size_t position = end; digits-- > 0; value /= 10)
        text[--position] = static_cast<char>('0' + value % 10);
}

// "[time stamp] - message", one record of the report.
void formatRecord(const logs::record_view& record, logs::formatting_ostream& line)
{
    line << '[';
    if (const auto stamp = logs::extract<boost::posix_time::ptime>(timeStampAttribute, record))
        line << timeStampText(*stamp);
    line << "] - " << record[logs::expressions::smessage];
}

// Turns a log file that cannot be written into the tool's own error while pushing a record.
struct FilesystemErrorTranslator {
    using exception_types = boost::mpl::vector<fs::filesystem_error>;

    [[noreturn]] void operator()(const fs::filesystem_error&) const { throw WriteFileException(); }
};

void makeLogsDirectory()
{
    boost::system::error_code error;
    fs::create_directory(logsDirectory, error);
    if (error && !fs::is_directory(logsDirectory))
        throw WriteFileException();
}

// An unopenable probe counts as a failure even if a stale file of that name
// is found afterwards: records would be lost without a word otherwise.
void probeWritable(const fs::path& probe)
{
    bool opened = false;
    {
        std::ofstream file(probe.string(), std::ios::out | std::ios::trunc);
        opened = file.is_open();
    }
    boost::system::error_code error;
    const bool found = fs::exists(probe, error);
    if (!opened || error || !found)
        throw WriteFileException();
    fs::remove(probe, error);
}

}  // namespace

void prepareLogDirectory()
{
    makeLogsDirectory();
    probeWritable(logsDirectory / "log.txt");
}

void initLogging(const std::string& prefix)
{
    initLogging(prefix, fileTimeStamp());
}

void initLogging(const std::string& prefix, const std::string& startTime)
{
    // Joined as text: an empty prefix still names a file inside "logs".
    const fs::path base = logsDirectory.string() + "/" + prefix;
    auto sink = boost::make_shared<logs::sinks::synchronous_sink<MultiFileBackend>>(
        boost::make_shared<MultiFileBackend>(FileNameComposer(base.string(), startTime)));
    sink->set_formatter(&formatRecord);

    const auto core = logs::core::get();
    core->set_exception_handler(logs::make_exception_handler(FilesystemErrorTranslator()));
    core->add_sink(sink);
    core->add_global_attribute(timeStampAttribute, logs::attributes::local_clock());
}

std::string fileTimeStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d-%H.%M.%S", &local);
    return std::string(text, length);
}

std::string timeStampText(const boost::posix_time::ptime& time)
{
    if (time.is_special()) {
        std::ostringstream text;
        text << time;
        return text.str();
    }
    const auto date = time.date().year_month_day();
    const auto clock = time.time_of_day();
    std::string text;
    appendDigits(text, date.year, 4);
    text.append("-").append(kMonthAbbreviations[date.month - 1]).append("-");
    appendDigits(text, date.day, 2);
    text += ' ';
    appendDigits(text, clock.hours(), 2);
    text += ':';
    appendDigits(text, clock.minutes(), 2);
    text += ':';
    appendDigits(text, clock.seconds(), 2);
    if (const auto fraction = clock.fractional_seconds(); fraction != 0) {
        text += '.';
        appendDigits(text, fraction, clock.num_fractional_digits());
    }
    return text;
}

LogLine::LogLine(std::ostream& echo) : echo_(&echo), exceptionCount_(std::uncaught_exceptions()) {}

LogLine::LogLine(boost::log::sources::logger& source, std::ostream& echo)
    : source_(&source), record_(source.open_record()), echo_(&echo), exceptionCount_(std::uncaught_exceptions())
{
}

LogLine::LogLine(LogLine&& other) noexcept
    : text_(std::move(other.text_)),
      source_(other.source_),
      record_(std::move(other.record_)),
      echo_(std::exchange(other.echo_, nullptr)),
      exceptionCount_(other.exceptionCount_)
{
}

LogLine::~LogLine() noexcept(false)
{
    if (!echo_)
        return;
    endEcho();
    // A line cut short by an exception is incomplete: keep it out of the log.
    if (record_ && std::uncaught_exceptions() <= exceptionCount_)
        pushRecord();
}

void LogLine::endEcho() noexcept
{
    try {
        *echo_ << std::endl;
    } catch (...) {
        // The echo is a courtesy copy; losing it must not lose the record.
    }
}

void LogLine::pushRecord()
{
    {
        boost::log::record_ostream message(record_);
        message << text_.str();
    }
    source_->push_record(std::move(record_));
}

Logger::Logger(uint64_t serial)
{
    source_.add_attribute(tokenAttribute, boost::log::attributes::constant<std::string>(std::to_string(serial)));
}

LogLine Logger::line()
{
    return LogLine(source_, kelvane::utils::nullOut);
}

LogLine Logger::indented()
{
    LogLine opened = line();
    opened << std::string(2 * static_cast<size_t>(std::max(level, 0)), ' ');
    return opened;
}

}  // namespace logging
