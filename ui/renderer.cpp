#include "ui/renderer.hpp"

// Sections, in drawing order (later elements cover earlier ones):
//   top row (logo, MIDI channel, global boxes, program box), switch row, left column (store bar,
//   rhythm and lead sections with their slot rows, MIDI CC list), amplifier picture, bottom bar,
//   status line and veil, connection box, IR panel.

#include <algorithm>
#include <cmath>
#include <string_view>

#include "ir/factory_catalogue.hpp"
#include "ir/ir_slots.hpp"
#include "ui/assets.hpp"
#include "ui/canvas.hpp"
#include "ui/panel_geometry.hpp"
#include "ui/panel_text.hpp"
#include "ui/response_plot.hpp"

namespace halvard {
namespace {

constexpr int32_t kCcRowHeight = 19;

// The IR panel's column below its heading: the description box, then the response plot of the
// browsed entry in a well, kept clear of the AUDITION switch and left out when there is no room.
constexpr int32_t kPanelInnerLeft = 258;
constexpr int32_t kPanelInnerWidth = 234;
constexpr int32_t kDescriptionTop = 50;
constexpr int32_t kDescriptionHeight = 234;
constexpr int32_t kPlotTop = 300;
constexpr int32_t kPlotHighestTop = kDescriptionTop + kDescriptionHeight + 6;
constexpr int32_t kPlotHeight = 150;
constexpr int32_t kPlotGapAboveSwitch = 12;
// The graph inside the well: the level labels to its left, the frequency labels below it.
constexpr int32_t kGraphInsetLeft = 26;
constexpr int32_t kGraphInsetTop = 10;
constexpr int32_t kPlotLabelHeight = 14;
constexpr uint32_t kColorGrid = kColorTrackOff;
constexpr uint32_t kColorAxisLabel = kColorIconIdle;
constexpr double kGridStepDb = 12.0;
constexpr std::string_view kLevelLabels[] = {"0", "\u221212", "\u221224", "\u221236"};  // every 12 dB down
struct FrequencyMark {
    double hz;
    std::string_view label;
};
constexpr FrequencyMark kFrequencyMarks[] = {{100.0, "100"}, {1000.0, "1k"}, {10000.0, "10k"}};

// The keyboard focus ring: lines this thick, this far outside the focused control.
constexpr int32_t kFocusRingWidth = 2;
constexpr int32_t kFocusRingGap = 2;

// The amplifier picture and the overlays cut from its sprite pictures, in picture pixels.
constexpr int32_t kPictureWidth = 1200;
constexpr int32_t kPictureHeight = 1000;
struct PictureRect {
    int32_t x, y, w, h;
};
constexpr PictureRect kRhythmIrToggle{593, 303, 37, 34};
constexpr PictureRect kLeadIrToggle{593, 528, 37, 34};
constexpr PictureRect kReverbLed{230, 307, 34, 31};
constexpr PictureRect kTremoloLed{230, 532, 34, 31};
constexpr PictureRect kRhythmLed{936, 307, 34, 31};
constexpr PictureRect kLeadLed{936, 532, 34, 31};

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

// Every control is drawn from its entry in the frame's control table: its rectangle, its label
// (the entry's name) and its state.
class Frame {
public:
    Frame(Canvas& canvas, const MirrorView& view, const PanelLayout& layout, const HitRegions& regions,
          const CollectionShown& collection)
        : canvas_(canvas),
          view_(view),
          collection_(collection),
          program_(view.current),
          layout_(layout),
          regions_(regions),
          g_(panelGeometry(canvas.surfaceWidth(), canvas.surfaceHeight(), view.ccListOpen)),
          width_(g_.width),
          height_(g_.height) {}

    void draw(std::optional<ControlId> focus);

private:
    void text(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, int font, int align,
              std::string_view s) {
        canvas_.drawText(x, y, w, h, color, font, align, kAlignMiddle, s, true);
    }
    bool hovered(ControlId c) const { return regions_.isHovered(c); }
    const PanelControl& control(ControlId c) const { return layout_[c].control; }

    void topRowBox(int32_t x, int32_t w, int32_t tw, bool lit, std::string_view label);
    void arrow(ControlId c, const ImageAsset* icon);
    void slideSwitch(ControlId c, int32_t wellWidth, int32_t wellHeight, int32_t labelOffset);
    void channelSwitch(ControlId c, bool act, const ImageAsset* label, int32_t hfLabelWidth);
    void slotRow(int slot);
    void channelSection(int section, int32_t top);

    void topRow();
    void programName();
    void switchRow();
    void leftColumn();
    void ccList();
    void picture();
    void bottomBar();
    void statusAndVeil();
    void connectionBox();
    void irPanel();
    void responsePlot(int32_t index, int32_t switchTop);
    void programsOverlay();
    void overlayTabs();
    void recordSummary(const DipRect& r, const ProgramSettings& rec);
    void focusRing(ControlId c);

