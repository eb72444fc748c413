// The Windows clock holds a fine timer only while the worker is busy: asked for at the transfer's
// first step, given back at the worker's idle wait. Each call is recorded and passed on to Windows
// (Wine here).

#include "device/link/windows/windows_clock.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "device/protocol/sysex.hpp"
#include "device/worker/worker.hpp"
#include "fake_device.hpp"

namespace halvard {
namespace {

// What the clock holds of Windows at any moment, counted from its calls.
class RecordingCalls final : public WindowsTimerCalls {
public:
    explicit RecordingCalls(bool refuseHighResolution) : refuseHighResolution_(refuseHighResolution) {}

    int highResolutionTimers = 0;  // open
    int plainTimers = 0;           // open
    int periods = 0;               // timeBeginPeriod(1) calls not yet ended
    bool honoured = false;         // the opt-out of timer-resolution throttling in force
    std::vector<bool> honourCalls;

    void* createTimer(bool highResolution) override {
        if (highResolution && refuseHighResolution_) return nullptr;  // as before Windows 10 1803
        void* timer = WindowsTimerCalls::createTimer(highResolution);
        if (timer != nullptr) ++(highResolution ? highResolutionTimers : plainTimers);
        if (timer != nullptr) timers_.push_back({timer, highResolution});
        return timer;
    }
    void closeTimer(void* timer) override {
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->handle != timer) continue;
            --(it->highResolution ? highResolutionTimers : plainTimers);
            timers_.erase(it);
            break;
        }
        WindowsTimerCalls::closeTimer(timer);
    }
    bool beginPeriod() override {
        ++periods;
        return WindowsTimerCalls::beginPeriod();
    }
    void endPeriod() override {
        --periods;
        WindowsTimerCalls::endPeriod();
    }
    bool honourTimerResolution(bool honour) override {
        honourCalls.push_back(honour);
        // Wine refuses it (not implemented); Windows 11 takes it.
        const bool taken = WindowsTimerCalls::honourTimerResolution(honour);
        if (taken) honoured = honour;
        return taken;
    }

private:
    struct Timer {
        void* handle;
        bool highResolution;
    };
    bool refuseHighResolution_;
    std::vector<Timer> timers_;
};

TEST(WindowsClock, TheFineTimerIsHeldDuringATransferAndGivenBackWhenTheWorkerIsIdle) {
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "high-resolution timer refused: timeBeginPeriod(1)" : "high-resolution timer");
        RecordingCalls calls(refused);
        WindowsClock clock(calls);
        test::FakePorts ports{clock};
        ports.listedUntil = Clock::TimePoint::max();  // ports that report their changes
        DeviceMirror mirror;
        LinkContext ctx;
        ctx.ui = &mirror;
        ctx.clock = &clock;
        ctx.ports = &ports;
        // At every repaint of the transfer's progress: what is held.
        int repaintsInTransfer = 0, heldAtEach = 0;
        ctx.requestRepaint = [&] {
            if (mirror.progress < 0 || mirror.progress > 100) return;
            ++repaintsInTransfer;
            const bool fine = refused ? calls.plainTimers == 1 && calls.periods == 1
                                      : calls.highResolutionTimers == 1 && calls.periods == 0;
            if (fine) ++heldAtEach;
        };
        DeviceWorker worker(ctx);
        ports.plugAmp();
        worker.runPass();
        ASSERT_EQ(mirror.linkState, LinkState::Connected);

        mirror.irPanelSlot = 1;
        mirror.factoryIrIndex = 0;
        mirror.postCommand(CommandKind::UploadFactoryIr);
        worker.runPass();
        EXPECT_EQ(mirror.progress, 100) << "the factory IR stored";
        EXPECT_GT(repaintsInTransfer, 100);
        EXPECT_EQ(heldAtEach, repaintsInTransfer) << "the fine timer held throughout the transfer";
        EXPECT_TRUE(clock.holdsFineTimer());

        // The pass after finds nothing to do; the one after that waits idle.
        worker.runPass();
        worker.runPass();
        EXPECT_FALSE(clock.holdsFineTimer());
        EXPECT_EQ(calls.highResolutionTimers + calls.plainTimers, 0) << "the timer given back";
        EXPECT_EQ(calls.periods, 0) << "timeBeginPeriod ended";
        EXPECT_FALSE(calls.honoured) << "the opt-out of throttling ended";
        ASSERT_FALSE(calls.honourCalls.empty());
        EXPECT_TRUE(calls.honourCalls.front()) << "the opt-out is asked for with the timer";
    }
}

}  // namespace
}  // namespace halvard
