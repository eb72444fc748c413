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

// The left column's layout: the badge area at the top, then bands and slot rows of fixed heights.
constexpr int32_t kBadgeAreaHeight = 98;  // the store bar starts below it
constexpr int32_t kBandHeight = 33;       // store bar, section headings, switch bands, CC list heading
constexpr int32_t kSlotRowHeight = 31;    // slot rows, and the factory list's rows
constexpr int32_t kRhythmSectionTop = kBadgeAreaHeight + kBandHeight;
constexpr int32_t kCcRowHeight = 19;
// The CC list heading sits on the bottom bar; opened, it rises by the ten rows and their margins.
constexpr int32_t kCcListClosedRise = kBottomBarHeight + kBandHeight;
constexpr int32_t kCcListOpenRise = 266;
// The switch row spans this width, left column included, centred in the window.
constexpr int32_t kSwitchRowSpan = 964;
constexpr int32_t kSwitchRowTop = 51;
constexpr int32_t kTopRowBoxTop = 7;  // the rounded boxes of the top row, 27 high
constexpr int32_t kProgramBoxWidth = 220;

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
        : canvas_(canvas),
          view_(view),
          program_(view.current),
          regions_(regions),
          width_(canvas.surfaceWidth()),
          height_(canvas.surfaceHeight()),
          switchRowOffset_((width_ - kSwitchRowSpan) / 2),
          programBoxLeft_((width_ + 30) / 2),
          // The lead section moves up with the CC list, keeping to the middle of the room left.
          leadSectionTop_(view.ccListOpen ? (height_ - kCcListOpenRise) / 2 + 66 : height_ / 2 + 44),
          ccListTop_(height_ - (view.ccListOpen ? kCcListOpenRise : kCcListClosedRise)),
          // REVERB and TREMOLO follow the selected channel; any channel but rhythm reads the lead entry.
          effectChannel_(view.current.channel == 0 ? 0 : 1) {}

    void draw();

private:
    void text(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t color, int font, int align,
              std::string_view s) {
        canvas_.drawText(x, y, w, h, color, font, align, kAlignMiddle, s, true);
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
    void slotRow(int slot, int32_t top);
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

    Canvas& canvas_;
    const MirrorView& view_;
    const ProgramSettings& program_;  // the current program's record
    HitRegions& regions_;
    const int32_t width_, height_;   // the surface
    const int32_t switchRowOffset_;  // the switch row, centred: its controls are placed from here
    const int32_t programBoxLeft_;
    const int32_t leadSectionTop_;
    const int32_t ccListTop_;  // the MIDI CC LIST heading
    const size_t effectChannel_;
};

void Frame::topRowBox(int32_t x, int32_t w, int32_t tw, bool lit, std::string_view label) {
    canvas_.fillRect(x, kTopRowBoxTop, w, 27, 13, lit ? kColorTextLight : kColorPanel);
    text(x, 4, tw, 33, lit ? kColorPanel : kColorTextLight, kFont11, kCentred, label);
}

void Frame::arrow(int32_t x, const ImageAsset* icon, ControlId c) {
    canvas_.fillMask(x, 15, 11, 11, icon, hovered(c) ? kColorBright : kColorTextDim);
    moveAndPress(c, x, 15, 11, 11);
}

void Frame::slideSwitch(const SlideSwitch& s, bool on) {
    canvas_.fillRect(s.x, kSwitchRowTop, s.wellWidth, s.wellHeight, 10, kColorPanel);
    canvas_.fillRect(s.x, kSwitchRowTop, 40, 20, 10, on ? kColorAccent : kColorTrackOff);
    moveAndPress(s.control, s.x, kSwitchRowTop, 40, 20);
    canvas_.fillRect(on ? s.x + 20 : s.x, kSwitchRowTop, 20, 20, 10,
                     (on || hovered(s.control)) ? kColorBright : kColorTextLight);
    text(s.x + s.labelOffset, kSwitchRowTop, 75, 20, kColorTextLight, kFont10, kCentred, s.label);
}

