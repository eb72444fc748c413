#include "emulator_options.hpp"

#include <charconv>
#include <fstream>
#include <iterator>

#include "util/option_scanner.hpp"

namespace halvard::emulator {

namespace {

std::optional<int> parseInt(std::string_view text, int base = 10) {
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) text.remove_prefix(2);
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::optional<unsigned> parseMalformedKinds(std::string_view text) {
    if (text == "off" || text == "none") return 0u;
    if (text == "all") return static_cast<unsigned>(kMalformedAll);
    unsigned kinds = 0;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view kind = text.substr(0, comma);
        if (kind == "byte1")
            kinds |= kMalformedByte1;
        else if (kind == "short")
            kinds |= kMalformedShort;
        else if (kind == "range")
            kinds |= kMalformedRange;
        else if (kind == "stray")
            kinds |= kMalformedStray;
        else
            return std::nullopt;
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    }
    return kinds;
}

// A duration in ms, or "off" for the given off value.
std::string setDuration(int& field, std::string_view name, std::string_view value, int off, int minimum) {
    if (value == "off") {
        field = off;
        return {};
    }
    const std::optional<int> ms = parseInt(value);
    if (!ms || *ms < minimum)
        return std::string(name) + " wants a number of milliseconds, not \"" + std::string(value) + "\"";
    field = *ms;
    return {};
}

}  // namespace

