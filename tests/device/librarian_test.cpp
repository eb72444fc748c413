#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "device/librarian/collection_commands.hpp"
#include "device/librarian/librarian_commands.hpp"
#include "device/librarian/library_access.hpp"
#include "device/librarian/program_backup.hpp"
#include "device/librarian/program_file.hpp"
#include "device/link/clock.hpp"
#include "device/link/file_dialogs.hpp"
#include "device/worker/worker.hpp"
#include "fake_device.hpp"

namespace halvard {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

const Bytes kStore = {0xF0, 0x00, 0x0A, 0xF7};

Bytes settingsWrite(int program, uint8_t loopBypass = 0) {
    SettingsWriteMessage m{};
    ProgramSettings s;
    s.loopBypass = loopBypass;
    s.filterA[0] = s.filterA[1] = 2;
    s.filterB[0] = s.filterB[1] = 1;
    buildSettingsWrite(m, program, SettingsGlobals{}, s);
    return Bytes(m.begin(), m.end());
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(ProgramFile, RefusesAMalformedFileAtItsFirstBadByte) {
    Bytes high = settingsWrite(1);
    high[9] = 0x85;
    Bytes early = settingsWrite(1);
    early[10] = 0xF7;
    Bytes foreign = settingsWrite(1);
    foreign[1] = 0x01;
    const struct {
        const char* what;
        Bytes file;
        size_t offset;
    } cases[] = {
        {"empty", {}, 0},
        {"a settings write without a store only", settingsWrite(1), 17},
        {"a byte above 0x7F", join({high, kStore}), 9},
        {"a message that ends early", join({early, kStore}), 10},
        {"another maker's message", join({foreign, kStore}), 1},
        {"a settings read", join({settingsWrite(1), kStore, {0xF0, 0x00, 0x02, 0x01, 0xF7}}), 23},
        {"a store before any write", join({kStore, settingsWrite(1), kStore}), 0},
        {"a program stored twice", join({settingsWrite(1), kStore, settingsWrite(1), kStore}), 24},
        {"a write that is neither stored nor last", join({settingsWrite(1), settingsWrite(2), kStore}), 17},
        {"cut inside a message", join({settingsWrite(1), kStore, {0xF0, 0x00, 0x01, 0x05}}), 25},
        {"a stray byte after the last message", join({settingsWrite(1), kStore, {0x00}}), 21},
    };
    for (const auto& c : cases) {
        const ParsedProgramFile parsed = parseProgramFile(c.file);
        ASSERT_TRUE(parsed.error.has_value()) << c.what;
        EXPECT_EQ(parsed.error->offset, c.offset) << c.what << ": " << parsed.error->reason;
        EXPECT_TRUE(parsed.file.stored.empty()) << c.what;
    }

    const Bytes good = join({settingsWrite(0), kStore, settingsWrite(5, 1), kStore, settingsWrite(5, 1)});
    const ParsedProgramFile parsed = parseProgramFile(good);
    ASSERT_FALSE(parsed.error.has_value()) << parsed.error->reason;
    ASSERT_EQ(parsed.file.stored.size(), 2u);
    EXPECT_EQ(parsed.file.stored[1].program, 5);
    ASSERT_TRUE(parsed.file.selection.has_value());
    EXPECT_EQ(programFileBytes(parsed.file), good);
}

class ScriptedDialogs final : public FileDialogs {
public:
    std::string answer;
    std::vector<DialogMode> modes;
    bool accept = true;
    std::vector<Confirmation> questions;
    std::string showFileDialog(DialogMode mode) override {
        modes.push_back(mode);
        return answer;
    }
    bool confirm(const Confirmation& question) override {
        questions.push_back(question);
        return accept;
    }
};

struct Librarian : ::testing::Test, test::FakeLink {
    ScriptedDialogs dialogs;
    // One folder per case: CTest runs the cases side by side.
    fs::path folder =
        fs::path(::testing::TempDir()) /
        ("librarian_test-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));

    void SetUp() override {
        ctx.dialogs = &dialogs;
        ports.plugAmp();
        ASSERT_TRUE(openDevicePorts(ctx));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }

    // The file a backup of the fake amplifier must give, built here from its state.
    Bytes expectedBackup(int current) const {
        Bytes file;
        const auto write = [&](int p) {
            SettingsWriteMessage m{};
            buildSettingsWrite(m, p, ports.amp.globals, ports.amp.programs[static_cast<size_t>(p)]);
            file.insert(file.end(), m.begin(), m.end());
        };
        for (int p = 0; p < kProgramCount; ++p) {
            write(p);
            file.insert(file.end(), kStore.begin(), kStore.end());
        }
        write(current);
        return file;
    }

    // A library file for the worker to open (at libraryFile), and the test's own look into it.
    fs::path libraryFile = folder / "library.sqlite3";
    std::unique_ptr<ProgramLibrary> library() const {
        std::string error;
        auto opened = ProgramLibrary::open(libraryFile, error);
        EXPECT_TRUE(opened) << error;
        return opened;
    }

    std::vector<Bytes> sentOfCode(uint8_t code) const {
        std::vector<Bytes> out;
        for (const auto& s : ports.sent)
            if (s.bytes.size() > 2 && s.bytes[2] == code) out.push_back(s.bytes);
        return out;
    }
};

TEST_F(Librarian, BackupReadsEveryProgramAndReturnsToTheCurrentOne) {
    mirror.program = 7;
    ports.amp.programs[3].loopBypass = 1;
    ports.amp.globals.mono = 1;
    const BackupResult backup = backupPrograms(ctx);
    ASSERT_EQ(backup.result, ReplyResult::Ok);
    EXPECT_EQ(programFileBytes(backup.file), expectedBackup(7));
    const std::vector<Bytes> reads = sentOfCode(kCodeSettings);
    ASSERT_EQ(reads.size(), 129u);
    EXPECT_EQ(reads.back(), (Bytes{0xF0, 0x00, 0x02, 7, 0xF7})) << "the last read goes back to program 7";
    EXPECT_EQ(ports.sent.back().bytes[2], 0x02) << "no edits to write back";

    // An edit of program 7 not stored in the amplifier is written back after the backup.
    ProgramSettings edit = ports.amp.programs[7];
    edit.loaded = 1;
    edit.reverb[0] = 1;
    mirror.setRecord(7, edit);
    const uint32_t outside = mirror.outsideChanges.load();
    ASSERT_EQ(backupPrograms(ctx).result, ReplyResult::Ok);
    EXPECT_EQ(ports.sent.back().bytes[2], 0x01);
    EXPECT_EQ(ports.amp.programs[7].reverb[0], 1);
    EXPECT_EQ(mirror.record(7), edit);
    EXPECT_EQ(mirror.outsideChanges.load(), outside) << "no outside change: the edit history stays";

    // An unanswered read ends the backup there: reported like every time-out, no file.
    ports.sent.clear();
    ports.amp.silentForProgram = 40;
    const BackupResult failed = backupPrograms(ctx);
    EXPECT_EQ(failed.result, ReplyResult::Timeout);
    EXPECT_EQ(failed.failedProgram, 40);
    EXPECT_TRUE(failed.file.stored.empty());
    EXPECT_EQ(sentOfCode(kCodeSettings).size(), 41u);
    EXPECT_EQ(mirror.linkState, LinkState::Error);
    EXPECT_EQ(ctx.failures, 1);
}

TEST_F(Librarian, RestoreSendsTheFileThenReadsItBackAndReportsWhatDiffers) {
    // A file from an amplifier with other programs.
    test::FakeAmp other;
    for (auto& s : other.programs) s.hfComp[1] = 1;
    other.programs[9].loopBypass = 1;
    ProgramFile file;
    for (int p = 0; p < kProgramCount; ++p) {
        StoredProgram s{static_cast<uint8_t>(p), {}};
        buildSettingsWrite(s.write, p, other.globals, other.programs[static_cast<size_t>(p)]);
        file.stored.push_back(s);
    }
    file.selection = file.stored[9].write;

    int lastDone = 0, lastTotal = 0;
    const RestoreResult restore =
        restorePrograms(ctx, file, true, [&](int done, int total) { lastDone = done, lastTotal = total; });
    EXPECT_EQ(restore.result, ReplyResult::Ok);
    EXPECT_EQ(restore.sent, 128);
    EXPECT_TRUE(restore.verified);
    EXPECT_TRUE(restore.mismatches.empty());
    EXPECT_EQ(restore.endProgram, 9);
    EXPECT_EQ(lastDone, 256);
    EXPECT_EQ(lastTotal, 256);
    for (int p = 0; p < kProgramCount; ++p) {
        ProgramSettings expected = other.programs[static_cast<size_t>(p)];
        EXPECT_EQ(ports.amp.programs[static_cast<size_t>(p)], expected) << "program " << p;
    }
    // Writes and stores in pairs, then the reads, then the closing write.
    const std::vector<int> codes = ports.sentCodes();
    ASSERT_EQ(codes.size(), 128u * 3 + 1);
    EXPECT_EQ(codes[0], 0x01);
    EXPECT_EQ(codes[1], 0x0A);
    EXPECT_EQ(codes[256], 0x02);
    EXPECT_EQ(codes.back(), 0x01);

    // An amplifier that keeps its old program 9 is caught by the read-back.
    for (auto& s : file.stored) s.write[12] = 0x00;  // HF comp off everywhere
    ports.amp.keepsOldProgram = {9};
    const RestoreResult caught = restorePrograms(ctx, file, true);
    EXPECT_EQ(caught.result, ReplyResult::Ok);
    ASSERT_EQ(caught.mismatches.size(), 1u);
    EXPECT_EQ(caught.mismatches[0].program, 9);
    EXPECT_EQ(caught.mismatches[0].expected[7], 0x00);
    EXPECT_EQ(caught.mismatches[0].found[7], 0x10);
    EXPECT_EQ(restoreStatusText(caught), "128 PROGRAMS RESTORED, 1 DIFFER: 9");
}

TEST_F(Librarian, CommandsWriteOnlyWholeFilesAndRefuseBadOnesBeforeSending) {
    DeviceWorker worker(ctx);
    const auto run = [&](CommandKind c) {
        mirror.linkState = LinkState::Connected;
        mirror.postCommand(c);
        worker.runPass();
    };

    dialogs.answer = (folder / "all.syx").string();
    run(CommandKind::BackupPrograms);
    EXPECT_EQ(dialogs.modes.back(), DialogMode::SaveProgramFile);
    std::ifstream in(folder / "all.syx", std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), expectedBackup(0));
    EXPECT_EQ(mirror.statusLine().view(), "128 PROGRAMS BACKED UP TO all.syx");
    EXPECT_EQ(mirror.linkState, LinkState::Connected);

    ports.amp.silentForProgram = 100;
    dialogs.answer = (folder / "half.syx").string();
    run(CommandKind::BackupPrograms);
    EXPECT_EQ(mirror.statusLine().view(), "BACKUP FAILED: PROGRAM 100 DID NOT ANSWER");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "neither the file nor a partial one";

    Bytes bad = expectedBackup(0);
    bad[21 * 5 + 8] = 0x80;
    std::ofstream(folder / "bad.syx", std::ios::binary)
        .write(reinterpret_cast<const char*>(bad.data()), static_cast<std::streamsize>(bad.size()));
    ports.sent.clear();
    dialogs.answer = (folder / "bad.syx").string();
    run(CommandKind::RestorePrograms);
    EXPECT_EQ(dialogs.modes.back(), DialogMode::ProgramFile);
    EXPECT_TRUE(ports.sent.empty());
    EXPECT_EQ(mirror.statusLine().view(), "FILE REFUSED AT BYTE 113: 0x80 IS NOT A 7-BIT DATA BYTE");
    EXPECT_EQ(mirror.linkState, LinkState::Connected);
}

TEST_F(Librarian, TheWorkerShowsTheProgramsNameKeepsItCurrentAndKeepsTheMenusBackups) {
    {
        auto names = library();
        std::string error;
        ProgramRecord old{};
        ASSERT_TRUE(names->setName(0, "Clean Crunch", old, error)) << error;   // not what program 0 holds
        ASSERT_TRUE(names->setName(5, "Lead", std::nullopt, error)) << error;  // named without the amplifier
    }
    ctx.libraryPath = libraryFile;
    const auto opened = openWorkerLibrary(ctx);
    ASSERT_TRUE(opened);
    EXPECT_EQ(mirror.libraryState, LibraryState::Open);
    mirror.linkState = LinkState::NoDevice;  // the sync of a new link
    DeviceWorker worker(ctx);
    worker.runPass();
    ProgramNameLine shown = mirror.programName();
    EXPECT_EQ(shown.program, 0);
    EXPECT_EQ(shown.name.view(), "Clean Crunch");
    EXPECT_TRUE(shown.stale) << "program 0 changed since it was named";

    mirror.postCommand(CommandKind::StorePreset);
    worker.runPass();
    EXPECT_FALSE(mirror.programName().stale) << "stored through the editor: the user's own change";

    mirror.program = 5;
    mirror.postCommand(CommandKind::ReadSettings);
    worker.runPass();
    shown = mirror.programName();
    EXPECT_EQ(shown.program, 5);
    EXPECT_EQ(shown.name.view(), "Lead");
    EXPECT_FALSE(shown.stale);
    ports.amp.programs[5].loopBypass ^= 1;  // changed on the amplifier itself
    ports.deliver({0xF0, 0x00, 0x03, 0x05, 0xF7});
    worker.runPass();
    EXPECT_TRUE(mirror.programName().stale) << "bound at the first read, so a later change shows";
    // Every program's name and mark for the PROGRAMS overlay.
    EXPECT_EQ(mirror.programNames()[0].name.view(), "Clean Crunch");
    EXPECT_TRUE(mirror.programNames()[5].stale);
    EXPECT_TRUE(mirror.programNames()[7].name.view().empty());

    // Renamed from the overlay: kept, bound to what the amplifier holds, shown at once.
    mirror.setRenameText("Lead été");
    mirror.postCommand(Command{CommandKind::RenameProgram, 5});
    worker.runPass();
    EXPECT_EQ(mirror.programName().name.view(), "Lead été");
    EXPECT_FALSE(mirror.programNames()[5].stale);
    mirror.setRenameText("tab	here");
    mirror.postCommand(Command{CommandKind::RenameProgram, 5});
    worker.runPass();
    EXPECT_EQ(mirror.programNames()[5].name.view(), "Lead été") << "a refused name changes nothing";
    EXPECT_EQ(mirror.statusLine().view().substr(0, 15), "NAME NOT KEPT: ");
    // Copied from the overlay: written, stored and read back, and the name follows.
    mirror.postCommand(moveProgramsCommand(CommandKind::CopyProgram, 5, 9));
    worker.runPass();
    EXPECT_EQ(dialogs.questions.back().heading,
              "Replace program 9 with a copy of program 5 (Lead \u00E9t\u00E9)?");
    EXPECT_EQ(mirror.statusLine().view(), "PROGRAM 5 COPIED TO 9 AND VERIFIED");
    EXPECT_EQ(ports.amp.programs[9], ports.amp.programs[5]);
    worker.runPass();
    EXPECT_EQ(mirror.programNames()[9].name.view(), "Lead \u00E9t\u00E9");

    dialogs.answer = (folder / "all.syx").string();
    mirror.postCommand(CommandKind::BackupPrograms);
    worker.runPass();
    EXPECT_EQ(mirror.statusLine().view(), "128 PROGRAMS BACKED UP TO all.syx");
    std::vector<KeptBackupSummary> kept;
    std::string error;
    ASSERT_TRUE(library()->backups(kept, error)) << error;
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[1].reason, BackupReason::BeforeRestore) << "kept before the copy";
    EXPECT_EQ(kept[0].reason, BackupReason::Menu);
    EXPECT_EQ(kept[0].firmware, "1.7");
    EXPECT_EQ(kept[0].fileName, "all.syx");
    EXPECT_EQ(mirror.keptBackups()[0].id, kept[0].id) << "offered by the menu";
    EXPECT_NE(mirror.keptBackups()[0].label.view().find(" \u2014 Backup"), std::string_view::npos);
}

TEST_F(Librarian, ACompareMarksTheProgramsThatDifferUntilTheyNoLongerDoOrItIsCleared) {
    DeviceWorker worker(ctx);  // no library: a file is compared without one
    const auto run = [&](CommandKind c) {
        mirror.linkState = LinkState::Connected;
        mirror.postCommand(c);
        worker.runPass();
    };
    Bytes other = expectedBackup(0);
    for (const int p : {9, 30}) other[21 * static_cast<size_t>(p) + 5] ^= 1;  // their loop bypass
    std::ofstream(folder / "other.syx", std::ios::binary)
        .write(reinterpret_cast<const char*>(other.data()), static_cast<std::streamsize>(other.size()));
    dialogs.answer = (folder / "other.syx").string();
    const auto marked = [&] {
        std::vector<int> programs;
        const ProgramNameTable table = mirror.programNames();
        for (int p = 0; p < kProgramCount; ++p)
            if (table[static_cast<size_t>(p)].differs) programs.push_back(p);
        return programs;
    };

    run(CommandKind::CompareWithFile);
    EXPECT_EQ(mirror.statusLine().view(), "2 PROGRAMS DIFFER FROM other.syx");
    EXPECT_EQ(sentOfCode(kCodeSettingsWrite).size(), 0u) << "a compare writes nothing";
    EXPECT_EQ(marked(), (std::vector<int>{9, 30}));
    EXPECT_EQ(mirror.comparedWith().view(), "other.syx");

    // Program 9 changed at the amplifier to what the file holds: its mark goes with the next read.
    ports.amp.programs[9].loopBypass ^= 1;
    ports.deliver({0xF0, 0x00, 0x03, 0x09, 0xF7});
    worker.runPass();
    worker.runPass();
    EXPECT_EQ(marked(), (std::vector<int>{30}));

    run(CommandKind::ClearComparison);
    EXPECT_EQ(marked(), std::vector<int>{});
    EXPECT_EQ(mirror.comparedWith().view(), "");
}

TEST_F(Librarian, ACopyUnderBypassLockWritesTheBypassTheProgramStoresNotThePanels) {
    ports.amp.globals.bypassLock = 1;  // the panel shows every program's bypass off
    ports.amp.programs[5].bypass = 1;
    const ProgramMoveResult copied = copyProgram(ctx, 5, 9, nullptr);
    EXPECT_EQ(copied.restore.result, ReplyResult::Ok);
    EXPECT_EQ(mirror.record(5).bypass, 0);
    EXPECT_EQ(ports.amp.programs[9], ports.amp.programs[5]);
}

TEST_F(Librarian, ACopyReturnsToTheCurrentProgramWithItsEditsUnlessItReplacedIt) {
    mirror.program = 7;
    ProgramSettings edit = ports.amp.programs[7];
    edit.loaded = 1;
    edit.reverb[0] ^= 1;  // on the panel, not stored in the amplifier
    mirror.setRecord(7, edit);
    const uint32_t outside = mirror.outsideChanges.load();
    EXPECT_EQ(copyProgram(ctx, 5, 9, nullptr).restore.endProgram, 7);
    EXPECT_EQ(mirror.outsideChanges.load(), outside) << "no outside change: the edit history stays";
    EXPECT_EQ(ports.sent.back().bytes, sentOfCode(kCodeSettingsWrite).back());
    EXPECT_EQ(ports.amp.programs[7].reverb[0], edit.reverb[0]) << "the edit written back";

    const ProgramMoveResult onto = copyProgram(ctx, 5, 7, nullptr);
    EXPECT_EQ(onto.restore.endProgram, 7);
    EXPECT_EQ(ports.sent.back().bytes, (Bytes{0xF0, 0x00, kCodeSettings, 7, 0xF7}))
        << "replaced, edit and all";
    EXPECT_EQ(ports.amp.programs[7], ports.amp.programs[5]);
}

TEST_F(Librarian, APlacedRecordIsStoredReadBackAndNamedAndTheCurrentProgramKeepsItsEdits) {
    mirror.program = 7;
    ProgramSettings edit = ports.amp.programs[7];
    edit.loaded = 1;
    edit.tremolo[1] ^= 1;
    mirror.setRecord(7, edit);
    ProgramSettings wanted = ports.amp.programs[2];
    wanted.hfComp[0] ^= 1;
    const ProgramRecord record = recordOfSettings(wanted);
    const auto names = library();
    const ProgramMoveResult placed = placeProgram(ctx, record, 9, "Placed", names.get());
    EXPECT_EQ(placed.restore.result, ReplyResult::Ok);
    EXPECT_TRUE(placed.restore.verified && placed.restore.mismatches.empty());
    EXPECT_EQ(recordOfSettings(ports.amp.programs[9]), record);
    EXPECT_EQ(ports.amp.programs[7].tremolo[1], edit.tremolo[1]) << "the edit written back";
    std::array<ProgramName, kProgramCount> now;
    std::string error;
    ASSERT_TRUE(names->names(now, error)) << error;
    EXPECT_EQ(now[9].name, "Placed");
    EXPECT_EQ(now[9].boundRecord, record);
}

TEST_F(Librarian, ALibraryThatCannotBeUsedLeavesTheEditorWorkingWithoutNames) {
    std::ofstream(libraryFile) << std::string(4096, 'x');
    ctx.libraryPath = libraryFile;
    EXPECT_FALSE(openWorkerLibrary(ctx));
    EXPECT_EQ(mirror.libraryState, LibraryState::Damaged);
    mirror.linkState = LinkState::NoDevice;
    DeviceWorker worker(ctx);
    worker.runPass();
    EXPECT_EQ(mirror.linkState, LinkState::Connected);
    EXPECT_TRUE(mirror.programName().name.view().empty());
    dialogs.answer = (folder / "all.syx").string();
    mirror.postCommand(CommandKind::BackupPrograms);
    worker.runPass();
    EXPECT_EQ(mirror.statusLine().view(), "128 PROGRAMS BACKED UP TO all.syx");
    EXPECT_EQ(fs::file_size(libraryFile), 4096u) << "left as it was";
}

TEST_F(Librarian, ALibraryLockedAtTheStartIsTriedAgainWhileConnectedAndItsNamesThenShow) {
    {
        std::string error;
        ASSERT_TRUE(library()->setName(0, "Clean Crunch", std::nullopt, error)) << error;
    }
    sqlite3* holder = nullptr;  // another program, holding the file in exclusive mode
    ASSERT_EQ(sqlite3_open(libraryFile.string().c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(holder, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE", nullptr, nullptr, nullptr),
        SQLITE_OK);
    ctx.libraryPath = libraryFile;
    EXPECT_FALSE(openWorkerLibrary(ctx, std::chrono::milliseconds(0)));
    EXPECT_EQ(mirror.libraryState, LibraryState::Locked);
    mirror.linkState = LinkState::NoDevice;
    DeviceWorker worker(ctx);
    worker.runPass();  // connected; tried again, still held
    EXPECT_EQ(mirror.libraryState, LibraryState::Locked);
    sqlite3_close(holder);
    worker.runPass();
    EXPECT_EQ(mirror.libraryState, LibraryState::Locked) << "tried again before the next try was due";
    clock.sleepUntil(clock.now() + std::chrono::milliseconds(kLibraryRetryMs));
    worker.runPass();
    EXPECT_EQ(mirror.libraryState, LibraryState::Open);
    EXPECT_EQ(mirror.programName().name.view(), "Clean Crunch");
}

TEST_F(Librarian, ARestoreAsksFirstNamingWhatWouldChangeKeepsABackupAndBringsKeptNamesBack) {
    ctx.libraryPath = libraryFile;
    const auto opened = openWorkerLibrary(ctx);
    ASSERT_TRUE(opened);
    std::string error;
    ASSERT_TRUE(opened->setName(9, "Nine", std::nullopt, error)) << error;
    DeviceWorker worker(ctx);
    const auto run = [&](Command c) {
        mirror.linkState = LinkState::Connected;
        mirror.postCommand(c);
        worker.runPass();
    };
    const auto original = ports.amp.programs;
    const Bytes now = expectedBackup(0);
    Bytes other = now;
    for (const int p : {9, 30}) other[21 * static_cast<size_t>(p) + 5] ^= 1;  // their loop bypass
    const auto writeFile = [&](const char* name, const Bytes& bytes) {
        std::ofstream(folder / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        dialogs.answer = (folder / name).string();
    };

    writeFile("same.syx", now);
    run({CommandKind::RestorePrograms});
    EXPECT_EQ(mirror.statusLine().view(), "NO PROGRAM WOULD CHANGE: NOTHING SENT");
    EXPECT_TRUE(dialogs.questions.empty()) << "nothing to ask";
    EXPECT_TRUE(sentOfCode(kCodeSettingsWrite).empty());

    writeFile("other.syx", other);
    dialogs.accept = false;
    run({CommandKind::RestorePrograms});
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions[0].heading, "Restore the programs in other.syx?");
    EXPECT_EQ(dialogs.questions[0].details,
              "2 programs on the amplifier would change:\nProgram 9: Nine\nProgram 30\n\n"
              "The programs now on the amplifier are kept as a backup first.");
    EXPECT_TRUE(sentOfCode(kCodeSettingsWrite).empty()) << "cancelled: nothing sent";
    EXPECT_EQ(mirror.statusLine().view(), "");

    Bytes globalsOnly = now;
    globalsOnly[kProgramCount * 21 + 4] ^= 1;  // the closing write's MIDI channel
    writeFile("globals.syx", globalsOnly);
    run({CommandKind::RestorePrograms});
    ASSERT_EQ(dialogs.questions.size(), 2u) << "only the global settings differ: asked all the same";
    EXPECT_EQ(dialogs.questions[1].details,
              "The global settings would change: MIDI channel.\n\n"
              "The programs now on the amplifier are kept as a backup first.");

    writeFile("other.syx", other);
    dialogs.accept = true;
    run({CommandKind::RestorePrograms});
    EXPECT_EQ(mirror.statusLine().view(), "128 PROGRAMS RESTORED AND VERIFIED");
    EXPECT_NE(ports.amp.programs[9], original[9]);
    std::vector<KeptBackupSummary> kept;
    ASSERT_TRUE(opened->backups(kept, error)) << error;
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].reason, BackupReason::BeforeRestore);

    // The backup kept before it brings the programs back, and the names they had.
    ASSERT_TRUE(opened->setName(9, "Renamed", std::nullopt, error)) << error;
    run({CommandKind::RestoreKeptBackup, static_cast<int32_t>(kept[0].id)});
    EXPECT_EQ(dialogs.questions.back().heading.rfind("Restore the backup of ", 0), 0u);
    EXPECT_EQ(mirror.statusLine().view(), "128 PROGRAMS RESTORED AND VERIFIED");
    for (int p = 0; p < kProgramCount; ++p)
        EXPECT_EQ(ports.amp.programs[static_cast<size_t>(p)].loopBypass,
                  original[static_cast<size_t>(p)].loopBypass);
    std::array<ProgramName, kProgramCount> names;
    ASSERT_TRUE(opened->names(names, error)) << error;
    EXPECT_EQ(names[9].name, "Nine");
    // With the programs as kept, the names come back all the same.
    ASSERT_TRUE(opened->setName(9, "Renamed", std::nullopt, error)) << error;
    const size_t asked = dialogs.questions.size();
    run({CommandKind::RestoreKeptBackup, static_cast<int32_t>(kept[0].id)});
    EXPECT_EQ(mirror.statusLine().view(), "NO PROGRAM WOULD CHANGE: NAMES RESTORED");
    EXPECT_EQ(dialogs.questions.size(), asked);
    ASSERT_TRUE(opened->names(names, error)) << error;
    EXPECT_EQ(names[9].name, "Nine");

    // A backup that cannot be kept stops the restore it was promised for.
    sqlite3* hand = nullptr;
    ASSERT_EQ(sqlite3_open(libraryFile.string().c_str(), &hand), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(hand, "DROP TABLE backup_programs", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(hand);
    writeFile("other.syx", other);
    const size_t writes = sentOfCode(kCodeSettingsWrite).size();
    run({CommandKind::RestorePrograms});
    EXPECT_EQ(mirror.statusLine().view().substr(0, 21), "RESTORE NOT STARTED: ");
    EXPECT_EQ(sentOfCode(kCodeSettingsWrite).size(), writes) << "nothing sent";

    std::vector<ProgramChange> many(20);
    for (int i = 0; i < 20; ++i) many[static_cast<size_t>(i)].program = i;
    EXPECT_NE(restoreConfirmation("?", many, {}, names, false).details.find("\nProgram 11\nand 8 more"),
              std::string::npos);
}

TEST_F(Librarian, TheCollectionLoadsAnEntryAsAnEditAndPlacesOneWithABackupAndItsName) {
    ctx.libraryPath = libraryFile;
    const auto opened = openWorkerLibrary(ctx);
    ASSERT_TRUE(opened);
    DeviceWorker worker(ctx);
    const auto run = [&](Command c) {
        mirror.linkState = LinkState::Connected;
        mirror.postCommand(c);
        worker.runPass();
    };
    SlotName cab;
    cab.assign("NEW CAB");
    mirror.setSlotName(0, cab);
    // Program 7 with an edit not stored, kept in the collection as it is on the panel.
    mirror.program = 7;
    ProgramSettings edited = ports.amp.programs[7];
    edited.loaded = 1;
    edited.reverb[0] ^= 1;
    mirror.setRecord(7, edited);
    mirror.setCollectionText("Seven Edited");
    run({CommandKind::SaveToCollection});
    std::vector<CollectionRow> rows = mirror.collectionRows();
    ASSERT_EQ(rows.size(), 1u) << mirror.statusLine().view();
    EXPECT_EQ(rows[0].name, "Seven Edited");
    EXPECT_EQ(rows[0].settings.reverb[0], edited.reverb[0]) << "the edit kept";

    // An entry kept with another cab in the rhythm channel's slot, loaded over program 7's edit.
    CollectionEntry entry;
    entry.name = "Warm";
    ProgramSettings warm = edited;
    warm.ir[0] = 0;
    warm.tremolo[1] ^= 1;
    warm.filterA[0] = 3;
    entry.record = recordOfSettings(warm);
    entry.irSlotNames = {"OLD CAB", ""};
    std::string error;
    const std::optional<int64_t> id = opened->addEntry(entry, error);
    ASSERT_TRUE(id) << error;
    const size_t sentBefore = ports.sent.size();
    run({CommandKind::LoadEntry, static_cast<int32_t>(*id)});
    EXPECT_EQ(ports.sentCodes(sentBefore), std::vector<int>{kCodeSettingsWrite}) << "written, not stored";
    EXPECT_EQ(recordOfSettings(mirror.record(7)), entry.record);
    const LoadedEdit loaded = mirror.loadedEdit();
    EXPECT_EQ(loaded.program, 7);
    EXPECT_EQ(loaded.before, edited) << "what undo writes back: the edit it replaced";
    EXPECT_EQ(mirror.statusLine().view(),
              "LOADED Warm (NOT STORED); RHYTHM IR NOW NEW CAB, KEPT WITH OLD CAB");

    // Placed into program 9: asked, what the amplifier held kept first, the name following.
    ASSERT_NE(recordOfSettings(ports.amp.programs[9]), entry.record);
    run(placeCommand(*id, 9));
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions[0].heading, "Replace program 9 with Warm?");
    EXPECT_EQ(mirror.statusLine().view(), "Warm PLACED INTO PROGRAM 9 AND VERIFIED");
    EXPECT_EQ(recordOfSettings(ports.amp.programs[9]), entry.record);
    std::vector<KeptBackupSummary> kept;
    ASSERT_TRUE(opened->backups(kept, error)) << error;
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].reason, BackupReason::BeforeRestore);
    std::array<ProgramName, kProgramCount> names;
    ASSERT_TRUE(opened->names(names, error)) << error;
    EXPECT_EQ(names[9].name, "Warm");
    EXPECT_FALSE(names[9].staleAgainst(entry.record));
    run(placeCommand(*id, 9));
    EXPECT_EQ(dialogs.questions.size(), 1u) << "the program holds it already: nothing asked";
    EXPECT_EQ(mirror.statusLine().view(), "PROGRAM 9 HOLDS Warm ALREADY");
}

