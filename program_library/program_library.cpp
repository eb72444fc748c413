#include "program_library/program_library.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "util/utf8.hpp"

// Sections: the schema and its migrations, statements, opening, names, backups.

namespace halvard {
namespace {

// ---- the schema and its migrations ------------------------------------------------------------

// "HVLB": marks the file as a Halvard program library, so that another program's SQLite file is
// refused rather than changed.
constexpr int kApplicationId = 0x48564C42;

// kMigrations[v] brings a library of schema version v to v + 1. Version 0 is an empty file. Only
// ever append: a library written by an older program is migrated step by step.
constexpr const char* kMigrations[] = {
    R"sql(
CREATE TABLE program_names (
    -- The name the user gave each program (the amplifier keeps none), with the program's record (its
    -- 10 setting bytes) when it was named: a program changed on the amplifier itself since then is
    -- shown as possibly no longer the named one.
    program      INTEGER PRIMARY KEY CHECK (program BETWEEN 0 AND 127),
    name         TEXT NOT NULL CHECK (length(name) BETWEEN 1 AND 24),
    bound_record BLOB CHECK (bound_record IS NULL OR length(bound_record) = 10),  -- NULL: bound at the next read
    named_at     TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))
);

CREATE TABLE backups (
    -- Every backup of all 128 programs: from the menu, from halvard-cli, or made automatically before
    -- a firmware update or a restore. Automatic ones older than 90 days are pruned; the last 20 stay.
    id              INTEGER PRIMARY KEY,
    taken_at        TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),  -- UTC
    reason          TEXT NOT NULL CHECK (reason IN ('menu', 'cli', 'before-firmware-update', 'before-restore')),
    firmware        TEXT NOT NULL DEFAULT '',      -- the amplifier's firmware version, "1.7"
    globals         BLOB NOT NULL CHECK (length(globals) = 2),  -- bytes 4 and 15 of program 0's settings
    current_program INTEGER NOT NULL CHECK (current_program BETWEEN 0 AND 127),  -- the one it ended on
    file_name       TEXT NOT NULL DEFAULT ''       -- the .syx file written with it, if any
);
CREATE INDEX backups_by_time ON backups (taken_at);

CREATE TABLE backup_programs (
    -- The 128 programs of each backup, and the names they had then.
    backup_id INTEGER NOT NULL REFERENCES backups (id) ON DELETE CASCADE,
    program   INTEGER NOT NULL CHECK (program BETWEEN 0 AND 127),
    record    BLOB NOT NULL CHECK (length(record) = 10),
    name      TEXT,
    PRIMARY KEY (backup_id, program)
) WITHOUT ROWID;
)sql",
    R"sql(
CREATE TABLE collection (
    -- Programs kept beyond the amplifier's 128: each with its name, tags and notes, its record (the 10
    -- setting bytes), the names of the user IR slots its IR choices pointed at then, and where and
    -- when it came from.
    id             INTEGER PRIMARY KEY,
    name           TEXT NOT NULL CHECK (length(name) BETWEEN 1 AND 24),
    tags           TEXT NOT NULL DEFAULT '',  -- each tag followed by a line break, in the order given
    notes          TEXT NOT NULL DEFAULT '',
    record         BLOB NOT NULL CHECK (length(record) = 10),
    ir_rhythm      TEXT NOT NULL DEFAULT '',  -- the slot names, UTF-8; empty: not known
    ir_lead        TEXT NOT NULL DEFAULT '',
    source         TEXT NOT NULL CHECK (source IN ('file', 'amplifier', 'backup')),
    source_file    TEXT NOT NULL DEFAULT '',  -- the file's name, without its folder
    source_program INTEGER CHECK (source_program IS NULL OR source_program BETWEEN 0 AND 127),
    source_backup  INTEGER,                   -- a kept backup's id (no reference: it may be pruned)
    added_at       TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))  -- UTC
);
)sql",
};
constexpr int kMigrationCount = static_cast<int>(std::size(kMigrations));
static_assert(kMigrationCount == kLibrarySchemaVersion);

