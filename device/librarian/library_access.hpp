#pragma once
// The device worker's side of the program library: opening it (the user-interface thread never
// touches it), the current program's name and stale mark for the panel, and the newest kept backups
// for the right-click menu. A library that cannot be opened leaves the editor working without
// names; the mirror's libraryState says why. Worker thread only.

#include <chrono>
#include <memory>
#include <string>

#include "device/link/link_context.hpp"
#include "program_library/program_library.hpp"

namespace halvard {

// Opens ctx.libraryPath when ctx.library is null (the library returned is then ctx.library, owned
// by the caller), waiting at most busyWait for another program's lock, and sets the mirror's
// libraryState and its kept backups. Null when ctx.library was given, no path is set, or the file
// cannot be used.
std::unique_ptr<ProgramLibrary> openWorkerLibrary(
    LinkContext& ctx, std::chrono::milliseconds busyWait = ProgramLibrary::kBusyWait);

LibraryState libraryStateOf(LibraryRefusal refusal);

// "2026-12-07 11:55 — Before a restore": a kept backup as the menu offers it, in local time; and
// its time alone.
std::string keptBackupLabel(const KeptBackupSummary& backup);
std::string keptBackupTime(const KeptBackupSummary& backup);

// The newest kept backups into the mirror for the menu; none without a library.
void publishKeptBackups(LinkContext& ctx);
// The collection's entries into the mirror for the COLLECTION view (by name); none without a
// library.
void publishCollection(LinkContext& ctx);

// The current program's name and stale mark into the mirror, with every program's name and marks
// for the PROGRAMS overlay (stale; differing from ctx.comparedWith), worked out again only when the
// program or any record last read has changed since the last time (or ctx.shownName was cleared).
// A name given while no record was known is bound to that record first.
void showProgramName(LinkContext& ctx);

// Names the program with the mirror's rename text (checked as when typed); the status line says
// why when the name is refused or cannot be written.
void renameProgram(LinkContext& ctx, int32_t program);

// The current program was stored through the editor: its record is what the panel holds, and its
// name (the change is the user's own) is bound to it.
void programStoredByEditor(LinkContext& ctx);

}  // namespace halvard
