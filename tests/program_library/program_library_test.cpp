// The program library on real SQLite files: names and kept backups surviving a reopening, names
// following copies, swaps and restores, pruning, the files it refuses, a writer killed in the middle
// of recording a backup, a library of schema 1 migrated, and the collection.

#include "program_library/program_library.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "library_sql.hpp"
#include "test_files.hpp"

#ifdef HALVARD_HAS_FORK
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace halvard {
namespace {

namespace fs = std::filesystem;

ProgramRecord recordOf(int program, uint8_t salt = 0) {
    ProgramRecord r{};
    for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>((program + i + salt) & 0x7F);
    return r;
}

CollectionEntry entryOf(std::string name, const ProgramRecord& record) {
    CollectionEntry e;
    e.name = std::move(name);
    e.record = record;
    return e;
}

KeptBackup sampleBackup(BackupReason reason, std::string takenAt = {}, uint8_t salt = 0) {
    KeptBackup b;
    b.summary.reason = reason;
    b.summary.takenAt = std::move(takenAt);
    b.summary.firmware = "1.7";
    b.globals = {0x04, 0x01};
    b.currentProgram = 5;
    for (int p = 0; p < kProgramCount; ++p) b.records[static_cast<size_t>(p)] = recordOf(p, salt);
    return b;
}

class ProgramLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }
    std::unique_ptr<ProgramLibrary> open(const fs::path& file) {
        std::string error;
        auto library = ProgramLibrary::open(file, error);
        EXPECT_TRUE(library) << error;
        return library;
    }
    // The reason given, and the kind in kind_.
    std::string refusal(const fs::path& file) {
        std::string error;
        EXPECT_FALSE(ProgramLibrary::open(file, error, &kind_)) << file;
        return error;
    }
    std::array<ProgramName, kProgramCount> names(ProgramLibrary& library) {
        std::array<ProgramName, kProgramCount> out;
        std::string error;
        EXPECT_TRUE(library.names(out, error)) << error;
        return out;
    }

    test::TempDir temp_;  // each case its own folder: the cases run side by side
    fs::path dir_ = temp_.path();
    fs::path file_ = dir_ / "sub" / "library.sqlite3";
    LibraryRefusal kind_ = LibraryRefusal::None;
};

TEST_F(ProgramLibraryTest, NamesAndBackupsSurviveReopeningAndFollowCopySwapAndRestore) {
    std::string error;
    int64_t id = 0;
    {
        auto library = open(file_);
        ASSERT_TRUE(library);
        ASSERT_TRUE(library->setName(3, "Clean Crunch", recordOf(3), error)) << error;
        ASSERT_TRUE(library->setName(7, "Lead \xC3\xA9t\xC3\xA9", std::nullopt, error)) << error;
        EXPECT_FALSE(library->setName(8, "twenty-five characters!!!", std::nullopt, error));
        EXPECT_FALSE(library->setName(8, "bad \xC3", std::nullopt, error)) << "broken UTF-8";
        EXPECT_FALSE(library->setName(8, "over\xC0\x80long", std::nullopt, error)) << "an overlong NUL";
        EXPECT_TRUE(
            library->setName(9,
                             "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"
                             "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"
                             "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"
                             "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC",
                             std::nullopt, error))
            << "24 characters of three bytes each are a name: " << error;
        KeptBackup b = sampleBackup(BackupReason::Cli);
        b.names[3] = "Clean Crunch";
        const auto recorded = library->recordBackup(b, error);
        ASSERT_TRUE(recorded) << error;
        id = *recorded;
    }

    auto library = open(file_);
    ASSERT_TRUE(library);
    auto n = names(*library);
    EXPECT_EQ(n[3].name, "Clean Crunch");
    EXPECT_FALSE(n[3].staleAgainst(recordOf(3)));
    EXPECT_TRUE(n[3].staleAgainst(recordOf(3, 1))) << "the amplifier's record changed since it was named";
    EXPECT_FALSE(n[7].boundRecord) << "named with no record known";

    ProgramRecords now;
    for (int p = 0; p < kProgramCount; ++p) now[static_cast<size_t>(p)] = recordOf(p, 2);
    ASSERT_TRUE(library->bindNames(now, true, error)) << error;
    n = names(*library);
    EXPECT_EQ(n[7].boundRecord, now[7]) << "bound at the first read";
    EXPECT_EQ(n[3].boundRecord, recordOf(3)) << "a bound name keeps its record";

    ASSERT_TRUE(library->swapNames(3, 7, error)) << error;
    ASSERT_TRUE(library->copyName(3, 100, error)) << error;
    ASSERT_TRUE(library->copyName(3, 3, error)) << error;
    n = names(*library);
    EXPECT_EQ(n[7].name, "Clean Crunch");
    EXPECT_EQ(n[7].boundRecord, recordOf(3));
    EXPECT_EQ(n[3].name, "Lead \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(n[100].name, n[3].name);

    std::vector<KeptBackupSummary> list;
    ASSERT_TRUE(library->backups(list, error)) << error;
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].reason, BackupReason::Cli);
    EXPECT_EQ(list[0].firmware, "1.7");
    const auto kept = library->backup(id, error);
    ASSERT_TRUE(kept) << error;
    EXPECT_EQ(kept->records, sampleBackup(BackupReason::Cli).records);
    EXPECT_EQ(kept->globals, (std::array<uint8_t, 2>{0x04, 0x01}));
    EXPECT_EQ(kept->currentProgram, 5);
    EXPECT_FALSE(library->backup(id + 1, error));

    ASSERT_TRUE(library->restoreNames(*kept, error)) << error;
    n = names(*library);
    EXPECT_EQ(n[3].name, "Clean Crunch") << "the backup's names come back";
    EXPECT_EQ(n[3].boundRecord, recordOf(3));
    EXPECT_TRUE(n[7].name.empty() && n[100].name.empty()) << "names the backup did not have are gone";
}

