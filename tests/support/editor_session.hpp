#pragma once
// Drives the real halvard-editor on an X display (Xvfb in the tests): starts the process, finds its
// window, reads its pixels and properties and sends it a close request the way a window manager
// does. Shared by the window tests and the start-up benchmark.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct _XDisplay;

namespace halvard::testing {

using Millis = std::chrono::milliseconds;

// The editor under test: $HALVARD_TEST_EDITOR when set (an installed copy), else the build tree's.
std::string editorExecutable();

class EditorProcess {
public:
    // Starts the executable with extra environment entries ("NAME=value"), which replace inherited
    // ones of the same name.
    explicit EditorProcess(const std::string& executable, const std::vector<std::string>& extraEnv = {});
    ~EditorProcess();  // kills the process if it still runs
    EditorProcess(const EditorProcess&) = delete;
    EditorProcess& operator=(const EditorProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // The exit code once the process has ended within the timeout (128 + n for signal n).
    std::optional<int> waitForExit(Millis timeout);
    // Peak resident memory so far (VmHWM), in KiB; 0 when unknown.
    long peakResidentKb() const;

private:
    pid_t pid_ = -1;
    std::optional<int> exitCode_;
};

class XSession {
public:
    XSession();  // opens $DISPLAY
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    bool connected() const { return display_ != nullptr; }
    // The top-level window whose title is `title` (searched until the timeout); 0 when none.
    unsigned long findWindow(const std::string& title, Millis timeout);
    // The window's size in pixels.
    std::pair<int, int> windowSize(unsigned long window);
    // The pixel at (x, y) of the window as 0xRRGGBB; nullopt when it cannot be read.
    std::optional<uint32_t> pixel(unsigned long window, int x, int y);
    // The instance part of the window's WM_CLASS (GTK puts the program name there).
    std::string windowClassName(unsigned long window);
    // The width of the largest picture in the window's icon (_NET_WM_ICON); 0 when it has none.
    int largestIconWidth(unsigned long window);
    // Makes the window repaint all of itself (an expose, as when it is uncovered).
    void exposeWindow(unsigned long window);
    // Asks the window to close (WM_PROTOCOLS / WM_DELETE_WINDOW), as the close button does.
    void sendCloseRequest(unsigned long window);
    // Drops files on the window at (x, y) as a file manager does: the drag-and-drop protocol's
    // source side (XDND, text/uri-list), from a window of this session's own. True once the window
    // took the drop and said it has finished with it.
    bool dropFiles(unsigned long window, int x, int y, const std::vector<std::string>& paths, Millis timeout);

private:
    ::_XDisplay* display_ = nullptr;
};

// Polls until pred() is true or the timeout passes; returns the last result.
template <class Pred>
bool waitUntil(Pred pred, Millis timeout, Millis step = Millis(2)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(step);
    }
}

// The panel's left column once the veil is gone: it lies over the panel while there is no device
// and while the worker reads the amplifier.
inline constexpr uint32_t kUnveiledPanel = 0x141416;

// Waits (up to 30 s) until the editor's window shows the connected, idle panel.
bool showsConnectedPanel(XSession& x, unsigned long window);

// Runs xdotool with these arguments, its output discarded; true when it succeeded.
bool xdotool(const std::string& args);

}  // namespace halvard::testing
