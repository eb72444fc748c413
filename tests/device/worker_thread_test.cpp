// The real worker thread on the steady clock beside a user-interface-like thread that posts
// commands, edits records and reads the mirror. Built under ThreadSanitizer by ./scripts/test.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "device/link/clock.hpp"
#include "device/worker/worker.hpp"
#include "fake_device.hpp"

namespace halvard {
namespace {

using namespace std::chrono_literals;

struct WorkerThread : ::testing::Test {
    test::FakePorts ports{steadyClock()};
    DeviceMirror mirror;
    LinkContext ctx;
    std::atomic<int> repaints{0};

    void SetUp() override {
        ctx.ui = &mirror;
        ctx.ports = &ports;
        ctx.requestRepaint = [this] { ++repaints; };
        ports.plugAmp();
    }
    void TearDown() override { stopDeviceWorker(ctx); }
};

TEST_F(WorkerThread, ReaderPostsAndReadsWhileTheWorkerRuns) {
    // Ports that report their input and their changes: between commands the worker sleeps until a
    // post wakes it.
    ports.listedUntil = Clock::TimePoint::max();
    startDeviceWorker(ctx);
    ASSERT_TRUE(test::eventually([&] { return mirror.linkState == LinkState::Connected; }));

    std::thread reader([&] {
        for (int i = 0; i < 150; ++i) {
            const MirrorView v = mirror.view();
            EXPECT_TRUE(v.current.loaded == 0 || v.current.loaded == 1);
            mirror.editRecord(v.program, [](ProgramSettings& s) { s.reverb[0] ^= 1; });
            mirror.postCommand(i % 3 == 0 ? CommandKind::ReadSettings : CommandKind::SendSettings);
            if (i % 50 == 0) mirror.postCommand(CommandKind::StorePreset);
            std::this_thread::sleep_for(1ms);
        }
    });
    reader.join();
    // Whatever the reader's posts collapsed into, one more write and one more read are carried out.
    ASSERT_TRUE(test::eventually(
        [&] { return mirror.command.load() == Command{} && mirror.linkState == LinkState::Connected; }));
    mirror.postCommand(CommandKind::SendSettings);
    ASSERT_TRUE(test::eventually([&] { return mirror.command.load() == Command{}; }));
    mirror.program = 42;
    mirror.postCommand(CommandKind::ReadSettings);
    ASSERT_TRUE(test::eventually([&] { return mirror.record(42).loaded == 1; }));
    stopDeviceWorker(ctx);

    size_t writes = 0, reads = 0;
    for (const auto& m : ports.sent) {
        writes += m.bytes[2] == kCodeSettingsWrite;
        reads += m.bytes[2] == kCodeSettings;
    }
    EXPECT_GT(writes, 0u);
    EXPECT_GT(reads, 1u);
    EXPECT_GT(repaints, 0);
    EXPECT_FALSE(ports.isPortOpen(PortDirection::Output)) << "the worker closes its ports when it ends";
}

TEST_F(WorkerThread, StopEndsTheWorkerInsideAReplyWait) {
    ports.amp.silent = true;
    startDeviceWorker(ctx);
    ASSERT_TRUE(test::eventually([&] { return mirror.linkState == LinkState::Busy; }));
    stopDeviceWorker(ctx);
    EXPECT_FALSE(ctx.worker.joinable());
    EXPECT_FALSE(ports.isPortOpen(PortDirection::Input));
}

}  // namespace
}  // namespace halvard