// A three-position filter switch (label is its icon) or the two-position "HF COMP" switch (label null).
void Frame::channelSwitch(int32_t x, int32_t y, ControlId c, bool act, uint8_t v, const ImageAsset* label,
                          int32_t hfLabelWidth) {
    const bool three = label != nullptr;
    canvas_.fillRect(x, y, 110, 20, 10, kColorWell);
    canvas_.fillRect(x, y, three ? 44 : 40, 20, 10, act ? kColorAccent : kColorTrackOff);
    moveAndPress(c, x, y, 44, 20);
    int32_t knobX = x;
    if (three) {
        knobX = x + 12 + 12 * ((v == 3 ? 1 : 0) - (v == 1 ? 1 : 0));
    } else if (v == 1) {
        knobX = x + 20;
    }
    canvas_.fillRect(knobX, y, 20, 20, 10, act ? kColorBright : kColorTextLight);
    if (three) {
        canvas_.fillMask(x + 52, y + 1, 48, 20, label, kColorTextLight);
    } else {
        text(x + 35, y, hfLabelWidth, 20, kColorTextLight, kFont10, kCentred, "HF COMP");
    }
}

// User slot `slot` (0..5): rows 0..2 belong to the rhythm section, 3..5 to the lead section.
void Frame::slotRow(int slot, int32_t top) {
    const int section = slot < 3 ? 0 : 1;
    const int choiceIndex = slot % 3;
    const ControlId choice =
        (section == 0 ? ControlId::RhythmIrChoice0 : ControlId::LeadIrChoice0) + choiceIndex;
    const ControlId select = ControlId::SlotSelect1 + slot;
    const ControlId import = ControlId::SlotImport1 + slot;
    const ControlId browse = ControlId::SlotBrowse1 + slot;

    canvas_.fillRect(0, top, kLeftColumnWidth, kSlotRowHeight, 0,
                     choiceIndex == 1 ? kColorPanel : kColorWell);
    if (choiceIndex == 0) canvas_.fillRect(0, top, kLeftColumnWidth, 1, 0, kColorRule);

    const uint32_t dot = program_.ir[section] == choiceIndex ? kColorTextLight
                         : hovered(choice)                   ? kColorTextDim
                                                             : kColorWindow;
    canvas_.fillRect(7, top + 10, 12, 12, 6, dot);
    moveAndPress(choice, 8, top + 10, 12, 12);

    const auto name = latin1ToUtf8(view_.userIrSlotNames[static_cast<size_t>(slot)].view());
    text(28, top, 174, kSlotRowHeight, kColorTextDim, kFont11, kLeading, shownSlotName(name.view()));

    // The selection wins over the hover on the select icon; the hover wins on the browse icon.
    const uint32_t selectColor = view_.irSlot == slot ? kColorAccent
                                 : hovered(select)    ? kColorTextLight
                                                      : kColorIconIdle;
    canvas_.fillMask(178, top + 4, 23, 23, &assets::iconSlotSelect, selectColor);
    pressAndMove(select, 178, top + 4, 23, 23);

    canvas_.fillMask(204, top + 4, 23, 23, &assets::iconFolder,
                     hovered(import) ? kColorTextLight : kColorIconIdle);
    pressAndMove(import, 204, top + 4, 23, 23);

    const uint32_t browseColor = hovered(browse)                 ? kColorTextLight
                                 : view_.irPanelSlot == slot + 1 ? kColorAccent
                                                                 : kColorIconIdle;
    canvas_.fillMask(226, top + 4, 23, 23, &assets::iconPlus, browseColor);
    pressAndMove(browse, 226, top + 4, 23, 23);
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

    const int32_t filterBand = top + kBandHeight;
    canvas_.fillRect(0, filterBand, kLeftColumnWidth, kBandHeight, 0, kColorBand);
    channelSwitch(7, filterBand + 6, rhythm ? ControlId::RhythmLowpass : ControlId::LeadLowpass, act,
                  program_.filterA[section], &assets::iconLowpass, 0);
    channelSwitch(135, filterBand + 6, rhythm ? ControlId::RhythmHighpass : ControlId::LeadHighpass, act,
                  program_.filterB[section], &assets::iconHighpass, 0);

    const int32_t hfCompBand = filterBand + kBandHeight;
    canvas_.fillRect(0, hfCompBand, kLeftColumnWidth, kBandHeight, 0, kColorBand);
    channelSwitch(7, hfCompBand + 6, rhythm ? ControlId::RhythmHfComp : ControlId::LeadHfComp, act,
                  program_.hfComp[section], nullptr, rhythm ? 75 : 80);

    const int32_t firstRow = hfCompBand + kBandHeight;
    for (int j = 0; j < 3; ++j) slotRow(3 * section + j, firstRow + kSlotRowHeight * j);
}

