#pragma once
// halvard-cli's commands on the device library: one thread, the same port seam and exchanges as
// the editor's worker, no window. Each returns the exit code (cli_output.hpp: kExitDone, ...).

#include "cli/cli_options.hpp"
#include "cli/cli_output.hpp"

namespace halvard::cli {

// Runs a parsed command line.
int runCommand(const CliOptions& options);

// Ctrl-C: a transfer stops at its next step (exit code 1, or 4 once something was changed), monitor ends
// (exit code 0). Safe in a signal handler.
void interrupt();

// The commands runCommand picks from, one file per group. A command that needs a file checks it
// before the amplifier is looked for: a bad file never opens a port.

// cli_info.cpp: the ports, and what the amplifier reports of itself.
int commandPorts(const CliOptions& options);
int commandInfo(const CliOptions& options);
// cli_programs.cpp: the 128 programs with their names; naming, copying and swapping them.
int commandPrograms(const CliOptions& options);
int commandProgramsName(const CliOptions& options);
int commandProgramsMove(const CliOptions& options);  // programs copy, programs swap
// cli_backup.cpp: backup, compare and restore, and the backups kept in the library.
int commandBackup(const CliOptions& options);
int commandCompare(const CliOptions& options);
int commandRestore(const CliOptions& options);
int commandBackups(const CliOptions& options);
// cli_ir.cpp: the user IR slots and the factory IRs.
int commandIrImport(const CliOptions& options);
int commandIrFactory(const CliOptions& options);
int commandIrExtract(const CliOptions& options);
// cli_firmware.cpp
int commandFirmwareFlash(const CliOptions& options);
// cli_monitor.cpp
int commandMonitor(const CliOptions& options);
// cli_collection.cpp: programs as files, and the collection of them in the program library.
int commandProgramsExport(const CliOptions& options);
int commandProgramsImport(const CliOptions& options);
int commandCollectionList(const CliOptions& options);
int commandCollectionAdd(const CliOptions& options);
int commandCollectionShow(const CliOptions& options);
int commandCollectionExport(const CliOptions& options);
int commandCollectionLoad(const CliOptions& options);
int commandCollectionPlace(const CliOptions& options);
int commandCollectionRemove(const CliOptions& options);
int commandCollectionTag(const CliOptions& options);

}  // namespace halvard::cli
