#include "ui/panel_controls.hpp"

// Sections: the table of what never changes (role, regions, name), the orders, the layout of one
// frame (top row, switch row, left column, IR panel), the rules of who answers.

#include <algorithm>

#include "ir/factory_catalogue.hpp"
#include "ir/ir_slots.hpp"
#include "ui/panel_geometry.hpp"

namespace halvard {
namespace {

using C = ControlId;
using R = ControlRole;
using P = RegionPlan;

// ---- the table --------------------------------------------------------------------------------

// What no frame changes. The name is the label the panel draws with the control; a control drawn
// without one (an icon, a dot, an arrow) has a short name of what it does.
struct ControlKind {
    ControlRole role = R::PushButton;
    RegionPlan regions = P::None;
    std::string_view name;
    int32_t owner = -1;  // a spin button's arrow: the spin button
};

constexpr std::array<ControlKind, kControlIdCount> kKinds = [] {
    std::array<ControlKind, kControlIdCount> k{};
    const auto set = [&k](ControlId c, ControlRole role, RegionPlan regions, std::string_view name,
                          int32_t owner = -1) {
        k[static_cast<size_t>(toInt(c))] = {role, regions, name, owner};
    };
    set(C::BypassLockButton, R::ToggleButton, P::Press, "BYPASS LOCK");
    set(C::MonoButton, R::ToggleButton, P::Press, "MONO");
    set(C::ReverbTailsButton, R::ToggleButton, P::Press, "REVERB TAILS");
    set(C::MidiChannelBox, R::SpinButton, P::None, "MIDI CHANNEL");
    set(C::MidiChannelDown, R::PushButton, P::MoveThenPress, "PREVIOUS MIDI CHANNEL",
        toInt(C::MidiChannelBox));
    set(C::MidiChannelUp, R::PushButton, P::MoveThenPress, "NEXT MIDI CHANNEL", toInt(C::MidiChannelBox));
    set(C::ProgramBox, R::SpinButton, P::Wheel, "PROGRAM CHANGE");
    set(C::ProgramDown, R::PushButton, P::MoveThenPress, "PREVIOUS PROGRAM", toInt(C::ProgramBox));
    set(C::ProgramUp, R::PushButton, P::MoveThenPress, "NEXT PROGRAM", toInt(C::ProgramBox));
    set(C::BypassSwitch, R::ToggleButton, P::MoveThenPress, "BYPASS");
    set(C::ChannelSwitch, R::ToggleButton, P::MoveThenPress, "CHANNEL");
    set(C::ReverbSwitch, R::ToggleButton, P::MoveThenPress, "REVERB");
    set(C::TremoloSwitch, R::ToggleButton, P::MoveThenPress, "TREMOLO");
    set(C::LoopBypassSwitch, R::ToggleButton, P::MoveThenPress, "LOOP BYPASS");
    set(C::IrBypassSwitch, R::ToggleButton, P::MoveThenPress, "IR BYPASS");
    set(C::StorePresetButton, R::PushButton, P::MoveThenPress, "STORE PRESET");
    for (const C lowpass : {C::RhythmLowpass, C::LeadLowpass})
        set(lowpass, R::SpinButton, P::MoveThenPress, "LOWPASS");
    for (const C highpass : {C::RhythmHighpass, C::LeadHighpass})
        set(highpass, R::SpinButton, P::MoveThenPress, "HIGHPASS");
    for (const C hfComp : {C::RhythmHfComp, C::LeadHfComp})
        set(hfComp, R::ToggleButton, P::MoveThenPress, "HF COMP");
    for (int i = 0; i < 3; ++i) {
        set(C::RhythmIrChoice0 + i, R::RadioButton, P::MoveThenPress, "USE IR");
        set(C::LeadIrChoice0 + i, R::RadioButton, P::MoveThenPress, "USE IR");
    }
    for (int k6 = 0; k6 < 6; ++k6) {
        set(C::SlotSelect1 + k6, R::RadioButton, P::PressThenMove, "SELECT SLOT");
        set(C::SlotImport1 + k6, R::PushButton, P::PressThenMove, "IMPORT IR");
        set(C::SlotBrowse1 + k6, R::PushButton, P::PressThenMove, "BROWSE FACTORY IRS");
    }
    set(C::CcListToggle, R::ToggleButton, P::PressThenMove, "MIDI CC LIST");
    set(C::ExtractAllButton, R::PushButton, P::MoveThenPress, "EXTRACT ALL");
    set(C::AuditionSwitch, R::ToggleButton, P::MoveThenPress, "AUDITION");
    set(C::SelectButton, R::PushButton, P::MoveThenPress, "SELECT");
    set(C::FactoryTitle, R::SpinButton, P::MoveThenPress, "FACTORY IR");
    set(C::FactoryPrev, R::PushButton, P::MoveThenPress, "PREVIOUS FACTORY IR", toInt(C::FactoryTitle));
    set(C::FactoryNext, R::PushButton, P::MoveThenPress, "NEXT FACTORY IR", toInt(C::FactoryTitle));
    for (int row = 0; row < kFactoryIrCount; ++row)
        set(C::FactoryRow0 + row, R::ListItem, P::MoveThenPress, "");
    set(C::ProgramsOpener, R::PushButton, P::Press, "PROGRAMS", toInt(C::ProgramBox));
    for (int row = 0; row < kProgramRowsMax; ++row)
        set(C::ProgramRow0 + row, R::ListItem, P::MoveThenPress, "PROGRAM");
    set(C::ProgramsTab, R::RadioButton, P::MoveThenPress, "PROGRAMS");
    set(C::CollectionTab, R::RadioButton, P::MoveThenPress, "COLLECTION");
    return k;
}();

const ControlKind& kindOf(ControlId c) {
    return kKinds[static_cast<size_t>(toInt(c))];
}

// ---- the orders -------------------------------------------------------------------------------

// The three slot rows of a section, each left to right: choice dot, select, import, browse.
#define HALVARD_SLOT_ROW(choice, n) choice, C::SlotSelect##n, C::SlotImport##n, C::SlotBrowse##n
// The switch row, the store bar and both sections with their slot rows, then the CC list's toggle:
// alike in both orders.
#define HALVARD_SWITCHES_AND_SECTIONS                                                                  \
    C::BypassSwitch, C::ChannelSwitch, C::ReverbSwitch, C::TremoloSwitch, C::LoopBypassSwitch,         \
        C::IrBypassSwitch, C::StorePresetButton, C::RhythmLowpass, C::RhythmHighpass, C::RhythmHfComp, \
        HALVARD_SLOT_ROW(C::RhythmIrChoice0, 1), HALVARD_SLOT_ROW(C::RhythmIrChoice1, 2),              \
        HALVARD_SLOT_ROW(C::RhythmIrChoice2, 3), C::LeadLowpass, C::LeadHighpass, C::LeadHfComp,       \
        HALVARD_SLOT_ROW(C::LeadIrChoice0, 4), HALVARD_SLOT_ROW(C::LeadIrChoice1, 5),                  \
        HALVARD_SLOT_ROW(C::LeadIrChoice2, 6), C::CcListToggle
#define HALVARD_FACTORY_ROWS                                                                                \
    C::FactoryRow0, C::FactoryRow0 + 1, C::FactoryRow0 + 2, C::FactoryRow0 + 3, C::FactoryRow0 + 4,         \
        C::FactoryRow0 + 5, C::FactoryRow0 + 6, C::FactoryRow0 + 7, C::FactoryRow0 + 8, C::FactoryRow0 + 9, \
        C::FactoryRow0 + 10, C::FactoryRow0 + 11, C::FactoryRow0 + 12, C::FactoryRow0 + 13, C::FactoryRow14

// The overlay's rows, top to bottom.
constexpr std::array<ControlId, kProgramRowsMax> kProgramRows = [] {
    std::array<ControlId, kProgramRowsMax> rows{};
    for (int i = 0; i < kProgramRowsMax; ++i) rows[static_cast<size_t>(i)] = C::ProgramRow0 + i;
    return rows;
}();

// The order in which the frames register the regions: the drawing order (top row, switch row, left
// column, IR panel), which the region list has kept since its first frames.
// clang-format off
constexpr ControlId kRegistrationOrder[] = {
    C::BypassLockButton, C::MonoButton, C::ReverbTailsButton, C::MidiChannelDown, C::MidiChannelUp,
    C::ProgramBox, C::ProgramDown, C::ProgramUp,
    HALVARD_SWITCHES_AND_SECTIONS,
    C::ExtractAllButton, C::AuditionSwitch, C::SelectButton, C::FactoryTitle, C::FactoryPrev, C::FactoryNext,
    HALVARD_FACTORY_ROWS,
};
// clang-format on

// The PROGRAMS overlay's regions come after all of these, so the earlier ones keep their places.
constexpr auto kRegistrationOrderAll = [] {
    std::array<ControlId, std::size(kRegistrationOrder) + 3 + kProgramRowsMax> all{};
    size_t n = 0;
    for (const ControlId c : kRegistrationOrder) all[n++] = c;
    all[n++] = C::ProgramsOpener;
    for (const ControlId c : kProgramRows) all[n++] = c;
    all[n++] = C::ProgramsTab;
    all[n++] = C::CollectionTab;
    return all;
}();

// Top row left to right, then down the switch row and the sections, then the IR panel.
// clang-format off
constexpr ControlId kReadingOrder[] = {
    C::ReverbTailsButton, C::ProgramBox, C::MonoButton, C::BypassLockButton, C::MidiChannelBox,
    HALVARD_SWITCHES_AND_SECTIONS,
    C::FactoryTitle, HALVARD_FACTORY_ROWS, C::AuditionSwitch, C::ExtractAllButton, C::SelectButton,
};
// clang-format on

constexpr auto kReadingOrderAll = [] {
    std::array<ControlId, std::size(kReadingOrder) + 2 + kProgramRowsMax> all{};
    size_t n = 0;
    for (const ControlId c : kReadingOrder) all[n++] = c;
    all[n++] = C::ProgramsTab;
    all[n++] = C::CollectionTab;
    for (const ControlId c : kProgramRows) all[n++] = c;
    return all;
}();

#undef HALVARD_SLOT_ROW
#undef HALVARD_FACTORY_ROWS
#undef HALVARD_SWITCHES_AND_SECTIONS

// ---- one frame --------------------------------------------------------------------------------

constexpr int32_t kArrowSize = 11;     // the arrows of the spin buttons
constexpr int32_t kArrowTop = 15;      // in the top row
constexpr int32_t kSlotIconSize = 23;  // a slot row's icons, and the CC list toggle
constexpr int32_t kSwitchPitch = 120;  // the slide switches, left edge to left edge
constexpr int32_t kGlobalBoxWidth = 100;
constexpr int32_t kFilterBandTop = kBandHeight + 6;      // a section's filter switches
constexpr int32_t kHfCompBandTop = 2 * kBandHeight + 6;  // and its HF COMP switch

std::string_view channelName(int section) {
    return section == 0 ? "rhythm channel" : "lead channel";
}

class Builder {
public:
    Builder(PanelLayout& layout, const MirrorView& view, int32_t width, int32_t height,
            const CollectionShown& collection)
        : layout_(layout),
          v_(view),
          collection_(collection),
          r_(view.current),
          g_(panelGeometry(width, height, view.ccListOpen)),
          // REVERB and TREMOLO follow the selected channel; any channel but rhythm reads the lead entry.
          effectChannel_(view.current.channel == 0 ? 0 : 1) {}

