// The librarian end to end: the device worker on real JACK ports against the amplifier emulator,
// the file dialogs answered by a script. A backup holds the emulator's records byte for byte; a
// restore makes them equal and is verified; an altered store is caught; a silent amplifier leaves
// no file; a malformed file sends nothing; a firmware update waits for its backup.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/librarian/librarian_commands.hpp"
#include "device/librarian/program_backup.hpp"
#include "editor_worker.hpp"
#include "loopback_http_server.hpp"
#include "util/hex.hpp"

namespace halvard::e2e {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class LibrarianE2e : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(startJackTest(dir_), ""); }

    void start(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--log", "--restart-away", "300"});
        emulator_ = std::make_unique<EmulatorProcess>(args);
        ASSERT_TRUE(emulator_->started());
        ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator_->portsOpen(); })) << transcript();
    }

    void connect(FirmwareSource* firmware = nullptr, fs::path backups = {}) {
        worker_ = std::make_unique<EditorWorker>(firmware, &dialogs_, std::move(backups));
        ASSERT_TRUE(worker_->connected()) << stateName(worker_->state()) << transcript();
    }

    // Runs a librarian command on a file of dir_ and returns what the status line says after it.
    std::string run(CommandKind command, const std::string& name) {
        DeviceMirror& mirror = worker_->mirror;
        mirror.setStatusLine("");
        dialogs_.answer((dir_ / name).string());
        mirror.postCommand(command);
        EmulatorProcess::waitFor([&] { return !mirror.statusLine().view().empty(); }, 30s);
        return std::string(mirror.statusLine().view());
    }

    // Waits until the emulator has received nothing new for a while (the re-read after a restore).
    void settle() {
        int last = -1;
        for (int now; (now = emulator_->receivedTotal()) != last;) {
            last = now;
            std::this_thread::sleep_for(300ms);
        }
    }

    std::string transcript() const { return emulator_ ? emulator_->transcript() : std::string(); }

    fs::path dir_ = fs::path(::testing::TempDir()) / "librarian-e2e";
    ScriptedDialogs dialogs_;
    std::unique_ptr<EmulatorProcess> emulator_;
    std::unique_ptr<EditorWorker> worker_;
};

// Bytes 5..14 of every stored program of a file, one after the other, as the emulator lists them.
std::string recordsOf(const ProgramFile& file) {
    std::string text;
    for (const StoredProgram& s : file.stored) text += toHex(std::span(s.write).subspan(5, 10));
    return text;
}

TEST_F(LibrarianE2e, BackupHoldsTheRecordsAndRestoreMakesThemEqualVerified) {
    start();
    connect(nullptr, dir_ / "kept");  // no library: the automatic backups are kept as files
    // The amplifier switches to program 5 and says so; the editor reads it.
    ASSERT_EQ(emulator_->command("notice 5"), "ok notice sent");
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return worker_->mirror.record(5).loaded == 1; }));
    settle();

    ASSERT_EQ(run(CommandKind::BackupPrograms, "a.syx"), "128 PROGRAMS BACKED UP TO a.syx") << transcript();
    const Bytes a = readFile(dir_ / "a.syx");
    const ParsedProgramFile backup = parseProgramFile(a);
    ASSERT_FALSE(backup.error) << backup.error->reason;
    ASSERT_EQ(backup.file.stored.size(), 128u);
    for (int p = 0; p < 128; ++p) EXPECT_EQ(backup.file.stored[static_cast<size_t>(p)].program, p);
    EXPECT_EQ(recordsOf(backup.file), emulator_->recordsHex());
    ASSERT_TRUE(backup.file.selection);
    EXPECT_EQ((*backup.file.selection)[3], 5) << "the file ends on the program that was current";
    const std::string globals = emulator_->fields(emulator_->command("status")).at("globals");
    EXPECT_EQ(toHex(std::array{backup.file.stored[0].write[4], backup.file.stored[0].write[15]}), globals);

    // Other records: every loop bypass flipped.
    ProgramFile other = backup.file;
    for (StoredProgram& s : other.stored) s.write[5] ^= 1;
    writeFile(dir_ / "b.syx", programFileBytes(other));
    ASSERT_EQ(run(CommandKind::RestorePrograms, "b.syx"), "128 PROGRAMS RESTORED AND VERIFIED")
        << transcript();
    EXPECT_EQ(emulator_->recordsHex(), recordsOf(other));
    EXPECT_EQ(emulator_->fields(emulator_->command("status")).at("program"), "5");

    // A store the amplifier gets wrong shows in the read-back.
    ASSERT_EQ(emulator_->command("fault alter-store 9"), "ok fault alter-store 9");
    ASSERT_EQ(run(CommandKind::RestorePrograms, "a.syx"), "128 PROGRAMS RESTORED, 1 DIFFER: 9")
        << transcript();

    // A malformed file is refused before anything is sent.
    settle();
    ASSERT_EQ(emulator_->command("clear"), "ok cleared");
    Bytes bad = a;
    bad[21 * 100 + 7] = 0x80;
    writeFile(dir_ / "c.syx", bad);
    EXPECT_EQ(run(CommandKind::RestorePrograms, "c.syx"),
              "FILE REFUSED AT BYTE 2107: 0x80 IS NOT A 7-BIT DATA BYTE");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(emulator_->receivedTotal(), 0);
}

