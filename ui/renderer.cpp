#include "ui/renderer.hpp"

// Sections, in drawing order (later elements cover earlier ones):
//   top row (logo, MIDI channel, global boxes, program box), switch row, left column (store bar,
//   rhythm and lead sections with their slot rows, MIDI CC list), amplifier picture, bottom bar,
//   status line and veil, connection box, IR panel.

#include <string_view>

#include "ir/factory_catalogue.hpp"
#include "ir/ir_slots.hpp"
#include "ui/assets.hpp"
#include "ui/canvas.hpp"
#include "ui/panel_text.hpp"

namespace halvard {
namespace {

constexpr int kLeading = kAlignLeading;
constexpr int kCentred = kAlignCentre;
constexpr int kTrailing = kAlignTrailing;

constexpr int kFont10 = 0;  // switch labels, "AUDITION", "POWERED BY"
constexpr int kFont11 = 1;  // boxes, slot names, status texts, CC rows, factory rows
constexpr int kFont13 = 2;  // headings, program, "STORE PRESET", factory title and description

struct CcRow {
    std::string_view controller;
    std::string_view values;
};
constexpr CcRow kCcRows[] = {
    {"CC 24 BYPASS", "0 - 1 - TOGGLE"},
    {"CC 25 CHANNEL", "0 - 1 - TOGGLE"},
    {"CC 26 LOOP BYPASS", "0 - 1 - TOGGLE"},
    {"CC 27 IR BYPASS", "0 - 127 - TOGGLE"},
    {"CC 28 IR", "0 - 1 - 2"},
    {"CC 29 HF COMP", "0 - 1"},
    {"CC 30 LOWPASS", "0 - 1 - 2"},
    {"CC 33 HIGHPASS", "0 - 1 - 2"},
    {"CC 31 REVERB", "0 - 1 - TOGGLE"},
    {"CC 32 TREMOLO", "0 - 1 - TOGGLE"},
};

struct SlideSwitch {
    int32_t x;
    int32_t wellWidth;
    int32_t wellHeight;
    std::string_view label;
    int32_t labelOffset;
    ControlId control;
};

class Frame {
public:
    Frame(Canvas& canvas, const MirrorView& view, HitRegions& regions)
        : c_(canvas),
          v_(view),
          r_(view.current),
          regions_(regions),
          w_(canvas.surfaceWidth()),
          h_(canvas.surfaceHeight()),
          l_((w_ - 964) / 2),
          p_((w_ + 30) / 2),
          d_(view.ccListOpen == 0 ? h_ / 2 + 44 : (h_ - 266) / 2 + 66),
          x_(view.ccListOpen == 0 ? h_ - 54 : h_ - 266),
          // REVERB and TREMOLO follow the selected channel; any channel but rhythm reads the lead entry.
          ch_(view.current.channel == 0 ? 0 : 1) {}

    void draw();

private:
    void text(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, int font, int align,
              std::string_view s) {
        c_.drawText(x, y, w, h, color, font, align, kAlignMiddle, s, true);
    }
    bool hovered(ControlId c) const { return regions_.isHovered(c); }
    void moveAndPress(ControlId c, int32_t x, int32_t y, int32_t w, int32_t h) {
        regions_.registerRegion(c, x, y, w, h, RegionKind::PointerMove);
        regions_.registerRegion(c, x, y, w, h, RegionKind::LeftButtonDown);
    }
    void pressAndMove(ControlId c, int32_t x, int32_t y, int32_t w, int32_t h) {
        regions_.registerRegion(c, x, y, w, h, RegionKind::LeftButtonDown);
        regions_.registerRegion(c, x, y, w, h, RegionKind::PointerMove);
    }

    void topRowBox(int32_t x, int32_t w, int32_t tw, bool lit, std::string_view label);
    void arrow(int32_t x, const ImageAsset* icon, ControlId c);
    void slideSwitch(const SlideSwitch& s, bool on);
    void channelSwitch(int32_t x, int32_t y, ControlId c, bool act, uint8_t v, const ImageAsset* label,
                       int32_t hfLabelWidth);
    void slotRow(int k, int32_t yr);
    void channelSection(int sc, int32_t top);

    void topRow();
    void switchRow();
    void leftColumn();
    void ccList();
    void picture();
    void bottomBar();
    void statusAndVeil();
    void connectionBox();
    void irPanel();

