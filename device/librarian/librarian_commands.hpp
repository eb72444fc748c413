#pragma once
// The worker's librarian commands (backup, restore, copy and swap, compare) and the texts they
// leave in the status line. The worker has taken and cleared the command before it calls one of these; each
// owns every step from there: linkState Busy, the file dialog, the transfer with its percentage, the outcome
// in the status line, linkState Connected again (Error stays after a time-out). Worker thread only.

#include <cstdint>
#include <optional>
#include <string>

#include "device/librarian/kept_backups.hpp"
#include "device/librarian/program_backup.hpp"
#include "device/link/link_context.hpp"

namespace halvard {

// The steps every librarian command shares: linkState Busy and the status line cleared; then
// Connected again (unless a time-out reported Error), with the outcome in the status line.
void beginLibrarianCommand(LinkContext& ctx);
void finishLibrarianCommand(LinkContext& ctx, const std::string& status);
// The panel's percentage climbing with a transfer's steps; a repaint only when it changes.
LibrarianProgress panelProgress(LinkContext& ctx);
// Upper case as the panel writes, but hex numbers keep their "0x".
std::string panelUpper(std::string text);

// BackupPrograms: ask for a file name, read every program, write the file.
void runBackupCommand(LinkContext& ctx);
// RestorePrograms: ask for a file and check all of it; read the amplifier's programs and, when the
// file would change any, ask to confirm (nothing is sent otherwise); keep what was read as an
// automatic backup; send the file, read it back and compare.
void runRestoreCommand(LinkContext& ctx);
// RestoreKeptBackup: the same for a backup kept in the program library; its names come back.
void runRestoreKeptBackupCommand(LinkContext& ctx, int64_t id);
// CopyProgram and SwapPrograms: program a written over b (or the two exchanged), stored and read
// back, the names following; the outcome in the status line. Two equal programs do nothing.
void runMoveProgramsCommand(LinkContext& ctx, bool swap, int a, int b);
// CompareWithFile (keptId absent: the program file at path, or when it is empty one asked for) and
// CompareWithKeptBackup: reads every
// program from the amplifier, then marks on the overlay's rows those that differ from the file or
// backup, for as long as the comparison holds (the marks follow later reads and edits); the status
// line counts them. ClearComparison (clearComparison) ends it.
void runCompareCommand(LinkContext& ctx, std::optional<int64_t> keptId, const std::string& path = {});
void clearComparison(LinkContext& ctx);

// The question before a restore: the programs that would change, by number and name (the first
// dozen, then how many more), the global settings that would, and whether what the amplifier holds
// is kept first.
Confirmation restoreConfirmation(std::string heading, const std::vector<ProgramChange>& changes,
                                 const std::vector<GlobalChange>& globals,
                                 const std::array<ProgramName, kProgramCount>& names, bool keptFirst);

// The status line after each outcome (upper case, as the panel writes its states).
std::string backupStatusText(const BackupResult& backup, const std::string& fileName,
                             const std::string& writeError);
std::string restoreStatusText(const RestoreResult& restore);
std::string refusedFileStatusText(const ProgramFileError& error);
// What the status line says when the backup before a firmware update could not be made: this text,
// then why. The update waits for the next read of the amplifier.
inline constexpr std::string_view kUpdatePostponedText =
    "NO BACKUP OF THE PROGRAMS: FIRMWARE UPDATE POSTPONED";
std::string updatePostponedText(const std::string& reason);

}  // namespace halvard