TEST_F(Librarian, DroppedFilesAreAddedAndLoadedOrComparedByTheirKind) {
    ctx.libraryPath = libraryFile;
    const auto opened = openWorkerLibrary(ctx);
    ASSERT_TRUE(opened);
    DeviceWorker worker(ctx);
    ProgramSettings shared = ports.amp.programs[3];
    shared.loopBypass ^= 1;
    std::string error;
    ASSERT_TRUE(writePortableProgram(folder / "shared.halvard-program",
                                     {"Shared", recordOfSettings(shared), {}, {"live"}, ""}, error))
        << error;
    Bytes backup = expectedBackup(0);
    backup[21 * 30 + 5] ^= 1;  // program 30's loop bypass
    std::ofstream(folder / "all.syx", std::ios::binary)
        .write(reinterpret_cast<const char*>(backup.data()), static_cast<std::streamsize>(backup.size()));

    mirror.setDroppedFiles({(folder / "all.syx").string(), (folder / "shared.halvard-program").string()});
    mirror.linkState = LinkState::Connected;
    mirror.postCommand({CommandKind::DropFiles, -1});
    worker.runPass();
    EXPECT_EQ(mirror.view().comparedWith.view(), "") << "copied only while the overlay is open";
    ASSERT_TRUE(ctx.comparedWith.has_value()) << "the backup compared";
    EXPECT_NE((*ctx.comparedWith)[30], ctx.amplifierRecords[30]);
    const std::vector<CollectionRow> rows = mirror.collectionRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "Shared");
    EXPECT_EQ(rows[0].tags, "live");
    EXPECT_EQ(recordOfSettings(mirror.record(mirror.program)), recordOfSettings(shared)) << "loaded";
    EXPECT_EQ(mirror.statusLine().view(), "LOADED Shared (NOT STORED)");
}

}  // namespace
}  // namespace halvard