TEST_F(ProgramLibraryTest, OldAutomaticBackupsArePrunedButTheLastTwentyAndTheUsersStay) {
    auto library = open(file_);
    ASSERT_TRUE(library);
    std::string error;
    ASSERT_TRUE(library->recordBackup(sampleBackup(BackupReason::Menu, "2020-01-01T00:00:00Z"), error))
        << error;
    for (int i = 0; i < 25; ++i) {
        char at[32];
        std::snprintf(at, sizeof at, "2021-01-%02dT00:00:00Z", i + 1);
        ASSERT_TRUE(library->recordBackup(sampleBackup(BackupReason::BeforeRestore, at), error)) << error;
    }
    std::vector<KeptBackupSummary> list;
    ASSERT_TRUE(library->backups(list, error));
    EXPECT_EQ(list.size(), 21u) << "20 old automatic ones and the user's";
    EXPECT_EQ(list.front().takenAt, "2021-01-25T00:00:00Z");
    EXPECT_EQ(list.back().reason, BackupReason::Menu);

    // Recent ones all stay, however many.
    for (int i = 0; i < 22; ++i)
        ASSERT_TRUE(library->recordBackup(sampleBackup(BackupReason::BeforeFirmwareUpdate), error));
    ASSERT_TRUE(library->backups(list, error));
    EXPECT_EQ(list.size(), 23u);
}

