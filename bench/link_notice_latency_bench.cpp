// From a change notice of the amplifier to the editor's first read request (the version read that
// starts the sync), over JACK against the amplifier emulator: 200 notices (or as many as given), each
// once the editor is connected and idle again, after a pause of 20-40 ms so that the notices land at
// every moment of the worker's sleep. Measured from just before the bench asks the emulator for the
// notice (over its control pipe; the emulator sends it in the next JACK cycle) to the moment the
// worker hands the request to its port, so the figure includes the pipe and the cycle. Goal: the
// 99th percentile at most 10 ms.
//
// Twice: the worker as it runs (woken by the input), and as it ran before, looking at the input
// every 50 ms while idle (the ports' reports of input withheld and a look at the lists every 50 ms).
//
//   build/bench/link_notice_latency_bench [notices]
//
// Uses the JACK server that runs, or starts a private one.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "device/link/platform_midi_ports.hpp"
#include "device/protocol/sysex.hpp"
#include "device/worker/worker.hpp"
#include "editor_worker.hpp"
#include "emulator_process.hpp"

using namespace halvard;
using namespace halvard::e2e;
using Steady = std::chrono::steady_clock;

namespace {

// The JACK ports, passed through, with the moment of the last version read sent; as before, the
// input's reports withheld and the lists due every 50 ms.
class TimedPorts final : public MidiPorts {
public:
    TimedPorts(MidiPorts& ports, bool asBefore) : ports_(ports), asBefore_(asBefore) {}
    std::atomic<Steady::rep> versionReadAt{0};

    int portCount(PortDirection d) override { return ports_.portCount(d); }
    std::string portName(PortDirection d, int index) override { return ports_.portName(d, index); }
    Steady::time_point listingCurrentUntil() override {
        return asBefore_ ? Steady::now() + std::chrono::milliseconds(50) : ports_.listingCurrentUntil();
    }
    void reportTo(Wakeup* wakeup) override {
        if (!asBefore_) ports_.reportTo(wakeup);
    }
    void openPort(PortDirection d, int index, const std::string& own) override {
        ports_.openPort(d, index, own);
    }
    void closePort(PortDirection d) override { ports_.closePort(d); }
    bool isPortOpen(PortDirection d) const override { return ports_.isPortOpen(d); }
    void ignoreTypes(IgnoredTypes types) override { ports_.ignoreTypes(types); }
    void installErrorHandler() override { ports_.installErrorHandler(); }
    void sendMessage(std::span<const uint8_t> message) override {
        if (message.size() > 2 && message[2] == kCodeVersion)
            versionReadAt = Steady::now().time_since_epoch().count();
        ports_.sendMessage(message);
    }
    std::span<const uint8_t> nextMessage() override { return ports_.nextMessage(); }

private:
    MidiPorts& ports_;
    bool asBefore_;
};

double ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The latencies in ms; empty when the link failed.
std::vector<double> run(EmulatorProcess& emulator, int notices, bool asBefore) {
    DeviceMirror mirror;
    LinkContext link;
    link.ui = &mirror;
    std::unique_ptr<MidiPorts> jack;
    std::atomic<TimedPorts*> timed{nullptr};
    link.worker = std::thread([&] {
        jack = makePlatformMidiPorts({.useAlsa = false});
        TimedPorts ports(*jack, asBefore);
        timed = &ports;
        link.ports = &ports;
        runDeviceWorker(link);
        timed = nullptr;
    });
    const auto connectedAndIdle = [&] {
        return EmulatorProcess::waitFor([&] { return mirror.linkState == LinkState::Connected; });
    };
    std::vector<double> latencies;
    if (connectedAndIdle()) {
        unsigned seed = 1;
        for (int i = 0; i < notices; ++i) {
            seed = seed * 1103515245u + 12345u;
            std::this_thread::sleep_for(std::chrono::milliseconds(20 + (seed >> 16) % 21));
            TimedPorts* ports = timed.load();
            if (ports == nullptr) break;
            const Steady::rep before = ports->versionReadAt.load();
            const Steady::time_point asked = Steady::now();
            if (emulator.command("notice").rfind("ok", 0) != 0) break;
            if (!EmulatorProcess::waitFor([&] { return ports->versionReadAt.load() != before; },
                                          std::chrono::seconds(5)))
                break;
            latencies.push_back(
                ms(Steady::time_point(Steady::duration(ports->versionReadAt.load())) - asked));
            if (!connectedAndIdle()) break;
        }
    }
    stopDeviceWorker(link);
    if (static_cast<int>(latencies.size()) < notices) return {};
    return latencies;
}

void print(const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))]; };
    std::printf("  %-40s min %6.2f   median %6.2f   p99 %6.2f   max %6.2f ms\n", what, v.front(), at(0.5),
                at(0.99), v.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int notices = argc > 1 ? std::max(1, std::stoi(argv[1])) : 200;
    std::string why;
    if (!ensureJackServer(&why)) {
        std::fprintf(stderr, "link_notice_latency_bench: %s\n", why.c_str());
        return 1;
    }
    EmulatorProcess emulator;
    if (!EmulatorProcess::waitFor([&] { return emulator.portsOpen(); })) {
        std::fprintf(stderr, "link_notice_latency_bench: the emulator did not open its ports\n%s",
                     emulator.transcript().c_str());
        return 1;
    }
    std::printf("change notice -> the editor's read request, %d notices (goal: p99 <= 10 ms)\n", notices);
    for (const bool asBefore : {false, true}) {
        const std::vector<double> latencies = run(emulator, notices, asBefore);
        if (latencies.empty()) {
            std::fprintf(stderr, "link_notice_latency_bench: the link failed\n%s",
                         emulator.transcript().c_str());
            return 1;
        }
        print(asBefore ? "as before (input looked at every 50 ms):" : "now (the input wakes the worker):",
              latencies);
    }
    return 0;
}
