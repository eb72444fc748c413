#include "device/librarian_commands.hpp"

#include <algorithm>
#include <filesystem>

#include "device/file_dialogs.hpp"
#include "device/kept_backups.hpp"
#include "ir/utf8_path.hpp"

namespace halvard {
namespace {

// Upper case as the panel writes, but hex numbers keep their "0x".
std::string upper(std::string text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const bool hexPrefix = text[i] == 'x' && i > 0 && text[i - 1] == '0';
        if (text[i] >= 'a' && text[i] <= 'z' && !hexPrefix) text[i] = static_cast<char>(text[i] - 'a' + 'A');
    }
    return text;
}

// The panel's percentage climbs with the steps; a repaint only when it changes.
LibrarianProgress panelProgress(LinkContext& ctx) {
    return [&ctx](int done, int total) {
        const int32_t percent = static_cast<int32_t>(100LL * done / std::max(total, 1));
        if (ctx.ui->progress.exchange(percent) != percent) ctx.repaint();
    };
}

void begin(LinkContext& ctx) {
    ctx.ui->setStatusLine("");
    ctx.ui->linkState = LinkState::Busy;
    ctx.repaint();
}

// Back to Connected, unless a time-out has already reported Error.
void finish(LinkContext& ctx, const std::string& status) {
    DeviceMirror& ui = *ctx.ui;
    ui.progress = kProgressNone;
    ui.setStatusLine(status);
    if (ui.linkState != LinkState::Error) ui.linkState = LinkState::Connected;
    ctx.repaint();
}

std::string failureText(std::string_view what, ReplyResult result, int program) {
    if (result == ReplyResult::Timeout)
        return std::string(what) + " FAILED: PROGRAM " + std::to_string(program) + " DID NOT ANSWER";
    return std::string(what) + " FAILED: THE AMPLIFIER WENT AWAY";
}

}  // namespace

std::string backupStatusText(const BackupResult& backup, const std::string& fileName,
                             const std::string& writeError) {
    if (backup.result != ReplyResult::Ok) return failureText("BACKUP", backup.result, backup.failedProgram);
    if (!writeError.empty()) return "BACKUP FAILED: " + upper(writeError);
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

std::string refusedFileStatusText(const ProgramFileError& error) {
    return "FILE REFUSED AT BYTE " + std::to_string(error.offset) + ": " + upper(error.reason);
}

void runBackupCommand(LinkContext& ctx) {
    begin(ctx);
    const std::string path = showFileDialog(ctx, DialogMode::SaveProgramFile);
    if (path.empty()) {
        finish(ctx, "");
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
    std::string status = backupStatusText(backup, std::string(fileName.begin(), fileName.end()), writeError);
    if (!keepError.empty()) status += " (NOT KEPT IN THE LIBRARY)";
    finish(ctx, status);
}

void runRestoreCommand(LinkContext& ctx) {
    begin(ctx);
    const std::string path = showFileDialog(ctx, DialogMode::ProgramFile);
    if (path.empty()) {
        finish(ctx, "");
        return;
    }
    std::vector<uint8_t> bytes;
    std::string readError;
    if (!readWholeFile(pathFromUtf8(path), kProgramFileMaxBytes, bytes, readError)) {
        finish(ctx, "RESTORE FAILED: " + upper(readError));
        return;
    }
    const ParsedProgramFile parsed = parseProgramFile(bytes);
    if (parsed.error) {
        finish(ctx, refusedFileStatusText(*parsed.error));
        return;
    }
    ctx.ui->progress = 0;
    ctx.repaint();
    const RestoreResult restore = restorePrograms(ctx, parsed.file, true, panelProgress(ctx));
    if (restore.result == ReplyResult::Abandoned) return;
    // The amplifier now holds other programs than the mirror: read the one it is left on again.
    if (restore.endProgram >= 0) ctx.ui->program = restore.endProgram;
    ctx.resync = true;
    finish(ctx, restoreStatusText(restore));
}

}  // namespace halvard