void Frame::topRow() {
    canvas_.fillRect(0, 0, width_, height_, 0, kColorWindow);  // the only clearing of the surface
    canvas_.fillRect(0, 0, kLeftColumnWidth, kBadgeAreaHeight, 0, kColorPanel);
    canvas_.fillMask(60, 8, 130, 82, &assets::logoBadgeMask, kColorAccent);
    canvas_.drawImage(60, 8, 130, 82, &assets::logoBadge);

    canvas_.fillRect(width_ - 126, kTopRowBoxTop, 120, 27, 13, kColorPanel);
    FixedText<12> channel;
    if (view_.midiChannel == 0) {
        channel << "OMNI";
    } else {
        channel << view_.midiChannel;
    }
    text(width_ - 109, 4, 59, 33, kColorTextLight, kFont11, kCentred, channel.view());
    canvas_.fillMask(width_ - 34, 9, 23, 23, &assets::iconMidi, kColorTextDim);

    const auto globalBox = [&](int32_t x, bool lit, std::string_view label, ControlId c) {
        topRowBox(x, 100, 100, lit, label);
        regions_.registerRegion(c, x, kTopRowBoxTop, 100, 27, RegionKind::LeftButtonDown);
    };
    globalBox(width_ - 246, view_.bypassLock == 1, "BYPASS LOCK", ControlId::BypassLockButton);
    globalBox(width_ - 366, view_.mono == 1, "MONO", ControlId::MonoButton);
    globalBox(400, view_.reverbTails == 0, "REVERB TAILS",
              ControlId::ReverbTailsButton);  // the bit reads inverted

    arrow(width_ - 117, &assets::iconArrowLeft, ControlId::MidiChannelDown);
    arrow(width_ - 53, &assets::iconArrowRight, ControlId::MidiChannelUp);

    const int32_t box = programBoxLeft_;
    canvas_.fillRect(box, kTopRowBoxTop, kProgramBoxWidth, 27, 13, kColorPanel);
    regions_.registerRegion(ControlId::ProgramBox, box, kTopRowBoxTop, kProgramBoxWidth, 27,
                            RegionKind::Wheel);
    FixedText<12> program;
    program << view_.program;
    text(box + 150, 4, 50, 33, kColorAccent, kFont13, kCentred, program.view());
    text(box + 25, 4, 135, 33, kColorTextLight, kFont13, kCentred, "PROGRAM CHANGE");
    arrow(box + 11, &assets::iconArrowLeft, ControlId::ProgramDown);
    arrow(box + 198, &assets::iconArrowRight, ControlId::ProgramUp);
    programName();
}

// The current program's name from the program library, beside the program box on its left, in the
// room the REVERB TAILS box leaves; a dot after it while the program has changed on the amplifier
// since it was named (the status line says so). Nothing at all for a program without a name.
void Frame::programName() {
    constexpr int32_t kNameLeft = 508;  // 8 right of the REVERB TAILS box
    constexpr int32_t kGapToBox = 10;   // between the name (or its mark) and the program box
    constexpr int32_t kMarkSize = 6;    // the stale mark, a dot in the accent colour
    constexpr int32_t kMarkGap = 6;     // between the name and the mark
    const ProgramNameLine& name = view_.programName;
    if (name.program != view_.program || name.name.view().empty()) return;
    int32_t right = programBoxLeft_ - kGapToBox;
    if (name.stale) {
        canvas_.fillRect(right - kMarkSize, kTopRowBoxTop + (27 - kMarkSize) / 2, kMarkSize, kMarkSize,
                         kMarkSize / 2, kColorAccent);
        right -= kMarkSize + kMarkGap;
    }
    text(kNameLeft, 4, right - kNameLeft, 33, kColorTextLight, kFont11, kTrailing, name.name.view());
}

