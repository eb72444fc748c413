// The drawing layer's back end on Direct2D and DirectWrite (the Windows build).
//   - factories, colours
//   - device resources: the brush and the asset bitmaps, pre-scaled on the CPU and blitted 1:1
//   - text: the three formats, cached layouts, the ellipsis
//   - Canvas primitives, OffscreenSurface (a WIC bitmap render target)
//
// Masks are tinted on the CPU into premultiplied bitmaps, one per colour they are drawn in, rather
// than filled through FillOpacityMask: Wine draws nothing for FillOpacityMask, and a bitmap blit
// looks the same everywhere.
#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ui/canvas.hpp"
#include "ui/d2d/canvas_target.hpp"
#include "ui/d2d/cpu_pixels.hpp"
#include "ui/text_layout_cache.hpp"

namespace halvard {

using Microsoft::WRL::ComPtr;

uint64_t nextCanvasTargetGeneration() {
    static std::atomic<uint64_t> next{1};
    return next++;
}

ID2D1Factory* direct2dFactory() {
    static ID2D1Factory* const factory = [] {
        ID2D1Factory* f = nullptr;
        const D2D1_FACTORY_OPTIONS options{D2D1_DEBUG_LEVEL_NONE};
        if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), &options,
                                     reinterpret_cast<void**>(&f)))) {
            f = nullptr;
        }
        return f;
    }();
    return factory;
}

IDWriteFactory* directWriteFactory() {
    static IDWriteFactory* const factory = [] {
        IDWriteFactory* f = nullptr;
        if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                       reinterpret_cast<IUnknown**>(&f)))) {
            f = nullptr;
        }
        return f;
    }();
    return factory;
}

namespace {

D2D1_COLOR_F colourOf(uint32_t c) {
    return {((c >> 16) & 0xff) / 255.0f, ((c >> 8) & 0xff) / 255.0f, (c & 0xff) / 255.0f, (c >> 24) / 255.0f};
}

const D2D1_MATRIX_3X2_F kIdentity{1, 0, 0, 1, 0, 0};

// UTF-8 to UTF-16 into out (reused); invalid sequences become U+FFFD.
void widen(std::string_view text, std::wstring& out) {
    out.clear();
    if (text.empty()) return;
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    out.resize(static_cast<size_t>(std::max(n, 0)));
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
}

// The text formats' family: the first of these the system has. DirectWrite draws nothing for a
// family it does not know (Wine offers no fallback), so the choice is made here, once.
constexpr const wchar_t* kFamilies[] = {L"Segoe UI Semibold", L"Segoe UI", L"Open Sans", L"Noto Sans",
                                        L"DejaVu Sans"};

const wchar_t* textFamily(IDWriteFactory* factory) {
    ComPtr<IDWriteFontCollection> fonts;
    if (FAILED(factory->GetSystemFontCollection(&fonts, FALSE))) return kFamilies[0];
    for (const wchar_t* family : kFamilies) {
        UINT32 index = 0;
        BOOL exists = FALSE;
        if (SUCCEEDED(fonts->FindFamilyName(family, &index, &exists)) && exists) return family;
    }
    return kFamilies[0];
}

struct LayoutEntry {
    ComPtr<IDWriteTextLayout> layout;    // the text, or the lines above the last visible one
    ComPtr<IDWriteTextLayout> lastLine;  // a multi-line text cut to its box: the last line, trimmed
    float lastLineTop = 0;               // below the layout's top
    float height = 0;                    // of what is drawn, in DIPs
    uint64_t lastUsed = 0;
};

constexpr int kScaledCopiesPerAsset = 2;  // e.g. the size before and after a resize
constexpr int kTintedCopiesPerMask = 12;  // a mask in each colour it is drawn in, at two sizes
constexpr int kPartCopiesPerAsset = 16;   // the overlays cut from one sprite picture, at two sizes
constexpr int kMaxDeviceSide = 8192;      // larger pre-scaled copies are not made
constexpr int kRoundedCopies = 128;       // rounded fills of distinct size, place or colour
constexpr double kSubpixel = 8;           // rounded fills are placed to an eighth of a device pixel

}  // namespace

