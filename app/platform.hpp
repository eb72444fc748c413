#pragma once
// The window object and the rules that turn window-system input into panel events. Pure logic: no
// GTK here, so the mapping, sizing and wheel rules run in unit tests without a display. The GTK
// layer (gtk_window.cpp) only unpacks its events and calls these.
//
// Everything here is used on the user-interface thread, except requestRepaint (any thread).

#include <cstdint>
#include <optional>
#include <string>

#include "halvard_version.hpp"  // kAppId, generated from the top CMakeLists.txt
#include "ui/platform_state.hpp"

namespace halvard {

inline constexpr const char* kAppTitle = "Halvard Editor";

inline constexpr int kTimerPeriodMs = 500;
inline constexpr int kWheelDeltaPerNotch = 120;

struct WindowSize {
    int width;
    int height;
    bool operator==(const WindowSize&) const = default;
};

// The window's size in pixels at a DPI: ceil(dpi * 1280 / 96) x ceil(dpi * 900 / 96), in single
// precision. Both the opening size and the smallest size the window may be given.
WindowSize windowSizeForDpi(float dpi);

// The same in the window system's logical pixels (device pixels / integer scale factor).
WindowSize logicalWindowSize(int scaleFactor);

// A pointer coordinate in logical pixels to the stored form: device pixels (times the scale
// factor, rounded down) taken as an unsigned 16-bit value, so -1 becomes 65535.
int32_t packPointerCoordinate(double logical, int scaleFactor);

// A scroll event as the window system reports it.
enum class ScrollKind { Up, Down, Left, Right, Smooth };
struct ScrollInput {
    ScrollKind kind = ScrollKind::Smooth;
    double deltaY = 0;      // Smooth only: positive is towards the user (down), 1.0 is one notch
    bool emulated = false;  // a discrete event the window system made up beside its smooth events
};

// The wheel movement in 120ths of a notch, forward (away from the user) positive; nullopt for
// input that is not a vertical wheel movement (horizontal scrolling, emulated duplicates).
std::optional<int32_t> wheelDelta(const ScrollInput& scroll);

// Mouse button number (1 left, 2 middle, 3 right) and direction to an event; nullopt for others.
std::optional<PlatformEvent> buttonEvent(int button, bool pressed);

class Platform : public PlatformState {
public:
    // Both strings are taken over (left empty in the caller).
    Platform(std::string title, std::string appId);
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    std::string title;
    std::string appId;
    bool running = false;  // the main loop runs while it is set
    int scaleFactor = 1;   // the window's integer scale factor; dpi is 96 times it

    // Input from the window, mapped and raised as events (each only while a handler is set).
    void pointerEvent(PlatformEvent event, double logicalX, double logicalY);
    void scrollEvent(const ScrollInput& scroll);
    void timerTick() { raise(PlatformEvent::Timer); }
    void activationChanged() { raise(PlatformEvent::ActivateApp); }
    // The window's close button: the loop ends after this event; the window is not destroyed.
    void closeRequest() { running = false; }
    void scaleFactorChanged(int factor);
};

}  // namespace halvard
