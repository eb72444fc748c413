#pragma once
// The program library: the names the user gives the 128 programs, the backups kept of them, and the
// collection (programs kept beyond the amplifier's 128, with names, tags and notes), in one SQLite
// file per user (library.sqlite3). The amplifier stores no names; this file is where they live.
//
// Every change is one transaction; the file is in WAL mode, so a process killed in the middle of a
// change leaves the library as it was before that change. The schema carries its version
// (PRAGMA user_version) and is brought up to date when the file is opened; a file written by a
// newer program, a file that is not a library, and one that cannot be read or written are refused
// with a one-line reason and left unchanged.
//
// Threads: one ProgramLibrary belongs to one thread (the editor's device worker, or halvard-cli).
// Nothing here touches the amplifier or the window.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/program_settings.hpp"

struct sqlite3;

namespace halvard {

// 1: names and kept backups; 2: the collection.
inline constexpr int kLibrarySchemaVersion = 2;
// Automatic backups are pruned, but the last kKeptAutomaticBackups and all of the last
// kKeptAutomaticBackupDays days stay.
inline constexpr int kKeptAutomaticBackups = 20;
inline constexpr int kKeptAutomaticBackupDays = 90;

// Why a backup was made. The first two are the user's; the others are automatic and pruned.
enum class BackupReason { Menu, Cli, BeforeFirmwareUpdate, BeforeRestore };
std::string_view backupReasonText(BackupReason reason);  // "menu", "cli", "before-firmware-update", ...

struct ProgramName {
    std::string name;  // empty: the program has no name
    // The program's record when it was named (or last confirmed); absent when it was named while
    // no record was known, and then bound at the next read.
    std::optional<ProgramRecord> boundRecord;

    // True when the amplifier's record is no longer the one the name was given to.
    bool staleAgainst(const ProgramRecord& current) const {
        return !name.empty() && boundRecord && *boundRecord != current;
    }
};

struct KeptBackupSummary {
    int64_t id = 0;
    std::string takenAt;  // UTC, "2026-12-07T11:55:03Z"
    BackupReason reason = BackupReason::Menu;
    std::string firmware;  // "1.7"; empty when unknown
    std::string fileName;  // the .syx file written with it; empty when none
};

struct KeptBackup {
    KeptBackupSummary summary;         // id and (when empty) takenAt are set by recordBackup
    std::array<uint8_t, 2> globals{};  // bytes 4 and 15 of program 0's settings write
    int currentProgram = 0;            // the program the backup ended on
    std::array<ProgramRecord, kProgramCount> records{};
    std::array<std::string, kProgramCount> names;  // the names at the time; empty: none
};

// Empty when text is UTF-8 of at most maxChars characters whose only control characters (C0, DEL,
// C1) are those in allowed; else the reason, about what ("a name must be UTF-8 text").
std::string checkLibraryText(std::string_view text, int maxChars, std::string_view allowed, const char* what);
// Checks a name the user typed: valid UTF-8, at most 24 characters, no control characters. Empty
// on success, else the reason.
std::string checkProgramName(std::string_view name);
// A collection entry's tag: 1 to 32 characters of UTF-8, no control characters, no comma, no blank
// at either end. Empty on success, else the reason.
inline constexpr int kTagMaxChars = 32;
std::string checkTag(std::string_view tag);
// A collection entry's notes: UTF-8 of at most 2000 characters; line breaks and tabs are the only
// control characters. Empty on success, else the reason.
inline constexpr int kNotesMaxChars = 2000;
std::string checkNotes(std::string_view notes);

// ---- the collection ---------------------------------------------------------------------------

// Where an entry of the collection came from.
enum class EntrySource { File, Amplifier, KeptBackup };
std::string_view entrySourceText(EntrySource source);  // "file", "amplifier", "backup"

struct CollectionEntry {
    int64_t id = 0;                 // set by addEntry
    std::string name;               // 1..24 characters, as checkProgramName accepts
    std::vector<std::string> tags;  // each as checkTag accepts, no two alike, in the order given
    std::string notes;              // as checkNotes accepts
    ProgramRecord record{};         // the program's 10 bytes
    // The names of the user IR slots the program's IR choices (rhythm, lead) pointed at when it was
    // kept, UTF-8; empty: not known.
    std::array<std::string, 2> irSlotNames;
    EntrySource source = EntrySource::File;
    std::string sourceFile;    // File: the file's name (no folder)
    int sourceProgram = -1;    // Amplifier, KeptBackup (and a .syx File): the program number; else -1
    int64_t sourceBackup = 0;  // KeptBackup: the kept backup's id (which may since have been pruned)
    std::string addedAt;       // UTC, "2026-12-07T11:55:03Z"; set by addEntry when empty
};

// Why a file could not be used as the library.
enum class LibraryRefusal {
    None,
    Locked,       // another program holds it
    ReadOnly,     // the file or its folder cannot be written
    Damaged,      // damaged, or not a database at all
    Newer,        // written by a newer version (a schema this one does not know)
    Foreign,      // another program's database
    Unavailable,  // no file named, or it cannot be created
};

class ProgramLibrary {
public:
    // How long an operation waits for another program's lock before it gives up.
    static constexpr std::chrono::milliseconds kBusyWait{2000};

