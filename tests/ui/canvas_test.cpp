#include "ui/canvas.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace halvard {
namespace {

constexpr uint32_t kRed = 0xffff0000;

uint32_t alphaOf(uint32_t p) {
    return p >> 24;
}

// A tagged block built in the test: RI pixels all `rgba` (premultiplied), or RM coverage per pixel.
struct TestAsset {
    std::vector<uint8_t> bytes;
    ImageAsset asset;
    TestAsset(char tag, int w, int h, const std::vector<uint8_t>& pixels) {
        for (int v : {int('R'), int(tag), w & 0xff, w >> 8, h & 0xff, h >> 8})
            bytes.push_back(static_cast<uint8_t>(v));
        for (uint8_t v : pixels) bytes.push_back(v);
        asset = {bytes.data(), bytes.size()};
    }
};

TestAsset solidImage(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    std::vector<uint8_t> px;
    for (int i = 0; i < w * h; ++i) px.insert(px.end(), {r, g, b, a});
    return TestAsset('I', w, h, px);
}

// Bounds of the pixels whose alpha exceeds a threshold, in device pixels; empty when none.
struct Ink {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    bool empty() const { return right < 0; }
};

Ink inkOf(const OffscreenSurface& s, int threshold = 60) {
    Ink ink;
    for (int y = 0; y < s.pixelHeight(); ++y) {
        for (int x = 0; x < s.pixelWidth(); ++x) {
            if (static_cast<int>(alphaOf(s.pixel(x, y))) > threshold) {
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y);
                ink.bottom = std::max(ink.bottom, y);
            }
        }
    }
    return ink;
}

TEST(Canvas, SquareFillsAreCrispAndRoundedFillsAntialiased) {
    OffscreenSurface s(100, 100);
    Canvas c;
    c.beginFrame(s.target(), 100, 100);
    c.fillRect(10, 10, 20, 20, 0, kRed);
    c.fillRect(50, 10, 40, 40, 10, kRed);
    c.fillRect(10, 60, 20, 20, 1, kRed);
    c.endFrame();

    EXPECT_EQ(s.pixel(10, 10), kRed);
    EXPECT_EQ(s.pixel(29, 29), kRed);
    EXPECT_EQ(s.pixel(9, 10), 0u) << "square fill spills left";
    EXPECT_EQ(s.pixel(30, 29), 0u) << "square fill spills right";
    EXPECT_EQ(s.pixel(29, 30), 0u) << "square fill spills down";

    EXPECT_EQ(s.pixel(50, 10), 0u) << "a rounded corner is cut";
    EXPECT_EQ(s.pixel(70, 30), kRed);
    int partial = 0;
    for (int i = 0; i < 10; ++i) {
        const uint32_t a = alphaOf(s.pixel(50 + i, 10 + (9 - i)));
        if (a > 0 && a < 255) ++partial;
    }
    EXPECT_GT(partial, 0) << "radius 10 corner has no antialiased edge pixels";
    const uint32_t corner = alphaOf(s.pixel(10, 60));
    EXPECT_GT(corner, 0u);
    EXPECT_LT(corner, 255u) << "radius 1 already rounds and antialiases the corner";
}

TEST(Canvas, ColoursUseStraightAlpha) {
    OffscreenSurface s(10, 10);
    Canvas c;
    c.beginFrame(s.target(), 10, 10);
    c.fillRect(0, 0, 10, 10, 0, 0xffffffff);
    c.fillRect(0, 0, 10, 10, 0, kColorRule);  // black at alpha 64: a quarter
    c.fillRect(0, 5, 10, 5, 0, 0xff123456);
    c.endFrame();
    const uint32_t p = s.pixel(2, 2);
    EXPECT_EQ(alphaOf(p), 255u);
    EXPECT_NEAR(static_cast<int>((p >> 16) & 0xff), 191, 1) << std::hex << p;
    EXPECT_NEAR(static_cast<int>(p & 0xff), 191, 1) << std::hex << p;
    EXPECT_EQ(s.pixel(2, 7), 0xff123456u) << "colour bytes are red, green, blue from bits 16, 8, 0";
}

