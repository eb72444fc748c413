#include "app/editor.hpp"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

#include "app/editor_settings.hpp"
#include "device/firmware/firmware_download.hpp"
#include "device/link/amplifier_lock.hpp"
#include "device/link/file_dialogs.hpp"
#include "device/worker/worker.hpp"
#include "halvard_version.hpp"
#include "ui/ui.hpp"
#include "util/data_folder.hpp"

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

// Shows the panel to the window's screen-reader support while it lives.
class AttachedPanel {
public:
    AttachedPanel(WindowSystem& windows, Ui& ui) : windows_(windows) { windows_.attachPanel(&ui); }
    ~AttachedPanel() { windows_.attachPanel(nullptr); }
    AttachedPanel(const AttachedPanel&) = delete;
    AttachedPanel& operator=(const AttachedPanel&) = delete;

private:
    WindowSystem& windows_;
};

}  // namespace

int runEditor(WindowSystem& windows, const DeviceWorkerHooks& worker, const EditorCommandLine& commandLine) {
    Platform platform(kAppTitle, kAppId);
    // The zoom of the last run, before the window opens at its size.
    const std::filesystem::path settingsFile = windows.settingsFile();
    const EditorSettings settings =
        settingsFile.empty() ? EditorSettings{} : loadEditorSettings(settingsFile);
    platform.setZoom(settings.zoomPercent);
    const std::string failure = windows.open(platform);
    if (!failure.empty()) {
        std::fprintf(stderr, "halvard-editor: %s\n", failure.c_str());
        return 1;
    }
    OpenWindow window(windows);
    // The zoom is kept with the port text of the settings (a --port of this run is not kept).
    platform.keepZoom = [&settingsFile, &settings](int percent) {
        EditorSettings kept = settings;
        kept.zoomPercent = percent;
        if (!settingsFile.empty()) saveEditorSettings(settingsFile, kept);
    };
    // The right-click menu's "Open Backups Folder": the folder the backups before firmware updates
    // go to, made when it is not there yet.
    platform.openBackupsFolder = [&windows] {
        const std::filesystem::path folder = backupsFolder();
        std::error_code ec;
        if (!folder.empty() && (std::filesystem::create_directories(folder, ec), !ec))
            windows.openFolder(folder);
    };
    Ui ui(platform);
    AttachedPanel attached(windows, ui);
    LinkContext link;
    link.ui = &ui;
    link.requestRepaint = platform.requestRepaint;
    link.amplifierPortTag = commandLine.port.empty() ? settings.port : commandLine.port;
    RunningWorker running(link, worker);

    windows.show();
    platform.running = true;
    while (platform.running) windows.iterate();
    return 0;
}

std::optional<int> editorOptions(int argc, char** argv, EditorCommandLine& commandLine) {
    // The editor finds the amplifier by itself; --port only names what its ports are called.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("halvard-editor %s\n", kAppVersion);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf(
            "Usage: halvard-editor [--port TEXT] | --help | --version\n"
            "Opens the editor's window; it finds the amplifier by its MIDI port names.\n"
            "  --port TEXT  the amplifier's ports are the first whose names contain TEXT (default: the\n"
            "               settings file's port=, else VDR)\n");
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--port" && i + 1 < argc && argv[i + 1][0] != '\0') {
            commandLine.port = argv[++i];
        } else if (arg.starts_with("--port=") && arg.size() > 7) {
            commandLine.port = arg.substr(7);
        } else {
            std::fprintf(stderr, "halvard-editor: %s (see --help)\n",
                         arg == "--port" || arg == "--port="
                             ? "--port wants a text the port names contain"
                             : ("unknown option \"" + std::string(arg) + "\"").c_str());
            return 2;
        }
    }
    return std::nullopt;
}

int runEditorProgram(WindowSystem& windows, FileDialogs& dialogs, const EditorCommandLine& commandLine) {
    HttpFirmwareSource firmware;  // the address compiled in (HALVARD_FIRMWARE_BASE_URL)
    AmplifierLock amplifierLock;  // one program at a time at the amplifier
    const DeviceWorkerHooks worker{
        [&firmware, &dialogs, &amplifierLock](LinkContext& link) {
            link.firmware = &firmware;
            link.amplifierLock = &amplifierLock;
            link.dialogs = &dialogs;
            link.backupFolder = backupsFolder();  // automatic backups the library cannot keep
            link.libraryPath = libraryFile();     // opened by the worker
            dialogs.watch(&link.quit);
            startDeviceWorker(link);  // RtMidi on the system's MIDI service
        },
        [&dialogs](LinkContext& link) {
            dialogs.shutdown();  // an open dialog closes and its waiting worker goes on
            stopDeviceWorker(link);
        },
    };
    try {
        return runEditor(windows, worker, commandLine);
    } catch (const std::system_error& e) {  // the worker thread could not be started
        std::fprintf(stderr, "halvard-editor: %s\n", e.what());
        return 1;
    }
}

}  // namespace halvard
