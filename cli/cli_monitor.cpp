// halvard-cli monitor: every message to and from the amplifier, as hex and decoded, until Ctrl-C.

#include <chrono>
#include <cstdio>

#include "cli/cli_commands.hpp"
#include "cli/cli_output.hpp"
#include "cli/cli_session.hpp"
#include "device/link/clock.hpp"
#include "util/hex.hpp"
#include "util/utf8.hpp"

namespace halvard::cli {
namespace {

// A message: long ones cut to their head and end byte.
std::string shortHex(std::span<const uint8_t> m) {
    if (m.size() <= 24) return toHex(m, true);
    return toHex(m.first(12), true) + " .. " + toHex(m.last(1), true) + " (" + std::to_string(m.size()) +
           " bytes)";
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

}  // namespace

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
        std::printf("listening to %s\n",
                    printableUtf8(s.ports->portName(PortDirection::Input, index)).c_str());
        return s.ports->isPortOpen(PortDirection::Input);
    };
    if (!listen(sources[0]))
        return fail("no amplifier: no MIDI input port whose name contains \"" + o.port + "\"");
    std::fflush(stdout);

    Clock& clock = steadyClock();
    const auto start = clock.now();
    for (int pass = 0; !interruptRequested(); ++pass) {
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

}  // namespace halvard::cli