TEST(Canvas, ImagesScaleAndRejectTheWrongKindOfAsset) {
    const TestAsset image = solidImage(40, 20, 0, 0, 255, 255);
    const TestAsset mask('M', 2, 1, {255, 0});
    TestAsset truncated = solidImage(4, 4, 255, 0, 0, 255);
    truncated.asset.size -= 1;

    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        OffscreenSurface s(100, 100, scale);
        Canvas c;
        c.beginFrame(s.target(), 100, 100);
        c.setScale(0.5f);
        c.drawImage(0, 0, 40, 20, &image.asset);
        c.setScale(1.0f);
        c.drawImage(50, 50, 40, 40, &mask.asset);
        c.fillMask(50, 50, 40, 40, &image.asset, kRed);
        c.drawImage(50, 50, 40, 40, &truncated.asset);
        c.drawImage(50, 50, 40, 40, nullptr);
        c.fillMask(50, 50, 40, 40, nullptr, kRed);
        c.endFrame();

        const auto k = static_cast<int>(scale);
        EXPECT_EQ(s.pixel(20 * k - 1, 10 * k - 1), 0xff0000ffu) << "setScale(0.5) halves the image";
        EXPECT_EQ(s.pixel(20 * k, 5 * k), 0u);
        EXPECT_EQ(s.pixel(5 * k, 10 * k), 0u);
        const Ink ink = inkOf(s, 0);
        EXPECT_EQ(ink.right, 20 * k - 1)
            << "a mask, a colour image as mask, a bad block or null drew something";
        EXPECT_EQ(ink.bottom, 10 * k - 1);
    }
}

TEST(Canvas, MasksPaintTheColourThroughTheirCoverage) {
    // 4 x 2 mask: left half opaque, right half clear; drawn at 2 x 1 DIPs on a scale-2 surface, so
    // one mask pixel lands on one device pixel.
    const TestAsset mask('M', 4, 2, {255, 255, 0, 0, 255, 255, 0, 0});
    OffscreenSurface s(10, 10, 2.0);
    Canvas c;
    c.beginFrame(s.target(), 10, 10);
    c.fillMask(1, 1, 2, 1, &mask.asset, kColorAccent);
    c.endFrame();
    EXPECT_EQ(s.pixel(2, 2), kColorAccent);
    EXPECT_EQ(s.pixel(3, 3), kColorAccent);
    EXPECT_EQ(s.pixel(4, 2), 0u);
    EXPECT_EQ(s.pixel(1, 2), 0u);
}

// Largest difference of any channel between two pixels.
int channelDistance(uint32_t a, uint32_t b) {
    int d = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        d = std::max(d,
                     std::abs(static_cast<int>((a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff)));
    }
    return d;
}

TEST(Canvas, PartsOfAPictureLandInRegisterWithThePicture) {
    // Drawing parts of the photo over the photo, at the place and scale the overlays use, must
    // leave every pixel as it was (up to rounding): each part lands on the device-pixel grid of the
    // whole picture. One part is small (made from the pixels around it), one large (cut from the
    // scaled whole).
    for (double scale : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(scale);
        OffscreenSurface once(1264, 861, scale), twice(1264, 861, scale);
        Canvas c;
        for (OffscreenSurface* s : {&once, &twice}) {
            c.beginFrame(s->target(), 1264, 861);
            c.setScale(0.711f);
            c.drawImage(464, 168, 1200, 1000, &assets::ampPhoto);
            if (s == &twice) {
                c.drawImagePart(593, 303, 37, 34, 464 + 593, 168 + 303, 37, 34, &assets::ampPhoto);
                c.drawImagePart(100, 150, 1000, 500, 464 + 100, 168 + 150, 1000, 500, &assets::ampPhoto);
            }
            c.endFrame();
        }
        int worst = 0;  // over the parts and a margin around them
        const auto device = [&](int dip) { return static_cast<int>(dip * 0.711 * scale); };
        for (int y = device(168 + 150) - 4; y < device(168 + 650) + 4; ++y) {
            for (int x = device(464 + 100) - 4; x < device(464 + 1100) + 4; ++x) {
                worst = std::max(worst, channelDistance(once.pixel(x, y), twice.pixel(x, y)));
            }
        }
        EXPECT_LE(worst, 2);
    }
}

