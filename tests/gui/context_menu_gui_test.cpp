// The running editor against the amplifier emulator on the private JACK server: a right click on
// the panel opens the librarian's menu, its first item asks for a file name in the desktop's save
// dialog, and the backup written there holds the emulator's 128 records.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "device/librarian/program_backup.hpp"
#include "dialog_keys.hpp"
#include "editor_session.hpp"
#include "emulator_process.hpp"
#include "util/files.hpp"

namespace halvard::testing {
namespace {

using e2e::EmulatorProcess;
namespace fs = std::filesystem;

TEST(ContextMenuGui, RightClickBacksUpAllProgramsIntoTheChosenFile) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (CTest starts one for the gui tests)";
    std::string why;
    ASSERT_TRUE(e2e::ensureJackServer(&why)) << why;

    const fs::path dir = fs::path(::testing::TempDir()) / "context-menu-gui";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path target = dir / "all programs.syx";

    EmulatorProcess amp;
    ASSERT_TRUE(amp.ready()) << amp.transcript();

    XSession x;
    ASSERT_TRUE(x.connected());
    EditorProcess editor(editorExecutable(), {"GSETTINGS_BACKEND=memory", "XDG_DATA_HOME=" + dir.string()});
    ASSERT_TRUE(editor.started());
    const unsigned long window = x.findWindow("Halvard Editor", Millis(20000));
    ASSERT_NE(window, 0u) << "no editor window";
    ASSERT_TRUE(showsConnectedPanel(x, window)) << "the editor did not connect to the emulator\n"
                                                << amp.transcript();

    // A right click on the amplifier picture, then the menu's first item by keyboard.
    ASSERT_TRUE(xdotool("mousemove --window " + std::to_string(window) + " 700 500"));
    ASSERT_TRUE(xdotool("click 3"));
    ASSERT_TRUE(runShell("sleep 0.5 && xdotool key Down && sleep 0.1 && xdotool key Return"));
    ASSERT_TRUE(typeIntoDialog("Back Up All Programs", "xdotool key ctrl+a && xdotool type --delay 5 " +
                                                           shellQuoted(target.string()) +
                                                           " && sleep 0.2 && xdotool key Return"))
        << "no save dialog opened";

    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return fs::exists(target); }, Millis(30000)))
        << amp.transcript();
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(readWholeFile(target, kProgramFileMaxBytes, bytes, error)) << error;
    const ParsedProgramFile parsed = parseProgramFile(bytes);
    ASSERT_FALSE(parsed.error) << parsed.error->reason;
    ASSERT_EQ(parsed.file.stored.size(), 128u);
    const std::string records = amp.command("records");
    for (int p = 0; p < kProgramCount; ++p) {
        char hex[21] = "";
        for (int i = 0; i < 10; ++i)
            std::snprintf(hex + 2 * i, 3, "%02X", parsed.file.stored[static_cast<size_t>(p)].write[5 + i]);
        EXPECT_EQ(records.substr(11 + 20 * static_cast<size_t>(p), 20), hex) << "program " << p;
    }

    x.sendCloseRequest(window);
    EXPECT_EQ(editor.waitForExit(Millis(20000)), 0);
}

}  // namespace
}  // namespace halvard::testing
