#include "cli/cli_commands.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "device/firmware/firmware_download.hpp"
#include "device/firmware/firmware_update.hpp"
#include "device/ir_transfer/ir_transfer.hpp"
#include "device/librarian/kept_backups.hpp"
#include "device/librarian/program_backup.hpp"
#include "device/link/clock.hpp"
#include "device/link/midi_ports.hpp"
#include "device/link/platform_midi_ports.hpp"
#include "device/protocol/exchanges.hpp"
#include "ir/extract.hpp"
#include "ir/factory_catalogue.hpp"
#include "ir/wav_import.hpp"
#include "model/device_mirror.hpp"
#include "util/data_folder.hpp"
#include "util/files.hpp"
#include "util/hex.hpp"
#include "util/paths.hpp"
#include "util/utf8.hpp"

// Sections: output helpers, the session (ports and context), the commands, dispatch.

namespace halvard::cli {
namespace {

namespace fs = std::filesystem;

// Set by interrupt() (a signal handler): the flag, and the running session's quit flag.
std::atomic<bool> interrupted{false};
std::atomic<std::atomic<bool>*> interruptTarget{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::atomic<bool>*>::is_always_lock_free,
              "set from a signal handler");

// ---- output helpers ---------------------------------------------------------------------------

int fail(const std::string& reason) {
    std::fprintf(stderr, "halvard-cli: %s\n", reason.c_str());
    return kExitFailed;
}

std::string versionText(uint16_t v) {
    return std::to_string(v >> 8) + "." + std::to_string(v & 0xFF);
}

// A message for the monitor: long ones cut to their head and end byte.
std::string shortHex(std::span<const uint8_t> m) {
    if (m.size() <= 24) return toHex(m, true);
    return toHex(m.first(12), true) + " .. " + toHex(m.last(1), true) + " (" + std::to_string(m.size()) +
           " bytes)";
}

// Progress of one transfer on standard output: a bar redrawn in place on a terminal, otherwise a
// plain line at every tenth. Standard error keeps only the reason of a failure.
class ProgressDisplay {
public:
    explicit ProgressDisplay(std::string label)
        : label_(std::move(label)), tty_(isatty(STDOUT_FILENO) == 1) {}
    ~ProgressDisplay() {
        if (tty_ && last_ >= 0) std::fputc('\n', stdout);
    }

    void show(int percent) {
        if (percent < 0 || percent > 100 || percent == last_) return;
        if (tty_) {
            const int filled = percent * 30 / 100;
            std::printf("\r%s [%s%s] %3d%%", label_.c_str(),
                        std::string(static_cast<size_t>(filled), '#').c_str(),
                        std::string(static_cast<size_t>(30 - filled), '.').c_str(), percent);
        } else if (percent / 10 != last_ / 10 || last_ < 0) {
            std::printf("%s %d%%\n", label_.c_str(), percent / 10 * 10);
        }
        std::fflush(stdout);
        last_ = percent;
    }
    LibrarianProgress steps() {
        return [this](int done, int total) { show(static_cast<int>(100LL * done / std::max(total, 1))); };
    }

private:
    std::string label_;
    bool tty_;
    int last_ = -1;
};

// ---- the session ------------------------------------------------------------------------------

// One JACK client for the program ("halvard-cli"), which joins the server's cycle only while a port
// of the amplifier's (a name that contains portText) is there.
std::unique_ptr<MidiPorts> makePorts(MidiApi api, const std::string& portText) {
    return makePlatformMidiPorts({.useAlsa = api != MidiApi::Jack,
                                  .useJack = api != MidiApi::Alsa,
                                  .jackClientName = "halvard-cli",
                                  .amplifierPortTag = portText});
}

int findPort(MidiPorts& ports, PortDirection direction, const std::string& text) {
    const int count = ports.portCount(direction);
    for (int i = 0; i < count; ++i)
        if (ports.portName(direction, i).find(text) != std::string::npos) return i;
    return -1;
}

// The amplifier's ports, a mirror and a link context, as the editor's worker has them.
class Session {
public:
    explicit Session(const CliOptions& options) : options_(options) {
        link.ui = &mirror;
        link.requestRepaint = [this] {
            if (progress) progress->show(mirror.progress);
        };
        // Ctrl-C from now on stops the exchanges through the context's own flag.
        interruptTarget = &link.quit;
        if (interrupted) link.quit = true;
    }
    ~Session() {
        interruptTarget = nullptr;
        if (ports_) {
            ports_->closePort(PortDirection::Input);
            ports_->closePort(PortDirection::Output);
        }
    }

