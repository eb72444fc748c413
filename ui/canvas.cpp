// The drawing layer on Cairo and Pango.
//   - colours and the device mapping (user DIPs to device pixels)
//   - assets: conversion to Cairo surfaces, pre-scaled copies, blits on whole device pixels
//   - text: the three formats, cached layouts
//   - Canvas primitives, paintWindow, OffscreenSurface
#include "ui/canvas.hpp"

#include <pango/pangocairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <unordered_map>
#include <vector>

#include "ui/platform_state.hpp"

namespace halvard {

namespace {

void setColour(cairo_t* cr, uint32_t c) {
    cairo_set_source_rgba(cr, ((c >> 16) & 0xff) / 255.0, ((c >> 8) & 0xff) / 255.0, (c & 0xff) / 255.0,
                          (c >> 24) / 255.0);
}

// How user space (DIPs under the current transform) maps to device pixels: device = user * s + o.
struct DeviceMap {
    double scaleX = 1, scaleY = 1;      // user to device, including the surface's device scale
    double offsetX = 0, offsetY = 0;
    double surfaceScaleX = 1, surfaceScaleY = 1;  // the target's device scale alone
    bool axisAligned = false;           // no rotation, skew or mirroring
};

DeviceMap deviceMap(cairo_t* cr) {
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    DeviceMap d;
    cairo_surface_get_device_scale(cairo_get_target(cr), &d.surfaceScaleX, &d.surfaceScaleY);
    d.scaleX = m.xx * d.surfaceScaleX;
    d.scaleY = m.yy * d.surfaceScaleY;
    d.offsetX = m.x0 * d.surfaceScaleX;
    d.offsetY = m.y0 * d.surfaceScaleY;
    d.axisAligned = m.xy == 0 && m.yx == 0 && m.xx > 0 && m.yy > 0;
    return d;
}

// An asset as a Cairo surface: "RI" to premultiplied native ARGB32, "RM" to A8. Null if the block
// is not a valid asset or the surface cannot be made.
cairo_surface_t* convertAsset(const ImageAsset& asset) {
    const bool colour = asset.isColourImage();
    if (!colour && !asset.isMask()) return nullptr;
    const int w = asset.width();
    const int h = asset.height();
    if (w == 0 || h == 0) return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(colour ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_A8, w, h);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    const uint8_t* src = asset.pixels();
    for (int y = 0; y < h; ++y) {
        unsigned char* row = data + static_cast<ptrdiff_t>(y) * stride;
        if (!colour) {
            std::copy_n(src, w, row);
            src += w;
            continue;
        }
        auto* out = reinterpret_cast<uint32_t*>(row);
        for (int x = 0; x < w; ++x, src += 4) {
            const uint32_t a = src[3];
            // A colour above its alpha is not a premultiplied pixel; clamp rather than let it glow.
            const uint32_t r = std::min<uint32_t>(src[0], a);
            const uint32_t g = std::min<uint32_t>(src[1], a);
            const uint32_t b = std::min<uint32_t>(src[2], a);
            out[x] = a << 24 | r << 16 | g << 8 | b;
        }
    }
    cairo_surface_mark_dirty(s);
    return s;
}

// A text layout is reused while its text, format, box and settings stay the same. The box height
// matters only for a multi-line text cut to the box; it is 0 in every other key.
struct LayoutKeyView {
    std::string_view text;
    int font, width, height, hAlign;
    bool singleLine, trimmed;
};

struct LayoutKey {
    std::string text;
    int font, width, height, hAlign;
    bool singleLine, trimmed;
    LayoutKeyView view() const { return {text, font, width, height, hAlign, singleLine, trimmed}; }
};

struct LayoutHash {
    using is_transparent = void;
    size_t operator()(const LayoutKeyView& k) const {
        size_t h = std::hash<std::string_view>{}(k.text);
        for (int v : {k.font, k.width, k.height, k.hAlign, int(k.singleLine), int(k.trimmed)}) {
            h ^= static_cast<size_t>(v) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        }
        return h;
    }
    size_t operator()(const LayoutKey& k) const { return (*this)(k.view()); }
};

struct LayoutEq {
    using is_transparent = void;
    static bool same(const LayoutKeyView& a, const LayoutKeyView& b) {
        return a.text == b.text && a.font == b.font && a.width == b.width && a.height == b.height &&
               a.hAlign == b.hAlign && a.singleLine == b.singleLine && a.trimmed == b.trimmed;
    }
    bool operator()(const LayoutKey& a, const LayoutKey& b) const { return same(a.view(), b.view()); }
    bool operator()(const LayoutKeyView& a, const LayoutKey& b) const { return same(a, b.view()); }
    bool operator()(const LayoutKey& a, const LayoutKeyView& b) const { return same(a.view(), b); }
};

struct LayoutEntry {
    PangoLayout* layout = nullptr;
    double height = 0;  // logical height in DIPs
    uint64_t lastUsed = 0;
};

constexpr uint64_t kLayoutIdleFrames = 600;    // a layout unused this long is dropped
constexpr size_t kLayoutCacheLimit = 4096;     // above this, everything unused this frame goes
constexpr int kScaledCopiesPerAsset = 2;       // e.g. the size before and after a resize
constexpr int kMaxDeviceSide = 16384;          // larger pre-scaled copies are not made

}  // namespace

struct Canvas::Impl {
    cairo_t* cr = nullptr;
    cairo_matrix_t frameMatrix{};
    int width = 0;
    int height = 0;
    uint64_t frame = 0;

