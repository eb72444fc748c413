#pragma once
// The input queue of the RtMidi back ends. RtMidi's own queue cannot tell anyone that a message has
// come, so its input calls back instead (on RtMidi's input thread) into this queue, which holds the
// messages for the worker and notifies the worker's wake-up at each one: connected and idle, the
// worker sleeps until then rather than look at the input on a timer.

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "util/wakeup.hpp"

namespace halvard {

class RtMidiInputQueue {
public:
    explicit RtMidiInputQueue(size_t limit) : limit_(limit) {}
    RtMidiInputQueue(const RtMidiInputQueue&) = delete;
    RtMidiInputQueue& operator=(const RtMidiInputQueue&) = delete;

    // Once, on an input object that this queue outlives (its thread calls back until it is gone).
    void fillFrom(RtMidiIn& in) { in.setCallback(&RtMidiInputQueue::onMessage, this); }
    void reportTo(Wakeup* wakeup) { wakeup_ = wakeup; }

    // The oldest message, swapped into `into`; false when none is queued.
    bool take(std::vector<unsigned char>& into) {
        const std::lock_guard lock(mutex_);
        if (messages_.empty()) return false;
        into.swap(messages_.front());
        messages_.pop_front();
        return true;
    }
    void clear() {
        const std::lock_guard lock(mutex_);
        messages_.clear();
    }

private:
    static void onMessage(double, std::vector<unsigned char>* message, void* self) {
        auto* queue = static_cast<RtMidiInputQueue*>(self);
        if (message == nullptr || message->empty()) return;
        {
            const std::lock_guard lock(queue->mutex_);
            if (queue->messages_.size() >= queue->limit_)
                return;  // full: lost, as a full MIDI queue loses it
            queue->messages_.push_back(*message);
        }
        if (Wakeup* wakeup = queue->wakeup_.load()) wakeup->notify();
    }

    const size_t limit_;
    std::mutex mutex_;
    std::deque<std::vector<unsigned char>> messages_;
    std::atomic<Wakeup*> wakeup_{nullptr};
};

}  // namespace halvard
