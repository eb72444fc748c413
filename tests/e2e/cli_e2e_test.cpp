// halvard-cli end to end against the amplifier emulator on JACK: every exit code, one-line reasons,
// every command's --help and --json, a backup of records loaded with the emulator's --programs, a
// verified restore, and a difference found by the read-back; the program library's names and kept
// backups (a library of the test's own, through HALVARD_LIBRARY, and a home folder of its own);
// programs as files and the collection.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cli/cli_options.hpp"
#include "device/firmware/firmware_download.hpp"
#include "device/firmware/firmware_update.hpp"
#include "device/librarian/program_backup.hpp"
#include "device/librarian/program_file.hpp"
#include "device/worker/worker.hpp"
#include "editor_worker.hpp"
#include "emulator_process.hpp"
#include "ir/factory_catalogue.hpp"
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
    // amplifier on ALSA is ever touched; its home and data folders in dir_. env: more to its
    // environment ("env -u HOME" and the like). $HALVARD_TEST_CLI names an installed copy to test
    // instead of the build tree's.
    CliRun cli(const std::string& args, const std::string& env = {}) {
        const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
        const char* installed = std::getenv("HALVARD_TEST_CLI");
        const std::string line = "HALVARD_LIBRARY=" + (dir_ / "library.sqlite3").string() +
                                 " HOME=" + dir_.string() + " XDG_DATA_HOME=" + (dir_ / "data").string() +
                                 " " + env + " " + std::string(installed ? installed : HALVARD_CLI_PATH) +
                                 " " + args + (takesApi(args) ? " --api jack" : "") + " >" + out.string() +
                                 " 2>" + err.string();
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

    ASSERT_EQ(cli("programs swap --yes 3 9").code, 0);
    ASSERT_EQ(cli("programs copy --yes 9 20").code, 0);
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
    ASSERT_TRUE(emulator.ready()) << emulator.transcript();
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
    EXPECT_EQ(refused.code, 3);
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

TEST_F(CliE2e, NoWriteOverTheProgramsWithoutAKeptBackup) {
    EmulatorProcess emulator;
    ASSERT_TRUE(emulator.ready()) << emulator.transcript();
    ASSERT_EQ(cli("backup " + (dir_ / "b.syx").string()).code, 0);
    const std::string record3 = emulator.recordHex(3);
    ASSERT_EQ(emulator
                  .command("set-record 3 " + std::string(record3.substr(0, 2) == "01" ? "00" : "01") +
                           record3.substr(2))
                  .substr(0, 2),
              "ok");
    ASSERT_NE(emulator.recordHex(3), emulator.recordHex(9));
    ASSERT_EQ(cli("backup " + (dir_ / "held.syx").string()).code, 0) << "what the amplifier holds now";
    Bytes held;
    std::string error;
    ASSERT_TRUE(readWholeFile(dir_ / "held.syx", kProgramFileMaxBytes, held, error)) << error;

    // A library that cannot be opened: the programs read are kept as a file in the backups folder.
    std::ofstream(dir_ / "foreign") << "not a program library";
    const std::string foreign = " --library " + (dir_ / "foreign").string();
    const CliRun restored = cli("restore --yes " + (dir_ / "b.syx").string() + foreign);
    ASSERT_EQ(restored.code, 0) << restored.err;
    const fs::path backups = dir_ / "data" / "halvard-editor" / "backups";
    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(backups)) kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(kept[0].filename().string().ends_with("_before-restore_firmware-1.7.syx")) << kept[0];
    EXPECT_NE(restored.err.find("halvard-cli: kept as " + kept[0].string() + "\n"), std::string::npos)
        << restored.err;
    Bytes keptBytes;
    ASSERT_TRUE(readWholeFile(kept[0], kProgramFileMaxBytes, keptBytes, error)) << error;
    EXPECT_EQ(keptBytes, held) << "byte for byte what the amplifier held";

    // Neither a library nor a home folder: nothing is sent unless --no-backup says so.
    const std::string homeless = "env -u HOME -u XDG_DATA_HOME";
    std::string image(kFirmwareImageBytes, '\x11');
    image[kFirmwareImageBytes - 3] = 2;  // version 2.0
    image[kFirmwareImageBytes - 4] = 0;
    std::ofstream(dir_ / "image.bin", std::ios::binary) << image;
    const std::string before = emulator.recordsHex();
    ASSERT_EQ(emulator.command("clear"), "ok cleared");
    for (const std::string& command :
         {"restore --yes " + (dir_ / "held.syx").string(), std::string("programs copy --yes 3 9"),
          std::string("programs swap --yes 3 9"), "firmware flash --yes " + (dir_ / "image.bin").string()}) {
        const CliRun refused = cli(command + foreign, homeless);
        EXPECT_EQ(refused.code, 1) << command;
        EXPECT_NE(refused.err.find("no backup of the programs can be kept"), std::string::npos)
            << command << ": " << refused.err;
    }
    EXPECT_EQ(emulator.received(0x01), 0) << "no settings write";
    EXPECT_EQ(emulator.received(0x07), 0) << "no firmware chunk";
    EXPECT_EQ(emulator.recordsHex(), before);

    // A copy over a program that differs needs --yes, a copy of an equal one does not.
    const CliRun asked = cli("programs copy 9 3");
    EXPECT_EQ(asked.code, 3);
    EXPECT_EQ(asked.err, "halvard-cli: program 3 would change; nothing sent (--yes copies)\n");
    EXPECT_EQ(emulator.received(0x01), 0);
    const CliRun knowingly = cli("programs swap --yes --no-backup 3 9" + foreign, homeless);
    EXPECT_EQ(knowingly.code, 0) << knowingly.err;
    EXPECT_NE(knowingly.err.find("going ahead (--no-backup)"), std::string::npos) << knowingly.err;
    EXPECT_EQ(emulator.recordHex(9), before.substr(3 * 20, 20));
}

