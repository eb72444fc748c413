#include "device/link/amplifier_lock.hpp"

#include <chrono>

#include "device/link/clock.hpp"

namespace halvard {

bool AmplifierLock::tryTakeForTransfer() {
    if (amplifier_.held()) return true;
    if (waiting_.heldElsewhere()) return false;
    return amplifier_.tryTake();
}

bool AmplifierLock::waitForAmplifier(const std::atomic<bool>& stop, const std::function<void()>& firstWait) {
    Clock& clock = steadyClock();
    bool announced = false;
    while (!stop) {
        // In line first: an editor starts no new transfer while this waits.
        if (waiting_.tryTake() && amplifier_.tryTake()) {
            waiting_.release();
            return true;
        }
        if (!announced && firstWait) firstWait();
        announced = true;
        clock.sleepUntil(clock.now() + std::chrono::milliseconds(10));
    }
    waiting_.release();
    return false;
}

}  // namespace halvard
