#pragma once
// The real port pair. On Linux (device/alsa_jack/): RtMidi on the ALSA sequencer and, while a JACK
// server runs, one JACK client of our own on libjack (device/jack/); ports of both systems form one
// list per direction, ALSA's first. On Windows (device/winmm/): RtMidi on WinMM, which takes no
// options.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "device/link/midi_ports.hpp"
#include "util/amplifier_port_tag.hpp"

namespace halvard {

struct RtMidiPortsOptions {
    bool useAlsa = true;
    bool useJack = true;
    // How often to look for a JACK server while none is known to run. Looking costs a few
    // milliseconds of connection attempt, so it is never done on every pass.
    std::chrono::milliseconds jackProbeInterval{3000};
    // Our JACK client's name, as other programs show it ("Halvard Editor:midi Input").
    std::string jackClientName = "Halvard Editor";
    // The ports about to be opened are those whose names contain this: JACK makes ready for them
    // as soon as one appears (empty: when a port is opened).
    std::string amplifierPortTag{kAmplifierPortTag};
};

// What the input queue of the RtMidi back ends holds (ALSA and WinMM): far more than the amplifier
// sends between two of the worker's looks (a MIDI cable carries some 600 of its shortest messages a
// second; the clock and active sensing are dropped before the queue). A message that finds it full
// is lost, as RtMidi's own queue would lose it.
inline constexpr size_t kInputQueueLimit = 1024;

// Create on the thread that will use the ports (the worker) and use them from that thread only.
// Never throws: a MIDI system that cannot be reached simply offers no ports.
std::unique_ptr<MidiPorts> makePlatformMidiPorts(const RtMidiPortsOptions& options = {});

}  // namespace halvard