// ---- statements -------------------------------------------------------------------------------

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return rc_ == SQLITE_OK || rc_ == SQLITE_ROW || rc_ == SQLITE_DONE; }
    Statement& bind(int i, int64_t v) {
        if (ok()) rc_ = sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Statement& bind(int i, std::string_view text) {
        if (ok())
            rc_ = sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bindBlob(int i, const uint8_t* data, size_t size) {
        if (ok()) rc_ = sqlite3_bind_blob(stmt_, i, data, static_cast<int>(size), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bindNull(int i) {
        if (ok()) rc_ = sqlite3_bind_null(stmt_, i);
        return *this;
    }
    // One step: true while a row is there. ok() tells an error from the end.
    bool step() {
        if (!ok()) return false;
        rc_ = sqlite3_step(stmt_);
        return rc_ == SQLITE_ROW;
    }
    // Runs to the end; true unless it failed.
    bool run() {
        while (step()) {
        }
        return ok();
    }
    bool reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        if (ok()) rc_ = SQLITE_OK;
        return ok();
    }

    int64_t integer(int col) const { return sqlite3_column_int64(stmt_, col); }
    bool isNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
    std::string text(int col) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
    }
    // A blob column of exactly N data bytes (each below 0x80, as they go into SysEx messages);
    // anything else (a damaged row) is absent.
    template <size_t N>
    std::optional<std::array<uint8_t, N>> blob(int col) const {
        const void* p = sqlite3_column_blob(stmt_, col);
        if (p == nullptr || sqlite3_column_bytes(stmt_, col) != static_cast<int>(N)) return std::nullopt;
        std::array<uint8_t, N> out;
        std::memcpy(out.data(), p, N);
        if (std::any_of(out.begin(), out.end(), [](uint8_t b) { return b > 0x7F; })) return std::nullopt;
        return out;
    }
    // A name column as a name: one that is not a name this program would have written (not UTF-8,
    // too long, control characters) is none.
    std::string name(int col) const {
        std::string n = text(col);
        return checkProgramName(n).empty() ? n : std::string();
    }
    int code() const { return rc_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_;
};

bool exec(sqlite3* db, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

bool failed(sqlite3* db, std::string& error) {
    error = std::string("program library: ") + sqlite3_errmsg(db);
    return false;
}

// A write transaction: BEGIN IMMEDIATE (so a second writer waits for the lock at the start, not
// half-way), rolled back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) {
        std::string ignored;
        begun_ = exec(db, "BEGIN IMMEDIATE", ignored);
    }
    ~Transaction() {
        std::string ignored;
        if (begun_ && !committed_) exec(db_, "ROLLBACK", ignored);
    }
    bool begun() const { return begun_; }
    bool commit() {
        std::string ignored;
        committed_ = exec(db_, "COMMIT", ignored);
        return committed_;
    }

private:
    sqlite3* db_;
    bool begun_ = false;
    bool committed_ = false;
};

int pragmaInt(sqlite3* db, const char* sql, int& rc) {
    Statement s(db, sql);
    const bool row = s.step();
    rc = row ? SQLITE_OK : s.code();
    return row ? static_cast<int>(s.integer(0)) : 0;
}

constexpr const char* kReasonTexts[] = {"menu", "cli", "before-firmware-update", "before-restore"};
constexpr const char* kSourceTexts[] = {"file", "amplifier", "backup"};

BackupReason reasonFromText(const std::string& text) {
    for (size_t i = 0; i < std::size(kReasonTexts); ++i)
        if (text == kReasonTexts[i]) return static_cast<BackupReason>(i);
    return BackupReason::Menu;
}

}  // namespace

std::string_view backupReasonText(BackupReason reason) {
    return kReasonTexts[static_cast<size_t>(reason)];
}

std::string_view entrySourceText(EntrySource source) {
    return kSourceTexts[static_cast<size_t>(source)];
}

std::string checkLibraryText(std::string_view text, int maxChars, std::string_view allowed,
                             const char* what) {
    int chars = 0;
    for (size_t i = 0; i < text.size(); ++chars) {
        const size_t length = utf8CharLength(text, i);
        if (length == 0) return std::string(what) + " must be UTF-8 text";
        const auto b = static_cast<uint8_t>(text[i]);
        const auto second = length > 1 ? static_cast<uint8_t>(text[i + 1]) : uint8_t{0x80};
        // C0 controls, DEL and the C1 controls (U+0080..U+009F).
        if ((b < 0x20 || b == 0x7F || (b == 0xC2 && second < 0xA0)) &&
            (length > 1 || allowed.find(static_cast<char>(b)) == std::string_view::npos))
            return std::string(what) + " cannot hold control characters";
        i += length;
    }
    if (chars > maxChars)
        return std::string(what) + " has at most " + std::to_string(maxChars) + " characters";
    return {};
}