    void build() {
        for (int32_t id = 0; id < kControlIdCount; ++id) {
            ControlEntry& e = layout_[static_cast<ControlId>(id)];
            e.shown = false;
            e.control.id = static_cast<ControlId>(id);
        }
        topRow();
        switchRow();
        leftColumn();
        if (v_.irPanelSlot > 0) irPanel();
        if (v_.programsOpen) {
            overlayTabs();
            if (v_.collectionOpen) {
                collectionOverlay();
            } else {
                programsOverlay();
            }
        }
        const bool connected = v_.linkState == LinkState::Connected;
        for (int32_t id = 0; id < kControlIdCount; ++id) {
            const auto c = static_cast<ControlId>(id);
            ControlEntry& e = layout_[c];
            e.control.enabled = e.shown && connected && !coveredByIrPanel(c, e.hit.x, v_.irPanelSlot) &&
                                !inertInPanelState(c, v_.irPanelSlot, v_.factoryListOpen, v_.programsOpen);
        }
    }

private:
    // A shown control at rect, with its table facts and everything else cleared.
    ControlEntry& put(ControlId c, DipRect rect) {
        const ControlKind& kind = kindOf(c);
        ControlEntry& e = layout_[c];
        e.shown = true;
        e.hit = rect;
        e.regions = kind.regions;
        e.owner = kind.owner >= 0 ? static_cast<ControlId>(kind.owner) : c;
        PanelControl& p = e.control;
        p.role = kind.role;
        p.rect = rect;
        p.name = kind.name;
        p.description.clear();
        p.value.clear();
        p.number = p.minimum = p.maximum = 0;
        p.checked = false;
        p.focused = false;
        return e;
    }
    ControlEntry& toggle(ControlId c, DipRect rect, bool on) {
        ControlEntry& e = put(c, rect);
        e.control.checked = on;
        return e;
    }
    ControlEntry& spin(ControlId c, DipRect rect, int32_t value, int32_t minimum, int32_t maximum) {
        ControlEntry& e = put(c, rect);
        e.control.number = value;
        e.control.minimum = minimum;
        e.control.maximum = maximum;
        return e;
    }
    // The arrows of a spin button in the top row or the IR panel's heading.
    void arrows(ControlId down, int32_t downX, ControlId up, int32_t upX, int32_t top) {
        put(down, {downX, top, kArrowSize, kArrowSize});
        put(up, {upX, top, kArrowSize, kArrowSize});
    }
    // "lead channel, user slot 4: 2_CLEAN": a slot row's controls.
    void describeSlot(ControlEntry& e, int slot, bool withChannel) {
        if (withChannel) e.control.description << channelName(slot < 3 ? 0 : 1) << ", ";
        const auto name = slotNameText(v_.userIrSlotNames[static_cast<size_t>(slot)].view());
        e.control.description << "user slot " << static_cast<int32_t>(slot + 1) << ": "
                              << shownSlotName(name.view());
    }

