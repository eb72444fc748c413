#include "device/link/windows/windows_clock.hpp"

#include <windows.h>
// mmsystem.h needs the types of windows.h first.
#include <mmsystem.h>

// Newer than the MinGW-w64 headers of Debian 12.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace halvard {
namespace {

constexpr std::chrono::nanoseconds kTimerUnit{100};

}  // namespace

void* WindowsTimerCalls::createTimer(bool highResolution) {
    return CreateWaitableTimerExW(
        nullptr, nullptr, highResolution ? CREATE_WAITABLE_TIMER_HIGH_RESOLUTION : 0, TIMER_ALL_ACCESS);
}

bool WindowsTimerCalls::waitTimer(void* timer, long long hundredNs) {
    LARGE_INTEGER due;
    due.QuadPart = -hundredNs;  // negative: relative to now
    if (!SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) return false;
    WaitForSingleObject(timer, INFINITE);
    return true;
}

void WindowsTimerCalls::closeTimer(void* timer) {
    CloseHandle(timer);
}

bool WindowsTimerCalls::beginPeriod() {
    return timeBeginPeriod(1) == TIMERR_NOERROR;
}

void WindowsTimerCalls::endPeriod() {
    timeEndPeriod(1);
}

bool WindowsTimerCalls::honourTimerResolution(bool honour) {
    PROCESS_POWER_THROTTLING_STATE state{};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    // Control bit set, state bit clear: never ignore this process's timer resolution. Neither set:
    // the system decides.
    state.ControlMask = honour ? PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION : 0;
    state.StateMask = 0;
    return SetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state) != 0;
}

WindowsTimerCalls& systemTimerCalls() {
    static WindowsTimerCalls calls;
    return calls;
}

void WindowsClock::hold() {
    if (held_) return;
    held_ = true;
    if (!highResolutionRefused_) {
        timer_ = calls_.createTimer(true);
        highResolutionRefused_ = timer_ == nullptr;
    }
    if (timer_ == nullptr) {
        timer_ = calls_.createTimer(false);
        periodRaised_ = calls_.beginPeriod();
    }
    if (!honourRefused_) {
        honoured_ = calls_.honourTimerResolution(true);
        honourRefused_ = !honoured_;
    }
}

void WindowsClock::release() {
    if (!held_) return;
    held_ = false;
    if (timer_ != nullptr) calls_.closeTimer(timer_);
    timer_ = nullptr;
    if (periodRaised_) calls_.endPeriod();
    periodRaised_ = false;
    if (honoured_) calls_.honourTimerResolution(false);
    honoured_ = false;
}

void WindowsClock::sleepUntil(TimePoint deadline) {
    hold();
    for (;;) {
        const auto left = deadline - now();
        if (left <= std::chrono::nanoseconds::zero()) return;
        // Rounded up: the timer is not due before the deadline.
        const long long units = (std::chrono::duration_cast<std::chrono::nanoseconds>(left) + kTimerUnit -
                                 std::chrono::nanoseconds(1)) /
                                kTimerUnit;
        if (timer_ == nullptr || !calls_.waitTimer(timer_, units)) {
            SteadyClock::sleepUntil(deadline);
            return;
        }
    }
}

void WindowsClock::waitUntil(TimePoint deadline, Wakeup& wakeup) {
    release();
    SteadyClock::waitUntil(deadline, wakeup);
}

Clock& steadyClock() {
    static WindowsClock clock;
    return clock;
}

}  // namespace halvard
