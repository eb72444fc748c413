// One full frame of the panel's background work, drawn offscreen: the window fill, the amplifier
// picture with its overlays, and the rest of the panel approximated by the fills, masks and few
// dozen texts that a complete frame draws. Targets: median <= 4 ms at 1280 x 900 (scale 1) and
// <= 10 ms at 2560 x 1800 pixels (scale 2).
#include <benchmark/benchmark.h>

#include <cstdio>

#include "ui/ui.hpp"

namespace halvard {
namespace {

// The parts of a frame that the minimal Ui does not draw yet, in the numbers a complete panel has.
void drawPanelWork(Canvas& c, int w) {
    static const char* const kTexts[] = {"BYPASS", "CHANNEL", "REVERB", "TREMOLO", "LOOP BYPASS", "IR BYPASS",
                                         "HF COMP", "HF COMP", "RHYTHM CHANNEL", "LEAD CHANNEL", "MIDI CC LIST",
                                         "STORE PRESET", "PROGRAM CHANGE", "42", "OMNI", "MONO", "BYPASS LOCK",
                                         "REVERB TAILS", "NO IR SELECTED", "CRUNCH CAB 412", "VINTAGE 2X12",
                                         "NO IR SELECTED", "BRIGHT 1X12", "DARK ROOM", "FACTORY 07"};
    const int l = (w - 964) / 2;
    for (int i = 0; i < 6; ++i) {
        const int x = l + 250 + 120 * i;
        c.fillRect(x, 51, 110, 21, 10, kColorPanel);
        c.fillRect(x, 51, 40, 20, 10, i % 2 ? kColorAccent : kColorTrackOff);
        c.fillRect(x + (i % 2 ? 20 : 0), 51, 20, 20, 10, kColorTextLight);
    }
    for (int i = 0; i < 10; ++i) c.fillRect(0, 131 + 33 * i, 250, 33, 0, i % 2 ? kColorBand : kColorWell);
    for (int i = 0; i < 6; ++i) {
        const int y = 230 + 31 * i + (i >= 3 ? 200 : 0);
        c.fillRect(7, y + 10, 12, 12, 6, kColorTextLight);
        c.fillMask(178, y + 4, 23, 23, &assets::iconSlotSelect, kColorIconIdle);
        c.fillMask(204, y + 4, 23, 23, &assets::iconFolder, kColorIconIdle);
        c.fillMask(226, y + 4, 23, 23, &assets::iconPlus, kColorIconIdle);
    }
    c.fillMask(4, 136, 23, 23, &assets::iconWaveform, kColorAccent);
    c.fillMask(w - 34, 9, 23, 23, &assets::iconMidi, kColorTextDim);
    c.fillMask(7, 170, 48, 20, &assets::iconLowpass, kColorTextLight);
    c.fillMask(135, 170, 48, 20, &assets::iconHighpass, kColorTextLight);
    c.fillMask(w - 117, 15, 11, 11, &assets::iconArrowLeft, kColorTextDim);
    c.fillMask(w - 53, 15, 11, 11, &assets::iconArrowRight, kColorTextDim);
    int i = 0;
    for (const char* t : kTexts) {
        c.drawText(10 + (i % 5) * 200, 100 + (i / 5) * 40, 160, 20, kColorTextLight, i % 3, i % 3, 0, t, true);
        ++i;
    }
}

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
    platform.handler = [&](PlatformEvent e) {
        ui.onEvent(e);
        if (e == PlatformEvent::Paint) drawPanelWork(*platform.canvas, w);
    };
    OffscreenSurface surface(w, h, scale);
    paintWindow(platform, canvas, surface.context(), w, h);  // first frame: conversions, layouts
    for (auto _ : state) {
        paintWindow(platform, canvas, surface.context(), w, h);
        cairo_surface_flush(cairo_get_target(surface.context()));
    }
    state.SetLabel(std::to_string(surface.pixelWidth()) + "x" + std::to_string(surface.pixelHeight()) + " px");
}
BENCHMARK(frame)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The first frame of a fresh canvas: every asset converted and scaled, every layout made.
void firstFrame(benchmark::State& state) {
    PlatformState platform;
    Ui ui(platform);
    for (auto _ : state) {
        Canvas canvas;
        OffscreenSurface surface(1280, 900, 1.0);
        paintWindow(platform, canvas, surface.context(), 1280, 900);
    }
}
BENCHMARK(firstFrame)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace halvard

BENCHMARK_MAIN();
