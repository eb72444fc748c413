#include "device/link/clock.hpp"

#include <algorithm>
#include <thread>

namespace halvard {

Clock::TimePoint SteadyClock::now() {
    return std::chrono::steady_clock::now();
}

// The C++ library sleeps once towards a steady-clock deadline and may wake before it (MinGW's
// sleep rounds the time left down to whole milliseconds); so it sleeps again for the rest.
void SteadyClock::sleepUntil(TimePoint deadline) {
    while (now() < deadline) std::this_thread::sleep_until(deadline);
}

void SteadyClock::waitUntil(TimePoint deadline, Wakeup& wakeup) {
    while (!wakeup.sleepUntil(deadline) && now() < deadline) {
    }
}

void VirtualClock::advanceTo(TimePoint deadline) {
    if (deadline > now_) now_ = deadline;
    // Scheduled notices that are due, in their order.
    std::stable_sort(notices_.begin(), notices_.end(),
                     [](const Notice& a, const Notice& b) { return a.at < b.at; });
    while (!notices_.empty() && notices_.front().at <= now_) {
        Wakeup* wakeup = notices_.front().wakeup;
        notices_.erase(notices_.begin());
        wakeup->notify();
    }
}

void VirtualClock::sleepUntil(TimePoint deadline) {
    advanceTo(deadline);
    if (onAdvance) onAdvance(now_);
}

void VirtualClock::waitUntil(TimePoint deadline, Wakeup& wakeup) {
    if (wakeup.take()) return;
    for (const Notice& n : notices_)
        if (n.wakeup == &wakeup && n.at < deadline) deadline = std::max(n.at, now_);
    sleepUntil(deadline);
}

void VirtualClock::notifyAt(TimePoint at, Wakeup& wakeup) {
    notices_.push_back({at, &wakeup});
    if (at <= now_) advanceTo(now_);
}

}  // namespace halvard
