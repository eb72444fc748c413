#include "app/editor.hpp"

#include <cstdio>

#include "device/backups_folder.hpp"
#include "ui/ui.hpp"

namespace halvard {

namespace {

// Owns the running worker: started with the LinkContext, stopped and joined before the LinkContext
// and the Ui go, so the worker never touches either after its end.
class RunningWorker {
public:
    RunningWorker(LinkContext& link, const DeviceWorkerHooks& hooks) : link_(link), hooks_(hooks) {
        if (hooks_.start) hooks_.start(link_);
    }
    ~RunningWorker() {
        link_.quit = true;
        if (hooks_.stop) hooks_.stop(link_);
        if (link_.worker.joinable()) link_.worker.join();
    }
    RunningWorker(const RunningWorker&) = delete;
    RunningWorker& operator=(const RunningWorker&) = delete;

private:
    LinkContext& link_;
    const DeviceWorkerHooks& hooks_;
};

// Detaches the window from the platform when the loop is over, whatever ended it.
class OpenWindow {
public:
    explicit OpenWindow(WindowSystem& windows) : windows_(windows) {}
    ~OpenWindow() { windows_.close(); }
    OpenWindow(const OpenWindow&) = delete;
    OpenWindow& operator=(const OpenWindow&) = delete;

private:
    WindowSystem& windows_;
};

}  // namespace

int runEditor(WindowSystem& windows, const DeviceWorkerHooks& worker) {
    Platform platform(kAppTitle, kAppId);
    const std::string failure = windows.open(platform);
    if (!failure.empty()) {
        std::fprintf(stderr, "halvard-editor: %s\n", failure.c_str());
        return 1;
    }
    OpenWindow window(windows);
    // The right-click menu's "Open Backups Folder": the folder the backups before firmware updates
    // go to, made when it is not there yet.
    platform.openBackupsFolder = [&windows] {
        const std::filesystem::path folder = backupsFolder();
        std::error_code ec;
        if (!folder.empty() && (std::filesystem::create_directories(folder, ec), !ec))
            windows.openFolder(folder);
    };
    Ui ui(platform);
    LinkContext link;
    link.ui = &ui;
    link.requestRepaint = platform.requestRepaint;
    RunningWorker running(link, worker);

    windows.show();
    platform.running = true;
    while (platform.running) windows.iterate();
    return 0;
}

}  // namespace halvard
