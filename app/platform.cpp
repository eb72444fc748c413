#include "app/platform.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace halvard {

WindowSize windowSizeForDpi(float dpi) {
    return {static_cast<int>(std::ceil(dpi * 1280.0f / 96.0f)),
            static_cast<int>(std::ceil(dpi * 900.0f / 96.0f))};
}

WindowSize logicalWindowSize(int scaleFactor, int zoomPercent) {
    const int factor = std::max(scaleFactor, 1);
    const WindowSize pixels =
        windowSizeForDpi(96.0f * static_cast<float>(factor) * static_cast<float>(zoomPercent) / 100.0f);
    return {pixels.width / factor, pixels.height / factor};
}

int zoomStep(int percent, int direction) {
    if (direction > 0) {
        for (const int step : kZoomSteps)
            if (step > percent) return step;
        return kZoomSteps.back();
    }
    for (auto it = kZoomSteps.rbegin(); it != kZoomSteps.rend(); ++it)
        if (*it < percent) return *it;
    return kZoomSteps.front();
}

KeyCode keyFromKeysym(uint32_t keysym) {
    switch (keysym) {
        case 0xff09:  // Tab
        case 0xfe20:  // ISO_Left_Tab, Shift+Tab
        case 0xff89:  // KP_Tab
            return KeyCode::Tab;
        case 0xff0d:  // Return
        case 0xff8d:  // KP_Enter
            return KeyCode::Return;
        case 0x0020:  // space
        case 0xff80:  // KP_Space
            return KeyCode::Space;
        case 0xff1b:
            return KeyCode::Escape;
        case 0xff55:  // Page_Up (Prior)
        case 0xff9a:  // KP_Page_Up
            return KeyCode::PageUp;
        case 0xff56:  // Page_Down (Next)
        case 0xff9b:  // KP_Page_Down
            return KeyCode::PageDown;
        case 0xff51:
        case 0xff96:  // KP_Left
            return KeyCode::Left;
        case 0xff53:
        case 0xff98:  // KP_Right
            return KeyCode::Right;
        case 0xff52:
        case 0xff97:  // KP_Up
            return KeyCode::Up;
        case 0xff54:
        case 0xff99:  // KP_Down
            return KeyCode::Down;
        case 'z':
        case 'Z':
            return KeyCode::Z;
        case 'y':
        case 'Y':
            return KeyCode::Y;
        case 's':
        case 'S':
            return KeyCode::S;
        case '+':
        case '=':
        case 0xffab:  // KP_Add
            return KeyCode::Plus;
        case '-':
        case '_':
        case 0xffad:  // KP_Subtract
            return KeyCode::Minus;
        case '0':
        case ')':     // Shift+0 on US layouts
        case 0xffb0:  // KP_0
            return KeyCode::Zero;
        case 0xffbf:  // F2
            return KeyCode::F2;
        case 0xffc7:  // F10
            return KeyCode::F10;
        case 0xff67:  // Menu
            return KeyCode::Menu;
        case 0xff08:  // BackSpace
            return KeyCode::Backspace;
        default:
            return KeyCode::None;
    }
}

KeyCode keyFromVirtualKey(uint32_t virtualKey) {
    switch (virtualKey) {
        case 0x09:  // VK_TAB
            return KeyCode::Tab;
        case 0x0d:  // VK_RETURN (the keypad's Enter too)
            return KeyCode::Return;
        case 0x20:  // VK_SPACE
            return KeyCode::Space;
        case 0x1b:  // VK_ESCAPE
            return KeyCode::Escape;
        case 0x21:  // VK_PRIOR
            return KeyCode::PageUp;
        case 0x22:  // VK_NEXT
            return KeyCode::PageDown;
        case 0x25:  // VK_LEFT
            return KeyCode::Left;
        case 0x27:  // VK_RIGHT
            return KeyCode::Right;
        case 0x26:  // VK_UP
            return KeyCode::Up;
        case 0x28:  // VK_DOWN
            return KeyCode::Down;
        case 'Z':
            return KeyCode::Z;
        case 'Y':
            return KeyCode::Y;
        case 'S':
            return KeyCode::S;
        case 0xbb:  // VK_OEM_PLUS, the "=" and "+" key
        case 0x6b:  // VK_ADD
            return KeyCode::Plus;
        case 0xbd:  // VK_OEM_MINUS
        case 0x6d:  // VK_SUBTRACT
            return KeyCode::Minus;
        case '0':
        case 0x60:  // VK_NUMPAD0
            return KeyCode::Zero;
        case 0x71:  // VK_F2
            return KeyCode::F2;
        case 0x79:  // VK_F10
            return KeyCode::F10;
        case 0x5d:  // VK_APPS, the menu key
            return KeyCode::Menu;
        case 0x08:  // VK_BACK
            return KeyCode::Backspace;
        default:
            return KeyCode::None;
    }
}

