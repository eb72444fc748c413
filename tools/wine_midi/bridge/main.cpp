// halvard-wine-midi-bridge: the Linux side of Windows MIDI under Wine. The driver winehalvardmidi.drv
// in a Windows program connects to it over loopback TCP; its WinMM devices are this JACK server's
// MIDI ports. A test tool, started by scripts/wine-run --jack-midi and by the tests' fixture.

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "bridge.hpp"
#include "halvard_version.hpp"

namespace {

constexpr const char* kHelp = R"(Usage: halvard-wine-midi-bridge [OPTIONS]
Lets Windows programs under Wine (with the driver winehalvardmidi.drv) use the MIDI ports of the JACK
server that JACK_DEFAULT_SERVER names: each input port there is a WinMM output device, each output
port a WinMM input device, named after the port (at most 31 characters, keeping "VDR").
HALVARD_WINE_MIDI_TOKEN must hold a secret of 16 to 128 printable characters: the driver and every
control connection open with it (a line "HWM1 TOKEN driver" or "HWM1 TOKEN control"), and a
connection that does not is closed unanswered. scripts/wine-run and scripts/test-service make one.

  --port N          listen on 127.0.0.1:N (default: a free port)
  --port-file FILE  write the port number into FILE once listening
  --no-control      ignore standard input
  --log             log every message relayed (standard error)
  --help, --version

Control commands, one a line on standard input or on a TCP control connection, answered with one
line ("ok ..." or "error ..."):
  status              drivers, open devices, opens, refused opens, messages each way, opens left
                      unanswered, connections refused for want of the token, connections dropped
                      for not reading
  ports               the devices a driver connecting now would list
  hold TEXT           ports whose names contain TEXT are held by another program: opening them
                      fails with MMSYSERR_ALLOCATED (release [TEXT] ends that)
  unplug TEXT         ports whose names contain TEXT are away: open devices fail with
                      MMSYSERR_NODRIVER (plug [TEXT] brings them back)
  stall TEXT          opens of ports whose names contain TEXT are not answered (the driver gives
                      up after its own time limit), as a device that hangs
  reset               release and plug everything, counters to 0
  quit
)";

bool writePortFile(const std::string& path, uint16_t port) {
    const std::string temporary = path + ".part";
    {
        std::ofstream file(temporary);
        file << port << '\n';
        if (!file) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    uint16_t port = 0;
    std::string portFile;
    bool control = true;
    bool logMessages = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::cout << kHelp;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "halvard-wine-midi-bridge " << halvard::kAppVersion << '\n';
            return 0;
        }
        if (arg == "--no-control") {
            control = false;
        } else if (arg == "--log") {
            logMessages = true;
        } else if ((arg == "--port" || arg == "--port-file") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--port-file") {
                portFile = value;
            } else {
                char* end = nullptr;
                const long n = std::strtol(value.c_str(), &end, 10);
                if (*end != '\0' || n < 0 || n > 65535) {
                    std::cerr << "halvard-wine-midi-bridge: --port takes 0 to 65535\n";
                    return 2;
                }
                port = static_cast<uint16_t>(n);
            }
        } else {
            std::cerr << "halvard-wine-midi-bridge: unknown option \"" << arg << "\" (see --help)\n";
            return 2;
        }
    }

    // INT and TERM end the loop in order (links closed, client closed); a thread waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGTTIN, SIG_IGN);

    const char* token = std::getenv(halvard::winemidi::kTokenVariable);
    if (token == nullptr || !halvard::winemidi::validToken(token)) {
        std::cerr << "halvard-wine-midi-bridge: " << halvard::winemidi::kTokenVariable
                  << " must hold 16 to 128 printable characters (see --help)\n";
        return 2;
    }
    halvard::winemidi::JackSide jack;
    std::string error;
    if (!jack.open(error)) {
        std::cerr << "halvard-wine-midi-bridge: " << error << '\n';
        return 1;
    }
    halvard::winemidi::Bridge bridge(jack, token, std::cout, std::cerr, logMessages);
    if (!bridge.listen(port, error)) {
        std::cerr << "halvard-wine-midi-bridge: " << error << '\n';
        return 1;
    }
    if (!portFile.empty() && !writePortFile(portFile, bridge.port())) {
        std::cerr << "halvard-wine-midi-bridge: cannot write " << portFile << '\n';
        return 1;
    }
    std::cerr << "halvard-wine-midi-bridge: listening on 127.0.0.1:" << bridge.port() << '\n';

    std::thread signalWaiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        bridge.requestStop();
    });
    const bool ok = bridge.run(control);
    bridge.requestStop();
    pthread_kill(signalWaiter.native_handle(), SIGTERM);  // wakes the waiter if no signal came
    signalWaiter.join();
    if (!portFile.empty()) std::remove(portFile.c_str());
    return ok ? 0 : 1;
}
