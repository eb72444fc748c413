#include "app/platform.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "app/accessible_controls.hpp"

namespace halvard {
namespace {

TEST(Platform, WindowSizeFollowsTheDpi) {
    EXPECT_EQ(windowSizeForDpi(96), (WindowSize{1280, 900}));
    EXPECT_EQ(windowSizeForDpi(120), (WindowSize{1600, 1125}));
    EXPECT_EQ(windowSizeForDpi(144), (WindowSize{1920, 1350}));
    EXPECT_EQ(windowSizeForDpi(97), (WindowSize{1294, 910})) << "rounded up";
    // In logical pixels the size is the same at every integer scale factor.
    for (int factor : {1, 2, 3}) EXPECT_EQ(logicalWindowSize(factor), (WindowSize{1280, 900})) << factor;
    EXPECT_EQ(logicalWindowSize(0), (WindowSize{1280, 900})) << "a bogus factor counts as 1";
}

TEST(Platform, PointerPositionsAreDevicePixelsAsUnsigned16Bit) {
    EXPECT_EQ(packPointerCoordinate(10.0, 1), 10);
    EXPECT_EQ(packPointerCoordinate(10.7, 1), 10);
    EXPECT_EQ(packPointerCoordinate(10.7, 2), 21) << "logical pixels times the scale factor";
    EXPECT_EQ(packPointerCoordinate(-1.0, 1), 65535) << "negative client coordinates wrap";
    EXPECT_EQ(packPointerCoordinate(-0.5, 1), 65535) << "the pixel left of the edge";
    EXPECT_EQ(packPointerCoordinate(65536.0, 1), 0);
    EXPECT_EQ(packPointerCoordinate(1e300, 1), packPointerCoordinate(1e9, 1)) << "no overflow";

    Platform p(kAppTitle, kAppId);
    std::vector<PlatformEvent> seen;
    std::vector<int32_t> xs;
    p.handler = [&](PlatformEvent e) {
        seen.push_back(e);
        xs.push_back(p.pointerX);
    };
    p.scaleFactorChanged(2);
    EXPECT_EQ(p.dpi, 192.0f);
    p.pointerEvent(PlatformEvent::LeftButtonDown, 100.25, -3);
    EXPECT_EQ(seen, std::vector<PlatformEvent>{PlatformEvent::LeftButtonDown});
    EXPECT_EQ(xs[0], 200) << "stored before the event is raised";
    EXPECT_EQ(p.pointerY, 65530);
}

TEST(Platform, WheelAddsWholeNotchesAndAlwaysRaisesTheEvent) {
    EXPECT_EQ(wheelDelta({ScrollKind::Up, 0, false}), 120);
    EXPECT_EQ(wheelDelta({ScrollKind::Down, 0, false}), -120);
    EXPECT_EQ(wheelDelta({ScrollKind::Smooth, -1.0, false}), 120) << "smooth up, one notch";
    EXPECT_EQ(wheelDelta({ScrollKind::Smooth, 2.0, false}), -240);
    EXPECT_EQ(wheelDelta({ScrollKind::Smooth, 0.5, false}), -60);
    EXPECT_EQ(wheelDelta({ScrollKind::Smooth, 0.0, false}), std::nullopt)
        << "horizontal only, or a scroll stop";
    EXPECT_EQ(wheelDelta({ScrollKind::Left, 0, false}), std::nullopt);
    EXPECT_EQ(wheelDelta({ScrollKind::Up, 0, true}), std::nullopt) << "emulated beside smooth events";

    Platform p(kAppTitle, kAppId);
    int wheels = 0;
    p.handler = [&](PlatformEvent e) { wheels += e == PlatformEvent::Wheel; };
    p.pointerX = 7;
    p.scrollEvent({ScrollKind::Up, 0, false});
    EXPECT_EQ(p.wheelNotches, 1);
    p.scrollEvent({ScrollKind::Smooth, 2.0, false});
    EXPECT_EQ(p.wheelNotches, -1) << "-240 adds -2";
    // A touchpad's small movements add up to notches; turning back starts again.
    p.scrollEvent({ScrollKind::Smooth, 0.5, false});
    EXPECT_EQ(p.wheelNotches, -1) << "half a notch: nothing yet";
    p.scrollEvent({ScrollKind::Smooth, -0.4, false});
    p.scrollEvent({ScrollKind::Smooth, -0.7, false});
    EXPECT_EQ(p.wheelNotches, 0) << "0.4 + 0.7 forward: one notch, the half back forgotten";
    EXPECT_EQ(wheels, 3) << "Wheel only for whole notches";
    p.scrollEvent({ScrollKind::Right, 0, false});
    EXPECT_EQ(wheels, 3);
    EXPECT_EQ(p.pointerX, 7) << "the wheel does not move the pointer";
}

TEST(Platform, ButtonsCloseTimerAndActivation) {
    EXPECT_EQ(buttonEvent(1, true), PlatformEvent::LeftButtonDown);
    EXPECT_EQ(buttonEvent(1, false), PlatformEvent::LeftButtonUp);
    EXPECT_EQ(buttonEvent(3, true), PlatformEvent::RightButtonDown);
    EXPECT_EQ(buttonEvent(3, false), PlatformEvent::RightButtonUp);
    EXPECT_EQ(buttonEvent(2, true), std::nullopt);
    EXPECT_EQ(buttonEvent(8, false), std::nullopt);

    Platform p(kAppTitle, kAppId);
    EXPECT_EQ(p.title, "Halvard Editor");
    EXPECT_FALSE(p.running);
    p.timerTick();  // no handler yet: nothing is delivered, nothing breaks
    std::vector<PlatformEvent> seen;
    p.handler = [&](PlatformEvent e) { seen.push_back(e); };
    p.timerTick();
    p.activationChanged();
    EXPECT_EQ(seen, (std::vector<PlatformEvent>{PlatformEvent::Timer, PlatformEvent::ActivateApp}));
    p.running = true;
    p.closeRequest();
    EXPECT_FALSE(p.running);
    EXPECT_EQ(seen.size(), 2u) << "a close request raises no event";
}

TEST(Platform, KeysOfBothWindowSystemsMapToThePanelsKeys) {
    EXPECT_EQ(keyFromKeysym(0xff09), KeyCode::Tab);
    EXPECT_EQ(keyFromKeysym(0xfe20), KeyCode::Tab) << "Shift+Tab comes as ISO_Left_Tab";
    EXPECT_EQ(keyFromKeysym(0xff8d), KeyCode::Return) << "the keypad's Enter";
    EXPECT_EQ(keyFromKeysym(0xff55), KeyCode::PageUp);
    EXPECT_EQ(keyFromKeysym('Z'), KeyCode::Z) << "Ctrl+Shift+Z reports the capital";
    EXPECT_EQ(keyFromKeysym('='), KeyCode::Plus) << "the plus key without Shift";
    EXPECT_EQ(keyFromKeysym('a'), KeyCode::None);
    EXPECT_EQ(keyFromVirtualKey(0x09), KeyCode::Tab);
    EXPECT_EQ(keyFromVirtualKey(0x21), KeyCode::PageUp);
    EXPECT_EQ(keyFromVirtualKey(0x25), KeyCode::Left);
    EXPECT_EQ(keyFromVirtualKey(0xbb), KeyCode::Plus);
    EXPECT_EQ(keyFromVirtualKey('Y'), KeyCode::Y);
    EXPECT_EQ(keyFromVirtualKey(0x70), KeyCode::None) << "F1";
    EXPECT_EQ(keyModifiersFromGdkState(1 | 4 | 16), kKeyShift | kKeyControl)
        << "Num Lock (Mod2) is no modifier";
    EXPECT_EQ(keyModifiersFromGdkState(8), kKeyAlt);
}

TEST(Platform, ZoomKeysScaleTheDpiAndTheWindowInStepsAndOtherKeysReachThePanel) {
    Platform p(kAppTitle, kAppId);
    std::vector<std::pair<KeyCode, uint32_t>> raised;
    p.handler = [&](PlatformEvent e) {
        if (e == PlatformEvent::KeyDown) raised.emplace_back(p.key, p.keyModifiers);
    };
    int windowChanges = 0;
    std::vector<int> kept;
    p.zoomChanged = [&] { ++windowChanges; };
    p.keepZoom = [&](int percent) { kept.push_back(percent); };
    p.dpiChanged(144.0f);

    EXPECT_TRUE(p.keyEvent(KeyCode::Plus, kKeyControl));
    EXPECT_EQ(p.zoomPercent, 110);
    EXPECT_FLOAT_EQ(p.dpi, 144.0f * 1.1f);
    EXPECT_EQ(windowSizeForDpi(p.dpi), (WindowSize{2112, 1485})) << "the window's least size grows with it";
    for (int i = 0; i < 6; ++i) p.keyEvent(KeyCode::Plus, kKeyControl | kKeyShift);
    EXPECT_EQ(p.zoomPercent, 200) << "at most twice the size";
    p.keyEvent(KeyCode::Minus, kKeyControl);
    EXPECT_EQ(p.zoomPercent, 175);
    p.keyEvent(KeyCode::Zero, kKeyControl);
    EXPECT_EQ(p.zoomPercent, 100);
    EXPECT_FLOAT_EQ(p.dpi, 144.0f);
    p.keyEvent(KeyCode::Minus, kKeyControl);
    EXPECT_EQ(kept, (std::vector<int>{110, 125, 150, 175, 200, 175, 100})) << "kept at every change only";
    EXPECT_EQ(windowChanges, 7);
    EXPECT_TRUE(raised.empty()) << "zoom keys stay with the window";

    p.keyEvent(KeyCode::Plus, 0);
    p.keyEvent(KeyCode::Z, kKeyControl | kKeyShift);
    EXPECT_EQ(raised, (std::vector<std::pair<KeyCode, uint32_t>>{{KeyCode::Plus, 0},
                                                                 {KeyCode::Z, kKeyControl | kKeyShift}}));
    EXPECT_FALSE(p.keyEvent(KeyCode::None, 0)) << "not the panel's: the window system's";
    p.setZoom(130);
    EXPECT_EQ(p.zoomPercent, 150) << "between steps: the step above";
    EXPECT_EQ(logicalWindowSize(2, 150), (WindowSize{1920, 1350}));
}

// What a screen reader is given: a control's extents cover every pixel it is drawn on at a DPI
// that is no multiple of 96, and a spin button takes only values in its range.
TEST(Platform, ReadersGetWholePixelExtentsAndSpinValuesInRange) {
    EXPECT_EQ(toPixels({101, 51, 41, 21}, 1.0), (PixelRect{101, 51, 41, 21}));
    EXPECT_EQ(toPixels({101, 51, 41, 21}, 1.5), (PixelRect{151, 76, 62, 32}))
        << "151.5 .. 213 rounded outwards";

    PanelControl program;
    program.role = ControlRole::SpinButton;
    program.number = 5;
    program.minimum = 0;
    program.maximum = 127;
    EXPECT_EQ(stepsTo(program, 7), 2);
    EXPECT_EQ(stepsTo(program, 0), -5);
    EXPECT_EQ(stepsTo(program, 128), std::nullopt);
    program.role = ControlRole::ToggleButton;
    EXPECT_EQ(stepsTo(program, 6), std::nullopt) << "only a spin button has a value to set";

    // Readers get UTF-8 only: a file name in another encoding shows its other bytes as U+FFFD.
    program.description << "differs from caf\xE9.syx, \xC3\xA9t\xC3\xA9 \xED\xA0\x80";
    EXPECT_EQ(ControlSnapshot(program).description,
              "differs from caf\xEF\xBF\xBD.syx, \xC3\xA9t\xC3\xA9 \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace halvard