uint32_t keyModifiersFromGdkState(uint32_t state) {
    return ((state & 1u) ? kKeyShift : 0u) | ((state & 4u) ? kKeyControl : 0u) |
           ((state & 8u) ? kKeyAlt : 0u);
}

int32_t packPointerCoordinate(double logical, int scaleFactor) {
    double device = std::floor(logical * std::max(scaleFactor, 1));
    if (!std::isfinite(device)) device = 0;
    const auto whole = static_cast<int64_t>(std::clamp(device, -1e9, 1e9));
    return static_cast<int32_t>(static_cast<uint16_t>(whole & 0xffff));
}

std::optional<int32_t> wheelDelta(const ScrollInput& scroll) {
    if (scroll.emulated) return std::nullopt;
    switch (scroll.kind) {
        case ScrollKind::Up:
            return kWheelDeltaPerNotch;
        case ScrollKind::Down:
            return -kWheelDeltaPerNotch;
        case ScrollKind::Smooth: {
            if (scroll.deltaY == 0 || !std::isfinite(scroll.deltaY))
                return std::nullopt;  // horizontal, or a stop
            const double delta = std::clamp(-scroll.deltaY * kWheelDeltaPerNotch, -32768.0, 32767.0);
            return static_cast<int32_t>(std::lround(delta));
        }
        case ScrollKind::Left:
        case ScrollKind::Right:
            break;
    }
    return std::nullopt;
}

std::optional<PlatformEvent> buttonEvent(int button, bool pressed) {
    if (button == 1) return pressed ? PlatformEvent::LeftButtonDown : PlatformEvent::LeftButtonUp;
    if (button == 3) return pressed ? PlatformEvent::RightButtonDown : PlatformEvent::RightButtonUp;
    return std::nullopt;
}

Platform::Platform(std::string windowTitle, std::string applicationId)
    : title(std::move(windowTitle)), appId(std::move(applicationId)) {}

void Platform::pointerEvent(PlatformEvent event, double logicalX, double logicalY) {
    pointerX = packPointerCoordinate(logicalX, scaleFactor);
    pointerY = packPointerCoordinate(logicalY, scaleFactor);
    raise(event);
}

void Platform::scrollEvent(const ScrollInput& scroll) {
    const std::optional<int32_t> delta = wheelDelta(scroll);
    if (delta) wheelEvent(*delta);
}

void Platform::wheelEvent(int32_t delta) {
    if ((delta < 0) != (wheelRest_ < 0)) wheelRest_ = 0;  // turned the other way
    wheelRest_ += delta;
    const int32_t notches = wheelRest_ / kWheelDeltaPerNotch;
    if (notches == 0) return;
    wheelRest_ -= notches * kWheelDeltaPerNotch;
    wheelNotches += notches;
    raise(PlatformEvent::Wheel);
}

void Platform::scaleFactorChanged(int factor) {
    scaleFactor = std::max(factor, 1);
    windowDpi = 96.0f * static_cast<float>(scaleFactor);
    updateDpi();
}

void Platform::dpiChanged(float newDpi) {
    windowDpi = newDpi > 0 ? newDpi : 96.0f;
    updateDpi();
}

void Platform::updateDpi() {
    dpi = windowDpi * static_cast<float>(zoomPercent) / 100.0f;
}

void Platform::setZoom(int percent) {
    const int zoom = std::clamp(zoomStep(percent - 1, 1), kZoomSteps.front(), kZoomSteps.back());
    if (zoom == zoomPercent) return;
    zoomPercent = zoom;
    updateDpi();
    if (zoomChanged) zoomChanged();
    if (keepZoom) keepZoom(zoomPercent);
}

bool Platform::keyEvent(KeyCode pressed, uint32_t modifiers, bool repeat) {
    if (pressed == KeyCode::None) return false;
    if (modifiers == kKeyControl || modifiers == (kKeyControl | kKeyShift)) {
        switch (pressed) {
            case KeyCode::Plus:
                setZoom(zoomStep(zoomPercent, 1));
                return true;
            case KeyCode::Minus:
                setZoom(zoomStep(zoomPercent, -1));
                return true;
            case KeyCode::Zero:
                setZoom(kZoomSteps.front());
                return true;
            default:
                break;
        }
    }
    key = pressed;
    keyChar = 0;
    keyModifiers = modifiers;
    keyRepeat = repeat;
    raise(PlatformEvent::KeyDown);
    return true;
}

void Platform::characterEvent(char32_t typed, bool repeat) {
    key = KeyCode::Character;
    keyChar = typed;
    keyModifiers = 0;
    keyRepeat = repeat;
    raise(PlatformEvent::KeyDown);
}

void Platform::dropEvent(std::vector<std::string> files, double logicalX, double logicalY) {
    droppedFiles = std::move(files);
    pointerEvent(PlatformEvent::DropFiles, logicalX, logicalY);
}

}  // namespace halvard