    struct Converted {
        const uint8_t* asset;
        cairo_surface_t* surface;
    };
    struct Scaled {
        const uint8_t* asset;
        int width, height;
        cairo_surface_t* surface;
        uint64_t lastUsed;
    };
    std::vector<Converted> converted;
    std::vector<Scaled> scaled;

    PangoContext* pango = nullptr;
    std::array<PangoFontDescription*, kTextFormatCount> fonts{};
    std::array<bool, kTextFormatCount> trimming{};  // set by the first single-line call per format
    std::unordered_map<LayoutKey, LayoutEntry, LayoutHash, LayoutEq> layouts;

    Impl() {
        converted.reserve(32);
        scaled.reserve(64);
        layouts.reserve(256);
    }
    ~Impl() { release(); }

    void release() {
        for (auto& c : converted) cairo_surface_destroy(c.surface);
        converted.clear();
        for (auto& s : scaled) cairo_surface_destroy(s.surface);
        scaled.clear();
        for (auto& [key, entry] : layouts) g_object_unref(entry.layout);
        layouts.clear();
        for (auto*& f : fonts) {
            if (f) pango_font_description_free(f);
            f = nullptr;
        }
        if (pango) g_object_unref(pango);
        pango = nullptr;
        trimming.fill(false);
    }

    // ---- assets

    cairo_surface_t* surfaceOf(const ImageAsset& asset) {
        for (const auto& c : converted) {
            if (c.asset == asset.bytes) return c.surface;
        }
        cairo_surface_t* s = convertAsset(asset);
        if (s) converted.push_back({asset.bytes, s});
        return s;
    }

    // The asset scaled to w x h device pixels (the converted surface itself at its own size).
    cairo_surface_t* scaledOf(const ImageAsset& asset, int w, int h) {
        cairo_surface_t* source = surfaceOf(asset);
        if (!source) return nullptr;
        if (w == asset.width() && h == asset.height()) return source;
        int copies = 0;
        Scaled* oldest = nullptr;
        for (auto& s : scaled) {
            if (s.asset != asset.bytes) continue;
            if (s.width == w && s.height == h) {
                s.lastUsed = frame;
                return s.surface;
            }
            ++copies;
            if (!oldest || s.lastUsed < oldest->lastUsed) oldest = &s;
        }
        cairo_surface_t* copy = cairo_surface_create_similar_image(source, cairo_image_surface_get_format(source), w, h);
        if (cairo_surface_status(copy) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(copy);
            return nullptr;
        }
        cairo_t* c = cairo_create(copy);
        cairo_scale(c, static_cast<double>(w) / asset.width(), static_cast<double>(h) / asset.height());
        cairo_set_source_surface(c, source, 0, 0);
        // Smooth filtering once, when the copy is made; PAD keeps the edges from fading.
        cairo_pattern_set_filter(cairo_get_source(c), CAIRO_FILTER_GOOD);
        cairo_pattern_set_extend(cairo_get_source(c), CAIRO_EXTEND_PAD);
        cairo_set_operator(c, CAIRO_OPERATOR_SOURCE);
        cairo_paint(c);
        cairo_destroy(c);
        if (copies >= kScaledCopiesPerAsset && oldest) {
            cairo_surface_destroy(oldest->surface);
            *oldest = {asset.bytes, w, h, copy, frame};
        } else {
            scaled.push_back({asset.bytes, w, h, copy, frame});
        }
        return copy;
    }

