#include "device/link/clock.hpp"

// Linux: the steady clock (clock_nanosleep on CLOCK_MONOTONIC) is fine enough for 5 ms steps as it
// is; nothing is held while the worker is busy.

namespace halvard {

Clock& steadyClock() {
    static SteadyClock clock;
    return clock;
}

}  // namespace halvard
