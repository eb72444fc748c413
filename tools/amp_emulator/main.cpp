// halvard-amp-emulator: a virtual amplifier on JACK or ALSA MIDI ports. See --help.

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulator.hpp"
#include "halvard_version.hpp"
#include "jack_amp_ports.hpp"
#include "rtmidi_amp_ports.hpp"

namespace {

using namespace halvard::emulator;

// Reads control lines from standard input until it ends or the emulator stops. Polls, so that a
// stop never waits on a read that may never return.
void readControlLines(Emulator& emulator) {
    std::string pending;
    char buffer[4096];
    while (!emulator.stopRequested()) {
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&fd, 1, 100);
        if (ready < 0 && errno != EINTR) return;
        if (ready <= 0) continue;
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) return;  // end of input (or, in the background, no terminal): the emulator runs on
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            emulator.deliverControl(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParsedCommandLine parsed = parseCommandLine(args);
    if (!parsed.error.empty()) {
        std::cerr << "halvard-amp-emulator: " << parsed.error << '\n';
        return 2;
    }
    if (parsed.help) {
        std::cout << helpText();
        return 0;
    }
    if (parsed.version) {
        std::cout << "halvard-amp-emulator " << halvard::kAppVersion << '\n';
        return 0;
    }
    const EmulatorOptions& options = parsed.options;

    MidiSystem system = MidiSystem::Auto;
    std::string error;
    if (!resolveMidiSystem(options.midiSystem, system, error)) {
        std::cerr << "halvard-amp-emulator: " << error << '\n';
        return 1;
    }

    // Signals: INT and TERM end the emulator in order (ports closed); a thread of its own waits for
    // them. Reading the terminal from the background must not stop the process, and a reader of
    // standard output that went away must not end it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGTTIN, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    // JACK through libjack (one client), the ALSA sequencer through RtMidi.
    std::unique_ptr<AmpPorts> ports;
    if (system == MidiSystem::Jack)
        ports = std::make_unique<JackAmpPorts>(options.portName);
    else
        ports = std::make_unique<RtMidiAmpPorts>(system, options.portName);
    Emulator emulator(options, *ports, std::cout, std::cerr);

    std::thread signalWaiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        emulator.requestStop();
    });
    std::thread controlReader;
    if (options.controlOnStdin) controlReader = std::thread(readControlLines, std::ref(emulator));

    std::cerr << "halvard-amp-emulator: " << ports->describe() << ", firmware "
              << versionText(initialState(options).version)
              << (options.controlOnStdin ? "; type \"help\" for the control commands" : "") << '\n';
    const bool ran = emulator.run();

    emulator.requestStop();
    pthread_kill(signalWaiter.native_handle(), SIGTERM);  // wakes the waiter if no signal came
    signalWaiter.join();
    if (controlReader.joinable()) controlReader.join();
    return ran ? 0 : 1;
}