    // Draws the part (sx, sy, sw, sh) of an asset whose whole picture would cover (ux, uy, uw, uh)
    // in user space: as a colour image, or (withColour) as a mask painted with the colour.
    void drawAsset(const ImageAsset& asset, double ux, double uy, double uw, double uh, int sx, int sy, int sw,
                   int sh, bool asMask, uint32_t colour) {
        const int aw = asset.width();
        const int ah = asset.height();
        // The part, clamped to the picture.
        const int px0 = std::clamp(sx, 0, aw), py0 = std::clamp(sy, 0, ah);
        const int px1 = std::clamp(sx + std::max(sw, 0), 0, aw), py1 = std::clamp(sy + std::max(sh, 0), 0, ah);
        if (px1 <= px0 || py1 <= py0 || uw <= 0 || uh <= 0) return;

        const DeviceMap d = deviceMap(cr);
        const double fx = d.scaleX * uw / aw;  // device pixels per asset pixel
        const double fy = d.scaleY * uh / ah;
        const double devW = std::round(aw * fx);
        const double devH = std::round(ah * fy);
        if (!d.axisAligned || devW > kMaxDeviceSide || devH > kMaxDeviceSide) {
            drawAssetDirect(asset, ux, uy, uw, uh, px0, py0, px1, py1, asMask, colour);
            return;
        }
        if (devW < 1 || devH < 1) return;
        cairo_surface_t* s = scaledOf(asset, static_cast<int>(devW), static_cast<int>(devH));
        if (!s) return;
        // Whole device pixels: the picture's origin, and the part's edges on the same grid.
        const double ox = std::round(d.scaleX * ux + d.offsetX);
        const double oy = std::round(d.scaleY * uy + d.offsetY);
        const double rx = devW / aw, ry = devH / ah;
        const double cx0 = ox + std::round(px0 * rx), cx1 = ox + std::round(px1 * rx);
        const double cy0 = oy + std::round(py0 * ry), cy1 = oy + std::round(py1 * ry);
        if (cx1 <= cx0 || cy1 <= cy0) return;

        cairo_save(cr);
        cairo_identity_matrix(cr);
        cairo_scale(cr, 1.0 / d.surfaceScaleX, 1.0 / d.surfaceScaleY);  // user units = device pixels
        cairo_rectangle(cr, cx0, cy0, cx1 - cx0, cy1 - cy0);
        cairo_clip(cr);
        if (asMask) {
            setColour(cr, colour);
            cairo_mask_surface(cr, s, ox, oy);
        } else {
            cairo_set_source_surface(cr, s, ox, oy);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
            cairo_paint(cr);
        }
        cairo_restore(cr);
    }

    // Rotated or enormous targets: scale on the fly with bilinear filtering.
    void drawAssetDirect(const ImageAsset& asset, double ux, double uy, double uw, double uh, int px0, int py0,
                         int px1, int py1, bool asMask, uint32_t colour) {
        cairo_surface_t* s = surfaceOf(asset);
        if (!s) return;
        cairo_save(cr);
        cairo_translate(cr, ux, uy);
        cairo_scale(cr, uw / asset.width(), uh / asset.height());
        cairo_rectangle(cr, px0, py0, px1 - px0, py1 - py0);
        cairo_clip(cr);
        cairo_pattern_t* pattern = cairo_pattern_create_for_surface(s);
        cairo_pattern_set_filter(pattern, CAIRO_FILTER_BILINEAR);
        cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
        if (asMask) {
            setColour(cr, colour);
            cairo_mask(cr, pattern);
        } else {
            cairo_set_source(cr, pattern);
            cairo_paint(cr);
        }
        cairo_pattern_destroy(pattern);
        cairo_restore(cr);
    }

    // ---- text

    void ensureFonts() {
        if (pango) return;
        pango = pango_font_map_create_context(pango_cairo_font_map_get_default());
        // Unhinted metrics keep a layout valid at every scale, so it can be cached; glyph outlines
        // are still rendered at the device resolution.
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
        pango_cairo_context_set_font_options(pango, options);
        cairo_font_options_destroy(options);
        pango_context_set_round_glyph_positions(pango, FALSE);
        for (int i = 0; i < kTextFormatCount; ++i) {
            PangoFontDescription* f = pango_font_description_new();
            pango_font_description_set_family(f, kTextFamilies);
            pango_font_description_set_weight(f, static_cast<PangoWeight>(kTextWeight));
            pango_font_description_set_style(f, PANGO_STYLE_NORMAL);
            pango_font_description_set_stretch(f, PANGO_STRETCH_NORMAL);
            pango_font_description_set_absolute_size(f, kTextFormatSizes[i] * PANGO_SCALE);
            fonts[static_cast<size_t>(i)] = f;
        }
    }