    void topRow() {
        const int32_t w = g_.width;
        const auto globalBox = [&](ControlId c, int32_t x, bool lit) {
            toggle(c, {x, kTopRowBoxTop, kGlobalBoxWidth, kTopRowBoxHeight}, lit);
        };
        globalBox(C::BypassLockButton, w - 246, v_.bypassLock == 1);
        globalBox(C::MonoButton, w - 366, v_.mono == 1);
        globalBox(C::ReverbTailsButton, 400, v_.reverbTails == 0);  // the bit reads inverted

        ControlEntry& channel = spin(C::MidiChannelBox, {w - 126, kTopRowBoxTop, 120, kTopRowBoxHeight},
                                     v_.midiChannel, 0, kMidiChannelMax);
        if (v_.midiChannel == 0) {
            channel.control.value << "OMNI";
        } else {
            channel.control.value << v_.midiChannel;
        }
        arrows(C::MidiChannelDown, w - 117, C::MidiChannelUp, w - 53, kArrowTop);

        const int32_t box = g_.programBoxLeft;
        ControlEntry& program = spin(C::ProgramBox, {box, kTopRowBoxTop, 220, kTopRowBoxHeight}, v_.program,
                                     0, kProgramCount - 1);
        program.control.value << v_.program;
        // The program's name, which the panel writes beside the box.
        if (const ProgramNameLine& name = v_.programName;
            name.program == v_.program && !name.name.view().empty()) {
            program.control.description << name.name.view();
            if (name.stale) program.control.description << ", changed on the amplifier since named";
        }
        arrows(C::ProgramDown, box + 11, C::ProgramUp, box + 198, kArrowTop);
        // The number and its label between the arrows open the PROGRAMS overlay.
        put(C::ProgramsOpener, {box + 24, kTopRowBoxTop, 172, kTopRowBoxHeight}).control.description
            << "list of the " << static_cast<int32_t>(kProgramCount) << " programs";
    }

