// What every canvas back end shares: one frame of the window.
#include "ui/canvas.hpp"

#include "ui/platform_state.hpp"

namespace halvard {

void paintWindow(PlatformState& platform, Canvas& canvas, CanvasTarget& target, int dipWidth, int dipHeight) {
    canvas.beginFrame(target, dipWidth, dipHeight);
    platform.surfaceWidth = dipWidth;
    platform.surfaceHeight = dipHeight;
    platform.canvas = &canvas;
    platform.raise(PlatformEvent::Paint);
    platform.canvas = nullptr;
    canvas.endFrame();
}

}  // namespace halvard
