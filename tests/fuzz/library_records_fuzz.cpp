// Rows of a program library holding arbitrary values (NULL, integers, text or blobs of any bytes),
// written past the schema's checks as another program or a damaged disk could leave them, then read
// back as the editor and halvard-cli read them. Nothing may crash, and nothing read back is trusted
// beyond what this program would have written: every name is one it accepts, a kept backup it
// hands out restores as a well-formed program file and its names can come back, a menu label is
// UTF-8, and a collection entry's texts are ones it would have written.

#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "device/librarian/kept_backups.hpp"
#include "device/librarian/library_access.hpp"
#include "fuzz_require.hpp"
#include "program_library/program_library.hpp"
#include "util/utf8.hpp"

namespace {

using namespace halvard;

// The input, taken a value at a time; zeros once it is used up.
struct Input {
    const uint8_t* at;
    size_t left;
    uint8_t byte() {
        if (left == 0) return 0;
        --left;
        return *at++;
    }
    std::string_view bytes(size_t n) {
        n = std::min(n, left);
        const std::string_view out(reinterpret_cast<const char*>(at), n);
        at += n;
        left -= n;
        return out;
    }
};

// Parameter i bound to a value the input chooses: mostly small integers (program numbers, ids).
void bindValue(sqlite3_stmt* s, int i, Input& in) {
    switch (in.byte() % 5) {
        case 0:
            sqlite3_bind_null(s, i);
            return;
        case 1: {
            const std::string_view v = in.bytes(in.byte() % 48);
            sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
            return;
        }
        case 2: {
            const std::string_view v = in.bytes(in.byte() % 16);
            sqlite3_bind_blob(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
            return;
        }
        default:
            sqlite3_bind_int64(s, i, static_cast<int64_t>(in.byte()) - 8);
    }
}

void run(sqlite3* db, const char* sql, Input& in, int parameters) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) return;
    for (int i = 1; i <= parameters; ++i) bindValue(s, i, in);
    sqlite3_step(s);
    sqlite3_finalize(s);
}

// UTF-8 with no control characters: each code point passes as a name would.
bool isUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        size_t n = 1;
        while (i + n < text.size() && (static_cast<uint8_t>(text[i + n]) & 0xC0) == 0x80) ++n;
        if (!checkProgramName(text.substr(i, n)).empty()) return false;
        i += n;
    }
    return true;
}

// One file per process, set up once and removed at exit (so never destroyed before that).
const std::string& libraryFile() {
    static const std::string& file = *new std::string([] {
        // In memory where there is a folder for that: every change is synced to the disk.
        const std::filesystem::path folder =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        const auto path = folder / ("halvard-library-fuzz-" + std::to_string(getpid()) + ".sqlite3");
        std::string error;
        require(ProgramLibrary::open(path, error) != nullptr);  // the schema
        return path.string();
    }());
    static const bool removedAtExit = std::atexit([] {
                                          for (const char* end : {"", "-wal", "-shm"})
                                              std::filesystem::remove(libraryFile() + end);
                                      }) == 0;
    (void)removedAtExit;
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    sqlite3* db = nullptr;
    require(sqlite3_open(libraryFile().c_str(), &db) == SQLITE_OK);
    sqlite3_exec(db,
                 "PRAGMA ignore_check_constraints = ON; PRAGMA foreign_keys = OFF; BEGIN;"
                 "DELETE FROM backup_programs; DELETE FROM backups; DELETE FROM program_names; DELETE FROM "
                 "collection;",
                 nullptr, nullptr, nullptr);
    while (in.left > 0) {
        switch (in.byte() % 6) {
            case 4:
                run(db,
                    "INSERT OR IGNORE INTO collection (id, name, tags, notes, record, ir_rhythm, ir_lead, "
                    "source, "
                    "source_file, source_program, source_backup, added_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
                    "?, ?, ?, "
                    "?)",
                    in, 12);
                break;
            case 0:
                run(db, "INSERT OR IGNORE INTO program_names (program, name, bound_record) VALUES (?, ?, ?)",
                    in, 3);
                break;
            case 1:
                run(db,
                    "INSERT OR IGNORE INTO backups (id, taken_at, reason, firmware, globals, "
                    "current_program, "
                    "file_name) VALUES (?, ?, ?, ?, ?, ?, ?)",
                    in, 7);
                break;
            case 2:
                run(db,
                    "INSERT OR IGNORE INTO backup_programs (backup_id, program, record, name) VALUES (?, ?, "
                    "?, ?)",
                    in, 4);
                break;
            case 3:
                // A whole, sound backup, for single rows to spoil.
                run(db,
                    "INSERT OR IGNORE INTO backups (id, reason, globals, current_program) VALUES (?, 'menu', "
                    "X'0000', 0)",
                    in, 1);
                run(db,
                    "WITH RECURSIVE p(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM p WHERE n < 127) "
                    "INSERT OR IGNORE INTO backup_programs (backup_id, program, record) "
                    "SELECT (SELECT max(id) FROM backups), n, zeroblob(10) FROM p",
                    in, 0);
                break;
            default:
                run(db, "UPDATE backup_programs SET record = ?, name = ? WHERE program = ?", in, 3);
        }
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);

    std::string error;
    const auto library = ProgramLibrary::open(libraryFile(), error);
    require(library != nullptr);
    std::array<ProgramName, kProgramCount> names;
    if (library->names(names, error))
        for (const ProgramName& n : names) require(checkProgramName(n.name).empty());
    std::vector<CollectionEntry> entries;
    if (library->entries(entries, error)) {
        for (const CollectionEntry& e : entries) {
            require(!e.name.empty() && checkProgramName(e.name).empty() && checkNotes(e.notes).empty());
            for (const std::string& t : e.tags) require(checkTag(t).empty());
            for (const uint8_t b : e.record) require(b < 0x80);
            require(validUtf8(e.sourceFile) == e.sourceFile && e.sourceProgram < kProgramCount);
        }
    }
    std::vector<KeptBackupSummary> kept;
    if (!library->backups(kept, error)) return 0;
    for (const KeptBackupSummary& summary : kept) {
        require(isUtf8(keptBackupLabel(summary)));
        const std::optional<KeptBackup> backup = library->backup(summary.id, error);
        if (!backup) continue;
        const ProgramFile file = programFileOf(*backup);
        require(!parseProgramFile(programFileBytes(file)).error);
        ProgramRecords zeros;
        zeros.fill(ProgramRecord{});
        compareWithFile(zeros, file);
        for (const std::string& n : backup->names) require(checkProgramName(n).empty());
        require(library->restoreNames(*backup, error));
    }
    return 0;
}
