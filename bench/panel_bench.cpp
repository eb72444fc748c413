// The whole panel, drawn offscreen through the Ui as the window draws it, in its common states at
// 1280 x 900 DIPs (scale 1) and 2560 x 1800 pixels (scale 2). Targets: median <= 4 ms at scale 1
// and <= 10 ms at scale 2, for a plain repaint and for the repaint after a hover change.
//
// Heap allocations are counted by replacing operator new in this program: the figure
// "allocs/frame" is the number made per frame after the first one in the same state (target 0).
#include <benchmark/benchmark.h>

#include <string>

#include "allocation_counter.hpp"
#include "ui/ui.hpp"

namespace halvard {
namespace {

enum class PanelState : int64_t {
    Connected = 0,      // the everyday state: no veil, IR panel closed
    IrPanelList = 1,    // IR panel open with its factory list, CC list open
    IrPanelText = 2,    // IR panel open with the description and the response plot
    BusyFirmware = 3,   // veil, percentage and the firmware warning
    NoDevice = 4,       // veil over everything
    IrPanelBrowse = 5,  // IR panel with the description and the plot, the next entry every frame
};

const char* stateName(PanelState s) {
    switch (s) {
        case PanelState::Connected:
            return "connected";
        case PanelState::IrPanelList:
            return "ir-panel+list+cc";
        case PanelState::IrPanelText:
            return "ir-panel";
        case PanelState::BusyFirmware:
            return "busy-firmware";
        case PanelState::NoDevice:
            return "no-device";
        case PanelState::IrPanelBrowse:
            return "ir-panel, browsing";
    }
    return "?";
}

void setUp(Ui& ui, PanelState state) {
    ProgramSettings r;
    r.reverb[0] = 1;
    r.tremolo[0] = 1;
    r.ir[0] = 0;
    r.ir[1] = 1;
    r.filterA[0] = r.filterA[1] = 2;
    r.filterB[0] = r.filterB[1] = 1;
    r.loaded = 1;
    ui.setRecord(0, r);
    SlotName name;
    name.assign("CLOSED 412.WAV");
    ui.setSlotName(0, name);
    name.assign("ROOM MIC BLEND");
    ui.setSlotName(4, name);
    ui.firmwareVersion = 0x0103;
    ui.linkState = LinkState::Connected;
    switch (state) {
        case PanelState::Connected:
            break;
        case PanelState::IrPanelList:
            ui.irPanelSlot = 2;
            ui.factoryListOpen = true;
            ui.factoryIrIndex = 6;
            ui.ccListOpen = true;
            break;
        case PanelState::IrPanelText:
            ui.irPanelSlot = 2;
            ui.factoryIrIndex = 12;
            break;
        case PanelState::BusyFirmware:
            ui.linkState = LinkState::Busy;
            ui.progress = 57;
            ui.availableFirmware = 0x0104;
            break;
        case PanelState::NoDevice:
            ui.linkState = LinkState::NoDevice;
            break;
        case PanelState::IrPanelBrowse:
            ui.irPanelSlot = 2;
            break;
    }
}

// range(0): the scale (1 or 2); range(1): the PanelState; range(2): 1 to move the pointer between
// two controls before each frame, so every frame is a hover repaint.
void panelFrame(benchmark::State& bench) {
    const int w = 1280;
    const int h = 900;
    const double scale = static_cast<double>(bench.range(0));
    const auto state = static_cast<PanelState>(bench.range(1));
    const bool hover = bench.range(2) != 0;

    PlatformState platform;
    platform.dpi = static_cast<float>(96.0 * scale);
    Ui ui(platform);
    setUp(ui, state);
    Canvas canvas;
    OffscreenSurface surface(w, h, scale);
    // Two pointer positions over two controls that are live in this state: the program arrows, or
    // the IR panel's arrows while it is open (the main area is dead then).
    const bool panel = ui.irPanelSlot > 0;
    const int p = (w + 30) / 2;
    const int x0 = panel ? 263 : p + 16;
    const int x1 = panel ? 486 : p + 203;
    const int32_t xs[2] = {static_cast<int32_t>(x0 * scale), static_cast<int32_t>(x1 * scale)};
    const int32_t y = static_cast<int32_t>(20 * scale);

    // First frames: assets converted and scaled, layouts made, regions registered, for both hovers
    // and, when browsing, for every entry.
    const bool browse = state == PanelState::IrPanelBrowse;
    for (int i = 0; i < 2; ++i) {
        platform.pointerX = xs[i];
        platform.pointerY = y;
        platform.raise(PlatformEvent::PointerMove);
        paintWindow(platform, canvas, surface.target(), w, h);
    }
    for (int entry = 0; browse && entry < kFactoryIrCount; ++entry) {
        ui.factoryIrIndex = entry;
        paintWindow(platform, canvas, surface.target(), w, h);
    }

    long frames = 0;
    const long before = gAllocations.load();
    int turn = 0;
    for (auto _ : bench) {
        if (hover) {
            turn ^= 1;
            platform.pointerX = xs[turn];
            platform.raise(PlatformEvent::PointerMove);
        }
        if (browse) ui.factoryIrIndex = (ui.factoryIrIndex + 1) % kFactoryIrCount;
        paintWindow(platform, canvas, surface.target(), w, h);
        surface.flush();
        ++frames;
    }
    const long allocations = gAllocations.load() - before;
    bench.counters["allocs/frame"] =
        frames > 0 ? static_cast<double>(allocations) / static_cast<double>(frames) : 0;
    bench.SetLabel(std::string(stateName(state)) + (hover ? ", hover" : "") + ", " +
                   std::to_string(surface.pixelWidth()) + "x" + std::to_string(surface.pixelHeight()) +
                   " px");
}

void arguments(benchmark::internal::Benchmark* b) {
    for (int64_t scale : {1, 2}) {
        for (int64_t s = 0; s <= 5; ++s) b->Args({scale, s, 0});
        b->Args({scale, static_cast<int64_t>(PanelState::Connected), 1});
        b->Args({scale, static_cast<int64_t>(PanelState::IrPanelList), 1});
    }
}
BENCHMARK(panelFrame)
    ->Apply(arguments)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace halvard

BENCHMARK_MAIN();
