// The real editor on Windows (under Wine and Xvfb in the tests): its window opens at the size the
// desktop's DPI gives, shows the panel with NO DEVICE, and the process ends with exit code 0 on a
// close request.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "app/platform.hpp"
#include "ui/canvas.hpp"

namespace halvard {
namespace {

using Clock = std::chrono::steady_clock;

template <class Pred>
bool waitUntil(Pred pred, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The build tree's path on the Linux side as Wine's Z: drive sees it.
std::wstring windowsPath(const std::string& path) {
    std::wstring out = L"Z:";
    for (char c : path) out += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return out;
}

// A screen pixel as 0xRRGGBB, read back from the display.
std::optional<uint32_t> screenPixel(int x, int y) {
    HDC screen = GetDC(nullptr);
    const COLORREF c = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    if (c == CLR_INVALID) return std::nullopt;
    return static_cast<uint32_t>(GetRValue(c)) << 16 | static_cast<uint32_t>(GetGValue(c)) << 8 |
           GetBValue(c);
}

bool similar(std::optional<uint32_t> a, uint32_t b, int tolerance = 2) {
    if (!a) return false;
    for (int shift : {16, 8, 0}) {
        if (std::abs(static_cast<int>((*a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff)) >
            tolerance) {
            return false;
        }
    }
    return true;
}

TEST(EditorWindow, OpensAtTheDpiSizeShowsNoDeviceAndClosesCleanly) {
    // Physical pixels for this process too, like the editor's manifest asks for.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    HDC desktop = GetDC(nullptr);
    const float dpi = static_cast<float>(GetDeviceCaps(desktop, LOGPIXELSY));
    ReleaseDC(nullptr, desktop);

    std::wstring command = L"\"" + windowsPath(HALVARD_EDITOR) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    struct Closer {
        PROCESS_INFORMATION& p;
        ~Closer() {
            if (WaitForSingleObject(p.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(p.hProcess, 99);
            CloseHandle(p.hThread);
            CloseHandle(p.hProcess);
        }
    } closer{process};

    HWND window = nullptr;
    ASSERT_TRUE(waitUntil(
        [&] {
            window = FindWindowW(L"Halvard Editor", L"Halvard Editor");
            return window && IsWindowVisible(window);
        },
        std::chrono::seconds(30)))
        << "no window titled \"Halvard Editor\" appeared";
    RECT outer;
    GetWindowRect(window, &outer);
    std::printf("desktop at %g DPI: window %ld x %ld\n", dpi, outer.right - outer.left, outer.bottom - outer.top);
    EXPECT_EQ(WindowSize({outer.right - outer.left, outer.bottom - outer.top}), windowSizeForDpi(dpi))
        << "at " << dpi << " DPI, frame included";

    // The panel, probed in DIPs: the bottom bar in the accent colour; with no device, the connection
    // box dark over the veil and the left column under the veil.
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    RECT client;
    GetClientRect(window, &client);
    const float k = dpi / 96.0f;
    const auto at = [&](int x, int y) {
        return screenPixel(origin.x + static_cast<int>(x * k), origin.y + static_cast<int>(y * k));
    };
    EXPECT_TRUE(
        waitUntil([&] { return similar(screenPixel(origin.x + 4, origin.y + client.bottom - 4), 0xddcfbc); },
                  std::chrono::seconds(30)))
        << "the panel was not painted";
    EXPECT_TRUE(similar(at(263, 20), kColorPanel & 0xffffff)) << "the connection box is lit: a device?";
    EXPECT_TRUE(similar(at(125, 400), 0x070708)) << "the left column is not under the veil";
    int textPixels = 0;  // the light letters of NO DEVICE in the dark box
    for (int y = 12; y < 30; ++y) {
        for (int x = 270; x < 350; ++x) textPixels += similar(at(x, y), kColorTextLight & 0xffffff, 60);
    }
    EXPECT_GT(textPixels, 20) << "no text in the connection box";

    // Still running a while later: the timer and repaints do not end it.
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 700), static_cast<DWORD>(WAIT_TIMEOUT));
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0) << "still running after WM_CLOSE";
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace halvard
