// The running editor against the amplifier emulator on the private JACK server: a real pointer
// click (xdotool) on the REVERB switch writes the settings with the reverb bit of the current
// program's channel, and the repainted window shows the switch lit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "editor_session.hpp"
#include "emulator_process.hpp"

namespace halvard::testing {
namespace {

using e2e::EmulatorProcess;

constexpr uint32_t kAccent = 0xddcfbc;  // a switch track when on
constexpr uint32_t kBright = 0xf0f0f0;  // a switch knob when on

TEST(PanelClick, ReverbSwitchClickReachesTheAmplifierAndLightsTheSwitch) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (CTest starts one for the gui tests)";
    std::string why;
    ASSERT_TRUE(e2e::ensureJackServer(&why)) << why;

    EmulatorProcess amp;
    ASSERT_TRUE(amp.ready()) << amp.transcript();
    // Program 0 uses the lead channel, so the bit to look for is the lead entry's (byte 8), and
    // the rhythm entry (byte 7) must stay clear. Filters 2 / 1 as the amplifier's defaults.
    ASSERT_EQ(amp.command("set-record 0 00010000000000002211").rfind("ok", 0), 0u);

    XSession x;
    ASSERT_TRUE(x.connected());
    EditorProcess editor(editorExecutable());
    ASSERT_TRUE(editor.started());
    const unsigned long window = x.findWindow("Halvard Editor", Millis(20000));
    ASSERT_NE(window, 0u) << "no editor window";
    const auto [w, h] = x.windowSize(window);
    ASSERT_GT(w, 964);
    (void)h;

    // Connected and idle: the veil is gone (the pointer is ignored while it lies over the panel).
    ASSERT_TRUE(showsConnectedPanel(x, window)) << "the editor did not connect to the emulator\n"
                                                << amp.transcript();
    EXPECT_GE(amp.received(0x02), 1) << "the sync read program 0";
    amp.command("clear");

    const int l = (w - 964) / 2;
    const int reverbX = l + 490;  // the switch's track: (L + 490, 51, 40, 20)
    ASSERT_TRUE(
        xdotool("mousemove --window " + std::to_string(window) + " " + std::to_string(reverbX + 20) + " 61"));
    ASSERT_TRUE(xdotool("click 1"));

    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp.received(0x01) >= 1; }))
        << "no settings write arrived\n"
        << amp.transcript();
    const std::vector<uint8_t> write = amp.message(-1);
    ASSERT_EQ(write.size(), 17u);
    EXPECT_EQ(write[2], 0x01);
    EXPECT_EQ(write[3], 0x00) << "program 0";
    EXPECT_EQ(write[6] & 0x0F, 1) << "the lead channel";
    EXPECT_EQ(write[8] & 0x01, 1) << "reverb of the lead channel set";
    EXPECT_EQ(write[7] & 0x01, 0) << "reverb of the rhythm channel untouched";
    EXPECT_EQ(amp.recordHex(0).substr(6, 2), "01") << "the emulator's record took the write";

    // The repainted window shows REVERB on: accent track, bright knob at the right end.
    EXPECT_TRUE(
        waitUntil([&] { return x.pixel(window, reverbX + 30, 61) == kBright; }, Millis(5000), Millis(10)));
    EXPECT_EQ(x.pixel(window, reverbX + 4, 61), kAccent);

    x.sendCloseRequest(window);
    EXPECT_EQ(editor.waitForExit(Millis(20000)), 0);
}

}  // namespace
}  // namespace halvard::testing
