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
    if (recordsOfFile(*now)[static_cast<size_t>(n)] == record) {
        if (!library.setName(n, name, record, error)) return fail(error);
        std::printf("program %d already holds %s; named \"%s\"\n", n, what.c_str(), name.c_str());
        return kExitDone;
    }
    if (!o.yes)
        return fail("program " + std::to_string(n) +
                    " holds another program; nothing sent (--yes replaces it)");
    // The automatic backup is what makes the change undoable: without it nothing is sent.
    s.link.library = &library;
    if (const std::string why = keep(s, *now, BackupReason::BeforeRestore, ""); !why.empty())
        return fail(why + "; the programs read are not kept as a backup, nothing sent");
    const ProgramMoveResult placed = placeProgram(s.link, record, n, name, &library);
    if (placed.restore.result != ReplyResult::Ok)
        return fail(stopReason(placed.restore.result, placed.restore.failedProgram));
    if (!placed.restore.mismatches.empty())
        return fail("program " + std::to_string(n) + " read back differs from what was written");
    if (!placed.libraryError.empty()) warn(placed.libraryError + "; the name did not follow");
    std::printf("%s placed into program %d and verified\n", what.c_str(), n);
    return kExitDone;
}

// Writes entry e to program n as an edit (not stored) and reads it back; names a user IR slot whose
// name is no longer the one the entry's IR choice pointed at.
int load(Session& s, const CollectionEntry& e, int n) {
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
        return fail("program " + std::to_string(n) + " read back differs from what was written");
    const auto slots = readSlotNames(s);
    if (!slots) return kExitFailed;
    const std::array<std::string, 2> now = irSlotNamesOf(e.record, *slots);
    const char* channels[] = {"rhythm", "lead"};
    for (size_t c = 0; c < 2; ++c)
        if (!e.irSlotNames[c].empty() && e.irSlotNames[c] != now[c])
            warn(std::string("the ") + channels[c] + " channel's IR was \"" + e.irSlotNames[c] +
                 "\"; its slot now holds \"" + now[c] + "\"");
    std::printf("entry %lld \"%s\" loaded into program %d (not stored)\n", static_cast<long long>(e.id),
                e.name.c_str(), n);
    return kExitDone;
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
    std::printf("added %lld \"%s\" from program %d\n", static_cast<long long>(*id), e.name.c_str(), n);
    return kExitDone;
}

}  // namespace

int commandCollectionList(const CliOptions& o) {
    return withLibrary(o, [&](ProgramLibrary& library) {
        std::vector<CollectionEntry> entries;
        std::string error;
        if (!library.entries(entries, error, o.search.value_or(""))) return fail(error);
        if (o.json) {
            Json list = Json::array();
            for (const CollectionEntry& e : entries) list.push_back(entryJson(e));
            printJson({{"entries", list}});
            return kExitDone;
        }
        for (const CollectionEntry& e : entries)
            std::printf("%5lld  %s  %s  %s\n", static_cast<long long>(e.id), paddedName(e.name).c_str(),
                        programSummary(settingsAsRecorded(e.record)).c_str(), joined(e.tags).c_str());
        if (entries.empty()) std::printf(o.search ? "no entry matches\n" : "the collection is empty\n");
        return kExitDone;
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
        for (const int64_t id : imported.ids) {
            if (const std::optional<CollectionEntry> e = library.entry(id, error))
                std::printf("added %lld \"%s\" from %s\n", static_cast<long long>(id), e->name.c_str(),
                            e->sourceFile.c_str());
        }
        for (const std::string& refused : imported.refused) warn(refused);
        if (!error.empty()) return fail(error);
        return imported.refused.empty() ? kExitDone
                                        : fail(std::to_string(imported.refused.size()) + " of " +
                                               std::to_string(files.size()) + " files not added");
    });
}

int commandCollectionShow(const CliOptions& o) {
    return withEntry(o, [&](ProgramLibrary&, const CollectionEntry& e) {
        if (o.json) {
            printJson(entryJson(e));
            return kExitDone;
        }
        std::printf("id        %lld\nname      %s\ntags      %s\nsource    %s\nadded     %s\n",
                    static_cast<long long>(e.id), e.name.c_str(), joined(e.tags).c_str(),
                    sourceText(e).c_str(), e.addedAt.c_str());
        std::printf("IR slots  rhythm \"%s\", lead \"%s\"\n", e.irSlotNames[0].c_str(),
                    e.irSlotNames[1].c_str());
        const ProgramSettings settings = settingsAsRecorded(e.record);
        for (const SettingField& f : kSettingFields) std::printf("  %-15s %d\n", f.name, f.get(settings));
        if (!e.notes.empty()) std::printf("notes\n%s\n", e.notes.c_str());
        return kExitDone;
    });
}

int commandCollectionExport(const CliOptions& o) {
    return withEntry(o, [&](ProgramLibrary&, const CollectionEntry& e) {
        std::string error;
        if (!writePortableProgram(pathFromUtf8(o.operands[1]), portableProgramOf(e), error))
            return fail(error);
        std::printf("entry %lld \"%s\" written to %s\n", static_cast<long long>(e.id), e.name.c_str(),
                    o.operands[1].c_str());
        return kExitDone;
    });
}

int commandCollectionLoad(const CliOptions& o) {
    return withEntry(o, [&](ProgramLibrary&, const CollectionEntry& e) {
        return onAmplifier(o, [&](Session& s) { return load(s, e, o.program.value_or(0)); });
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
        std::printf("entry %s removed\n", o.operands[0].c_str());
        return kExitDone;
    });
}

int commandCollectionTag(const CliOptions& o) {
    return withLibrary(o, [&](ProgramLibrary& library) {
        std::string error;
        const std::vector<std::string> tags(o.operands.begin() + 1, o.operands.end());
        if (!library.setEntryTags(std::stoll(o.operands[0]), tags, error)) return fail(error);
        std::printf(tags.empty() ? "entry %s has no tags\n" : "entry %s tagged %s\n", o.operands[0].c_str(),
                    joined(tags).c_str());
        return kExitDone;
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
        std::printf("program %d written to %s\n", n, o.operands[1].c_str());
        return kExitDone;
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
