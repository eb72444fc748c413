// halvard-cli end to end against the amplifier emulator on JACK: every exit code, one-line reasons,
// every command's --help and --json, a backup of records loaded with the emulator's --programs, a
// verified restore, and a difference found by the read-back; the program library's names and kept
// backups (a library of the test's own, through HALVARD_LIBRARY, and a home folder of its own).

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli_options.hpp"
#include "device/firmware/firmware_update.hpp"
#include "device/librarian/program_backup.hpp"
#include "emulator_process.hpp"
#include "ir/factory_catalogue.hpp"
#include "library_sql.hpp"
#include "util/files.hpp"

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

// The command of a command line (words split at spaces) takes --api.
bool takesApi(const std::string& args) {
    std::vector<std::string> words;
    std::istringstream in(args);
    for (std::string word; in >> word;) words.push_back(word);
    const std::vector<std::string_view> views(words.begin(), words.end());
    const std::vector<std::string_view> options = cli::commandOptions(cli::parseCli(views).options.command);
    return std::find(options.begin(), options.end(), "--api") != options.end();
}

class CliE2e : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(startJackTest(dir_), ""); }

    // halvard-cli with these arguments; on JACK only (--api jack for a command that takes it), so no
    // amplifier on ALSA is ever touched. $HALVARD_TEST_CLI names an installed copy to test instead
    // of the build tree's.
    CliRun cli(const std::string& args) {
        const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
        const char* installed = std::getenv("HALVARD_TEST_CLI");
        const std::string line = "HALVARD_LIBRARY=" + (dir_ / "library.sqlite3").string() +
                                 " HOME=" + dir_.string() + " XDG_DATA_HOME=" + (dir_ / "data").string() +
                                 " " + std::string(installed ? installed : HALVARD_CLI_PATH) + " " + args +
                                 (takesApi(args) ? " --api jack" : "") + " >" + out.string() + " 2>" +
                                 err.string();
        const int status = std::system(line.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(out), readText(err)};
    }

    fs::path dir_ = fs::path(::testing::TempDir()) / "cli-e2e";
};

