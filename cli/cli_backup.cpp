// halvard-cli backup, compare, restore and backups: all 128 programs into a file and back, and the
// backups kept in the program library.

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "cli/cli_commands.hpp"
#include "cli/cli_output.hpp"
#include "cli/cli_session.hpp"
#include "util/files.hpp"
#include "util/hex.hpp"
#include "util/paths.hpp"

namespace halvard::cli {
namespace {

namespace fs = std::filesystem;

int backUp(Session& s, const CliOptions& o) {
    const std::unique_ptr<ProgramLibrary> library = libraryOrWarn(o, "the backup is not kept in the library");
    s.link.library = library.get();
    s.mirror.program = o.program.value_or(0);
    ProgressDisplay progress("backup");
    const BackupResult backup = backupPrograms(s.link, progress.steps());
    if (backup.result != ReplyResult::Ok)
        return fail(stopReason(backup.result, backup.failedProgram) + "; no file written");
    std::string error;
    const fs::path file = pathFromUtf8(o.operands[0]);
    if (!writeFileReplacing(file, programFileBytes(backup.file), error)) return fail(error);
    const std::u8string fileName = file.filename().u8string();
    const std::optional<int64_t> kept =
        keep(s, backup.file, BackupReason::Cli, std::string(fileName.begin(), fileName.end()), error);
    if (!error.empty()) warn(error + "; the backup is not kept in the library");
    return report(o,
                  {{"file", o.operands[0]},
                   {"programs", kProgramCount},
                   {"program", s.mirror.program.load()},
                   {"keptBackup", kept ? Json(*kept) : Json(nullptr)}},
                  "128 programs backed up to " + o.operands[0] + "\n");
}

// "3 \"Clean Crunch\"", or "3" for a program without a name.
std::string programLabel(int program, const ProgramName& name) {
    return std::to_string(program) + (name.name.empty() ? "" : " \"" + name.name + "\"");
}

// What a restore of a file would change on the amplifier that holds now.
struct Changes {
    std::vector<ProgramChange> programs;
    std::vector<GlobalChange> globals;
    bool any() const { return !programs.empty() || !globals.empty(); }
};

Changes changesOf(const ProgramFile& now, const ProgramFile& file) {
    return {compareWithFile(recordsOfFile(now), file), compareGlobals(now, file)};
}

// The changes as compare prints them: one line for each program, one for the global settings.
std::string changesText(const Changes& changes, const std::array<ProgramName, kProgramCount>& names) {
    const auto joined = [](const auto& list) {
        std::string text;
        for (const auto& d : list)
            text += (text.empty() ? "" : ", ") + std::string(d.name) + " " + std::to_string(d.from) + " -> " +
                    std::to_string(d.to);
        return text;
    };
    struct Named {
        const char* name;
        int from;
        int to;
    };
    std::string text;
    for (const ProgramChange& c : changes.programs) {
        std::vector<Named> settings;
        for (const SettingChange& d : c.differences) settings.push_back({d.field, d.from, d.to});
        text += "program " + programLabel(c.program, names[static_cast<size_t>(c.program)]) +
                " would change: " + joined(settings) + "\n";
    }
    if (!changes.globals.empty()) {
        std::vector<Named> globals;
        for (const GlobalChange& g : changes.globals) globals.push_back({g.name, g.now, g.wanted});
        text += "the global settings would change: " + joined(globals) + "\n";
    }
    return changes.any() ? text : "no program would change\n";
}

// The changes as JSON: the programs that would change, with their names, and every setting that
// differs as {program, field, from, to} (program null: a global setting).
Json changesJson(const Changes& changes, const std::array<ProgramName, kProgramCount>& names) {
    Json programs = Json::array(), differences = Json::array();
    for (const ProgramChange& c : changes.programs) {
        const std::string& name = names[static_cast<size_t>(c.program)].name;
        programs.push_back({{"program", c.program}, {"name", name.empty() ? Json(nullptr) : Json(name)}});
        if (!c.now)  // not read: the whole record differs
            differences.push_back(
                {{"program", c.program}, {"field", "record"}, {"from", nullptr}, {"to", toHex(c.wanted)}});
        for (const SettingChange& d : c.differences)
            differences.push_back(
                {{"program", c.program}, {"field", d.field}, {"from", d.from}, {"to", d.to}});
    }
    for (const GlobalChange& g : changes.globals)
        differences.push_back({{"program", nullptr}, {"field", g.name}, {"from", g.now}, {"to", g.wanted}});
    return {{"differ", changes.any()}, {"programs", programs}, {"differences", differences}};
}

// What a restore or compare works from: the checked FILE, or a kept backup (kept is set), and the
// library; error says why there is none.
struct RestoreSource {
    bool ready = false;
    std::unique_ptr<ProgramLibrary> library;
    ProgramFile file;
    std::optional<KeptBackup> kept;
    std::string error;
};
RestoreSource restoreSource(const CliOptions& o) {
    RestoreSource source;
    if (o.backup) {
        source.library = openLibrary(o, source.error);
        if (!source.library) return source;
        source.kept = source.library->backup(*o.backup, source.error);
        if (!source.kept) return source;
        source.file = programFileOf(*source.kept);
        source.ready = true;
        return source;
    }
    source.library = libraryOrWarn(o, "no names");
    std::vector<uint8_t> bytes;
    if (!readWholeFile(pathFromUtf8(o.operands[0]), kProgramFileMaxBytes, bytes, source.error)) return source;
    const ParsedProgramFile parsed = parseProgramFile(bytes);
    if (parsed.error) {
        source.error = o.operands[0] + ": byte " + std::to_string(parsed.error->offset) + ": " +
                       parsed.error->reason + "; nothing sent";
        return source;
    }
    source.file = parsed.file;
    source.ready = true;
    return source;
}

int restore(Session& s, const CliOptions& o, const RestoreSource& source) {
    ProgramLibrary* library = source.library.get();
    s.link.library = library;
    // What the amplifier holds now is read first: compared with what would be sent, and kept as the
    // automatic backup before the restore.
    const std::optional<ProgramFile> now = readAllPrograms(s, o, "read");
    if (!now) return fail("nothing sent");
    const Changes changes = changesOf(*now, source.file);
    const auto names = namesOf(library);
    if (!o.json) std::fputs(changesText(changes, names).c_str(), stdout);
    if (changes.any() && !o.yes) {
        const size_t n = changes.programs.size();
        const std::string programs = std::to_string(n) + (n == 1 ? " program" : " programs");
        const bool globals = !changes.globals.empty();
        return refuse(n == 0 ? "the global settings would change"
                             : (globals ? programs + " and the global settings" : programs) + " would change",
                      "restores");
    }
    // The automatic backup is what makes a restore undoable: without it nothing is sent.
    const std::optional<AutomaticBackup> automatic =
        keptBeforeWriting(s, *now, o, BackupReason::BeforeRestore);
    if (!automatic) return kExitFailed;
    const std::optional<int64_t> kept = automatic->id;

    ProgressDisplay progress(o.noVerify ? "restore" : "restore and verify");
    const RestoreResult restore = restorePrograms(s.link, source.file, !o.noVerify, progress.steps());
    // The programs the restore changed: those that differed, among the ones sent.
    const auto changedAmongSent = [&] {
        std::vector<int> changed;
        for (size_t i = 0; i < source.file.stored.size() && i < static_cast<size_t>(restore.sent); ++i)
            for (const ProgramChange& c : changes.programs)
                if (c.program == source.file.stored[i].program) changed.push_back(c.program);
        if (!changes.globals.empty() && restore.sent > 0) changed.push_back(-1);
        return changed;
    };
    if (restore.result != ReplyResult::Ok) {
        const std::string why = stopReason(restore.result, restore.failedProgram) + " after " +
                                std::to_string(restore.sent) + " programs were sent";
        const std::vector<int> changed = changedAmongSent();
        return changed.empty() ? fail(why) : failedAfterChange(why, changed, kept);
    }
    for (const ProgramMismatch& m : restore.mismatches) {
        std::fprintf(stderr, "halvard-cli: %s differs: file %s, amplifier %s\n",
                     m.program < 0 ? "globals" : ("program " + std::to_string(m.program)).c_str(),
                     toHex(m.expected, true).c_str(), toHex(m.found, true).c_str());
    }
    if (!restore.mismatches.empty()) {
        std::vector<int> changed = changedAmongSent();
        for (const ProgramMismatch& m : restore.mismatches)
            if (std::find(changed.begin(), changed.end(), m.program) == changed.end())
                changed.push_back(m.program);
        std::sort(changed.begin(), changed.end(),
                  [](int a, int b) { return (a < 0 ? 999 : a) < (b < 0 ? 999 : b); });
        return failedAfterChange(
            std::to_string(restore.mismatches.size()) + " of the restored settings differ from the file",
            changed, kept);
    }
    // The programs changed through this program: a kept backup brings its names back; the names of
    // programs restored from a file stay, bound to what they hold now.
    std::string error;
    if (library != nullptr && !(source.kept ? library->restoreNames(*source.kept, error)
                                            : library->bindNames(recordsOfFile(source.file), false, error)))
        warn(error + "; the names were not updated");
    std::vector<int> changed;
    for (const ProgramChange& c : changes.programs) changed.push_back(c.program);
    return report(o,
                  {{"restored", restore.sent},
                   {"verified", restore.verified},
                   {"changed", changed},
                   {"globalsChanged", !changes.globals.empty()},
                   {"keptBackup", kept ? Json(*kept) : Json(nullptr)}},
                  std::to_string(restore.sent) + " programs restored" +
                      (restore.verified ? " and verified" : "") + "\n");
}

}  // namespace

int commandBackup(const CliOptions& o) {
    return onAmplifier(o, [&](Session& s) { return backUp(s, o); });
}

// As diff does: 0 when nothing differs, 1 when something does, 2 on any error.
int commandCompare(const CliOptions& o) {
    const RestoreSource source = restoreSource(o);
    if (!source.ready) return fail(source.error), kExitUsage;
    return onAmplifier(
        o,
        [&](Session& s) {
            const std::optional<ProgramFile> now = readAllPrograms(s, o, "read");
            if (!now) return kExitUsage;
            const Changes changes = changesOf(*now, source.file);
            const auto names = namesOf(source.library.get());
            report(o, changesJson(changes, names), changesText(changes, names));
            return changes.any() ? kExitFailed : kExitDone;
        },
        kExitUsage);
}

int commandRestore(const CliOptions& o) {
    const RestoreSource source = restoreSource(o);
    if (!source.ready) return fail(source.error);
    return onAmplifier(o, [&](Session& s) { return restore(s, o, source); });
}

// The kept backups; with the amplifier there, how many of its programs differ from each.
int commandBackups(const CliOptions& o) {
    std::string error;
    const std::unique_ptr<ProgramLibrary> library = openLibrary(o, error);
    if (!library) return fail(error);
    std::vector<KeptBackupSummary> list;
    if (!library->backups(list, error)) return fail(error);

    // Without the amplifier the list is printed all the same; a read of it that fails ends in 1.
    std::optional<ProgramRecords> now;
    bool readFailed = false;
    {
        Session session(o);
        if (session.open().empty()) {
            if (const std::optional<ProgramFile> file = readAllPrograms(session, o, "read"))
                now = recordsOfFile(*file);
            else
                readFailed = true;
        }
    }
    Json out = Json::array();
    std::string text;
    for (const KeptBackupSummary& b : list) {
        std::optional<std::vector<int>> differing;
        bool damaged = false;
        if (now) {
            // One damaged backup is reported as such; the others are still listed.
            if (const std::optional<KeptBackup> kept = library->backup(b.id, error)) {
                differing.emplace();
                for (const ProgramChange& c : compareWithFile(*now, programFileOf(*kept)))
                    differing->push_back(c.program);
            } else {
                warn(error);
                damaged = true;
            }
        }
        out.push_back({{"id", b.id},
                       {"time", b.takenAt},
                       {"reason", backupReasonText(b.reason)},
                       {"firmware", b.firmware},
                       {"file", b.fileName},
                       {"differing", differing ? Json(*differing) : Json(nullptr)}});
        if (damaged) out.back()["damaged"] = true;
        std::string differ = damaged ? "damaged" : "";
        if (differing) {
            differ = std::to_string(differing->size()) + " differ";
            for (size_t i = 0; i < differing->size() && i < 8; ++i)
                differ += (i ? "," : ": ") + std::to_string((*differing)[i]);
            if (differing->size() > 8) differ += ",...";
        }
        char line[160];
        std::snprintf(line, sizeof line, "%4lld  %s  %-22s  %-5s  ", static_cast<long long>(b.id),
                      b.takenAt.c_str(), std::string(backupReasonText(b.reason)).c_str(), b.firmware.c_str());
        text += line + differ + "\n";
    }
    if (list.empty()) text = "no backups kept in " + library->path().string() + "\n";
    if (readFailed) {
        report(o, {{"backups", out}}, text);
        return kExitFailed;
    }
    return report(o, {{"backups", out}}, text);
}

}  // namespace halvard::cli
