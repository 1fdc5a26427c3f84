#include "logCapture.h"

#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>

class CapturingBackend : public boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
public:
    void consume(const boost::log::record_view& record)
    {
        auto message = boost::log::extract<std::string>(boost::log::expressions::smessage.get_name(), record);
        lines.push_back(message ? *message : std::string());
    }

    std::vector<std::string> lines;
};

LogCapture::LogCapture()
    : backend_(boost::make_shared<CapturingBackend>()),
      sink_(boost::make_shared<boost::log::sinks::synchronous_sink<CapturingBackend>>(backend_))
{
    boost::log::core::get()->add_sink(sink_);
}

LogCapture::~LogCapture()
{
    boost::log::core::get()->remove_sink(sink_);
}

const std::vector<std::string>& LogCapture::lines() const
{
    return backend_->lines;
}
