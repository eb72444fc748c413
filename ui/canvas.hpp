#pragma once
// The drawing layer: the six primitives with which the panel is drawn. One back end implements it
// per platform (ui/cairo/: Cairo and Pango on Linux; ui/d2d/: Direct2D and DirectWrite on Windows);
// nothing above it knows which.
//
// A Canvas draws into a CanvasTarget, the back end's drawing context, whose user space is in
// device-independent pixels (DIPs, 1/96 inch): the window's or an OffscreenSurface's. All
// coordinates given to the primitives are integers in DIPs.
// Colours are 0xAARRGGBB with straight (not premultiplied) alpha.
//
// Everything here is used on one thread (the user-interface thread in the program). The primitives
// may only be called between beginFrame and endFrame; outside a frame they do nothing.
//
// What is kept between frames, so that a frame that repeats the last one does no conversion,
// scaling or text layout and no heap allocation of its own:
//   - each image asset converted once to the back end's own bitmap form;
//   - images and masks pre-scaled to the device size they were last drawn at, blitted on whole
//     device pixels; the parts of a sprite picture are cut from its pre-scaled copy, so they stay
//     in register with a picture drawn at the same place and scale;
//   - one text layout (Pango, DirectWrite) per distinct text call (text, font, box size,
//     alignment, wrapping).

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "ui/assets.hpp"

namespace halvard {

struct PlatformState;
struct LayoutKeyView;  // ui/text_layout_cache.hpp

// The back end's drawing context for one frame, of the window or of an OffscreenSurface (Cairo: a
// cairo_t; Direct2D: a render target). Defined by the back end, in its own header
// (ui/cairo/canvas_target.hpp, ui/d2d/canvas_target.hpp).
struct CanvasTarget;

// The panel's palette.
inline constexpr uint32_t kColorWindow = 0xff080808;
inline constexpr uint32_t kColorBand = 0xff08080a;
inline constexpr uint32_t kColorPanel = 0xff141416;
inline constexpr uint32_t kColorWell = 0xff202022;
inline constexpr uint32_t kColorTrackOff = 0xff303032;
inline constexpr uint32_t kColorIconIdle = 0xff505050;
inline constexpr uint32_t kColorTextDim = 0xff8c8c8e;
inline constexpr uint32_t kColorTextLight = 0xffbebebe;
inline constexpr uint32_t kColorAccent = 0xffddcfbc;
inline constexpr uint32_t kColorBright = 0xfff0f0f0;
inline constexpr uint32_t kColorRowOdd = 0xff101012;
inline constexpr uint32_t kColorRowEven = 0xff1c1c1e;
inline constexpr uint32_t kColorRule = 0x40000000;
inline constexpr uint32_t kColorPoweredBy = 0x96000000;
inline constexpr uint32_t kColorStatusText = 0xdc000000;
inline constexpr uint32_t kColorDim = 0xa0000000;

// Text formats: index 0, 1, 2 at 10, 11 and 13 DIPs, semi-bold.
inline constexpr int kTextFormatCount = 3;
inline constexpr float kTextFormatSizes[kTextFormatCount] = {10.0f, 11.0f, 13.0f};
inline constexpr const char* kTextFamilies = "Segoe UI Semibold,Open Sans SemiBold,Noto Sans SemiBold";
inline constexpr int kTextWeight = 600;

// Text alignment codes of drawText.
inline constexpr int kAlignLeading = 0;   // hAlign; any value other than 0 and 1 is trailing
inline constexpr int kAlignCentre = 1;    // hAlign
inline constexpr int kAlignTrailing = 2;  // hAlign
inline constexpr int kAlignMiddle = 0;    // vAlign; any value other than 0 and 1 is bottom
inline constexpr int kAlignTop = 1;       // vAlign
inline constexpr int kAlignBottom = 2;    // vAlign

class Canvas {
public:
    Canvas();
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // Opens a frame on target (user space in DIPs) whose drawing surface is dipWidth x dipHeight
    // DIPs. The transform starts as the target's user space; nothing is cleared (the panel's first
    // fill covers it).
    void beginFrame(CanvasTarget& target, int dipWidth, int dipHeight);
    // Closes the frame (Cairo: restores the context's saved state; Direct2D: ends drawing, and marks
    // the target when its device was lost); drops cached resources that have gone unused.
    void endFrame();
    bool inFrame() const;
    int surfaceWidth() const;   // DIPs, of the open or last frame
    int surfaceHeight() const;  // DIPs

