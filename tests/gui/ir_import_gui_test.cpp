// The running editor against the amplifier emulator on the private JACK server: a real click on a
// slot's import icon opens the desktop's file dialog, a path typed into it is imported, and the
// emulator stores the converted IR in that slot.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "dialog_keys.hpp"
#include "editor_session.hpp"
#include "emulator_process.hpp"
#include "ir/wav_import.hpp"
#include "test_files.hpp"

namespace halvard::testing {
namespace {

using e2e::EmulatorProcess;

TEST(IrImportGui, ImportIconOpensTheFileDialogAndTheTypedFileIsStored) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (CTest starts one for the gui tests)";
    std::string why;
    ASSERT_TRUE(e2e::ensureJackServer(&why)) << why;

    test::TempDir dir;
    std::vector<float> samples(1500);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i % 2 ? 0.6f : -0.6f) / static_cast<float>(1 + i / 50);
    const std::string wav = dir.file("Edge Mic.wav");
    ASSERT_TRUE(test::writeSoundFile(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, samples));
    const IrImport expected = prepareIrFromWav(wav);
    ASSERT_TRUE(expected.ok());

    EmulatorProcess amp({"--dump-dir", dir.file("dump")});
    ASSERT_TRUE(amp.ready()) << amp.transcript();

    XSession x;
    ASSERT_TRUE(x.connected());
    // No desktop session here: settings in memory, GTK's recent files kept out of the home folder.
    EditorProcess editor(editorExecutable(),
                         {"GSETTINGS_BACKEND=memory", "XDG_DATA_HOME=" + dir.path().string()});
    ASSERT_TRUE(editor.started());
    const unsigned long window = x.findWindow("Halvard Editor", Millis(20000));
    ASSERT_NE(window, 0u) << "no editor window";
    ASSERT_TRUE(showsConnectedPanel(x, window)) << "the editor did not connect to the emulator\n"
                                                << amp.transcript();

    // Slot 1's row lies at y 261 (rhythm section at 131, rows from 99 below it, 31 apart); its
    // folder icon at (204, y + 4), 23 x 23.
    ASSERT_TRUE(xdotool("mousemove --window " + std::to_string(window) + " 215 276"));
    ASSERT_TRUE(xdotool("click 1"));
    ASSERT_TRUE(typeIntoDialog("Import IR", keysTypingPath(wav))) << "no file dialog opened";

    ASSERT_TRUE(EmulatorProcess::waitFor(
        [&] { return EmulatorProcess::fields(amp.command("ir 1")).count("file") != 0; }, Millis(30000)))
        << amp.transcript();
    const auto ir = EmulatorProcess::fields(amp.command("ir 1"));
    EXPECT_EQ(ir.at("stores"), "1");
    EXPECT_EQ(test::readBytes(ir.at("file")), expected.image)
        << "the stored image is the converter's, byte for byte";
    EXPECT_EQ(amp.received(0x09), 1);

    x.sendCloseRequest(window);
    EXPECT_EQ(editor.waitForExit(Millis(20000)), 0);
}

}  // namespace
}  // namespace halvard::testing
