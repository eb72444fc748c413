// halvard-cli end to end against the amplifier emulator on JACK: exit codes, one-line reasons,
// --json, a backup of records loaded with the emulator's --programs, a verified restore, and a
// difference found by the read-back.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "device/librarian.hpp"
#include "emulator_process.hpp"

namespace halvard::e2e {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CliE2e : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(ensureJackServer(&why)) << why;
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }

    // halvard-cli with these arguments on JACK only, so no amplifier on ALSA is ever touched.
    // $HALVARD_TEST_CLI names an installed copy to test instead of the build tree's.
    CliRun cli(const std::string& args) {
        const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
        const char* installed = std::getenv("HALVARD_TEST_CLI");
        const std::string line = std::string(installed ? installed : HALVARD_CLI_PATH) + " --api jack " +
                                 args + " >" + out.string() + " 2>" + err.string();
        const int status = std::system(line.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(out), readText(err)};
    }

    fs::path dir_ = fs::path(::testing::TempDir()) / "cli-e2e";
};

TEST_F(CliE2e, UsageAndDeviceErrorsHaveTheirExitCodesAndOneLineReasons) {
    EXPECT_EQ(cli("").code, 2);
    EXPECT_EQ(cli("backup").code, 2) << "a missing operand";
    EXPECT_EQ(cli("restore a.syx --yes").code, 2) << "an option of another command";
    EXPECT_EQ(cli("ir factory 6 0").code, 2) << "a slot out of range";
    EXPECT_EQ(cli("firmware flash image.bin").code, 2) << "without --yes";
    EXPECT_EQ(cli("restore --help").code, 0);

    const CliRun absent = cli("--port NOWHERE info");
    EXPECT_EQ(absent.code, 1);
    EXPECT_EQ(absent.err, "halvard-cli: no amplifier: no MIDI port pair whose names contain \"NOWHERE\"\n");
}

TEST_F(CliE2e, InfoBackupAndRestoreAgainstTheEmulator) {
    // The emulator starts with every program's loop bypass on, from a program file.
    ProgramFile loaded;
    for (int p = 0; p < kProgramCount; ++p) {
        StoredProgram s{static_cast<uint8_t>(p), {}};
        ProgramSettings settings;
        settings.loopBypass = 1;
        settings.ir[1] = static_cast<uint8_t>(p % 3);
        settings.filterA[0] = settings.filterA[1] = settings.filterB[0] = settings.filterB[1] = 1;
        buildSettingsWrite(s.write, p, SettingsGlobals{.midiChannel = 4}, settings);
        loaded.stored.push_back(s);
    }
    const Bytes loadedBytes = programFileBytes(loaded);
    std::ofstream(dir_ / "loaded.syx", std::ios::binary)
        .write(reinterpret_cast<const char*>(loadedBytes.data()),
               static_cast<std::streamsize>(loadedBytes.size()));
    EmulatorProcess emulator({"--programs", (dir_ / "loaded.syx").string()});
    ASSERT_TRUE(emulator.started());
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator.portsOpen(); })) << emulator.transcript();

    const CliRun info = cli("info --json --program 2");
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_EQ(info.out.substr(0, 109),
              "{\"firmware\":\"1.7\",\"program\":2,\"globals\":{\"midiChannel\":4,\"bypassLock\":0,"
              "\"reverbTails\":0,"
              "\"mono\":0,\"irSlot\":0},");
    EXPECT_NE(info.out.find("\"loopBypass\":1,"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"irLead\":2,"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"slots\":[\"CLOSED 412\",\"OPEN BACK 112\",\"CLEAN\",\"\","), std::string::npos)
        << info.out;

    const CliRun backup = cli("backup " + (dir_ / "b.syx").string());
    ASSERT_EQ(backup.code, 0) << backup.err;
    Bytes saved;
    std::string error;
    ASSERT_TRUE(readWholeFile(dir_ / "b.syx", kProgramFileMaxBytes, saved, error)) << error;
    loaded.selection = loaded.stored[0].write;
    EXPECT_EQ(saved, programFileBytes(loaded)) << "the loaded records, byte for byte";

    const CliRun restore = cli("restore " + (dir_ / "b.syx").string());
    EXPECT_EQ(restore.code, 0) << restore.err;
    EXPECT_TRUE(restore.out.ends_with("restore and verify 100%\n128 programs restored and verified\n"))
        << restore.out;

    ASSERT_EQ(emulator.command("fault alter-store 3"), "ok fault alter-store 3");
    const CliRun differs = cli("restore " + (dir_ / "b.syx").string());
    EXPECT_EQ(differs.code, 1);
    EXPECT_NE(differs.out.find("\nprogram 3 differs: file 0"), std::string::npos) << differs.out;
    EXPECT_EQ(differs.err, "halvard-cli: 1 of the restored settings differ from the file\n");

    saved[21 * 4 + 2] = 0x02;  // a settings read among the writes
    std::ofstream(dir_ / "bad.syx", std::ios::binary)
        .write(reinterpret_cast<const char*>(saved.data()), static_cast<std::streamsize>(saved.size()));
    ASSERT_EQ(emulator.command("clear"), "ok cleared");
    const CliRun refused = cli("restore " + (dir_ / "bad.syx").string());
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find(": byte 86: code 0x02 is neither"), std::string::npos) << refused.err;
    EXPECT_EQ(emulator.receivedTotal(), 0) << "nothing sent";
}

}  // namespace
}  // namespace halvard::e2e