    void switchRow() {
        const auto slide = [&](ControlId c, int i, bool on) -> ControlEntry& {
            return toggle(c, {g_.switchRowLeft + kSwitchPitch * i, kSwitchRowTop, 40, 20}, on);
        };
        ControlEntry& bypass = slide(C::BypassSwitch, 0, r_.bypass == 1);
        if (v_.bypassLock != 0) bypass.control.description << "held off by BYPASS LOCK";
        slide(C::ChannelSwitch, 1, r_.channel == 1).control.description << "on: lead channel";
        slide(C::ReverbSwitch, 2, r_.reverb[effectChannel_] == 1).control.description
            << channelName(effectChannel_);
        slide(C::TremoloSwitch, 3, r_.tremolo[effectChannel_] == 1).control.description
            << channelName(effectChannel_);
        slide(C::LoopBypassSwitch, 4, r_.loopBypass == 1);
        slide(C::IrBypassSwitch, 5, r_.irBypass == 1);
    }

    void leftColumn() {
        put(C::StorePresetButton, {0, kBadgeAreaHeight, kLeftColumnWidth, kBandHeight}).control.description
            << "program " << v_.program;
        section(0, kRhythmSectionTop);
        section(1, g_.leadSectionTop);
        toggle(C::CcListToggle, {226, g_.ccListTop + 4, kSlotIconSize, kSlotIconSize}, v_.ccListOpen)
                .control.description
            << "MIDI controller numbers";
    }