    const LayoutEntry& layoutFor(const LayoutKeyView& key, double boxHeight) {
        auto it = layouts.find(key);
        if (it != layouts.end()) {
            it->second.lastUsed = frame;
            return it->second;
        }
        PangoLayout* layout = pango_layout_new(pango);
        pango_layout_set_font_description(layout, fonts[static_cast<size_t>(key.font)]);
        if (g_utf8_validate(key.text.data(), static_cast<gssize>(key.text.size()), nullptr)) {
            pango_layout_set_text(layout, key.text.data(), static_cast<int>(key.text.size()));
        } else {
            gchar* valid = g_utf8_make_valid(key.text.data(), static_cast<gssize>(key.text.size()));
            pango_layout_set_text(layout, valid, -1);
            g_free(valid);
        }
        pango_layout_set_width(layout, key.width * PANGO_SCALE);
        pango_layout_set_alignment(layout, key.hAlign == kAlignLeading  ? PANGO_ALIGN_LEFT
                                           : key.hAlign == kAlignCentre ? PANGO_ALIGN_CENTER
                                                                        : PANGO_ALIGN_RIGHT);
        if (key.singleLine) {
            // One line per paragraph, cut at a character with an ellipsis.
            pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
        } else {
            pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
            if (key.trimmed) {
                pango_layout_set_height(layout, static_cast<int>(boxHeight * PANGO_SCALE));
                pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
            }
        }
        PangoRectangle logical;
        pango_layout_get_extents(layout, nullptr, &logical);
        LayoutEntry entry{layout, static_cast<double>(logical.height) / PANGO_SCALE, frame};
        return layouts.emplace(LayoutKey{std::string(key.text), key.font, key.width, key.height, key.hAlign,
                                         key.singleLine, key.trimmed},
                               entry)
            .first->second;
    }

