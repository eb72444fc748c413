// The platform's own clock (Linux: the steady clock; Windows: the waitable timer), against the
// steady clock: no step of a reply wait ends before its deadline, and the wait's budget lasts at
// least its time however long the steps take. Real time: about a second.

#include "device/link/clock.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "device/protocol/exchanges.hpp"
#include "fake_device.hpp"

namespace halvard {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// Passes every call on to the platform clock and records each sleep: when it began, its deadline
// and the steady clock when it returned.
class RecordingClock final : public Clock {
public:
    struct Sleep {
        TimePoint began, deadline, ended;
    };
    std::vector<Sleep> sleeps;

    TimePoint now() override { return steadyClock().now(); }
    void sleepUntil(TimePoint deadline) override {
        const TimePoint began = Steady::now();
        steadyClock().sleepUntil(deadline);
        sleeps.push_back({began, deadline, Steady::now()});
    }
    void waitUntil(TimePoint deadline, Wakeup& wakeup) override { steadyClock().waitUntil(deadline, wakeup); }
};

TEST(PlatformClock, AReplyBudgetLastsItsTimeAndNoStepEndsBeforeItsDeadline) {
    RecordingClock clock;
    test::FakePorts ports{clock};
    DeviceMirror mirror;
    LinkContext ctx;
    ctx.ui = &mirror;
    ctx.clock = &clock;
    ctx.ports = &ports;
    ports.plugAmp();
    ports.openPort(PortDirection::Input, 2, "midi Input");
    ports.openPort(PortDirection::Output, 1, "midi Output");
    ports.amp.silent = true;

    const Steady::time_point start = Steady::now();
    EXPECT_EQ(readFirmwareVersion(ctx), ReplyResult::Timeout);
    const auto lasted = Steady::now() - start;
    EXPECT_GE(lasted, std::chrono::milliseconds(kAckBudgetMs));

    ASSERT_GT(clock.sleeps.size(), 1u) << "the budget is spent in steps";
    for (size_t i = 0; i < clock.sleeps.size(); ++i) {
        const RecordingClock::Sleep& s = clock.sleeps[i];
        EXPECT_LE(s.deadline - s.began, std::chrono::milliseconds(kPollIntervalMs)) << "step " << i;
        const double lateUs = std::chrono::duration<double, std::micro>(s.ended - s.deadline).count();
        EXPECT_GE(lateUs, 0.0) << "step " << i << " ended before its deadline";
    }
}

// The idle wait: a notice ends it (also one given before it began); without one, it lasts until
// its deadline.
TEST(PlatformClock, AWaitEndsAtANoticeOrNotBeforeItsDeadline) {
    Clock& clock = steadyClock();
    Wakeup wakeup;
    Clock::TimePoint deadline = clock.now() + 30ms;
    clock.waitUntil(deadline, wakeup);
    EXPECT_GE(clock.now(), deadline);

    wakeup.notify();
    deadline = clock.now() + 60s;
    clock.waitUntil(deadline, wakeup);
    EXPECT_LT(clock.now(), deadline) << "the notice given before the wait ended it";

    std::thread notifier([&] {
        std::this_thread::sleep_for(10ms);
        wakeup.notify();
    });
    clock.waitUntil(clock.now() + 60s, wakeup);
    notifier.join();
    EXPECT_LT(clock.now(), deadline) << "the notice given during the wait ended it";
}

}  // namespace
}  // namespace halvard
