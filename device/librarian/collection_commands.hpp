#pragma once
// The worker's collection commands: the current program kept in the collection, an entry loaded into
// the current program as an edit or placed into a program, its name, tags and notes, its program
// file, and program files brought in (by the menu or dropped on the window). Each owns every step
// from the taken command to its outcome in the status line, as the librarian's commands do. Worker
// thread only.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "device/link/link_context.hpp"
#include "program_library/program_library.hpp"

namespace halvard {

// SaveToCollection: the current program as the panel holds it, unstored edits included, named with
// the mirror's collection text, with the names of the user IR slots its IR choices point at.
void runSaveToCollectionCommand(LinkContext& ctx);

// LoadEntry: the entry's record into the current program as an edit: written to the amplifier, not
// stored, kept in the mirror's loadedEdit for the panel's edit history. The status line says so,
// and which IR slot names differ from those the entry was kept with.
void runLoadEntryCommand(LinkContext& ctx, int64_t id);
// The same for an entry at hand; false when the current program could not be read first.
bool loadAsEdit(LinkContext& ctx, const CollectionEntry& entry);

// PlaceEntry: the entry written over program `to`, stored and read back as a copy is. When the
// program holds something else, asked first, and what the amplifier holds kept as an automatic
// backup before anything is sent; the program is then named as the entry.
void runPlaceEntryCommand(LinkContext& ctx, int64_t id, int to);

// RenameEntry, SetEntryTags (the text split at commas), SetEntryNotes: from the mirror's collection text.
void runEditEntryCommand(LinkContext& ctx, CommandKind kind, int64_t id);
// ExportEntry: ask for a file and write the entry as a program file.
void runExportEntryCommand(LinkContext& ctx, int64_t id);
// DeleteEntry: asked first.
void runDeleteEntryCommand(LinkContext& ctx, int64_t id);

// Program files brought in (no Wave files): a backup .syx of many programs is compared with the
// amplifier as Compare With File does; the others are added to the collection, and the last one
// added is loaded as an edit.
void importIntoCollection(LinkContext& ctx, const std::vector<std::filesystem::path>& files);

// The tags typed as one line: split at commas, blanks at either end dropped, empty ones left out.
std::vector<std::string> tagsOfText(std::string_view text);

}  // namespace halvard
