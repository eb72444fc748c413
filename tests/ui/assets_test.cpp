#include "ui/assets.hpp"

#include <gtest/gtest.h>

#include <string>

namespace halvard {
namespace {

struct Expected {
    const char* name;
    const ImageAsset* asset;
    char kind;  // 'I' colour, 'M' mask
    int width, height;
};

const Expected kCatalogue[] = {
    {"ampPhoto", &assets::ampPhoto, 'I', 1200, 1000},
    {"ampSpritesLit", &assets::ampSpritesLit, 'I', 1200, 1000},
    {"ampSpritesLeft", &assets::ampSpritesLeft, 'I', 1200, 1000},
    {"logoBadge", &assets::logoBadge, 'I', 260, 164},
    {"logoBadgeMask", &assets::logoBadgeMask, 'M', 130, 82},
    {"poweredByMark", &assets::poweredByMark, 'M', 186, 18},
    {"appIcon", &assets::appIcon, 'I', 128, 128},
    {"iconArrowLeft", &assets::iconArrowLeft, 'M', 22, 22},
    {"iconArrowRight", &assets::iconArrowRight, 'M', 22, 22},
    {"iconSlotSelect", &assets::iconSlotSelect, 'M', 46, 46},
    {"iconFolder", &assets::iconFolder, 'M', 46, 46},
    {"iconPlus", &assets::iconPlus, 'M', 46, 46},
    {"iconWaveform", &assets::iconWaveform, 'M', 46, 46},
    {"iconConnection", &assets::iconConnection, 'M', 46, 46},
    {"iconMidi", &assets::iconMidi, 'M', 46, 46},
    {"iconLowpass", &assets::iconLowpass, 'M', 48, 20},
    {"iconHighpass", &assets::iconHighpass, 'M', 48, 20},
};

// Premultiplied R, G, B, A of a colour picture at (x, y).
uint32_t rgba(const ImageAsset& a, int x, int y) {
    const uint8_t* p = a.pixels() + (static_cast<size_t>(y) * a.width() + x) * 4;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

TEST(Assets, CatalogueHasEveryAssetWithItsTagAndSize) {
    for (const Expected& e : kCatalogue) {
        SCOPED_TRACE(e.name);
        const ImageAsset& a = *e.asset;
        ASSERT_GE(a.size, 6u);
        EXPECT_EQ(a.bytes[0], 'R');
        EXPECT_EQ(a.bytes[1], static_cast<uint8_t>(e.kind));
        EXPECT_EQ(a.width(), e.width);
        EXPECT_EQ(a.height(), e.height);
        EXPECT_EQ(a.size, 6u + static_cast<size_t>(e.width) * e.height * (e.kind == 'I' ? 4 : 1));
        EXPECT_EQ(a.isColourImage(), e.kind == 'I');
        EXPECT_EQ(a.isMask(), e.kind == 'M');
    }
}

TEST(Assets, ColourPixelsArePremultipliedAndMasksHaveCrispCoverage) {
    for (const Expected& e : kCatalogue) {
        SCOPED_TRACE(e.name);
        const ImageAsset& a = *e.asset;
        const size_t n = static_cast<size_t>(a.width()) * a.height();
        if (e.kind == 'I') {
            size_t bad = 0;
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* p = a.pixels() + i * 4;
                bad += p[0] > p[3] || p[1] > p[3] || p[2] > p[3];
            }
            EXPECT_EQ(bad, 0u) << "a colour channel above its alpha";
        } else {
            size_t clear = 0, solid = 0;
            for (size_t i = 0; i < n; ++i) {
                clear += a.pixels()[i] == 0;
                solid += a.pixels()[i] == 255;
            }
            EXPECT_GT(clear, n / 10) << "a mask with no clear background";
            EXPECT_GT(solid, n / 40) << "a mask with no fully covered pixels is blurred";
        }
    }
}

// The parts the panel cuts from the sprite pictures and lays over the photo.
struct Part {
    const char* name;
    int x, y, w, h;
};
const Part kParts[] = {
    {"rhythm IR toggle", 593, 303, 37, 34}, {"lead IR toggle", 593, 528, 37, 34},
    {"reverb LED", 230, 307, 34, 31},       {"tremolo LED", 230, 532, 34, 31},
    {"rhythm LED", 936, 307, 34, 31},       {"lead LED", 936, 532, 34, 31},
};

TEST(Assets, AmplifierPicturesAreInRegisterAroundEveryOverlay) {
    const ImageAsset* pictures[] = {&assets::ampPhoto, &assets::ampSpritesLit, &assets::ampSpritesLeft};
    for (const Part& part : kParts) {
        SCOPED_TRACE(part.name);
        // A frame of 3 pixels around the part is the same in all three pictures, so a cut-out
        // overlay meets the photo without a seam.
        int seams = 0;
        for (int y = part.y - 3; y < part.y + part.h + 3; ++y) {
            for (int x = part.x - 3; x < part.x + part.w + 3; ++x) {
                const bool inside = x >= part.x && x < part.x + part.w && y >= part.y && y < part.y + part.h;
                if (inside) continue;
                seams += rgba(*pictures[0], x, y) != rgba(*pictures[1], x, y);
                seams += rgba(*pictures[0], x, y) != rgba(*pictures[2], x, y);
            }
        }
        EXPECT_EQ(seams, 0);
        // Inside, the lit sprite shows something other than the photo (a lit LED, a moved lever).
        int changed = 0;
        for (int y = part.y; y < part.y + part.h; ++y) {
            for (int x = part.x; x < part.x + part.w; ++x)
                changed += rgba(*pictures[0], x, y) != rgba(*pictures[1], x, y);
        }
        EXPECT_GT(changed, 40);
    }
    // The toggles differ between the two sprite pictures; the LEDs do not.
    auto differs = [](const Part& p) {
        int n = 0;
        for (int y = p.y; y < p.y + p.h; ++y) {
            for (int x = p.x; x < p.x + p.w; ++x)
                n += rgba(assets::ampSpritesLit, x, y) != rgba(assets::ampSpritesLeft, x, y);
        }
        return n;
    };
    EXPECT_GT(differs(kParts[0]), 40);
    EXPECT_GT(differs(kParts[1]), 40);
    for (int i = 2; i < 6; ++i) EXPECT_EQ(differs(kParts[i]), 0) << kParts[i].name;
}

TEST(Assets, LitLedsHaveTheirColours) {
    // Dominant channel at the centre of each lit LED: green for rhythm, orange for lead, yellow for
    // the effects.
    auto centre = [](const Part& p) {  // mean premultiplied colour over the lens
        int sum[3] = {0, 0, 0};
        for (int y = -4; y <= 4; ++y) {
            for (int x = -4; x <= 4; ++x) {
                const uint32_t c = rgba(assets::ampSpritesLit, p.x + p.w / 2 + x, p.y + p.h / 2 + y);
                for (int i = 0; i < 3; ++i) sum[i] += (c >> (24 - 8 * i)) & 0xff;
            }
        }
        return uint32_t(sum[0] / 81) << 24 | uint32_t(sum[1] / 81) << 16 | uint32_t(sum[2] / 81) << 8 | 0xff;
    };
    auto r = [](uint32_t c) { return int(c >> 24); };
    auto g = [](uint32_t c) { return int((c >> 16) & 0xff); };
    auto b = [](uint32_t c) { return int((c >> 8) & 0xff); };
    const uint32_t rhythm = centre(kParts[4]), lead = centre(kParts[5]);
    const uint32_t reverb = centre(kParts[2]), tremolo = centre(kParts[3]);
    EXPECT_GT(g(rhythm), r(rhythm) + 40) << std::hex << rhythm;
    EXPECT_GT(r(lead), g(lead) + 40) << std::hex << lead;
    EXPECT_GT(g(lead), b(lead) + 40) << std::hex << lead;
    for (uint32_t c : {reverb, tremolo}) {
        EXPECT_GT(r(c), b(c) + 80) << std::hex << c;
        EXPECT_GT(g(c), b(c) + 80) << std::hex << c;
    }
    // Transparent outside the amplifier, opaque on its face.
    EXPECT_EQ(rgba(assets::ampPhoto, 0, 0) & 0xff, 0u);
    EXPECT_EQ(rgba(assets::ampPhoto, 1199, 999) & 0xff, 0u);
    EXPECT_EQ(rgba(assets::ampPhoto, 600, 420) & 0xff, 255u);
}

}  // namespace
}  // namespace halvard
