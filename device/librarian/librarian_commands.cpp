#include "device/librarian/librarian_commands.hpp"

#include <algorithm>
#include <filesystem>

#include "device/librarian/kept_backups.hpp"
#include "device/librarian/library_access.hpp"
#include "device/link/file_dialogs.hpp"
#include "util/files.hpp"
#include "util/paths.hpp"
#include "util/utf8.hpp"

namespace halvard {
namespace {

std::string failureText(std::string_view what, ReplyResult result, int program) {
    if (result == ReplyResult::Timeout)
        return std::string(what) + " FAILED: PROGRAM " + std::to_string(program) + " DID NOT ANSWER";
    return std::string(what) + " FAILED: THE AMPLIFIER WENT AWAY";
}

// The automatic backup of what the amplifier holds (now, just read) before what writes over its
// programs: true once the library or the backups folder keeps it; otherwise nothing is sent and the
// status line says why.
bool keptBeforeWriting(LinkContext& ctx, const ProgramFile& now, std::string_view what) {
    const AutomaticBackup kept = keepAutomaticBackup(ctx, now, BackupReason::BeforeRestore);
    if (kept.kept()) return true;
    finishLibrarianCommand(ctx, std::string(what) + " NOT STARTED: NO BACKUP OF THE PROGRAMS CAN BE KEPT: " +
                                    panelUpper(kept.error));
    return false;
}

}  // namespace

std::string panelUpper(std::string text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const bool hexPrefix = text[i] == 'x' && i > 0 && text[i - 1] == '0';
        if (text[i] >= 'a' && text[i] <= 'z' && !hexPrefix) text[i] = static_cast<char>(text[i] - 'a' + 'A');
    }
    return text;
}

LibrarianProgress panelProgress(LinkContext& ctx) {
    return [&ctx](int done, int total) {
        const int32_t percent = static_cast<int32_t>(100LL * done / std::max(total, 1));
        if (ctx.ui->progress.exchange(percent) != percent) ctx.repaint();
    };
}

void beginLibrarianCommand(LinkContext& ctx) {
    ctx.ui->setStatusLine("");
    ctx.ui->linkState = LinkState::Busy;
    ctx.repaint();
}

void finishLibrarianCommand(LinkContext& ctx, const std::string& status) {
    DeviceMirror& ui = *ctx.ui;
    ui.progress = kProgressNone;
    ui.setStatusLine(status);
    if (ui.linkState != LinkState::Error) ui.linkState = LinkState::Connected;
    ctx.repaint();
}

std::string backupStatusText(const BackupResult& backup, const std::string& fileName,
                             const std::string& writeError) {
    if (backup.result != ReplyResult::Ok) return failureText("BACKUP", backup.result, backup.failedProgram);
    if (!writeError.empty()) return "BACKUP FAILED: " + panelUpper(writeError);
    return "128 PROGRAMS BACKED UP TO " + fileName;
}

std::string restoreStatusText(const RestoreResult& restore) {
    if (restore.result != ReplyResult::Ok)
        return failureText("RESTORE", restore.result, restore.failedProgram);
    std::string text =
        std::to_string(restore.sent) + (restore.sent == 1 ? " PROGRAM" : " PROGRAMS") + " RESTORED";
    if (!restore.verified) return text;
    if (restore.mismatches.empty()) return text + " AND VERIFIED";
    text += ", " + std::to_string(restore.mismatches.size()) + " DIFFER:";
    for (const ProgramMismatch& m : restore.mismatches)
        text += m.program < 0 ? " GLOBALS" : " " + std::to_string(m.program);
    return text;
}

std::string updatePostponedText(const std::string& reason) {
    return std::string(kUpdatePostponedText) + (reason.empty() ? "" : ": " + panelUpper(reason));
}

std::string refusedFileStatusText(const ProgramFileError& error) {
    return "FILE REFUSED AT BYTE " + std::to_string(error.offset) + ": " + panelUpper(error.reason);
}

