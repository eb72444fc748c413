#pragma once
// Drives the real halvard-editor.exe from another Windows process (under Wine and Xvfb in the
// tests): starts it, finds its window, reads the screen's pixels and asks it to close. Shared by the
// window test and the start-up benchmark. Call makeDpiAware() first, so that sizes and pixels are
// the display's own.
#include <windows.h>
// psapi.h needs the types of windows.h first.
#include <psapi.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

namespace halvard::testing {

using Clock = std::chrono::steady_clock;

template <class Pred>
bool waitUntil(Pred pred, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step = std::chrono::milliseconds(5)) {
    const auto end = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

inline void makeDpiAware() {
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

inline float desktopDpi() {
    HDC desktop = GetDC(nullptr);
    const int dpi = GetDeviceCaps(desktop, LOGPIXELSY);
    ReleaseDC(nullptr, desktop);
    return static_cast<float>(dpi);
}

// A screen pixel as 0xRRGGBB, read back from the display.
inline std::optional<uint32_t> screenPixel(int x, int y) {
    HDC screen = GetDC(nullptr);
    const COLORREF c = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    if (c == CLR_INVALID) return std::nullopt;
    return static_cast<uint32_t>(GetRValue(c)) << 16 | static_cast<uint32_t>(GetGValue(c)) << 8 |
           GetBValue(c);
}

class EditorProcess {
public:
    // path: the build tree's path on the Linux side, which Wine's Z: drive shows.
    explicit EditorProcess(const std::string& path) {
        std::wstring command = L"\"Z:";
        for (char c : path) command += c == '/' ? L'\\' : static_cast<wchar_t>(c);
        command += L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &process_);
    }
    ~EditorProcess() {
        if (!started_) return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.hProcess, 99);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    EditorProcess(const EditorProcess&) = delete;
    EditorProcess& operator=(const EditorProcess&) = delete;

    bool started() const { return started_; }
    // The visible window titled "Halvard Editor" (of any process), waited for; null when none came.
    HWND findWindow(std::chrono::milliseconds timeout) const {
        HWND window = nullptr;
        waitUntil(
            [&] {
                window = FindWindowW(L"Halvard Editor", L"Halvard Editor");
                return window && IsWindowVisible(window);
            },
            timeout);
        return window && IsWindowVisible(window) ? window : nullptr;
    }
    // True once the bottom bar of the window's client area shows the accent colour: painted.
    static bool painted(HWND window) {
        POINT origin{0, 0};
        RECT client;
        if (!ClientToScreen(window, &origin) || !GetClientRect(window, &client)) return false;
        return screenPixel(origin.x + 4, origin.y + client.bottom - 4) == 0xddcfbcu;
    }
    // The exit code once the process has ended within the timeout.
    std::optional<DWORD> waitForExit(std::chrono::milliseconds timeout) const {
        if (!started_ ||
            WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
            return std::nullopt;
        }
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return code;
    }
    // Peak working set so far, in KiB.
    long peakWorkingSetKb() const {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (!GetProcessMemoryInfo(process_.hProcess, &counters, sizeof counters)) return 0;
        return static_cast<long>(counters.PeakWorkingSetSize / 1024);
    }

private:
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

}  // namespace halvard::testing
