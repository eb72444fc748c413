// One full frame of the panel, drawn offscreen through the Ui, and the first frame of a fresh
// canvas. Targets: median <= 4 ms at 1280 x 900 (scale 1) and <= 10 ms at 2560 x 1800 pixels
// (scale 2). bench/panel_bench covers the panel's other states, hover repaints and allocations.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "ui/ui.hpp"

namespace halvard {
namespace {

void frame(benchmark::State& state) {
    const int w = 1280;
    const int h = 900;
    const double scale = static_cast<double>(state.range(0));
    PlatformState platform;
    Ui ui(platform);
    ProgramSettings r;
    r.reverb[0] = 1;
    r.tremolo[0] = 1;
    r.ir[0] = 0;
    r.ir[1] = 1;
    ui.setRecord(0, r);
    ui.linkState = LinkState::Connected;
    ui.firmwareVersion = 0x0103;
    Canvas canvas;
    OffscreenSurface surface(w, h, scale);
    paintWindow(platform, canvas, surface.target(), w, h);  // first frame: conversions, layouts
    for (auto _ : state) {
        paintWindow(platform, canvas, surface.target(), w, h);
        surface.flush();
    }
    state.SetLabel(std::to_string(surface.pixelWidth()) + "x" + std::to_string(surface.pixelHeight()) +
                   " px");
}
BENCHMARK(frame)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The first frame of a fresh canvas: every asset converted and scaled, every layout made.
void firstFrame(benchmark::State& state) {
    PlatformState platform;
    Ui ui(platform);
    for (auto _ : state) {
        Canvas canvas;
        OffscreenSurface surface(1280, 900, 1.0);
        paintWindow(platform, canvas, surface.target(), 1280, 900);
    }
}
BENCHMARK(firstFrame)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace halvard

BENCHMARK_MAIN();