std::string checkProgramName(std::string_view name) {
    return checkLibraryText(name, kProgramNameMaxChars, "", "a name");
}

std::string checkTag(std::string_view tag) {
    if (tag.empty()) return "a tag cannot be empty";
    if (tag.find(',') != std::string_view::npos) return "a tag cannot hold a comma";
    if (tag.front() == ' ' || tag.back() == ' ') return "a tag cannot begin or end with a blank";
    return checkLibraryText(tag, kTagMaxChars, "", "a tag");
}

std::string checkNotes(std::string_view notes) {
    return checkLibraryText(notes, kNotesMaxChars, "\n\r\t", "notes");
}

// ---- opening ----------------------------------------------------------------------------------

std::unique_ptr<ProgramLibrary> ProgramLibrary::open(const std::filesystem::path& path, std::string& error,
                                                     LibraryRefusal* refusal,
                                                     std::chrono::milliseconds openBusyWait) {
    LibraryRefusal ignored = LibraryRefusal::None;
    LibraryRefusal& kind = refusal ? *refusal : ignored;
    kind = LibraryRefusal::Unavailable;
    const std::string where = "the program library " + path.string();
    if (path.empty()) {
        error = "no program library: no folder for it is known";
        return nullptr;
    }
    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);

    sqlite3* raw = nullptr;
    const std::u8string utf8 = path.u8string();  // SQLite names files in UTF-8 on every system
    // No mutex: one ProgramLibrary belongs to one thread.
    const int opened =
        sqlite3_open_v2(reinterpret_cast<const char*>(utf8.c_str()), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
    if (opened != SQLITE_OK) {
        error = where + " cannot be opened: " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(opened));
        return nullptr;
    }
    sqlite3_busy_timeout(raw, static_cast<int>(openBusyWait.count()));
    sqlite3_extended_result_codes(raw, 1);

    // Reading the header is the first access: a file that is not SQLite fails here.
    int rc = SQLITE_OK;
    const int version = pragmaInt(raw, "PRAGMA user_version", rc);
    const int application = rc == SQLITE_OK ? pragmaInt(raw, "PRAGMA application_id", rc) : 0;
    const int tables = rc == SQLITE_OK ? pragmaInt(raw, "SELECT count(*) FROM sqlite_schema", rc) : 0;
    if (rc != SQLITE_OK) {
        const int primary = rc & 0xFF;
        kind = primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT ? LibraryRefusal::Damaged
               : primary == SQLITE_BUSY                              ? LibraryRefusal::Locked
                                                                     : LibraryRefusal::Unavailable;
        error =
            where + (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT ? " is damaged or not a database"
                     : primary == SQLITE_BUSY                              ? " is locked by another program"
                                              : std::string(" cannot be read: ") + sqlite3_errmsg(raw));
        return nullptr;
    }
    const auto newer = [&](int schema) {
        kind = LibraryRefusal::Newer;
        error = where + " was written by a newer Halvard Editor (schema " + std::to_string(schema) +
                "; this one knows up to " + std::to_string(kLibrarySchemaVersion) + ") and is left unchanged";
        return nullptr;
    };
    if (version > kLibrarySchemaVersion) return newer(version);
    if (application != kApplicationId && (version != 0 || tables != 0)) {
        kind = LibraryRefusal::Foreign;
        error = where + " is another program's database and is left unchanged";
        return nullptr;
    }
    kind = LibraryRefusal::ReadOnly;
    if (sqlite3_db_readonly(raw, "main") == 1) {
        error = where + " is read-only";
        return nullptr;
    }

    std::string why;
    // WAL: readers never wait for the writer, and a killed writer leaves the last commit intact.
    {
        Statement wal(raw, "PRAGMA journal_mode = WAL");
        if (!wal.step() || wal.text(0) != "wal") {
            if ((sqlite3_errcode(raw) & 0xFF) == SQLITE_BUSY) kind = LibraryRefusal::Locked;
            error = where + " cannot be written: " + sqlite3_errmsg(raw);
            return nullptr;
        }
    }
    // A page cache that holds a collection of tens of thousands of entries: listing one reads every
    // page.
    if (!exec(raw, "PRAGMA foreign_keys = ON; PRAGMA synchronous = FULL; PRAGMA cache_size = -16384", why)) {
        error = where + ": " + why;
        return nullptr;
    }
    if (version < kLibrarySchemaVersion) {
        Transaction t(raw);
        // Another process may have migrated it between the read above and the lock.
        const int now = t.begun() ? pragmaInt(raw, "PRAGMA user_version", rc) : -1;
        if (now > kLibrarySchemaVersion) return newer(now);  // (the stamp below would mark it older)
        bool ok = t.begun() && rc == SQLITE_OK;
        for (int v = now; ok && v < kLibrarySchemaVersion; ++v) ok = exec(raw, kMigrations[v], why);
        const std::string stamp = "PRAGMA user_version = " + std::to_string(kLibrarySchemaVersion) +
                                  "; PRAGMA application_id = " + std::to_string(kApplicationId);
        if (ok) ok = exec(raw, stamp.c_str(), why) && t.commit();
        if (!ok) {
            if ((sqlite3_errcode(raw) & 0xFF) == SQLITE_BUSY) kind = LibraryRefusal::Locked;
            error = where + " cannot be set up: " + (why.empty() ? sqlite3_errmsg(raw) : why);
            return nullptr;
        }
    }
    kind = LibraryRefusal::None;
    sqlite3_busy_timeout(raw, static_cast<int>(kBusyWait.count()));
    return std::unique_ptr<ProgramLibrary>(new ProgramLibrary(db.release(), path));
}

