#pragma once
// The local date and time, as backups are named by. One small implementation per platform
// (posix/, windows/), chosen by the build. Any thread.

#include <ctime>

namespace halvard {

// The local date and time at a moment.
std::tm localTimeAt(std::time_t at);

// The current local date and time.
inline std::tm localTimeNow() {
    return localTimeAt(std::time(nullptr));
}

}  // namespace halvard
