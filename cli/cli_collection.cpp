// halvard-cli collection, programs export and programs import: programs as files, and the
// collection of them in the program library.

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/cli_commands.hpp"
#include "cli/cli_output.hpp"
#include "cli/cli_session.hpp"
#include "device/librarian/program_file.hpp"
#include "util/hex.hpp"
#include "util/paths.hpp"

namespace halvard::cli {
namespace {

// Runs command on the program library, which these commands cannot do without.
int withLibrary(const CliOptions& o, const std::function<int(ProgramLibrary&)>& command) {
    std::string error;
    const std::unique_ptr<ProgramLibrary> library = openLibrary(o, error);
    return library ? command(*library) : fail(error);
}

// Runs command on the collection entry the first operand names.
int withEntry(const CliOptions& o,
              const std::function<int(ProgramLibrary&, const CollectionEntry&)>& command) {
    return withLibrary(o, [&](ProgramLibrary& library) {
        std::string error;
        const std::optional<CollectionEntry> entry = library.entry(std::stoll(o.operands[0]), error);
        return entry ? command(library, *entry) : fail(error);
    });
}

// "file \"a.halvard-program\"", "program 5 of the amplifier", "program 5 of kept backup 3"
std::string sourceText(const CollectionEntry& e) {
    const std::string program = "program " + std::to_string(e.sourceProgram);
    switch (e.source) {
        case EntrySource::Amplifier:
            return program + " of the amplifier";
        case EntrySource::KeptBackup:
            return program + " of kept backup " + std::to_string(e.sourceBackup);
        case EntrySource::File:
            break;
    }
    return "file \"" + e.sourceFile + "\"" + (e.sourceProgram >= 0 ? " (" + program + ")" : "");
}

std::string joined(const std::vector<std::string>& tags) {
    std::string out;
    for (const std::string& t : tags) out += (out.empty() ? "" : ", ") + t;
    return out;
}

Json entryJson(const CollectionEntry& e) {
    Json settings = Json::object();
    for (const SettingField& f : kSettingFields) settings[f.name] = f.get(settingsAsRecorded(e.record));
    const auto orNull = [](auto v, bool present) { return present ? Json(v) : Json(nullptr); };
    return {{"id", e.id},
            {"name", e.name},
            {"tags", e.tags},
            {"notes", e.notes},
            {"record", toHex(e.record)},
            {"settings", settings},
            {"irSlotNames", {{"rhythm", e.irSlotNames[0]}, {"lead", e.irSlotNames[1]}}},
            {"source",
             {{"kind", entrySourceText(e.source)},
              {"file", orNull(e.sourceFile, e.source == EntrySource::File)},
              {"program", orNull(e.sourceProgram, e.sourceProgram >= 0)},
              {"backup", orNull(e.sourceBackup, e.source == EntrySource::KeptBackup)}}},
            {"added", e.addedAt}};
}

// The amplifier's six slot names, read; none when a read is not answered (the reason printed).
std::optional<std::array<SlotName, kUserIrSlotCount>> readSlotNames(Session& s) {
    std::array<SlotName, kUserIrSlotCount> names;
    for (int slot = 0; slot < kUserIrSlotCount; ++slot) {
        if (const ReplyResult r = readSlotName(s.link, slot); r != ReplyResult::Ok) {
            fail(stopReason(r));
            return std::nullopt;
        }
        names[static_cast<size_t>(slot)] = s.mirror.slotName(slot);
    }
    return names;
}

// Program n as the amplifier stores it, with the slot names its IR choices point at.
std::optional<PortableProgram> readAmplifierProgram(Session& s, int n) {
    if (const ReplyResult r = readProgramSettings(s.link, n); r != ReplyResult::Ok) {
        fail(stopReason(r, n));
        return std::nullopt;
    }
    const std::optional<ProgramRecord> record = s.link.amplifierRecords[static_cast<size_t>(n)];
    const auto slots = readSlotNames(s);
    if (!record || !slots) return std::nullopt;
    PortableProgram p;
    p.record = *record;
    p.irSlotNames = irSlotNamesOf(*record, *slots);
    return p;
}

// Writes record to program n as programs copy does, after every program was read and kept as an
// automatic backup; with --yes only when program n differs. Program n is then named name.
int place(Session& s, const CliOptions& o, ProgramLibrary& library, const ProgramRecord& record, int n,
          const std::string& name, const std::string& what) {
    CliOptions reading = o;  // (its --program picks out of a file; the reads end on program 0)
    reading.program.reset();
    const std::optional<ProgramFile> now = readAllPrograms(s, reading, "read");
    if (!now) return kExitFailed;
    std::string error;
    const Json json = {{"program", n}, {"name", name}, {"changed", false}, {"verified", true}};
    if (recordsOfFile(*now)[static_cast<size_t>(n)] == record) {
        if (!library.setName(n, name, record, error)) return fail(error);
        return report(
            o, json,
            "program " + std::to_string(n) + " already holds " + what + "; named \"" + name + "\"\n");
    }
    if (!o.yes) return refuse("program " + std::to_string(n) + " holds another program", "replaces it");
    // The automatic backup is what makes the change undoable: without it nothing is sent (unless
    // --no-backup).
    s.link.library = &library;
    const std::optional<AutomaticBackup> kept = keptBeforeWriting(s, *now, o, BackupReason::BeforeRestore);
    if (!kept) return kExitFailed;
    const ProgramMoveResult placed = placeProgram(s.link, record, n, name, &library);
    if (placed.restore.result != ReplyResult::Ok) {
        const std::string why = stopReason(placed.restore.result, placed.restore.failedProgram);
        return placed.restore.sent == 0 ? fail(why) : failedAfterChange(why, {n}, kept->id);
    }
    if (!placed.restore.mismatches.empty())
        return failedAfterChange("program " + std::to_string(n) + " read back differs from what was written",
                                 {n}, kept->id);
    if (!placed.libraryError.empty()) warn(placed.libraryError + "; the name did not follow");
    Json changed = json;
    changed["changed"] = true;
    return report(o, changed, what + " placed into program " + std::to_string(n) + " and verified\n");
}

// Writes entry e to program n as an edit (not stored) and reads it back; names a user IR slot whose
// name is no longer the one the entry's IR choice pointed at.
int load(Session& s, const CliOptions& o, const CollectionEntry& e, int n) {
    // The globals ride on every settings write: they come with program 0's settings.
    if (const ReplyResult r = readProgramSettings(s.link, 0); r != ReplyResult::Ok)
        return fail(stopReason(r, 0));
    const DeviceMirror& m = s.mirror;
    SettingsWriteMessage write{};
    buildSettingsWrite(write, n, {m.midiChannel, m.bypassLock, m.reverbTails, m.mono, m.irSlot},
                       ProgramSettings{});
    std::copy(e.record.begin(), e.record.end(), write.begin() + kRecordFirstByte);
    sendRequest(s.link, write);
    pauseFor(s.link, 5);
    // Read back: the amplifier reports the current program as edited.
    if (const ReplyResult r = readProgramSettings(s.link, n); r != ReplyResult::Ok)
        return fail(stopReason(r, n));
    if (s.link.amplifierRecords[static_cast<size_t>(n)] != e.record)
        return failedAfterChange(
            "program " + std::to_string(n) + " read back differs from what was written (an edit, not stored)",
            {n}, std::nullopt);
    const auto slots = readSlotNames(s);
    if (!slots) return kExitFailed;
    const std::array<std::string, 2> now = irSlotNamesOf(e.record, *slots);
    const char* channels[] = {"rhythm", "lead"};
    for (size_t c = 0; c < 2; ++c)
        if (!e.irSlotNames[c].empty() && e.irSlotNames[c] != now[c])
            warn(std::string("the ") + channels[c] + " channel's IR was \"" + e.irSlotNames[c] +
                 "\"; its slot now holds \"" + now[c] + "\"");
    return report(o, {{"id", e.id}, {"name", e.name}, {"program", n}, {"stored", false}},
                  "entry " + std::to_string(e.id) + " \"" + e.name + "\" loaded into program " +
                      std::to_string(n) + " (not stored)\n");
}

int addFromAmplifier(Session& s, const CliOptions& o, ProgramLibrary& library) {
    const int n = *o.program;
    const std::optional<PortableProgram> program = readAmplifierProgram(s, n);
    if (!program) return kExitFailed;
    CollectionEntry e;
    e.name = o.name.value_or(namesOf(&library)[static_cast<size_t>(n)].name);
    if (e.name.empty()) e.name = "Program " + std::to_string(n);
    e.record = program->record;
    e.irSlotNames = program->irSlotNames;
    e.source = EntrySource::Amplifier;
    e.sourceProgram = n;
    std::string error;
    const std::optional<int64_t> id = library.addEntry(e, error);
    if (!id) return fail(error);
    return report(
        o, {{"added", Json::array({{{"id", *id}, {"name", e.name}}})}},
        "added " + std::to_string(*id) + " \"" + e.name + "\" from program " + std::to_string(n) + "\n");
}

}  // namespace

int commandCollectionList(const CliOptions& o) {
    return withLibrary(o, [&](ProgramLibrary& library) {
        std::vector<CollectionEntry> entries;
        std::string error;
        if (!library.entries(entries, error, o.search.value_or(""))) return fail(error);
        Json list = Json::array();
        std::string text;
        for (const CollectionEntry& e : entries) {
            list.push_back(entryJson(e));
            char id[16];
            std::snprintf(id, sizeof id, "%5lld  ", static_cast<long long>(e.id));
            text += id + paddedName(e.name) + "  " + programSummary(settingsAsRecorded(e.record)) + "  " +
                    joined(e.tags) + "\n";
        }
        if (entries.empty()) text = o.search ? "no entry matches\n" : "the collection is empty\n";
        return report(o, {{"entries", list}}, text);
    });
}

int commandCollectionAdd(const CliOptions& o) {
    return withLibrary(o, [&](ProgramLibrary& library) {
        if (o.operands.empty())
            return onAmplifier(o, [&](Session& s) { return addFromAmplifier(s, o, library); });
        std::vector<std::filesystem::path> files;
        for (const std::string& f : o.operands) files.push_back(pathFromUtf8(f));
        std::string error;
        const CollectionImport imported = importProgramFiles(library, files, o.program, error);
        Json added = Json::array();
        std::string text;
        for (const int64_t id : imported.ids) {
            if (const std::optional<CollectionEntry> e = library.entry(id, error)) {
                added.push_back({{"id", id}, {"name", e->name}, {"file", e->sourceFile}});
                text += "added " + std::to_string(id) + " \"" + e->name + "\" from " + e->sourceFile + "\n";
            }
        }
        for (const std::string& refused : imported.refused) warn(refused);
        if (!error.empty()) return fail(error);
        // What was added is the result even when some files were not: the exit code tells.
        const int done = report(o, {{"added", added}}, text);
        return imported.refused.empty() ? done
                                        : fail(std::to_string(imported.refused.size()) + " of " +
                                               std::to_string(files.size()) + " files not added");
    });
}

int commandCollectionShow(const CliOptions& o) {
    return withEntry(o, [&](ProgramLibrary&, const CollectionEntry& e) {
        std::string text = "id        " + std::to_string(e.id) + "\nname      " + e.name + "\ntags      " +
                           joined(e.tags) + "\nsource    " + sourceText(e) + "\nadded     " + e.addedAt +
                           "\n";
        text += "IR slots  rhythm \"" + e.irSlotNames[0] + "\", lead \"" + e.irSlotNames[1] + "\"\n";
        const ProgramSettings settings = settingsAsRecorded(e.record);
        for (const SettingField& f : kSettingFields) {
            char line[48];
            std::snprintf(line, sizeof line, "  %-15s %d\n", f.name, f.get(settings));
            text += line;
        }
        if (!e.notes.empty()) text += "notes\n" + e.notes + "\n";
        return report(o, entryJson(e), text);
    });
}

int commandCollectionExport(const CliOptions& o) {
    return withEntry(o, [&](ProgramLibrary&, const CollectionEntry& e) {
        std::string error;
        if (!writePortableProgram(pathFromUtf8(o.operands[1]), portableProgramOf(e), error))
            return fail(error);
        return report(
            o, {{"id", e.id}, {"name", e.name}, {"file", o.operands[1]}},
            "entry " + std::to_string(e.id) + " \"" + e.name + "\" written to " + o.operands[1] + "\n");
    });
}

int commandCollectionLoad(const CliOptions& o) {
    return withEntry(o, [&](ProgramLibrary&, const CollectionEntry& e) {
        return onAmplifier(o, [&](Session& s) { return load(s, o, e, o.program.value_or(0)); });
    });
}

int commandCollectionPlace(const CliOptions& o) {
    return withEntry(o, [&](ProgramLibrary& library, const CollectionEntry& e) {
        return onAmplifier(o, [&](Session& s) {
            return place(s, o, library, e.record, std::stoi(o.operands[1]), e.name,
                         "entry " + std::to_string(e.id) + " \"" + e.name + "\"");
        });
    });
}

int commandCollectionRemove(const CliOptions& o) {
    return withLibrary(o, [&](ProgramLibrary& library) {
        std::string error;
        if (!library.removeEntry(std::stoll(o.operands[0]), error)) return fail(error);
        return report(o, {{"id", std::stoll(o.operands[0])}, {"removed", true}},
                      "entry " + o.operands[0] + " removed\n");
    });
}

int commandCollectionTag(const CliOptions& o) {
    return withLibrary(o, [&](ProgramLibrary& library) {
        std::string error;
        const std::vector<std::string> tags(o.operands.begin() + 1, o.operands.end());
        if (!library.setEntryTags(std::stoll(o.operands[0]), tags, error)) return fail(error);
        return report(o, {{"id", std::stoll(o.operands[0])}, {"tags", tags}},
                      tags.empty() ? "entry " + o.operands[0] + " has no tags\n"
                                   : "entry " + o.operands[0] + " tagged " + joined(tags) + "\n");
    });
}

int commandProgramsExport(const CliOptions& o) {
    const int n = std::stoi(o.operands[0]);
    return onAmplifier(o, [&](Session& s) {
        const std::unique_ptr<ProgramLibrary> library = libraryOrWarn(o, "no name");
        std::optional<PortableProgram> program = readAmplifierProgram(s, n);
        if (!program) return kExitFailed;
        program->name = namesOf(library.get())[static_cast<size_t>(n)].name;
        std::string error;
        if (!writePortableProgram(pathFromUtf8(o.operands[1]), *program, error)) return fail(error);
        return report(o, {{"program", n}, {"name", program->name}, {"file", o.operands[1]}},
                      "program " + std::to_string(n) + " written to " + o.operands[1] + "\n");
    });
}

int commandProgramsImport(const CliOptions& o) {
    // The file is checked before the amplifier is looked for.
    const PortableProgramRead read = readPortableProgram(pathFromUtf8(o.operands[0]), o.program);
    if (!read.program) return fail(o.operands[0] + ": " + read.error);
    return withLibrary(o, [&](ProgramLibrary& library) {
        return onAmplifier(o, [&](Session& s) {
            return place(s, o, library, read.program->record, std::stoi(o.operands[1]), read.program->name,
                         o.operands[0]);
        });
    });
}

}  // namespace halvard::cli
