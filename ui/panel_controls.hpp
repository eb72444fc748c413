#pragma once
// The panel's controls as one list: what each control is, where it is, what it reads and what it
// does. The list is made for every frame from the mirror's view and the surface size; drawing, the
// hit regions, keyboard focus and the accessibility back ends (ATK on GTK, MSAA on Win32) all read
// these same entries, so a control's rectangle is written once.
//
// Threads: made and read on the user-interface thread only.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "model/device_mirror.hpp"
#include "ui/hit_regions.hpp"
#include "ui/panel_text.hpp"

namespace halvard {

inline constexpr int32_t kMidiChannelMax = 16;  // channels 1..16; 0 is OMNI

// What a control is, as a screen reader names it.
enum class ControlRole : uint8_t {
    ToggleButton,  // on or off: the slide switches, the lit global boxes, AUDITION, HF COMP
    PushButton,    // acts once: STORE PRESET, SELECT, EXTRACT ALL, a slot's import and browse icons
    RadioButton,   // one of a group: a section's IR choice dots, the slot select icons
    ListItem,      // a row of the factory IR list or of the PROGRAMS overlay
    SpinButton,    // a value stepped up and down: the program, the MIDI channel, a filter position
};

struct DipRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const DipRect&) const = default;
};

// One control as the current frame shows it.
struct PanelControl {
    ControlId id = ControlId::StorePresetButton;
    ControlRole role = ControlRole::PushButton;
    DipRect rect;                // in DIPs; the hit rectangle, also the focus ring's and the reader's
    std::string_view name;       // the visible label as the panel shows it ("REVERB", "STORE PRESET")
    FixedText<160> description;  // what the label leaves open ("lead channel", "user slot 3: NAME")
    FixedText<48> value;         // a spin button's value as shown ("37", "OMNI"); empty otherwise
    int32_t number = 0;          // a spin button's value as a number
    int32_t minimum = 0;         // a spin button's range
    int32_t maximum = 0;
    bool checked = false;  // toggle and radio buttons, list items: on / selected
    bool enabled = true;   // acts now (connected, idle, not covered by the IR panel)
    bool focused = false;  // holds the keyboard focus

    bool operator==(const PanelControl&) const = default;
};

// Which hit regions a control registers, in this order (the region list keeps the order of first
// registration, and a press acts on every region under the pointer in list order).
enum class RegionPlan : uint8_t {
    None,           // no region: the MIDI channel's box, which only its arrows answer
    Press,          // the top row's global boxes
    MoveThenPress,  // hover and press on the same rectangle
    PressThenMove,  // the slot rows' icons and the CC list toggle
    Wheel,          // the program box
};

// One entry of the control table: a control, or a part of one (a spin button's arrow), as one frame
// lays it out. `control.rect` is where the control is drawn, focused and read; `hit` is the
// rectangle of its hit regions, the same but for the IR choice dots (one DIP right of the dot) and
// the factory IR title (narrower than the heading its arrows share).
struct ControlEntry {
    PanelControl control;
    DipRect hit;
    RegionPlan regions = RegionPlan::None;
    ControlId owner = ControlId::StorePresetButton;  // a part's control; the entry's own id otherwise
    bool shown = false;                              // drawn in this frame
};

// The table of one frame, by control id.
class PanelLayout {
public:
    PanelLayout();
    ControlEntry& operator[](ControlId id) { return entries_[static_cast<size_t>(toInt(id))]; }
    const ControlEntry& operator[](ControlId id) const { return entries_[static_cast<size_t>(toInt(id))]; }

private:
    std::array<ControlEntry, kControlIdCount> entries_;
};

// The COLLECTION view's entries as the typed filter leaves them (pointing into rows the caller keeps
// for as long as the frame's controls are read), the filter, and how many entries there are in all.
struct CollectionShown {
    std::span<const CollectionRow* const> rows;
    std::string_view filter;
    size_t total = 0;
};
// Whether the filter (letters A-Z in either case) is in the entry's name, tags or notes.
bool matchesFilter(const CollectionRow& row, std::string_view filter);

// Lays out every control for a frame of `view` on a surface of surfaceWidth x surfaceHeight DIPs:
// rectangles, names, descriptions, values and states (focused is left to the caller). The IR
// panel's controls are shown only while it is open, its list rows only while the list is open too.
// While the COLLECTION view is open, the overlay's rows show the collection's entries from
// programsTop, each named as the entry.
void layoutControls(PanelLayout& layout, const MirrorView& view, int32_t surfaceWidth, int32_t surfaceHeight,
                    const CollectionShown& collection = {});

// Registers the hit regions of the shown controls, in the panel's registration order.
void registerControlRegions(const PanelLayout& layout, HitRegions& regions);

// The PROGRAMS overlay: a column below the top row from the program box's left edge, its rows this
// tall, as many as fit above the bottom bar (at most kProgramRowsMax).
inline constexpr int32_t kProgramsWidth = 370;
inline constexpr int32_t kProgramRowHeight = 24;
DipRect programsOverlayRect(int32_t surfaceWidth, int32_t surfaceHeight);
int32_t programRowsShown(int32_t surfaceHeight);
// The first row's program for a wanted one: kept so that the last row is program 127.
int32_t clampedProgramsTop(int32_t top, int32_t rows);
// The same for a list of count rows (the COLLECTION view's).
int32_t clampedListTop(int32_t top, int32_t rows, int32_t count);
// The tabs right of the overlay, between its two views.
inline constexpr int32_t kOverlayTabWidth = 120;

// The controls a reader lists and Tab visits, in reading order: the top row, the switch row, the
// left column from the top, the IR panel, the PROGRAMS overlay's tabs and rows. Parts (spin buttons' arrows)
// are not among them.
std::span<const ControlId> readingOrder();

// The arrows of a spin button with arrows (the program, the MIDI channel, the factory IR): the part
// a step down and a step up presses. nullopt for any other control.
struct SpinArrows {
    ControlId down;
    ControlId up;
};
std::optional<SpinArrows> spinArrows(ControlId control);

// Whether the control has an action on a press (the program and MIDI channel boxes have none).
bool actsOnPress(ControlId control);

// The rules of which controls answer input in a panel state, for the pointer and the keys alike:
// while the IR panel is open, everything right of the left column but the panel's own controls
// (31..50 and 54..60) is covered; the IR panel's controls answer only while it is open, its list rows only
// while the list is open too.
// While the PROGRAMS overlay is open only its rows and tabs answer, and they answer only then.
bool coveredByIrPanel(ControlId control, int32_t hitX, int32_t irPanelSlot);
bool inertInPanelState(ControlId control, int32_t irPanelSlot, bool factoryListOpen, bool programsOpen);
bool isProgramRow(ControlId control);
// The overlay's rows and its tabs.
bool ofOverlay(ControlId control);

}  // namespace halvard
