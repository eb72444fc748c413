#include "device/librarian/kept_backups.hpp"

#include <algorithm>

#include "device/librarian/library_access.hpp"
#include "device/librarian/program_file.hpp"
#include "device/protocol/exchanges.hpp"
#include "util/files.hpp"
#include "util/local_time.hpp"
#include "util/utf8.hpp"

namespace halvard {
namespace {

std::string versionText(uint16_t v) {
    return v == 0 ? std::string() : std::to_string(v >> 8) + "." + std::to_string(v & 0xFF);
}

SettingsGlobals mirrorGlobals(const DeviceMirror& m) {
    return {m.midiChannel, m.bypassLock, m.reverbTails, m.mono, m.irSlot};
}

// One program written by a move: program `from`'s record as the amplifier stores it, or (from -1)
// the record given.
struct Placement {
    int from;
    int to;
    ProgramRecord record{};
};

// Reads the programs named (program 0 first when the globals are needed), then writes each wanted
// record to its program and reads it back. The amplifier then goes back to the program it was on,
// and the panel's edits of it not yet stored, which the reads dropped in the amplifier, are written
// back, unless the move replaced that program. file: what was written.
RestoreResult writePlacements(LinkContext& ctx, const std::vector<Placement>& placements, ProgramFile& file) {
    RestoreResult out;
    const int start = std::clamp(ctx.ui->program.load(), 0, kProgramCount - 1);
    const ProgramSettings edited = ctx.ui->record(start);
    const bool replaced =
        std::any_of(placements.begin(), placements.end(), [&](const Placement& m) { return m.to == start; });
    // Unless the move replaces it, the current program read back without its edits is no outside
    // change: they are written back.
    std::optional<EditsWrittenBack> written;
    if (!replaced) written.emplace(ctx, start, edited);
    std::vector<int> reads = {0};
    for (const Placement& m : placements)
        if (m.from >= 0) reads.push_back(m.from);
    for (const int p : reads) {
        if (const ReplyResult r = readProgramSettings(ctx, p); r != ReplyResult::Ok) {
            out.result = r;
            out.failedProgram = p;
            return out;
        }
    }
    const SettingsGlobals globals = mirrorGlobals(*ctx.ui);
    for (const Placement& m : placements) {
        // The record as the amplifier stores it, just read: the panel's copy has its bypass held off
        // while BYPASS LOCK is on.
        StoredProgram s{static_cast<uint8_t>(m.to), {}};
        buildSettingsWrite(s.write, m.to, globals, m.from >= 0 ? ctx.ui->record(m.from) : ProgramSettings{});
        const std::optional<ProgramRecord> stored =
            m.from >= 0 ? ctx.amplifierRecords[static_cast<size_t>(m.from)] : m.record;
        if (stored) std::copy(stored->begin(), stored->end(), s.write.begin() + kRecordFirstByte);
        file.stored.push_back(s);
    }
    out = restorePrograms(ctx, file, true);
    if (out.result != ReplyResult::Ok) return out;
    if (readProgramSettings(ctx, start) == ReplyResult::Ok) {
        out.endProgram = start;
        if (!replaced) writeBackEdits(ctx, start, edited, ctx.ui->record(start), mirrorGlobals(*ctx.ui));
    }
    return out;
}

ProgramMoveResult movePrograms(LinkContext& ctx, int a, int b, ProgramLibrary* library, bool swap) {
    ProgramMoveResult out;
    ProgramFile file;
    out.restore = writePlacements(
        ctx, swap ? std::vector<Placement>{{a, b}, {b, a}} : std::vector<Placement>{{a, b}}, file);
    if (out.restore.result != ReplyResult::Ok || !out.restore.mismatches.empty() || library == nullptr)
        return out;
    const bool moved =
        swap ? library->swapNames(a, b, out.libraryError) : library->copyName(a, b, out.libraryError);
    if (!moved) return out;
    library->bindNames(recordsOfFile(file), false, out.libraryError);
    return out;
}

}  // namespace

ProgramRecords recordsOfFile(const ProgramFile& file) {
    ProgramRecords out;
    for (const StoredProgram& s : file.stored)
        if (s.program < kProgramCount) out[s.program] = recordOfWrite(s.write);
    return out;
}

KeptBackup keptBackupOf(const ProgramFile& file, BackupReason reason, uint16_t firmwareVersion,
                        const std::array<ProgramName, kProgramCount>& names) {
    KeptBackup b;
    b.summary.reason = reason;
    b.summary.firmware = versionText(firmwareVersion);
    for (const StoredProgram& s : file.stored) {
        if (s.program >= kProgramCount) continue;
        b.records[s.program] = recordOfWrite(s.write);
        if (s.program == 0) b.globals = {s.write[4], s.write[kRecordFirstByte + kProgramRecordBytes]};
    }
    if (file.selection) b.currentProgram = std::min<int>((*file.selection)[3], kProgramCount - 1);
    for (int p = 0; p < kProgramCount; ++p)
        b.names[static_cast<size_t>(p)] = names[static_cast<size_t>(p)].name;
    return b;
}

std::optional<int64_t> keepBackup(LinkContext& ctx, const ProgramFile& file, BackupReason reason,
                                  const std::u8string& fileName, std::string& error) {
    if (ctx.library == nullptr) return std::nullopt;
    // Names given while no record was known are bound to what this read found.
    std::array<ProgramName, kProgramCount> names;
    if (!ctx.library->bindNames(recordsOfFile(file), true, error) || !ctx.library->names(names, error))
        return std::nullopt;
    KeptBackup kept = keptBackupOf(file, reason, ctx.ui->firmwareVersion, names);
    // Listed in the editor's menus and by halvard-cli: a name in another encoding is made UTF-8.
    kept.summary.fileName = validUtf8(std::string(fileName.begin(), fileName.end()));
    const std::optional<int64_t> id = ctx.library->recordBackup(kept, error);
    if (id) publishKeptBackups(ctx);
    return id;
}

namespace {

// A program file in ctx.backupFolder; its path, or empty with the reason.
std::filesystem::path keepAsFile(LinkContext& ctx, const ProgramFile& file, BackupReason reason,
                                 std::string& error) {
    const std::filesystem::path& folder = ctx.backupFolder;
    if (folder.empty()) {
        error = "no backups folder (no home folder known)";
        return {};
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + folder.string() + ": " + ec.message();
        return {};
    }
    // Two backups in one second (a copy, then a swap) each keep a file of their own.
    const std::string name =
        automaticBackupName(localTimeNow(), ctx.ui->firmwareVersion, backupReasonText(reason));
    std::filesystem::path path = folder / name;
    for (int n = 2; std::filesystem::exists(path, ec) && n < 100; ++n)
        path = folder / (name.substr(0, name.size() - 4) + "-" + std::to_string(n) + ".syx");
    if (!writeFileReplacing(path, programFileBytes(file), error)) return {};
    return path;
}

}  // namespace

AutomaticBackup keepAutomaticBackup(LinkContext& ctx, const ProgramFile& file, BackupReason reason,
                                    bool alsoAsFile) {
    AutomaticBackup out;
    std::string fileError;
    if (alsoAsFile) out.file = keepAsFile(ctx, file, reason, fileError);
    std::string libraryError = "no program library";
    out.id = keepBackup(ctx, file, reason, out.file.filename().u8string(), libraryError);
    if (!out.id && !alsoAsFile) out.file = keepAsFile(ctx, file, reason, fileError);
    if (!out.kept())
        out.error =
            (ctx.library ? "the library cannot keep it: " + libraryError : libraryError) + "; " + fileError;
    return out;
}

ProgramFile programFileOf(const KeptBackup& backup) {
    ProgramFile file;
    for (int p = 0; p < kProgramCount; ++p)
        file.stored.push_back({static_cast<uint8_t>(p),
                               settingsWriteOf(p, backup.globals, backup.records[static_cast<size_t>(p)])});
    file.selection = settingsWriteOf(backup.currentProgram, backup.globals,
                                     backup.records[static_cast<size_t>(backup.currentProgram)]);
    return file;
}

std::array<NamedSetting, 16> namedSettings(const ProgramSettings& p) {
    std::array<NamedSetting, 16> out{};
    for (size_t i = 0; i < out.size(); ++i) out[i] = {kSettingFields[i].name, kSettingFields[i].get(p)};
    return out;
}

std::vector<ProgramChange> compareWithFile(const ProgramRecords& now, const ProgramFile& file) {
    std::vector<ProgramChange> changes;
    for (const StoredProgram& s : file.stored) {
        if (s.program >= kProgramCount) continue;
        const std::optional<ProgramRecord>& current = now[s.program];
        const ProgramRecord wanted = recordOfWrite(s.write);
        if (current == wanted) continue;
        ProgramChange c{s.program, current, wanted, {}};
        const auto after = namedSettings(settingsOfRecord(wanted));
        if (current) {
            const auto before = namedSettings(settingsOfRecord(*current));
            for (size_t i = 0; i < after.size(); ++i)
                if (before[i].value != after[i].value)
                    c.differences.push_back({after[i].name, before[i].value, after[i].value});
        }
        changes.push_back(std::move(c));
    }
    return changes;
}

namespace {

// Bytes 4 and 15 of the last settings write a restore of file sends; none for a file without one.
std::optional<std::array<uint8_t, 2>> globalsOfFile(const ProgramFile& file) {
    const SettingsWriteMessage* last = file.selection        ? &*file.selection
                                       : file.stored.empty() ? nullptr
                                                             : &file.stored.back().write;
    if (last == nullptr) return std::nullopt;
    return std::array<uint8_t, 2>{(*last)[4], (*last)[kRecordFirstByte + kProgramRecordBytes]};
}

}  // namespace

std::vector<GlobalChange> compareGlobals(const ProgramFile& now, const ProgramFile& file) {
    std::vector<GlobalChange> changes;
    const auto before = globalsOfFile(now), after = globalsOfFile(file);
    if (!before || !after) return changes;
    const auto fields = [](const std::array<uint8_t, 2>& g) {
        return std::array<GlobalChange, 5>{{{"midiChannel", "MIDI channel", g[0] & 0x1F, 0},
                                            {"bypassLock", "bypass lock", (g[0] >> 5) & 1, 0},
                                            {"reverbTails", "reverb tails", (g[0] >> 6) & 1, 0},
                                            {"mono", "mono", g[1] & 1, 0},
                                            {"irSlot", "IR slot", (g[1] >> 1) & 7, 0}}};
    };
    const auto was = fields(*before), will = fields(*after);
    for (size_t i = 0; i < was.size(); ++i)
        if (was[i].now != will[i].now)
            changes.push_back({was[i].name, was[i].label, was[i].now, will[i].now});
    return changes;
}

ProgramMoveResult copyProgram(LinkContext& ctx, int from, int to, ProgramLibrary* library) {
    return movePrograms(ctx, from, to, library, false);
}

ProgramMoveResult swapPrograms(LinkContext& ctx, int a, int b, ProgramLibrary* library) {
    return movePrograms(ctx, a, b, library, true);
}

ProgramMoveResult placeProgram(LinkContext& ctx, const ProgramRecord& record, int to, std::string_view name,
                               ProgramLibrary* library) {
    ProgramMoveResult out;
    ProgramFile file;
    out.restore = writePlacements(ctx, {{-1, to, record}}, file);
    if (out.restore.result != ReplyResult::Ok || !out.restore.mismatches.empty() || library == nullptr)
        return out;
    library->setName(to, name, record, out.libraryError);
    return out;
}

}  // namespace halvard
