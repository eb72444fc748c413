#include "ui/ui.hpp"

namespace halvard {

Ui::Ui(PlatformState& platform) : platform_(platform) {
    platform_.handler = [this](PlatformEvent event) { onEvent(event); };
}

Ui::~Ui() {
    platform_.handler = nullptr;
}

void Ui::onEvent(PlatformEvent event) {
    switch (event) {
        case PlatformEvent::Paint:
            renderPanel();
            break;
        case PlatformEvent::PointerMove:
            pointerHandler_.pointerMove(pointer());
            break;
        case PlatformEvent::LeftButtonDown:
            pointerHandler_.leftButtonDown(pointer());
            break;
        case PlatformEvent::RightButtonDown:
            pointerHandler_.rightButtonDown();
            break;
        case PlatformEvent::Wheel:
            pointerHandler_.wheel(pointer(), platform_.wheelNotches);
            break;
        default:
            break;  // activation, button releases and the timer do nothing
    }
}

void Ui::renderPanel() {
    Canvas* canvas = platform_.canvas;
    if (canvas == nullptr) return;
    // One copy of the mirror per frame, so a frame never mixes two states of a record or a name.
    MirrorView v = view();
    applyBypassLock(*this, v);
    drawPanel(*canvas, v, regions_);
}

// Not built yet: the control list stays empty and nothing acts.
bool Ui::activateControl(ControlId) {
    return false;
}
bool Ui::stepControl(ControlId, int) {
    return false;
}
void Ui::focusControl(ControlId) {}

}  // namespace halvard
