#pragma once
// The librarian: all 128 programs backed up to a file, and restored from one with a read-back check.
//
// The program file is plain SysEx, so that any SysEx tool (amidi -s, another librarian) can play it
// back: for each stored program a 17-byte settings write followed by the 4-byte preset store, then
// at most one settings write without a store, which leaves the amplifier on that program. Files
// this program writes store programs 0..127 in order and end with the program that was current
// when the backup began. Nothing else may be in the file.
//
// A settings read makes the amplifier switch to the program it names; a backup therefore steps
// through every program and ends with a read of the one it began on.
//
// Threads: the worker thread in the editor (the commands below), the only thread of halvard-cli.
// Nothing here touches the window.

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/link/link_context.hpp"
#include "device/protocol/exchanges.hpp"
#include "device/protocol/program_records.hpp"
#include "device/protocol/sysex.hpp"

namespace halvard {

// Larger files are refused unread; a complete file is 128 * 21 + 17 bytes.
inline constexpr size_t kProgramFileMaxBytes = 64 * 1024;

struct StoredProgram {
    uint8_t program = 0;
    SettingsWriteMessage write{};
};

struct ProgramFile {
    std::vector<StoredProgram> stored;              // settings write + preset store pairs, in file order
    std::optional<SettingsWriteMessage> selection;  // the closing settings write without a store
};

struct ProgramFileError {
    size_t offset = 0;   // the first bad byte; the file's size when it ends inside a message
    std::string reason;  // e.g. "byte 0x85 is not a 7-bit data byte"
};

// Checks the whole file before anything is sent: only settings writes and preset stores, every
// store right after a settings write, every settings write but the last one stored, each program
// stored at most once, every payload byte 7-bit, and at least one stored program.
struct ParsedProgramFile {
    ProgramFile file;
    std::optional<ProgramFileError> error;
};
ParsedProgramFile parseProgramFile(std::span<const uint8_t> bytes);

// The file's bytes, messages back to back.
std::vector<uint8_t> programFileBytes(const ProgramFile& file);

// Reports progress: done steps of total (each program read, or each program written and read back).
using LibrarianProgress = std::function<void(int done, int total)>;

// ReplyResult::Ok, or how it stopped: Timeout (a read was not answered: reported as every time-out
// is, linkState Error and one more failure), Abandoned (quit), NotSent (the output port closed).
struct BackupResult {
    ReplyResult result = ReplyResult::Ok;
    int failedProgram = -1;  // the program whose read failed
    ProgramFile file;        // complete only when result is Ok
};

// Reads programs 0..127 in order, then the program that was current (DeviceMirror::program), and
// builds the file from the decoded records and the globals of program 0's reply. Edits of the
// current program that the panel holds but the amplifier has not stored are lost in the amplifier
// by reading other programs; they are written back (a settings write, not stored) at the end.
BackupResult backupPrograms(LinkContext& ctx, const LibrarianProgress& progress = {});

// The amplifier is back on program after reads of other programs, which dropped its edits not yet
// stored; returnedTo is what the read that brought it back found. The panel's copy from before
// (edited) is written back (a settings write, not stored) when it was loaded and differs.
void writeBackEdits(LinkContext& ctx, int program, const ProgramSettings& edited,
                    const ProgramSettings& returnedTo, const SettingsGlobals& globals);

struct ProgramMismatch {
    int program = 0;                // -1: the global settings (bytes 4 and 15)
    std::vector<uint8_t> expected;  // the file's bytes
    std::vector<uint8_t> found;     // what the amplifier reported; missing bytes are absent
};

struct RestoreResult {
    ReplyResult result = ReplyResult::Ok;
    int failedProgram = -1;
    int sent = 0;           // stored programs sent
    bool verified = false;  // every stored program was read back and compared
    int endProgram = -1;    // the program the amplifier is left on
    std::vector<ProgramMismatch> mismatches;
};

// Sends each settings write and preset store of the file, then (verify) reads every stored program
// back and compares its bytes 5..14 with the file (and, when program 0 is in the file, the global
// settings with those of its last stored write), then sends the closing settings write.
RestoreResult restorePrograms(LinkContext& ctx, const ProgramFile& file, bool verify,
                              const LibrarianProgress& progress = {});

// "2026-12-07_115503_before-restore_firmware-1.7.syx": local date and time, why it was made (none:
// left out), and the amplifier's firmware version.
std::string automaticBackupName(const std::tm& localTime, uint16_t firmwareVersion,
                                std::string_view reason = {});

// The backup before a firmware update: every program read, then kept as a program file in
// ctx.backupFolder and in the library (keepAutomaticBackup). True when either kept it; false (the
// update must not start) when the programs could not be read or neither could keep them; reason
// says why.
bool backupBeforeFirmwareUpdate(LinkContext& ctx, std::string& reason);

}  // namespace halvard
