#pragma once
// The port names of one direction, kept between passes for MIDI systems whose listing is slow next
// to the worker's 5 ms pass (WinMM asks every driver for its capabilities). The system is listed
// (count and names) at most once per interval, or at once after invalidate(). The names are read
// every time, not only when the count changed: a device unplugged and another plugged in within one
// interval keep the count, and under Wine a device never leaves the count at all (a driver's devices
// are counted once) but loses its name. Owned by a port back end; worker thread only.

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

    // The list, read again first when the interval has passed since the last check (or it has
    // never been read, or was invalidated).
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