void runBackupCommand(LinkContext& ctx) {
    beginLibrarianCommand(ctx);
    const std::string path = showFileDialog(ctx, DialogMode::SaveProgramFile);
    if (path.empty()) {
        finishLibrarianCommand(ctx, "");
        return;
    }
    ctx.ui->progress = 0;
    ctx.repaint();
    const BackupResult backup = backupPrograms(ctx, panelProgress(ctx));
    if (backup.result == ReplyResult::Abandoned) return;
    const std::filesystem::path file = pathFromUtf8(path);
    const std::u8string fileName = file.filename().u8string();
    std::string writeError, keepError;
    if (backup.result == ReplyResult::Ok &&
        writeFileReplacing(file, programFileBytes(backup.file), writeError))
        keepBackup(ctx, backup.file, BackupReason::Menu, fileName, keepError);
    std::string status =
        backupStatusText(backup, validUtf8(std::string(fileName.begin(), fileName.end())), writeError);
    if (!keepError.empty()) status += " (NOT KEPT IN THE LIBRARY)";
    finishLibrarianCommand(ctx, status);
}

Confirmation restoreConfirmation(std::string heading, const std::vector<ProgramChange>& changes,
                                 const std::vector<GlobalChange>& globals,
                                 const std::array<ProgramName, kProgramCount>& names, bool keptFirst) {
    constexpr size_t kListed = 12;  // programs named one by one; the rest are counted
    Confirmation c{"Restore Programs", std::move(heading), {}, "Restore"};
    const size_t n = changes.size();
    if (n > 0)
        c.details =
            std::to_string(n) + (n == 1 ? " program" : " programs") + " on the amplifier would change:";
    for (size_t i = 0; i < n && i < kListed; ++i) {
        const int p = changes[i].program;
        const std::string& name = names[static_cast<size_t>(p)].name;
        c.details += "\nProgram " + std::to_string(p) + (name.empty() ? "" : ": " + name);
    }
    if (n > kListed) c.details += "\nand " + std::to_string(n - kListed) + " more";
    if (!globals.empty()) {
        c.details += std::string(n > 0 ? "\n\n" : "") + "The global settings would change:";
        for (size_t i = 0; i < globals.size(); ++i)
            c.details += (i ? ", " : " ") + std::string(globals[i].label);
        c.details += ".";
    }
    if (keptFirst) c.details += "\n\nThe programs now on the amplifier are kept as a backup first.";
    return c;
}

