#pragma once
// The device worker's only source of time. Every wait is "sleep until a deadline", so the worker
// runs unchanged on the platform's steady clock in the program and on a virtual clock in tests.
// No sleep ends before its deadline: a budget of 1000 ms lasts at least 1000 ms of steady clock.

#include <chrono>
#include <functional>
#include <vector>

#include "util/wakeup.hpp"

namespace halvard {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
    // Returns once now() has reached deadline, never before. The worker's 5 ms steps and pauses:
    // a platform clock keeps the system's timer fine enough for them while they go on.
    virtual void sleepUntil(TimePoint deadline) = 0;
    // Sleeps until deadline or, earlier, until wakeup is notified (see Wakeup): the worker's idle
    // wait, with nothing under way. A platform clock lets the system's timer go coarse again.
    virtual void waitUntil(TimePoint deadline, Wakeup& wakeup) = 0;
};

// std::chrono::steady_clock, sleeping again for the rest when a sleep wakes before its deadline.
class SteadyClock : public Clock {
public:
    TimePoint now() override;
    void sleepUntil(TimePoint deadline) override;
    void waitUntil(TimePoint deadline, Wakeup& wakeup) override;
};

// The process-wide platform clock (used when a LinkContext names no clock): the steady clock on
// Linux (link/posix/), on Windows the same on a high-resolution waitable timer (link/windows/).
Clock& steadyClock();

// Virtual time for tests: sleeping jumps to the deadline at once. Starts at TimePoint{}.
// onAdvance runs after every sleep with the new time, so a fake can deliver scripted input or
// change the world (unplug a port, post a command, set quit) at a virtual moment.
// A wait ends at once when a notice is pending (no time passes), at the first notice scheduled
// with notifyAt before its deadline (at that moment), else at its deadline.
// Single-threaded: use it from the thread that runs the worker.
class VirtualClock final : public Clock {
public:
    TimePoint now() override { return now_; }
    void sleepUntil(TimePoint deadline) override;
    void waitUntil(TimePoint deadline, Wakeup& wakeup) override;

    // Notifies wakeup once the virtual time reaches at (input that arrives later, say).
    void notifyAt(TimePoint at, Wakeup& wakeup);

    // Milliseconds since the virtual start.
    long long elapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now_.time_since_epoch()).count();
    }

    std::function<void(TimePoint)> onAdvance;

private:
    struct Notice {
        TimePoint at;
        Wakeup* wakeup;
    };
    void advanceTo(TimePoint deadline);

    TimePoint now_{};
    std::vector<Notice> notices_;
};

}  // namespace halvard
