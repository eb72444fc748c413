#pragma once
// The clock on Windows. Unless a program asks for a finer timer, every sleep lasts at least one
// period of the system's timer, 15.6 ms by default, three times the worker's 5 ms step. So while
// the worker is busy (from its first step until its next idle wait) this clock holds a fine timer:
// a high-resolution waitable timer (CreateWaitableTimerExW with
// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, Windows 10 1803 and later) or, where that flag is refused,
// a plain waitable timer with the system timer at 1 ms (timeBeginPeriod(1)); and it asks that the
// process's timer resolution be honoured even while its windows are minimised or hidden
// (SetProcessInformation, ProcessPowerThrottling, PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION),
// which Windows 11 would otherwise ignore. All of it is given back at the idle wait, since a finer
// system timer costs battery. Every sleep ends at its deadline, never before: a wait that woke early
// waits again for the rest.

#include "device/link/clock.hpp"

namespace halvard {

// The Windows calls the clock makes, as a seam: a test derives from it to see what is asked for
// and when, and passes each call on. Handles travel as void*.
class WindowsTimerCalls {
public:
    virtual ~WindowsTimerCalls() = default;
    // CreateWaitableTimerExW, with CREATE_WAITABLE_TIMER_HIGH_RESOLUTION when highResolution; null
    // when refused.
    virtual void* createTimer(bool highResolution);
    // SetWaitableTimer, due in `hundredNs` 100 ns units from now, and WaitForSingleObject; false when
    // the timer cannot be set (nothing was waited).
    virtual bool waitTimer(void* timer, long long hundredNs);
    virtual void closeTimer(void* timer);  // CloseHandle
    virtual bool beginPeriod();            // timeBeginPeriod(1); false when refused
    virtual void endPeriod();              // timeEndPeriod(1)
    // SetProcessInformation with ProcessPowerThrottling: the process's timer resolution honoured
    // whatever its windows' state (true), or the system's choice again (false). False when refused.
    virtual bool honourTimerResolution(bool honour);
};

WindowsTimerCalls& systemTimerCalls();

// Used by one thread at a time (the worker, or halvard-cli's main thread).
class WindowsClock final : public SteadyClock {
public:
    explicit WindowsClock(WindowsTimerCalls& calls = systemTimerCalls()) : calls_(calls) {}
    ~WindowsClock() override { release(); }
    WindowsClock(const WindowsClock&) = delete;
    WindowsClock& operator=(const WindowsClock&) = delete;

    // Holds the fine timer (if not yet held) and sleeps on it.
    void sleepUntil(TimePoint deadline) override;
    // Gives the fine timer back, then sleeps until the deadline or a notice.
    void waitUntil(TimePoint deadline, Wakeup& wakeup) override;

    bool holdsFineTimer() const { return held_; }

private:
    void hold();
    void release();

    WindowsTimerCalls& calls_;
    bool held_ = false;
    void* timer_ = nullptr;
    bool periodRaised_ = false;           // timeBeginPeriod(1) is in force (the fallback)
    bool highResolutionRefused_ = false;  // asked once; the fallback from then on
    bool honoured_ = false;               // the opt-out of timer-resolution throttling is in force
    bool honourRefused_ = false;          // asked once and refused (older Windows; Wine): not again
};

}  // namespace halvard
