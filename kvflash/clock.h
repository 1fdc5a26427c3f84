// Time as the wait for a restarting token sees it; tests put in their own
// clock so that no test waits in real time.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace kvfl {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;
    // Waits for an event for at most duration: event(duration) returns when
    // the event happened or the time is up. A clock that keeps time of its
    // own (a test's) lets the whole duration pass instead, as sleepFor does.
    virtual void waitFor(std::chrono::milliseconds duration,
                         const std::function<void(std::chrono::milliseconds)>& event)
    {
        (void)event;
        sleepFor(duration);
    }
};

// The steady clock and a real sleep.
std::shared_ptr<Clock> steadyClock();

}  // namespace kvfl