TEST_F(LibrarianE2e, AnUnansweredReadFailsTheBackupAndLeavesNoFile) {
    start();
    connect();
    ASSERT_EQ(emulator_->command("fault ignore 0x02"), "ok fault ignore 0x02");
    EXPECT_EQ(run(CommandKind::BackupPrograms, "d.syx"), "BACKUP FAILED: PROGRAM 0 DID NOT ANSWER");
    EXPECT_TRUE(fs::is_empty(dir_)) << "neither the file nor a partial one";
}

std::string imageOfVersion(uint16_t version) {
    std::string image(kFirmwareImageBytes, '\x11');
    image[kFirmwareImageBytes - 3] = static_cast<char>(version >> 8);
    image[kFirmwareImageBytes - 4] = static_cast<char>(version & 0xFF);
    return image;
}

TEST_F(LibrarianE2e, AFirmwareUpdateStartsOnlyAfterItsBackupIsWritten) {
    const std::string served = imageOfVersion(0x0200);
    test::LoopbackHttpServer server([&](const std::string&) {
        test::HttpResponse response;
        response.body = served;
        return response;
    });
    HttpFirmwareSource source(server.baseUrl());
    start({"--firmware", "1.9"});

    // No library, and no backups folder (no home folder) or one that cannot be made (a file is in
    // the way): no firmware goes out.
    writeFile(dir_ / "blocked", {});
    for (const fs::path& folder : {fs::path(), dir_ / "blocked" / "backups"}) {
        connect(&source, folder);
        ASSERT_TRUE(
            EmulatorProcess::waitFor([&] { return !worker_->mirror.statusLine().view().empty(); }, 20s));
        EXPECT_TRUE(worker_->mirror.statusLine().view().starts_with(kUpdatePostponedText))
            << worker_->mirror.statusLine().view();
        EXPECT_EQ(worker_->state(), LinkState::Connected);
        EXPECT_EQ(emulator_->received(0x07), 0) << folder;
        worker_.reset();
    }

    // A folder that can be made: the backup is written, then the image goes out.
    ASSERT_EQ(emulator_->command("clear"), "ok cleared");
    const fs::path backups = dir_ / "data" / "backups";
    worker_ = std::make_unique<EditorWorker>(&source, &dialogs_, backups);
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator_->received(0x09) == 1; }, 60s))
        << transcript();
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(backups)) files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0].filename().string().ends_with("_firmware-1.9.syx")) << files[0];
    const ParsedProgramFile backup = parseProgramFile(readFile(files[0]));
    ASSERT_FALSE(backup.error);
    EXPECT_EQ(recordsOf(backup.file), emulator_->recordsHex());

    const std::vector<Bytes> messages = emulator_->messages();
    const auto firstChunk = std::find_if(messages.begin(), messages.end(),
                                         [](const Bytes& m) { return m.size() > 2 && m[2] == 0x07; });
    const auto reads = std::count_if(messages.begin(), firstChunk,
                                     [](const Bytes& m) { return m.size() > 2 && m[2] == 0x02; });
    EXPECT_EQ(reads, 129) << "every program read before the first chunk";
}

}  // namespace
}  // namespace halvard::e2e