struct Canvas::Impl {
    CanvasTarget* target = nullptr;  // during a frame
    ID2D1RenderTarget* rt = nullptr;
    int width = 0;
    int height = 0;
    uint64_t frame = 0;
    float deviceScale = 1;  // device pixels per DIP (the target's DPI / 96)
    float userScale = 1;    // setScale

    // Device resources, valid for the render target of one generation.
    uint64_t generation = 0;
    ComPtr<ID2D1SolidColorBrush> brush;
    // A copy of an asset scaled to width x height device pixels: the whole, or only the device pixels
    // [x0, x1) x [y0, y1) of the scaled whole (a part of a sprite picture); a mask tinted in colour.
    struct Scaled {
        const uint8_t* asset;
        int width, height;
        int x0, y0, x1, y1;
        uint32_t colour;
        ComPtr<ID2D1Bitmap> bitmap;
        uint64_t lastUsed;
        bool whole() const { return x0 == 0 && y0 == 0 && x1 == width && y1 == height; }
    };
    std::vector<Scaled> scaled;
    // A rounded fill: its coverage in a grid of columns x rows device pixels, at (qx, qy) and
    // qw x qh in size with corner radius qr (all in eighths of a device pixel), tinted in colour.
    struct Rounded {
        int columns, rows, qx, qy, qw, qh, qr;
        uint32_t colour;
        ComPtr<ID2D1Bitmap> bitmap;
        uint64_t lastUsed;
        bool same(const Rounded& o) const {
            return columns == o.columns && rows == o.rows && qx == o.qx && qy == o.qy && qw == o.qw &&
                   qh == o.qh && qr == o.qr && colour == o.colour;
        }
    };
    std::vector<Rounded> rounded;
    std::vector<uint8_t> pixels, tinted;  // conversion scratch

    // Text: device-independent, kept across render targets.
    const wchar_t* family = nullptr;
    std::array<ComPtr<IDWriteTextFormat>, kTextFormatCount> formats;
    std::array<ComPtr<IDWriteInlineObject>, kTextFormatCount> ellipses;
    LayoutMap<LayoutEntry> layouts;
    std::wstring wide;

    Impl() {
        scaled.reserve(64);
        rounded.reserve(kRoundedCopies);
        layouts.reserve(256);
    }

    void releaseDevice() {
        scaled.clear();
        rounded.clear();
        brush.Reset();
        generation = 0;
    }

    void release() {
        releaseDevice();
        layouts.clear();
        for (auto& f : formats) f.Reset();
        for (auto& e : ellipses) e.Reset();
    }

    // The brush for the current target, made after a change of target.
    bool ensureDevice(const CanvasTarget& t) {
        if (generation != t.generation) releaseDevice();
        if (!brush && FAILED(rt->CreateSolidColorBrush(D2D1_COLOR_F{0, 0, 0, 1}, &brush))) return false;
        generation = t.generation;
        return true;
    }

    bool ensureFonts() {
        if (formats[0]) return true;
        IDWriteFactory* dw = directWriteFactory();
        if (!dw) return false;
        if (!family) family = textFamily(dw);
        for (int i = 0; i < kTextFormatCount; ++i) {
            const auto k = static_cast<size_t>(i);
            if (FAILED(dw->CreateTextFormat(family, nullptr, static_cast<DWRITE_FONT_WEIGHT>(kTextWeight),
                                            DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                            kTextFormatSizes[i], L"", &formats[k])) ||
                FAILED(dw->CreateEllipsisTrimmingSign(formats[k].Get(), &ellipses[k]))) {
                for (auto& f : formats) f.Reset();
                return false;
            }
        }
        return true;
    }

    // ---- assets