TEST_F(ProgramLibraryTest, FilesItCannotUseAreRefusedWithAReasonAndLeftUnchanged) {
    const fs::path newer = dir_ / "newer.sqlite3";
    { auto library = open(newer); }
    librarySql(newer, "PRAGMA user_version = 7; CREATE TABLE later (x)");
    EXPECT_NE(refusal(newer).find("newer Halvard Editor (schema 7"), std::string::npos);
    EXPECT_EQ(kind_, LibraryRefusal::Newer);

    const fs::path foreign = dir_ / "foreign.sqlite3";
    librarySql(foreign, "CREATE TABLE program_names (x)");
    EXPECT_NE(refusal(foreign).find("another program's database"), std::string::npos);
    EXPECT_EQ(kind_, LibraryRefusal::Foreign);

    const fs::path garbage = dir_ / "garbage.sqlite3";
    std::ofstream(garbage) << std::string(4096, 'x');
    EXPECT_NE(refusal(garbage).find("damaged or not a database"), std::string::npos);
    EXPECT_EQ(kind_, LibraryRefusal::Damaged);
    EXPECT_EQ(fs::file_size(garbage), 4096u);

    // Held by another program in exclusive mode.
    { auto library = open(file_); }
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(file_.string().c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(holder, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE", nullptr, nullptr, nullptr),
        SQLITE_OK);
    EXPECT_NE(refusal(file_).find("locked by another program"), std::string::npos);
    EXPECT_EQ(kind_, LibraryRefusal::Locked);
    sqlite3_close(holder);
    EXPECT_TRUE(open(file_)) << "usable again once released";
}

TEST_F(ProgramLibraryTest, RowsWrittenByAnotherHandAreNotTrusted) {
    int64_t id = 0;
    {
        auto library = open(file_);
        ASSERT_TRUE(library);
        std::string error;
        id = library->recordBackup(sampleBackup(BackupReason::Menu), error).value_or(0);
        ASSERT_NE(id, 0) << error;
    }
    // Past the schema's checks: a name that is not UTF-8, and a record byte that would end a SysEx
    // message half-way if it were sent.
    librarySql(file_,
               "PRAGMA ignore_check_constraints = ON;"
               "INSERT INTO program_names (program, name) VALUES (4, CAST(X'626164C3' AS TEXT));"
               "UPDATE backup_programs SET record = X'00000000F70000000000' WHERE program = 6");
    auto library = open(file_);
    ASSERT_TRUE(library);
    EXPECT_TRUE(names(*library)[4].name.empty());
    std::string error;
    EXPECT_FALSE(library->backup(id, error));
    EXPECT_EQ(error, "kept backup " + std::to_string(id) + " is damaged");
}

TEST_F(ProgramLibraryTest, ALibraryOfSchemaOneOpensWithItsNamesAndBackupsIntact) {
    // Written by the program before the collection: two names (one bound to its record) and one
    // backup of a halvard-cli run with its file name.
    fs::copy_file(HALVARD_SCHEMA1_LIBRARY, file_.parent_path() / "old.sqlite3", [&] {
        fs::create_directories(file_.parent_path());
        return fs::copy_options::none;
    }());
    const fs::path old = file_.parent_path() / "old.sqlite3";
    auto library = open(old);
    ASSERT_TRUE(library);
    const ProgramRecord bound = {0, 1, 0x11, 0x10, 1, 2, 0, 0x10, 0x12, 0x21};
    const auto n = names(*library);
    EXPECT_EQ(n[3].name, "Clean Crunch");
    EXPECT_EQ(n[3].boundRecord, bound);
    EXPECT_EQ(n[7].name, "Lead \xC3\xA9t\xC3\xA9");
    EXPECT_FALSE(n[7].boundRecord);
    std::string error;
    std::vector<KeptBackupSummary> list;
    ASSERT_TRUE(library->backups(list, error)) << error;
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].takenAt, "2026-12-07T11:55:03Z");
    EXPECT_EQ(list[0].fileName, "before-gig.syx");
    const auto kept = library->backup(list[0].id, error);
    ASSERT_TRUE(kept) << error;
    EXPECT_EQ(kept->records[3], bound);
    EXPECT_EQ(kept->names[3], "Clean Crunch");
    EXPECT_EQ(kept->currentProgram, 5);

    ASSERT_TRUE(library->addEntry(entryOf("New", bound), error)) << error;
    library.reset();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(old.string().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(s, 0), kLibrarySchemaVersion);
    sqlite3_finalize(s);
    sqlite3_close(db);
}

