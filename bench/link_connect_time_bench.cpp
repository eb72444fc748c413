// Time from the amplifier's ports appearing to Connected, with the emulator plugged in again and
// again while the worker runs: the discovery (ports there until the worker starts its sync, "READING")
// and the sync's exchanges (version, settings, six slot names) until Connected. Target: discovery
// under 150 ms; the total under 150 ms plus the sync.
//
//   build/bench/link_connect_time_bench [rounds]
//
// Uses the JACK server that runs, or starts a private one.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "editor_worker.hpp"
#include "emulator_process.hpp"

using namespace halvard;
using namespace halvard::e2e;
using Steady = std::chrono::steady_clock;

namespace {

double ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void print(const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    std::printf("  %-34s min %7.1f   median %7.1f   max %7.1f ms\n", what, v.front(), v[v.size() / 2],
                v.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 10;
    std::string why;
    if (!ensureJackServer(&why)) {
        std::fprintf(stderr, "link_connect_time_bench: %s\n", why.c_str());
        return 1;
    }
    EmulatorProcess emulator;
    if (!EmulatorProcess::waitFor([&] { return emulator.portsOpen(); }) ||
        emulator.command("unplug") != "ok unplugged") {
        std::fprintf(stderr, "link_connect_time_bench: the emulator does not answer\n%s",
                     emulator.transcript().c_str());
        return 1;
    }
    EditorWorker worker;

    std::vector<double> discovery, sync, total;
    for (int round = 0; round < rounds; ++round) {
        if (!worker.waitForState(LinkState::NoDevice)) return 1;
        // The reply comes once the ports exist: that is the moment they appear.
        if (emulator.command("plug") != "ok plugged") return 1;
        const Steady::time_point appeared = Steady::now();
        Steady::time_point busy{};
        // Polled finely: the worker spends a pass or so on each step.
        for (;;) {
            const LinkState s = worker.state();
            if (s != LinkState::NoDevice && busy == Steady::time_point{}) busy = Steady::now();
            if (s == LinkState::Connected) break;
            if (s == LinkState::Error || Steady::now() - appeared > std::chrono::seconds(10)) {
                std::fprintf(stderr, "round %d: no connection (%s)\n", round, stateName(s));
                return 1;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        const Steady::time_point connected = Steady::now();
        discovery.push_back(ms(busy - appeared));
        sync.push_back(ms(connected - busy));
        total.push_back(ms(connected - appeared));
        emulator.command("unplug");
    }

    std::printf("emulator ports appearing -> Connected, %d rounds over JACK\n", rounds);
    print("ports appear -> sync starts", discovery);
    print("sync (8 exchanges) -> Connected", sync);
    print("ports appear -> Connected", total);
    std::printf("  target: the discovery under 150 ms\n");
    return 0;
}