    Scaled* findScaled(const ImageAsset& asset, int w, int h, int x0, int y0, int x1, int y1,
                       uint32_t colour) {
        for (auto& s : scaled) {
            if (s.asset == asset.bytes && s.width == w && s.height == h && s.x0 == x0 && s.y0 == y0 &&
                s.x1 == x1 && s.y1 == y1 && s.colour == colour) {
                s.lastUsed = frame;
                return &s;
            }
        }
        return nullptr;
    }

    // Keeps a new copy; beyond `limit` copies of the same kind (whole or part) of an asset, the
    // least recently used one goes.
    void keepScaled(Scaled copy, int limit) {
        int count = 0;
        Scaled* oldest = nullptr;
        for (auto& s : scaled) {
            if (s.asset != copy.asset || s.whole() != copy.whole()) continue;
            ++count;
            if (!oldest || s.lastUsed < oldest->lastUsed) oldest = &s;
        }
        if (count >= limit && oldest) {
            *oldest = std::move(copy);
        } else {
            scaled.push_back(std::move(copy));
        }
    }

    // Device pixels [x0, x1) x [y0, y1) of the asset scaled to w x h, as a bitmap (a mask tinted in
    // colour); null when it cannot be made.
    ID2D1Bitmap* bitmapOf(const ImageAsset& asset, int w, int h, int x0, int y0, int x1, int y1, bool asMask,
                          uint32_t colour) {
        if (!asMask) colour = 0;
        if (Scaled* s = findScaled(asset, w, h, x0, y0, x1, y1, colour)) return s->bitmap.Get();
        if (!scaleAssetRegion(asset, w, h, x0, y0, x1, y1, pixels)) return nullptr;
        if (asMask) tintCoverage(pixels, colour, tinted);
        ComPtr<ID2D1Bitmap> bitmap = makeBitmap(asMask ? tinted : pixels, x1 - x0, y1 - y0);
        if (!bitmap) return nullptr;
        ID2D1Bitmap* result = bitmap.Get();
        Scaled copy{asset.bytes, w, h, x0, y0, x1, y1, colour, std::move(bitmap), frame};
        const int limit = !copy.whole() ? kPartCopiesPerAsset
                          : asMask      ? kTintedCopiesPerMask
                                        : kScaledCopiesPerAsset;
        keepScaled(std::move(copy), limit);
        // The scratch of a large picture is not kept.
        if (pixels.capacity() > 1 << 20) std::vector<uint8_t>().swap(pixels);
        if (tinted.capacity() > 1 << 20) std::vector<uint8_t>().swap(tinted);
        return result;
    }

    // A bitmap of premultiplied B, G, R, A rows, w x h pixels at 96 DPI (so that its DIPs are pixels).
    ComPtr<ID2D1Bitmap> makeBitmap(const std::vector<uint8_t>& bgra, int w, int h) {
        const D2D1_BITMAP_PROPERTIES properties{
            {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED}, 96.0f, 96.0f};
        ComPtr<ID2D1Bitmap> bitmap;
        if (FAILED(rt->CreateBitmap(D2D1_SIZE_U{static_cast<UINT32>(w), static_cast<UINT32>(h)}, bgra.data(),
                                    static_cast<UINT32>(4 * w), properties, &bitmap))) {
            return nullptr;
        }
        return bitmap;
    }