TEST_F(ProgramLibraryTest, CollectionEntriesAreKeptSearchedChangedAndRemoved) {
    std::string error;
    {
        auto library = open(file_);
        ASSERT_TRUE(library);
        CollectionEntry warm = entryOf("Warm Clean", recordOf(1)), ambient = entryOf("ambient", recordOf(2)),
                        crunch = entryOf("Crunch", recordOf(3));
        warm.tags = {"clean", "Live"};
        warm.irSlotNames = {"CLEAN 4X12", ""};
        warm.source = EntrySource::Amplifier;
        warm.sourceProgram = 12;
        ambient.notes = "Swell pedal.\nReverb on.";
        ambient.sourceFile = "ambient.halvard-program";
        crunch.tags = {"rock", "rock"};
        crunch.source = EntrySource::KeptBackup;
        crunch.sourceProgram = 4;
        crunch.sourceBackup = 9;
        crunch.addedAt = "2026-01-02T03:04:05Z";
        const auto ids = library->addEntries({warm, ambient, crunch}, error);
        ASSERT_TRUE(ids) << error;
        ASSERT_EQ(ids->size(), 3u);
        // One refused entry: none of the others is added.
        CollectionEntry bad = entryOf("Bad", recordOf(5));
        bad.tags = {"a,b"};
        EXPECT_FALSE(library->addEntries({entryOf("Fine", recordOf(4)), bad}, error));
        EXPECT_EQ(error, "entry 2: a tag cannot hold a comma");
        EXPECT_FALSE(library->addEntry(entryOf("", recordOf(4)), error));
        EXPECT_EQ(error, "an entry needs a name");
    }
    auto library = open(file_);
    ASSERT_TRUE(library);
    const auto namesOf = [&](std::string_view search) {
        std::vector<CollectionEntry> list;
        EXPECT_TRUE(library->entries(list, error, search)) << error;
        std::string out;
        for (const CollectionEntry& e : list) out += (out.empty() ? "" : ",") + e.name;
        return out;
    };
    EXPECT_EQ(namesOf(""), "ambient,Crunch,Warm Clean") << "by name, in either case";
    EXPECT_EQ(namesOf("CLEAN"), "Warm Clean");
    EXPECT_EQ(namesOf("live"), "Warm Clean") << "a tag";
    EXPECT_EQ(namesOf("reverb on"), "ambient") << "the notes";
    EXPECT_EQ(namesOf("50%"), "");

    std::vector<CollectionEntry> list;
    ASSERT_TRUE(library->entries(list, error, "crunch"));
    ASSERT_EQ(list.size(), 1u);
    const CollectionEntry crunch = list[0];
    EXPECT_EQ(crunch.tags, std::vector<std::string>{"rock"});
    EXPECT_EQ(crunch.record, recordOf(3));
    EXPECT_EQ(crunch.source, EntrySource::KeptBackup);
    EXPECT_EQ(crunch.sourceBackup, 9);
    EXPECT_EQ(crunch.sourceProgram, 4);
    EXPECT_EQ(crunch.addedAt, "2026-01-02T03:04:05Z");
    const auto warm = library->entry(crunch.id - 2, error);
    ASSERT_TRUE(warm) << error;
    EXPECT_EQ(warm->irSlotNames[0], "CLEAN 4X12");
    EXPECT_EQ(warm->sourceProgram, 12);
    EXPECT_EQ(warm->addedAt.size(), 20u) << "stamped when added";

    EXPECT_TRUE(library->renameEntry(crunch.id, "Big Crunch", error)) << error;
    EXPECT_TRUE(library->setEntryTags(crunch.id, {"heavy", "rhythm"}, error)) << error;
    EXPECT_TRUE(library->setEntryNotes(crunch.id, "Bridge pickup.", error)) << error;
    EXPECT_FALSE(library->renameEntry(crunch.id, std::string(25, 'x'), error));
    EXPECT_FALSE(library->setEntryTags(crunch.id, {" heavy"}, error));
    EXPECT_FALSE(library->setEntryNotes(crunch.id, "bell \a", error));
    const auto changed = library->entry(crunch.id, error);
    ASSERT_TRUE(changed) << error;
    EXPECT_EQ(changed->name, "Big Crunch");
    EXPECT_EQ(changed->tags, (std::vector<std::string>{"heavy", "rhythm"}));
    EXPECT_EQ(changed->notes, "Bridge pickup.");
    EXPECT_EQ(namesOf("rhythm"), "Big Crunch");

    EXPECT_TRUE(library->removeEntry(crunch.id, error)) << error;
    EXPECT_FALSE(library->removeEntry(crunch.id, error));
    EXPECT_EQ(error, "no collection entry " + std::to_string(crunch.id));
    EXPECT_FALSE(library->entry(crunch.id, error));
    EXPECT_FALSE(library->renameEntry(crunch.id, "Gone", error));
    EXPECT_EQ(namesOf(""), "ambient,Warm Clean");
}

#ifdef HALVARD_HAS_FORK
TEST_F(ProgramLibraryTest, AWriterKilledWhileRecordingABackupLeavesEveryEarlierBackupIntact) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Records backups without end; reports each committed one.
        std::string error;
        auto library = ProgramLibrary::open(file_, error);
        for (uint8_t salt = 0; library; ++salt) {
            if (!library->recordBackup(sampleBackup(BackupReason::Menu, {}, salt), error)) _exit(1);
            const char one = 1;
            if (write(ready[1], &one, 1) != 1) _exit(1);
        }
        _exit(1);
    }
    close(ready[1]);
    int committed = 0;
    for (char c; committed < 8 && read(ready[0], &c, 1) == 1;) ++committed;
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(ready[0]);
    ASSERT_EQ(committed, 8) << "the writer stopped by itself";
    ASSERT_TRUE(WIFSIGNALED(status));

    auto library = open(file_);
    ASSERT_TRUE(library);
    std::string error;
    std::vector<KeptBackupSummary> list;
    ASSERT_TRUE(library->backups(list, error)) << error;
    ASSERT_GE(list.size(), 8u);
    for (const KeptBackupSummary& s : list) {
        const auto kept = library->backup(s.id, error);
        ASSERT_TRUE(kept) << "backup " << s.id << ": " << error;
        EXPECT_EQ(kept->records[127], recordOf(127, static_cast<uint8_t>(s.id - 1)));
    }
}
#endif

}  // namespace
}  // namespace halvard