    void sweepLayouts() {
        const bool full = layouts.size() > kLayoutCacheLimit;
        if (!full && frame % 64 != 0) return;
        for (auto it = layouts.begin(); it != layouts.end();) {
            const bool stale = full ? it->second.lastUsed != frame : it->second.lastUsed + kLayoutIdleFrames < frame;
            if (stale) {
                g_object_unref(it->second.layout);
                it = layouts.erase(it);
            } else {
                ++it;
            }
        }
    }
};

Canvas::Canvas() : impl_(std::make_unique<Impl>()) {}
Canvas::~Canvas() = default;

void Canvas::beginFrame(cairo_t* cr, int dipWidth, int dipHeight) {
    if (impl_->cr) endFrame();
    if (!cr) return;
    Impl& s = *impl_;
    s.cr = cr;
    s.width = dipWidth;
    s.height = dipHeight;
    ++s.frame;
    s.ensureFonts();
    cairo_save(cr);
    cairo_get_matrix(cr, &s.frameMatrix);
}

void Canvas::endFrame() {
    Impl& s = *impl_;
    if (!s.cr) return;
    cairo_restore(s.cr);
    s.cr = nullptr;
    s.sweepLayouts();
}

bool Canvas::inFrame() const { return impl_->cr != nullptr; }
int Canvas::surfaceWidth() const { return impl_->width; }
int Canvas::surfaceHeight() const { return impl_->height; }

void Canvas::fillRect(int x, int y, int w, int h, int radius, uint32_t color) {
    cairo_t* cr = impl_->cr;
    if (!cr || w <= 0 || h <= 0) return;
    setColour(cr, color);
    if (radius >= 1) {
        // Corner radii larger than half a side are clamped, as a rounded-rectangle fill does.
        const double r = std::min({static_cast<double>(radius), w / 2.0, h / 2.0});
        const double left = x, top = y, right = x + w, bottom = y + h;
        constexpr double pi = std::numbers::pi;
        cairo_new_sub_path(cr);
        cairo_arc(cr, right - r, top + r, r, -pi / 2, 0);
        cairo_arc(cr, right - r, bottom - r, r, 0, pi / 2);
        cairo_arc(cr, left + r, bottom - r, r, pi / 2, pi);
        cairo_arc(cr, left + r, top + r, r, pi, 3 * pi / 2);
        cairo_close_path(cr);
        cairo_fill(cr);
        return;
    }
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
}

void Canvas::setScale(float s) {
    cairo_t* cr = impl_->cr;
    if (!cr) return;
    cairo_set_matrix(cr, &impl_->frameMatrix);
    if (s != 1.0f) cairo_scale(cr, s, s);
}

void Canvas::drawImage(int x, int y, int w, int h, const ImageAsset* image) {
    if (!impl_->cr || !image || !image->isColourImage()) return;
    impl_->drawAsset(*image, x, y, w, h, 0, 0, image->width(), image->height(), false, 0);
}

void Canvas::drawImagePart(int sx, int sy, int sw, int sh, int dx, int dy, int dw, int dh, const ImageAsset* image) {
    if (!impl_->cr || !image || !image->isColourImage() || sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
    // The whole picture at the scale and place that put this part into (dx, dy, dw, dh).
    const double kx = static_cast<double>(dw) / sw;
    const double ky = static_cast<double>(dh) / sh;
    impl_->drawAsset(*image, dx - sx * kx, dy - sy * ky, image->width() * kx, image->height() * ky, sx, sy, sw, sh,
                     false, 0);
}

void Canvas::fillMask(int x, int y, int w, int h, const ImageAsset* mask, uint32_t color) {
    if (!impl_->cr || !mask || !mask->isMask()) return;
    impl_->drawAsset(*mask, x, y, w, h, 0, 0, mask->width(), mask->height(), true, color);
}

void Canvas::drawText(int x, int y, int w, int h, uint32_t color, int font, int hAlign, int vAlign,
                      std::string_view text, bool singleLine) {
    Impl& s = *impl_;
    if (!s.cr || font < 0 || font >= kTextFormatCount) return;
    const auto f = static_cast<size_t>(font);
    if (singleLine) s.trimming[f] = true;  // the shared format now carries the ellipsis trimming
    if (w <= 0 || text.empty()) return;
    const bool trimmed = !singleLine && s.trimming[f];
    const double boxTop = y - 1.0;
    const double boxHeight = h + 1.0;
    const LayoutKeyView key{text, font, w, trimmed ? h : 0, hAlign, singleLine, trimmed};
    const LayoutEntry& entry = s.layoutFor(key, boxHeight);
    const double top = vAlign == kAlignTop      ? boxTop
                       : vAlign == kAlignMiddle ? boxTop + (boxHeight - entry.height) / 2
                                                : boxTop + boxHeight - entry.height;
    setColour(s.cr, color);
    cairo_move_to(s.cr, x, top);
    pango_cairo_show_layout(s.cr, entry.layout);
}

void Canvas::releaseResources() {
    impl_->release();
    if (impl_->cr) impl_->ensureFonts();
}

void paintWindow(PlatformState& platform, Canvas& canvas, cairo_t* cr, int dipWidth, int dipHeight) {
    canvas.beginFrame(cr, dipWidth, dipHeight);
    platform.surfaceWidth = dipWidth;
    platform.surfaceHeight = dipHeight;
    platform.canvas = &canvas;
    platform.raise(PlatformEvent::Paint);
    platform.canvas = nullptr;
    canvas.endFrame();
}

OffscreenSurface::OffscreenSurface(int dipWidth, int dipHeight, double scale)
    : dipWidth_(dipWidth),
      dipHeight_(dipHeight),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(std::ceil(dipWidth * scale)),
                                          static_cast<int>(std::ceil(dipHeight * scale)))) {
    cairo_surface_set_device_scale(surface_, scale, scale);
    cr_ = cairo_create(surface_);
}

OffscreenSurface::~OffscreenSurface() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

int OffscreenSurface::pixelWidth() const { return cairo_image_surface_get_width(surface_); }
int OffscreenSurface::pixelHeight() const { return cairo_image_surface_get_height(surface_); }

uint32_t OffscreenSurface::pixel(int px, int py) const {
    if (px < 0 || py < 0 || px >= pixelWidth() || py >= pixelHeight()) return 0;
    cairo_surface_flush(surface_);
    const unsigned char* row =
        cairo_image_surface_get_data(surface_) + static_cast<ptrdiff_t>(py) * cairo_image_surface_get_stride(surface_);
    return reinterpret_cast<const uint32_t*>(row)[px];
}

bool OffscreenSurface::writePng(const char* path) const {
    cairo_surface_flush(surface_);
    return cairo_surface_write_to_png(surface_, path) == CAIRO_STATUS_SUCCESS;
}

}  // namespace halvard
