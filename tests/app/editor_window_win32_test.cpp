// The real editor on Windows (under Wine and Xvfb in the tests): its window opens at the size the
// desktop's DPI gives, shows the panel with NO DEVICE, and the process ends with exit code 0 on a
// close request.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "app/platform.hpp"
#include "editor_process_win32.hpp"
#include "ui/canvas.hpp"

namespace halvard::testing {
namespace {

using namespace std::chrono_literals;

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
    makeDpiAware();
    const float dpi = desktopDpi();
    EditorProcess editor(HALVARD_EDITOR);
    ASSERT_TRUE(editor.started());
    const HWND window = editor.findWindow(30s);
    ASSERT_NE(window, nullptr) << "no window titled \"Halvard Editor\" appeared";
    RECT outer;
    GetWindowRect(window, &outer);
    std::printf("desktop at %g DPI: window %ld x %ld\n", dpi, outer.right - outer.left,
                outer.bottom - outer.top);
    EXPECT_EQ(WindowSize({outer.right - outer.left, outer.bottom - outer.top}), windowSizeForDpi(dpi))
        << "at " << dpi << " DPI, frame included";

    // The panel, probed in DIPs: with no device, the connection box dark over the veil with its
    // text in light letters, and the left column under the veil.
    EXPECT_TRUE(waitUntil([&] { return EditorProcess::painted(window); }, 30s))
        << "the panel was not painted";
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const float k = dpi / 96.0f;
    const auto at = [&](int x, int y) {
        return screenPixel(origin.x + static_cast<int>(x * k), origin.y + static_cast<int>(y * k));
    };
    EXPECT_TRUE(similar(at(263, 20), kColorPanel & 0xffffff)) << "the connection box is lit: a device?";
    EXPECT_TRUE(similar(at(125, 400), 0x070708)) << "the left column is not under the veil";
    int textPixels = 0;
    for (int y = 12; y < 30; ++y) {
        for (int x = 270; x < 350; ++x) textPixels += similar(at(x, y), kColorTextLight & 0xffffff, 60);
    }
    EXPECT_GT(textPixels, 20) << "no text in the connection box";

    // Still running a while later: the timer and repaints do not end it.
    EXPECT_EQ(editor.waitForExit(700ms), std::nullopt);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(editor.waitForExit(20s), 0u) << "no exit, or not with 0, after WM_CLOSE";
}

}  // namespace
}  // namespace halvard::testing
