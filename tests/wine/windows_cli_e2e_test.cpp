// halvard-cli.exe under Wine against the amplifier emulator, through the Wine MIDI driver and bridge:
// info, a backup that holds the emulator's records byte for byte, a verified restore and a
// difference its read-back finds; names and a kept backup in a program library whose folder is not
// ASCII; and the one-line error when another program has the port.

#include <gtest/gtest.h>

#include <filesystem>

#include "device/librarian/program_backup.hpp"
#include "emulator_process.hpp"
#include "util/files.hpp"
#include "wine_session.hpp"

namespace halvard::e2e {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int code = -1;
    std::vector<std::string> out;
    std::vector<std::string> err;
    std::string transcript;
};

class WindowsCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bridge_.connected()) << "no Wine MIDI bridge to talk to (the wine-midi fixture)";
        ASSERT_EQ(bridge_.command("reset"), "ok reset");
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }

    CliRun cli(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        WineProgram program(environment("HALVARD_WINDOWS_CLI"), args, env);
        CliRun run;
        run.code = program.waitForExit(60s).value_or(-1);
        run.out = program.takeLines("");
        run.err = program.errorLines();
        run.transcript = program.transcript();
        return run;
    }

    WineMidiBridge bridge_;
    fs::path dir_ = fs::path(::testing::TempDir()) / "windows-cli-e2e";
};

TEST_F(WindowsCli, BackupAndAVerifiedRestoreAgainstTheEmulator) {
    // The emulator starts with every program's loop bypass on, from a program file.
    const ProgramFile loaded = writeTestProgramFile(dir_ / "loaded.syx");
    ASSERT_FALSE(loaded.stored.empty());
    EmulatorProcess emulator({"--programs", (dir_ / "loaded.syx").string()});
    ASSERT_TRUE(emulator.ready()) << emulator.transcript();

    const CliRun info = cli({"info", "--program", "2"});
    EXPECT_EQ(info.code, 0) << info.transcript;
    EXPECT_NE(std::find(info.out.begin(), info.out.end(), "firmware  1.7"), info.out.end())
        << info.transcript;
    EXPECT_NE(std::find(info.out.begin(), info.out.end(), "  midiChannel     4"), info.out.end())
        << info.transcript;

    const CliRun backup = cli({"backup", windowsPath((dir_ / "b.syx").string())});
    ASSERT_EQ(backup.code, 0) << backup.transcript;
    std::vector<uint8_t> saved;
    std::string error;
    ASSERT_TRUE(readWholeFile(dir_ / "b.syx", kProgramFileMaxBytes, saved, error)) << error;
    EXPECT_EQ(saved, programFileBytes(loaded)) << "the loaded records, byte for byte";

    const CliRun restore = cli({"restore", windowsPath((dir_ / "b.syx").string())});
    EXPECT_EQ(restore.code, 0) << restore.transcript;
    EXPECT_EQ(restore.out.empty() ? "" : restore.out.back(), "128 programs restored and verified")
        << restore.transcript;

    ASSERT_EQ(emulator.command("fault alter-store 3"), "ok fault alter-store 3");
    const CliRun differs = cli({"restore", windowsPath((dir_ / "b.syx").string())});
    EXPECT_EQ(differs.code, 4) << "the amplifier was written";
    EXPECT_TRUE(!differs.err.empty() &&
                differs.err.back().starts_with("halvard-cli: 1 of the restored settings "
                                               "differ from the file; changed on the "
                                               "amplifier: program 3; kept backup"))
        << differs.transcript;
}

TEST_F(WindowsCli, NamesAndAKeptBackupInALibraryWhoseFolderIsNotAscii) {
    EmulatorProcess emulator;
    ASSERT_TRUE(emulator.ready()) << emulator.transcript();
    // HALVARD_LIBRARY and the arguments, read as wide characters: "\u263a" outside the ANSI code page's
    // reach.
    const fs::path library = dir_ / fs::path(u8"J\u00f6rg \u263a") / "library.sqlite3";
    const std::vector<std::string> env = {"HALVARD_LIBRARY=" + windowsPath(library.string()),
                                          "LC_ALL=C.UTF-8"};

    const CliRun named = cli({"programs", "name", "3", "Clean"}, env);
    ASSERT_EQ(named.code, 0) << named.transcript;
    EXPECT_TRUE(fs::exists(library)) << "the library is where HALVARD_LIBRARY says";
    const std::string before = emulator.recordHex(3);
    // A file named on the command line in the same folder: the arguments arrive whole.
    const fs::path file = library.parent_path() / "k.syx";
    const CliRun backup = cli({"backup", windowsPath(file.string())}, env);
    ASSERT_EQ(backup.code, 0) << backup.transcript;
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(backup.err, std::vector<std::string>{"halvard-cli: kept in the library as backup 1"})
        << backup.transcript;

    // Changed on the amplifier since: its loop bypass (the record's first byte) flipped.
    std::string changed = before;
    changed[1] = before[1] == '0' ? '1' : '0';
    ASSERT_EQ(emulator.command("set-record 3 " + changed).rfind("ok", 0), 0u);
    const CliRun refused = cli({"restore", "--backup", "1"}, env);
    EXPECT_EQ(refused.code, 3) << refused.transcript;
    const std::string line =
        std::string("program 3 \"Clean\" would change: loopBypass ") + changed[1] + " -> " + before[1];
    EXPECT_NE(std::find(refused.out.begin(), refused.out.end(), line), refused.out.end())
        << refused.transcript;
    const CliRun restored = cli({"restore", "--backup", "1", "--yes"}, env);
    EXPECT_EQ(restored.code, 0) << restored.transcript;
    EXPECT_EQ(emulator.recordHex(3), before);
}

TEST_F(WindowsCli, APortHeldByAnotherProgramIsNamedInTheError) {
    EmulatorProcess emulator;
    ASSERT_TRUE(emulator.ready()) << emulator.transcript();
    ASSERT_EQ(bridge_.command("hold Halvard VDR"), "ok hold Halvard VDR");
    const CliRun held = cli({"info"});
    EXPECT_EQ(held.code, 1);
    EXPECT_EQ(held.err, std::vector<std::string>{"halvard-cli: the amplifier's port \"Halvard VDR:Halvard "
                                                 "VDR Out 0\" is in use by another program"})
        << held.transcript;
    EXPECT_EQ(emulator.receivedTotal(), 0);
}

}  // namespace
}  // namespace halvard::e2e
