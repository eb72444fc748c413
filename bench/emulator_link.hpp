#pragma once
// What the JACK benchmarks measure against: the amplifier emulator as a child process and the
// editor's port pair opened on it (JACK only), with a mirror and a link context around them.

#include <cstdio>
#include <memory>

#include "device/link/platform_midi_ports.hpp"
#include "device/worker/worker.hpp"
#include "emulator_process.hpp"

namespace halvard::bench {

struct EmulatorLink {
    std::unique_ptr<e2e::EmulatorProcess> amp;
    std::unique_ptr<MidiPorts> ports;
    DeviceMirror mirror;
    LinkContext link;

    // Starts the emulator and opens its ports. -1 when ready; otherwise the exit code for main, after
    // a line that says why (0 without a JACK server: nothing to measure, 1 when something failed).
    int open(const char* bench) {
        using e2e::EmulatorProcess;
        if (!e2e::jackServerRuns()) {
            std::printf(
                "%s: no JACK server; start one (as ./scripts/test does) and set JACK_DEFAULT_SERVER\n",
                bench);
            return 0;
        }
        amp = std::make_unique<EmulatorProcess>();
        if (!amp->started() || !EmulatorProcess::waitFor([&] { return amp->portsOpen(); })) {
            std::printf("%s: the emulator did not start\n%s\n", bench, amp->transcript().c_str());
            return 1;
        }
        ports = makePlatformMidiPorts({.useAlsa = false});
        link.ui = &mirror;
        link.ports = ports.get();
        if (!EmulatorProcess::waitFor([&] { return openDevicePorts(link); })) {
            std::printf("%s: the emulator's ports were not found\n", bench);
            return 1;
        }
        return -1;
    }
};

}  // namespace halvard::bench