ProgramLibrary::~ProgramLibrary() {
    sqlite3_close(db_);
}

// ---- names ------------------------------------------------------------------------------------

bool ProgramLibrary::names(std::array<ProgramName, kProgramCount>& out, std::string& error) {
    out = {};
    Statement s(db_, "SELECT program, name, bound_record FROM program_names");
    while (s.step()) {
        const int64_t p = s.integer(0);
        if (p < 0 || p >= kProgramCount) continue;
        std::string name = s.name(1);
        if (!name.empty()) out[static_cast<size_t>(p)] = {std::move(name), s.blob<kProgramRecordBytes>(2)};
    }
    return s.ok() || failed(db_, error);
}

bool ProgramLibrary::setName(int program, std::string_view name, const std::optional<ProgramRecord>& record,
                             std::string& error) {
    if (program < 0 || program >= kProgramCount) {
        error = "a program number is 0..127";
        return false;
    }
    if (std::string why = checkProgramName(name); !why.empty()) {
        error = std::move(why);
        return false;
    }
    if (name.empty()) {
        Statement s(db_, "DELETE FROM program_names WHERE program = ?");
        return s.bind(1, program).run() || failed(db_, error);
    }
    Statement s(db_, "INSERT OR REPLACE INTO program_names (program, name, bound_record) VALUES (?, ?, ?)");
    s.bind(1, program).bind(2, name);
    record ? s.bindBlob(3, record->data(), record->size()) : s.bindNull(3);
    return s.run() || failed(db_, error);
}

bool ProgramLibrary::bindNames(const ProgramRecords& records, bool unboundOnly, std::string& error) {
    Transaction t(db_);
    if (!t.begun()) return failed(db_, error);
    Statement s(db_,
                unboundOnly
                    ? "UPDATE program_names SET bound_record = ? WHERE program = ? AND bound_record IS NULL"
                    : "UPDATE program_names SET bound_record = ? WHERE program = ?");
    for (int p = 0; p < kProgramCount; ++p) {
        const std::optional<ProgramRecord>& r = records[static_cast<size_t>(p)];
        if (r && (!s.bindBlob(1, r->data(), r->size()).bind(2, p).run() || !s.reset()))
            return failed(db_, error);
    }
    return t.commit() || failed(db_, error);
}

bool ProgramLibrary::copyName(int from, int to, std::string& error) {
    if (from == to) return true;  // (the delete would otherwise remove the name it copies)
    Transaction t(db_);
    if (!t.begun()) return failed(db_, error);
    Statement del(db_, "DELETE FROM program_names WHERE program = ?");
    Statement copy(db_,
                   "INSERT INTO program_names (program, name, bound_record) "
                   "SELECT ?, name, bound_record FROM program_names WHERE program = ?");
    if (!del.bind(1, to).run() || !copy.bind(1, to).bind(2, from).run()) return failed(db_, error);
    return t.commit() || failed(db_, error);
}