TEST(Canvas, TextAlignsInItsBox) {
    OffscreenSurface s(300, 200);
    Canvas c;
    c.beginFrame(s.target(), 300, 200);
    c.drawText(0, 0, 100, 40, 0xffffffff, 2, kAlignTrailing, kAlignBottom, "MID", true);
    c.endFrame();
    const Ink right = inkOf(s);
    ASSERT_FALSE(right.empty());
    EXPECT_GE(right.right, 94) << "trailing alignment ends at the box's right edge";
    EXPECT_GT(right.left, 50);
    EXPECT_GE(right.bottom, 30) << "bottom alignment";

    OffscreenSurface t(300, 200);
    c.beginFrame(t.target(), 300, 200);
    c.drawText(0, 0, 100, 40, 0xffffffff, 2, 7, 9, "MID", true);  // other codes: trailing, bottom
    c.endFrame();
    const Ink other = inkOf(t);
    EXPECT_EQ(other.right, right.right);
    EXPECT_EQ(other.bottom, right.bottom);

    OffscreenSurface u(300, 200);
    c.beginFrame(u.target(), 300, 200);
    c.drawText(0, 10, 100, 40, 0xffffffff, 2, kAlignLeading, kAlignTop, "MID", true);
    c.endFrame();
    const Ink left = inkOf(u);
    EXPECT_LE(left.left, 3) << "leading alignment";
    EXPECT_LE(left.top, 14) << "top alignment, box raised by one DIP";

    OffscreenSurface v(300, 200);
    c.beginFrame(v.target(), 300, 200);
    c.drawText(150, 10, 100, 40, 0xffffffff, 2, kAlignCentre, kAlignMiddle, "MID", true);
    c.endFrame();
    const Ink centred = inkOf(v);
    EXPECT_NEAR((centred.left + centred.right) / 2.0, 200, 3) << "centred horizontally";
    EXPECT_NEAR((centred.top + centred.bottom) / 2.0, 10 - 1 + 41 / 2.0, 4) << "centred vertically";
}

TEST(Canvas, SingleLineTextEndsInAnEllipsisAndWrappedTextInheritsTheTrimming) {
    const char* longText = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG AND RUNS FAR AWAY";
    Canvas c;

    OffscreenSurface single(300, 200);
    c.beginFrame(single.target(), 300, 200);
    c.drawText(10, 10, 120, 20, 0xffffffff, 1, kAlignLeading, kAlignTop, longText, true);
    c.endFrame();
    const Ink one = inkOf(single);
    EXPECT_LE(one.right, 130) << "single-line text stays inside its box";
    EXPECT_LT(one.bottom - one.top, 16) << "single-line text is one line";
    EXPECT_GT(one.right, 110) << "the box is filled up to the ellipsis";

    // A fresh canvas: format 1 has no trimming yet, so wrapped text overflows the box's height.
    Canvas fresh;
    OffscreenSurface wrapped(300, 200);
    fresh.beginFrame(wrapped.target(), 300, 200);
    fresh.drawText(10, 10, 120, 30, 0xffffffff, 1, kAlignLeading, kAlignTop, longText, false);
    fresh.endFrame();
    const Ink many = inkOf(wrapped);
    EXPECT_LE(many.right, 130);
    EXPECT_GT(many.bottom, 60) << "untrimmed wrapped text runs past the box";

    // After a single-line call on format 1, the same wrapped call is cut to the box.
    OffscreenSurface trimmed(300, 200);
    fresh.beginFrame(trimmed.target(), 300, 200);
    fresh.drawText(0, 190, 10, 10, 0xffffffff, 1, kAlignLeading, kAlignTop, "", true);
    fresh.drawText(10, 10, 120, 30, 0xffffffff, 1, kAlignLeading, kAlignTop, longText, false);
    fresh.endFrame();
    const Ink cut = inkOf(trimmed);
    EXPECT_LE(cut.bottom, 42) << "wrapped text inherits the ellipsis trimming of its format";
    EXPECT_GT(cut.bottom, 20) << "and still wraps";

    // Another format keeps its own state.
    OffscreenSurface other(300, 200);
    fresh.beginFrame(other.target(), 300, 200);
    fresh.drawText(10, 10, 120, 30, 0xffffffff, 0, kAlignLeading, kAlignTop, longText, false);
    fresh.endFrame();
    EXPECT_GT(inkOf(other).bottom, 50);
}

TEST(Canvas, PrimitivesOutsideAFrameDoNothing) {
    OffscreenSurface s(20, 20);
    Canvas c;
    c.fillRect(0, 0, 20, 20, 0, kRed);
    c.drawText(0, 0, 20, 20, kRed, 1, 0, 0, "X", true);
    c.beginFrame(s.target(), 20, 20);
    c.fillRect(0, 0, 5, 5, 0, kRed);
    c.fillRect(0, 10, 0, 5, 0, kRed);                    // empty
    c.drawText(0, 0, 20, 20, kRed, 3, 0, 0, "X", true);  // no such format
    c.endFrame();
    c.fillRect(10, 10, 5, 5, 0, kRed);
    EXPECT_EQ(s.pixel(2, 2), kRed);
    EXPECT_EQ(s.pixel(12, 12), 0u);
    EXPECT_EQ(s.pixel(2, 12), 0u);
    EXPECT_EQ(inkOf(s, 0).right, 4);
}

}  // namespace
}  // namespace halvard
