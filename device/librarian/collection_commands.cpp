#include "device/librarian/collection_commands.hpp"

#include <algorithm>

#include "device/librarian/kept_backups.hpp"
#include "device/librarian/librarian_commands.hpp"
#include "device/librarian/library_access.hpp"
#include "device/librarian/program_file.hpp"
#include "device/protocol/exchanges.hpp"
#include "util/files.hpp"
#include "util/paths.hpp"
#include "util/utf8.hpp"

namespace halvard {
namespace {

std::array<SlotName, kUserIrSlotCount> slotNames(const DeviceMirror& ui) {
    std::array<SlotName, kUserIrSlotCount> slots;
    for (int i = 0; i < kUserIrSlotCount; ++i) slots[static_cast<size_t>(i)] = ui.slotName(i);
    return slots;
}

// The current program as the panel holds it, read first when it never was; none when it cannot be.
std::optional<ProgramSettings> currentProgram(LinkContext& ctx, int program) {
    if (ctx.ui->record(program).loaded == 0 && readProgramSettings(ctx, program) != ReplyResult::Ok)
        return std::nullopt;
    const ProgramSettings held = ctx.ui->record(program);
    return held.loaded != 0 ? std::optional<ProgramSettings>(held) : std::nullopt;
}

// An entry by its id; none when there is no library or no such entry (the status line then says why).
std::optional<CollectionEntry> entryById(LinkContext& ctx, int64_t id, std::string_view what) {
    std::string error = "no program library";
    std::optional<CollectionEntry> entry;
    if (ctx.library != nullptr) entry = ctx.library->entry(id, error);
    if (!entry) finishLibrarianCommand(ctx, std::string(what) + " FAILED: " + panelUpper(error));
    return entry;
}

// The entry's IR slot names that differ from what those slots hold now: "LEAD SLOT NOW X, KEPT WITH Y".
std::string slotDifferences(const CollectionEntry& entry,
                            const std::array<SlotName, kUserIrSlotCount>& slots) {
    const std::array<std::string, 2> now = irSlotNamesOf(entry.record, slots);
    std::string text;
    for (size_t ch = 0; ch < 2; ++ch) {
        if (entry.irSlotNames[ch].empty() || entry.irSlotNames[ch] == now[ch]) continue;
        text += std::string(text.empty() ? "; " : ", ") + (ch == 0 ? "RHYTHM" : "LEAD") + " IR NOW " +
                now[ch] + ", KEPT WITH " + entry.irSlotNames[ch];
    }
    return text;
}

std::string utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return validUtf8(std::string(text.begin(), text.end()));
}

// A .syx that stores more than one program: the librarian's backup, to compare rather than import.
bool isBackupOfMany(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!readWholeFile(path, kProgramFileMaxBytes, bytes, error) || bytes.empty() || bytes[0] != 0xF0)
        return false;
    const ParsedProgramFile parsed = parseProgramFile(bytes);
    return !parsed.error && parsed.file.stored.size() > 1;
}

}  // namespace

std::vector<std::string> tagsOfText(std::string_view text) {
    std::vector<std::string> tags;
    while (!text.empty()) {
        const size_t comma = std::min(text.find(','), text.size());
        std::string_view tag = text.substr(0, comma);
        while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t')) tag.remove_prefix(1);
        while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t')) tag.remove_suffix(1);
        if (!tag.empty() && std::find(tags.begin(), tags.end(), tag) == tags.end()) tags.emplace_back(tag);
        text.remove_prefix(std::min(comma + 1, text.size()));
    }
    return tags;
}

void runSaveToCollectionCommand(LinkContext& ctx) {
    beginLibrarianCommand(ctx);
    if (ctx.library == nullptr) {
        finishLibrarianCommand(ctx, "NOT SAVED: NO PROGRAM LIBRARY");
        return;
    }
    const int program = std::clamp(ctx.ui->program.load(), 0, kProgramCount - 1);
    const std::optional<ProgramSettings> held = currentProgram(ctx, program);
    if (!held) {
        finishLibrarianCommand(ctx, "NOT SAVED: PROGRAM " + std::to_string(program) + " DID NOT ANSWER");
        return;
    }
    CollectionEntry entry;
    entry.name = ctx.ui->collectionText();
    entry.record = recordOfSettings(*held);
    entry.irSlotNames = irSlotNamesOf(entry.record, slotNames(*ctx.ui));
    entry.source = EntrySource::Amplifier;
    entry.sourceProgram = program;
    std::string error;
    if (!ctx.library->addEntry(entry, error)) {
        finishLibrarianCommand(ctx, "NOT SAVED: " + panelUpper(error));
        return;
    }
    publishCollection(ctx);
    finishLibrarianCommand(
        ctx, "PROGRAM " + std::to_string(program) + " SAVED TO THE COLLECTION AS " + entry.name);
}