bool ProgramLibrary::swapNames(int a, int b, std::string& error) {
    if (a == b) return true;
    Transaction t(db_);
    if (!t.begun()) return failed(db_, error);
    // Each row is read, both are removed, and each goes back under the other number (the key
    // allows no moment with two rows of one number).
    Statement read(db_,
                   "SELECT program, name, bound_record, named_at FROM program_names WHERE program IN (?, ?)");
    struct Row {
        int64_t program;
        std::string name;
        std::optional<ProgramRecord> record;
        std::string namedAt;
    };
    std::vector<Row> rows;
    read.bind(1, a).bind(2, b);
    while (read.step())
        rows.push_back({read.integer(0), read.text(1), read.blob<kProgramRecordBytes>(2), read.text(3)});
    Statement del(db_, "DELETE FROM program_names WHERE program IN (?, ?)");
    if (!read.ok() || !del.bind(1, a).bind(2, b).run()) return failed(db_, error);
    Statement put(db_,
                  "INSERT INTO program_names (program, name, bound_record, named_at) VALUES (?, ?, ?, ?)");
    for (const Row& r : rows) {
        put.bind(1, r.program == a ? b : a).bind(2, r.name).bind(4, r.namedAt);
        r.record ? put.bindBlob(3, r.record->data(), r.record->size()) : put.bindNull(3);
        if (!put.run() || !put.reset()) return failed(db_, error);
    }
    return t.commit() || failed(db_, error);
}

// ---- backups ----------------------------------------------------------------------------------

std::optional<int64_t> ProgramLibrary::recordBackup(const KeptBackup& backup, std::string& error) {
    Transaction t(db_);
    if (!t.begun()) {
        failed(db_, error);
        return std::nullopt;
    }
    Statement head(db_,
                   "INSERT INTO backups (taken_at, reason, firmware, globals, current_program, file_name) "
                   "VALUES (coalesce(?, strftime('%Y-%m-%dT%H:%M:%SZ', 'now')), ?, ?, ?, ?, ?)");
    const KeptBackupSummary& s = backup.summary;
    s.takenAt.empty() ? head.bindNull(1) : head.bind(1, s.takenAt);
    head.bind(2, backupReasonText(s.reason))
        .bind(3, s.firmware)
        .bindBlob(4, backup.globals.data(), backup.globals.size())
        .bind(5, backup.currentProgram)
        .bind(6, s.fileName);
    if (!head.run()) {
        failed(db_, error);
        return std::nullopt;
    }
    const int64_t id = sqlite3_last_insert_rowid(db_);
    Statement row(db_, "INSERT INTO backup_programs (backup_id, program, record, name) VALUES (?, ?, ?, ?)");
    for (int p = 0; p < kProgramCount; ++p) {
        const ProgramRecord& r = backup.records[static_cast<size_t>(p)];
        const std::string& name = backup.names[static_cast<size_t>(p)];
        row.bind(1, id).bind(2, p).bindBlob(3, r.data(), r.size());
        name.empty() ? row.bindNull(4) : row.bind(4, name);
        if (!row.run() || !row.reset()) {
            failed(db_, error);
            return std::nullopt;
        }
    }
    // Automatic backups: the newest 20 and all of the last 90 days stay.
    Statement prune(db_, R"sql(
        DELETE FROM backups
        WHERE reason IN ('before-firmware-update', 'before-restore')
          AND taken_at < strftime('%Y-%m-%dT%H:%M:%SZ', 'now', ?)
          AND id NOT IN (SELECT id FROM backups WHERE reason IN ('before-firmware-update', 'before-restore')
                         ORDER BY taken_at DESC, id DESC LIMIT ?))sql");
    prune.bind(1, "-" + std::to_string(kKeptAutomaticBackupDays) + " days").bind(2, kKeptAutomaticBackups);
    if (!prune.run() || !t.commit()) {
        failed(db_, error);
        return std::nullopt;
    }
    return id;
}

