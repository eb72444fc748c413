#include "app/platform.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace halvard {

WindowSize windowSizeForDpi(float dpi) {
    return {static_cast<int>(std::ceil(dpi * 1280.0f / 96.0f)),
            static_cast<int>(std::ceil(dpi * 900.0f / 96.0f))};
}

WindowSize logicalWindowSize(int scaleFactor) {
    const int factor = std::max(scaleFactor, 1);
    const WindowSize pixels = windowSizeForDpi(96.0f * static_cast<float>(factor));
    return {pixels.width / factor, pixels.height / factor};
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
    if (!delta) return;
    wheelNotches += *delta / kWheelDeltaPerNotch;  // whole notches; the remainder is dropped
    raise(PlatformEvent::Wheel);
}

void Platform::scaleFactorChanged(int factor) {
    scaleFactor = std::max(factor, 1);
    dpi = 96.0f * static_cast<float>(scaleFactor);
}

}  // namespace halvard
