// Files dropped on the running editor's window (XDND, text/uri-list, from a source window of the
// test's own), against the amplifier emulator on the private JACK server: a program file is loaded
// into the current program as an edit, a Wave file dropped on a user IR slot's row is stored in
// that slot, a backup of all programs has every program read for the comparison.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "device/librarian/program_backup.hpp"
#include "device/librarian/program_file.hpp"
#include "device/protocol/program_records.hpp"
#include "device/protocol/sysex.hpp"
#include "editor_session.hpp"
#include "emulator_process.hpp"
#include "ir/wav_import.hpp"
#include "test_files.hpp"
#include "util/hex.hpp"

namespace halvard::testing {
namespace {

using e2e::EmulatorProcess;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

TEST(DropGui, EachKindOfFileDroppedOnTheWindowReachesTheAmplifier) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (CTest starts one for the gui tests)";
    std::string why;
    ASSERT_TRUE(e2e::ensureJackServer(&why)) << why;
    test::TempDir dir;

    ProgramSettings shared;
    shared.channel = 1;
    shared.reverb[1] = 1;
    shared.ir[1] = 2;
    shared.filterA[0] = shared.filterA[1] = 3;
    shared.filterB[0] = shared.filterB[1] = 2;
    const ProgramRecord record = recordOfSettings(shared);
    const std::string program = dir.file("Shared Sound.halvard-program");
    std::string error;
    ASSERT_TRUE(writePortableProgram(program, {"Shared Sound", record, {}, {}, ""}, error)) << error;
    std::vector<float> samples(1500);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i % 2 ? 0.5f : -0.5f) / static_cast<float>(1 + i / 40);
    const std::string wav = dir.file("Dropped Mic.wav");
    ASSERT_TRUE(test::writeSoundFile(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, samples));
    ProgramFile all;
    for (int p = 0; p < kProgramCount; ++p)
        all.stored.push_back({static_cast<uint8_t>(p), settingsWriteOf(p, {0, 0}, record)});
    const std::string backup = dir.file("all programs.syx");
    test::writeBytes(backup, programFileBytes(all));

    EmulatorProcess amp({"--dump-dir", dir.file("dump")});
    ASSERT_TRUE(amp.started());
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return amp.portsOpen(); })) << amp.transcript();
    ASSERT_NE(lower(amp.recordHex(0)), lower(toHex(record)));
    XSession x;
    ASSERT_TRUE(x.connected());
    // Its own data folder, so that the collection's library is made there.
    EditorProcess editor(editorExecutable(),
                         {"GSETTINGS_BACKEND=memory", "XDG_DATA_HOME=" + dir.path().string()});
    ASSERT_TRUE(editor.started());
    const unsigned long window = x.findWindow("Halvard Editor", Millis(20000));
    ASSERT_NE(window, 0u) << "no editor window";
    ASSERT_TRUE(showsConnectedPanel(x, window)) << amp.transcript();

    // A program file on the picture: into program 0 as an edit, not stored.
    ASSERT_TRUE(x.dropFiles(window, 700, 450, {program}, Millis(20000)));
    EXPECT_TRUE(EmulatorProcess::waitFor([&] { return lower(amp.recordHex(0)) == lower(toHex(record)); },
                                         Millis(20000)))
        << amp.transcript();
    EXPECT_EQ(EmulatorProcess::fields(amp.command("status")).at("preset-stores"), "0");

    ASSERT_TRUE(showsConnectedPanel(x, window));
    // A Wave file on slot 1's row (y 261, its import icon at 204, 265): into that slot.
    ASSERT_TRUE(x.dropFiles(window, 215, 276, {wav}, Millis(20000)));
    EXPECT_TRUE(EmulatorProcess::waitFor(
        [&] { return EmulatorProcess::fields(amp.command("ir 1")).count("file") != 0; }, Millis(30000)))
        << amp.transcript();

    // A backup of all programs: every program read to compare it with. A drop acts as a click does,
    // once the panel is idle again after the import.
    ASSERT_TRUE(showsConnectedPanel(x, window));
    amp.command("clear");
    ASSERT_TRUE(x.dropFiles(window, 700, 450, {backup}, Millis(20000)));
    EXPECT_TRUE(
        EmulatorProcess::waitFor([&] { return amp.received(kCodeSettings) >= kProgramCount; }, Millis(30000)))
        << amp.transcript();
    EXPECT_EQ(amp.received(kCodeSettingsWrite), 0) << "compared, nothing written";

    x.sendCloseRequest(window);
    EXPECT_EQ(editor.waitForExit(Millis(20000)), 0);
}

}  // namespace
}  // namespace halvard::testing
