#pragma once
// halvard-cli's session: the amplifier's ports, a mirror and a link context, as the editor's worker
// has them; the program library as the commands open it; and the reads more than one command
// makes.

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/cli_options.hpp"
#include "cli/cli_output.hpp"
#include "device/librarian/kept_backups.hpp"
#include "device/librarian/program_backup.hpp"
#include "device/link/amplifier_lock.hpp"
#include "device/link/midi_ports.hpp"
#include "device/protocol/exchanges.hpp"
#include "model/device_mirror.hpp"
#include "program_library/program_library.hpp"

namespace halvard::cli {

// Set once Ctrl-C was pressed (see interrupt()).
bool interruptRequested();

// One JACK client for the program ("halvard-cli"), which joins the server's cycle only while a port
// of the amplifier's (a name that contains portText) is there.
std::unique_ptr<MidiPorts> makePorts(MidiApi api, const std::string& portText);

// The first port of that direction whose name contains text; -1 when none does.
int findPort(MidiPorts& ports, PortDirection direction, const std::string& text);

class Session {
public:
    explicit Session(const CliOptions& options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Holds the amplifier for the session's command, waiting while another program (the editor)
    // holds it, with a line on standard error; then opens the first input and output whose names
    // contain the --port text. The reason if not.
    std::string open();

    DeviceMirror mirror;
    LinkContext link;
    ProgressDisplay* progress = nullptr;  // shown at every repaint the exchanges ask for

private:
    const CliOptions& options_;
    AmplifierLock lock_;
    std::unique_ptr<MidiPorts> ports_;
};

// Opens a session and runs command in it; failure (kExitFailed unless given) with the reason when
// the amplifier's ports cannot be opened.
int onAmplifier(const CliOptions& options, const std::function<int(Session&)>& command,
                int failure = kExitFailed);

// Why an exchange-based step stopped (program: the one that was not answered, if known).
std::string stopReason(ReplyResult result, int program = -1);

// The program library (--library, else the default file); null with the reason if it cannot open.
std::unique_ptr<ProgramLibrary> openLibrary(const CliOptions& options, std::string& error);

// The library for a command that works without one: a warning ("...; " + without) when it cannot
// be opened.
std::unique_ptr<ProgramLibrary> libraryOrWarn(const CliOptions& options, const std::string& without);

// The programs' names; none (and a warning) without a library.
std::array<ProgramName, kProgramCount> namesOf(ProgramLibrary* library);

// Reads all 128 programs as a backup does (the amplifier is left on --program, default 0), with
// the progress on standard error; prints the reason and returns nothing when a read is not answered.
std::optional<ProgramFile> readAllPrograms(Session& session, const CliOptions& options, const char* label);

// Keeps a backup in the session's library, with the amplifier's firmware version, and notes its id
// on standard error; none without a library, or with the reason in error when the library cannot
// keep it.
std::optional<int64_t> keep(Session& session, const ProgramFile& file, BackupReason reason,
                            const std::string& fileName, std::string& error);

// The automatic backup of now (every program, just read) before a command writes over the
// amplifier's programs: in the library, else as a .syx in the backups folder (where it went is
// noted on standard error). When neither can keep it: nothing after the reason (nothing may be
// sent), unless --no-backup (a warning, and an empty backup). alsoAsFile: a .syx as well (the
// firmware update).
std::optional<AutomaticBackup> keptBeforeWriting(Session& session, const ProgramFile& now,
                                                 const CliOptions& options, BackupReason reason,
                                                 bool alsoAsFile = false);

}  // namespace halvard::cli
