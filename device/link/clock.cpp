#include "device/link/clock.hpp"

#include <thread>

namespace halvard {

Clock::TimePoint SteadyClock::now() {
    return std::chrono::steady_clock::now();
}

void SteadyClock::sleepUntil(TimePoint deadline) {
    std::this_thread::sleep_until(deadline);
}

void SteadyClock::waitUntil(TimePoint deadline, Wakeup& wakeup) {
    wakeup.sleepUntil(deadline);
}

Clock& steadyClock() {
    static SteadyClock clock;
    return clock;
}

void VirtualClock::sleepUntil(TimePoint deadline) {
    if (deadline > now_) now_ = deadline;
    if (onAdvance) onAdvance(now_);
}

void VirtualClock::waitUntil(TimePoint deadline, Wakeup& wakeup) {
    if (!wakeup.take()) sleepUntil(deadline);
}

}  // namespace halvard