    // A filled rectangle with round corners, its edges antialiased from the coverage of each pixel.
    void fillRounded(int x, int y, int w, int h, float radius, uint32_t colour) {
        const double s = static_cast<double>(userScale) * deviceScale;
        const double left = s * x, top = s * y;
        const int ix = static_cast<int>(std::floor(left)), iy = static_cast<int>(std::floor(top));
        Rounded key{0,
                    0,
                    static_cast<int>(std::lround((left - ix) * kSubpixel)),
                    static_cast<int>(std::lround((top - iy) * kSubpixel)),
                    static_cast<int>(std::lround(s * w * kSubpixel)),
                    static_cast<int>(std::lround(s * h * kSubpixel)),
                    static_cast<int>(std::lround(s * radius * kSubpixel)),
                    colour,
                    nullptr,
                    frame};
        key.columns = static_cast<int>(std::ceil((key.qx + key.qw) / kSubpixel));
        key.rows = static_cast<int>(std::ceil((key.qy + key.qh) / kSubpixel));
        if (key.columns > kMaxDeviceSide || key.rows > kMaxDeviceSide) {
            const D2D1_RECT_F rect{static_cast<float>(x), static_cast<float>(y), static_cast<float>(x + w),
                                   static_cast<float>(y + h)};
            rt->FillRoundedRectangle(D2D1_ROUNDED_RECT{rect, radius, radius}, brush.Get());
            return;
        }
        Rounded* found = nullptr;
        Rounded* oldest = nullptr;
        for (auto& r : rounded) {
            if (r.same(key)) found = &r;
            if (!oldest || r.lastUsed < oldest->lastUsed) oldest = &r;
        }
        if (!found) {
            roundedRectCoverage(key.columns, key.rows, key.qx / kSubpixel, key.qy / kSubpixel,
                                key.qw / kSubpixel, key.qh / kSubpixel, key.qr / kSubpixel, pixels);
            tintCoverage(pixels, colour, tinted);
            key.bitmap = makeBitmap(tinted, key.columns, key.rows);
            if (!key.bitmap) return;
            if (rounded.size() >= kRoundedCopies && oldest) {
                *oldest = std::move(key);
                found = oldest;
            } else {
                found = &rounded.emplace_back(std::move(key));
            }
        }
        found->lastUsed = frame;
        blit(found->bitmap.Get(), 0, 0, ix, iy, ix + found->columns, iy + found->rows);
    }

