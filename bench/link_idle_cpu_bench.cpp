// CPU use of an editor left open, first connected to the amplifier emulator and idle, then with the
// emulator's ports gone (no amplifier), over 10 s each, as a fraction of one core:
//  - the editor's device worker and port back end in this process, without the window (what the
//    editor runs below its window): the worker thread alone, and the whole process;
//  - the real editor (halvard-editor, window and all) when there is an X display to show it on:
//    the whole process, from /proc/PID/stat, as a user's tools would show it;
//  - an empty JACK client measured in the same run (a process whose one client has one MIDI input
//    port, connected to the amplifier's output as the editor's is, and a process callback that only
//    reads it): the floor of any client that must hear the amplifier; and the editor's figure less
//    that floor;
//  - the JACK server, for reference: every client in its graph adds work to each of its cycles.
// Goals: connected, at most 0.1 % of a core more than the empty client; with no amplifier, at most
// 0.1 % (the worker, and the whole editor process).
//
//   build/bench/link_idle_cpu_bench [seconds]
//   xvfb-run -a build/bench/link_idle_cpu_bench [seconds]     # with the real editor as well
//
// Uses the JACK server that runs, or starts a private one (dummy backend, 48 kHz, 64 frames,
// synchronous mode).

#include <jack/jack.h>
#include <jack/midiport.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "editor_worker.hpp"
#include "emulator_process.hpp"
#include "private_home.hpp"
#ifdef HALVARD_BENCH_EDITOR_PROCESS
#include "editor_session.hpp"
#endif

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

double ownCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// The CPU time of another process (utime + stime, as top and ps count them, but to the nanosecond
// rather than the clock tick); -1 when it cannot be read.
double processCpuSeconds(pid_t pid) {
    clockid_t clock;
    timespec ts{};
    if (pid <= 0 || clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &ts) != 0) return -1;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The thread's own CPU clock: on Linux the thread id, inverted, with the per-thread and the
// scheduler-time bits (what pthread_getcpuclockid gives; readable for this process's threads only).
clockid_t threadClock(pid_t tid) {
    return static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 4 | 2);
}