    // A channel section: the filter switches (positions 1..3), HF COMP, and its three slot rows.
    void section(int s, int32_t top) {
        const bool rhythm = s == 0;
        const auto filter = [&](ControlId c, int32_t x, uint8_t v) {
            ControlEntry& e = spin(c, {x, top + kFilterBandTop, 44, 20}, v, 1, 3);
            e.control.value << static_cast<int32_t>(v);
            e.control.description << channelName(s);
        };
        filter(rhythm ? C::RhythmLowpass : C::LeadLowpass, 7, r_.filterA[s]);
        filter(rhythm ? C::RhythmHighpass : C::LeadHighpass, 135, r_.filterB[s]);
        toggle(rhythm ? C::RhythmHfComp : C::LeadHfComp, {7, top + kHfCompBandTop, 44, 20}, r_.hfComp[s] == 1)
                .control.description
            << channelName(s);
        for (int j = 0; j < 3; ++j) slotRow(3 * s + j);
    }

    void slotRow(int slot) {
        const int s = slot < 3 ? 0 : 1;
        const int j = slot % 3;
        const int32_t top = slotRowTop(g_, slot);
        // The dot is drawn one DIP left of its hit region.
        ControlEntry& choice = toggle((s == 0 ? C::RhythmIrChoice0 : C::LeadIrChoice0) + j,
                                      {7, top + 10, 12, 12}, r_.ir[s] == j);
        choice.hit.x += 1;
        describeSlot(choice, slot, true);
        const auto icon = [&](ControlId c, int32_t x) -> ControlEntry& {
            ControlEntry& e = put(c + slot, {x, top + 4, kSlotIconSize, kSlotIconSize});
            describeSlot(e, slot, true);
            return e;
        };
        icon(C::SlotSelect1, 178).control.checked = v_.irSlot == slot;
        icon(C::SlotImport1, 204);
        icon(C::SlotBrowse1, 226);
    }

    void irPanel() {
        const int32_t h = g_.height;
        const int slot = v_.irPanelSlot - 1;
        ControlEntry& extract = put(C::ExtractAllButton, {260, h - 55, 110, 27});
        extract.control.description << "the " << static_cast<int32_t>(kFactoryIrCount)
                                    << " factory IRs as WAV files";
        ControlEntry& audition = toggle(C::AuditionSwitch, {380, h - 85, 40, 20}, v_.auditionOn);
        ControlEntry& select = put(C::SelectButton, {379, h - 55, 111, 27});

        // The title between its arrows; its own hit region is narrower than the heading's text box.
        const int32_t index = v_.factoryIrIndex;
        ControlEntry& title =
            spin(C::FactoryTitle, {258, 0, 234, kHeadingRuleY}, index, 0, kFactoryIrCount - 1);
        title.hit = {290, 0, 170, kHeadingRuleY};
        title.control.value << factoryIrDisplayName(index);
        arrows(C::FactoryPrev, 258, C::FactoryNext, 481, kArrowTop);
        if (slot >= 0 && slot < kUserIrSlotCount) {
            for (ControlEntry* e : {&audition, &select, &title}) describeSlot(*e, slot, false);
        }

        if (!v_.factoryListOpen) return;
        for (int i = 0; i < kFactoryIrCount; ++i) {
            const DipRect row{kLeftColumnWidth, kHeadingRuleY + 1 + kSlotRowHeight * i, kIrPanelWidth,
                              kSlotRowHeight};
            ControlEntry& e = toggle(C::FactoryRow0 + i, row, i == index);
            e.control.name = factoryIrDisplayName(i);
            e.control.description << "factory IR " << static_cast<int32_t>(i + 1) << " of "
                                  << static_cast<int32_t>(kFactoryIrCount);
        }
    }

