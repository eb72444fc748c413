#pragma once
// The device worker's only source of time. Every wait is "sleep until now + interval", so the
// worker runs unchanged on the steady clock in the program and on a virtual clock in tests.

#include <chrono>
#include <functional>

#include "util/wakeup.hpp"

namespace halvard {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
    virtual void sleepUntil(TimePoint deadline) = 0;
    // Sleeps until deadline or, earlier, until wakeup is notified (see Wakeup).
    virtual void waitUntil(TimePoint deadline, Wakeup& wakeup) = 0;
};

// std::chrono::steady_clock and std::this_thread::sleep_until.
class SteadyClock final : public Clock {
public:
    TimePoint now() override;
    void sleepUntil(TimePoint deadline) override;
    void waitUntil(TimePoint deadline, Wakeup& wakeup) override;
};

// The process-wide steady clock (used when a LinkContext names no clock).
Clock& steadyClock();

// Virtual time for tests: sleeping jumps to the deadline at once. Starts at TimePoint{}.
// onAdvance runs after every sleep with the new time, so a fake can deliver scripted input or
// change the world (unplug a port, post a command, set quit) at a virtual moment.
// A wait ends at once when a notice is pending (no time passes), else sleeps to its deadline.
// Single-threaded: use it from the thread that runs the worker.
class VirtualClock final : public Clock {
public:
    TimePoint now() override { return now_; }
    void sleepUntil(TimePoint deadline) override;
    void waitUntil(TimePoint deadline, Wakeup& wakeup) override;

    // Milliseconds since the virtual start.
    long long elapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now_.time_since_epoch()).count();
    }

    std::function<void(TimePoint)> onAdvance;

private:
    TimePoint now_{};
};

}  // namespace halvard