void Frame::switchRow() {
    const int32_t x = switchRowOffset_ + kLeftColumnWidth;
    const size_t ch = effectChannel_;
    slideSwitch({x, 110, 21, "BYPASS", 33, ControlId::BypassSwitch}, program_.bypass == 1);
    slideSwitch({x + 120, 110, 21, "CHANNEL", 33, ControlId::ChannelSwitch}, program_.channel == 1);
    slideSwitch({x + 240, 105, 20, "REVERB", 33, ControlId::ReverbSwitch}, program_.reverb[ch] == 1);
    slideSwitch({x + 360, 105, 20, "TREMOLO", 33, ControlId::TremoloSwitch}, program_.tremolo[ch] == 1);
    slideSwitch({x + 480, 115, 20, "LOOP BYPASS", 38, ControlId::LoopBypassSwitch}, program_.loopBypass == 1);
    slideSwitch({x + 600, 105, 20, "IR BYPASS", 33, ControlId::IrBypassSwitch}, program_.irBypass == 1);
}

void Frame::leftColumn() {
    canvas_.fillRect(0, kBadgeAreaHeight, kLeftColumnWidth, height_ - kBadgeAreaHeight, 0, kColorPanel);
    canvas_.fillRect(0, kBadgeAreaHeight, kLeftColumnWidth, kBandHeight, 0,
                     hovered(ControlId::StorePresetButton) ? kColorBright : kColorAccent);
    text(0, kBadgeAreaHeight + 1, kLeftColumnWidth, kBandHeight, kColorPanel, kFont13, kCentred,
         "STORE PRESET");
    moveAndPress(ControlId::StorePresetButton, 0, kBadgeAreaHeight, kLeftColumnWidth, kBandHeight);

    channelSection(0, kRhythmSectionTop);
    channelSection(1, leadSectionTop_);
    ccList();
    canvas_.fillRect(kLeftColumnWidth, kHeadingRuleY, 1, height_ - kHeadingRuleY, 0, kColorRule);
}

