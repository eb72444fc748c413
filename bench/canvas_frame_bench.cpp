// One panel frame drawn offscreen through the Ui on this build's canvas back end (Cairo and Pango on
// Linux, Direct2D and DirectWrite on Windows), at scale 1 (1280 x 900 pixels) and scale 2
// (2560 x 1800): the first frame of a fresh canvas, then the median of repeated frames. A plain
// program, so that the same frames are timed on both systems.
//
//   canvas_frame_bench [frames]   (default 20)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_panel.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace halvard;
    const int frames = std::max(1, argc > 1 ? std::atoi(argv[1]) : 20);
    for (const int scale : {1, 2}) {
        PlatformState platform;
        Ui ui(platform);
        setBenchmarkPanel(ui);  // the state bench/frame_bench draws

        Canvas canvas;
        OffscreenSurface surface(1280, 900, scale);
        Clock::time_point start = Clock::now();
        paintWindow(platform, canvas, surface.target(), 1280, 900);
        surface.flush();
        const double first = millisecondsSince(start);
        std::vector<double> times;
        for (int i = 0; i < frames; ++i) {
            start = Clock::now();
            paintWindow(platform, canvas, surface.target(), 1280, 900);
            surface.flush();
            times.push_back(millisecondsSince(start));
        }
        std::sort(times.begin(), times.end());
        std::printf(
            "scale %d (%d x %d px): first frame %.1f ms; then median %.2f ms, fastest %.2f ms over %d "
            "frames\n",
            scale, surface.pixelWidth(), surface.pixelHeight(), first, times[times.size() / 2], times.front(),
            frames);
    }
    return 0;
}