    Canvas& canvas_;
    const MirrorView& view_;
    const CollectionShown& collection_;
    const ProgramSettings& program_;  // the current program's record
    const PanelLayout& layout_;
    const HitRegions& regions_;
    const PanelGeometry g_;
    const int32_t width_, height_;  // the surface
};

void Frame::topRowBox(int32_t x, int32_t w, int32_t tw, bool lit, std::string_view label) {
    canvas_.fillRect(x, kTopRowBoxTop, w, kTopRowBoxHeight, 13, lit ? kColorTextLight : kColorPanel);
    text(x, 4, tw, 33, lit ? kColorPanel : kColorTextLight, kFont11, kCentred, label);
}

void Frame::arrow(ControlId c, const ImageAsset* icon) {
    const DipRect& r = control(c).rect;
    canvas_.fillMask(r.x, r.y, r.width, r.height, icon, hovered(c) ? kColorBright : kColorTextDim);
}

void Frame::slideSwitch(ControlId c, int32_t wellWidth, int32_t wellHeight, int32_t labelOffset) {
    const PanelControl& s = control(c);
    const bool on = s.checked;
    const DipRect& r = s.rect;  // the track
    canvas_.fillRect(r.x, r.y, wellWidth, wellHeight, 10, kColorPanel);
    canvas_.fillRect(r.x, r.y, r.width, r.height, 10, on ? kColorAccent : kColorTrackOff);
    canvas_.fillRect(on ? r.x + 20 : r.x, r.y, 20, 20, 10,
                     (on || hovered(c)) ? kColorBright : kColorTextLight);
    text(r.x + labelOffset, r.y, 75, 20, kColorTextLight, kFont10, kCentred, s.name);
}

// A three-position filter switch (label is its icon) or the two-position "HF COMP" switch (label null).
void Frame::channelSwitch(ControlId c, bool act, const ImageAsset* label, int32_t hfLabelWidth) {
    const PanelControl& s = control(c);
    const bool three = label != nullptr;
    const int32_t x = s.rect.x, y = s.rect.y;
    canvas_.fillRect(x, y, 110, 20, 10, kColorWell);
    canvas_.fillRect(x, y, three ? 44 : 40, 20, 10, act ? kColorAccent : kColorTrackOff);
    int32_t knobX = x;
    if (three) {
        const int32_t v = s.number;
        knobX = x + 12 + 12 * ((v == 3 ? 1 : 0) - (v == 1 ? 1 : 0));
    } else if (s.checked) {
        knobX = x + 20;
    }
    canvas_.fillRect(knobX, y, 20, 20, 10, act ? kColorBright : kColorTextLight);
    if (three) {
        canvas_.fillMask(x + 52, y + 1, 48, 20, label, kColorTextLight);
    } else {
        text(x + 35, y, hfLabelWidth, 20, kColorTextLight, kFont10, kCentred, s.name);
    }
}

// User slot `slot` (0..5): rows 0..2 belong to the rhythm section, 3..5 to the lead section.
void Frame::slotRow(int slot) {
    const int section = slot < 3 ? 0 : 1;
    const int choiceIndex = slot % 3;
    const ControlId choice =
        (section == 0 ? ControlId::RhythmIrChoice0 : ControlId::LeadIrChoice0) + choiceIndex;
    const ControlId select = ControlId::SlotSelect1 + slot;
    const ControlId import = ControlId::SlotImport1 + slot;
    const ControlId browse = ControlId::SlotBrowse1 + slot;
    const int32_t top = slotRowTop(g_, slot);

    canvas_.fillRect(0, top, kLeftColumnWidth, kSlotRowHeight, 0,
                     choiceIndex == 1 ? kColorPanel : kColorWell);
    if (choiceIndex == 0) canvas_.fillRect(0, top, kLeftColumnWidth, 1, 0, kColorRule);

    const PanelControl& dot = control(choice);
    const uint32_t dotColor = dot.checked ? kColorTextLight : hovered(choice) ? kColorTextDim : kColorWindow;
    canvas_.fillRect(dot.rect.x, dot.rect.y, dot.rect.width, dot.rect.height, 6, dotColor);

    const auto name = slotNameText(view_.userIrSlotNames[static_cast<size_t>(slot)].view());
    text(28, top, 174, kSlotRowHeight, kColorTextDim, kFont11, kLeading, shownSlotName(name.view()));

    const auto icon = [&](ControlId c, const ImageAsset& mask, uint32_t color) {
        const DipRect& r = control(c).rect;
        canvas_.fillMask(r.x, r.y, r.width, r.height, &mask, color);
    };
    // The selection wins over the hover on the select icon; the hover wins on the browse icon.
    icon(select, assets::iconSlotSelect,
         control(select).checked ? kColorAccent
         : hovered(select)       ? kColorTextLight
                                 : kColorIconIdle);
    icon(import, assets::iconFolder, hovered(import) ? kColorTextLight : kColorIconIdle);
    icon(browse, assets::iconPlus,
         hovered(browse)                 ? kColorTextLight
         : view_.irPanelSlot == slot + 1 ? kColorAccent
                                         : kColorIconIdle);
}

// The rhythm section (0) at its fixed place, or the lead section (1) that moves with the CC list:
// heading, lamp, filter switches, HF COMP, and the section's three slot rows.
void Frame::channelSection(int section, int32_t top) {
    const bool rhythm = section == 0;
    const bool act = program_.channel == section;
    canvas_.fillRect(0, top, kLeftColumnWidth, kBandHeight, 0, kColorBand);
    text(33, top + 1, kLeftColumnWidth - 33, kBandHeight, kColorAccent, kFont13, kLeading,
         rhythm ? "RHYTHM CHANNEL" : "LEAD CHANNEL");
    canvas_.fillMask(4, top + 5, 23, 23, &assets::iconWaveform, kColorAccent);
    canvas_.fillRect(229, top + 10, 14, 14, 7,
                     (act && program_.irBypass == 0) ? kColorTextLight : kColorPanel);

    canvas_.fillRect(0, top + kBandHeight, kLeftColumnWidth, kBandHeight, 0, kColorBand);
    channelSwitch(rhythm ? ControlId::RhythmLowpass : ControlId::LeadLowpass, act, &assets::iconLowpass, 0);
    channelSwitch(rhythm ? ControlId::RhythmHighpass : ControlId::LeadHighpass, act, &assets::iconHighpass,
                  0);

    canvas_.fillRect(0, top + 2 * kBandHeight, kLeftColumnWidth, kBandHeight, 0, kColorBand);
    channelSwitch(rhythm ? ControlId::RhythmHfComp : ControlId::LeadHfComp, act, nullptr, rhythm ? 75 : 80);

    for (int j = 0; j < 3; ++j) slotRow(3 * section + j);
}

void Frame::topRow() {
    canvas_.fillRect(0, 0, width_, height_, 0, kColorWindow);  // the only clearing of the surface
    canvas_.fillRect(0, 0, kLeftColumnWidth, kBadgeAreaHeight, 0, kColorPanel);
    canvas_.fillMask(60, 8, 130, 82, &assets::logoBadgeMask, kColorAccent);
    canvas_.drawImage(60, 8, 130, 82, &assets::logoBadge);

    // The MIDI channel's box: the channel (or OMNI) and the MIDI icon; its arrows come after the
    // global boxes.
    const PanelControl& channel = control(ControlId::MidiChannelBox);
    const DipRect& c = channel.rect;
    canvas_.fillRect(c.x, c.y, c.width, c.height, 13, kColorPanel);
    text(c.x + 17, 4, 59, 33, kColorTextLight, kFont11, kCentred, channel.value.view());
    canvas_.fillMask(c.x + 92, 9, 23, 23, &assets::iconMidi, kColorTextDim);

    for (const ControlId id :
         {ControlId::BypassLockButton, ControlId::MonoButton, ControlId::ReverbTailsButton}) {
        const PanelControl& box = control(id);
        topRowBox(box.rect.x, box.rect.width, box.rect.width, box.checked, box.name);
    }

    arrow(ControlId::MidiChannelDown, &assets::iconArrowLeft);
    arrow(ControlId::MidiChannelUp, &assets::iconArrowRight);

    const PanelControl& program = control(ControlId::ProgramBox);
    const DipRect& p = program.rect;
    canvas_.fillRect(p.x, p.y, p.width, p.height, 13, kColorPanel);
    text(p.x + 150, 4, 50, 33, kColorAccent, kFont13, kCentred, program.value.view());
    text(p.x + 25, 4, 135, 33, kColorTextLight, kFont13, kCentred, program.name);
    arrow(ControlId::ProgramDown, &assets::iconArrowLeft);
    arrow(ControlId::ProgramUp, &assets::iconArrowRight);
    programName();
}

// The current program's name from the program library, beside the program box on its left, in the
// room the REVERB TAILS box leaves; a dot after it while the program has changed on the amplifier
// since it was named (the status line says so). Nothing at all for a program without a name.
void Frame::programName() {
    constexpr int32_t kGapToBoxes = 8;  // between the name and REVERB TAILS, its mark and the program box
    constexpr int32_t kMarkSize = 6;    // the stale mark, a dot in the accent colour
    constexpr int32_t kMarkGap = 6;     // between the name and the mark
    const ProgramNameLine& name = view_.programName;
    if (name.program != view_.program || name.name.view().empty()) return;
    const DipRect& tails = control(ControlId::ReverbTailsButton).rect;
    const int32_t left = tails.x + tails.width + kGapToBoxes;
    int32_t right = control(ControlId::ProgramBox).rect.x - kGapToBoxes;
    if (name.stale) {
        canvas_.fillRect(right - kMarkSize, kTopRowBoxTop + (27 - kMarkSize) / 2, kMarkSize, kMarkSize,
                         kMarkSize / 2, kColorAccent);
        right -= kMarkSize + kMarkGap;
    }
    text(left, 4, right - left, 33, kColorTextLight, kFont11, kTrailing, name.name.view());
}

void Frame::switchRow() {
    slideSwitch(ControlId::BypassSwitch, 110, 21, 33);
    slideSwitch(ControlId::ChannelSwitch, 110, 21, 33);
    slideSwitch(ControlId::ReverbSwitch, 105, 20, 33);
    slideSwitch(ControlId::TremoloSwitch, 105, 20, 33);
    slideSwitch(ControlId::LoopBypassSwitch, 115, 20, 38);
    slideSwitch(ControlId::IrBypassSwitch, 105, 20, 33);
}

void Frame::leftColumn() {
    canvas_.fillRect(0, kBadgeAreaHeight, kLeftColumnWidth, height_ - kBadgeAreaHeight, 0, kColorPanel);
    const PanelControl& store = control(ControlId::StorePresetButton);
    const DipRect& r = store.rect;
    canvas_.fillRect(r.x, r.y, r.width, r.height, 0,
                     hovered(ControlId::StorePresetButton) ? kColorBright : kColorAccent);
    text(r.x, r.y + 1, r.width, r.height, kColorPanel, kFont13, kCentred, store.name);

    channelSection(0, kRhythmSectionTop);
    channelSection(1, g_.leadSectionTop);
    ccList();
    canvas_.fillRect(kLeftColumnWidth, kHeadingRuleY, 1, height_ - kHeadingRuleY, 0, kColorRule);
}

void Frame::ccList() {
    const int32_t top = g_.ccListTop;
    const PanelControl& toggle = control(ControlId::CcListToggle);
    canvas_.fillRect(0, top, kLeftColumnWidth, kBandHeight, 0, kColorBand);
    text(33, top + 1, kLeftColumnWidth - 33, kBandHeight, kColorAccent, kFont13, kLeading, toggle.name);
    canvas_.fillMask(4, top + 5, 23, 23, &assets::iconMidi, kColorAccent);
    const DipRect& t = toggle.rect;
    canvas_.fillMask(t.x, t.y, t.width, t.height, &assets::iconPlus,
                     hovered(ControlId::CcListToggle) ? kColorTextLight : kColorIconIdle);
    if (!view_.ccListOpen) return;
    int32_t y = top + kBandHeight + 2;
    for (const CcRow& row : kCcRows) {
        text(12, y, 226, kCcRowHeight, kColorTextDim, kFont11, kLeading, row.controller);
        text(12, y, 226, kCcRowHeight, kColorTextDim, kFont11, kTrailing, row.values);
        y += kCcRowHeight;
    }
}

// The picture with its overlays: LEDs and IR toggles of the current program.
void Frame::picture() {
    const PictureLayout layout = pictureLayout(width_, height_);
    if (!(layout.scale > 0.0f)) return;
    canvas_.setScale(layout.scale);
    canvas_.drawImage(layout.x0, layout.y0, kPictureWidth, kPictureHeight, &assets::ampPhoto);
    // Each overlay is the same part of a sprite picture drawn at the same place over the photo.
    const auto overlay = [&](const ImageAsset& sprite, const PictureRect& r) {
        canvas_.drawImagePart(r.x, r.y, r.w, r.h, layout.x0 + r.x, layout.y0 + r.y, r.w, r.h, &sprite);
    };
    // REVERB and TREMOLO follow the selected channel; any channel but rhythm reads the lead entry.
    const size_t ch = program_.channel == 0 ? 0 : 1;
    // IR toggles: left for choice 0, middle for 1; the photo's own toggle (right) otherwise.
    if (program_.ir[0] == 0) overlay(assets::ampSpritesLeft, kRhythmIrToggle);
    if (program_.ir[0] == 1) overlay(assets::ampSpritesLit, kRhythmIrToggle);
    if (program_.ir[1] == 0) overlay(assets::ampSpritesLeft, kLeadIrToggle);
    if (program_.ir[1] == 1) overlay(assets::ampSpritesLit, kLeadIrToggle);
    if (program_.reverb[ch] != 0) overlay(assets::ampSpritesLit, kReverbLed);
    if (program_.tremolo[ch] != 0) overlay(assets::ampSpritesLit, kTremoloLed);
    if (program_.bypass == 0 && program_.channel == 0) overlay(assets::ampSpritesLit, kRhythmLed);
    if (program_.bypass == 0 && program_.channel != 0) overlay(assets::ampSpritesLit, kLeadLed);
    canvas_.setScale(1.0f);
}

void Frame::bottomBar() {
    const int32_t top = height_ - kBottomBarHeight;
    canvas_.fillRect(0, top, width_, kBottomBarHeight, 0, kColorAccent);
    text(width_ - 180, top, 80, kBottomBarHeight, kColorPoweredBy, kFont10, kLeading, "POWERED BY");
    canvas_.fillMask(width_ - 105, top + 6, 93, 9, &assets::poweredByMark, kColorPanel);
}

void Frame::statusAndVeil() {
    const int32_t barTop = height_ - kBottomBarHeight;
    const auto status = [&](int32_t w, int align, std::string_view s) {
        text(10, barTop, w, kBottomBarHeight, kColorStatusText, kFont11, align, s);
    };
    const FixedText<40> version = firmwareVersionText(view_.firmwareVersion);
    // The outcome of the last backup or restore, and notes on the program's name, beside the version.
    const FixedText<160> line = statusLineText(view_);
    if (view_.linkState != LinkState::NoDevice && !line.view().empty())
        text(300, barTop, width_ - 500, kBottomBarHeight, kColorStatusText, kFont11, kLeading, line.view());
    const bool panelOpen = view_.irPanelSlot > 0;
    if (view_.linkState == LinkState::Connected && !panelOpen) {
        status(280, kLeading, version.view());
        return;
    }
    if (!panelOpen) {
        canvas_.fillRect(0, 0, width_, barTop, 0, kColorDim);
    } else {
        canvas_.fillRect(kLeftColumnWidth, 0, width_ - kLeftColumnWidth, barTop, 0, kColorDim);
    }
    if (view_.progress < 0) {
        if (view_.linkState != LinkState::NoDevice) {
            status(280, kLeading, version.view());
        } else if (view_.portInUse) {
            status(280, kLeading, "ANOTHER PROGRAM HAS THE PORT OPEN");
        } else if (view_.portsSeen >= 0) {
            // How many ports were seen tells a missing driver from an unplugged cable.
            status(280, kLeading, noAmplifierText(view_.portsSeen).view());
        }
    } else if (view_.progress == kProgressStoring) {
        status(80, kLeading, "STORING...");
    } else if (view_.progress == kProgressReading) {
        status(80, kLeading, "READING...");
    } else {
        FixedText<16> percent;
        percent << view_.progress << "%";
        status(80, kLeading, percent.view());
        if (view_.availableFirmware > view_.firmwareVersion) {
            status(width_ - 10, kCentred, "UPDATE IN PROGRESS... DO NOT POWER DOWN");
        }
    }
}

void Frame::connectionBox() {
    const bool present = view_.linkState != LinkState::NoDevice;
    const std::string_view label = !present && view_.portInUse           ? "PORT IN USE"
                                   : !present                            ? "NO DEVICE"
                                   : view_.linkState == LinkState::Error ? "ERROR"
                                                                         : "CONNECTED";
    topRowBox(260, 120, 100, present, label);
    canvas_.fillMask(352, 9, 23, 23, &assets::iconConnection, present ? kColorPanel : kColorTextDim);
}

void Frame::irPanel() {
    const int32_t left = kLeftColumnWidth;
    const int32_t barTop = height_ - kBottomBarHeight;
    canvas_.fillRect(left, kHeadingRuleY, kIrPanelWidth, barTop - kHeadingRuleY, 0, kColorWindow);
    canvas_.fillRect(left, 0, kIrPanelWidth, kHeadingRuleY + 1, 0, kColorPanel);

    // The buttons stand on the bottom bar, the audition switch above the SELECT button.
    const PanelControl& extract = control(ControlId::ExtractAllButton);
    const DipRect& e = extract.rect;
    const bool extractHover = hovered(ControlId::ExtractAllButton);
    canvas_.fillRect(e.x, e.y, e.width, e.height, 13, extractHover ? kColorTextLight : kColorWell);
    text(e.x, e.y - 3, e.width, e.height + 6, extractHover ? kColorPanel : kColorTextLight, kFont11, kCentred,
         extract.name);

    const PanelControl& audition = control(ControlId::AuditionSwitch);
    const DipRect& a = audition.rect;  // the track
    const bool on = audition.checked;
    canvas_.fillRect(a.x, a.y, 110, 21, 10, kColorPanel);
    canvas_.fillRect(a.x, a.y, a.width, a.height, 10, on ? kColorAccent : kColorTrackOff);
    canvas_.fillRect(on ? a.x + 20 : a.x, a.y, 20, 20, 10,
                     (on || hovered(ControlId::AuditionSwitch)) ? kColorBright : kColorTextLight);
    text(a.x + 46, a.y, 80, 20, kColorTextLight, kFont10, kLeading, audition.name);

    const PanelControl& select = control(ControlId::SelectButton);
    const DipRect& s = select.rect;
    canvas_.fillRect(s.x, s.y, s.width, s.height, 13,
                     hovered(ControlId::SelectButton) ? kColorTextLight : kColorAccent);
    text(s.x, s.y - 3, s.width, s.height + 6, kColorPanel, kFont11, kCentred, select.name);

    // The title between its arrows.
    const PanelControl& title = control(ControlId::FactoryTitle);
    const DipRect& t = title.rect;
    text(t.x + 2, t.y, t.width - 4, t.height,
         hovered(ControlId::FactoryTitle) ? kColorTextLight : kColorAccent, kFont13, kCentred,
         title.value.view());
    arrow(ControlId::FactoryPrev, &assets::iconArrowLeft);
    arrow(ControlId::FactoryNext, &assets::iconArrowRight);

    const int32_t index = view_.factoryIrIndex;
    if (view_.factoryListOpen) {
        for (int i = 0; i < kFactoryIrCount; ++i) {
            const ControlId id = ControlId::FactoryRow0 + i;
            const PanelControl& row = control(id);
            const DipRect& r = row.rect;
            const bool chosen = row.checked;
            const bool over = hovered(id);
            canvas_.fillRect(r.x, r.y, r.width, r.height, 0, i % 2 == 1 ? kColorRowOdd : kColorRowEven);
            canvas_.fillRect(r.x + 8, r.y + 10, 12, 12, 6,
                             chosen ? kColorAccent
                             : over ? kColorTextLight
                                    : kColorWindow);
            text(r.x + 30, r.y, 210, r.height,
                 chosen ? kColorAccent
                 : over ? kColorTextLight
                        : kColorTextDim,
                 kFont11, kLeading, row.name);
        }
    } else {
        // Wraps at word boundaries; trimming comes from the single-line texts of the same font.
        const std::string_view description =
            (index >= 0 && index < kFactoryIrCount)
                ? factoryIrCatalogue()[static_cast<size_t>(index)].description
                : std::string_view();
        canvas_.drawText(kPanelInnerLeft, kDescriptionTop, kPanelInnerWidth, kDescriptionHeight,
                         kColorTextDim, kFont13, kLeading, kAlignTop, description, false);
        responsePlot(index, a.y);
    }

    canvas_.fillRect(left, 0, 1, barTop, 0, kColorRule);
    canvas_.fillRect(kIrPanelRight, 0, 1, barTop, 0, kColorRule);
    canvas_.fillRect(0, kHeadingRuleY, kIrPanelRight, 1, 1, kColorRule);
}

// The well with its grid and labels, and the entry's curve: a mask baked at build time, drawn in
// the accent colour over the graph area its drawing was made for.
void Frame::responsePlot(int32_t index, int32_t switchTop) {
    const int32_t top = std::min(kPlotTop, switchTop - kPlotGapAboveSwitch - kPlotHeight);
    if (top < kPlotHighestTop || index < 0 || index >= kFactoryIrCount) return;
    canvas_.fillRect(kPanelInnerLeft, top, kPanelInnerWidth, kPlotHeight, 6, kColorPanel);

    const int32_t graphLeft = kPanelInnerLeft + kGraphInsetLeft;
    const int32_t graphTop = top + kGraphInsetTop;
    for (size_t step = 0; step < std::size(kLevelLabels); ++step) {
        const double db = -kGridStepDb * static_cast<double>(step);
        const auto y = graphTop + static_cast<int32_t>(std::lround(responseY(db) * kResponseGraphHeight));
        canvas_.fillRect(graphLeft, y, kResponseGraphWidth, 1, 0, kColorGrid);
        text(kPanelInnerLeft, y - kPlotLabelHeight / 2, kGraphInsetLeft - 5, kPlotLabelHeight,
             kColorAxisLabel, kFont10, kTrailing, kLevelLabels[step]);
    }
    for (const FrequencyMark& mark : kFrequencyMarks) {
        const auto x =
            graphLeft + static_cast<int32_t>(std::lround(responseX(mark.hz) * kResponseGraphWidth));
        canvas_.fillRect(x, graphTop, 1, kResponseGraphHeight, 0, kColorGrid);
        text(x - 20, graphTop + kResponseGraphHeight + 2, 40, kPlotLabelHeight, kColorAxisLabel, kFont10,
             kCentred, mark.label);
    }
    canvas_.fillMask(graphLeft, graphTop, kResponseGraphWidth, kResponseGraphHeight,
                     &assets::factoryIrCurves[static_cast<size_t>(index)], kColorAccent);
}

// The PROGRAMS overlay: a row per program with its number, the stale mark, its name, and a summary
// of its record: the channel (RHY or LEAD), then BYP, REV, TRM, LOOP and IRB, lit when on. A program
// never read has no summary. The current program's row is marked by a bar at its left edge, a
// program that differs from the file or backup compared with by a frame around its number.
// In the COLLECTION view the same rows show the entries the filter leaves: name, tags, summary.
void Frame::programsOverlay() {
    constexpr int32_t kMarkSize = 6;
    const DipRect area = programsOverlayRect(width_, height_);
    canvas_.fillRect(area.x - 1, area.y - 1, area.width + 2, area.height + 2, 0, kColorTrackOff);
    overlayTabs();
    for (int32_t i = 0; i < kProgramRowsMax; ++i) {
        const ControlId id = ControlId::ProgramRow0 + i;
        if (!layout_[id].shown) break;
        const PanelControl& row = control(id);
        const DipRect& r = row.rect;
        const auto p = static_cast<size_t>(row.number);
        const bool over = hovered(id);
        if (view_.collectionOpen) {
            const CollectionRow& entry = *collection_.rows[p];
            canvas_.fillRect(r.x, r.y, r.width, r.height, 0,
                             row.number % 2 == 1 ? kColorRowOdd : kColorRowEven);
            const uint32_t ink = over ? kColorTextLight : kColorTextDim;
            text(r.x + 6, r.y, 110, r.height, ink, kFont11, kLeading, entry.name);
            text(r.x + 118, r.y, 76, r.height, kColorIconIdle, kFont10, kLeading, entry.tags);
            recordSummary(r, entry.settings);
            continue;
        }
        const ProgramListEntry& name = view_.programNames[p];
        canvas_.fillRect(r.x, r.y, r.width, r.height, 0, row.number % 2 == 1 ? kColorRowOdd : kColorRowEven);
        if (row.checked) canvas_.fillRect(r.x, r.y, 3, r.height, 0, kColorAccent);
        const uint32_t ink = row.checked ? kColorAccent : over ? kColorTextLight : kColorTextDim;
        text(r.x + 6, r.y, 30, r.height, ink, kFont11, kTrailing, row.value.view());
        if (name.differs) {
            constexpr int32_t kFrameX = 6, kFrameWidth = 32, kFrameInset = 3, kLine = 1;
            const int32_t top = r.y + kFrameInset, bottom = r.y + r.height - kFrameInset - kLine;
            canvas_.fillRect(r.x + kFrameX, top, kFrameWidth, kLine, 0, kColorAccent);
            canvas_.fillRect(r.x + kFrameX, bottom, kFrameWidth, kLine, 0, kColorAccent);
            canvas_.fillRect(r.x + kFrameX, top, kLine, bottom - top, 0, kColorAccent);
            canvas_.fillRect(r.x + kFrameX + kFrameWidth - kLine, top, kLine, bottom - top, 0, kColorAccent);
        }
        if (name.stale)
            canvas_.fillRect(r.x + 40, r.y + (r.height - kMarkSize) / 2, kMarkSize, kMarkSize, kMarkSize / 2,
                             kColorAccent);
        text(r.x + 52, r.y, 140, r.height, ink, kFont11, kLeading, name.name.view());
        recordSummary(r, view_.programs[p]);
    }
}

// A row's summary of a record: the channel (RHY or LEAD), then BYP, REV, TRM, LOOP and IRB, lit when
// on; nothing for a record never read.
void Frame::recordSummary(const DipRect& r, const ProgramSettings& rec) {
    struct Label {
        std::string_view text;
        int32_t x, width;  // from the row's left edge
    };
    constexpr Label kSwitchLabels[] = {
        {"BYP", 232, 26}, {"REV", 258, 26}, {"TRM", 284, 26}, {"LOOP", 310, 32}, {"IRB", 342, 26}};
    if (rec.loaded == 0) return;
    const size_t ch = rec.channel == 0 ? 0 : 1;
    const bool lit[] = {rec.bypass == 1, rec.reverb[ch] == 1, rec.tremolo[ch] == 1, rec.loopBypass == 1,
                        rec.irBypass == 1};
    text(r.x + 196, r.y, 36, r.height, kColorAccent, kFont10, kLeading, ch == 0 ? "RHY" : "LEAD");
    for (size_t k = 0; k < std::size(lit); ++k) {
        const Label& label = kSwitchLabels[k];
        text(r.x + label.x, r.y, label.width, r.height, lit[k] ? kColorTextLight : kColorIconIdle, kFont10,
             kCentred, label.text);
    }
}

// The tabs between the two views, the one shown lit; under them, in the COLLECTION view, the filter
// typed (or how to type one) and how many entries it leaves.
void Frame::overlayTabs() {
    for (const ControlId id : {ControlId::ProgramsTab, ControlId::CollectionTab}) {
        const PanelControl& tab = control(id);
        const DipRect& r = tab.rect;
        canvas_.fillRect(r.x, r.y, r.width, r.height, 0, tab.checked ? kColorRowOdd : kColorRowEven);
        if (tab.checked) canvas_.fillRect(r.x, r.y, 3, r.height, 0, kColorAccent);
        text(r.x + 8, r.y, r.width - 10, r.height,
             tab.checked   ? kColorAccent
             : hovered(id) ? kColorTextLight
                           : kColorTextDim,
             kFont10, kLeading, tab.name);
    }
    if (!view_.collectionOpen) return;
    const DipRect& below = control(ControlId::CollectionTab).rect;
    const int32_t y = below.y + below.height;
    canvas_.fillRect(below.x, y, below.width, 2 * below.height, 0, kColorRowEven);
    text(below.x + 8, y, below.width - 10, below.height, kColorTextLight, kFont10, kLeading,
         collection_.filter.empty() ? std::string_view("TYPE TO FILTER") : collection_.filter);
    FixedText<32> count;
    count << static_cast<int32_t>(collection_.rows.size()) << " OF "
          << static_cast<int32_t>(collection_.total);
    text(below.x + 8, y + below.height, below.width - 10, below.height, kColorTextDim, kFont10, kLeading,
         count.view());
}

// Four lines around the control, kept inside the surface. Drawn over everything, and only while the
// control acts: under the veil there is nothing for the keys to reach.
void Frame::focusRing(ControlId c) {
    const ControlEntry& e = layout_[c];
    if (!e.shown || !e.control.enabled) return;
    const DipRect& r = e.control.rect;
    const int32_t out = kFocusRingGap + kFocusRingWidth;
    const int32_t x0 = std::max(r.x - out, 0);
    const int32_t y0 = std::max(r.y - out, 0);
    const int32_t x1 = std::min(r.x + r.width + out, width_);
    const int32_t y1 = std::min(r.y + r.height + out, height_);
    const int32_t t = kFocusRingWidth;
    canvas_.fillRect(x0, y0, x1 - x0, t, 0, kColorAccent);
    canvas_.fillRect(x0, y1 - t, x1 - x0, t, 0, kColorAccent);
    canvas_.fillRect(x0, y0 + t, t, y1 - y0 - 2 * t, 0, kColorAccent);
    canvas_.fillRect(x1 - t, y0 + t, t, y1 - y0 - 2 * t, 0, kColorAccent);
}

void Frame::draw(std::optional<ControlId> focus) {
    topRow();
    switchRow();
    leftColumn();
    picture();
    bottomBar();
    statusAndVeil();
    connectionBox();
    if (view_.irPanelSlot > 0) irPanel();
    if (view_.programsOpen) programsOverlay();
    if (focus) focusRing(*focus);
}
}  // namespace

void applyBypassLock(DeviceMirror& mirror, MirrorView& view) {
    if (view.bypassLock == 0 || view.current.bypass == 0) return;
    view.current.bypass = 0;
    mirror.editRecord(view.program, [](ProgramSettings& r) { r.bypass = 0; });
}

void drawPanel(Canvas& canvas, const MirrorView& view, const PanelLayout& layout, const HitRegions& regions,
               std::optional<ControlId> focus, const CollectionShown& collection) {
    Frame(canvas, view, layout, regions, collection).draw(focus);
}

PictureLayout pictureLayout(int w, int h) {
    // The picture fits the surface less these margins, and is centred in the area right of the left
    // column and below the top rows.
    constexpr int32_t kWidthMargin = 300;
    constexpr int32_t kHeightMargin = 150;
    constexpr int32_t kAreaTop = 90;
    constexpr auto kWidth = static_cast<float>(kPictureWidth);
    constexpr auto kHeight = static_cast<float>(kPictureHeight);
    // Single precision throughout, as the placement rule is defined.
    const float sx = 1.0f / (kWidth / static_cast<float>(w - kWidthMargin));
    const float sy = 1.0f / (kHeight / static_cast<float>(h - kHeightMargin));
    float s = sy < sx ? sy : sx;  // sx when equal
    if (s > 1.0f) s = 1.0f;
    // A surface too small for any of the picture gives no positive scale (and the division below
    // would leave the integers' range).
    if (!(s > 0.0f)) return {0.0f, 0, 0};
    const auto left = static_cast<int32_t>((static_cast<float>(w - kLeftColumnWidth) - s * kWidth) * 0.5f +
                                           static_cast<float>(kLeftColumnWidth));
    const auto top = static_cast<int32_t>((static_cast<float>(h - kAreaTop) - s * kHeight) * 0.5f +
                                          static_cast<float>(kAreaTop));
    return {s, static_cast<int>(static_cast<float>(left) / s), static_cast<int>(static_cast<float>(top) / s)};
}

}  // namespace halvard
