#include "app/editor.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/editor_settings.hpp"
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
        zoomAtOpen = p.zoomPercent;
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
        if (duringLoop) duringLoop();
        if (iterations == 3) platform->closeRequest();
    }
    std::function<void()> duringLoop;
    int zoomAtOpen = 0;
    void close() override { calls.push_back("close"); }
    std::filesystem::path settingsFile() const override { return settings; }

    std::filesystem::path settings;  // none unless a test names one
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

// The zoom is kept in the settings file: read before the window opens, written when it changes; a
// file it cannot read gives the default.
TEST(Editor, KeepsTheZoomBetweenRuns) {
    const std::filesystem::path file =
        std::filesystem::path(::testing::TempDir()) / "editor-settings" / "settings";
    std::filesystem::remove_all(file.parent_path());
    FakeWindows first;
    first.settings = file;
    first.duringLoop = [&] {
        if (first.iterations == 1) first.platform->keyEvent(KeyCode::Plus, kKeyControl);
    };
    EXPECT_EQ(runEditor(first, {}), 0);
    EXPECT_EQ(first.zoomAtOpen, 100);
    EXPECT_EQ(loadEditorSettings(file).zoomPercent, 110);

    FakeWindows second;
    second.settings = file;
    EXPECT_EQ(runEditor(second, {}), 0);
    EXPECT_EQ(second.zoomAtOpen, 110) << "the window opens at the kept zoom";

    for (const char* bad : {"zoom=3000\n", "zoom=1x0\n", "\xff\xfe garbage", "zoom=\n"})
        EXPECT_EQ(parseEditorSettings(bad).zoomPercent, 100) << bad;
    EXPECT_EQ(parseEditorSettings("# a note\nother=1\n zoom = 175 \r\n").zoomPercent, 175);
    EXPECT_EQ(loadEditorSettings(file.parent_path() / "missing").zoomPercent, 100);
}

// The amplifier's port text: the settings' (kept when the zoom is), unless the command line names
// another for this run only.
TEST(Editor, LooksForThePortTheSettingsOrTheCommandLineName) {
    const std::filesystem::path file =
        std::filesystem::path(::testing::TempDir()) / "editor-port" / "settings";
    std::filesystem::remove_all(file.parent_path());
    ASSERT_TRUE(saveEditorSettings(file, {120, "My Amp"}));
    std::string looked;
    const DeviceWorkerHooks hooks{[&](LinkContext& link) { looked = link.amplifierPortTag; },
                                  [](LinkContext&) {}};
    FakeWindows first;
    first.settings = file;
    first.duringLoop = [&] {
        if (first.iterations == 1) first.platform->keyEvent(KeyCode::Plus, kKeyControl);
    };
    EXPECT_EQ(runEditor(first, hooks), 0);
    EXPECT_EQ(looked, "My Amp");
    EXPECT_EQ(loadEditorSettings(file).port, "My Amp") << "kept with the zoom";
    EXPECT_GT(loadEditorSettings(file).zoomPercent, 120);

    FakeWindows second;
    second.settings = file;
    EXPECT_EQ(runEditor(second, hooks, {"Other"}), 0);
    EXPECT_EQ(looked, "Other");
    EXPECT_EQ(parseEditorSettings("port=\n").port, "VDR");

    const auto options = [](std::vector<const char*> args, EditorCommandLine& line) {
        args.insert(args.begin(), "halvard-editor");
        return editorOptions(static_cast<int>(args.size()), const_cast<char**>(args.data()), line);
    };
    EditorCommandLine line;
    EXPECT_EQ(options({"--port", "USB MIDI"}, line), std::nullopt);
    EXPECT_EQ(line.port, "USB MIDI");
    EXPECT_EQ(options({"--port=X"}, line), std::nullopt);
    EXPECT_EQ(line.port, "X");
    EXPECT_EQ(options({"--port"}, line), 2);
    EXPECT_EQ(options({"--bogus"}, line), 2);
}

}  // namespace
}  // namespace halvard