    // One row per program from programsTop, with its name, stale mark and what its record holds.
    void programsOverlay() {
        const DipRect area = programsOverlayRect(g_.width, g_.height);
        const int32_t rows = programRowsShown(g_.height);
        const int32_t top = clampedProgramsTop(v_.programsTop, rows);
        for (int32_t i = 0; i < rows; ++i) {
            const int32_t p = top + i;
            const auto at = static_cast<size_t>(p);
            ControlEntry& e = toggle(C::ProgramRow0 + i,
                                     {area.x, area.y + kProgramRowHeight * i, area.width, kProgramRowHeight},
                                     p == v_.program);
            PanelControl& c = e.control;
            c.value << p;
            c.number = p;
            c.description << "program " << p;
            const ProgramListEntry& name = v_.programNames[at];
            if (!name.name.view().empty()) {
                c.description << ": " << name.name.view();
                if (name.stale) c.description << ", changed on the amplifier since named";
            }
            if (name.differs) c.description << ", differs from " << v_.comparedWith.view();
            describeRecord(c, v_.programs[at]);
        }
    }

    // "; lead channel, reverb, loop bypass": what a row's record holds, as its summary shows it.
    static void describeRecord(PanelControl& c, const ProgramSettings& r) {
        if (r.loaded == 0) return;
        const size_t ch = r.channel == 0 ? 0 : 1;
        c.description << "; " << channelName(static_cast<int>(ch));
        const auto on = [&c](bool lit, std::string_view what) {
            if (lit) c.description << ", " << what;
        };
        on(r.bypass == 1, "bypass");
        on(r.reverb[ch] == 1, "reverb");
        on(r.tremolo[ch] == 1, "tremolo");
        on(r.loopBypass == 1, "loop bypass");
        on(r.irBypass == 1, "IR bypass");
    }

    // The two views' tabs, right of the overlay's first rows.
    void overlayTabs() {
        const DipRect area = programsOverlayRect(g_.width, g_.height);
        toggle(C::ProgramsTab, {area.x + area.width, area.y, kOverlayTabWidth, kProgramRowHeight},
               !v_.collectionOpen);
        ControlEntry& tab =
            toggle(C::CollectionTab,
                   {area.x + area.width, area.y + kProgramRowHeight, kOverlayTabWidth, kProgramRowHeight},
                   v_.collectionOpen);
        tab.control.description << static_cast<int32_t>(collection_.total) << " kept";
        if (!collection_.filter.empty())
            tab.control.description << ", " << static_cast<int32_t>(collection_.rows.size()) << " matching "
                                    << collection_.filter;
    }

    // One row per entry the filter leaves, from programsTop: its name, tags and summary.
    void collectionOverlay() {
        const DipRect area = programsOverlayRect(g_.width, g_.height);
        const int32_t rows = programRowsShown(g_.height);
        const auto count = static_cast<int32_t>(collection_.rows.size());
        const int32_t top = clampedListTop(v_.programsTop, rows, count);
        for (int32_t i = 0; i < rows && top + i < count; ++i) {
            const CollectionRow& entry = *collection_.rows[static_cast<size_t>(top + i)];
            ControlEntry& e = put(C::ProgramRow0 + i,
                                  {area.x, area.y + kProgramRowHeight * i, area.width, kProgramRowHeight});
            PanelControl& c = e.control;
            c.name = entry.name;
            c.number = top + i;
            c.description << "collection entry " << (top + i + 1) << " of " << count;
            if (!entry.tags.empty()) c.description << ", tags " << entry.tags;
            describeRecord(c, entry.settings);
        }
    }