bool loadAsEdit(LinkContext& ctx, const CollectionEntry& entry) {
    DeviceMirror& ui = *ctx.ui;
    const int program = std::clamp(ui.program.load(), 0, kProgramCount - 1);
    const std::optional<ProgramSettings> before = currentProgram(ctx, program);
    if (!before) {
        finishLibrarianCommand(ctx, "NOT LOADED: PROGRAM " + std::to_string(program) + " DID NOT ANSWER");
        return false;
    }
    ProgramSettings after = settingsOfRecord(entry.record);
    after.loaded = before->loaded;
    ui.setRecord(program, after);
    writeProgramSettings(ctx, program);
    LoadedEdit edit = ui.loadedEdit();
    edit = {edit.serial + 1, program, *before, after};
    ui.setLoadedEdit(edit);
    finishLibrarianCommand(ctx,
                           "LOADED " + entry.name + " (NOT STORED)" + slotDifferences(entry, slotNames(ui)));
    return true;
}

void runLoadEntryCommand(LinkContext& ctx, int64_t id) {
    beginLibrarianCommand(ctx);
    if (const std::optional<CollectionEntry> entry = entryById(ctx, id, "LOAD")) loadAsEdit(ctx, *entry);
}

void runPlaceEntryCommand(LinkContext& ctx, int64_t id, int to) {
    if (to < 0 || to >= kProgramCount) return;
    beginLibrarianCommand(ctx);
    const std::optional<CollectionEntry> entry = entryById(ctx, id, "PLACE");
    if (!entry) return;
    // What the amplifier holds, read whole: to ask only when the program differs, and to keep.
    ctx.ui->progress = 0;
    ctx.repaint();
    const BackupResult now = backupPrograms(ctx, panelProgress(ctx));
    if (now.result == ReplyResult::Abandoned) return;
    if (now.result != ReplyResult::Ok) {
        finishLibrarianCommand(ctx, "PLACE FAILED: PROGRAM " + std::to_string(now.failedProgram) +
                                        " DID NOT ANSWER, NOTHING SENT");
        return;
    }
    std::string error;
    const std::string target = "PROGRAM " + std::to_string(to);
    if (recordsOfFile(now.file)[static_cast<size_t>(to)] == entry->record) {
        const bool named = ctx.library->setName(to, entry->name, entry->record, error);
        ctx.shownName.program = -1;
        finishLibrarianCommand(ctx,
                               target + " HOLDS " + entry->name + " ALREADY" + (named ? "" : ", NOT NAMED"));
        return;
    }
    std::array<ProgramName, kProgramCount> names;
    ctx.library->names(names, error);
    const std::string& was = names[static_cast<size_t>(to)].name;
    ctx.ui->progress = kProgressNone;
    ctx.repaint();
    const bool yes = askToConfirm(
        ctx, {"Place Into Program",
              "Replace program " + std::to_string(to) + (was.empty() ? "" : " (" + was + ")") + " with " +
                  entry->name + "?",
              "What program " + std::to_string(to) +
                  " holds on the amplifier now is overwritten. The programs now on the amplifier are kept as "
                  "a backup first.",
              "Replace"});
    if (ctx.quit) return;
    if (!yes) {
        finishLibrarianCommand(ctx, "");
        return;
    }
    if (const AutomaticBackup kept = keepAutomaticBackup(ctx, now.file, BackupReason::BeforeRestore);
        !kept.kept()) {
        finishLibrarianCommand(
            ctx, "PLACE NOT STARTED: NO BACKUP OF THE PROGRAMS CAN BE KEPT: " + panelUpper(kept.error));
        return;
    }
    const ProgramMoveResult placed = placeProgram(ctx, entry->record, to, entry->name, ctx.library);
    const RestoreResult& restore = placed.restore;
    if (restore.result == ReplyResult::Abandoned) return;
    if (restore.endProgram >= 0) ctx.ui->program = restore.endProgram;
    ctx.resync = true;
    ctx.shownName.program = -1;
    std::string status;
    if (restore.result != ReplyResult::Ok)
        status = "PLACE FAILED: PROGRAM " + std::to_string(restore.failedProgram) + " DID NOT ANSWER";
    else if (!restore.mismatches.empty())
        status = "PLACE FAILED: " + target + " READ BACK DIFFERS";
    else
        status = entry->name + " PLACED INTO " + target + " AND VERIFIED" +
                 (placed.libraryError.empty() ? "" : ", NOT NAMED");
    finishLibrarianCommand(ctx, status);
}

