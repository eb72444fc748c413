#include "app/editor.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "ui/ui.hpp"

namespace halvard {
namespace {

// A window system that records the sequence and closes the window after a few loop iterations.
class FakeWindows final : public WindowSystem {
public:
    std::string failure;
    std::vector<std::string> calls;
    Platform* platform = nullptr;
    int iterations = 0;
    bool handlerAtShow = false;
    std::atomic<int> repaints{0};

    std::string open(Platform& p) override {
        calls.push_back("open");
        platform = &p;
        if (failure.empty()) p.requestRepaint = [this] { ++repaints; };
        return failure;
    }
    void show() override {
        calls.push_back("show");
        handlerAtShow = static_cast<bool>(platform->handler);
    }
    void iterate() override {
        ++iterations;
        EXPECT_TRUE(platform->running);
        platform->timerTick();
        if (iterations == 3) platform->closeRequest();
    }
    void close() override { calls.push_back("close"); }
};

TEST(Editor, RunsTheWorkerBesideTheLoopAndJoinsItBeforeTheUiGoes) {
    FakeWindows windows;
    std::atomic<bool> workerRan{false};
    std::atomic<bool> workerSawUi{false};
    std::atomic<bool> workerEnded{false};
    DeviceWorkerHooks hooks;
    hooks.start = [&](LinkContext& link) {
        windows.calls.push_back("start worker");
        link.worker = std::thread([&link, &workerRan, &workerSawUi, &workerEnded] {
            workerRan = true;
            workerSawUi = link.ui != nullptr && link.ui->linkState.load() == LinkState::NoDevice;
            link.repaint();
            while (!link.quit.load()) std::this_thread::yield();
            link.ui->progress = 5;  // the Ui must still be alive here
            workerEnded = true;
        });
    };
    hooks.stop = [&](LinkContext& link) {
        windows.calls.push_back("stop worker");
        EXPECT_TRUE(link.quit.load()) << "quit is set before the worker is waited for";
    };

    EXPECT_EQ(runEditor(windows, hooks), 0);
    EXPECT_EQ(windows.calls,
              (std::vector<std::string>{"open", "start worker", "show", "stop worker", "close"}));
    EXPECT_TRUE(windows.handlerAtShow) << "the Ui is the handler before the window shows";
    EXPECT_EQ(windows.iterations, 3) << "the loop ends after the close request";
    EXPECT_TRUE(workerRan);
    EXPECT_TRUE(workerSawUi);
    EXPECT_TRUE(workerEnded) << "runEditor returned before the worker left its loop";
    EXPECT_GE(windows.repaints.load(), 1) << "the worker's repaint request reaches the window";
}

TEST(Editor, WithoutAWindowNothingStartsAndTheExitCodeIsNotZero) {
    FakeWindows windows;
    windows.failure = "cannot open a display";
    bool started = false;
    DeviceWorkerHooks hooks;
    hooks.start = [&](LinkContext&) { started = true; };
    testing::internal::CaptureStderr();
    EXPECT_EQ(runEditor(windows, hooks), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot open a display"), std::string::npos) << err;
    EXPECT_FALSE(started);
    EXPECT_EQ(windows.calls, std::vector<std::string>{"open"});
}

TEST(Editor, RunsWithNoWorker) {
    FakeWindows windows;
    EXPECT_EQ(runEditor(windows, {}), 0);
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"open", "show", "close"}));
}

}  // namespace
}  // namespace halvard
