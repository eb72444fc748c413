// What an editor left open, connected and idle, costs on Windows: the device worker on WinMM, as the
// editor runs it below its window, connected to the amplifier and with nothing to do, and the CPU
// its whole process takes (utime + stime), once with a pass every 5 ms (the input looked at on
// every pass) and once as it runs, asleep until input comes (or a command, or the next look at the
// port lists, every 500 ms). A Windows program; under Wine, through the Wine MIDI driver and bridge
// (tools/wine_midi) to the amplifier emulator on the JACK server:
//   scripts/wine-run --jack-midi build-windows/bench/link_idle_cpu_win32_bench.exe [seconds]
// (default 10 s each). Prints the figures; asserts nothing.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "device/link/platform_midi_ports.hpp"
#include "device/worker/worker.hpp"

using namespace halvard;

namespace {

double processCpuSeconds() {
    timespec ts{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) != 0) return -1;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The WinMM ports listed on every pass, so that the worker, connected and idle, still passes every
// 5 ms: as it ran before it slept between looks.
class InputEveryPass final : public MidiPorts {
public:
    explicit InputEveryPass(MidiPorts& ports) : ports_(ports) {}
    int portCount(PortDirection d) override { return ports_.portCount(d); }
    std::string portName(PortDirection d, int index) override { return ports_.portName(d, index); }
    void reportTo(Wakeup* wakeup) override { ports_.reportTo(wakeup); }
    void openPort(PortDirection d, int index, const std::string& own) override {
        ports_.openPort(d, index, own);
    }
    void closePort(PortDirection d) override { ports_.closePort(d); }
    bool isPortOpen(PortDirection d) const override { return ports_.isPortOpen(d); }
    bool portInUse(PortDirection d) const override { return ports_.portInUse(d); }
    void ignoreTypes(IgnoredTypes types) override { ports_.ignoreTypes(types); }
    void installErrorHandler() override { ports_.installErrorHandler(); }
    void sendMessage(std::span<const uint8_t> message) override { ports_.sendMessage(message); }
    std::span<const uint8_t> nextMessage() override { return ports_.nextMessage(); }

private:
    MidiPorts& ports_;
};

// Connects, waits for the sync to end and a moment more, then measures; -1 when the amplifier was
// not found within 20 s.
double idlePercent(bool everyPass, int seconds) {
    const std::unique_ptr<MidiPorts> winmm = makePlatformMidiPorts();
    InputEveryPass wrapped(*winmm);
    DeviceMirror mirror;
    LinkContext link;
    link.ui = &mirror;
    link.ports = everyPass ? static_cast<MidiPorts*>(&wrapped) : winmm.get();
    startDeviceWorker(link);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (mirror.linkState != LinkState::Connected && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    double percent = -1;
    if (mirror.linkState == LinkState::Connected) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double cpu = processCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        percent = 100 * (processCpuSeconds() - cpu) / seconds;
    }
    stopDeviceWorker(link);
    return percent;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::printf("connected and idle, the whole process over %d s, %% of one core:\n", seconds);
    for (const bool everyPass : {true, false}) {
        const double percent = idlePercent(everyPass, seconds);
        if (percent < 0) {
            std::printf(
                "link_idle_cpu_win32_bench: no amplifier among the MIDI ports (run it with "
                "scripts/wine-run --jack-midi while halvard-amp-emulator runs)\n");
            return 1;
        }
        std::printf("  the input looked at %-20s %.2f %%\n",
                    everyPass ? "every 5 ms pass:" : "as it comes (now):", percent);
    }
    return 0;
}
