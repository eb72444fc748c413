// The PROGRAMS overlay of the running editor against the amplifier emulator on the private JACK
// server, with a program library the test wrote: a click on the program number opens it, the named
// program's row shows its name, a click on a row selects that program on the amplifier, a double
// click names a program through the text dialog, and a row's menu copies a program over another
// (after a question) and swaps two, the names following.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "dialog_keys.hpp"
#include "editor_session.hpp"
#include "emulator_process.hpp"
#include "program_library/program_library.hpp"

namespace halvard::testing {
namespace {

using e2e::EmulatorProcess;
namespace fs = std::filesystem;

constexpr int kRowsTop = 42;  // the overlay's first row, below the top row's rule
constexpr int kRowHeight = 24;

// How many windows of the process are shown: the editor's, and its menus while they are open.
int windowsShown(pid_t pid) {
    FILE* out =
        popen(("xdotool search --onlyvisible --pid " + std::to_string(pid) + " 2>/dev/null").c_str(), "r");
    if (out == nullptr) return 0;
    int n = 0;
    for (char line[64]; std::fgets(line, sizeof line, out) != nullptr;) ++n;
    pclose(out);
    return n;
}

std::array<ProgramName, kProgramCount> namesIn(const std::filesystem::path& file) {
    std::array<ProgramName, kProgramCount> names;
    std::string error;
    const auto library = ProgramLibrary::open(file, error);
    if (!library || !library->names(names, error)) ADD_FAILURE() << error;
    return names;
}

TEST(ProgramsGui, TheOverlayShowsNamesSelectsAProgramByClickAndNamesOneByDoubleClick) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (CTest starts one for the gui tests)";
    std::string why;
    ASSERT_TRUE(e2e::ensureJackServer(&why)) << why;
    const fs::path dir = fs::path(::testing::TempDir()) / "programs-gui";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path file = dir / "library.sqlite3";
    {
        std::string error;
        auto library = ProgramLibrary::open(file, error);
        ASSERT_TRUE(library) << error;
        ASSERT_TRUE(library->setName(3, "Clean Crunch", std::nullopt, error)) << error;
    }

    EmulatorProcess amp;
    ASSERT_TRUE(amp.ready()) << amp.transcript();
    const std::string record5 = "01210110020101102331";
    ASSERT_EQ(amp.command("set-record 5 " + record5).rfind("ok", 0), 0u);
    XSession x;
    ASSERT_TRUE(x.connected());
    EditorProcess editor(editorExecutable(), {"GSETTINGS_BACKEND=memory", "HALVARD_LIBRARY=" + file.string(),
                                              "XDG_CONFIG_HOME=" + (dir / "config").string()});
    ASSERT_TRUE(editor.started());
    const unsigned long window = x.findWindow("Halvard Editor", Millis(20000));
    ASSERT_NE(window, 0u) << "no editor window";
    ASSERT_TRUE(showsConnectedPanel(x, window)) << "the editor did not connect\n" << amp.transcript();
    ASSERT_EQ(amp.command("clear").rfind("ok", 0), 0u);

    // The program number, between the program box's arrows.
    const int left = (x.windowSize(window).first + 30) / 2;
    const std::string at = "mousemove --window " + std::to_string(window) + " ";
    ASSERT_TRUE(xdotool(at + std::to_string(left + 110) + " 20 click 1"));
    // Text where a row's name goes: program 3's, and none on program 4's row.
    const auto nameShown = [&](int row) {
        for (int px = left + 52; px < left + 200; ++px)
            for (int py = kRowsTop + kRowHeight * row + 6; py < kRowsTop + kRowHeight * (row + 1) - 6; ++py)
                if (x.pixel(window, px, py).value_or(0) > 0x606060) return true;
        return false;
    };
    EXPECT_TRUE(waitUntil([&] { return nameShown(3); }, Millis(5000), Millis(50))) << "no name on the row";
    EXPECT_FALSE(nameShown(4));

    // A click on program 5's row selects it: never read, the editor reads it from the amplifier.
    const std::string row5 =
        std::to_string(left + 100) + " " + std::to_string(kRowsTop + kRowHeight * 5 + 12);
    ASSERT_TRUE(xdotool(at + row5 + " click 1"));
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp.received(0x02) >= 1; })) << amp.transcript();
    EXPECT_EQ(amp.message(-1), (std::vector<uint8_t>{0xF0, 0x00, 0x02, 0x05, 0xF7}));

    // A double click on the row asks for its name; the name typed is kept in the library.
    ASSERT_TRUE(xdotool(at + row5 + " click --repeat 2 --delay 80 1"));
    EXPECT_TRUE(typeIntoDialog("Name Program 5", "xdotool type --delay 5 Five && xdotool key Return"));
    EXPECT_TRUE(EmulatorProcess::waitFor([&] { return namesIn(file)[5].name == "Five"; }))
        << "the name typed was not kept";

    // A row's menu: the keys wait for it to show. A menu asked for while a dialog is still going
    // away may not get the pointer and stay closed: then the click is made again.
    const int shown = windowsShown(editor.pid());
    const auto rowMenu = [&](int row, const std::string& keys) {
        const std::string y = std::to_string(kRowsTop + kRowHeight * row + 12);
        for (int attempt = 0; attempt < 5; ++attempt)
            if (xdotool(at + std::to_string(left + 100) + " " + y + " click 3") &&
                waitUntil([&] { return windowsShown(editor.pid()) > shown; }, Millis(2000), Millis(50)))
                return xdotool("key " + keys);
        return false;
    };
    // Copy To… asks for the other program, then whether to replace it.
    ASSERT_TRUE(rowMenu(5, "Down Down Return"));
    EXPECT_TRUE(typeIntoDialog("Copy Program 5 To Program", "xdotool type 7 && xdotool key Return"));
    EXPECT_TRUE(typeIntoDialog("Copy Program", "xdotool key alt+r"));
    EXPECT_TRUE(EmulatorProcess::waitFor([&] { return amp.recordHex(7) == record5; }, Millis(30000)))
        << amp.transcript();
    EXPECT_TRUE(EmulatorProcess::waitFor([&] { return namesIn(file)[7].name == "Five"; }));
    // Swap With… asks for the other program only: nothing is lost.
    ASSERT_TRUE(showsConnectedPanel(x, window)) << "still busy after the copy";
    ASSERT_TRUE(rowMenu(3, "Down Down Down Return"));
    EXPECT_TRUE(typeIntoDialog("Swap Program 3 With Program", "xdotool type 7 && xdotool key Return"));
    EXPECT_TRUE(EmulatorProcess::waitFor([&] { return amp.recordHex(3) == record5; }, Millis(30000)))
        << amp.transcript();
    EXPECT_TRUE(EmulatorProcess::waitFor([&] {
        const auto names = namesIn(file);
        return names[3].name == "Five" && names[7].name == "Clean Crunch";
    }));

    x.sendCloseRequest(window);
    EXPECT_EQ(editor.waitForExit(Millis(20000)), 0);
}

}  // namespace
}  // namespace halvard::testing