    // A filled rectangle; radius >= 1 rounds the corners (antialiased), radius 0 gives crisp
    // square edges on the pixel grid. An empty or negative size draws nothing.
    void fillRect(int x, int y, int w, int h, int radius, uint32_t color);
    // A uniform scale about the origin for the primitives that follow; 1 restores the frame's
    // own transform exactly.
    void setScale(float s);
    // An "RI" asset stretched into the rectangle. Anything else (a mask, null) draws nothing.
    void drawImage(int x, int y, int w, int h, const ImageAsset* image);
    // The part (sx, sy, sw, sh) of an "RI" asset, in asset pixels, stretched into (dx, dy, dw, dh).
    void drawImagePart(int sx, int sy, int sw, int sh, int dx, int dy, int dw, int dh,
                       const ImageAsset* image);
    // The colour painted through an "RM" asset stretched into the rectangle. Anything else draws nothing.
    void fillMask(int x, int y, int w, int h, const ImageAsset* mask, uint32_t color);
    // UTF-8 text laid out in the box (x, y - 1, w, h + 1): the box is raised by one DIP at its top.
    //   font: text format 0..2 (others draw nothing); hAlign: 0 leading, 1 centred, else trailing;
    //   vAlign: 0 centred, 1 top, else bottom.
    //   singleLine: no wrapping, a text too wide ends in an ellipsis. Otherwise the text wraps at
    //   word boundaries; it is cut to the box height with an ellipsis only once a single-line call
    //   has used the same format (the formats are shared, and trimming is the one setting a
    //   multi-line call inherits from earlier calls).
    void drawText(int x, int y, int w, int h, uint32_t color, int font, int hAlign, int vAlign,
                  std::string_view text, bool singleLine);

    // Forgets every cached resource and the formats' trimming, as if the canvas were new.
    void releaseResources();

private:
    // The back end's part of the primitives, called only inside a frame with a valid asset or text:
    // the part (sx, sy, sw, sh) of an asset whose whole picture would cover (ux, uy, uw, uh) in user
    // space, as a colour image or (asMask) as a mask painted with the colour; and a text laid out
    // as the key says in the box (x, y - 1, w, h + 1).
    void drawAsset(const ImageAsset& asset, double ux, double uy, double uw, double uh, int sx, int sy,
                   int sw, int sh, bool asMask, uint32_t colour);
    void drawLayout(int x, int y, int h, uint32_t color, int vAlign, const LayoutKeyView& key);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::array<bool, kTextFormatCount> trimming_{};  // set by the first single-line call per format
};

// One frame of the window: opens the canvas on target, stores the surface size in the platform
// state, raises Paint through its handler with platform.canvas set, and closes the frame.
void paintWindow(PlatformState& platform, Canvas& canvas, CanvasTarget& target, int dipWidth, int dipHeight);

// An image surface to draw on without a window (tests, benchmarks, screenshots): dipWidth x
// dipHeight DIPs at `scale` device pixels per DIP, cleared to transparent.
class OffscreenSurface {
public:
    OffscreenSurface(int dipWidth, int dipHeight, double scale = 1.0);
    ~OffscreenSurface();
    OffscreenSurface(const OffscreenSurface&) = delete;
    OffscreenSurface& operator=(const OffscreenSurface&) = delete;

    CanvasTarget& target();  // user space in DIPs
    int dipWidth() const { return dipWidth_; }
    int dipHeight() const { return dipHeight_; }
    int pixelWidth() const;
    int pixelHeight() const;
    // Finishes any drawing still pending, so that what follows reads or times the whole frame.
    void flush();
    // The pixel at device coordinates (px, py) as premultiplied 0xAARRGGBB; 0 outside the surface.
    uint32_t pixel(int px, int py) const;
    bool writePng(const char* path) const;

private:
    struct Impl;
    int dipWidth_;
    int dipHeight_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace halvard
