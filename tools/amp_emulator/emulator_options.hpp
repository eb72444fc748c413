#pragma once
// The emulator's command line, and the fault settings that the control channel can change later.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/amplifier_port_tag.hpp"
#include "virtual_amp.hpp"

namespace halvard::emulator {

enum class MidiSystem { Auto, Jack, Alsa };
enum class LogMode { Off, Brief, Full };

// Every fault the emulator can inject: the amplifier's own and the timing ones.
struct FaultSettings {
    AmpFaults amp;
    int delayMs = 0;         // replies leave this much later
    int noticeEveryMs = 0;   // a change notice this often; 0 never
    int unplugAfterMs = -1;  // ports close this long after start; -1 never
    int replugAfterMs = -1;  // and open again this long after closing; -1 stay away
};

struct EmulatorOptions {
    MidiSystem midiSystem = MidiSystem::Auto;
    std::string portName = "Halvard " + std::string(kAmplifierPortTag);  // ports "<name> In" and "<name> Out"
    std::optional<uint16_t> firmwareVersion;
    std::optional<int> program;
    std::array<std::optional<std::string>, kUserSlots> slotNames;
    std::vector<uint8_t> programFile;  // --programs: played into the state at start
    std::string dumpDir;               // stored IR and firmware images are written here; empty: nowhere
    LogMode log = LogMode::Off;
    int restartAwayMs = 2500;
    bool controlOnStdin = true;
    FaultSettings faults;
};

struct ParsedCommandLine {
    EmulatorOptions options;
    bool help = false;
    bool version = false;
    std::string error;  // non-empty: the command line was refused, and why
};

ParsedCommandLine parseCommandLine(std::span<const std::string_view> args);
std::string helpText();

// Sets one fault by its option name without the dashes ("delay", "ignore", "stop-ack-after",
// "notice-every", "malformed", "unplug-after", "replug-after", "hang", "alter-store"); "off" clears it.
// Returns an error text, empty on success.
std::string setFault(FaultSettings& faults, std::string_view name, std::string_view value);

// The amplifier's state at start-up: the factory state with the options applied.
AmpState initialState(const EmulatorOptions& options);

std::string versionText(uint16_t version);                    // "1.7"
std::optional<uint16_t> parseVersion(std::string_view text);  // "1.7" -> 0x0107

}  // namespace halvard::emulator
