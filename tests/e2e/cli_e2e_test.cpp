// halvard-cli end to end against the amplifier emulator on JACK: exit codes, one-line reasons,
// --json, a backup of records loaded with the emulator's --programs, a verified restore, and a
// difference found by the read-back; the program library's names and kept backups (a library of
// the test's own, through HALVARD_LIBRARY); programs as files and the collection.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "device/librarian/program_backup.hpp"
#include "device/librarian/program_file.hpp"
#include "emulator_process.hpp"
#include "library_sql.hpp"
#include "util/files.hpp"
#include "util/hex.hpp"

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
    void SetUp() override { ASSERT_EQ(startJackTest(dir_), ""); }

    // halvard-cli with these arguments on JACK only, so no amplifier on ALSA is ever touched.
    // $HALVARD_TEST_CLI names an installed copy to test instead of the build tree's.
    CliRun cli(const std::string& args) {
        const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
        const char* installed = std::getenv("HALVARD_TEST_CLI");
        const std::string line = "HALVARD_LIBRARY=" + (dir_ / "library.sqlite3").string() + " " +
                                 std::string(installed ? installed : HALVARD_CLI_PATH) + " --api jack " +
                                 args + " >" + out.string() + " 2>" + err.string();
        const int status = std::system(line.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(out), readText(err)};
    }

    fs::path dir_ = fs::path(::testing::TempDir()) / "cli-e2e";
};

TEST_F(CliE2e, UsageAndDeviceErrorsHaveTheirExitCodesAndOneLineReasons) {
    // Which usage errors there are, and their messages: cli_options_test.
    EXPECT_EQ(cli("").code, 2);
    EXPECT_EQ(cli("restore a.syx --force").code, 2) << "an option of another command";
    EXPECT_EQ(cli("restore --help").code, 0);

    const CliRun absent = cli("--port NOWHERE info");
    EXPECT_EQ(absent.code, 1);
    EXPECT_EQ(absent.err, "halvard-cli: no amplifier: no MIDI port pair whose names contain \"NOWHERE\"\n");
}