void Frame::ccList() {
    const int32_t top = ccListTop_;
    canvas_.fillRect(0, top, kLeftColumnWidth, kBandHeight, 0, kColorBand);
    text(33, top + 1, kLeftColumnWidth - 33, kBandHeight, kColorAccent, kFont13, kLeading, "MIDI CC LIST");
    canvas_.fillMask(4, top + 5, 23, 23, &assets::iconMidi, kColorAccent);
    canvas_.fillMask(226, top + 4, 23, 23, &assets::iconPlus,
                     hovered(ControlId::CcListToggle) ? kColorTextLight : kColorIconIdle);
    pressAndMove(ControlId::CcListToggle, 226, top + 4, 23, 23);
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
    // IR toggles: left for choice 0, middle for 1; the photo's own toggle (right) otherwise.
    if (program_.ir[0] == 0) overlay(assets::ampSpritesLeft, kRhythmIrToggle);
    if (program_.ir[0] == 1) overlay(assets::ampSpritesLit, kRhythmIrToggle);
    if (program_.ir[1] == 0) overlay(assets::ampSpritesLeft, kLeadIrToggle);
    if (program_.ir[1] == 1) overlay(assets::ampSpritesLit, kLeadIrToggle);
    if (program_.reverb[effectChannel_] != 0) overlay(assets::ampSpritesLit, kReverbLed);
    if (program_.tremolo[effectChannel_] != 0) overlay(assets::ampSpritesLit, kTremoloLed);
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
    const int32_t buttonTop = height_ - 55;
    const int32_t switchTop = height_ - 85;
    const bool extractHover = hovered(ControlId::ExtractAllButton);
    canvas_.fillRect(260, buttonTop, 110, 27, 13, extractHover ? kColorTextLight : kColorWell);
    text(260, buttonTop - 3, 110, 33, extractHover ? kColorPanel : kColorTextLight, kFont11, kCentred,
         "EXTRACT ALL");
    moveAndPress(ControlId::ExtractAllButton, 260, buttonTop, 110, 27);

    const bool audition = view_.auditionOn;
    canvas_.fillRect(380, switchTop, 110, 21, 10, kColorPanel);
    canvas_.fillRect(380, switchTop, 40, 20, 10, audition ? kColorAccent : kColorTrackOff);
    moveAndPress(ControlId::AuditionSwitch, 380, switchTop, 40, 20);
    canvas_.fillRect(audition ? 400 : 380, switchTop, 20, 20, 10,
                     (audition || hovered(ControlId::AuditionSwitch)) ? kColorBright : kColorTextLight);
    text(426, switchTop, 80, 20, kColorTextLight, kFont10, kLeading, "AUDITION");

    canvas_.fillRect(379, buttonTop, 111, 27, 13,
                     hovered(ControlId::SelectButton) ? kColorTextLight : kColorAccent);
    text(379, buttonTop - 3, 111, 33, kColorPanel, kFont11, kCentred, "SELECT");
    moveAndPress(ControlId::SelectButton, 379, buttonTop, 111, 27);

    const int32_t index = view_.factoryIrIndex;
    text(260, 0, 230, kHeadingRuleY, hovered(ControlId::FactoryTitle) ? kColorTextLight : kColorAccent,
         kFont13, kCentred, factoryIrDisplayName(index));
    moveAndPress(ControlId::FactoryTitle, 290, 0, 170, kHeadingRuleY);  // narrower than the title's text box

    canvas_.fillMask(258, 15, 11, 11, &assets::iconArrowLeft,
                     hovered(ControlId::FactoryPrev) ? kColorBright : kColorTextDim);
    moveAndPress(ControlId::FactoryPrev, 258, 15, 11, 11);
    canvas_.fillMask(481, 15, 11, 11, &assets::iconArrowRight,
                     hovered(ControlId::FactoryNext) ? kColorBright : kColorTextDim);
    moveAndPress(ControlId::FactoryNext, 481, 15, 11, 11);

    if (view_.factoryListOpen) {
        for (int i = 0; i < kFactoryIrCount; ++i) {
            const int32_t rowTop = kHeadingRuleY + 1 + kSlotRowHeight * i;
            const ControlId row = ControlId::FactoryRow0 + i;
            const bool chosen = i == index;
            const bool over = hovered(row);
            canvas_.fillRect(left, rowTop, kIrPanelWidth, kSlotRowHeight, 0,
                             i % 2 == 1 ? kColorRowOdd : kColorRowEven);
            canvas_.fillRect(258, rowTop + 10, 12, 12, 6,
                             chosen ? kColorAccent
                             : over ? kColorTextLight
                                    : kColorWindow);
            text(280, rowTop, 210, kSlotRowHeight,
                 chosen ? kColorAccent
                 : over ? kColorTextLight
                        : kColorTextDim,
                 kFont11, kLeading, factoryIrDisplayName(i));
            moveAndPress(row, left, rowTop, kIrPanelWidth, kSlotRowHeight);
        }
    } else {
        // Wraps at word boundaries; trimming comes from the single-line texts of the same font.
        const std::string_view description =
            (index >= 0 && index < kFactoryIrCount)
                ? factoryIrCatalogue()[static_cast<size_t>(index)].description
                : std::string_view();
        canvas_.drawText(kPanelInnerLeft, kDescriptionTop, kPanelInnerWidth, kDescriptionHeight,
                         kColorTextDim, kFont13, kLeading, kAlignTop, description, false);
        responsePlot(index, switchTop);
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

void Frame::draw() {
    topRow();
    switchRow();
    leftColumn();
    picture();
    bottomBar();
    statusAndVeil();
    connectionBox();
    if (view_.irPanelSlot > 0) irPanel();
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
