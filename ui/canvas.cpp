// What every canvas back end shares: the checks and geometry of the image and text primitives
// (the back ends draw), and one frame of the window.
#include "ui/canvas.hpp"

#include "ui/platform_state.hpp"
#include "ui/text_layout_cache.hpp"

namespace halvard {

void Canvas::drawImage(int x, int y, int w, int h, const ImageAsset* image) {
    if (!inFrame() || !image || !image->isColourImage()) return;
    drawAsset(*image, x, y, w, h, 0, 0, image->width(), image->height(), false, 0);
}

void Canvas::drawImagePart(int sx, int sy, int sw, int sh, int dx, int dy, int dw, int dh,
                           const ImageAsset* image) {
    if (!inFrame() || !image || !image->isColourImage() || sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
    // The whole picture at the scale and place that put this part into (dx, dy, dw, dh).
    const double kx = static_cast<double>(dw) / sw;
    const double ky = static_cast<double>(dh) / sh;
    drawAsset(*image, dx - sx * kx, dy - sy * ky, image->width() * kx, image->height() * ky, sx, sy, sw, sh,
              false, 0);
}

void Canvas::fillMask(int x, int y, int w, int h, const ImageAsset* mask, uint32_t color) {
    if (!inFrame() || !mask || !mask->isMask()) return;
    drawAsset(*mask, x, y, w, h, 0, 0, mask->width(), mask->height(), true, color);
}

void Canvas::drawText(int x, int y, int w, int h, uint32_t color, int font, int hAlign, int vAlign,
                      std::string_view text, bool singleLine) {
    if (!inFrame() || font < 0 || font >= kTextFormatCount) return;
    const auto f = static_cast<size_t>(font);
    if (singleLine) trimming_[f] = true;  // the shared format now carries the ellipsis trimming
    if (w <= 0 || text.empty()) return;
    const bool trimmed = !singleLine && trimming_[f];
    drawLayout(x, y, h, color, vAlign,
               LayoutKeyView{text, font, w, trimmed ? h : 0, hAlign, singleLine, trimmed});
}

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
