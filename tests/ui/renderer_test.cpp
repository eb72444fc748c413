// The panel drawn offscreen, probed at the coordinates the layout fixes, and driven through the
// Ui's event handler with synthetic pointer positions over the regions of a real frame.
#include "ui/renderer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "loaded_mirror.hpp"
#include "ui/panel_text.hpp"
#include "ui/response_plot.hpp"
#include "ui/ui.hpp"

namespace halvard {
namespace {

constexpr Command kSend{CommandKind::SendSettings};
// The rows of the top row's texts.
constexpr int kTopRowTextTop = 8;
constexpr int kTopRowTextBottom = 33;

std::string hex(uint32_t v) {
    char b[12];
    std::snprintf(b, sizeof b, "%08x", v);
    return b;
}
int channelOf(uint32_t argb, int shift) {
    return static_cast<int>((argb >> shift) & 0xff);
}
// Black at alpha a laid over an opaque colour, per channel.
uint32_t veiled(uint32_t color, int alpha) {
    uint32_t out = 0xff000000;
    for (int shift : {16, 8, 0}) {
        const int c = channelOf(color, shift) * (255 - alpha) / 255;
        out |= static_cast<uint32_t>(c) << shift;
    }
    return out;
}
bool near(uint32_t a, uint32_t b) {
    for (int shift : {24, 16, 8, 0}) {
        if (std::abs(channelOf(a, shift) - channelOf(b, shift)) > 1) return false;
    }
    return true;
}

class Panel : public ::testing::Test {
protected:
    void SetUp() override {
        ui.postPause = nullptr;  // no 20 ms sleeps after posting
        platform.requestRepaint = [this] { ++repaints; };
        ui.firmwareVersion = 0x0103;
        test::loadEveryProgram(ui);
    }

    // Frames are drawn at the scale HALVARD_TEST_DPI asks for (96 DPI: 1, 144 DPI: 1.5), unless a
    // test names one; the probes give DIPs and read the device pixel at the DIP's centre.
    const OffscreenSurface& frame(int w = 1280, int h = 900, double scale = 0) {
        frameScale = scale > 0 ? scale : testScale();
        surface = std::make_unique<OffscreenSurface>(w, h, frameScale);
        paintWindow(platform, canvas, surface->target(), w, h);
        return *surface;
    }
    uint32_t at(int x, int y) const {
        return surface->pixel(static_cast<int>((x + 0.5) * frameScale),
                              static_cast<int>((y + 0.5) * frameScale));
    }
    // The largest value of one channel over the device pixels that DIP (x, y) covers: a thin line
    // spreads over two of them at 144 DPI.
    int maxChannel(int x, int y, int shift) const {
        int best = 0;
        for (int py = static_cast<int>(y * frameScale);
             py < static_cast<int>(std::ceil((y + 1) * frameScale)); ++py) {
            for (int px = static_cast<int>(x * frameScale);
                 px < static_cast<int>(std::ceil((x + 1) * frameScale)); ++px) {
                best = std::max(best, channelOf(surface->pixel(px, py), shift));
            }
        }
        return best;
    }
    static double testScale() {
        const char* dpi = std::getenv("HALVARD_TEST_DPI");
        return dpi && std::atof(dpi) > 0 ? std::atof(dpi) / 96.0 : 1.0;
    }
    void edit(void (*change)(ProgramSettings&)) { ui.editRecord(ui.program, change); }
    // Whether anything but the ground colour was drawn in [x0, x1) x [y0, y1).
    bool drawnOver(int x0, int x1, int y0, int y1, uint32_t ground) const {
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                if (at(x, y) != ground) return true;
            }
        }
        return false;
    }

    void pointAt(int32_t x, int32_t y) {
        platform.pointerX = x;
        platform.pointerY = y;
    }
    void move(int32_t x, int32_t y) {
        pointAt(x, y);
        platform.raise(PlatformEvent::PointerMove);
    }
    void click(int32_t x, int32_t y) {
        pointAt(x, y);
        platform.raise(PlatformEvent::LeftButtonDown);
    }