TEST_F(CliE2e, HelpOfEveryCommandAndTheExitCodesWithoutAnAmplifier) {
    std::vector<std::string_view> names = cli::commandNames();
    for (const std::string_view group : cli::commandGroups()) names.push_back(group);
    for (const std::string_view name : names) {
        const CliRun help = cli(std::string(name) + " --help");
        EXPECT_EQ(help.code, 0) << name << ": " << help.err;
        EXPECT_EQ(help.out, cli::helpText(std::string(name)));
    }
    // Which usage errors there are, and their messages: cli_options_test.
    EXPECT_EQ(cli("").code, 2);
    EXPECT_EQ(cli("restore a.syx --force").code, 2) << "an option of another command";

    const CliRun absent = cli("--port NOWHERE info");
    EXPECT_EQ(absent.code, 1);
    EXPECT_EQ(absent.err, "halvard-cli: no amplifier: no MIDI port pair whose names contain \"NOWHERE\"\n");
    EXPECT_EQ(absent.out, "");
    EXPECT_EQ(cli("--port NOWHERE compare --backup 1").code, 2) << "compare: 1 is for a difference";

    std::ofstream(dir_ / "f.bin", std::ios::binary) << std::string(kFirmwareImageBytes, '\x01');
    const CliRun flash = cli("--port NOWHERE firmware flash " + (dir_ / "f.bin").string());
    EXPECT_EQ(flash.code, 3) << flash.err;
    EXPECT_EQ(flash.err,
              "halvard-cli: flashing cannot be undone from here; nothing sent (--yes flashes it)\n");
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
    EXPECT_NE(text.out.find("\nslot 4    ?]0;X?Y\n"), std::string::npos) << text.out;

    const CliRun backup = cli("backup " + (dir_ / "b.syx").string());
    ASSERT_EQ(backup.code, 0) << backup.err;
    Bytes saved;
    std::string error;
    ASSERT_TRUE(readWholeFile(dir_ / "b.syx", kProgramFileMaxBytes, saved, error)) << error;
    EXPECT_EQ(saved, programFileBytes(loaded)) << "the loaded records, byte for byte";

    const CliRun restore = cli("restore " + (dir_ / "b.syx").string());
    EXPECT_EQ(restore.code, 0) << restore.err;
    EXPECT_EQ(restore.out, "no program would change\n128 programs restored and verified\n") << "no progress";

    // Program 3 is changed on the amplifier and the restore brings it back, but the amplifier stores
    // something else: the restore changed the amplifier and failed, and says what undoes it.
    const std::string record3 = emulator.recordHex(3);
    ASSERT_EQ(emulator.command("set-record 3 00" + record3.substr(2)).substr(0, 2), "ok");
    ASSERT_EQ(emulator.command("fault alter-store 3"), "ok fault alter-store 3");
    const CliRun differs = cli("restore --yes " + (dir_ / "b.syx").string());
    EXPECT_EQ(differs.code, 4);
    EXPECT_NE(differs.err.find("halvard-cli: program 3 differs: file 0"), std::string::npos) << differs.err;
    EXPECT_TRUE(differs.err.ends_with(
        "halvard-cli: 1 of the restored settings differ from the file; changed on the amplifier: program 3; "
        "kept backup 3 undoes it (halvard-cli restore --backup 3 --yes)\n"))
        << differs.err;
    ASSERT_EQ(emulator.command("fault none"), "ok fault none");

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
    EXPECT_EQ(backup.out, "128 programs backed up to " + (dir_ / "b.syx").string() + "\n");
    EXPECT_NE(backup.err.find("halvard-cli: kept in the library as backup 1\n"), std::string::npos)
        << backup.err;

    // Program 3 changed on the amplifier itself: its name may no longer fit.
    const std::string record3 = emulator.command("record 3").substr(std::string("ok record 3 ").size());
    const bool loop = record3.substr(0, 2) == "01";  // byte 5: loop bypass
    ASSERT_EQ(
        emulator.command("set-record 3 " + std::string(loop ? "00" : "01") + record3.substr(2)).substr(0, 2),
        "ok");
    const std::string change = loop ? "loopBypass 0 -> 1" : "loopBypass 1 -> 0";
    const nlohmann::json difference = {
        {"program", 3}, {"field", "loopBypass"}, {"from", loop ? 0 : 1}, {"to", loop ? 1 : 0}};
    const CliRun programs = cli("programs --json");
    ASSERT_EQ(programs.code, 0) << programs.err;
    const auto listed = json(programs)["programs"];
    ASSERT_EQ(listed.size(), 128u) << programs.out;
    EXPECT_EQ(listed[3]["name"], "Clean \xC3\xA9t\xC3\xA9");
    EXPECT_TRUE(listed[3]["stale"]);
    EXPECT_FALSE(listed[9]["stale"]);
    EXPECT_TRUE(listed[4]["name"].is_null());

    ASSERT_EQ(emulator.command("program 2"), "ok program 2");
    const CliRun compare = cli("compare --backup 1 --json --program 9");
    ASSERT_EQ(compare.code, 1) << "something differs: " << compare.err;
    EXPECT_EQ(json(compare)["differences"], nlohmann::json::array({difference})) << compare.out;
    EXPECT_EQ(json(compare)["programs"][0]["name"], "Clean \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(emulator.command("program"), "ok program 9") << "the program asked to end on";

    ASSERT_EQ(cli("programs name 3 Other").code, 0);
    const CliRun refused = cli("restore --backup 1");
    EXPECT_EQ(refused.code, 3);
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
    EXPECT_EQ(globals.code, 3);
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

// Every command that reports a result prints it with --json as one JSON object on one line, and
// nothing else on standard output.
TEST_F(CliE2e, EveryJsonCommandPrintsOneObjectAndNothingElse) {
    EmulatorProcess emulator;
    ASSERT_TRUE(emulator.started());
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator.portsOpen(); })) << emulator.transcript();
    const std::string dir = dir_.string();
    std::string image(kFirmwareImageBytes, '\x05');
    image[kFirmwareImageBytes - 3] = 0x02;  // version 2.0, newer than the emulator's
    image[kFirmwareImageBytes - 4] = 0x00;
    std::ofstream(dir_ / "f.bin", std::ios::binary) << image;
    // In this order: the import takes an extracted file, the flash restarts the amplifier.
    const std::vector<std::pair<std::string, std::string>> runs = {
        {"ports", "ports"},
        {"info", "info --program 3"},
        {"backup", "backup " + dir + "/j.syx"},
        {"compare", "compare " + dir + "/j.syx"},
        {"restore", "restore --yes " + dir + "/j.syx"},
        {"programs", "programs"},
        {"programs name", "programs name 4 Solo"},
        {"programs copy", "programs copy 1 2"},
        {"programs swap", "programs swap 1 2"},
        {"backups", "backups"},
        {"ir extract", "ir extract " + dir + "/irs"},
        {"ir import",
         "ir import 2 \"" + dir + "/irs/" + std::string(factoryIrCatalogue()[0].name) + ".wav\""},
        {"ir factory", "ir factory 3 4"},
        {"ir factory", "ir factory --list"},
        {"firmware flash", "firmware flash --yes " + dir + "/f.bin"},
    };
    std::vector<std::pair<std::string, nlohmann::json>> results;
    for (const auto& [command, args] : runs) {
        const CliRun run = cli(args + " --json");
        EXPECT_EQ(run.code, 0) << args << ": " << run.err;
        ASSERT_TRUE(run.out.ends_with("\n")) << args << ": " << run.out;
        EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << args << ": one line";
        const nlohmann::json parsed = nlohmann::json::parse(run.out, nullptr, false);
        EXPECT_TRUE(parsed.is_object()) << args << ": " << run.out;
        results.emplace_back(command, parsed);
    }
    for (const std::string_view command : cli::commandNames()) {
        const auto options = cli::commandOptions(command);
        if (std::find(options.begin(), options.end(), "--json") == options.end()) continue;
        EXPECT_TRUE(std::any_of(runs.begin(), runs.end(), [&](const auto& r) { return r.first == command; }))
            << command << " takes --json but is not run here";
    }
    const auto result = [&](size_t i) { return results.at(i).second; };
    EXPECT_TRUE(result(0)["inputs"][0]["amplifier"].is_boolean());
    EXPECT_EQ(result(2)["keptBackup"], 1);
    EXPECT_EQ(result(3)["differ"], false);
    EXPECT_EQ(result(4)["keptBackup"], 2) << "the backup before the restore";
    EXPECT_EQ(result(4)["changed"], nlohmann::json::array());
    EXPECT_EQ(result(11)["slot"], 2);
    EXPECT_EQ(result(13)["factoryIrs"].size(), 15u);
    EXPECT_EQ(result(14)["firmware"], "2.0");
}

}  // namespace
}  // namespace halvard::e2e
