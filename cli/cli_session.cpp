#include "cli/cli_session.hpp"

#include <atomic>
#include <cstdio>
#include <filesystem>

#include "cli/cli_commands.hpp"
#include "cli/cli_output.hpp"
#include "device/link/platform_midi_ports.hpp"
#include "util/data_folder.hpp"
#include "util/paths.hpp"

namespace halvard::cli {
namespace {

// Set by interrupt() (a signal handler): the flag, and the running session's quit flag.
std::atomic<bool> interrupted{false};
std::atomic<std::atomic<bool>*> interruptTarget{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::atomic<bool>*>::is_always_lock_free,
              "set from a signal handler");

}  // namespace

void interrupt() {
    interrupted = true;
    if (std::atomic<bool>* target = interruptTarget.load()) target->store(true);
}

bool interruptRequested() {
    return interrupted;
}

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

Session::Session(const CliOptions& options) : options_(options) {
    link.ui = &mirror;
    link.backupFolder = backupsFolder();
    link.requestRepaint = [this] {
        if (progress) progress->show(mirror.progress);
    };
    // Ctrl-C from now on stops the exchanges through the context's own flag.
    interruptTarget = &link.quit;
    if (interrupted) link.quit = true;
}

Session::~Session() {
    interruptTarget = nullptr;
    if (ports_) {
        ports_->closePort(PortDirection::Input);
        ports_->closePort(PortDirection::Output);
    }
}

std::string Session::open() {
    // One program at a time at the amplifier: an editor's transfer under way ends first, and the
    // editor sends nothing until this program ends.
    const bool held = lock_.waitForAmplifier(link.quit, [] {
        std::fprintf(
            stderr,
            "halvard-cli: the amplifier is in use by another program (halvard-editor); waiting for it\n");
    });
    if (!held) return "interrupted";
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

int onAmplifier(const CliOptions& options, const std::function<int(Session&)>& command, int failure) {
    Session session(options);
    if (const std::string why = session.open(); !why.empty()) return fail(why), failure;
    const int code = command(session);
    session.progress = nullptr;
    return code;
}

std::string stopReason(ReplyResult result, int program) {
    if (result == ReplyResult::Timeout)
        return program >= 0 ? "program " + std::to_string(program) + " was not answered within 1 s"
                            : "the amplifier did not answer within 1 s";
    if (result == ReplyResult::Abandoned) return "interrupted";
    if (result == ReplyResult::NotSent) return "the amplifier's ports closed";
    return {};
}

std::unique_ptr<ProgramLibrary> openLibrary(const CliOptions& options, std::string& error) {
    return ProgramLibrary::open(options.library.empty() ? libraryFile() : pathFromUtf8(options.library),
                                error);
}

std::unique_ptr<ProgramLibrary> libraryOrWarn(const CliOptions& options, const std::string& without) {
    std::string error;
    std::unique_ptr<ProgramLibrary> library = openLibrary(options, error);
    if (!library) warn(error + "; " + without);
    return library;
}

std::array<ProgramName, kProgramCount> namesOf(ProgramLibrary* library) {
    std::array<ProgramName, kProgramCount> names;
    std::string error;
    if (library != nullptr && !library->names(names, error)) warn(error + "; no names");
    return names;
}

std::optional<ProgramFile> readAllPrograms(Session& session, const CliOptions& options, const char* label) {
    session.mirror.program = options.program.value_or(0);
    ProgressDisplay progress(label);
    const BackupResult backup = backupPrograms(session.link, progress.steps());
    if (backup.result != ReplyResult::Ok) {
        fail(stopReason(backup.result, backup.failedProgram));
        return std::nullopt;
    }
    return backup.file;
}

std::optional<int64_t> keep(Session& session, const ProgramFile& file, BackupReason reason,
                            const std::string& fileName, std::string& error) {
    error.clear();
    if (session.link.library == nullptr) return std::nullopt;
    if (session.mirror.firmwareVersion == 0) readFirmwareVersion(session.link);
    const auto id =
        keepBackup(session.link, file, reason, std::filesystem::u8path(fileName).u8string(), error);
    if (id) note("kept in the library as backup " + std::to_string(*id));
    return id;
}

std::optional<AutomaticBackup> keptBeforeWriting(Session& session, const ProgramFile& now,
                                                 const CliOptions& options, BackupReason reason,
                                                 bool alsoAsFile) {
    if (session.mirror.firmwareVersion == 0) readFirmwareVersion(session.link);
    const AutomaticBackup kept = keepAutomaticBackup(session.link, now, reason, alsoAsFile);
    if (kept.id) note("kept in the library as backup " + std::to_string(*kept.id));
    if (!kept.file.empty()) note("kept as " + kept.file.string());
    if (kept.kept()) return kept;
    if (options.noBackup) {
        warn("no backup of the programs can be kept (" + kept.error + "); going ahead (--no-backup)");
        return AutomaticBackup{};
    }
    fail("no backup of the programs can be kept (" + kept.error +
         "); nothing sent (--no-backup goes ahead without one)");
    return std::nullopt;
}

}  // namespace halvard::cli
