#pragma once

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/log/core/record.hpp>
#include <boost/log/sources/logger.hpp>

#include <cstdint>
#include <exception>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>

namespace logging {

class WriteFileException : public std::exception {
public:
    const char* what() const noexcept override { return "Не удалось сохранить Лог-файл."; }
};

// Creates "logs" below the current directory and proves a file can be written there.
void prepareLogDirectory();
// Installs the per-token file sink; prefix is UTF-8 and may contain a path separator.
void initLogging(const std::string& prefix);
// The same with the run's start time given as fileTimeStamp text: every record
// of the run goes to the file named with it.
void initLogging(const std::string& prefix, const std::string& startTime);
// The local time as "%Y-%m-%d-%H.%M.%S".
std::string fileTimeStamp();
// A record's time stamp as the date-time library writes it by default,
// "2024-Mar-05 14:03:27.512000", the fraction only when it is not zero; made
// here without the library's stream facets, which cost microseconds a line.
std::string timeStampText(const boost::posix_time::ptime& time);

// One report line in progress. Ending it pushes the record, unless an
// exception began after the line was opened.
class LogLine {
public:
    // A console-only line: a copy of the text goes to echo, nothing to the log.
    explicit LogLine(std::ostream& echo);
    LogLine(boost::log::sources::logger& source, std::ostream& echo);
    LogLine(LogLine&& other) noexcept;
    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;
    LogLine& operator=(LogLine&&) = delete;
    ~LogLine() noexcept(false);

    template <typename T>
    LogLine& operator<<(const T& value)
    {
        text_ << value;
        *echo_ << value;
        return *this;
    }

private:
    void endEcho() noexcept;
    void pushRecord();

    std::ostringstream text_;
    boost::log::sources::logger* source_ = nullptr;
    // Opened with the line, so its time stamp is when the line began; empty
    // when no sink takes records, and for console-only lines.
    boost::log::record record_;
    // Null once the line has been moved from.
    std::ostream* echo_;
    int exceptionCount_;
};

class Logger {
public:
    explicit Logger(uint64_t serial);

    // Opens a line with nothing written yet: a blank separator line as it stands.
    LogLine line();
    // Opens a line already indented by 2 x level spaces.
    LogLine indented();

    int level = 0;

private:
    boost::log::sources::logger source_;
};

// Writes the lines of its scope one level deeper and restores the level it found.
class DeeperLevel {
public:
    explicit DeeperLevel(Logger& logger) : logger_(logger), saved_(logger.level) { ++logger_.level; }
    ~DeeperLevel() { logger_.level = saved_; }
    DeeperLevel(const DeeperLevel&) = delete;
    DeeperLevel& operator=(const DeeperLevel&) = delete;

private:
    Logger& logger_;
    int saved_;
};

}  // namespace logging
