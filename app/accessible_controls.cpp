#include "app/accessible_controls.hpp"

#include <cmath>

#include "ui/ui.hpp"
#include "util/utf8.hpp"

namespace halvard {

ControlSnapshot::ControlSnapshot(const PanelControl& c)
    : id(c.id),
      role(c.role),
      rect(c.rect),
      name(validUtf8(c.name)),
      description(validUtf8(c.description.view())),
      value(validUtf8(c.value.view())),
      number(c.number),
      minimum(c.minimum),
      maximum(c.maximum),
      checked(c.checked),
      enabled(c.enabled),
      focused(c.focused) {}

uint32_t differences(const ControlSnapshot& before, const ControlSnapshot& now) {
    uint32_t changed = 0;
    if (before.checked != now.checked) changed |= kChangedChecked;
    if (before.enabled != now.enabled) changed |= kChangedEnabled;
    if (before.focused != now.focused) changed |= kChangedFocused;
    if (before.name != now.name) changed |= kChangedName;
    if (before.description != now.description) changed |= kChangedDescription;
    if (before.value != now.value || before.number != now.number || before.minimum != now.minimum ||
        before.maximum != now.maximum)
        changed |= kChangedValue;
    if (before.rect != now.rect) changed |= kChangedBounds;
    if (before.role != now.role) changed |= kChangedRole;
    return changed;
}

const PanelControl* findControl(std::span<const PanelControl> controls, ControlId id) {
    for (const PanelControl& c : controls)
        if (c.id == id) return &c;
    return nullptr;
}

std::optional<int> stepsTo(const PanelControl& control, int64_t target) {
    if (control.role != ControlRole::SpinButton || target < control.minimum || target > control.maximum)
        return std::nullopt;
    return static_cast<int>(target - control.number);
}

std::span<const PanelControl> readableControls(const Ui* ui) {
    if (ui == nullptr) return {};
    return ui->controls();
}

std::string readableStatus(const Ui* ui) {
    return ui == nullptr ? std::string() : std::string(ui->statusText());
}

PixelRect toPixels(const DipRect& rect, double pixelsPerDip) {
    const double scale = pixelsPerDip > 0 ? pixelsPerDip : 1.0;
    const int left = static_cast<int>(std::floor(rect.x * scale));
    const int top = static_cast<int>(std::floor(rect.y * scale));
    const int right = static_cast<int>(std::ceil((rect.x + rect.width) * scale));
    const int bottom = static_cast<int>(std::ceil((rect.y + rect.height) * scale));
    return {left, top, right - left, bottom - top};
}

}  // namespace halvard