    Canvas& c_;
    const MirrorView& v_;
    const ProgramSettings& r_;
    HitRegions& regions_;
    const int32_t w_, h_;
    const int32_t l_, p_, d_, x_;  // switch row offset, program box, lead section top, CC list heading
    const size_t ch_;
};

void Frame::topRowBox(int32_t x, int32_t w, int32_t tw, bool lit, std::string_view label) {
    c_.fillRect(x, 7, w, 27, 13, lit ? kColorTextLight : kColorPanel);
    text(x, 4, tw, 33, lit ? kColorPanel : kColorTextLight, kFont11, kCentred, label);
}

void Frame::arrow(int32_t x, const ImageAsset* icon, ControlId c) {
    c_.fillMask(x, 15, 11, 11, icon, hovered(c) ? kColorBright : kColorTextDim);
    moveAndPress(c, x, 15, 11, 11);
}

void Frame::slideSwitch(const SlideSwitch& s, bool on) {
    c_.fillRect(s.x, 51, s.wellWidth, s.wellHeight, 10, kColorPanel);
    c_.fillRect(s.x, 51, 40, 20, 10, on ? kColorAccent : kColorTrackOff);
    moveAndPress(s.control, s.x, 51, 40, 20);
    c_.fillRect(on ? s.x + 20 : s.x, 51, 20, 20, 10,
                (on || hovered(s.control)) ? kColorBright : kColorTextLight);
    text(s.x + s.labelOffset, 51, 75, 20, kColorTextLight, kFont10, kCentred, s.label);
}

// A three-position filter switch (label is its icon) or the two-position "HF COMP" switch (label null).
void Frame::channelSwitch(int32_t x, int32_t y, ControlId c, bool act, uint8_t v, const ImageAsset* label,
                          int32_t hfLabelWidth) {
    const bool three = label != nullptr;
    c_.fillRect(x, y, 110, 20, 10, kColorWell);
    c_.fillRect(x, y, three ? 44 : 40, 20, 10, act ? kColorAccent : kColorTrackOff);
    moveAndPress(c, x, y, 44, 20);
    int32_t kx = x;
    if (three) {
        kx = x + 12 + 12 * ((v == 3 ? 1 : 0) - (v == 1 ? 1 : 0));
    } else if (v == 1) {
        kx = x + 20;
    }
    c_.fillRect(kx, y, 20, 20, 10, act ? kColorBright : kColorTextLight);
    if (three) {
        c_.fillMask(x + 52, y + 1, 48, 20, label, kColorTextLight);
    } else {
        text(x + 35, y, hfLabelWidth, 20, kColorTextLight, kFont10, kCentred, "HF COMP");
    }
}

void Frame::slotRow(int k, int32_t yr) {
    const int sc = k < 3 ? 0 : 1;
    const int j = k % 3;
    const ControlId choice = (sc == 0 ? ControlId::RhythmIrChoice0 : ControlId::LeadIrChoice0) + j;
    const ControlId select = ControlId::SlotSelect1 + k;
    const ControlId import = ControlId::SlotImport1 + k;
    const ControlId browse = ControlId::SlotBrowse1 + k;

    c_.fillRect(0, yr, 250, 31, 0, j == 1 ? kColorPanel : kColorWell);
    if (j == 0) c_.fillRect(0, yr, 250, 1, 0, kColorRule);

    const uint32_t dot = r_.ir[sc] == j ? kColorTextLight : hovered(choice) ? kColorTextDim : kColorWindow;
    c_.fillRect(7, yr + 10, 12, 12, 6, dot);
    moveAndPress(choice, 8, yr + 10, 12, 12);

    const auto name = latin1ToUtf8(v_.userIrSlotNames[static_cast<size_t>(k)].view());
    text(28, yr, 174, 31, kColorTextDim, kFont11, kLeading, shownSlotName(name.view()));

    // The selection wins over the hover on the select icon; the hover wins on the browse icon.
    const uint32_t selectColor = v_.irSlot == k    ? kColorAccent
                                 : hovered(select) ? kColorTextLight
                                                   : kColorIconIdle;
    c_.fillMask(178, yr + 4, 23, 23, &assets::iconSlotSelect, selectColor);
    pressAndMove(select, 178, yr + 4, 23, 23);

    c_.fillMask(204, yr + 4, 23, 23, &assets::iconFolder, hovered(import) ? kColorTextLight : kColorIconIdle);
    pressAndMove(import, 204, yr + 4, 23, 23);

    const uint32_t browseColor = hovered(browse)           ? kColorTextLight
                                 : v_.irPanelSlot == k + 1 ? kColorAccent
                                                           : kColorIconIdle;
    c_.fillMask(226, yr + 4, 23, 23, &assets::iconPlus, browseColor);
    pressAndMove(browse, 226, yr + 4, 23, 23);
}

// The rhythm section (sc 0) at its fixed place, or the lead section (sc 1) at D: heading, lamp,
// filter switches, HF COMP, and the section's three slot rows.
void Frame::channelSection(int sc, int32_t top) {
    const bool act = r_.channel == sc;
    c_.fillRect(0, top, 250, 33, 0, kColorBand);
    text(33, top + 1, 217, 33, kColorAccent, kFont13, kLeading, sc == 0 ? "RHYTHM CHANNEL" : "LEAD CHANNEL");
    c_.fillMask(4, top + 5, 23, 23, &assets::iconWaveform, kColorAccent);
    c_.fillRect(229, top + 10, 14, 14, 7, (act && r_.irBypass == 0) ? kColorTextLight : kColorPanel);

    c_.fillRect(0, top + 33, 250, 33, 0, kColorBand);
    channelSwitch(7, top + 39, sc == 0 ? ControlId::RhythmLowpass : ControlId::LeadLowpass, act,
                  r_.filterA[sc], &assets::iconLowpass, 0);
    channelSwitch(135, top + 39, sc == 0 ? ControlId::RhythmHighpass : ControlId::LeadHighpass, act,
                  r_.filterB[sc], &assets::iconHighpass, 0);

    c_.fillRect(0, top + 66, 250, 33, 0, kColorBand);
    channelSwitch(7, top + 72, sc == 0 ? ControlId::RhythmHfComp : ControlId::LeadHfComp, act, r_.hfComp[sc],
                  nullptr, sc == 0 ? 75 : 80);

    for (int j = 0; j < 3; ++j) slotRow(3 * sc + j, top + 99 + 31 * j);
}

void Frame::topRow() {
    c_.fillRect(0, 0, w_, h_, 0, kColorWindow);  // the only clearing of the surface
    c_.fillRect(0, 0, 250, 98, 0, kColorPanel);
    c_.fillMask(60, 8, 130, 82, &assets::logoBadgeMask, kColorAccent);
    c_.drawImage(60, 8, 130, 82, &assets::logoBadge);

    c_.fillRect(w_ - 126, 7, 120, 27, 13, kColorPanel);
    FixedText<12> channel;
    if (v_.midiChannel == 0) {
        channel << "OMNI";
    } else {
        channel << v_.midiChannel;
    }
    text(w_ - 109, 4, 59, 33, kColorTextLight, kFont11, kCentred, channel.view());
    c_.fillMask(w_ - 34, 9, 23, 23, &assets::iconMidi, kColorTextDim);

    topRowBox(w_ - 246, 100, 100, v_.bypassLock == 1, "BYPASS LOCK");
    regions_.registerRegion(ControlId::BypassLockButton, w_ - 246, 7, 100, 27, RegionKind::LeftButtonDown);
    topRowBox(w_ - 366, 100, 100, v_.mono == 1, "MONO");
    regions_.registerRegion(ControlId::MonoButton, w_ - 366, 7, 100, 27, RegionKind::LeftButtonDown);
    topRowBox(400, 100, 100, v_.reverbTails == 0, "REVERB TAILS");  // the switch bit reads inverted
    regions_.registerRegion(ControlId::ReverbTailsButton, 400, 7, 100, 27, RegionKind::LeftButtonDown);

    arrow(w_ - 117, &assets::iconArrowLeft, ControlId::MidiChannelDown);
    arrow(w_ - 53, &assets::iconArrowRight, ControlId::MidiChannelUp);

    c_.fillRect(p_, 7, 220, 27, 13, kColorPanel);
    regions_.registerRegion(ControlId::ProgramBox, p_, 7, 220, 27, RegionKind::Wheel);
    FixedText<12> program;
    program << v_.program;
    text(p_ + 150, 4, 50, 33, kColorAccent, kFont13, kCentred, program.view());
    text(p_ + 25, 4, 135, 33, kColorTextLight, kFont13, kCentred, "PROGRAM CHANGE");
    arrow(p_ + 11, &assets::iconArrowLeft, ControlId::ProgramDown);
    arrow(p_ + 198, &assets::iconArrowRight, ControlId::ProgramUp);
}

void Frame::switchRow() {
    const int32_t l = l_;
    slideSwitch({l + 250, 110, 21, "BYPASS", 33, ControlId::BypassSwitch}, r_.bypass == 1);
    slideSwitch({l + 370, 110, 21, "CHANNEL", 33, ControlId::ChannelSwitch}, r_.channel == 1);
    slideSwitch({l + 490, 105, 20, "REVERB", 33, ControlId::ReverbSwitch}, r_.reverb[ch_] == 1);
    slideSwitch({l + 610, 105, 20, "TREMOLO", 33, ControlId::TremoloSwitch}, r_.tremolo[ch_] == 1);
    slideSwitch({l + 730, 115, 20, "LOOP BYPASS", 38, ControlId::LoopBypassSwitch}, r_.loopBypass == 1);
    slideSwitch({l + 850, 105, 20, "IR BYPASS", 33, ControlId::IrBypassSwitch}, r_.irBypass == 1);
}

void Frame::leftColumn() {
    c_.fillRect(0, 98, 250, h_ - 98, 0, kColorPanel);
    c_.fillRect(0, 98, 250, 33, 0, hovered(ControlId::StorePresetButton) ? kColorBright : kColorAccent);
    text(0, 99, 250, 33, kColorPanel, kFont13, kCentred, "STORE PRESET");
    moveAndPress(ControlId::StorePresetButton, 0, 98, 250, 33);

    channelSection(0, 131);
    channelSection(1, d_);
    ccList();
    c_.fillRect(250, 41, 1, h_ - 41, 0, kColorRule);
}

void Frame::ccList() {
    c_.fillRect(0, x_, 250, 33, 0, kColorBand);
    text(33, x_ + 1, 217, 33, kColorAccent, kFont13, kLeading, "MIDI CC LIST");
    c_.fillMask(4, x_ + 5, 23, 23, &assets::iconMidi, kColorAccent);
    c_.fillMask(226, x_ + 4, 23, 23, &assets::iconPlus,
                hovered(ControlId::CcListToggle) ? kColorTextLight : kColorIconIdle);
    pressAndMove(ControlId::CcListToggle, 226, x_ + 4, 23, 23);
    if (v_.ccListOpen == 0) return;
    int32_t y = x_ + 35;
    for (const CcRow& row : kCcRows) {
        text(12, y, 226, 19, kColorTextDim, kFont11, kLeading, row.controller);
        text(12, y, 226, 19, kColorTextDim, kFont11, kTrailing, row.values);
        y += 19;
    }
}

// The 1200 x 1000 picture with its overlays: LEDs and IR toggles of the current program.
void Frame::picture() {
    const PictureLayout p = pictureLayout(w_, h_);
    if (!(p.scale > 0.0f)) return;
    c_.setScale(p.scale);
    c_.drawImage(p.x0, p.y0, 1200, 1000, &assets::ampPhoto);
    // Each overlay is the same part of a sprite picture drawn at the same place over the photo.
    const auto part = [&](const ImageAsset& sprite, int32_t px, int32_t py, int32_t pw, int32_t ph) {
        c_.drawImagePart(px, py, pw, ph, p.x0 + px, p.y0 + py, pw, ph, &sprite);
    };
    // IR toggles: left for choice 0, middle for 1; the photo's own toggle (right) otherwise.
    if (r_.ir[0] == 0) part(assets::ampSpritesLeft, 593, 303, 37, 34);
    if (r_.ir[0] == 1) part(assets::ampSpritesLit, 593, 303, 37, 34);
    if (r_.ir[1] == 0) part(assets::ampSpritesLeft, 593, 528, 37, 34);
    if (r_.ir[1] == 1) part(assets::ampSpritesLit, 593, 528, 37, 34);
    if (r_.reverb[ch_] != 0) part(assets::ampSpritesLit, 230, 307, 34, 31);
    if (r_.tremolo[ch_] != 0) part(assets::ampSpritesLit, 230, 532, 34, 31);
    if (r_.bypass == 0 && r_.channel == 0) part(assets::ampSpritesLit, 936, 307, 34, 31);
    if (r_.bypass == 0 && r_.channel != 0) part(assets::ampSpritesLit, 936, 532, 34, 31);
    c_.setScale(1.0f);
}

void Frame::bottomBar() {
    c_.fillRect(0, h_ - 21, w_, 21, 0, kColorAccent);
    text(w_ - 180, h_ - 21, 80, 21, kColorPoweredBy, kFont10, kLeading, "POWERED BY");
    c_.fillMask(w_ - 105, h_ - 15, 93, 9, &assets::poweredByMark, kColorPanel);
}

void Frame::statusAndVeil() {
    const auto status = [&](int32_t w, int align, std::string_view s) {
        text(10, h_ - 21, w, 21, kColorStatusText, kFont11, align, s);
    };
    const FixedText<40> version = firmwareVersionText(v_.firmwareVersion);
    // The outcome of the last backup or restore, beside the version.
    if (v_.linkState != LinkState::NoDevice && !v_.status.view().empty())
        text(300, h_ - 21, w_ - 500, 21, kColorStatusText, kFont11, kLeading, v_.status.view());
    if (v_.linkState == LinkState::Connected && v_.irPanelSlot <= 0) {
        status(280, kLeading, version.view());
        return;
    }
    if (v_.irPanelSlot <= 0) {
        c_.fillRect(0, 0, w_, h_ - 21, 0, kColorDim);
    } else {
        c_.fillRect(250, 0, w_ - 250, h_ - 21, 0, kColorDim);
    }
    if (v_.progress < 0) {
        if (v_.linkState != LinkState::NoDevice) status(280, kLeading, version.view());
    } else if (v_.progress == kProgressStoring) {
        status(80, kLeading, "STORING...");
    } else if (v_.progress == kProgressReading) {
        status(80, kLeading, "READING...");
    } else {
        FixedText<16> percent;
        percent << v_.progress << "%";
        status(80, kLeading, percent.view());
        if (v_.availableFirmware > v_.firmwareVersion) {
            status(w_ - 10, kCentred, "UPDATE IN PROGRESS... DO NOT POWER DOWN");
        }
    }
}

void Frame::connectionBox() {
    const bool present = v_.linkState != LinkState::NoDevice;
    const std::string_view label = !present                           ? "NO DEVICE"
                                   : v_.linkState == LinkState::Error ? "ERROR"
                                                                      : "CONNECTED";
    topRowBox(260, 120, 100, present, label);
    c_.fillMask(352, 9, 23, 23, &assets::iconConnection, present ? kColorPanel : kColorTextDim);
}

void Frame::irPanel() {
    c_.fillRect(250, 41, 250, h_ - 62, 0, kColorWindow);
    c_.fillRect(250, 0, 250, 42, 0, kColorPanel);

    const bool extractHover = hovered(ControlId::ExtractAllButton);
    c_.fillRect(260, h_ - 55, 110, 27, 13, extractHover ? kColorTextLight : kColorWell);
    text(260, h_ - 58, 110, 33, extractHover ? kColorPanel : kColorTextLight, kFont11, kCentred,
         "EXTRACT ALL");
    moveAndPress(ControlId::ExtractAllButton, 260, h_ - 55, 110, 27);

    const bool audition = v_.auditionOn == 1;
    c_.fillRect(380, h_ - 85, 110, 21, 10, kColorPanel);
    c_.fillRect(380, h_ - 85, 40, 20, 10, audition ? kColorAccent : kColorTrackOff);
    moveAndPress(ControlId::AuditionSwitch, 380, h_ - 85, 40, 20);
    c_.fillRect(audition ? 400 : 380, h_ - 85, 20, 20, 10,
                (audition || hovered(ControlId::AuditionSwitch)) ? kColorBright : kColorTextLight);
    text(426, h_ - 85, 80, 20, kColorTextLight, kFont10, kLeading, "AUDITION");

    c_.fillRect(379, h_ - 55, 111, 27, 13, hovered(ControlId::SelectButton) ? kColorTextLight : kColorAccent);
    text(379, h_ - 58, 111, 33, kColorPanel, kFont11, kCentred, "SELECT");
    moveAndPress(ControlId::SelectButton, 379, h_ - 55, 111, 27);

    const int32_t index = v_.factoryIrIndex;
    text(260, 0, 230, 41, hovered(ControlId::FactoryTitle) ? kColorTextLight : kColorAccent, kFont13,
         kCentred, factoryIrDisplayName(index));
    moveAndPress(ControlId::FactoryTitle, 290, 0, 170, 41);  // narrower than the title's text box

    c_.fillMask(258, 15, 11, 11, &assets::iconArrowLeft,
                hovered(ControlId::FactoryPrev) ? kColorBright : kColorTextDim);
    moveAndPress(ControlId::FactoryPrev, 258, 15, 11, 11);
    c_.fillMask(481, 15, 11, 11, &assets::iconArrowRight,
                hovered(ControlId::FactoryNext) ? kColorBright : kColorTextDim);
    moveAndPress(ControlId::FactoryNext, 481, 15, 11, 11);

    if (v_.factoryListOpen != 0) {
        for (int i = 0; i < kFactoryIrCount; ++i) {
            const int32_t yi = 42 + 31 * i;
            const ControlId row = ControlId::FactoryRow0 + i;
            const bool chosen = i == index;
            const bool over = hovered(row);
            c_.fillRect(250, yi, 250, 31, 0, i % 2 == 1 ? kColorRowOdd : kColorRowEven);
            c_.fillRect(258, yi + 10, 12, 12, 6,
                        chosen ? kColorAccent
                        : over ? kColorTextLight
                               : kColorWindow);
            text(280, yi, 210, 31,
                 chosen ? kColorAccent
                 : over ? kColorTextLight
                        : kColorTextDim,
                 kFont11, kLeading, factoryIrDisplayName(i));
            moveAndPress(row, 250, yi, 250, 31);
        }
    } else {
        // Wraps at word boundaries; trimming comes from the single-line texts of the same font.
        const std::string_view description =
            (index >= 0 && index < kFactoryIrCount)
                ? factoryIrCatalogue()[static_cast<size_t>(index)].description
                : std::string_view();
        c_.drawText(258, 50, 234, 234, kColorTextDim, kFont13, kLeading, kAlignTop, description, false);
    }

    c_.fillRect(250, 0, 1, h_ - 21, 0, kColorRule);
    c_.fillRect(500, 0, 1, h_ - 21, 0, kColorRule);
    c_.fillRect(0, 41, 500, 1, 1, kColorRule);
}

void Frame::draw() {
    topRow();
    switchRow();
    leftColumn();
    picture();
    bottomBar();
    statusAndVeil();
    connectionBox();
    if (v_.irPanelSlot > 0) irPanel();
}

}  // namespace

void applyBypassLock(DeviceMirror& mirror, MirrorView& view) {
    if (view.bypassLock == 0 || view.current.bypass == 0) return;
    view.current.bypass = 0;
    mirror.editRecord(view.program, [](ProgramSettings& r) { r.bypass = 0; });
}

void drawPanel(Canvas& canvas, const MirrorView& view, HitRegions& regions) {
    Frame(canvas, view, regions).draw();
}

PictureLayout pictureLayout(int w, int h) {
    // Single precision throughout, as the placement rule is defined.
    const float sx = 1.0f / (1200.0f / static_cast<float>(w - 300));
    const float sy = 1.0f / (1000.0f / static_cast<float>(h - 150));
    float s = sy < sx ? sy : sx;  // sx when equal
    if (s > 1.0f) s = 1.0f;
    // A surface too small for any of the picture gives no positive scale (and the division below
    // would leave the integers' range).
    if (!(s > 0.0f)) return {0.0f, 0, 0};
    const auto left = static_cast<int32_t>((static_cast<float>(w - 250) - s * 1200.0f) * 0.5f + 250.0f);
    const auto top = static_cast<int32_t>((static_cast<float>(h - 90) - s * 1000.0f) * 0.5f + 90.0f);
    return {s, static_cast<int>(static_cast<float>(left) / s), static_cast<int>(static_cast<float>(top) / s)};
}

}  // namespace halvard