    // Opens (creating when missing, with its folder) and brings the schema up to date, waiting at
    // most openBusyWait for another program's lock. Null with the reason in error (and, when asked
    // for, its kind in refusal) when the file cannot be used.
    static std::unique_ptr<ProgramLibrary> open(const std::filesystem::path& path, std::string& error,
                                                LibraryRefusal* refusal = nullptr,
                                                std::chrono::milliseconds openBusyWait = kBusyWait);
    ~ProgramLibrary();
    ProgramLibrary(const ProgramLibrary&) = delete;
    ProgramLibrary& operator=(const ProgramLibrary&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // The 128 names (empty where none).
    bool names(std::array<ProgramName, kProgramCount>& out, std::string& error);
    // Sets (an empty name clears) the name of a program, bound to record.
    bool setName(int program, std::string_view name, const std::optional<ProgramRecord>& record,
                 std::string& error);
    // Binds names to the programs' current records (where known): the user confirmed them, or this
    // program changed the records itself. With unboundOnly, only names given while no record was
    // known (the first read after naming).
    bool bindNames(const ProgramRecords& records, bool unboundOnly, std::string& error);
    // After the amplifier's programs were copied (from -> to) or swapped, the names follow them.
    bool copyName(int from, int to, std::string& error);
    bool swapNames(int a, int b, std::string& error);

    // Records a backup with the names it carries and prunes old automatic ones; the new id.
    std::optional<int64_t> recordBackup(const KeptBackup& backup, std::string& error);
    // The kept backups, newest first.
    bool backups(std::vector<KeptBackupSummary>& out, std::string& error);
    std::optional<KeptBackup> backup(int64_t id, std::string& error);
    // After a kept backup was restored: the names become its names, bound to its records.
    bool restoreNames(const KeptBackup& backup, std::string& error);

    // The collection. Every text is checked as the check functions above say; a refused one
    // changes nothing and error says why.
    // Adds an entry (its id and addedAt ignored): the new id.
    std::optional<int64_t> addEntry(const CollectionEntry& entry, std::string& error);
    // Adds several in one transaction (an import of many files): their ids, in order; none added
    // when one is refused (error names its index).
    std::optional<std::vector<int64_t>> addEntries(const std::vector<CollectionEntry>& entries,
                                                   std::string& error);
    // The entries, by name (then id); with a search text, only those whose name, notes or one of
    // whose tags contain it (letters A-Z matched in either case).
    bool entries(std::vector<CollectionEntry>& out, std::string& error, std::string_view search = {});
    std::optional<CollectionEntry> entry(int64_t id, std::string& error);
    bool renameEntry(int64_t id, std::string_view name, std::string& error);
    bool setEntryTags(int64_t id, const std::vector<std::string>& tags, std::string& error);
    bool setEntryNotes(int64_t id, std::string_view notes, std::string& error);
    bool removeEntry(int64_t id, std::string& error);

private:
    ProgramLibrary(sqlite3* db, std::filesystem::path path) : db_(db), path_(std::move(path)) {}
    sqlite3* db_;
    std::filesystem::path path_;
};

}  // namespace halvard
