// The device worker's CPU use while idle, first connected to the amplifier emulator, then with
// the emulator's ports gone (no amplifier): CPU time of the worker thread (and of the whole editor
// side: worker plus the MIDI library's threads) over 10 s each, as a fraction of one core.
// Targets: the worker at most 0.5 % connected, at most 0.2 % with no amplifier.
//
//   build/bench/link_idle_cpu_bench [seconds]
//
// Uses the JACK server that runs, or starts a private one.

#include <pthread.h>
#include <sys/resource.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "editor_worker.hpp"
#include "emulator_process.hpp"

using namespace halvard;
using namespace halvard::e2e;

namespace {

double threadCpuSeconds(std::thread& t) {
    clockid_t clock;
    if (pthread_getcpuclockid(t.native_handle(), &clock) != 0) return -1;
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double processCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// CPU shares over `seconds` in `state`; false if the link left that state meanwhile.
bool measure(EditorWorker& worker, double seconds, LinkState state, const char* what, double targetPercent) {
    const auto wall0 = std::chrono::steady_clock::now();
    const double worker0 = threadCpuSeconds(worker.link.worker);
    const double process0 = processCpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double workerShare = (threadCpuSeconds(worker.link.worker) - worker0) / wall;
    const double processShare = (processCpuSeconds() - process0) / wall;
    const bool stayed = worker.state() == state;

    std::printf("%s for %.1f s (%s)\n", what, wall, stayed ? "state kept" : "link changed meanwhile!");
    std::printf("  worker thread:            %6.2f %% of one core   (target <= %.1f %%)\n", 100 * workerShare,
                targetPercent);
    std::printf("  editor side, all threads: %6.2f %% of one core   (worker + the MIDI library's threads)\n",
                100 * processShare);
    return stayed;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::stod(argv[1]) : 10.0;
    std::string why;
    if (!ensureJackServer(&why)) {
        std::fprintf(stderr, "link_idle_cpu_bench: %s\n", why.c_str());
        return 1;
    }
    EmulatorProcess emulator;
    if (!EmulatorProcess::waitFor([&] { return emulator.portsOpen(); })) {
        std::fprintf(stderr, "link_idle_cpu_bench: the emulator did not open its ports\n%s",
                     emulator.transcript().c_str());
        return 1;
    }
    EditorWorker worker;
    if (!worker.waitForState(LinkState::Connected)) {
        std::fprintf(stderr, "link_idle_cpu_bench: no connection (%s)\n", stateName(worker.state()));
        return 1;
    }

    if (!measure(worker, seconds, LinkState::Connected, "connected and idle", 0.5)) return 1;
    if (emulator.command("unplug") != "ok unplugged" || !worker.waitForState(LinkState::NoDevice)) {
        std::fprintf(stderr, "link_idle_cpu_bench: the emulator's ports did not go\n");
        return 1;
    }
    if (!measure(worker, seconds, LinkState::NoDevice, "no amplifier", 0.2)) return 1;
    return 0;
}