    // Opens the first input and output whose names contain the --port text; the reason if not.
    std::string open() {
        ports_ = makePorts(options_.api, options_.port);
        link.ports = ports_.get();
        const int in = findPort(*ports_, PortDirection::Input, options_.port);
        const int out = findPort(*ports_, PortDirection::Output, options_.port);
        if (in < 0 || out < 0)
            return "no amplifier: no MIDI port pair whose names contain \"" + options_.port + "\"";
        ports_->installErrorHandler();
        ports_->openPort(PortDirection::Input, in, "halvard-cli in");
        ports_->ignoreTypes(kAmplifierInputFilter);
        ports_->openPort(PortDirection::Output, out, "halvard-cli out");
        for (const PortDirection d : {PortDirection::Input, PortDirection::Output}) {
            // Windows lets one program at a time open a MIDI port.
            if (ports_->portInUse(d))
                return "the amplifier's port \"" + ports_->portName(d, d == PortDirection::Input ? in : out) +
                       "\" is in use by another program";
        }
        if (!ports_->isPortOpen(PortDirection::Input) || !ports_->isPortOpen(PortDirection::Output))
            return "cannot open the amplifier's ports";
        return {};
    }

    DeviceMirror mirror;
    LinkContext link;
    ProgressDisplay* progress = nullptr;

private:
    const CliOptions& options_;
    std::unique_ptr<MidiPorts> ports_;
};

// Why an exchange-based step stopped.
std::string stopReason(ReplyResult result, int program = -1) {
    switch (result) {
        case ReplyResult::Timeout:
            return program >= 0 ? "program " + std::to_string(program) + " was not answered within 1 s"
                                : "the amplifier did not answer within 1 s";
        case ReplyResult::Abandoned:
            return "interrupted";
        case ReplyResult::NotSent:
            return "the amplifier's ports closed";
        case ReplyResult::Ok:
            break;
    }
    return {};
}

// ---- the commands -----------------------------------------------------------------------------

int commandPorts(const CliOptions& o) {
    const std::unique_ptr<MidiPorts> ports = makePorts(o.api, o.port);
    for (const PortDirection d : {PortDirection::Input, PortDirection::Output}) {
        const int match = findPort(*ports, d, o.port);
        std::printf("%s\n", d == PortDirection::Input ? "inputs (messages come from these):"
                                                      : "outputs (messages go to these):");
        const int count = ports->portCount(d);
        if (count == 0) std::printf("  (none)\n");
        for (int i = 0; i < count; ++i)
            std::printf("%c %d  %s\n", i == match ? '*' : ' ', i, ports->portName(d, i).c_str());
    }
    return kExitDone;
}

// Written with insertion order kept, so that the output reads in the order the manual gives.
using Json = nlohmann::ordered_json;

void printJson(const Json& json) {
    // Names come from the library's file, which another program may have written: any bytes that
    // are not UTF-8 are replaced rather than refused.
    std::printf("%s\n", json.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
}

int commandInfo(Session& s, const CliOptions& o) {
    DeviceMirror& m = s.mirror;
    if (const ReplyResult r = readFirmwareVersion(s.link); r != ReplyResult::Ok) return fail(stopReason(r));
    const int program = o.program.value_or(0);
    // The globals travel with program 0 only.
    for (const int p : program == 0 ? std::vector<int>{0} : std::vector<int>{0, program})
        if (const ReplyResult r = readProgramSettings(s.link, p); r != ReplyResult::Ok)
            return fail(stopReason(r, p));
    for (int slot = 0; slot < kUserIrSlotCount; ++slot)
        if (const ReplyResult r = readSlotName(s.link, slot); r != ReplyResult::Ok)
            return fail(stopReason(r));

    const ProgramSettings p = m.record(program);
    const struct {
        const char* name;
        int value;
    } globals[] = {{"midiChannel", m.midiChannel},
                   {"bypassLock", m.bypassLock},
                   {"reverbTails", m.reverbTails},
                   {"mono", m.mono},
                   {"irSlot", m.irSlot}};
    const struct {
        const char* name;
        int value;
    } fields[] = {
        {"channel", p.channel},          {"bypass", p.bypass},          {"loopBypass", p.loopBypass},
        {"reverbRhythm", p.reverb[0]},   {"reverbLead", p.reverb[1]},   {"tremoloRhythm", p.tremolo[0]},
        {"tremoloLead", p.tremolo[1]},   {"irRhythm", p.ir[0]},         {"irLead", p.ir[1]},
        {"irBypass", p.irBypass},        {"hfCompRhythm", p.hfComp[0]}, {"hfCompLead", p.hfComp[1]},
        {"lowpassRhythm", p.filterA[0]}, {"lowpassLead", p.filterA[1]}, {"highpassRhythm", p.filterB[0]},
        {"highpassLead", p.filterB[1]}};
    if (o.json) {
        Json out = {{"firmware", versionText(m.firmwareVersion)}, {"program", program}};
        const auto object = [](const auto& list) {
            Json o = Json::object();
            for (const auto& f : list) o[f.name] = f.value;
            return o;
        };
        out["globals"] = object(globals);
        out["settings"] = object(fields);
        out["slots"] = Json::array();
        for (int slot = 0; slot < kUserIrSlotCount; ++slot)
            out["slots"].push_back(latin1ToUtf8(m.slotName(slot).view()));
        printJson(out);
        return kExitDone;
    }
    std::printf("firmware  %s\nprogram   %d\n", versionText(m.firmwareVersion).c_str(), program);
    for (const auto& g : globals) std::printf("  %-15s %d\n", g.name, g.value);
    for (const auto& f : fields) std::printf("  %-15s %d\n", f.name, f.value);
    for (int slot = 0; slot < kUserIrSlotCount; ++slot) {
        const SlotName name = m.slotName(slot);
        std::printf("slot %d    %s\n", slot,
                    name.empty() ? "(empty)" : latin1ToUtf8(name.view(), true).c_str());
    }
    return kExitDone;
}

// ---- the program library ----------------------------------------------------------------------

void warn(const std::string& text) {
    std::fprintf(stderr, "halvard-cli: warning: %s\n", text.c_str());
}

std::unique_ptr<ProgramLibrary> openLibrary(const CliOptions& o, std::string& error) {
    return ProgramLibrary::open(o.library.empty() ? libraryFile() : pathFromUtf8(o.library), error);
}

// The library for a command that works without one: a warning when it cannot be opened.
std::unique_ptr<ProgramLibrary> libraryOrWarn(const CliOptions& o, const std::string& without) {
    std::string error;
    std::unique_ptr<ProgramLibrary> library = openLibrary(o, error);
    if (!library) warn(error + "; " + without);
    return library;
}

std::array<ProgramName, kProgramCount> namesOf(ProgramLibrary* library) {
    std::array<ProgramName, kProgramCount> names;
    std::string error;
    if (library != nullptr && !library->names(names, error)) warn(error + "; no names");
    return names;
}

// "3 \"Clean Crunch\"", or "3" for a program without a name.
std::string programLabel(int program, const ProgramName& name) {
    return std::to_string(program) + (name.name.empty() ? "" : " \"" + name.name + "\"");
}

// The channel and the six switches: "LEAD  BYPASS - REVERB - LOOP -"
std::string programSummary(const ProgramSettings& p) {
    const int ch = p.channel ? 1 : 0;
    const auto on = [](int value, const char* name) { return std::string(value ? name : "-"); };
    return std::string(ch ? "LEAD  " : "RHYTHM") + "  " + on(p.bypass, "BYPASS") + " " +
           on(p.reverb[ch], "REVERB") + " " + on(p.tremolo[ch], "TREMOLO") + " " + on(p.loopBypass, "LOOP") +
           " " + on(p.irBypass, "IR-BYPASS");
}

// Reads all 128 programs as a backup does (the amplifier is left on --program, default 0).
std::optional<ProgramFile> readAllPrograms(Session& s, const CliOptions& o, const char* label) {
    s.mirror.program = o.program.value_or(0);
    ProgressDisplay progress(label);
    // JSON output stays one object: no progress lines among it.
    const BackupResult backup = backupPrograms(s.link, o.json ? LibrarianProgress{} : progress.steps());
    if (backup.result != ReplyResult::Ok) {
        fail(stopReason(backup.result, backup.failedProgram));
        return std::nullopt;
    }
    return backup.file;
}

// Keeps a backup in the library, with the amplifier's firmware version; the reason when the
// library is there but cannot keep it (none without a library).
std::string keep(Session& s, const ProgramFile& file, BackupReason reason, const std::string& fileName) {
    if (s.link.library == nullptr) return {};
    if (s.mirror.firmwareVersion == 0) readFirmwareVersion(s.link);
    std::string error;
    const auto id = keepBackup(s.link, file, reason, fs::u8path(fileName).u8string(), error);
    if (id) std::printf("kept in the library as backup %lld\n", static_cast<long long>(*id));
    return id || error.empty() ? std::string() : error;
}

int commandBackup(Session& s, const CliOptions& o) {
    const std::unique_ptr<ProgramLibrary> library = libraryOrWarn(o, "the backup is not kept in the library");
    s.link.library = library.get();
    s.mirror.program = o.program.value_or(0);
    ProgressDisplay progress("backup");
    const BackupResult backup = backupPrograms(s.link, progress.steps());
    if (backup.result != ReplyResult::Ok)
        return fail(stopReason(backup.result, backup.failedProgram) + "; no file written");
    std::string error;
    const fs::path file = pathFromUtf8(o.operands[0]);
    if (!writeFileReplacing(file, programFileBytes(backup.file), error)) return fail(error);
    std::printf("128 programs backed up to %s\n", o.operands[0].c_str());
    const std::u8string fileName = file.filename().u8string();
    if (const std::string error =
            keep(s, backup.file, BackupReason::Cli, std::string(fileName.begin(), fileName.end()));
        !error.empty())
        warn(error + "; the backup is not kept in the library");
    return kExitDone;
}

int commandPrograms(Session& s, const CliOptions& o) {
    const std::unique_ptr<ProgramLibrary> library = libraryOrWarn(o, "no names");
    const std::optional<ProgramFile> file = readAllPrograms(s, o, "read");
    if (!file) return kExitFailed;
    const ProgramRecords records = recordsOfFile(*file);
    std::string error;
    if (library && !library->bindNames(records, true, error)) warn(error);
    const auto names = namesOf(library.get());
    Json list = Json::array();
    for (int p = 0; p < kProgramCount; ++p) {
        const ProgramRecord& record = *records[static_cast<size_t>(p)];
        const ProgramName& name = names[static_cast<size_t>(p)];
        const ProgramSettings settings = settingsOfRecord(record);
        const bool stale = name.staleAgainst(record);
        if (o.json) {
            Json settingsJson = Json::object();
            for (const NamedSetting& f : namedSettings(settings)) settingsJson[f.name] = f.value;
            list.push_back({{"program", p},
                            {"name", name.name.empty() ? Json(nullptr) : Json(name.name)},
                            {"stale", stale},
                            {"record", toHex(record)},
                            {"settings", settingsJson}});
            continue;
        }
        // Padded by characters, not bytes.
        std::string shown = name.name;
        const auto chars = std::count_if(shown.begin(), shown.end(),
                                         [](char c) { return (static_cast<uint8_t>(c) & 0xC0) != 0x80; });
        shown.append(static_cast<size_t>(std::max<std::ptrdiff_t>(kProgramNameMaxChars - chars, 0)), ' ');
        std::printf("%3d  %s %c  %s\n", p, shown.c_str(), stale ? '?' : ' ',
                    programSummary(settings).c_str());
    }
    if (o.json) printJson({{"programs", list}});
    return kExitDone;
}

int commandProgramsName(const CliOptions& o) {
    std::string error;
    const std::unique_ptr<ProgramLibrary> library = openLibrary(o, error);
    if (!library) return fail(error);
    const int program = std::stoi(o.operands[0]);
    const std::string text = o.operands.size() > 1 ? o.operands[1] : std::string();
    // Bound to the program's settings at the next read.
    if (!library->setName(program, text, std::nullopt, error)) return fail(error);
    std::printf(text.empty() ? "program %d has no name\n" : "program %d is named \"%s\"\n", program,
                text.c_str());
    return kExitDone;
}

int commandProgramsMove(Session& s, const CliOptions& o) {
    const std::unique_ptr<ProgramLibrary> library = libraryOrWarn(o, "the names do not follow");
    const int a = std::stoi(o.operands[0]), b = std::stoi(o.operands[1]);
    const bool swap = o.command == "programs swap";
    const ProgramMoveResult moved =
        swap ? swapPrograms(s.link, a, b, library.get()) : copyProgram(s.link, a, b, library.get());
    if (moved.restore.result != ReplyResult::Ok)
        return fail(stopReason(moved.restore.result, moved.restore.failedProgram));
    if (!moved.restore.mismatches.empty()) {
        const int program = moved.restore.mismatches.front().program;
        return fail(program < 0
                        ? std::string("the global settings read back differ from what was written")
                        : "program " + std::to_string(program) + " read back differs from what was written");
    }
    if (!moved.libraryError.empty()) warn(moved.libraryError + "; the names did not follow");
    std::printf(swap ? "programs %d and %d swapped and verified\n" : "program %d copied to %d and verified\n",
                a, b);
    return kExitDone;
}

// What a restore of file would change, printed (or as JSON).
struct Changes {
    size_t programs = 0;
    bool globals = false;
};
Changes showChanges(const ProgramFile& now, const ProgramFile& file,
                    const std::array<ProgramName, kProgramCount>& names, bool json) {
    const std::vector<ProgramChange> changes = compareWithFile(recordsOfFile(now), file);
    const std::vector<GlobalChange> globals = compareGlobals(now, file);
    std::vector<std::string> globalsText;
    for (const GlobalChange& g : globals)
        globalsText.push_back(std::string(g.name) + " " + std::to_string(g.now) + " -> " +
                              std::to_string(g.wanted));
    const auto joined = [](const std::vector<std::string>& parts) {
        std::string text;
        for (const std::string& p : parts) text += (text.empty() ? "" : ", ") + p;
        return text;
    };
    const Changes counted{changes.size(), !globals.empty()};
    if (json) {
        Json list = Json::array();
        for (const ProgramChange& c : changes) {
            const std::string& name = names[static_cast<size_t>(c.program)].name;
            list.push_back({{"program", c.program},
                            {"name", name.empty() ? Json(nullptr) : Json(name)},
                            {"now", c.now ? Json(toHex(*c.now)) : Json(nullptr)},
                            {"restored", toHex(c.wanted)},
                            {"differences", c.differences}});
        }
        printJson({{"differing", list}, {"globals", globalsText}});
        return counted;
    }
    for (const ProgramChange& c : changes)
        std::printf("program %s would change: %s\n",
                    programLabel(c.program, names[static_cast<size_t>(c.program)]).c_str(),
                    joined(c.differences).c_str());
    if (!globals.empty()) std::printf("the global settings would change: %s\n", joined(globalsText).c_str());
    if (changes.empty() && globals.empty()) std::printf("no program would change\n");
    return counted;
}

// The file to restore or compare: the checked FILE, or a kept backup (kept is set).
bool programsToRestore(const CliOptions& o, ProgramLibrary* library, ProgramFile& file,
                       std::optional<KeptBackup>& kept, std::string& error) {
    if (o.backup) {
        if (library == nullptr) return false;
        kept = library->backup(*o.backup, error);
        if (!kept) return false;
        file = programFileOf(*kept);
        return true;
    }
    std::vector<uint8_t> bytes;
    if (!readWholeFile(pathFromUtf8(o.operands[0]), kProgramFileMaxBytes, bytes, error)) return false;
    const ParsedProgramFile parsed = parseProgramFile(bytes);
    if (parsed.error) {
        error = o.operands[0] + ": byte " + std::to_string(parsed.error->offset) + ": " +
                parsed.error->reason + "; nothing sent";
        return false;
    }
    file = parsed.file;
    return true;
}

int commandCompare(Session& s, const CliOptions& o, ProgramLibrary* library, const ProgramFile& file) {
    const std::optional<ProgramFile> now = readAllPrograms(s, o, "read");
    if (!now) return kExitFailed;
    showChanges(*now, file, namesOf(library), o.json);
    return kExitDone;
}

int commandRestore(Session& s, const CliOptions& o, ProgramLibrary* library, const ProgramFile& file,
                   const std::optional<KeptBackup>& kept) {
    s.link.library = library;
    // What the amplifier holds now is read first: compared with what would be sent, and kept as the
    // automatic backup before the restore.
    const std::optional<ProgramFile> now = readAllPrograms(s, o, "read");
    if (!now) return fail("nothing sent");
    const Changes changes = showChanges(*now, file, namesOf(library), false);
    if ((changes.programs > 0 || changes.globals) && !o.yes) {
        const size_t n = changes.programs;
        const std::string programs = std::to_string(n) + (n == 1 ? " program" : " programs");
        const std::string what = n == 0            ? "the global settings"
                                 : changes.globals ? programs + " and the global settings"
                                                   : programs;
        return fail(what + " would change; nothing sent (--yes restores)");
    }
    // The automatic backup is what makes a restore undoable: without it nothing is sent.
    if (const std::string error = keep(s, *now, BackupReason::BeforeRestore, ""); !error.empty())
        return fail(error + "; the programs read are not kept as a backup, nothing sent");

    ProgressDisplay progress(o.noVerify ? "restore" : "restore and verify");
    const RestoreResult restore = restorePrograms(s.link, file, !o.noVerify, progress.steps());
    if (restore.result != ReplyResult::Ok)
        return fail(stopReason(restore.result, restore.failedProgram) + " after " +
                    std::to_string(restore.sent) + " programs were sent");
    for (const ProgramMismatch& m : restore.mismatches) {
        std::printf("%s differs: file %s, amplifier %s\n",
                    m.program < 0 ? "globals" : ("program " + std::to_string(m.program)).c_str(),
                    toHex(m.expected, true).c_str(), toHex(m.found, true).c_str());
    }
    if (!restore.mismatches.empty())
        return fail(std::to_string(restore.mismatches.size()) +
                    " of the restored settings differ from the file");
    // The programs changed through this program: a kept backup brings its names back; the names of
    // programs restored from a file stay, bound to what they hold now.
    std::string error;
    if (library != nullptr &&
        !(kept ? library->restoreNames(*kept, error) : library->bindNames(recordsOfFile(file), false, error)))
        warn(error + "; the names were not updated");
    std::printf("%d programs restored%s\n", restore.sent, restore.verified ? " and verified" : "");
    return kExitDone;
}

// The kept backups; with the amplifier there, how many of its programs differ from each.
int commandBackups(const CliOptions& o) {
    std::string error;
    const std::unique_ptr<ProgramLibrary> library = openLibrary(o, error);
    if (!library) return fail(error);
    std::vector<KeptBackupSummary> list;
    if (!library->backups(list, error)) return fail(error);

    std::optional<ProgramRecords> now;
    {
        Session session(o);
        if (session.open().empty()) {
            if (const std::optional<ProgramFile> file = readAllPrograms(session, o, "read"))
                now = recordsOfFile(*file);
        }
    }
    Json out = Json::array();
    for (const KeptBackupSummary& b : list) {
        std::optional<std::vector<int>> differing;
        bool damaged = false;
        if (now) {
            // One damaged backup is reported as such; the others are still listed.
            if (const std::optional<KeptBackup> kept = library->backup(b.id, error)) {
                differing.emplace();
                for (const ProgramChange& c : compareWithFile(*now, programFileOf(*kept)))
                    differing->push_back(c.program);
            } else {
                warn(error);
                damaged = true;
            }
        }
        if (o.json) {
            out.push_back({{"id", b.id},
                           {"time", b.takenAt},
                           {"reason", backupReasonText(b.reason)},
                           {"firmware", b.firmware},
                           {"file", b.fileName},
                           {"differing", differing ? Json(*differing) : Json(nullptr)}});
            if (damaged) out.back()["damaged"] = true;
            continue;
        }
        std::string differ = damaged ? "damaged" : "";
        if (differing) {
            differ = std::to_string(differing->size()) + " differ";
            for (size_t i = 0; i < differing->size() && i < 8; ++i)
                differ += (i ? "," : ": ") + std::to_string((*differing)[i]);
            if (differing->size() > 8) differ += ",...";
        }
        std::printf("%4lld  %s  %-22s  %-5s  %s\n", static_cast<long long>(b.id), b.takenAt.c_str(),
                    std::string(backupReasonText(b.reason)).c_str(), b.firmware.c_str(), differ.c_str());
    }
    if (o.json)
        printJson({{"backups", out}});
    else if (list.empty())
        std::printf("no backups kept in %s\n", library->path().string().c_str());
    return kExitDone;
}

int irResult(IrTransferResult r) {
    switch (r) {
        case IrTransferResult::Stored:
            std::printf("IR stored\n");
            return kExitDone;
        case IrTransferResult::Failed:
            return fail("the amplifier stopped acknowledging the transfer");
        case IrTransferResult::Abandoned:
            return fail("interrupted");
        case IrTransferResult::NotSent:
            break;
    }
    return fail("nothing was sent");
}

int commandIrImport(Session& s, const CliOptions& o) {
    const IrImport ir = prepareIrFromWav(o.operands[1]);
    if (!ir.ok()) return fail(o.operands[1] + ": not a WAV file this program can import");
    ProgressDisplay progress("IR");
    s.progress = &progress;
    return irResult(
        sendIrImage(s.link, ir.image, std::stoi(o.operands[0]), irNameFromFileName(o.operands[1]).text()));
}

int commandIrFactory(Session& s, const CliOptions& o) {
    s.mirror.irPanelSlot = std::stoi(o.operands[0]) + 1;
    s.mirror.factoryIrIndex = std::stoi(o.operands[1]);
    ProgressDisplay progress("IR");
    s.progress = &progress;
    return irResult(storeFactoryIrInSlot(s.link));
}

int commandIrExtract(const CliOptions& o) {
    std::error_code ec;
    fs::create_directories(pathFromUtf8(o.operands[0]), ec);
    const ExtractResult r = extractFactoryIrs(o.operands[0]);
    if (r.written != kFactoryIrCount)
        return fail("only " + std::to_string(r.written) + " of 15 files could be written into " +
                    o.operands[0]);
    std::printf("15 factory IRs written into %s\n", o.operands[0].c_str());
    return kExitDone;
}

int commandFirmwareFlash(Session& s, const CliOptions& o, const FirmwareImage& image) {
    if (const ReplyResult r = readFirmwareVersion(s.link); r != ReplyResult::Ok) return fail(stopReason(r));
    const uint16_t amplifier = s.mirror.firmwareVersion;
    const uint16_t version = firmwareImageVersion(image);
    if (version <= amplifier && !o.force)
        return fail("the image's firmware " + versionText(version) + " is not newer than the amplifier's " +
                    versionText(amplifier) + " (--force flashes it anyway)");

    const std::unique_ptr<ProgramLibrary> library = libraryOrWarn(o, "the backup is not kept in the library");
    s.link.library = library.get();
    s.link.firmwareBackupFolder = backupsFolder();
    if (s.link.firmwareBackupFolder.empty())
        return fail("no backups folder (no home folder known); nothing sent");
    std::string reason;
    {
        ProgressDisplay progress("backup");
        s.progress = &progress;
        if (!backupBeforeFirmwareUpdate(s.link, reason))
            return fail("no backup of the programs, nothing sent: " + reason);
    }
    std::printf("programs backed up into %s\n", s.link.firmwareBackupFolder.string().c_str());

    ProgressDisplay progress("firmware");
    s.progress = &progress;
    const ReplyResult sent = sendFirmware(s.link, image);
    if (sent != ReplyResult::Ok) return fail(stopReason(sent));
    if (!pauseFor(s.link, kAfterUpdatePauseMs) || !outputOpen(s.link))
        return fail("firmware " + versionText(version) + " sent, but no restart was asked for (" +
                    (s.link.quit ? "interrupted" : "the amplifier's ports closed") +
                    "): restart the amplifier by hand");
    requestRestart(s.link);
    std::printf("firmware %s sent; the amplifier restarts\n", versionText(version).c_str());
    return kExitDone;
}

// What each side says, decoded as far as this program knows the messages.
std::string describe(std::span<const uint8_t> m, bool fromAmplifier) {
    if (m.size() < 3 || m[0] != kSysexStart || m[1] != 0x00) return "";
    if (fromAmplifier) {
        const Reply r = decodeReply(m);
        if (const auto* s = std::get_if<SettingsReply>(&r))
            return "settings reply, program " + std::to_string(s->program);
        if (const auto* n = std::get_if<ChangeNotice>(&r))
            return n->program < 0 ? "change notice" : "change notice, program " + std::to_string(n->program);
        if (const auto* n = std::get_if<SlotNameReply>(&r))
            return "slot name reply, slot " + std::to_string(n->slot) + " \"" +
                   latin1ToUtf8(n->name.view(), true) + "\"";
        if (std::holds_alternative<ChunkAck>(r)) return "chunk acknowledgement";
        if (const auto* v = std::get_if<VersionReply>(&r)) return "version reply " + versionText(v->version);
        return "(not understood)";
    }
    switch (m[2]) {
        case kCodeSettingsWrite:
            return m.size() > 3 ? "settings write, program " + std::to_string(m[3]) : "settings write";
        case kCodeSettings:
            return m.size() > 3 ? "settings read, program " + std::to_string(m[3]) : "settings read";
        case kCodeSlotName:
            return "slot name read";
        case kCodeFirmwareChunk:
            return "firmware chunk";
        case kCodeIrChunk:
            return "IR chunk";
        case kCodeStore:
            return "store";
        case kCodePresetStore:
            return "preset store";
        case kCodeVersion:
            return "version read";
        case kCodeRestart:
            return "restart request";
        default:
            return "(unknown code)";
    }
}

int commandMonitor(const CliOptions& o) {
    // The amplifier's output, and the output of Halvard Editor (its port "midi Output") whenever it
    // runs: looked for every half second while it is not open, so the editor may start later. The
    // second port pair (a second JACK client) is made only once the editor's port is there.
    struct Source {
        std::unique_ptr<MidiPorts> ports;
        std::string text;  // what the port name contains
        const char* direction;
        bool fromAmplifier;
    };
    Source sources[] = {{makePorts(o.api, o.port), o.port, "amp -> editor", true},
                        {nullptr, "midi Output", "editor -> amp", false}};
    const auto listen = [](Source& s) {
        const int index = findPort(*s.ports, PortDirection::Input, s.text);
        if (index < 0) return false;
        s.ports->openPort(PortDirection::Input, index,
                          s.fromAmplifier ? "halvard-cli monitor" : "halvard-cli editor monitor");
        s.ports->ignoreTypes(kAmplifierInputFilter);
        std::printf("listening to %s\n", s.ports->portName(PortDirection::Input, index).c_str());
        return s.ports->isPortOpen(PortDirection::Input);
    };
    if (!listen(sources[0]))
        return fail("no amplifier: no MIDI input port whose name contains \"" + o.port + "\"");
    std::fflush(stdout);

    Clock& clock = steadyClock();
    const auto start = clock.now();
    for (int pass = 0; !interrupted; ++pass) {
        clock.sleepUntil(clock.now() + std::chrono::milliseconds(kPollIntervalMs));
        Source& editor = sources[1];
        if (pass % 100 == 0 && !(editor.ports && editor.ports->isPortOpen(PortDirection::Input)) &&
            findPort(*sources[0].ports, PortDirection::Input, editor.text) >= 0) {
            if (!editor.ports) editor.ports = makePorts(o.api, editor.text);
            listen(editor);
        }
        for (Source& s : sources) {
            if (!s.ports || !s.ports->isPortOpen(PortDirection::Input)) continue;
            for (std::span<const uint8_t> m; !(m = s.ports->nextMessage()).empty();) {
                const double at = std::chrono::duration<double>(clock.now() - start).count();
                std::printf("%9.3f %s %s  %s\n", at, s.direction, shortHex(m).c_str(),
                            describe(m, s.fromAmplifier).c_str());
            }
        }
        std::fflush(stdout);
    }
    return kExitDone;
}

}  // namespace

// ---- dispatch ---------------------------------------------------------------------------------

void interrupt() {
    interrupted = true;
    if (std::atomic<bool>* target = interruptTarget.load()) target->store(true);
}

int runCommand(const CliOptions& o) {
    if (o.command == "ports") return commandPorts(o);
    if (o.command == "ir extract") return commandIrExtract(o);
    if (o.command == "monitor") return commandMonitor(o);
    if (o.command == "programs name") return commandProgramsName(o);
    if (o.command == "backups") return commandBackups(o);

    // Files are checked before the amplifier is looked for: a bad file never opens a port.
    ProgramFile programs;
    FirmwareImage image{};
    std::unique_ptr<ProgramLibrary> library;
    std::optional<KeptBackup> kept;
    if (o.command == "restore" || o.command == "compare") {
        std::string error;
        if (o.backup && !(library = openLibrary(o, error))) return fail(error);
        if (!o.backup) library = libraryOrWarn(o, "no names");
        if (!programsToRestore(o, library.get(), programs, kept, error)) return fail(error);
    }
    if (o.command == "firmware flash") {
        std::vector<uint8_t> bytes;
        std::string error;
        if (!readWholeFile(pathFromUtf8(o.operands[0]), kFirmwareImageBytes + 1, bytes, error))
            return fail(error);
        if (bytes.size() != kFirmwareImageBytes)
            return fail(o.operands[0] + " has " + std::to_string(bytes.size()) +
                        " bytes; an image has exactly 131072");
        std::copy(bytes.begin(), bytes.end(), image.begin());
    }

    Session session(o);
    if (const std::string why = session.open(); !why.empty()) return fail(why);
    int code = kExitFailed;
    if (o.command == "info") code = commandInfo(session, o);
    if (o.command == "backup") code = commandBackup(session, o);
    if (o.command == "restore") code = commandRestore(session, o, library.get(), programs, kept);
    if (o.command == "compare") code = commandCompare(session, o, library.get(), programs);
    if (o.command == "programs") code = commandPrograms(session, o);
    if (o.command == "programs copy" || o.command == "programs swap") code = commandProgramsMove(session, o);
    if (o.command == "ir import") code = commandIrImport(session, o);
    if (o.command == "ir factory") code = commandIrFactory(session, o);
    if (o.command == "firmware flash") code = commandFirmwareFlash(session, o, image);
    session.progress = nullptr;
    return code;
}

}  // namespace halvard::cli