void runEditEntryCommand(LinkContext& ctx, CommandKind kind, int64_t id) {
    beginLibrarianCommand(ctx);
    std::string error = "no program library";
    const std::string text = ctx.ui->collectionText();
    bool done = false;
    if (ctx.library != nullptr) {
        if (kind == CommandKind::RenameEntry) done = ctx.library->renameEntry(id, text, error);
        if (kind == CommandKind::SetEntryTags) done = ctx.library->setEntryTags(id, tagsOfText(text), error);
        if (kind == CommandKind::SetEntryNotes) done = ctx.library->setEntryNotes(id, text, error);
    }
    if (done) publishCollection(ctx);
    finishLibrarianCommand(ctx, done ? "" : "NOT CHANGED: " + panelUpper(error));
}

void runExportEntryCommand(LinkContext& ctx, int64_t id) {
    beginLibrarianCommand(ctx);
    const std::optional<CollectionEntry> entry = entryById(ctx, id, "EXPORT");
    if (!entry) return;
    const std::string path = showFileDialog(ctx, DialogMode::SaveOneProgram);
    if (path.empty()) {
        finishLibrarianCommand(ctx, "");
        return;
    }
    const std::filesystem::path file = pathFromUtf8(path);
    std::string error;
    finishLibrarianCommand(ctx, writePortableProgram(file, portableProgramOf(*entry), error)
                                    ? entry->name + " EXPORTED TO " + utf8Of(file.filename())
                                    : "EXPORT FAILED: " + panelUpper(error));
}

void runDeleteEntryCommand(LinkContext& ctx, int64_t id) {
    beginLibrarianCommand(ctx);
    const std::optional<CollectionEntry> entry = entryById(ctx, id, "DELETE");
    if (!entry) return;
    const bool yes =
        askToConfirm(ctx, {"Delete From Collection", "Delete " + entry->name + " from the collection?",
                           "Its program file, if you exported one, is kept.", "Delete"});
    if (ctx.quit) return;
    std::string error;
    if (!yes) {
        finishLibrarianCommand(ctx, "");
    } else if (ctx.library->removeEntry(id, error)) {
        publishCollection(ctx);
        finishLibrarianCommand(ctx, entry->name + " DELETED FROM THE COLLECTION");
    } else {
        finishLibrarianCommand(ctx, "NOT DELETED: " + panelUpper(error));
    }
}

void importIntoCollection(LinkContext& ctx, const std::vector<std::filesystem::path>& files) {
    std::vector<std::filesystem::path> programs;
    for (const std::filesystem::path& f : files) {
        if (!isBackupOfMany(f)) {
            programs.push_back(f);
            continue;
        }
        // A backup of the amplifier's programs: what would a restore change?
        runCompareCommand(ctx, std::nullopt, utf8Of(f));
    }
    if (programs.empty()) return;
    beginLibrarianCommand(ctx);
    if (ctx.library == nullptr) {
        finishLibrarianCommand(ctx, "NOT IMPORTED: NO PROGRAM LIBRARY");
        return;
    }
    std::string error;
    const CollectionImport imported = importProgramFiles(*ctx.library, programs, std::nullopt, error);
    if (!error.empty()) {
        finishLibrarianCommand(ctx, "NOT IMPORTED: " + panelUpper(error));
        return;
    }
    publishCollection(ctx);
    if (imported.ids.empty()) {
        finishLibrarianCommand(
            ctx, "NOT IMPORTED: " +
                     (imported.refused.empty() ? std::string("NO FILE") : panelUpper(imported.refused[0])));
        return;
    }
    const std::optional<CollectionEntry> last = entryById(ctx, imported.ids.back(), "IMPORT");
    if (!last || !loadAsEdit(ctx, *last)) return;
    if (imported.ids.size() > 1 || !imported.refused.empty()) {
        const std::string loaded(ctx.ui->statusLine().view());
        finishLibrarianCommand(ctx, std::to_string(imported.ids.size()) + " ADDED" +
                                        (imported.refused.empty()
                                             ? ""
                                             : ", " + std::to_string(imported.refused.size()) + " REFUSED") +
                                        "; " + loaded);
    }
}

}  // namespace halvard
