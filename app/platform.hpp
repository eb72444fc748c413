#pragma once
// The window object and the rules that turn window-system input into panel events. Pure logic: no
// window system here, so the mapping, sizing and wheel rules run in unit tests without a display.
// The window back ends (app/gtk/, app/win32/) only unpack their events and call these.
//
// Everything here is used on the user-interface thread, except requestRepaint (any thread).

#include <array>
#include <cstdint>
#include <functional>
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

// The same in the window system's logical pixels (device pixels / integer scale factor), for the
// panel at a zoom.
WindowSize logicalWindowSize(int scaleFactor, int zoomPercent = 100);

// The panel's zoom steps, in percent of the size the DPI gives.
inline constexpr std::array<int, 6> kZoomSteps = {100, 110, 125, 150, 175, 200};
// The step after (direction > 0) or before `percent`, staying within the steps; a percent between
// steps goes to the next one in that direction.
int zoomStep(int percent, int direction);

// Key codes to the panel's keys: X keysyms (what GDK reports as key values) and Win32 virtual-key
// codes; KeyCode::None for any other key. Shift+Tab's keysym (ISO_Left_Tab) is Tab.
KeyCode keyFromKeysym(uint32_t keysym);
KeyCode keyFromVirtualKey(uint32_t virtualKey);
// GDK's modifier state bits (Shift 1, Control 4, Mod1 = Alt 8) to kKeyShift, kKeyControl, kKeyAlt.
uint32_t keyModifiersFromGdkState(uint32_t state);

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
    bool running = false;     // the main loop runs while it is set
    int scaleFactor = 1;      // GTK: the window's integer scale factor; dpi is 96 times it
    float windowDpi = 96.0f;  // the window's own DPI; dpi is this times the zoom
    int zoomPercent = 100;    // the panel's zoom, one of kZoomSteps

    // Set by the window back end: the zoom has changed, the window is to take the panel's new size
    // (at least its new smallest size) and repaint.
    std::function<void()> zoomChanged;
    // Set by the entry sequence: keeps the zoom for the next run.
    std::function<void(int percent)> keepZoom;

    // Input from the window, mapped and raised as events (each only while a handler is set).
    void pointerEvent(PlatformEvent event, double logicalX, double logicalY);
    void scrollEvent(const ScrollInput& scroll);
    // A wheel movement in 120ths of a notch, forward positive. Fine-grained movements (touchpads,
    // high-resolution wheels) add up: Wheel is raised once they make a whole notch, the rest kept
    // for the next movement in the same direction.
    void wheelEvent(int32_t delta);
    void timerTick() { raise(PlatformEvent::Timer); }
    void activationChanged() { raise(PlatformEvent::ActivateApp); }
    // The window's close button: the loop ends after this event; the window is not destroyed.
    void closeRequest() { running = false; }
    void scaleFactorChanged(int factor);
    // Windows: the window's DPI, any value. Pointer positions arrive in device pixels there, so the
    // scale factor stays 1.
    void dpiChanged(float newDpi);
    // A key pressed with its modifiers, or repeated while held (repeat). Ctrl+plus, Ctrl+minus and
    // Ctrl+0 zoom the panel here; every other key the panel knows is raised as KeyDown. Returns
    // whether the key was one of the panel's, so that the window system's own handling of it is
    // skipped.
    bool keyEvent(KeyCode key, uint32_t modifiers, bool repeat = false);
    // A character typed (no Control or Alt held), raised as KeyDown of KeyCode::Character.
    void characterEvent(char32_t typed, bool repeat = false);
    // Files dropped on the window at a point in logical pixels, raised as DropFiles.
    void dropEvent(std::vector<std::string> files, double logicalX, double logicalY);
    // Sets the zoom (a value between the steps goes to the step above; 100 to 200), the DPI the panel
    // is drawn at, and tells the window and the keeper when it changed. Before the window opens it
    // only sets the values.
    void setZoom(int percent);

private:
    void updateDpi();

    int32_t wheelRest_ = 0;  // 120ths of a notch not yet made whole, in the last direction
};

}  // namespace halvard
