#pragma once
// The port names of one direction, kept between passes for MIDI systems whose listing is slow next
// to the worker's 5 ms pass (WinMM asks every driver for its capabilities). The system's port count
// is checked at most once per interval; the names are read again only when the count differs from
// the list's length, or after invalidate(). Owned by a port back end; worker thread only.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace halvard {

class PortListCache {
public:
    using Clock = std::chrono::steady_clock;

    // countPorts: the system's port count now; nameOf(index): that port's name.
    PortListCache(std::chrono::milliseconds interval, std::function<int()> countPorts,
                  std::function<std::string(int)> nameOf);

    // The list, brought up to date first when the interval has passed since the last check (or it
    // has never been read, or was invalidated).
    const std::vector<std::string>& names(Clock::time_point now);

    // The next names() reads the whole list, whatever the time.
    void invalidate() { valid_ = false; }

    // When the next names() will check the system again (the clock's epoch: at once).
    Clock::time_point nextCheck() const { return valid_ ? lastCheck_ + interval_ : Clock::time_point{}; }

private:
    std::chrono::milliseconds interval_;
    std::function<int()> countPorts_;
    std::function<std::string(int)> nameOf_;
    std::vector<std::string> names_;
    Clock::time_point lastCheck_{};
    bool valid_ = false;
};

}  // namespace halvard