bool ProgramLibrary::backups(std::vector<KeptBackupSummary>& out, std::string& error) {
    out.clear();
    Statement s(
        db_, "SELECT id, taken_at, reason, firmware, file_name FROM backups ORDER BY taken_at DESC, id DESC");
    while (s.step())
        out.push_back({s.integer(0), s.text(1), reasonFromText(s.text(2)), s.text(3), s.text(4)});
    return s.ok() || failed(db_, error);
}

std::optional<KeptBackup> ProgramLibrary::backup(int64_t id, std::string& error) {
    KeptBackup b;
    Statement head(db_,
                   "SELECT taken_at, reason, firmware, file_name, globals, current_program FROM backups "
                   "WHERE id = ?");
    if (!head.bind(1, id).step()) {
        if (head.ok())
            error = "no kept backup " + std::to_string(id);
        else
            failed(db_, error);
        return std::nullopt;
    }
    const auto globals = head.blob<2>(4);
    const int64_t current = head.integer(5);
    if (!globals || current < 0 || current >= kProgramCount) {
        error = "kept backup " + std::to_string(id) + " is damaged";
        return std::nullopt;
    }
    b.summary = {id, head.text(0), reasonFromText(head.text(1)), head.text(2), head.text(3)};
    b.globals = *globals;
    b.currentProgram = static_cast<int>(current);
    Statement rows(db_, "SELECT program, record, name FROM backup_programs WHERE backup_id = ?");
    std::array<bool, kProgramCount> seen{};
    rows.bind(1, id);
    while (rows.step()) {
        const int64_t p = rows.integer(0);
        const auto record = rows.blob<kProgramRecordBytes>(1);
        if (p < 0 || p >= kProgramCount || !record) break;
        b.records[static_cast<size_t>(p)] = *record;
        b.names[static_cast<size_t>(p)] = rows.name(2);
        seen[static_cast<size_t>(p)] = true;
    }
    if (!rows.ok()) {
        failed(db_, error);
        return std::nullopt;
    }
    for (const bool s : seen) {
        if (!s) {
            error = "kept backup " + std::to_string(id) + " is damaged";
            return std::nullopt;
        }
    }
    return b;
}

bool ProgramLibrary::restoreNames(const KeptBackup& backup, std::string& error) {
    Transaction t(db_);
    if (!t.begun()) return failed(db_, error);
    Statement clear(db_, "DELETE FROM program_names");
    Statement put(db_, "INSERT INTO program_names (program, name, bound_record) VALUES (?, ?, ?)");
    if (!clear.run()) return failed(db_, error);
    for (int p = 0; p < kProgramCount; ++p) {
        const std::string& name = backup.names[static_cast<size_t>(p)];
        if (name.empty()) continue;
        const ProgramRecord& r = backup.records[static_cast<size_t>(p)];
        if (!put.bind(1, p).bind(2, name).bindBlob(3, r.data(), r.size()).run() || !put.reset())
            return failed(db_, error);
    }
    return t.commit() || failed(db_, error);
}

// ---- the collection ---------------------------------------------------------------------------

namespace {

// The tags column: each tag once, followed by a line break (which no tag holds).
std::string joinTags(const std::vector<std::string>& tags) {
    std::string out;
    for (size_t i = 0; i < tags.size(); ++i)
        if (std::find(tags.begin(), tags.begin() + static_cast<ptrdiff_t>(i), tags[i]) ==
            tags.begin() + static_cast<ptrdiff_t>(i))
            out += tags[i] + "\n";
    return out;
}

// The tags of a column as this program writes them; any other (a damaged row) is left out.
std::vector<std::string> splitTags(std::string_view column) {
    std::vector<std::string> out;
    for (size_t at = 0; at < column.size();) {
        size_t end = column.find('\n', at);
        if (end == std::string_view::npos) end = column.size();
        const std::string_view tag = column.substr(at, end - at);
        if (checkTag(tag).empty() && std::find(out.begin(), out.end(), tag) == out.end())
            out.emplace_back(tag);
        at = end + 1;
    }
    return out;
}

std::string checkTags(const std::vector<std::string>& tags) {
    for (const std::string& t : tags)
        if (std::string why = checkTag(t); !why.empty()) return why;
    return {};
}

// The reason an entry cannot be kept; empty when it can.
std::string checkEntry(const CollectionEntry& e) {
    if (e.name.empty()) return "an entry needs a name";
    if (std::string why = checkProgramName(e.name); !why.empty()) return why;
    if (std::string why = checkTags(e.tags); !why.empty()) return why;
    if (std::string why = checkNotes(e.notes); !why.empty()) return why;
    for (const std::string& slot : e.irSlotNames)
        if (std::string why = checkLibraryText(slot, kSlotNameMaxBytes, "", "a slot name"); !why.empty())
            return why;
    if (std::any_of(e.record.begin(), e.record.end(), [](uint8_t b) { return b > 0x7F; }))
        return "a record's bytes are below 0x80";
    if (std::string why = checkLibraryText(e.sourceFile, 4096, "", "a file name"); !why.empty()) return why;
    if (e.sourceProgram >= kProgramCount) return "a program number is 0..127";
    return {};
}

constexpr const char* kEntryColumns =
    "id, name, tags, notes, record, ir_rhythm, ir_lead, source, source_file, source_program, source_backup, "
    "added_at";

// The entry of a row read with kEntryColumns; none for a row this program would not have written.
// Text as it is when it is ASCII (the common case, cheaply tested), else made valid UTF-8.
std::string utf8Text(std::string text) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; }))
        return text;
    return validUtf8(text);
}

