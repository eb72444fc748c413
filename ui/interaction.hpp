#pragma once
// Pointer handling of the panel: hover highlights, the action of every control on a left press,
// the program wheel. Runs on the user-interface thread only, against the regions of the last frame.
//
// It edits the device mirror (globals, the current program's record, the panel state) and posts
// command codes for the device worker; it asks for repaints, the arrow cursor and the short pause
// after a post through PointerHost, so that tests drive it without a window or a clock.

#include <cstdint>

#include "model/device_mirror.hpp"
#include "ui/hit_regions.hpp"
#include "ui/panel_geometry.hpp"

namespace halvard {

// What the pointer handling needs from the window around it.
class PointerHost {
public:
    virtual void requestRepaint() = 0;
    virtual void showArrowCursor() = 0;
    // The pause after posting a command, long enough for the worker to take it (four 5 ms polls).
    virtual void pauseAfterPost() = 0;

protected:
    ~PointerHost() = default;
};

// Sleeps the calling thread for the post pause (20 ms on the steady clock).
void pauseAfterPostOnThisThread();

// The pointer as the platform reports it: client pixels, and the surface's horizontal DPI.
struct PointerInput {
    int32_t pointerX = 0;
    int32_t pointerY = 0;
    float dpi = 96.0f;  // 96 when there is no drawing surface yet
};

struct DipPoint {
    int32_t x = 0;
    int32_t y = 0;
};

// Pixels to DIPs: divided by DPI / 96 in single precision and truncated.
DipPoint pointerToDip(const PointerInput& in);

class PointerHandler {
public:
    PointerHandler(DeviceMirror& mirror, HitRegions& regions, PointerHost& host)
        : mirror_(mirror), regions_(regions), host_(host) {}

    // Each acts only while the link is Connected; the wheel also only while the IR panel is closed.
    void pointerMove(const PointerInput& in);
    void leftButtonDown(const PointerInput& in);
    // wheelNotches: the platform's sum of unconsumed notches; taken and zeroed only when the pointer
    // is over a wheel region.
    void wheel(const PointerInput& in, int32_t& wheelNotches);

private:
    struct Press {
        bool redraw = false;
        bool settings = false;
        bool keepList = true;
    };

    bool excludedByPanel(const HitRegion& r) const;
    bool inert(ControlId control) const;
    void act(ControlId control, Press& press);
    void postCommand(Command code);
    void auditionStep();
    void postSettingsCommand();

    DeviceMirror& mirror_;
    HitRegions& regions_;
    PointerHost& host_;
};

}  // namespace halvard
