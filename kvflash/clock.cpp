#include "clock.h"

#include <thread>

namespace kvfl {
namespace {

class SteadyClock : public Clock {
public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    void sleepFor(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
    void waitFor(std::chrono::milliseconds duration,
                 const std::function<void(std::chrono::milliseconds)>& event) override
    {
        event(duration);
    }
};

}  // namespace

std::shared_ptr<Clock> steadyClock()
{
    static const auto clock = std::make_shared<SteadyClock>();
    return clock;
}

}  // namespace kvfl