    PlatformState platform;
    Ui ui{platform};
    Canvas canvas;
    std::unique_ptr<OffscreenSurface> surface;
    double frameScale = 1.0;
    int repaints = 0;
};

struct Key {
    ControlId control;
    RegionKind kind;
};

// Controls in the order the frame first registers them, each with its kinds in order:
// m = hover, p = press, w = wheel.
std::vector<Key> expand(std::initializer_list<std::pair<ControlId, const char*>> groups) {
    std::vector<Key> keys;
    for (const auto& [control, kinds] : groups) {
        for (const char* k = kinds; *k != '\0'; ++k) {
            keys.push_back({control, *k == 'm'   ? RegionKind::PointerMove
                                     : *k == 'p' ? RegionKind::LeftButtonDown
                                                 : RegionKind::Wheel});
        }
    }
    return keys;
}

void expectOrder(const HitRegions& regions, const std::vector<Key>& keys) {
    ASSERT_EQ(regions.size(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(toInt(regions.regions()[i].control), toInt(keys[i].control)) << "entry " << i;
        EXPECT_EQ(regions.regions()[i].kind, keys[i].kind) << "entry " << i;
    }
}

TEST_F(Panel, RegionListHoldsEveryControlInDrawingOrder) {
    using enum ControlId;
    frame();
    const std::vector<Key> main = expand({
        {BypassLockButton, "p"},  {MonoButton, "p"},      {ReverbTailsButton, "p"},  {MidiChannelDown, "mp"},
        {MidiChannelUp, "mp"},    {ProgramBox, "w"},      {ProgramDown, "mp"},       {ProgramUp, "mp"},
        {BypassSwitch, "mp"},     {ChannelSwitch, "mp"},  {ReverbSwitch, "mp"},      {TremoloSwitch, "mp"},
        {LoopBypassSwitch, "mp"}, {IrBypassSwitch, "mp"}, {StorePresetButton, "mp"}, {RhythmLowpass, "mp"},
        {RhythmHighpass, "mp"},   {RhythmHfComp, "mp"},   {RhythmIrChoice0, "mp"},   {SlotSelect1, "pm"},
        {SlotImport1, "pm"},      {SlotBrowse1, "pm"},    {RhythmIrChoice1, "mp"},   {SlotSelect2, "pm"},
        {SlotImport2, "pm"},      {SlotBrowse2, "pm"},    {RhythmIrChoice2, "mp"},   {SlotSelect3, "pm"},
        {SlotImport3, "pm"},      {SlotBrowse3, "pm"},    {LeadLowpass, "mp"},       {LeadHighpass, "mp"},
        {LeadHfComp, "mp"},       {LeadIrChoice0, "mp"},  {SlotSelect4, "pm"},       {SlotImport4, "pm"},
        {SlotBrowse4, "pm"},      {LeadIrChoice1, "mp"},  {SlotSelect5, "pm"},       {SlotImport5, "pm"},
        {SlotBrowse5, "pm"},      {LeadIrChoice2, "mp"},  {SlotSelect6, "pm"},       {SlotImport6, "pm"},
        {SlotBrowse6, "pm"},      {CcListToggle, "pm"},   {ProgramsOpener, "p"},
    });
    ASSERT_EQ(main.size(), 89u);
    expectOrder(ui.regions(), main);

    // The IR panel adds its controls after the main ones, its list rows once the list is drawn open.
    ui.irPanelSlot = 4;
    frame();
    std::vector<Key> withPanel = main;
    for (const Key& k : expand({{ExtractAllButton, "mp"},
                                {AuditionSwitch, "mp"},
                                {SelectButton, "mp"},
                                {FactoryTitle, "mp"},
                                {FactoryPrev, "mp"},
                                {FactoryNext, "mp"}})) {
        withPanel.push_back(k);
    }
    expectOrder(ui.regions(), withPanel);
    ui.factoryListOpen = true;
    frame();
    for (int row = 0; row < 15; ++row) {
        withPanel.push_back({FactoryRow0 + row, RegionKind::PointerMove});
        withPanel.push_back({FactoryRow0 + row, RegionKind::LeftButtonDown});
    }
    ASSERT_EQ(withPanel.size(), 131u);
    expectOrder(ui.regions(), withPanel);

    // Closing everything again keeps every entry: the list only grows.
    ui.irPanelSlot = 0;
    ui.factoryListOpen = false;
    frame();
    EXPECT_EQ(ui.regions().size(), 131u);
}

TEST_F(Panel, RegionsSitWhereTheControlTableSays) {
    using enum ControlId;
    struct Rect {
        ControlId control;
        int32_t x, y, w, h;
    };
    for (const bool ccOpen : {false, true}) {
        for (const auto& [W, H] : {std::pair{1280, 900}, std::pair{1264, 861}}) {
            SCOPED_TRACE(std::to_string(W) + "x" + std::to_string(H) + (ccOpen ? " CC list open" : ""));
            ui.ccListOpen = ccOpen;
            ui.irPanelSlot = 1;
            ui.factoryListOpen = true;
            frame(W, H);
            const int L = (W - 964) / 2, P = (W + 30) / 2;
            const int D = ccOpen ? (H - 266) / 2 + 66 : H / 2 + 44;
            const int X = ccOpen ? H - 266 : H - 54;
            std::vector<Rect> table = {
                {StorePresetButton, 0, 98, 250, 33},     {MidiChannelDown, W - 117, 15, 11, 11},
                {MidiChannelUp, W - 53, 15, 11, 11},     {ProgramBox, P, 7, 220, 27},
                {ProgramDown, P + 11, 15, 11, 11},       {ProgramUp, P + 198, 15, 11, 11},
                {BypassSwitch, L + 250, 51, 40, 20},     {ChannelSwitch, L + 370, 51, 40, 20},
                {ReverbSwitch, L + 490, 51, 40, 20},     {TremoloSwitch, L + 610, 51, 40, 20},
                {IrBypassSwitch, L + 850, 51, 40, 20},   {MonoButton, W - 366, 7, 100, 27},
                {LoopBypassSwitch, L + 730, 51, 40, 20}, {FactoryPrev, 258, 15, 11, 11},
                {FactoryNext, 481, 15, 11, 11},          {ExtractAllButton, 260, H - 55, 110, 27},
                {SelectButton, 379, H - 55, 111, 27},    {FactoryTitle, 290, 0, 170, 41},
                {AuditionSwitch, 380, H - 85, 40, 20},   {BypassLockButton, W - 246, 7, 100, 27},
                {ReverbTailsButton, 400, 7, 100, 27},    {RhythmHfComp, 7, 203, 44, 20},
                {RhythmLowpass, 7, 170, 44, 20},         {RhythmHighpass, 135, 170, 44, 20},
                {LeadHfComp, 7, D + 72, 44, 20},         {LeadLowpass, 7, D + 39, 44, 20},
                {LeadHighpass, 135, D + 39, 44, 20},     {CcListToggle, 226, X + 4, 23, 23},
            };
            for (int i = 0; i < 3; ++i) {
                table.push_back({RhythmIrChoice0 + i, 8, 240 + 31 * i, 12, 12});
                table.push_back({LeadIrChoice0 + i, 8, D + 109 + 31 * i, 12, 12});
                table.push_back({SlotSelect1 + i, 178, 234 + 31 * i, 23, 23});
                table.push_back({SlotSelect4 + i, 178, D + 103 + 31 * i, 23, 23});
                table.push_back({SlotImport1 + i, 204, 234 + 31 * i, 23, 23});
                table.push_back({SlotImport4 + i, 204, D + 103 + 31 * i, 23, 23});
                table.push_back({SlotBrowse1 + i, 226, 234 + 31 * i, 23, 23});
                table.push_back({SlotBrowse4 + i, 226, D + 103 + 31 * i, 23, 23});
            }
            for (int row = 0; row < 15; ++row)
                table.push_back({FactoryRow0 + row, 250, 42 + 31 * row, 250, 31});

            int checked = 0;
            for (const HitRegion& r : ui.regions().regions()) {
                for (const Rect& t : table) {
                    if (r.control != t.control) continue;
                    ++checked;
                    EXPECT_TRUE(r.x == t.x && r.y == t.y && r.width == t.w && r.height == t.h)
                        << "control " << toInt(t.control) << " at " << r.x << "," << r.y << " " << r.width
                        << "x" << r.height << ", expected " << t.x << "," << t.y << " " << t.w << "x" << t.h;
                }
            }
            EXPECT_EQ(checked, 130);
        }
    }
}

TEST_F(Panel, TopRowBoxesLightByTheirSettings) {
    ui.reverbTails = 0;
    ui.mono = 1;
    frame();
    EXPECT_EQ(at(403, 20), kColorTextLight) << "REVERB TAILS is lit at 0";
    EXPECT_EQ(at(1280 - 362, 20), kColorTextLight) << "MONO";
    EXPECT_EQ(at(1280 - 242, 20), kColorPanel) << "BYPASS LOCK";
    EXPECT_EQ(at(263, 20), kColorTextLight) << "connection box lit while connected";
    ui.reverbTails = 1;
    ui.linkState = LinkState::NoDevice;
    frame();
    EXPECT_TRUE(near(at(403, 20), veiled(kColorPanel, 0xa0))) << "REVERB TAILS dark, under the veil";
    EXPECT_EQ(at(263, 20), kColorPanel) << "the connection box is drawn over the veil, dark";

    // The columns of the box's text: PORT IN USE is wider than NO DEVICE and ends before the icon.
    const auto textColumns = [&] {
        std::pair<int, int> span{1280, 0};
        for (int x = 260; x < 352; ++x)
            for (int y = 12; y < 30; ++y)
                if (channelOf(at(x, y), 8) > 0x80) span = {std::min(span.first, x), std::max(span.second, x)};
        return span;
    };
    const auto noDevice = textColumns();
    ui.portInUse = true;
    frame();
    const auto inUse = textColumns();
    EXPECT_LT(inUse.first, noDevice.first) << "another program has the port: PORT IN USE";
    EXPECT_GT(inUse.second, noDevice.second);
    EXPECT_LT(inUse.second, 348) << "the text stays clear of the icon";
}

TEST_F(Panel, SwitchKnobsFollowValuesAndTheActiveChannel) {
    // Three-position knob: x = 7, 19, 31 for the values 1, 2, 3 (and the middle for anything else).
    const std::pair<uint8_t, int> knobs[] = {{1, 7}, {2, 19}, {3, 31}, {0, 19}, {9, 19}};
    for (const auto& [value, kx] : knobs) {
        const uint8_t v = value;  // (structured bindings are not captured by every compiler in use)
        ui.editRecord(0, [v](ProgramSettings& r) { r.filterA[0] = v; });
        frame();
        EXPECT_EQ(at(kx + 10, 180), kColorBright) << "lowpass " << int(value) << " knob at " << kx;
        for (int other : {7, 19, 31}) {
            if (other != kx) {
                EXPECT_NE(at(other + 10, 180), kColorBright) << "lowpass " << int(value);
            }
        }
    }

    // Lead channel selected: the lead section is lit, the rhythm section idle.
    edit([](ProgramSettings& r) { r.channel = 1; });
    frame();
    const int D = 900 / 2 + 44;
    EXPECT_EQ(at(10, 180), kColorTrackOff) << "rhythm track";
    EXPECT_EQ(at(29, 180), kColorTextLight) << "rhythm knob";
    EXPECT_EQ(at(10, D + 49), kColorAccent) << "lead track";
    EXPECT_EQ(at(29, D + 49), kColorBright) << "lead knob";
    EXPECT_EQ(at(236, 148), kColorPanel) << "rhythm lamp";
    EXPECT_EQ(at(236, D + 17), kColorTextLight) << "lead lamp";
    // The CHANNEL slide switch is on: accent track, knob right.
    const int L = (1280 - 964) / 2;
    EXPECT_EQ(at(L + 370 + 4, 61), kColorAccent);
    EXPECT_EQ(at(L + 370 + 30, 61), kColorBright);
    edit([](ProgramSettings& r) { r.irBypass = 1; });
    frame();
    EXPECT_EQ(at(236, D + 17), kColorPanel) << "lamp dark with IR BYPASS on";
}

TEST_F(Panel, NarrowWindowPutsTheSwitchRowOverTheLogoArea) {
    frame(900, 900);  // L = -32: BYPASS starts at x = 218
    EXPECT_EQ(at(228, 61), kColorTextLight) << "BYPASS knob, off, at its left end";
    EXPECT_EQ(ui.regions().regions()[12].x, 218) << "BYPASS hover region";
}

TEST_F(Panel, BypassLockHoldsBypassOffInTheFrameAndTheMirror) {
    ui.bypassLock = 1;
    edit([](ProgramSettings& r) { r.bypass = 1; });
    frame();
    EXPECT_EQ(ui.record(0).bypass, 0);
    const int L = (1280 - 964) / 2;
    EXPECT_EQ(at(L + 250 + 10, 61), kColorTextLight) << "BYPASS knob off";
    EXPECT_EQ(at(1280 - 242, 20), kColorTextLight) << "BYPASS LOCK lit";
    EXPECT_EQ(ui.record(1).bypass, 0) << "only the current program is touched";
}

TEST_F(Panel, VeilDarkensByStateAndSparesTheIrPanel) {
    frame();
    EXPECT_EQ(at(125, 400), kColorPanel) << "connected, panel closed: no veil";
    for (LinkState s : {LinkState::NoDevice, LinkState::Busy, LinkState::Error}) {
        ui.linkState = s;
        frame();
        EXPECT_TRUE(near(at(125, 400), veiled(kColorPanel, 0xa0))) << "state " << int(s);
        EXPECT_EQ(at(640, 895), kColorAccent) << "the bottom bar is never veiled";
    }
    ui.linkState = LinkState::Connected;
    ui.irPanelSlot = 1;
    frame();
    EXPECT_EQ(at(125, 400), kColorPanel) << "the left column stays bright beside the IR panel";
    EXPECT_TRUE(near(at(1280 - 362, 20), veiled(kColorPanel, 0xa0)))
        << "the main area right of x = 250 is veiled";
    EXPECT_EQ(at(300, 600), kColorWindow) << "the panel column itself is not veiled";
}

TEST_F(Panel, StatusLineShowsTextOnlyWhenThereIsSomethingToSay) {
    // Any pixel in the status box darker than the bar means text was drawn there.
    const auto hasText = [&](int x0, int x1) { return drawnOver(x0, x1, 900 - 21, 900, kColorAccent); };
    ui.linkState = LinkState::NoDevice;
    frame();
    EXPECT_FALSE(hasText(0, 600)) << "no device, no progress: empty";
    ui.portsSeen = 3;
    frame();
    EXPECT_TRUE(hasText(10, 290)) << "no amplifier among the ports the worker saw";
    EXPECT_FALSE(hasText(290, 600));
    EXPECT_EQ(noAmplifierText(3).view(), "NO AMPLIFIER AMONG 3 MIDI PORTS");
    EXPECT_EQ(noAmplifierText(1).view(), "NO AMPLIFIER AMONG 1 MIDI PORT");
    EXPECT_EQ(noAmplifierText(0).view(), "NO MIDI PORTS") << "a missing driver, say";
    FixedText<4> cut;
    cut << "ab"
        << "c\u00E9"
        << "d";
    EXPECT_EQ(cut.view(), "abc") << "cut before the character that does not fit, and there for good";
    ui.portsSeen = -1;
    ui.linkState = LinkState::Error;
    frame();
    EXPECT_TRUE(hasText(10, 290)) << "error: the version text";
    ui.linkState = LinkState::Busy;
    ui.progress = 57;
    ui.firmwareVersion = 0x0104;
    ui.availableFirmware = 0;
    frame();
    EXPECT_TRUE(hasText(10, 90));
    EXPECT_FALSE(hasText(400, 880)) << "no firmware warning without a newer image";
    ui.availableFirmware = 0x0105;
    frame();
    EXPECT_TRUE(hasText(400, 880)) << "the centred firmware warning";

    ui.linkState = LinkState::Connected;
    ui.progress = kProgressNone;
    ui.setStatusLine("128 PROGRAMS RESTORED AND VERIFIED");
    frame();
    EXPECT_TRUE(hasText(300, 600)) << "a backup's or restore's outcome beside the version";
    ui.linkState = LinkState::NoDevice;
    frame();
    EXPECT_FALSE(hasText(0, 600)) << "not once the amplifier is gone";
}

TEST_F(Panel, ProgramNameStandsLeftOfTheProgramBoxWithItsStaleMarkAndNote) {
    // The room between the REVERB TAILS box (to 500) and the program box (from 655).
    const auto nameDrawn = [&] {
        return drawnOver(502, 653, kTopRowTextTop, kTopRowTextBottom, kColorWindow);
    };
    ProgramNameLine line;
    line.program = 3;
    line.name.assign("Clean Crunch");
    ui.setProgramName(line);
    frame();
    EXPECT_FALSE(nameDrawn()) << "the name of program 3 while program 0 is shown";
    ui.program = 3;
    frame();
    EXPECT_TRUE(nameDrawn());
    EXPECT_NE(at(642, 20), kColorAccent) << "no mark";
    EXPECT_EQ(statusLineText(ui.view()).view(), "");

    line.stale = true;
    ui.setProgramName(line);
    ui.setStatusLine("128 PROGRAMS BACKED UP TO A.SYX");
    frame();
    EXPECT_EQ(at(642, 20), kColorAccent) << "the stale mark right of the name";
    const auto controls = ui.controls();
    const auto box = std::find_if(controls.begin(), controls.end(),
                                  [](const PanelControl& c) { return c.id == ControlId::ProgramBox; });
    ASSERT_NE(box, controls.end());
    EXPECT_EQ(box->description.view(), "Clean Crunch, changed on the amplifier since named") << "for readers";
    EXPECT_EQ(statusLineText(ui.view()).view(),
              "CHANGED ON THE AMPLIFIER SINCE NAMED  \u00B7  128 PROGRAMS BACKED UP TO A.SYX");
    ui.program = 4;
    ui.libraryState = LibraryState::Locked;
    EXPECT_EQ(statusLineText(ui.view()).view(),
              "PROGRAM NAMES UNAVAILABLE: LIBRARY LOCKED  \u00B7  128 PROGRAMS BACKED UP TO A.SYX")
        << "the note belongs to the program it names";
}

TEST_F(Panel, PictureScalesToTheWindowAndLedsFollowTheProgram) {
    // W 1264, H 861: scale 0.711, origin (464, 168) in scaled coordinates. The rhythm LED's centre
    // (953, 323) in the picture lands at about (1007.5, 349.1) DIPs.
    const auto led = [&](uint8_t bypass) {
        ui.editRecord(0, [bypass](ProgramSettings& r) { r.bypass = bypass; });
        frame(1264, 861);
        return at(1007, 349);
    };
    const uint32_t dark = led(1);
    const uint32_t lit = led(0);
    EXPECT_GT(channelOf(lit, 8), channelOf(dark, 8) + 40)
        << hex(dark) << " -> " << hex(lit) << " not greener";
    // At 1500 x 1150 the picture is unscaled at (275, 120).
    frame(1500, 1150);
    EXPECT_EQ(pictureLayout(1500, 1150).x0, 275);
    EXPECT_GT(channelOf(at(275 + 953, 120 + 323), 8), channelOf(dark, 8) + 40);
    // No room for the picture: nothing is drawn and nothing breaks.
    EXPECT_EQ(pictureLayout(300, 900).scale, 0.0f);
    EXPECT_EQ(pictureLayout(200, 100).scale, 0.0f);
    frame(200, 100);
}

TEST_F(Panel, CcListOpensUpwardWithTenRows) {
    ui.ccListOpen = true;
    frame(1264, 861);
    EXPECT_EQ(at(200, 597), kColorBand) << "heading band at y = 595";
    EXPECT_EQ(at(200, 365), kColorBand) << "lead section heading at D = 363";
    for (int i = 0; i < 10; ++i) {
        const int y0 = 630 + 19 * i;
        int left = 0, right = 0;  // text pixels in the leading and trailing halves of the row
        for (int y = y0; y < y0 + 19; ++y) {
            for (int x = 12; x < 238; ++x) {
                if (channelOf(at(x, y), 16) > 0x40) ++(x < 125 ? left : right);
            }
        }
        EXPECT_GT(left, 10) << "row " << i << " controller text";
        EXPECT_GT(right, 10) << "row " << i << " values text";
    }
    ui.ccListOpen = false;
    frame(1264, 861);
    EXPECT_EQ(at(200, 861 - 52), kColorBand) << "closed: heading at H - 54";
}

TEST_F(Panel, FactoryListRowsAlternateAndMarkTheChoice) {
    ui.irPanelSlot = 2;
    ui.factoryListOpen = true;
    ui.factoryIrIndex = 14;
    frame();
    for (int i = 0; i < 15; ++i) {
        const int yi = 42 + 31 * i;
        EXPECT_EQ(at(495, yi + 5), i % 2 ? kColorRowOdd : kColorRowEven) << "row " << i;
        EXPECT_EQ(at(264, yi + 16), i == 14 ? kColorAccent : kColorWindow) << "dot of row " << i;
    }
    // Hovering a row lights its dot.
    move(400, 42 + 31 * 3 + 15);
    frame();
    EXPECT_EQ(at(264, 42 + 31 * 3 + 16), kColorTextLight);

    // Audition on: accent track, knob at x = 400.
    ui.auditionOn = true;
    frame();
    EXPECT_EQ(at(384, 900 - 75), kColorAccent);
    EXPECT_EQ(at(410, 900 - 75), kColorBright);
}

TEST_F(Panel, ResponsePlotShowsTheBrowsedCurveWhileTheListIsClosed) {
    // The plot's well at (258, 300, 234, 150), its graph 200 x 117 inset by (26, 10).
    const int graphTop = 310;
    const int tenK = 284 + static_cast<int>(std::lround(responseX(10000.0) * 200));
    const int column = 284 + static_cast<int>(std::lround(responseX(1500.0) * 200));
    // The row of the brightest pixel in the graph's column at 1.5 kHz: the curve, in the accent.
    const auto curveRow = [&] {
        int best = -1;
        for (int y = graphTop; y < graphTop + 117; ++y) {
            if (best < 0 || maxChannel(column, y, 16) > maxChannel(column, best, 16)) best = y;
        }
        EXPECT_GE(maxChannel(column, best, 16), 0xc8) << "no accent line in the column";
        return best;
    };
    ui.irPanelSlot = 2;
    ui.factoryIrIndex = 13;
    frame();
    EXPECT_EQ(at(488, 304), kColorPanel) << "the well";
    EXPECT_EQ(at(tenK, graphTop + 2), kColorTrackOff) << "the 10 kHz grid line, above the curve";
    const int closedCab = curveRow();

    ui.factoryIrIndex = 10;  // browsing changes the curve with the title
    frame();
    EXPECT_NE(curveRow(), closedCab);

    ui.factoryListOpen = true;
    frame();
    EXPECT_EQ(at(488, 304), kColorRowEven) << "the list covers the column, without the plot";
    EXPECT_EQ(at(tenK, graphTop + 2), kColorRowEven);

    // A window too short for the plot above the AUDITION switch leaves it out.
    ui.factoryListOpen = false;
    frame(1280, 530);
    EXPECT_EQ(at(488, 304), kColorWindow);
    EXPECT_EQ(at(tenK, graphTop + 2), kColorWindow);
}

TEST_F(Panel, HoverRepaintsAndHighlights) {
    frame();
    const int P = (1280 + 30) / 2;
    const uint32_t idle = at(P + 16, 20);
    move(P + 15, 20);
    EXPECT_EQ(repaints, 1);
    frame();
    EXPECT_GT(channelOf(at(P + 16, 20), 16), channelOf(idle, 16)) << "the hovered arrow is brighter";
    move(P + 16, 21);
    EXPECT_EQ(repaints, 1) << "still over the same arrow: no repaint";
}

TEST_F(Panel, PressesOnTheDrawnControlsReachTheMirror) {
    platform.dpi = 192.0f;  // pointer pixels are twice the DIPs
    frame(1280, 900, 2.0);
    const int L = (1280 - 964) / 2;

    click(2 * (L + 490 + 20), 2 * 60);  // REVERB
    EXPECT_EQ(ui.record(0).reverb[0], 1);
    EXPECT_EQ(ui.command.load(), kSend);
    EXPECT_EQ(repaints, 1);
    frame(1280, 900, 2.0);
    EXPECT_EQ(surface->pixel(2 * (L + 490 + 30), 2 * 61), kColorBright) << "the switch shows lit";
    EXPECT_EQ(surface->pixel(2 * (L + 490 + 4), 2 * 61), kColorAccent);

    ui.command = Command{};
    click(2 * 240, 2 * 280);  // browse icon of slot 2 opens its IR panel
    EXPECT_EQ(ui.irPanelSlot, 2);
    frame(1280, 900, 2.0);
    click(2 * 300, 2 * 20);  // the title opens the factory list
    EXPECT_TRUE(ui.factoryListOpen);
    frame(1280, 900, 2.0);
    click(2 * 300, 2 * (42 + 31 * 7 + 10));  // row 7, and the list closes
    EXPECT_EQ(ui.factoryIrIndex, 7);
    EXPECT_FALSE(ui.factoryListOpen);
    frame(1280, 900, 2.0);
    click(2 * 430, 2 * (900 - 40));  // SELECT
    EXPECT_EQ(ui.command.load(), Command{CommandKind::UploadFactoryIr});
    click(2 * 1000, 2 * 500);  // right of the column: closes the panel
    EXPECT_EQ(ui.irPanelSlot, 0);

    // The program box takes the wheel.
    platform.wheelNotches = -1;
    pointAt(2 * 700, 2 * 20);
    platform.raise(PlatformEvent::Wheel);
    EXPECT_EQ(ui.program, 127);
    EXPECT_EQ(platform.wheelNotches, 0);
}

TEST_F(Panel, SlotRowsShowNamesAndSelection) {
    SlotName name;
    name.assign("C:\\IRS\\CLOSED 412.WAV");
    ui.setSlotName(0, name);
    ui.irSlot = 4;
    edit([](ProgramSettings& r) { r.ir[1] = 1; });
    frame();
    const int D = 900 / 2 + 44;
    EXPECT_EQ(at(13, D + 130 + 16), kColorTextLight) << "lead choice 1 dot";
    EXPECT_EQ(at(13, D + 99 + 16), kColorWindow) << "lead choice 0 dot";
    EXPECT_EQ(at(13, 230 + 16), kColorTextLight) << "rhythm choice 0 dot";
    EXPECT_TRUE(near(at(100, 230), veiled(kColorWell, 0x40)))
        << "rule over the first row: " << hex(at(100, 230));
    // The select icon of slot 4 is accent: some pixel of it carries the accent colour.
    bool accent = false;
    for (int y = D + 134; y < D + 157 && !accent; ++y) {
        for (int x = 178; x < 201 && !accent; ++x) accent = at(x, y) == kColorAccent;
    }
    EXPECT_TRUE(accent) << "select icon of slot 4";
}

}  // namespace
}  // namespace halvard
