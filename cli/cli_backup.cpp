// halvard-cli backup, compare, restore and backups: all 128 programs into a file and back, and the
// backups kept in the program library.

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
    std::printf("128 programs backed up to %s\n", o.operands[0].c_str());
    const std::u8string fileName = file.filename().u8string();
    if (const std::string error =
            keep(s, backup.file, BackupReason::Cli, std::string(fileName.begin(), fileName.end()));
        !error.empty())
        warn(error + "; the backup is not kept in the library");
    return kExitDone;
}

// "3 \"Clean Crunch\"", or "3" for a program without a name.
std::string programLabel(int program, const ProgramName& name) {
    return std::to_string(program) + (name.name.empty() ? "" : " \"" + name.name + "\"");
}

// What a restore of file would change, printed (or as JSON).
struct Changes {
    size_t programs = 0;
    bool globals = false;
};
Changes showChanges(const ProgramFile& now, const ProgramFile& file,
                    const std::array<ProgramName, kProgramCount>& names, bool json) {
    const std::vector<ProgramChange> changes = compareWithFile(recordsOfFile(now), file);
    const std::vector<GlobalChange> globals = compareGlobals(now, file);
    std::vector<std::string> globalsText;
    for (const GlobalChange& g : globals)
        globalsText.push_back(std::string(g.name) + " " + std::to_string(g.now) + " -> " +
                              std::to_string(g.wanted));
    const auto joined = [](const std::vector<std::string>& parts) {
        std::string text;
        for (const std::string& p : parts) text += (text.empty() ? "" : ", ") + p;
        return text;
    };
    const Changes counted{changes.size(), !globals.empty()};
    if (json) {
        Json list = Json::array();
        for (const ProgramChange& c : changes) {
            const std::string& name = names[static_cast<size_t>(c.program)].name;
            list.push_back({{"program", c.program},
                            {"name", name.empty() ? Json(nullptr) : Json(name)},
                            {"now", c.now ? Json(toHex(*c.now)) : Json(nullptr)},
                            {"restored", toHex(c.wanted)},
                            {"differences", c.differences}});
        }
        printJson({{"differing", list}, {"globals", globalsText}});
        return counted;
    }
    for (const ProgramChange& c : changes)
        std::printf("program %s would change: %s\n",
                    programLabel(c.program, names[static_cast<size_t>(c.program)]).c_str(),
                    joined(c.differences).c_str());
    if (!globals.empty()) std::printf("the global settings would change: %s\n", joined(globalsText).c_str());
    if (changes.empty() && globals.empty()) std::printf("no program would change\n");
    return counted;
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
    const Changes changes = showChanges(*now, source.file, namesOf(library), false);
    if ((changes.programs > 0 || changes.globals) && !o.yes) {
        const size_t n = changes.programs;
        const std::string programs = std::to_string(n) + (n == 1 ? " program" : " programs");
        const std::string what = n == 0            ? "the global settings"
                                 : changes.globals ? programs + " and the global settings"
                                                   : programs;
        return fail(what + " would change; nothing sent (--yes restores)");
    }
    // The automatic backup is what makes a restore undoable: without it nothing is sent.
    if (!keptBeforeWriting(s, *now, o, BackupReason::BeforeRestore)) return kExitFailed;

    ProgressDisplay progress(o.noVerify ? "restore" : "restore and verify");
    const RestoreResult restore = restorePrograms(s.link, source.file, !o.noVerify, progress.steps());
    if (restore.result != ReplyResult::Ok)
        return fail(stopReason(restore.result, restore.failedProgram) + " after " +
                    std::to_string(restore.sent) + " programs were sent");
    for (const ProgramMismatch& m : restore.mismatches) {
        std::printf("%s differs: file %s, amplifier %s\n",
                    m.program < 0 ? "globals" : ("program " + std::to_string(m.program)).c_str(),
                    toHex(m.expected, true).c_str(), toHex(m.found, true).c_str());
    }
    if (!restore.mismatches.empty())
        return fail(std::to_string(restore.mismatches.size()) +
                    " of the restored settings differ from the file");
    // The programs changed through this program: a kept backup brings its names back; the names of
    // programs restored from a file stay, bound to what they hold now.
    std::string error;
    if (library != nullptr && !(source.kept ? library->restoreNames(*source.kept, error)
                                            : library->bindNames(recordsOfFile(source.file), false, error)))
        warn(error + "; the names were not updated");
    std::printf("%d programs restored%s\n", restore.sent, restore.verified ? " and verified" : "");
    return kExitDone;
}

}  // namespace

int commandBackup(const CliOptions& o) {
    return onAmplifier(o, [&](Session& s) { return backUp(s, o); });
}

int commandCompare(const CliOptions& o) {
    const RestoreSource source = restoreSource(o);
    if (!source.ready) return fail(source.error);
    return onAmplifier(o, [&](Session& s) {
        const std::optional<ProgramFile> now = readAllPrograms(s, o, "read");
        if (!now) return kExitFailed;
        showChanges(*now, source.file, namesOf(source.library.get()), o.json);
        return kExitDone;
    });
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
        if (o.json) {
            out.push_back({{"id", b.id},
                           {"time", b.takenAt},
                           {"reason", backupReasonText(b.reason)},
                           {"firmware", b.firmware},
                           {"file", b.fileName},
                           {"differing", differing ? Json(*differing) : Json(nullptr)}});
            if (damaged) out.back()["damaged"] = true;
            continue;
        }
        std::string differ = damaged ? "damaged" : "";
        if (differing) {
            differ = std::to_string(differing->size()) + " differ";
            for (size_t i = 0; i < differing->size() && i < 8; ++i)
                differ += (i ? "," : ": ") + std::to_string((*differing)[i]);
            if (differing->size() > 8) differ += ",...";
        }
        std::printf("%4lld  %s  %-22s  %-5s  %s\n", static_cast<long long>(b.id), b.takenAt.c_str(),
                    std::string(backupReasonText(b.reason)).c_str(), b.firmware.c_str(), differ.c_str());
    }
    if (o.json)
        printJson({{"backups", out}});
    else if (list.empty())
        std::printf("no backups kept in %s\n", library->path().string().c_str());
    return readFailed ? kExitFailed : kExitDone;
}

}  // namespace halvard::cli