// Reads a row of kEntryColumns into e; false for a row this program would not have written.
bool entryOfRow(const Statement& s, CollectionEntry& e) {
    const auto record = s.blob<kProgramRecordBytes>(4);
    if (!record) return false;
    e.id = s.integer(0);
    e.name = s.name(1);
    if (e.name.empty()) e.name = "?";
    e.tags = splitTags(s.text(2));
    e.notes = s.text(3);
    if (!checkNotes(e.notes).empty()) e.notes.clear();
    e.record = *record;
    for (size_t c = 0; c < 2; ++c) {
        e.irSlotNames[c] = s.text(5 + static_cast<int>(c));
        if (!checkLibraryText(e.irSlotNames[c], kSlotNameMaxBytes, "", "").empty()) e.irSlotNames[c].clear();
    }
    const std::string source = s.text(7);
    for (size_t i = 0; i < std::size(kSourceTexts); ++i)
        if (source == kSourceTexts[i]) e.source = static_cast<EntrySource>(i);
    e.sourceFile = utf8Text(s.text(8));
    const int64_t program = s.isNull(9) ? -1 : s.integer(9);
    e.sourceProgram = program >= 0 && program < kProgramCount ? static_cast<int>(program) : -1;
    e.sourceBackup = s.isNull(10) ? 0 : s.integer(10);
    e.addedAt = utf8Text(s.text(11));
    return true;
}

}  // namespace

std::optional<int64_t> ProgramLibrary::addEntry(const CollectionEntry& entry, std::string& error) {
    const auto ids = addEntries({entry}, error);
    if (!ids) return std::nullopt;
    return ids->front();
}

std::optional<std::vector<int64_t>> ProgramLibrary::addEntries(const std::vector<CollectionEntry>& entries,
                                                               std::string& error) {
    for (size_t i = 0; i < entries.size(); ++i) {
        if (std::string why = checkEntry(entries[i]); !why.empty()) {
            error = entries.size() == 1 ? why : "entry " + std::to_string(i + 1) + ": " + why;
            return std::nullopt;
        }
    }
    Transaction t(db_);
    if (!t.begun()) {
        failed(db_, error);
        return std::nullopt;
    }
    Statement put(
        db_,
        "INSERT INTO collection (name, tags, notes, record, ir_rhythm, ir_lead, source, source_file, "
        "source_program, source_backup, added_at) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, coalesce(?, strftime('%Y-%m-%dT%H:%M:%SZ', 'now')))");
    std::vector<int64_t> ids;
    for (const CollectionEntry& e : entries) {
        put.bind(1, e.name)
            .bind(2, joinTags(e.tags))
            .bind(3, e.notes)
            .bindBlob(4, e.record.data(), e.record.size())
            .bind(5, e.irSlotNames[0])
            .bind(6, e.irSlotNames[1])
            .bind(7, entrySourceText(e.source))
            .bind(8, e.sourceFile);
        e.sourceProgram >= 0 ? put.bind(9, e.sourceProgram) : put.bindNull(9);
        e.source == EntrySource::KeptBackup ? put.bind(10, e.sourceBackup) : put.bindNull(10);
        e.addedAt.empty() ? put.bindNull(11) : put.bind(11, e.addedAt);
        if (!put.run() || !put.reset()) {
            failed(db_, error);
            return std::nullopt;
        }
        ids.push_back(sqlite3_last_insert_rowid(db_));
    }
    if (!t.commit()) {
        failed(db_, error);
        return std::nullopt;
    }
    return ids;
}