TEST_F(CliE2e, InfoBackupAndRestoreAgainstTheEmulator) {
    // The emulator starts with every program's loop bypass on, from a program file.
    const ProgramFile loaded = writeTestProgramFile(dir_ / "loaded.syx");
    ASSERT_FALSE(loaded.stored.empty());
    EmulatorProcess emulator({"--programs", (dir_ / "loaded.syx").string()});
    ASSERT_TRUE(emulator.ready()) << emulator.transcript();

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
    // A name from the amplifier that would drive the terminal is printed with its controls as '?'.
    ASSERT_EQ(emulator.command("set-slot 3 \x1B]0;x\x07y").substr(0, 2), "ok");
    const CliRun text = cli("info");
    EXPECT_NE(text.out.find("\nslot 3    ?]0;X?Y\n"), std::string::npos) << text.out;

    const CliRun backup = cli("backup " + (dir_ / "b.syx").string());
    ASSERT_EQ(backup.code, 0) << backup.err;
    Bytes saved;
    std::string error;
    ASSERT_TRUE(readWholeFile(dir_ / "b.syx", kProgramFileMaxBytes, saved, error)) << error;
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

TEST_F(CliE2e, NamesAndKeptBackupsThroughBackupCompareRestoreCopyAndSwap) {
    EmulatorProcess emulator;
    ASSERT_TRUE(emulator.ready()) << emulator.transcript();
    const auto json = [](const CliRun& run) { return nlohmann::json::parse(run.out, nullptr, false); };

    ASSERT_EQ(cli("programs name 3 \"Clean \xC3\xA9t\xC3\xA9\"").code, 0) << "no amplifier needed";
    ASSERT_EQ(cli("programs name 9 Lead").code, 0);
    const CliRun backup = cli("backup " + (dir_ / "b.syx").string());
    ASSERT_EQ(backup.code, 0) << backup.err;
    EXPECT_NE(backup.out.find("kept in the library as backup 1\n"), std::string::npos) << backup.out;

    // Program 3 changed on the amplifier itself: its name may no longer fit.
    const std::string record3 = emulator.command("record 3").substr(std::string("ok record 3 ").size());
    const bool loop = record3.substr(0, 2) == "01";  // byte 5: loop bypass
    ASSERT_EQ(
        emulator.command("set-record 3 " + std::string(loop ? "00" : "01") + record3.substr(2)).substr(0, 2),
        "ok");
    const std::string change = loop ? "loopBypass 0 -> 1" : "loopBypass 1 -> 0";
    const CliRun programs = cli("programs --json");
    ASSERT_EQ(programs.code, 0) << programs.err;
    const auto listed = json(programs)["programs"];
    ASSERT_EQ(listed.size(), 128u) << programs.out;
    EXPECT_EQ(listed[3]["name"], "Clean \xC3\xA9t\xC3\xA9");
    EXPECT_TRUE(listed[3]["stale"]);
    EXPECT_FALSE(listed[9]["stale"]);
    EXPECT_TRUE(listed[4]["name"].is_null());

    const CliRun compare = cli("compare --backup 1 --json");
    ASSERT_EQ(compare.code, 0) << compare.err;
    const auto differing = json(compare)["differing"];
    ASSERT_EQ(differing.size(), 1u) << compare.out;
    EXPECT_EQ(differing[0]["program"], 3);
    EXPECT_EQ(differing[0]["differences"][0], change);

    ASSERT_EQ(cli("programs name 3 Other").code, 0);
    const CliRun refused = cli("restore --backup 1");
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.out.find("program 3 \"Other\" would change: " + change), std::string::npos)
        << refused.out;
    EXPECT_EQ(refused.err, "halvard-cli: 1 program would change; nothing sent (--yes restores)\n");
    const CliRun restored = cli("restore --backup 1 --yes");
    ASSERT_EQ(restored.code, 0) << restored.err;
    EXPECT_EQ(emulator.command("record 3"), "ok record 3 " + record3);
    EXPECT_EQ(json(cli("programs --json"))["programs"][3]["name"], "Clean \xC3\xA9t\xC3\xA9")
        << "the kept backup's names come back";
    ASSERT_EQ(emulator.command("set-globals 0102").substr(0, 2), "ok");
    const CliRun globals = cli("restore --backup 1");
    EXPECT_EQ(globals.err, "halvard-cli: the global settings would change; nothing sent (--yes restores)\n");

    const auto backups = json(cli("backups --json"))["backups"];
    ASSERT_EQ(backups.size(), 2u) << "the one made and the one before the restore";
    EXPECT_EQ(backups[0]["reason"], "before-restore");
    EXPECT_EQ(backups[1]["reason"], "cli");
    EXPECT_EQ(backups[1]["file"], "b.syx");
    EXPECT_EQ(backups[1]["firmware"], "1.7");
    EXPECT_EQ(backups[1]["differing"].size(), 0u);
    // A damaged backup is marked, and the others are still listed.
    librarySql(dir_ / "library.sqlite3",
               "PRAGMA ignore_check_constraints = ON;"
               "UPDATE backup_programs SET record = X'00' WHERE backup_id = 2 AND program = 6");
    const auto marked = json(cli("backups --json"))["backups"];
    ASSERT_EQ(marked.size(), 2u);
    EXPECT_TRUE(marked[0]["damaged"]);
    EXPECT_EQ(marked[1]["differing"].size(), 0u);

    ASSERT_EQ(cli("programs swap 3 9").code, 0);
    ASSERT_EQ(cli("programs copy 9 20").code, 0);
    EXPECT_EQ(emulator.command("record 9"), "ok record 9 " + record3);
    EXPECT_EQ(emulator.command("record 20"), "ok record 20 " + record3);
    const auto after = json(cli("programs --json"))["programs"];
    EXPECT_EQ(after[9]["name"], "Clean \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(after[20]["name"], "Clean \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(after[3]["name"], "Lead");
    EXPECT_FALSE(after[3]["stale"] || after[9]["stale"] || after[20]["stale"])
        << "changed through halvard-cli";
}

TEST_F(CliE2e, ProgramsAsFilesAndTheCollectionThroughExportAddLoadPlaceAndImport) {
    EmulatorProcess emulator;
    ASSERT_TRUE(emulator.started());
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator.portsOpen(); })) << emulator.transcript();
    const auto json = [](const CliRun& run) { return nlohmann::json::parse(run.out, nullptr, false); };
    const auto record = [&](int p) {
        const std::string head = "ok record " + std::to_string(p) + " ";
        return emulator.command("record " + std::to_string(p)).substr(head.size());
    };
    const std::string three = record(3), five = record(5), seven = record(7), nine = record(9);
    ASSERT_NE(five, nine);
    ASSERT_NE(three, seven);

    ASSERT_EQ(cli("programs name 5 Crunchy").code, 0);
    const fs::path file = dir_ / "five.halvard-program";
    const CliRun exported = cli("programs export 5 " + file.string());
    ASSERT_EQ(exported.code, 0) << exported.err;
    const PortableProgramRead read = readPortableProgram(file);
    ASSERT_TRUE(read.program) << read.error;
    EXPECT_EQ(read.program->name, "Crunchy");
    EXPECT_EQ(toHex(read.program->record), five);
    // The emulator's slots 0..2 are "CLOSED 412", "OPEN BACK 112", "CLEAN"; 3..5 "", "ROOM BLEND",
    // "BRIGHT 212".
    const ProgramSettings settings = settingsAsRecorded(read.program->record);
    const char* slots[] = {"CLOSED 412", "OPEN BACK 112", "CLEAN", "", "ROOM BLEND", "BRIGHT 212"};
    EXPECT_EQ(read.program->irSlotNames[0], slots[settings.ir[0]]);
    EXPECT_EQ(read.program->irSlotNames[1], slots[3 + settings.ir[1]]);

    ASSERT_EQ(cli("collection add " + file.string()).out, "added 1 \"Crunchy\" from five.halvard-program\n");
    const CliRun added = cli("collection add --program 7 --name Seven");
    ASSERT_EQ(added.code, 0) << added.err;
    EXPECT_EQ(added.out, "added 2 \"Seven\" from program 7\n");
    ASSERT_EQ(cli("collection tag 2 live warm").code, 0);
    const auto found = json(cli("collection list --json --search LIVE"))["entries"];
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]["name"], "Seven");
    EXPECT_EQ(found[0]["record"], seven);
    EXPECT_EQ(found[0]["tags"], (std::vector<std::string>{"live", "warm"}));
    EXPECT_EQ(found[0]["source"]["kind"], "amplifier");
    EXPECT_EQ(found[0]["source"]["program"], 7);
    EXPECT_EQ(json(cli("collection show 1 --json"))["source"]["file"], "five.halvard-program");

    // Loaded into the current program as an edit: the amplifier reports it, but stores it nowhere.
    ASSERT_EQ(cli("collection load 2 --program 3").code, 0);
    EXPECT_EQ(emulator.command("program"), "ok program 3");
    EXPECT_EQ(record(3), seven);
    const std::string stored = emulator.command("records").substr(std::string("ok records ").size());
    EXPECT_EQ(stored.substr(3 * 20, 20), three) << "not stored";

    // Placed: refused while program 9 differs; with --yes kept first, written, read back and named.
    const CliRun refused = cli("collection place 1 9");
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err,
              "halvard-cli: program 9 holds another program; nothing sent (--yes replaces it)\n");
    EXPECT_EQ(record(9), nine);
    const CliRun placed = cli("collection place 1 9 --yes");
    ASSERT_EQ(placed.code, 0) << placed.err;
    EXPECT_TRUE(placed.out.ends_with("entry 1 \"Crunchy\" placed into program 9 and verified\n"))
        << placed.out;
    EXPECT_EQ(record(9), five);
    const auto backups = json(cli("backups --json"))["backups"];
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0]["reason"], "before-restore");

    // A program file imported into a program: the same, its name following.
    ASSERT_EQ(cli("collection export 2 " + (dir_ / "seven.halvard-program").string()).code, 0);
    const CliRun imported = cli("programs import " + (dir_ / "seven.halvard-program").string() + " 12 --yes");
    ASSERT_EQ(imported.code, 0) << imported.err;
    EXPECT_EQ(record(12), seven);
    const auto programs = json(cli("programs --json"))["programs"];
    EXPECT_EQ(programs[9]["name"], "Crunchy");
    EXPECT_EQ(programs[12]["name"], "Seven");
    EXPECT_FALSE(programs[9]["stale"] || programs[12]["stale"]);

    ASSERT_EQ(cli("collection remove 1").code, 0);
    EXPECT_EQ(json(cli("collection list --json"))["entries"].size(), 1u);
}

}  // namespace
}  // namespace halvard::e2e
