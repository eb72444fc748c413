#pragma once
// A notice from any thread to a thread that sleeps until a deadline: the sleeper wakes early when
// a notice comes, and a notice given before it began to sleep is not lost (it ends the next sleep
// at once). Notices do not count up: any number of them before a sleep ends that one sleep.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace halvard {

class Wakeup {
public:
    void notify() {
        {
            const std::lock_guard lock(mutex_);
            pending_ = true;
        }
        changed_.notify_all();
    }

    // Sleeps until deadline or a notice, whichever comes first, and takes the notice; true when a
    // notice ended the sleep.
    bool sleepUntil(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        const bool noticed = changed_.wait_until(lock, deadline, [this] { return pending_; });
        pending_ = false;
        return noticed;
    }

    // Takes a notice given since the last sleep; true if there was one.
    bool take() {
        const std::lock_guard lock(mutex_);
        const bool was = pending_;
        pending_ = false;
        return was;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool pending_ = false;
};

}  // namespace halvard
