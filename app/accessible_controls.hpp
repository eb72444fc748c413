#pragma once
// What the accessibility back ends (ATK on GTK, MSAA on Win32) share: the copy of a control that a
// screen reader was last told of, what differs from the frame just drawn, and the scale from DIPs
// to the window system's pixels. No window system here.
//
// Everything here runs on the user-interface thread.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ui/panel_controls.hpp"

namespace halvard {

class Ui;
struct PlatformState;

// A control as a reader last saw it; owns its texts, so it outlives the frame it came from.
struct ControlSnapshot {
    ControlId id = ControlId::StorePresetButton;
    ControlRole role = ControlRole::PushButton;
    DipRect rect;
    std::string name;
    std::string description;
    std::string value;
    int32_t number = 0;
    int32_t minimum = 0;
    int32_t maximum = 0;
    bool checked = false;
    bool enabled = true;
    bool focused = false;

    ControlSnapshot() = default;
    explicit ControlSnapshot(const PanelControl& c);
};

// What a reader is told when a control it knows changes; one bit per notification.
enum ControlChange : uint32_t {
    kChangedChecked = 1u << 0,
    kChangedEnabled = 1u << 1,
    kChangedFocused = 1u << 2,
    kChangedName = 1u << 3,
    kChangedDescription = 1u << 4,
    kChangedValue = 1u << 5,  // the value text, the number or the range
    kChangedBounds = 1u << 6,
    kChangedRole = 1u << 7,
};
uint32_t differences(const ControlSnapshot& before, const ControlSnapshot& now);

// The control with this id among these; nullptr when the frame does not show it.
const PanelControl* findControl(std::span<const PanelControl> controls, ControlId id);

// A reader's request to set a spin button to `target`: the number of steps from its value, or
// nullopt when the control is not a spin button or the target lies outside its range.
std::optional<int> stepsTo(const PanelControl& control, int64_t target);

// The controls a reader may see: those of the panel's last frame, none while no panel is attached.
std::span<const PanelControl> readableControls(const Ui* ui);

// The status line as the panel's last frame shows it, for a reader: the panel's description, so
// that a refusal's reason ("IR NOT IMPORTED: ...") is heard as well as seen. "" without a panel.
std::string readableStatus(const Ui* ui);

// A rectangle in DIPs in the window's pixels: `pixelsPerDip` is dpi / 96, divided by the integer
// scale factor where the window system counts logical pixels (GTK). Edges are rounded outwards.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PixelRect&) const = default;
};
PixelRect toPixels(const DipRect& rect, double pixelsPerDip);

}  // namespace halvard
