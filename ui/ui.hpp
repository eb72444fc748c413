#pragma once
// The panel's state object: the device mirror shared with the worker, plus what the panel needs
// of its window. It is the platform's event handler; on Paint it draws the whole panel from the
// mirror with the canvas that paintWindow lends it for that frame.
//
// Threads: the constructor, onEvent and renderPanel run on the user-interface thread only; the
// device worker touches only the DeviceMirror part (see model/device_mirror.hpp).

#include "model/device_mirror.hpp"
#include "ui/canvas.hpp"
#include "ui/platform_state.hpp"

namespace halvard {

// Where the amplifier picture goes in a surface of W x H DIPs: centred right of the left column
// and below the top rows, scaled by `scale` (never above 1). x0, y0 are in the coordinates that
// the scale multiplies, so the picture is drawn with setScale(scale) at (x0, y0, 1200, 1000).
struct PictureLayout {
    float scale;
    int x0;
    int y0;
};
PictureLayout pictureLayout(int surfaceWidth, int surfaceHeight);

class Ui : public DeviceMirror {
public:
    // Installs onEvent as the platform's handler (removed again by the destructor) and starts with
    // a reset mirror.
    explicit Ui(PlatformState& platform);
    ~Ui();
    Ui(const Ui&) = delete;
    Ui& operator=(const Ui&) = delete;

    // Every window event arrives here. Paint draws the frame; pointer, wheel, timer and activation
    // events are not acted on yet.
    void onEvent(PlatformEvent event);

    // Draws one complete frame on platform().canvas; only while Paint is being handled.
    void renderPanel();

    PlatformState& platform() { return platform_; }

private:
    void renderLogo(Canvas& c);
    void renderPicture(Canvas& c, const MirrorView& m, int w, int h);
    void renderBottomBar(Canvas& c, const MirrorView& m, int w, int h);
    void renderConnectionBox(Canvas& c, const MirrorView& m);

    PlatformState& platform_;
};

}  // namespace halvard
