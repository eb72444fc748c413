// The running editor against the amplifier emulator on the private JACK server, driven by the
// keyboard alone (xdotool, as a user types): Tab to REVERB and Space write what a click writes,
// Ctrl+Z writes what the click that takes it back writes, Page Up reads the next program, Ctrl+plus
// grows the window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "editor_session.hpp"
#include "emulator_process.hpp"

namespace halvard::testing {
namespace {

using e2e::EmulatorProcess;
using Bytes = std::vector<uint8_t>;

TEST(KeyboardGui, TabSpaceUndoPageUpAndZoomActAsTheirPointerCounterparts) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (CTest starts one for the gui tests)";
    std::string why;
    ASSERT_TRUE(e2e::ensureJackServer(&why)) << why;
    const std::filesystem::path config = std::filesystem::path(::testing::TempDir()) / "keyboard-gui";
    std::filesystem::remove_all(config);

    EmulatorProcess amp;
    ASSERT_TRUE(amp.ready()) << amp.transcript();
    ASSERT_EQ(amp.command("set-record 0 01210110020101102331").rfind("ok", 0), 0u);

    XSession x;
    ASSERT_TRUE(x.connected());
    EditorProcess editor(editorExecutable(),
                         {"GSETTINGS_BACKEND=memory", "XDG_CONFIG_HOME=" + config.string()});
    ASSERT_TRUE(editor.started());
    const unsigned long window = x.findWindow("Halvard Editor", Millis(20000));
    ASSERT_NE(window, 0u) << "no editor window";
    const auto [w, h] = x.windowSize(window);
    ASSERT_TRUE(showsConnectedPanel(x, window)) << "the editor did not connect\n" << amp.transcript();
    ASSERT_EQ(amp.command("clear").rfind("ok", 0), 0u);

    const std::string at = "mousemove --window " + std::to_string(window) + " ";
    const auto writes = [&](int n) {
        return EmulatorProcess::waitFor([&] { return amp.received(0x01) >= n; }) && amp.received(0x01) == n;
    };
    // REVERB on and off again with the pointer: the bytes each click writes.
    const int reverbX = (w - 964) / 2 + 490 + 20;
    ASSERT_TRUE(xdotool(at + std::to_string(reverbX) + " 61 click 1"));
    ASSERT_TRUE(writes(1)) << amp.transcript();
    const Bytes on = amp.message(-1);
    ASSERT_TRUE(xdotool("click 1"));
    ASSERT_TRUE(writes(2)) << amp.transcript();
    const Bytes off = amp.message(-1);
    ASSERT_NE(on, off);

    // The keys go to the window under the pointer (Xvfb has no window manager to give it the focus):
    // the pointer rests on the amplifier picture, over no control.
    ASSERT_TRUE(xdotool(at + "700 500"));
    ASSERT_TRUE(xdotool("key --delay 30 Tab Tab Tab Tab Tab Tab Tab Tab space"));
    ASSERT_TRUE(writes(3)) << "Tab to REVERB, Space\n" << amp.transcript();
    EXPECT_EQ(amp.message(-1), on);
    ASSERT_TRUE(xdotool("key ctrl+z"));
    ASSERT_TRUE(writes(4)) << amp.transcript();
    EXPECT_EQ(amp.message(-1), off) << "undo writes what the click taking it back writes";
    EXPECT_EQ(amp.recordHex(0), "01210110020101102331");

    ASSERT_TRUE(xdotool("key Page_Up"));
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp.received(0x02) >= 1; })) << amp.transcript();
    EXPECT_EQ(amp.message(-1), (Bytes{0xF0, 0x00, 0x02, 0x01, 0xF7})) << "program 1, never read, is read";

    ASSERT_TRUE(xdotool("key ctrl+plus"));
    EXPECT_TRUE(waitUntil(
        [&] {
            return x.windowSize(window) == std::pair{w * 110 / 100, h * 110 / 100};
        },
        Millis(5000), Millis(10)))
        << "the window grows with the panel to 110 %";

    x.sendCloseRequest(window);
    EXPECT_EQ(editor.waitForExit(Millis(20000)), 0);
}

}  // namespace
}  // namespace halvard::testing