    PanelLayout& layout_;
    const MirrorView& v_;
    const CollectionShown& collection_;
    const ProgramSettings& r_;
    const PanelGeometry g_;
    const size_t effectChannel_;
};

bool inRange(ControlId c, ControlId first, ControlId last) {
    return toInt(c) >= toInt(first) && toInt(c) <= toInt(last);
}

// The IR panel's own controls, and the slot rows' browse icons that open it.
bool ofIrPanel(ControlId c) {
    return inRange(c, C::FactoryPrev, C::FactoryRow14) || inRange(c, C::AuditionSwitch, C::SlotBrowse6);
}

}  // namespace

PanelLayout::PanelLayout() {
    for (int32_t id = 0; id < kControlIdCount; ++id)
        entries_[static_cast<size_t>(id)].control.id = static_cast<ControlId>(id);
}

void layoutControls(PanelLayout& layout, const MirrorView& view, int32_t surfaceWidth, int32_t surfaceHeight,
                    const CollectionShown& collection) {
    Builder(layout, view, surfaceWidth, surfaceHeight, collection).build();
}

void registerControlRegions(const PanelLayout& layout, HitRegions& regions) {
    for (const ControlId c : kRegistrationOrderAll) {
        const ControlEntry& e = layout[c];
        if (!e.shown) continue;
        const DipRect& r = e.hit;
        const auto add = [&](RegionKind kind) {
            regions.registerRegion(c, r.x, r.y, r.width, r.height, kind);
        };
        switch (e.regions) {
            case P::None:
                break;
            case P::Press:
                add(RegionKind::LeftButtonDown);
                break;
            case P::MoveThenPress:
                add(RegionKind::PointerMove);
                add(RegionKind::LeftButtonDown);
                break;
            case P::PressThenMove:
                add(RegionKind::LeftButtonDown);
                add(RegionKind::PointerMove);
                break;
            case P::Wheel:
                add(RegionKind::Wheel);
                break;
        }
    }
}

std::span<const ControlId> readingOrder() {
    return kReadingOrderAll;
}

DipRect programsOverlayRect(int32_t surfaceWidth, int32_t surfaceHeight) {
    const PanelGeometry g = panelGeometry(surfaceWidth, surfaceHeight, false);
    return {g.programBoxLeft, kHeadingRuleY + 1, kProgramsWidth,
            kProgramRowHeight * programRowsShown(surfaceHeight)};
}

int32_t programRowsShown(int32_t surfaceHeight) {
    const int32_t room = surfaceHeight - kBottomBarHeight - (kHeadingRuleY + 1);
    return std::clamp(room / kProgramRowHeight, 1, kProgramRowsMax);
}

int32_t clampedProgramsTop(int32_t top, int32_t rows) {
    return clampedListTop(top, rows, kProgramCount);
}

int32_t clampedListTop(int32_t top, int32_t rows, int32_t count) {
    return std::clamp(top, 0, std::max(count - rows, 0));
}

bool isProgramRow(ControlId control) {
    return inRange(control, C::ProgramRow0, C::ProgramRowLast);
}

bool ofOverlay(ControlId control) {
    return isProgramRow(control) || control == C::ProgramsTab || control == C::CollectionTab;
}

bool matchesFilter(const CollectionRow& row, std::string_view filter) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const auto contains = [&](std::string_view text) {
        return std::search(text.begin(), text.end(), filter.begin(), filter.end(),
                           [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
    };
    return filter.empty() || contains(row.name) || contains(row.tags) || contains(row.notes);
}

std::optional<SpinArrows> spinArrows(ControlId control) {
    switch (control) {
        case C::ProgramBox:
            return SpinArrows{C::ProgramDown, C::ProgramUp};
        case C::MidiChannelBox:
            return SpinArrows{C::MidiChannelDown, C::MidiChannelUp};
        case C::FactoryTitle:
            return SpinArrows{C::FactoryPrev, C::FactoryNext};
        default:
            return std::nullopt;
    }
}

bool actsOnPress(ControlId control) {
    if (toInt(control) < 0 || toInt(control) >= kControlIdCount) return false;
    const RegionPlan plan = kindOf(control).regions;
    return plan == P::Press || plan == P::MoveThenPress || plan == P::PressThenMove;
}

bool coveredByIrPanel(ControlId control, int32_t hitX, int32_t irPanelSlot) {
    if (irPanelSlot <= 0) return false;
    return !ofIrPanel(control) && hitX > kLeftColumnWidth;
}

bool inertInPanelState(ControlId control, int32_t irPanelSlot, bool factoryListOpen, bool programsOpen) {
    if (ofOverlay(control) || programsOpen) return !(ofOverlay(control) && programsOpen);
    const bool panelOpen = irPanelSlot > 0;
    if (inRange(control, C::FactoryPrev, C::FactoryTitle) || control == C::AuditionSwitch) return !panelOpen;
    if (inRange(control, C::FactoryRow0, C::FactoryRow14)) return !panelOpen || !factoryListOpen;
    return false;
}

}  // namespace halvard
