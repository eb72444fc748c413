// Start-up and memory of the real editor: time from starting the process to its first painted
// frame on screen (target < 300 ms), and its peak resident memory while it runs (target < 120 MB).
// Needs an X display: xvfb-run -a -s "-screen 0 2600x1900x24" build/bench/startup_bench
// Prints the median and worst of several starts at scale 1, and at scale 2 when the screen has room.
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "editor_session.hpp"
#include "private_home.hpp"

namespace {

using namespace halvard::testing;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kAccent = 0xddcfbc;  // the bottom bar: painted once it shows
constexpr int kRuns = 7;

struct Run {
    double startupMs = -1;
    long peakKb = 0;
    int exitCode = -1;
};

Run startOnce(int scale) {
    Run run;
    XSession x;
    const auto start = Clock::now();
    const halvard::bench::PrivateHome home;
    EditorProcess editor(editorExecutable(), home.env({"GDK_SCALE=" + std::to_string(scale)}));
    const unsigned long window = x.findWindow("Halvard Editor", Millis(10000));
    if (!window) {
        std::fprintf(stderr, "startup_bench: no editor window appeared after %.0f ms (exit %d)\n",
                     std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
                     editor.waitForExit(Millis(0)).value_or(-1));
        return run;
    }
    const int bottom = 900 * scale - 3;
    if (!waitUntil([&] { return x.pixel(window, 3, bottom) == kAccent; }, Millis(10000), Millis(1))) {
        std::fprintf(stderr, "startup_bench: the window was not painted (pixel %06x)\n",
                     x.pixel(window, 3, bottom).value_or(0));
        return run;
    }
    run.startupMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    // Let it run: timer ticks, and a few repaints of the whole window.
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(Millis(200));
        x.exposeWindow(window);
    }
    run.peakKb = editor.peakResidentKb();
    x.sendCloseRequest(window);
    run.exitCode = editor.waitForExit(Millis(10000)).value_or(-1);
    return run;
}

void report(int scale) {
    std::vector<Run> runs;
    for (int i = 0; i < kRuns; ++i) runs.push_back(startOnce(scale));
    std::vector<double> times;
    long peak = 0;
    for (const Run& r : runs) {
        if (r.startupMs < 0 || r.exitCode != 0) {
            std::printf("scale %d: a start failed (startup %.1f ms, exit %d)\n", scale, r.startupMs,
                        r.exitCode);
            return;
        }
        times.push_back(r.startupMs);
        peak = std::max(peak, r.peakKb);
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "scale %d: start-up to first painted frame: median %.1f ms, worst %.1f ms (target < 300 ms)\n", scale,
        times[times.size() / 2], times.back());
    std::printf("scale %d: peak resident memory: %.1f MB (target < 120 MB)\n", scale, peak / 1024.0);
}

}  // namespace

int main() {
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "startup_bench: needs an X display (run it under xvfb-run)\n");
        return 2;
    }
    const int screenW = DisplayWidth(d, DefaultScreen(d));
    const int screenH = DisplayHeight(d, DefaultScreen(d));
    XCloseDisplay(d);
    report(1);
    if (screenW >= 2560 && screenH >= 1800) report(2);
    return 0;
}
