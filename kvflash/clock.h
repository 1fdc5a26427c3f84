// Time as the wait for a restarting token sees it; tests put in their own
// clock so that no test waits in real time.
#pragma once

#include <chrono>
#include <memory>

namespace kvfl {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

// The steady clock and a real sleep.
std::shared_ptr<Clock> steadyClock();

}  // namespace kvfl
