// The drawing layer's back end on Cairo and Pango (the Linux build).
//   - colours and the device mapping (user DIPs to device pixels)
//   - assets: conversion to Cairo surfaces, pre-scaled copies, blits on whole device pixels
//   - text: the three formats, cached layouts
//   - Canvas primitives, OffscreenSurface
#include "ui/canvas.hpp"

#include <pango/pangocairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <unordered_map>
#include <vector>

#include "ui/cairo/canvas_target.hpp"

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

// A region of an asset as a Cairo surface: "RI" to premultiplied native ARGB32, "RM" to A8. Null
// if the block is not a valid asset, the region is empty, or the surface cannot be made.
cairo_surface_t* convertRegion(const ImageAsset& asset, int x0, int y0, int w, int h) {
    const bool colour = asset.isColourImage();
    if (!colour && !asset.isMask()) return nullptr;
    if (x0 < 0 || y0 < 0 || w <= 0 || h <= 0 || x0 + w > asset.width() || y0 + h > asset.height()) return nullptr;
    cairo_surface_t* s = cairo_image_surface_create(colour ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_A8, w, h);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    const size_t bytesPerPixel = colour ? 4 : 1;
    for (int y = 0; y < h; ++y) {
        unsigned char* row = data + static_cast<ptrdiff_t>(y) * stride;
        const uint8_t* src =
            asset.pixels() + (static_cast<size_t>(y0 + y) * asset.width() + static_cast<size_t>(x0)) * bytesPerPixel;
        if (!colour) {
            std::copy_n(src, w, row);
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

// Bilinear down to a little over half size; below that a wider (slower) filter, as bilinear would
// skip source pixels.
cairo_filter_t scalingFilter(double rx, double ry) {
    return rx < 0.6 || ry < 0.6 ? CAIRO_FILTER_GOOD : CAIRO_FILTER_BILINEAR;
}

// Paints source (whose pixel (0, 0) is asset pixel (sx, sy)) into target, where target pixel (0, 0)
// is pixel (dx, dy) of the whole asset scaled by (rx, ry). PAD keeps the edges from fading.
void paintScaled(cairo_surface_t* target, cairo_surface_t* source, int sx, int sy, double dx, double dy, double rx,
                 double ry) {
    cairo_t* c = cairo_create(target);
    cairo_translate(c, -dx, -dy);
    cairo_scale(c, rx, ry);
    cairo_set_source_surface(c, source, sx, sy);
    cairo_pattern_set_filter(cairo_get_source(c), scalingFilter(rx, ry));
    cairo_pattern_set_extend(cairo_get_source(c), CAIRO_EXTEND_PAD);
    cairo_set_operator(c, CAIRO_OPERATOR_SOURCE);
    cairo_paint(c);
    cairo_destroy(c);
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
constexpr int kPartCopiesPerAsset = 16;        // the overlays cut from one sprite picture, at two sizes
constexpr int kDropConvertedPixels = 256 * 256;  // larger pictures are kept only as scaled copies
constexpr int kMaxDeviceSide = 16384;          // larger pre-scaled copies are not made

}  // namespace

struct Canvas::Impl {
    cairo_t* cr = nullptr;
    cairo_matrix_t frameMatrix{};
    int width = 0;
    int height = 0;
    uint64_t frame = 0;

    // An asset converted at its own size (kept: drawn unscaled, or a source for scaled copies).
    struct Converted {
        const uint8_t* asset;
        cairo_surface_t* surface;
    };
    // A scaled copy: the whole asset at width x height device pixels, or only the device pixels
    // [x0, x1) x [y0, y1) of that scaled whole (a part of a sprite picture).
    struct Scaled {
        const uint8_t* asset;
        int width, height;
        int x0, y0, x1, y1;
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
        cairo_surface_t* s = convertRegion(asset, 0, 0, asset.width(), asset.height());
        if (s) converted.push_back({asset.bytes, s});
        return s;
    }

    // Drops the asset's converted surface once scaled copies stand in for it: a picture is then
    // held once, at the size it is shown, not also at its own.
    void dropConverted(const ImageAsset& asset) {
        for (size_t i = 0; i < converted.size(); ++i) {
            if (converted[i].asset != asset.bytes) continue;
            cairo_surface_destroy(converted[i].surface);
            converted.erase(converted.begin() + static_cast<ptrdiff_t>(i));
            return;
        }
    }

    Scaled* findScaled(const ImageAsset& asset, int w, int h, int x0, int y0, int x1, int y1) {
        for (auto& s : scaled) {
            if (s.asset == asset.bytes && s.width == w && s.height == h && s.x0 == x0 && s.y0 == y0 && s.x1 == x1 &&
                s.y1 == y1) {
                s.lastUsed = frame;
                return &s;
            }
        }
        return nullptr;
    }

    // Keeps a new copy; beyond `limit` copies of the same kind (whole or part) of an asset, the
    // least recently used one goes.
    void keepScaled(const Scaled& copy, int limit) {
        const bool whole = copy.x0 == 0 && copy.y0 == 0 && copy.x1 == copy.width && copy.y1 == copy.height;
        int count = 0;
        Scaled* oldest = nullptr;
        for (auto& s : scaled) {
            const bool sWhole = s.x0 == 0 && s.y0 == 0 && s.x1 == s.width && s.y1 == s.height;
            if (s.asset != copy.asset || sWhole != whole) continue;
            ++count;
            if (!oldest || s.lastUsed < oldest->lastUsed) oldest = &s;
        }
        if (count >= limit && oldest) {
            cairo_surface_destroy(oldest->surface);
            *oldest = copy;
        } else {
            scaled.push_back(copy);
        }
    }

    // The whole asset scaled to w x h device pixels (its converted surface at its own size).
    cairo_surface_t* scaledWhole(const ImageAsset& asset, int w, int h) {
        if (w == asset.width() && h == asset.height()) return surfaceOf(asset);
        if (Scaled* s = findScaled(asset, w, h, 0, 0, w, h)) return s->surface;
        cairo_surface_t* source = surfaceOf(asset);
        if (!source) return nullptr;
        cairo_surface_t* copy = cairo_surface_create_similar_image(source, cairo_image_surface_get_format(source), w, h);
        if (cairo_surface_status(copy) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(copy);
            return nullptr;
        }
        paintScaled(copy, source, 0, 0, 0, 0, static_cast<double>(w) / asset.width(),
                    static_cast<double>(h) / asset.height());
        keepScaled({asset.bytes, w, h, 0, 0, w, h, copy, frame}, kScaledCopiesPerAsset);
        if (asset.width() * asset.height() >= kDropConvertedPixels) dropConverted(asset);
        return copy;
    }

    // Device pixels [x0, x1) x [y0, y1) of the asset scaled to w x h, made from the asset pixels
    // around them only: a small part of a large sprite picture costs a small conversion, and its
    // pixels are those of the scaled whole, so it stays in register with it.
    cairo_surface_t* scaledPart(const ImageAsset& asset, int w, int h, int x0, int y0, int x1, int y1) {
        if (Scaled* s = findScaled(asset, w, h, x0, y0, x1, y1)) return s->surface;
        const double rx = static_cast<double>(w) / asset.width();
        const double ry = static_cast<double>(h) / asset.height();
        // Source pixels the filter reaches from the part, with room to spare.
        const int margin = 4 + static_cast<int>(std::ceil(2.0 / std::min(rx, ry)));
        const int sx0 = std::max(0, static_cast<int>(std::floor(x0 / rx)) - margin);
        const int sy0 = std::max(0, static_cast<int>(std::floor(y0 / ry)) - margin);
        const int sx1 = std::min(asset.width(), static_cast<int>(std::ceil(x1 / rx)) + margin);
        const int sy1 = std::min(asset.height(), static_cast<int>(std::ceil(y1 / ry)) + margin);
        cairo_surface_t* source = convertRegion(asset, sx0, sy0, sx1 - sx0, sy1 - sy0);
        if (!source) return nullptr;
        cairo_surface_t* copy =
            cairo_surface_create_similar_image(source, cairo_image_surface_get_format(source), x1 - x0, y1 - y0);
        if (cairo_surface_status(copy) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(copy);
            cairo_surface_destroy(source);
            return nullptr;
        }
        paintScaled(copy, source, sx0, sy0, x0, y0, rx, ry);
        cairo_surface_destroy(source);
        keepScaled({asset.bytes, w, h, x0, y0, x1, y1, copy, frame}, kPartCopiesPerAsset);
        return copy;
    }

    // Draws the part (sx, sy, sw, sh) of an asset whose whole picture would cover (ux, uy, uw, uh)
    // in user space: as a colour image, or (asMask) as a mask painted with the colour.
    void drawAsset(const ImageAsset& asset, double ux, double uy, double uw, double uh, int sx, int sy, int sw,
                   int sh, bool asMask, uint32_t colour) {
        const int aw = asset.width();
        const int ah = asset.height();
        // The part, clamped to the picture.
        const int px0 = std::clamp(sx, 0, aw), py0 = std::clamp(sy, 0, ah);
        const int px1 = std::clamp(sx + std::max(sw, 0), 0, aw), py1 = std::clamp(sy + std::max(sh, 0), 0, ah);
        if (px1 <= px0 || py1 <= py0 || uw <= 0 || uh <= 0) return;

        const DeviceMap d = deviceMap(cr);
        const double devW = std::round(d.scaleX * uw);  // the whole picture in device pixels
        const double devH = std::round(d.scaleY * uh);
        if (!d.axisAligned || devW > kMaxDeviceSide || devH > kMaxDeviceSide) {
            drawAssetDirect(asset, ux, uy, uw, uh, px0, py0, px1, py1, asMask, colour);
            return;
        }
        if (devW < 1 || devH < 1) return;
        // Whole device pixels: the picture's origin, and the part's edges on the same grid.
        const double ox = std::round(d.scaleX * ux + d.offsetX);
        const double oy = std::round(d.scaleY * uy + d.offsetY);
        const double rx = devW / aw, ry = devH / ah;
        const int x0 = static_cast<int>(std::round(px0 * rx)), x1 = static_cast<int>(std::round(px1 * rx));
        const int y0 = static_cast<int>(std::round(py0 * ry)), y1 = static_cast<int>(std::round(py1 * ry));
        if (x1 <= x0 || y1 <= y0) return;

        const int w = static_cast<int>(devW), h = static_cast<int>(devH);
        const bool smallPart = static_cast<int64_t>(px1 - px0) * (py1 - py0) * 4 < static_cast<int64_t>(aw) * ah;
        cairo_surface_t* s = smallPart ? scaledPart(asset, w, h, x0, y0, x1, y1) : scaledWhole(asset, w, h);
        if (!s) return;
        const double sourceX = smallPart ? ox + x0 : ox;  // where the surface's pixel (0, 0) goes
        const double sourceY = smallPart ? oy + y0 : oy;

        cairo_save(cr);
        cairo_identity_matrix(cr);
        cairo_scale(cr, 1.0 / d.surfaceScaleX, 1.0 / d.surfaceScaleY);  // user units = device pixels
        cairo_rectangle(cr, ox + x0, oy + y0, x1 - x0, y1 - y0);
        if (asMask) {
            cairo_clip(cr);
            setColour(cr, colour);
            cairo_mask_surface(cr, s, sourceX, sourceY);
        } else {
            cairo_set_source_surface(cr, s, sourceX, sourceY);
            cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
            cairo_fill(cr);
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

void Canvas::beginFrame(CanvasTarget& target, int dipWidth, int dipHeight) {
    if (impl_->cr) endFrame();
    cairo_t* cr = target.cr;
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

struct OffscreenSurface::Impl {
    cairo_surface_t* surface;
    CanvasTarget target;
};

OffscreenSurface::OffscreenSurface(int dipWidth, int dipHeight, double scale)
    : dipWidth_(dipWidth), dipHeight_(dipHeight) {
    cairo_surface_t* surface = cairo_image_surface_create(
        CAIRO_FORMAT_ARGB32, static_cast<int>(std::ceil(dipWidth * scale)), static_cast<int>(std::ceil(dipHeight * scale)));
    cairo_surface_set_device_scale(surface, scale, scale);
    impl_.reset(new Impl{surface, CanvasTarget{cairo_create(surface)}});
}

OffscreenSurface::~OffscreenSurface() {
    cairo_destroy(impl_->target.cr);
    cairo_surface_destroy(impl_->surface);
}

CanvasTarget& OffscreenSurface::target() { return impl_->target; }
int OffscreenSurface::pixelWidth() const { return cairo_image_surface_get_width(impl_->surface); }
int OffscreenSurface::pixelHeight() const { return cairo_image_surface_get_height(impl_->surface); }
void OffscreenSurface::flush() { cairo_surface_flush(impl_->surface); }

uint32_t OffscreenSurface::pixel(int px, int py) const {
    if (px < 0 || py < 0 || px >= pixelWidth() || py >= pixelHeight()) return 0;
    cairo_surface_flush(impl_->surface);
    const unsigned char* row = cairo_image_surface_get_data(impl_->surface) +
                               static_cast<ptrdiff_t>(py) * cairo_image_surface_get_stride(impl_->surface);
    return reinterpret_cast<const uint32_t*>(row)[px];
}

bool OffscreenSurface::writePng(const char* path) const {
    cairo_surface_flush(impl_->surface);
    return cairo_surface_write_to_png(impl_->surface, path) == CAIRO_STATUS_SUCCESS;
}

}  // namespace halvard
