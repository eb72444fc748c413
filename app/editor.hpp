#pragma once
// The editor's start-up, main loop and shutdown, apart from the window system so that tests can
// run the sequence with a fake one:
//   Platform -> window (not shown) -> Ui -> LinkContext -> device worker -> show -> loop while
//   running -> stop and join the worker -> LinkContext, Ui, window, Platform go, in that order.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/platform.hpp"
#include "device/link/link_context.hpp"

namespace halvard {

class Ui;

// What the sequence needs of the window system. Called on the user-interface thread only.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    // Creates the window for the platform, not yet shown, and sets platform.requestRepaint. Returns
    // an empty string, or why there is no window (no display, for example).
    virtual std::string open(Platform& platform) = 0;
    virtual void show() = 0;
    // Waits for window-system input and handles it (one main-loop iteration).
    virtual void iterate() = 0;
    // The loop has ended: detach from the platform; no more events are raised.
    virtual void close() = 0;
    // Shows an existing folder in the desktop's file manager (a window system without one ignores it).
    virtual void openFolder(const std::filesystem::path& folder) { (void)folder; }
    // The panel whose controls the window shows to screen readers, once it exists; nullptr before
    // it goes (readers then find no controls). A window system without accessibility ignores it.
    virtual void attachPanel(Ui* ui) { (void)ui; }
    // The file the editor keeps its settings in (the panel's zoom): in the user's configuration
    // folder, per the platform's custom. Empty: nothing is kept.
    virtual std::filesystem::path settingsFile() const { return {}; }
};

// Starts and stops the device worker on a LinkContext; empty members run no worker.
struct DeviceWorkerHooks {
    std::function<void(LinkContext&)> start;  // starts the thread in link.worker
    std::function<void(LinkContext&)> stop;   // sets link.quit and joins link.worker
};

// What the command line asks of this run.
struct EditorCommandLine {
    std::string port;  // --port TEXT: the amplifier's port names contain TEXT; empty: the settings'
};

// Runs the editor to its end. Returns 0 after a close request, 1 when there is no window (with a
// message on standard error, before anything else starts).
int runEditor(WindowSystem& windows, const DeviceWorkerHooks& worker,
              const EditorCommandLine& commandLine = {});

class FileDialogs;

// The program's command line: nothing or --port TEXT (nullopt: run the editor, with commandLine
// filled), --version or --help (printed; exit code 0) or anything else (a message on standard
// error; exit code 2).
std::optional<int> editorOptions(int argc, char** argv, EditorCommandLine& commandLine);

// The program: runEditor with the device worker on the system's MIDI ports, the firmware server
// compiled in, and the platform's dialogs for the worker (shut down at exit before the worker is
// joined). Also returns 1 when the worker thread cannot be started.
int runEditorProgram(WindowSystem& windows, FileDialogs& dialogs, const EditorCommandLine& commandLine = {});

}  // namespace halvard