bool ProgramLibrary::entries(std::vector<CollectionEntry>& out, std::string& error, std::string_view search) {
    out.clear();
    // LIKE matches the letters A-Z in either case; the search text's own %, _ and \ are escaped.
    const std::string sql = std::string("SELECT ") + kEntryColumns + " FROM collection" +
                            (search.empty() ? ""
                                            : " WHERE name LIKE ?1 ESCAPE '\\' OR tags LIKE ?1 ESCAPE '\\' "
                                              "OR notes LIKE ?1 ESCAPE '\\'");
    Statement s(db_, sql.c_str());
    if (!search.empty()) {
        std::string pattern = "%";
        for (const char c : search) {
            if (c == '%' || c == '_' || c == '\\') pattern += '\\';
            pattern += c;
        }
        s.bind(1, pattern + "%");
    }
    while (s.step()) {
        // Read in place: a listing of ten thousand entries moves none of them.
        if (!entryOfRow(s, out.emplace_back())) out.pop_back();
    }
    // Sorted here rather than by SQLite, whose sorter would copy every row once more: by a key of
    // the name with A-Z folded, then the id; the entries themselves are moved once.
    std::vector<std::pair<std::string, size_t>> keys(out.size());
    for (size_t i = 0; i < out.size(); ++i) {
        keys[i] = {out[i].name, i};
        for (char& c : keys[i].first)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    std::sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        const int c = a.first.compare(b.first);
        return c != 0 ? c < 0 : out[a.second].id < out[b.second].id;
    });
    std::vector<CollectionEntry> sorted;
    sorted.reserve(out.size());
    for (const auto& k : keys) sorted.push_back(std::move(out[k.second]));
    out = std::move(sorted);
    return s.ok() || failed(db_, error);
}

std::optional<CollectionEntry> ProgramLibrary::entry(int64_t id, std::string& error) {
    Statement s(db_, (std::string("SELECT ") + kEntryColumns + " FROM collection WHERE id = ?").c_str());
    if (s.bind(1, id).step()) {
        if (CollectionEntry e; entryOfRow(s, e)) return e;
        error = "collection entry " + std::to_string(id) + " is damaged";
        return std::nullopt;
    }
    if (s.ok())
        error = "no collection entry " + std::to_string(id);
    else
        failed(db_, error);
    return std::nullopt;
}

namespace {

// Sets one text column of an entry; false with "no collection entry N" when there is none.
bool updateEntry(sqlite3* db, const char* sql, int64_t id, std::string_view value, std::string& error) {
    Statement s(db, sql);
    if (!s.bind(1, value).bind(2, id).run()) return failed(db, error);
    if (sqlite3_changes(db) == 0) {
        error = "no collection entry " + std::to_string(id);
        return false;
    }
    return true;
}

}  // namespace

bool ProgramLibrary::renameEntry(int64_t id, std::string_view name, std::string& error) {
    error = name.empty() ? "an entry needs a name" : checkProgramName(name);
    return error.empty() && updateEntry(db_, "UPDATE collection SET name = ? WHERE id = ?", id, name, error);
}

bool ProgramLibrary::setEntryTags(int64_t id, const std::vector<std::string>& tags, std::string& error) {
    error = checkTags(tags);
    return error.empty() &&
           updateEntry(db_, "UPDATE collection SET tags = ? WHERE id = ?", id, joinTags(tags), error);
}

bool ProgramLibrary::setEntryNotes(int64_t id, std::string_view notes, std::string& error) {
    error = checkNotes(notes);
    return error.empty() &&
           updateEntry(db_, "UPDATE collection SET notes = ? WHERE id = ?", id, notes, error);
}

bool ProgramLibrary::removeEntry(int64_t id, std::string& error) {
    Statement s(db_, "DELETE FROM collection WHERE id = ?");
    if (!s.bind(1, id).run()) return failed(db_, error);
    if (sqlite3_changes(db_) == 0) {
        error = "no collection entry " + std::to_string(id);
        return false;
    }
    return true;
}

}  // namespace halvard