// The CPU time of every thread of a process so far, by thread id: for this process to the
// nanosecond, for another in /proc's clock ticks (utime + stime).
std::map<pid_t, double> threadsCpuSeconds(pid_t pid) {
    std::map<pid_t, double> seconds;
    std::error_code error;
    const bool own = pid == getpid();
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        const auto tid = static_cast<pid_t>(std::stol(task.path().filename().string()));
        if (own) {
            timespec ts{};
            if (clock_gettime(threadClock(tid), &ts) == 0)
                seconds[tid] = static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
            continue;
        }
        std::ifstream stat(task.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // The fields after the thread name (which may hold spaces) start with the state, field 3.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string field;
        unsigned long long ticks = 0;
        for (int n = 3; n <= 15 && fields >> field; ++n)
            if (n == 14 || n == 15) ticks += std::stoull(field);
        seconds[tid] = static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return seconds;
}

// A thread's name as the system has it.
std::string threadName(pid_t pid, pid_t tid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// The JACK server this process talks to: the jackd whose -n names $JACK_DEFAULT_SERVER (or
// "default"). -1 when it is not found.
pid_t jackServerPid() {
    const char* env = std::getenv("JACK_DEFAULT_SERVER");
    const std::string name = env && *env ? env : "default";
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream cmdline(entry.path() / "cmdline");
        std::vector<std::string> args;
        for (std::string arg; std::getline(cmdline, arg, '\0');) args.push_back(arg);
        if (args.empty() || std::filesystem::path(args[0]).filename().string().rfind("jackd", 0) != 0)
            continue;
        std::string serverName = "default";
        for (size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == "-n" || args[i] == "--name") serverName = args[i + 1];
        if (serverName == name) return static_cast<pid_t>(std::stol(entry.path().filename().string()));
    }
    return -1;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

void printServer() {
    jack_client_t* probe = jack_client_open("halvard idle bench probe", JackNoStartServer, nullptr);
    if (probe == nullptr) return;
    const jack_nframes_t rate = jack_get_sample_rate(probe);
    const jack_nframes_t frames = jack_get_buffer_size(probe);
    std::printf("JACK server: %u Hz, %u frames a cycle (%.0f cycles a second); load average %s\n", rate,
                frames, static_cast<double>(rate) / frames, loadAverage().c_str());
    jack_client_close(probe);
}

// The least a process with a JACK client that hears the amplifier can cost: a child process whose one
// client has one MIDI input port, connected to the first MIDI output port whose name holds "VDR" (as
// the editor's input is), and a process callback that only reads it. Measured beside the editor, it
// shows what of the editor's figure any such client costs, under the same load of the machine. Ended
// (by its process id) when the object goes.
class EmptyJackClientProcess {
public:
    EmptyJackClientProcess() {
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ != 0) return;
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        jack_client_t* client =
            jack_client_open("halvard idle bench empty client", JackNoStartServer, nullptr);
        if (client == nullptr) _exit(1);
        static jack_port_t* in = nullptr;
        static volatile uint32_t events = 0;
        in = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (in == nullptr ||
            jack_set_process_callback(
                client,
                [](jack_nframes_t frames, void*) {
                    events = events + jack_midi_get_event_count(jack_port_get_buffer(in, frames));
                    return 0;
                },
                nullptr) != 0 ||
            jack_activate(client) != 0)
            _exit(1);
        // The emulator starts after this process is made (no fork once threads run), and its ports
        // come and go: while the input is not connected, the amplifier's port is looked for every
        // 10 ms; while it is, every second (a look at the connection reads shared memory only).
        for (;;) {
            const bool connected = jack_port_connected(in) != 0;
            if (!connected) {
                if (const char** amp =
                        jack_get_ports(client, "VDR", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput)) {
                    jack_connect(client, amp[0], jack_port_name(in));
                    jack_free(amp);
                }
            }
            usleep(connected ? 1000000 : 10000);
        }
    }
    ~EmptyJackClientProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    EmptyJackClientProcess(const EmptyJackClientProcess&) = delete;
    EmptyJackClientProcess& operator=(const EmptyJackClientProcess&) = delete;

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

double percent(double cpuSeconds, double wallSeconds) {
    return cpuSeconds < 0 ? -1 : 100 * cpuSeconds / wallSeconds;
}

// CPU shares over `seconds` of the given clocks, by name. A clock that reads -1 is left out.
struct Meter {
    const char* label;
    std::function<double()> cpuSeconds;
    const char* note;
};

// Also the share of every thread of process `threadsOf` (when given) that used any, with its
// name and what role(tid) says of it.
// Returns the shares, in the meters' order (-1 for one left out).
std::vector<double> measure(double seconds, const char* what, std::vector<Meter> meters,
                            const std::function<bool()>& stayed, pid_t threadsOf = -1,
                            const std::function<std::string(pid_t)>& role = nullptr) {
    std::vector<double> shares(meters.size(), -1);
    std::vector<double> start;
    for (const Meter& m : meters) start.push_back(m.cpuSeconds());
    const std::map<pid_t, double> threadsAtStart =
        threadsOf > 0 ? threadsCpuSeconds(threadsOf) : std::map<pid_t, double>();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    std::printf("  %s for %.1f s (%s)\n", what, wall,
                stayed() ? "state kept" : "the link changed meanwhile!");
    for (size_t i = 0; i < meters.size(); ++i) {
        const double end = meters[i].cpuSeconds();
        if (start[i] < 0 || end < 0) continue;
        shares[i] = percent(end - start[i], wall);
        std::printf("    %-28s %6.2f %% of one core   %s\n", meters[i].label, shares[i], meters[i].note);
    }
    if (threadsOf <= 0) return shares;
    for (const auto& [tid, end] : threadsCpuSeconds(threadsOf)) {
        const auto before = threadsAtStart.find(tid);
        const double share = percent(end - (before == threadsAtStart.end() ? 0 : before->second), wall);
        if (share < 0.005) continue;
        const std::string name = threadName(threadsOf, tid) + (role ? " " + role(tid) : "");
        std::printf("      thread %-8d %-19s %6.2f %%\n", static_cast<int>(tid), name.c_str(), share);
    }
    return shares;
}

// The whole process's share less the empty client's, measured over the same time.
void printOverFloor(const std::vector<double>& shares, size_t process, size_t floor) {
    if (shares[process] < 0 || shares[floor] < 0) return;
    std::printf("    %-28s %+6.2f %% of one core   (goal <= +0.10 %%)\n", "whole process - empty client",
                shares[process] - shares[floor]);
}

// The worker and the port back end in this process.
bool measureInProcess(EmulatorProcess& emulator, double seconds, pid_t server, const Meter& floor) {
    std::printf("In this process: the editor's device worker and MIDI port back end, without the window\n");
    EditorWorker worker;
    if (!worker.waitForState(LinkState::Connected)) {
        std::fprintf(stderr, "link_idle_cpu_bench: no connection (%s)\n", stateName(worker.state()));
        return false;
    }
    // The worker's and the main thread's by their ids; the JACK client's threads are the others.
    clockid_t workerClock;
    pthread_getcpuclockid(worker.link.worker.native_handle(), &workerClock);
    const auto role = [&](pid_t tid) -> std::string {
        if (tid == getpid()) return "(main)";
        return threadClock(tid) == workerClock ? "(worker)" : "";
    };
    const auto meters = [&](const char* target) {
        return std::vector<Meter>{
            {"worker thread", [&] { return threadCpuSeconds(worker.link.worker); }, target},
            {"whole process", [] { return ownCpuSeconds(); }, target},
            {"JACK server", [&] { return processCpuSeconds(server); }, "(for reference)"}};
    };
    std::vector<Meter> connected = meters("");
    connected.push_back(floor);
    const std::vector<double> shares = measure(
        seconds, "connected and idle", connected, [&] { return worker.state() == LinkState::Connected; },
        getpid(), role);
    printOverFloor(shares, 1, 3);
    if (emulator.command("unplug") != "ok unplugged" || !worker.waitForState(LinkState::NoDevice)) {
        std::fprintf(stderr, "link_idle_cpu_bench: the emulator's ports did not go\n");
        return false;
    }
    measure(seconds, "no amplifier", meters("(goal <= 0.1 %)"),
            [&] { return worker.state() == LinkState::NoDevice; });
    return true;
}

#ifdef HALVARD_BENCH_EDITOR_PROCESS
// The real editor on the X display. Its state is read from the window: the veil over the panel
// goes once it is connected and idle, and comes back when the amplifier goes.
bool measureEditor(EmulatorProcess& emulator, double seconds, pid_t server, const Meter& floor) {
    using namespace halvard::testing;
    XSession x;
    if (!x.connected()) {
        std::printf("The real editor: not measured (no X display; run under xvfb-run)\n");
        return true;
    }
    const bench::PrivateHome home;
    EditorProcess editor(editorExecutable(), home.env());
    const unsigned long window = x.findWindow("Halvard Editor", Millis(20000));
    if (window == 0 || !showsConnectedPanel(x, window)) {
        std::fprintf(stderr, "link_idle_cpu_bench: the editor did not show the connected panel\n");
        return false;
    }
    std::printf("The real editor: %s (pid %d), window and all\n", editorExecutable().c_str(),
                static_cast<int>(editor.pid()));
    const auto unveiled = [&] { return x.pixel(window, 125, 400) == kUnveiledPanel; };
    const auto meters = [&](const char* target) {
        return std::vector<Meter>{
            {"whole process", [&] { return processCpuSeconds(editor.pid()); }, target},
            {"JACK server", [&] { return processCpuSeconds(server); }, "(for reference)"}};
    };
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the last repaints after the sync
    std::vector<Meter> connected = meters("");
    connected.push_back(floor);
    const std::vector<double> shares =
        measure(seconds, "connected and idle", connected, unveiled, editor.pid(),
                [&](pid_t tid) { return tid == editor.pid() ? std::string("(main)") : std::string(); });
    printOverFloor(shares, 0, 2);
    if (emulator.command("unplug") != "ok unplugged" ||
        !waitUntil([&] { return !unveiled(); }, Millis(10000), Millis(20))) {
        std::fprintf(stderr, "link_idle_cpu_bench: the editor did not notice the amplifier going\n");
        return false;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    measure(seconds, "no amplifier", meters("(goal <= 0.1 %)"), [&] { return !unveiled(); });
    x.sendCloseRequest(window);
    editor.waitForExit(Millis(10000));
    return true;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::stod(argv[1]) : 10.0;
    std::string why;
    if (!ensureJackServer(&why)) {
        std::fprintf(stderr, "link_idle_cpu_bench: %s\n", why.c_str());
        return 1;
    }
    printServer();
    const pid_t server = jackServerPid();
    // Before this process has threads of its own.
    const EmptyJackClientProcess empty;
    const Meter floor{"an empty JACK client", [&] { return processCpuSeconds(empty.pid()); },
                      "(the floor: one MIDI input, a callback that only reads it)"};
    EmulatorProcess emulator;
    if (!EmulatorProcess::waitFor([&] { return emulator.portsOpen(); })) {
        std::fprintf(stderr, "link_idle_cpu_bench: the emulator did not open its ports\n%s",
                     emulator.transcript().c_str());
        return 1;
    }
    if (!measureInProcess(emulator, seconds, server, floor)) return 1;
#ifdef HALVARD_BENCH_EDITOR_PROCESS
    if (emulator.command("plug") != "ok plugged" || !measureEditor(emulator, seconds, server, floor))
        return 1;
#endif
    std::printf("load average at the end %s\n", loadAverage().c_str());
    return 0;
}
