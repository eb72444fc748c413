// The real editor on an X display: it opens its window at the default size, paints the panel, and
// ends with exit code 0 on a close request.
#include <gtest/gtest.h>

#include <cstdlib>

#include "editor_session.hpp"
#include "halvard_version.hpp"

namespace halvard::testing {
namespace {

constexpr uint32_t kAccent = 0xddcfbc;  // the bottom bar

TEST(EditorWindow, OpensPaintsAndClosesCleanly) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (CTest starts one for the gui tests)";
    XSession x;
    ASSERT_TRUE(x.connected());
    EditorProcess editor(editorExecutable());
    ASSERT_TRUE(editor.started());

    const unsigned long window = x.findWindow("Halvard Editor", Millis(20000));
    ASSERT_NE(window, 0u) << "no window titled \"Halvard Editor\" appeared";
    const auto [w, h] = x.windowSize(window);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 900);

    // Painted: the bottom bar shows in the accent colour, left and right.
    EXPECT_TRUE(waitUntil([&] { return x.pixel(window, 4, h - 4) == kAccent; }, Millis(20000)))
        << "the panel was not painted";
    EXPECT_EQ(x.pixel(window, w - 4, h - 4), kAccent);
    EXPECT_NE(x.pixel(window, 4, 4), kAccent) << "the top left is the dark logo area";

    // The window belongs to the application id (the desktop entry of that name) and carries the
    // badge as its icon, from the icon theme where installed, else the copy compiled in.
    EXPECT_EQ(x.windowClassName(window), kAppId);
    EXPECT_GE(x.largestIconWidth(window), 48);

    // Still running a while later (the timer and repaints do not end it).
    EXPECT_EQ(editor.waitForExit(Millis(700)), std::nullopt);

    x.sendCloseRequest(window);
    EXPECT_EQ(editor.waitForExit(Millis(20000)), 0);
}

}  // namespace
}  // namespace halvard::testing
