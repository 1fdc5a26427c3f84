#pragma once

#include <boost/log/sinks/sync_frontend.hpp>

#include <memory>
#include <string>
#include <vector>

class CapturingBackend;

// Collects the text of every report line written while it lives
// (message only, no time stamp), so tests can compare whole reports.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<std::string>& lines() const;

private:
    boost::shared_ptr<CapturingBackend> backend_;
    boost::shared_ptr<boost::log::sinks::synchronous_sink<CapturingBackend>> sink_;
};
