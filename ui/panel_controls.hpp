#pragma once
// The panel's controls as one list: what each control is, where it is, what it reads and what it
// does. The list is made for every frame from the mirror's view and the surface size; drawing, the
// hit regions, keyboard focus and the accessibility back ends (ATK on GTK, MSAA on Win32) all read
// these same entries, so a control's rectangle is written once.
//
// Threads: made and read on the user-interface thread only.

#include <cstdint>
#include <string_view>

#include "ui/hit_regions.hpp"
#include "ui/panel_text.hpp"

namespace halvard {

// What a control is, as a screen reader names it.
enum class ControlRole : uint8_t {
    ToggleButton,  // on or off: the slide switches, the lit global boxes, AUDITION, HF COMP
    PushButton,    // acts once: STORE PRESET, SELECT, EXTRACT ALL, a slot's import and browse icons
    RadioButton,   // one of a group: a section's IR choice dots, the slot select icons
    ListItem,      // a row of the factory IR list
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
    DipRect rect;               // in DIPs; the hit rectangle, also the focus ring's and the reader's
    std::string_view name;      // the visible label as the panel shows it ("REVERB", "STORE PRESET")
    FixedText<64> description;  // what the label leaves open ("lead channel", "user slot 3")
    FixedText<48> value;        // a spin button's value as shown ("37", "OMNI"); empty otherwise
    int32_t number = 0;         // a spin button's value as a number
    int32_t minimum = 0;        // a spin button's range
    int32_t maximum = 0;
    bool checked = false;  // toggle and radio buttons, list items: on / selected
    bool enabled = true;   // acts now (connected, idle, not covered by the IR panel)
    bool focused = false;  // holds the keyboard focus
};

}  // namespace halvard