namespace {

// Reads what the amplifier holds, and when the file would change any of it asks first; then keeps
// what was read as an automatic backup, restores the file and reads it back. Once it is verified the
// names follow: a kept backup's names come back, those of programs restored from a file are bound
// to what they now hold.
void restoreAfterAsking(LinkContext& ctx, const ProgramFile& file, const std::optional<KeptBackup>& kept,
                        std::string question) {
    ctx.ui->progress = 0;
    ctx.repaint();
    const BackupResult now = backupPrograms(ctx, panelProgress(ctx));
    if (now.result == ReplyResult::Abandoned) return;
    if (now.result != ReplyResult::Ok) {
        finishLibrarianCommand(ctx, failureText("RESTORE", now.result, now.failedProgram) + ", NOTHING SENT");
        return;
    }
    const std::vector<ProgramChange> changes = compareWithFile(recordsOfFile(now.file), file);
    const std::vector<GlobalChange> globals = compareGlobals(now.file, file);
    if (changes.empty() && globals.empty()) {
        // A kept backup's names come back all the same: the amplifier holds its programs already.
        std::array<ProgramName, kProgramCount> current;
        std::string error;
        const bool renamed =
            kept && ctx.library != nullptr && ctx.library->names(current, error) &&
            !std::equal(current.begin(), current.end(), kept->names.begin(),
                        [](const ProgramName& n, const std::string& k) { return n.name == k; });
        if (renamed && ctx.library->restoreNames(*kept, error)) {
            ctx.shownName.program = -1;
            finishLibrarianCommand(ctx, "NO PROGRAM WOULD CHANGE: NAMES RESTORED");
        } else {
            finishLibrarianCommand(ctx, "NO PROGRAM WOULD CHANGE: NOTHING SENT");
        }
        return;
    }
    std::array<ProgramName, kProgramCount> names;
    std::string error;
    if (ctx.library != nullptr) ctx.library->names(names, error);
    ctx.ui->progress = kProgressNone;
    ctx.repaint();
    const bool yes =
        askToConfirm(ctx, restoreConfirmation(std::move(question), changes, globals, names, true));
    if (ctx.quit) return;
    if (!yes) {
        finishLibrarianCommand(ctx, "");
        return;
    }
    // The question promised a kept backup of the programs it overwrites.
    if (!keptBeforeWriting(ctx, now.file, "RESTORE")) return;

    ctx.ui->progress = 0;
    ctx.repaint();
    const RestoreResult restore = restorePrograms(ctx, file, true, panelProgress(ctx));
    if (restore.result == ReplyResult::Abandoned) return;
    // The amplifier now holds other programs than the mirror: read the one it is left on again.
    if (restore.endProgram >= 0) ctx.ui->program = restore.endProgram;
    ctx.resync = true;
    bool namesFollowed = true;
    if (ctx.library != nullptr && restore.result == ReplyResult::Ok && restore.mismatches.empty()) {
        namesFollowed = kept ? ctx.library->restoreNames(*kept, error)
                             : ctx.library->bindNames(recordsOfFile(file), false, error);
        ctx.shownName.program = -1;
    }
    finishLibrarianCommand(ctx, restoreStatusText(restore) + (namesFollowed ? "" : ", NAMES NOT UPDATED"));
}

// A program file the user picks, checked whole; none when the dialog is cancelled or the file cannot
// be used (the status line then says why, what naming the command).
struct ChosenFile {
    ProgramFile file;
    std::string name;  // the file's name, UTF-8
};
std::optional<ChosenFile> chooseProgramFile(LinkContext& ctx, std::string_view what, std::string path = {}) {
    if (path.empty()) path = showFileDialog(ctx, DialogMode::ProgramFile);
    if (path.empty()) {
        finishLibrarianCommand(ctx, "");
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    std::string readError;
    const std::filesystem::path file = pathFromUtf8(path);
    if (!readWholeFile(file, kProgramFileMaxBytes, bytes, readError)) {
        finishLibrarianCommand(ctx, std::string(what) + " FAILED: " + panelUpper(readError));
        return std::nullopt;
    }
    ParsedProgramFile parsed = parseProgramFile(bytes);
    if (parsed.error) {
        finishLibrarianCommand(ctx, refusedFileStatusText(*parsed.error));
        return std::nullopt;
    }
    // Shown in the question and the status line, and told to screen readers: a name in another
    // encoding than UTF-8 shows its other bytes as U+FFFD.
    const std::u8string name = file.filename().u8string();
    return ChosenFile{std::move(parsed.file), validUtf8(std::string(name.begin(), name.end()))};
}

// A kept backup by its id; none when there is no library or no such backup (the status line then
// says why).
std::optional<KeptBackup> keptBackupById(LinkContext& ctx, int64_t id, std::string_view what) {
    std::string error = "no program library";
    std::optional<KeptBackup> kept;
    if (ctx.library != nullptr) kept = ctx.library->backup(id, error);
    if (!kept) finishLibrarianCommand(ctx, std::string(what) + " FAILED: " + panelUpper(error));
    return kept;
}

}  // namespace

void runRestoreCommand(LinkContext& ctx) {
    beginLibrarianCommand(ctx);
    const std::optional<ChosenFile> chosen = chooseProgramFile(ctx, "RESTORE");
    if (!chosen) return;
    restoreAfterAsking(ctx, chosen->file, std::nullopt, "Restore the programs in " + chosen->name + "?");
}

void runRestoreKeptBackupCommand(LinkContext& ctx, int64_t id) {
    beginLibrarianCommand(ctx);
    const std::optional<KeptBackup> kept = keptBackupById(ctx, id, "RESTORE");
    if (!kept) return;
    restoreAfterAsking(ctx, programFileOf(*kept), kept,
                       "Restore the backup of " + keptBackupTime(kept->summary) + "?");
}

Confirmation copyConfirmation(int from, int to, const std::array<ProgramName, kProgramCount>& names) {
    const auto named = [&](int p) {
        const std::string& name = names[static_cast<size_t>(p)].name;
        return "program " + std::to_string(p) + (name.empty() ? "" : " (" + name + ")");
    };
    return {"Copy Program", "Replace " + named(to) + " with a copy of " + named(from) + "?",
            "What program " + std::to_string(to) +
                " holds on the amplifier now is overwritten. The programs now on the amplifier are kept as a "
                "backup first.",
            "Replace"};
}

void runMoveProgramsCommand(LinkContext& ctx, bool swap, int a, int b) {
    if (a < 0 || a >= kProgramCount || b < 0 || b >= kProgramCount || a == b) return;
    beginLibrarianCommand(ctx);
    // A copy overwrites a program; a swap keeps both.
    if (!swap) {
        std::array<ProgramName, kProgramCount> names;
        std::string error;
        if (ctx.library != nullptr) ctx.library->names(names, error);
        const bool yes = askToConfirm(ctx, copyConfirmation(a, b, names));
        if (ctx.quit) return;
        if (!yes) {
            finishLibrarianCommand(ctx, "");
            return;
        }
    }
    // A copy or a swap writes over stored programs: what they held is kept first.
    ctx.ui->progress = 0;
    ctx.repaint();
    const std::string what = swap ? "SWAP" : "COPY";
    const BackupResult now = backupPrograms(ctx, panelProgress(ctx));
    if (now.result == ReplyResult::Abandoned) return;
    if (now.result != ReplyResult::Ok) {
        finishLibrarianCommand(ctx, failureText(what, now.result, now.failedProgram) + ", NOTHING SENT");
        return;
    }
    if (!keptBeforeWriting(ctx, now.file, what)) return;
    ctx.ui->progress = kProgressNone;
    ctx.repaint();
    const ProgramMoveResult moved =
        swap ? swapPrograms(ctx, a, b, ctx.library) : copyProgram(ctx, a, b, ctx.library);
    const RestoreResult& restore = moved.restore;
    if (restore.result == ReplyResult::Abandoned) return;
    // The amplifier now holds other programs than the mirror: read the one it is left on again.
    if (restore.endProgram >= 0) ctx.ui->program = restore.endProgram;
    ctx.resync = true;
    ctx.shownName.program = -1;
    std::string status;
    if (restore.result != ReplyResult::Ok) {
        status = failureText(what, restore.result, restore.failedProgram);
    } else if (!restore.mismatches.empty()) {
        const int program = restore.mismatches.front().program;
        status = what + " FAILED: " + (program < 0 ? "GLOBALS" : "PROGRAM " + std::to_string(program)) +
                 " READ BACK DIFFER" + (program < 0 ? "" : "S");
    } else {
        status = swap
                     ? "PROGRAMS " + std::to_string(a) + " AND " + std::to_string(b) + " SWAPPED AND VERIFIED"
                     : "PROGRAM " + std::to_string(a) + " COPIED TO " + std::to_string(b) + " AND VERIFIED";
        if (!moved.libraryError.empty()) status += ", NAMES NOT MOVED";
    }
    finishLibrarianCommand(ctx, status);
}

// The comparison's marks are worked out again, from nothing compared or from the new records.
void clearComparison(LinkContext& ctx) {
    ctx.comparedWith.reset();
    ctx.ui->setComparedWith("");
    ctx.shownName.program = -1;
    ctx.repaint();
}

void runCompareCommand(LinkContext& ctx, std::optional<int64_t> keptId, const std::string& path) {
    beginLibrarianCommand(ctx);
    ProgramFile file;
    std::string label;
    if (keptId) {
        const std::optional<KeptBackup> kept = keptBackupById(ctx, *keptId, "COMPARE");
        if (!kept) return;
        file = programFileOf(*kept);
        label = "the backup of " + keptBackupTime(kept->summary);
    } else {
        std::optional<ChosenFile> chosen = chooseProgramFile(ctx, "COMPARE", path);
        if (!chosen) return;
        file = std::move(chosen->file);
        label = std::move(chosen->name);
    }
    ctx.ui->progress = 0;
    ctx.repaint();
    const BackupResult now = backupPrograms(ctx, panelProgress(ctx));
    if (now.result == ReplyResult::Abandoned) return;
    if (now.result != ReplyResult::Ok) {
        finishLibrarianCommand(ctx, failureText("COMPARE", now.result, now.failedProgram));
        return;
    }
    ctx.comparedWith = recordsOfFile(file);
    ctx.ui->setComparedWith(label);
    ctx.shownName.program = -1;
    const size_t n = compareWithFile(recordsOfFile(now.file), file).size();
    // Upper case as the panel writes, but a file keeps its own name.
    if (keptId) label = panelUpper(label);
    finishLibrarianCommand(ctx,
                           (n == 0 ? "NO PROGRAM DIFFERS"
                                   : std::to_string(n) + (n == 1 ? " PROGRAM DIFFERS" : " PROGRAMS DIFFER")) +
                               " FROM " + label);
}

}  // namespace halvard