    // Device pixels (left, top, right, bottom) of `bitmap` from (sx, sy) onwards, 1:1.
    void blit(ID2D1Bitmap* bitmap, int sx, int sy, int left, int top, int right, int bottom) {
        const float k = 1.0f / deviceScale;  // the target's user space is in DIPs
        rt->SetTransform(kIdentity);
        rt->SetAntialiasMode(D2D1_ANTIALIAS_MODE_ALIASED);
        const D2D1_RECT_F destination{left * k, top * k, right * k, bottom * k};
        const D2D1_RECT_F source{static_cast<float>(sx), static_cast<float>(sy),
                                 static_cast<float>(sx + right - left),
                                 static_cast<float>(sy + bottom - top)};
        rt->DrawBitmap(bitmap, destination, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_NEAREST_NEIGHBOR, source);
        rt->SetAntialiasMode(D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
        applyScale();
    }

    void applyScale() {
        rt->SetTransform(userScale == 1.0f ? kIdentity : D2D1_MATRIX_3X2_F{userScale, 0, 0, userScale, 0, 0});
    }

    // Draws the part (sx, sy, sw, sh) of an asset whose whole picture would cover (ux, uy, uw, uh)
    // in user space: as a colour image, or (asMask) as a mask painted with the colour.
    void drawAsset(const ImageAsset& asset, double ux, double uy, double uw, double uh, int sx, int sy,
                   int sw, int sh, bool asMask, uint32_t colour) {
        const int aw = asset.width();
        const int ah = asset.height();
        const int px0 = std::clamp(sx, 0, aw), py0 = std::clamp(sy, 0, ah);
        const int px1 = std::clamp(sx + std::max(sw, 0), 0, aw),
                  py1 = std::clamp(sy + std::max(sh, 0), 0, ah);
        if (px1 <= px0 || py1 <= py0 || uw <= 0 || uh <= 0) return;

        const double s = static_cast<double>(userScale) * deviceScale;  // user units to device pixels
        const double devW = std::round(s * uw);                         // the whole picture in device pixels
        const double devH = std::round(s * uh);
        // Larger than a bitmap this device takes (4096 or less on some), or than is worth keeping.
        const double maxSide = std::min<double>(kMaxDeviceSide, rt->GetMaximumBitmapSize());
        if (devW > maxSide || devH > maxSide) {
            drawAssetDirect(asset, ux, uy, uw, uh, px0, py0, px1, py1, asMask, colour);
            return;
        }
        if (devW < 1 || devH < 1) return;
        // Whole device pixels: the picture's origin, and the part's edges on the same grid.
        const int ox = static_cast<int>(std::round(s * ux));
        const int oy = static_cast<int>(std::round(s * uy));
        const double rx = devW / aw, ry = devH / ah;
        const int x0 = static_cast<int>(std::round(px0 * rx)), x1 = static_cast<int>(std::round(px1 * rx));
        const int y0 = static_cast<int>(std::round(py0 * ry)), y1 = static_cast<int>(std::round(py1 * ry));
        if (x1 <= x0 || y1 <= y0) return;

        const int w = static_cast<int>(devW), h = static_cast<int>(devH);
        const bool smallPart =
            static_cast<int64_t>(px1 - px0) * (py1 - py0) * 4 < static_cast<int64_t>(aw) * ah;
        ID2D1Bitmap* bitmap = smallPart ? bitmapOf(asset, w, h, x0, y0, x1, y1, asMask, colour)
                                        : bitmapOf(asset, w, h, 0, 0, w, h, asMask, colour);
        if (!bitmap) return;
        blit(bitmap, smallPart ? 0 : x0, smallPart ? 0 : y0, ox + x0, oy + y0, ox + x1, oy + y1);
    }

    // Enormous targets: the asset at its own size, scaled on the fly.
    void drawAssetDirect(const ImageAsset& asset, double ux, double uy, double uw, double uh, int px0,
                         int py0, int px1, int py1, bool asMask, uint32_t colour) {
        const int aw = asset.width(), ah = asset.height();
        ID2D1Bitmap* bitmap = bitmapOf(asset, aw, ah, 0, 0, aw, ah, asMask, colour);
        if (!bitmap) return;
        const double kx = uw / aw, ky = uh / ah;
        const D2D1_RECT_F destination{static_cast<float>(ux + px0 * kx), static_cast<float>(uy + py0 * ky),
                                      static_cast<float>(ux + px1 * kx), static_cast<float>(uy + py1 * ky)};
        const D2D1_RECT_F source{static_cast<float>(px0), static_cast<float>(py0), static_cast<float>(px1),
                                 static_cast<float>(py1)};
        rt->DrawBitmap(bitmap, destination, 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, source);
    }

    // ---- text

    ComPtr<IDWriteTextLayout> makeLayout(const wchar_t* text, size_t length, int font, int boxWidth,
                                         int hAlign, bool wrap, bool ellipsis) {
        ComPtr<IDWriteTextLayout> layout;
        const auto f = static_cast<size_t>(font);
        if (FAILED(directWriteFactory()->CreateTextLayout(text, static_cast<UINT32>(length), formats[f].Get(),
                                                          static_cast<float>(boxWidth), 1e6f, &layout))) {
            return nullptr;
        }
        layout->SetTextAlignment(hAlign == kAlignLeading  ? DWRITE_TEXT_ALIGNMENT_LEADING
                                 : hAlign == kAlignCentre ? DWRITE_TEXT_ALIGNMENT_CENTER
                                                          : DWRITE_TEXT_ALIGNMENT_TRAILING);
        layout->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
        layout->SetWordWrapping(wrap ? DWRITE_WORD_WRAPPING_WRAP : DWRITE_WORD_WRAPPING_NO_WRAP);
        if (ellipsis) {
            const DWRITE_TRIMMING trimming{DWRITE_TRIMMING_GRANULARITY_CHARACTER, 0, 0};
            layout->SetTrimming(&trimming, ellipses[f].Get());
        }
        return layout;
    }

    static float heightOf(IDWriteTextLayout* layout) {
        DWRITE_TEXT_METRICS m{};
        return layout && SUCCEEDED(layout->GetMetrics(&m)) ? m.height : 0.0f;
    }

    // A multi-line text cut to the box: the lines that fit whole, the last of them ending in an
    // ellipsis. (DirectWrite on Windows trims lines past the box itself, Wine's does not; laying
    // out the last line apart gives the same result on both.)
    void cutToBox(LayoutEntry& entry, const LayoutKeyView& key, double boxHeight) {
        UINT32 count = 0;
        entry.layout->GetLineMetrics(nullptr, 0, &count);
        std::vector<DWRITE_LINE_METRICS> lines(count);
        if (count < 2 || FAILED(entry.layout->GetLineMetrics(lines.data(), count, &count))) return;
        UINT32 visible = 0, start = 0;  // lines that fit; where the last of them starts
        float top = 0, bottom = 0;
        for (UINT32 i = 0; i < count; ++i) {
            if (i > 0 && bottom + lines[i].height > boxHeight) break;
            top = bottom;
            bottom += lines[i].height;
            start += i > 0 ? lines[i - 1].length : 0;
            ++visible;
        }
        if (visible == count) return;
        entry.lastLine = makeLayout(wide.data() + start, wide.size() - start, key.font, key.width, key.hAlign,
                                    false, true);
        entry.layout = start > 0
                           ? makeLayout(wide.data(), start, key.font, key.width, key.hAlign, true, false)
                           : nullptr;
        entry.lastLineTop = top;
        entry.height = bottom;
    }

    const LayoutEntry* layoutFor(const LayoutKeyView& key, double boxHeight) {
        auto it = layouts.find(key);
        if (it != layouts.end()) {
            it->second.lastUsed = frame;
            return &it->second;
        }
        widen(key.text, wide);
        LayoutEntry entry;
        entry.layout = makeLayout(wide.data(), wide.size(), key.font, key.width, key.hAlign, !key.singleLine,
                                  key.singleLine);
        if (!entry.layout) return nullptr;
        entry.height = heightOf(entry.layout.Get());
        if (key.trimmed && entry.height > boxHeight) cutToBox(entry, key, boxHeight);
        entry.lastUsed = frame;
        return &layouts.emplace(LayoutKey(key), std::move(entry)).first->second;
    }
};

Canvas::Canvas() : impl_(std::make_unique<Impl>()) {}
Canvas::~Canvas() = default;

void Canvas::beginFrame(CanvasTarget& target, int dipWidth, int dipHeight) {
    if (impl_->rt) endFrame();
    Impl& s = *impl_;
    if (!target.renderTarget) return;
    s.rt = target.renderTarget;
    s.target = &target;
    if (!s.ensureDevice(target)) {
        // No brush on this target: the host makes a new one, with a new device, at its next paint.
        target.deviceLost = true;
        s.rt = nullptr;
        s.target = nullptr;
        return;
    }
    s.width = dipWidth;
    s.height = dipHeight;
    ++s.frame;
    float dpiX = 96, dpiY = 96;
    s.rt->GetDpi(&dpiX, &dpiY);
    s.deviceScale = dpiX / 96.0f;
    s.userScale = 1;
    s.rt->BeginDraw();
    s.rt->SetTransform(kIdentity);
    s.rt->SetAntialiasMode(D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
    s.rt->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
}

void Canvas::endFrame() {
    Impl& s = *impl_;
    if (!s.rt) return;
    const HRESULT result = s.rt->EndDraw();
    if (result == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) {
        s.releaseDevice();
        s.target->deviceLost = true;
    }
    s.rt = nullptr;
    s.target = nullptr;
    sweepLayouts(s.layouts, s.frame, [](LayoutEntry&) {});
}

bool Canvas::inFrame() const {
    return impl_->rt != nullptr;
}
int Canvas::surfaceWidth() const {
    return impl_->width;
}
int Canvas::surfaceHeight() const {
    return impl_->height;
}

void Canvas::fillRect(int x, int y, int w, int h, int radius, uint32_t color) {
    Impl& s = *impl_;
    if (!s.rt || w <= 0 || h <= 0) return;
    s.brush->SetColor(colourOf(color));
    const D2D1_RECT_F rect{static_cast<float>(x), static_cast<float>(y), static_cast<float>(x + w),
                           static_cast<float>(y + h)};
    if (radius >= 1) {
        s.fillRounded(x, y, w, h, std::min({static_cast<float>(radius), w / 2.0f, h / 2.0f}), color);
        return;
    }
    s.rt->SetAntialiasMode(D2D1_ANTIALIAS_MODE_ALIASED);
    s.rt->FillRectangle(rect, s.brush.Get());
    s.rt->SetAntialiasMode(D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
}

void Canvas::setScale(float s) {
    if (!impl_->rt) return;
    impl_->userScale = s;
    impl_->applyScale();
}

void Canvas::drawAsset(const ImageAsset& asset, double ux, double uy, double uw, double uh, int sx, int sy,
                       int sw, int sh, bool asMask, uint32_t colour) {
    impl_->drawAsset(asset, ux, uy, uw, uh, sx, sy, sw, sh, asMask, colour);
}

void Canvas::drawLayout(int x, int y, int h, uint32_t color, int vAlign, const LayoutKeyView& key) {
    Impl& s = *impl_;
    if (!s.ensureFonts()) return;
    const double boxTop = y - 1.0;
    const double boxHeight = h + 1.0;
    const LayoutEntry* entry = s.layoutFor(key, boxHeight);
    if (!entry) return;
    const double top = layoutTop(vAlign, boxTop, boxHeight, entry->height);
    s.brush->SetColor(colourOf(color));
    const auto left = static_cast<float>(x);
    if (entry->layout)
        s.rt->DrawTextLayout({left, static_cast<float>(top)}, entry->layout.Get(), s.brush.Get());
    if (entry->lastLine) {
        s.rt->DrawTextLayout({left, static_cast<float>(top + entry->lastLineTop)}, entry->lastLine.Get(),
                             s.brush.Get());
    }
}

void Canvas::releaseResources() {
    Impl& s = *impl_;
    s.release();
    trimming_.fill(false);
    // Inside a frame the device resources are made again at once; without them the frame's
    // remaining drawing does nothing, and the host makes a new target.
    if (s.rt && !s.ensureDevice(*s.target)) {
        s.target->deviceLost = true;
        s.rt = nullptr;
        s.target = nullptr;
    }
}

// ---- OffscreenSurface

struct OffscreenSurface::Impl {
    bool comEntered = false;
    ComPtr<IWICImagingFactory> wic;
    ComPtr<IWICBitmap> bitmap;
    ComPtr<ID2D1RenderTarget> renderTarget;
    CanvasTarget target;
    int pixelWidth = 0;
    int pixelHeight = 0;
    // The pixels as last read back; stale once the target has been handed out for drawing.
    mutable std::vector<uint32_t> copy;
    mutable bool copyStale = true;

    ~Impl() {
        renderTarget.Reset();
        bitmap.Reset();
        wic.Reset();
        if (comEntered) CoUninitialize();
    }

    bool read() const {
        copyStale = false;
        copy.assign(static_cast<size_t>(pixelWidth) * pixelHeight, 0);
        if (!bitmap) return false;
        const WICRect all{0, 0, pixelWidth, pixelHeight};
        ComPtr<IWICBitmapLock> lock;
        UINT stride = 0, size = 0;
        BYTE* data = nullptr;
        if (FAILED(bitmap->Lock(&all, WICBitmapLockRead, &lock)) || FAILED(lock->GetStride(&stride)) ||
            FAILED(lock->GetDataPointer(&size, &data))) {
            return false;
        }
        for (int y = 0; y < pixelHeight; ++y) {
            std::memcpy(copy.data() + static_cast<size_t>(y) * pixelWidth,
                        data + static_cast<size_t>(y) * stride, static_cast<size_t>(pixelWidth) * 4);
        }
        return true;
    }
};

OffscreenSurface::OffscreenSurface(int dipWidth, int dipHeight, double scale)
    : dipWidth_(dipWidth), dipHeight_(dipHeight), impl_(std::make_unique<Impl>()) {
    Impl& s = *impl_;
    s.pixelWidth = std::max(1, static_cast<int>(std::ceil(dipWidth * scale)));
    s.pixelHeight = std::max(1, static_cast<int>(std::ceil(dipHeight * scale)));
    s.comEntered = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ID2D1Factory* factory = direct2dFactory();
    if (!factory ||
        FAILED(
            CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&s.wic))) ||
        FAILED(s.wic->CreateBitmap(static_cast<UINT>(s.pixelWidth), static_cast<UINT>(s.pixelHeight),
                                   GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad, &s.bitmap))) {
        return;
    }
    const auto dpi = static_cast<float>(96.0 * scale);
    const D2D1_RENDER_TARGET_PROPERTIES properties{
        D2D1_RENDER_TARGET_TYPE_DEFAULT,
        {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
        dpi,
        dpi,
        D2D1_RENDER_TARGET_USAGE_NONE,
        D2D1_FEATURE_LEVEL_DEFAULT};
    if (FAILED(factory->CreateWicBitmapRenderTarget(s.bitmap.Get(), properties, &s.renderTarget))) return;
    s.renderTarget->BeginDraw();
    s.renderTarget->Clear(D2D1_COLOR_F{0, 0, 0, 0});
    s.renderTarget->EndDraw();
    s.target.renderTarget = s.renderTarget.Get();
    s.target.generation = nextCanvasTargetGeneration();
}

OffscreenSurface::~OffscreenSurface() = default;

CanvasTarget& OffscreenSurface::target() {
    impl_->copyStale = true;
    return impl_->target;
}
int OffscreenSurface::pixelWidth() const {
    return impl_->pixelWidth;
}
int OffscreenSurface::pixelHeight() const {
    return impl_->pixelHeight;
}

void OffscreenSurface::flush() {
    // A frame is complete once it has ended; reading one pixel makes sure it has reached the bitmap.
    if (!impl_->bitmap) return;
    const WICRect one{0, 0, 1, 1};
    ComPtr<IWICBitmapLock> lock;
    impl_->bitmap->Lock(&one, WICBitmapLockRead, &lock);
}

uint32_t OffscreenSurface::pixel(int px, int py) const {
    if (px < 0 || py < 0 || px >= pixelWidth() || py >= pixelHeight()) return 0;
    if (impl_->copyStale) impl_->read();
    return impl_->copy[static_cast<size_t>(py) * pixelWidth() + static_cast<size_t>(px)];
}

bool OffscreenSurface::writePng(const char* path) const {
    const Impl& s = *impl_;
    if (!s.wic || !s.read()) return false;
    // PNG holds straight alpha.
    std::vector<uint8_t> bgra(s.copy.size() * 4);
    for (size_t i = 0; i < s.copy.size(); ++i) {
        const uint32_t p = s.copy[i];
        const uint32_t a = p >> 24;
        for (int c = 0; c < 3; ++c) {
            const uint32_t v = (p >> (8 * c)) & 0xff;
            bgra[i * 4 + c] =
                static_cast<uint8_t>(a == 0 ? 0 : std::min<uint32_t>(255, (v * 255 + a / 2) / a));
        }
        bgra[i * 4 + 3] = static_cast<uint8_t>(a);
    }
    std::wstring widePath;
    widen(path, widePath);
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    const auto w = static_cast<UINT>(s.pixelWidth), h = static_cast<UINT>(s.pixelHeight);
    return SUCCEEDED(s.wic->CreateStream(&stream)) &&
           SUCCEEDED(stream->InitializeFromFilename(widePath.c_str(), GENERIC_WRITE)) &&
           SUCCEEDED(s.wic->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
           SUCCEEDED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) &&
           SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
           SUCCEEDED(frame->SetSize(w, h)) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
           format == GUID_WICPixelFormat32bppBGRA &&
           SUCCEEDED(frame->WritePixels(h, 4 * w, static_cast<UINT>(bgra.size()), bgra.data())) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

}  // namespace halvard