std::string recordsOfFile(const fs::path& path) {
    Bytes bytes;
    std::string error;
    if (!readWholeFile(path, kProgramFileMaxBytes, bytes, error)) return error;
    const ParsedProgramFile parsed = parseProgramFile(bytes);
    std::string hex;
    for (const StoredProgram& p : parsed.file.stored) hex += toHex(std::span(p.write).subspan(5, 10));
    return hex;
}

TEST_F(CliE2e, OneProgramAtATimeAtTheAmplifier) {
    EmulatorProcess emulator;
    ASSERT_TRUE(emulator.ready()) << emulator.transcript();
    EditorWorker editor(nullptr, nullptr, {}, true);
    ASSERT_TRUE(editor.connected()) << emulator.transcript();
    // Then the amplifier reports a change every 100 ms: the editor reads it again and again (and on
    // a busy machine may not be seen Connected again between two reads).
    ASSERT_EQ(emulator.command("fault notice-every 100").substr(0, 2), "ok");

    for (int run = 0; run < 2; ++run) {
        const fs::path file = dir_ / ("b" + std::to_string(run) + ".syx");
        CliRun backup;
        std::thread cliThread([&] { backup = cli("backup " + file.string()); });
        const bool shown = EmulatorProcess::waitFor(
            [&] { return editor.mirror.statusLine().view() == kInUseByCliText; }, 20s);
        cliThread.join();
        ASSERT_EQ(backup.code, 0) << backup.err;
        EXPECT_TRUE(shown) << "the editor's status line while halvard-cli held the amplifier";
        EXPECT_EQ(recordsOfFile(file), emulator.recordsHex())
            << "run " << run << ": none of the editor's replies";
        // Once halvard-cli is done the editor reads the amplifier again.
        const size_t after = editor.repaints();
        EXPECT_TRUE(EmulatorProcess::waitFor([&] {
            const std::vector<Shown> shown = editor.shown();
            return editor.mirror.statusLine().view().empty() && shown.size() > after &&
                   std::any_of(shown.begin() + static_cast<std::ptrdiff_t>(after), shown.end(),
                               [](const Shown& s) { return s.progress == kProgressReading; });
        })) << editor.mirror.statusLine().view();
    }

    // A second editor keeps away from the amplifier the first one has.
    EditorWorker second(nullptr, nullptr, {}, true);
    EXPECT_TRUE(EmulatorProcess::waitFor(
        [&] { return second.mirror.statusLine().view() == kInUseByEditorText; }, 20s));
    EXPECT_EQ(second.state(), LinkState::NoDevice);
    EXPECT_NE(editor.state(), LinkState::NoDevice) << "the first editor keeps the amplifier";
}

TEST_F(CliE2e, PortNamesPrintCleanedAndBackupsFailsWhenTheReadDoes) {
    // Any local program may name its port with a terminal's escape sequences.
    EmulatorProcess emulator({"--name", "VDR \x1B]0;x\x07\xC2\x9B", "--ignore", "0x02"});
    ASSERT_TRUE(emulator.ready()) << emulator.transcript();
    const CliRun ports = cli("ports");
    EXPECT_EQ(ports.code, 0) << ports.err;
    EXPECT_EQ(ports.out.find('\x1B'), std::string::npos) << ports.out;
    EXPECT_NE(ports.out.find("VDR ?]0;x?? In"), std::string::npos) << ports.out;

    const CliRun backups = cli("backups");
    EXPECT_EQ(backups.code, 1) << "the amplifier's read failed";
    EXPECT_NE(backups.err.find("was not answered"), std::string::npos) << backups.err;
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
        {"programs copy", "programs copy --yes 1 2"},
        {"programs swap", "programs swap --yes 1 2"},
        {"backups", "backups"},
        {"programs export", "programs export 5 " + dir + "/p.halvard-program"},
        {"collection add", "collection add " + dir + "/p.halvard-program"},
        {"collection add", "collection add --program 7 --name Seven"},
        {"collection list", "collection list"},
        {"collection show", "collection show 1"},
        {"collection tag", "collection tag 1 live"},
        {"collection export", "collection export 1 " + dir + "/e.halvard-program"},
        {"collection load", "collection load 2 --program 3"},
        {"collection place", "collection place 1 9 --yes"},
        {"programs import", "programs import " + dir + "/e.halvard-program 12 --yes"},
        {"collection remove", "collection remove 2"},
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
    EXPECT_EQ(result(11)["added"][0]["id"], 1);
    EXPECT_EQ(result(13)["entries"].size(), 2u);
    EXPECT_EQ(result(14)["id"], 1);
    EXPECT_EQ(result(18)["program"], 9);
    EXPECT_EQ(result(19)["program"], 12);
    EXPECT_EQ(result(22)["slot"], 2);
    EXPECT_EQ(result(24)["factoryIrs"].size(), 15u);
    EXPECT_EQ(result(25)["firmware"], "2.0");
}

}  // namespace
}  // namespace halvard::e2e
