#include "device/librarian/kept_backups.hpp"

#include <algorithm>

#include "device/librarian/library_access.hpp"
#include "device/protocol/exchanges.hpp"
#include "util/utf8.hpp"

namespace halvard {
namespace {

std::string versionText(uint16_t v) {
    return v == 0 ? std::string() : std::to_string(v >> 8) + "." + std::to_string(v & 0xFF);
}

SettingsGlobals mirrorGlobals(const DeviceMirror& m) {
    return {m.midiChannel, m.bypassLock, m.reverbTails, m.mono, m.irSlot};
}

// Reads the programs named (program 0 first when the globals are needed), then writes each wanted
// record to its program and reads it back. The amplifier then goes back to the program it was on,
// and the panel's edits of it not yet stored, which the reads dropped in the amplifier, are written
// back, unless the move replaced that program.
ProgramMoveResult movePrograms(LinkContext& ctx, std::initializer_list<std::pair<int, int>> moves,
                               ProgramLibrary* library, bool swap) {
    ProgramMoveResult out;
    const int start = std::clamp(ctx.ui->program.load(), 0, kProgramCount - 1);
    const ProgramSettings edited = ctx.ui->record(start);
    const bool replaced =
        std::any_of(moves.begin(), moves.end(), [&](const auto& m) { return m.second == start; });
    // Unless the move replaces it, the current program read back without its edits is no outside
    // change: they are written back.
    std::optional<EditsWrittenBack> written;
    if (!replaced) written.emplace(ctx, start, edited);
    std::vector<int> reads = {0};
    for (const auto& [from, to] : moves) reads.push_back(from);
    for (const int p : reads) {
        if (const ReplyResult r = readProgramSettings(ctx, p); r != ReplyResult::Ok) {
            out.restore.result = r;
            out.restore.failedProgram = p;
            return out;
        }
    }
    const SettingsGlobals globals = mirrorGlobals(*ctx.ui);
    ProgramFile file;
    for (const auto& [from, to] : moves) {
        // The record as the amplifier stores it, just read: the panel's copy has its bypass held off
        // while BYPASS LOCK is on.
        const std::optional<ProgramRecord>& stored = ctx.amplifierRecords[static_cast<size_t>(from)];
        StoredProgram s{static_cast<uint8_t>(to), {}};
        buildSettingsWrite(s.write, to, globals, ctx.ui->record(from));
        if (stored) std::copy(stored->begin(), stored->end(), s.write.begin() + kRecordFirstByte);
        file.stored.push_back(s);
    }
    out.restore = restorePrograms(ctx, file, true);
    if (out.restore.result != ReplyResult::Ok) return out;
    if (readProgramSettings(ctx, start) == ReplyResult::Ok) {
        out.restore.endProgram = start;
        if (!replaced) writeBackEdits(ctx, start, edited, ctx.ui->record(start), mirrorGlobals(*ctx.ui));
    }
    if (!out.restore.mismatches.empty() || library == nullptr) return out;
    const auto [first, second] = *moves.begin();
    const bool moved = swap ? library->swapNames(first, second, out.libraryError)
                            : library->copyName(first, second, out.libraryError);
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
    return {{{"channel", p.channel},
             {"bypass", p.bypass},
             {"loopBypass", p.loopBypass},
             {"reverbRhythm", p.reverb[0]},
             {"reverbLead", p.reverb[1]},
             {"tremoloRhythm", p.tremolo[0]},
             {"tremoloLead", p.tremolo[1]},
             {"irRhythm", p.ir[0]},
             {"irLead", p.ir[1]},
             {"irBypass", p.irBypass},
             {"hfCompRhythm", p.hfComp[0]},
             {"hfCompLead", p.hfComp[1]},
             {"lowpassRhythm", p.filterA[0]},
             {"lowpassLead", p.filterA[1]},
             {"highpassRhythm", p.filterB[0]},
             {"highpassLead", p.filterB[1]}}};
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
    return movePrograms(ctx, {{from, to}}, library, false);
}

ProgramMoveResult swapPrograms(LinkContext& ctx, int a, int b, ProgramLibrary* library) {
    return movePrograms(ctx, {{a, b}, {b, a}}, library, true);
}

}  // namespace halvard