std::string versionText(uint16_t version) {
    return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

std::optional<uint16_t> parseVersion(std::string_view text) {
    const size_t dot = text.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const std::optional<int> major = parseInt(text.substr(0, dot));
    const std::optional<int> minor = parseInt(text.substr(dot + 1));
    // Both numbers travel as 7-bit data bytes in the version reply.
    if (!major || !minor || *major < 0 || *major > 127 || *minor < 0 || *minor > 127) return std::nullopt;
    return static_cast<uint16_t>(*major << 8 | *minor);
}

std::string setFault(FaultSettings& f, std::string_view name, std::string_view value) {
    if (name == "delay") return setDuration(f.delayMs, name, value, 0, 0);
    if (name == "notice-every") return setDuration(f.noticeEveryMs, name, value, 0, 1);
    if (name == "unplug-after") return setDuration(f.unplugAfterMs, name, value, -1, 0);
    if (name == "replug-after") return setDuration(f.replugAfterMs, name, value, -1, 0);
    if (name == "stop-ack-after") {
        if (value == "off") {
            f.amp.stopAckAfter = -1;
            return {};
        }
        const std::optional<int> n = parseInt(value);
        if (!n || *n < 0) return "stop-ack-after wants a chunk count, not \"" + std::string(value) + "\"";
        f.amp.stopAckAfter = *n;
        return {};
    }
    if (name == "ignore") {
        if (value == "off") {
            f.amp.ignoreCode = -1;
            return {};
        }
        const std::optional<int> code = parseInt(value, 16);
        if (!code || *code < 0 || *code > 0x7F) return "ignore wants a message code in hex, such as 0x02";
        f.amp.ignoreCode = *code;
        return {};
    }
    if (name == "malformed") {
        const std::optional<unsigned> kinds = parseMalformedKinds(value);
        if (!kinds) return "malformed wants byte1, short, range, stray (comma-separated), all or off";
        f.amp.malformed = *kinds;
        return {};
    }
    if (name == "alter-store") {
        if (value == "off") {
            f.amp.alterStoreOf = -1;
            return {};
        }
        const std::optional<int> p = parseInt(value);
        if (!p || *p < 0 || *p >= kPrograms) return "alter-store wants a program 0..127 or off";
        f.amp.alterStoreOf = *p;
        return {};
    }
    if (name == "hang") {
        if (value != "on" && value != "off") return "hang wants on or off";
        f.amp.hung = value == "on";
        return {};
    }
    return "no fault named \"" + std::string(name) + "\"";
}

ParsedCommandLine parseCommandLine(std::span<const std::string_view> args) {
    ParsedCommandLine result;
    EmulatorOptions& o = result.options;
    OptionScanner scan(args, result.error);
    while (scan.next()) {
        const std::string_view arg = scan.name();
        std::string_view value;  // an option's value, once taken from "--name=value" or the next argument

        if (arg == "--help" || arg == "-h") {
            if (scan.noValue()) result.help = true;
        } else if (arg == "--version") {
            if (scan.noValue()) result.version = true;
        } else if (arg == "--log") {
            if (scan.noValue()) o.log = LogMode::Brief;
        } else if (arg == "--log-full") {
            if (scan.noValue()) o.log = LogMode::Full;
        } else if (arg == "--no-control") {
            if (scan.noValue()) o.controlOnStdin = false;
        } else if (arg == "--hang") {
            if (scan.noValue()) o.faults.amp.hung = true;
        } else if (arg == "--api") {
            if (!scan.takeValue(value)) break;
            if (value == "auto")
                o.midiSystem = MidiSystem::Auto;
            else if (value == "jack")
                o.midiSystem = MidiSystem::Jack;
            else if (value == "alsa")
                o.midiSystem = MidiSystem::Alsa;
            else
                result.error = "--api wants auto, jack or alsa";
        } else if (arg == "--name") {
            if (!scan.takeValue(value)) break;
            if (value.empty()) result.error = "--name wants a port name";
            o.portName = value;
        } else if (arg == "--firmware") {
            if (!scan.takeValue(value)) break;
            o.firmwareVersion = parseVersion(value);
            if (!o.firmwareVersion) result.error = "--firmware wants MAJOR.MINOR, each 0..127, such as 1.7";
        } else if (arg == "--program") {
            if (!scan.takeValue(value)) break;
            o.program = parseInt(value);
            if (!o.program || *o.program < 0 || *o.program >= kPrograms)
                result.error = "--program wants 0..127";
        } else if (arg == "--slot-name") {
            if (!scan.takeValue(value)) break;
            const std::optional<int> slot = parseInt(value.substr(0, value.find('=')));
            if (value.find('=') == std::string_view::npos || !slot || *slot < 0 || *slot >= kUserSlots) {
                result.error = "--slot-name wants SLOT=TEXT with SLOT 0..5";
            } else {
                o.slotNames[static_cast<size_t>(*slot)] = std::string(value.substr(value.find('=') + 1));
            }
        } else if (arg == "--programs") {
            if (!scan.takeValue(value)) break;
            std::ifstream file{std::string(value), std::ios::binary};
            o.programFile.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
            AmpState trial = factoryState();
            const std::string why = file ? playProgramFile(trial, o.programFile) : "cannot read it";
            if (!why.empty()) result.error = "--programs " + std::string(value) + ": " + why;
        } else if (arg == "--dump-dir") {
            if (!scan.takeValue(value)) break;
            o.dumpDir = value;
        } else if (arg == "--restart-away") {
            if (!scan.takeValue(value)) break;
            const std::optional<int> ms = parseInt(value);
            if (!ms || *ms < 0)
                result.error = "--restart-away wants a number of milliseconds";
            else
                o.restartAwayMs = *ms;
        } else if (arg == "--delay" || arg == "--ignore" || arg == "--stop-ack-after" ||
                   arg == "--notice-every" || arg == "--malformed" || arg == "--unplug-after" ||
                   arg == "--replug-after" || arg == "--alter-store") {
            if (!scan.takeValue(value)) break;
            const std::string error = setFault(o.faults, arg.substr(2), value);
            if (!error.empty()) result.error = "--" + error;
        } else {
            result.error = "unknown option " + std::string(scan.argument()) + " (see --help)";
        }
    }
    return result;
}

AmpState initialState(const EmulatorOptions& o) {
    AmpState s = factoryState();
    if (o.firmwareVersion) s.version = *o.firmwareVersion;
    playProgramFile(s, o.programFile);  // checked when the command line was read
    if (o.program) s.program = static_cast<uint8_t>(*o.program);
    s.edit = s.records[s.program];
    for (size_t k = 0; k < o.slotNames.size(); ++k) {
        if (o.slotNames[k]) s.slotNames[k] = o.slotNames[k]->substr(0, kNameBytes);
    }
    return s;
}

std::string helpText() {
    return R"(halvard-amp-emulator: a virtual amplifier for Halvard Editor

Creates a MIDI input and output port whose names contain "VDR", as the amplifier's do, and answers
the editor's SysEx messages as the amplifier would: version, settings, slot names, settings writes,
preset stores, IR and firmware transfers, restarts. Start it, then start the editor.

Usage: halvard-amp-emulator [options]
       halvard-amp-emulator --help | --version

Ports and state:
  --api auto|jack|alsa   MIDI system (default auto: JACK when a JACK server runs, else ALSA)
  --name NAME            port name base (default "Halvard VDR"; ports "NAME In" and "NAME Out")
  --firmware MAJ.MIN     firmware version the amplifier reports (default 1.7)
  --program N            current program at start, 0..127 (default 0)
  --slot-name S=TEXT     name of user IR slot S (0..5) as the amplifier reports it, e.g. 2=2_CLEAN
  --restart-away MS      how long the ports stay away on a restart (default 2500)
  --programs FILE.syx    play a program file (settings writes and preset stores, as a backup
                         holds them) into the amplifier at start
  --dump-dir DIR         write every stored IR image (NNN-slotS.wav) and firmware image
                         (NNN-firmware.bin) into DIR

Watching:
  --log                  protocol log on standard output, one line per message (long ones cut)
  --log-full             the same with every byte of long messages
  --no-control           do not read control commands from standard input

Faults (the control command "fault NAME VALUE" changes them while running):
  --delay MS             answer every request MS ms late
  --ignore CODE          ignore every message with this code (hex, e.g. 0x02)
  --stop-ack-after N     acknowledge only the first N chunks of each transfer, and not its store
  --notice-every MS      send a change notice every MS ms
  --malformed KINDS      after each reply also send malformed copies of it: byte1 (byte 1 not 00),
                         short (settings and slot name replies one byte too short), range
                         (program above 127, slot above 5), stray (stray bytes and messages);
                         comma-separated, or all
  --unplug-after MS      close the ports MS ms after start ...
  --replug-after MS      ... and open them again MS ms after closing (default: stay away)
  --hang                 answer nothing until a restart request arrives
  --alter-store P        the next preset store of program P keeps it with loop bypass flipped

Faults found in what the editor sends (malformed messages, a missing or repeated chunk, an IR image
that is not a 48 kHz mono float WAV of the stated size) are reported on standard error; a refused
store is neither kept nor acknowledged.

Control commands on standard input (type "help" while it runs); each gets one reply line on standard
output, starting with "ok" or "error".
)";
}

}  // namespace halvard::emulator
