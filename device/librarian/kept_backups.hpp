#pragma once
// Between the librarian's program files and the program library: a backup kept with its names, a
// kept backup turned back into a program file, what a restore would change, and copying, swapping
// or placing programs on the amplifier with their names following.
//
// Threads: the worker thread in the editor, the only thread of halvard-cli.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/librarian/program_backup.hpp"
#include "program_library/program_library.hpp"

namespace halvard {

// The stored programs' records; absent for a program the file does not store.
ProgramRecords recordsOfFile(const ProgramFile& file);

// A complete backup (every program stored, as backupPrograms makes it) as the library keeps it.
KeptBackup keptBackupOf(const ProgramFile& file, BackupReason reason, uint16_t firmwareVersion,
                        const std::array<ProgramName, kProgramCount>& names);
// Keeps a complete backup in ctx.library with the current names (binding those that wait for a
// record), and the mirror's list of kept backups up to date: its id, or none when there is no
// library (error empty) or it failed (error says why).
std::optional<int64_t> keepBackup(LinkContext& ctx, const ProgramFile& file, BackupReason reason,
                                  const std::u8string& fileName, std::string& error);
// The automatic backup before a write to the amplifier's stored programs (a restore, a copy or a
// swap, a firmware update): nothing may be written without one.
struct AutomaticBackup {
    std::optional<int64_t> id;   // kept in the library
    std::filesystem::path file;  // kept as a program file in the backups folder
    std::string error;           // why neither could keep it
    bool kept() const { return id.has_value() || !file.empty(); }
};
// Keeps file (every program, just read) in ctx.library; when there is none or it cannot keep it, or
// alsoAsFile, as a program file in ctx.backupFolder (created when missing), named by the time, the
// reason and the firmware version, beside and never over an earlier one.
AutomaticBackup keepAutomaticBackup(LinkContext& ctx, const ProgramFile& file, BackupReason reason,
                                    bool alsoAsFile = false);
// The program file that restores a kept backup.
ProgramFile programFileOf(const KeptBackup& backup);

// One setting that differs: its name as halvard-cli prints it, its value now and in the file.
struct SettingChange {
    const char* field;
    int from;
    int to;
};

// One program a restore would change: its record now and in the file, and the settings that differ.
struct ProgramChange {
    int program = 0;
    std::optional<ProgramRecord> now;  // absent: not known
    ProgramRecord wanted{};
    std::vector<SettingChange> differences;
};
std::vector<ProgramChange> compareWithFile(const ProgramRecords& now, const ProgramFile& file);

// A global setting a restore would change: its name as halvard-cli prints it, its label as the
// editor's questions write it, and its value now and in the file.
struct GlobalChange {
    const char* name;
    const char* label;
    int now;
    int wanted;
};
// The global settings a restore of file would change on an amplifier whose programs were read into
// now. Every settings write carries them, and a restore leaves those of the last write it sends.
std::vector<GlobalChange> compareGlobals(const ProgramFile& now, const ProgramFile& file);

// The settings of a record by name, in the order halvard-cli prints them.
struct NamedSetting {
    const char* name;
    int value;
};
std::array<NamedSetting, 16> namedSettings(const ProgramSettings& settings);

// Copies program from to program to (copy) or exchanges a and b (swap) on the amplifier: each
// written, stored and read back like a restore. The globals ride on program 0's settings, so they
// are read first. When it is verified and a library is given, the names follow and are bound to the
// programs' new records.
struct ProgramMoveResult {
    RestoreResult restore;
    std::string libraryError;  // the names could not follow
};
ProgramMoveResult copyProgram(LinkContext& ctx, int from, int to, ProgramLibrary* library);
ProgramMoveResult swapPrograms(LinkContext& ctx, int a, int b, ProgramLibrary* library);
// Writes record to program to (a collection entry or a program file placed there), stored and read
// back the same way. When it is verified and a library is given, the program is named name (empty:
// its name is cleared), bound to record. The question before it and the automatic backup are the
// caller's, as for a restore.
ProgramMoveResult placeProgram(LinkContext& ctx, const ProgramRecord& record, int to, std::string_view name,
                               ProgramLibrary* library);

}  // namespace halvard
