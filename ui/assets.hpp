#pragma once
// The panel's image assets: tagged pixel blocks compiled into the program as constant data.
//
// Block layout (little-endian):
//   bytes 0..1  tag: "RI" colour image, "RM" alpha mask
//   bytes 2..3  width in pixels
//   bytes 4..5  height in pixels
//   bytes 6..   rows top to bottom, no padding:
//               "RI": R, G, B, A per pixel, colour premultiplied by alpha (6 + 4 * w * h bytes)
//               "RM": one coverage byte per pixel, 0 transparent .. 255 opaque (6 + w * h bytes)
//
// The blocks are generated at build time by tools/asset_baker from the SVG sources in assets/art/
// (see assets/catalogue.txt), and from the response curves that tools/ir_synth draws; they are
// never copied or freed.

#include <cstddef>
#include <cstdint>

#include "ir/factory_ir_image.hpp"

namespace halvard {

struct ImageAsset {
    const uint8_t* bytes = nullptr;  // the whole tagged block
    size_t size = 0;                 // its length in bytes

    int width() const { return size >= 6 ? bytes[2] | (bytes[3] << 8) : 0; }
    int height() const { return size >= 6 ? bytes[4] | (bytes[5] << 8) : 0; }
    const uint8_t* pixels() const { return bytes + 6; }
    // True when the tag is "RI" and the block holds exactly the pixels its header announces.
    bool isColourImage() const { return hasTag('I', 4); }
    // True when the tag is "RM" and the block holds exactly the pixels its header announces.
    bool isMask() const { return hasTag('M', 1); }

private:
    bool hasTag(char second, size_t bytesPerPixel) const {
        return bytes != nullptr && size >= 6 && bytes[0] == 'R' && bytes[1] == static_cast<uint8_t>(second) &&
               size == 6 + bytesPerPixel * static_cast<size_t>(width()) * static_cast<size_t>(height());
    }
};

// The catalogue. Pixel sizes are those of the blocks; the panel draws most of them at half that size.
namespace assets {
extern const ImageAsset ampPhoto;        // RI 1200 x 1000: the amplifier, LEDs dark, IR toggles right
extern const ImageAsset ampSpritesLit;   // RI 1200 x 1000: same register, no knobs, LEDs lit, toggles middle
extern const ImageAsset ampSpritesLeft;  // RI 1200 x 1000: like ampSpritesLit with the toggles left
extern const ImageAsset logoBadge;       // RI 260 x 164, drawn 130 x 82
extern const ImageAsset logoBadgeMask;   // RM 130 x 82: silhouette under the badge
extern const ImageAsset poweredByMark;   // RM 186 x 18, drawn 93 x 9
extern const ImageAsset appIcon;         // RI 128 x 128: the window's icon when the icon theme lacks it
extern const ImageAsset iconArrowLeft;   // RM 22 x 22, drawn 11 x 11
extern const ImageAsset iconArrowRight;  // RM 22 x 22
extern const ImageAsset iconSlotSelect;  // RM 46 x 46, drawn 23 x 23
extern const ImageAsset iconFolder;      // RM 46 x 46
extern const ImageAsset iconPlus;        // RM 46 x 46
extern const ImageAsset iconWaveform;    // RM 46 x 46
extern const ImageAsset iconConnection;  // RM 46 x 46
extern const ImageAsset iconMidi;        // RM 46 x 46
extern const ImageAsset iconLowpass;     // RM 48 x 20, drawn 48 x 20
extern const ImageAsset iconHighpass;    // RM 48 x 20
// RM 400 x 234 each, drawn 200 x 117: the response curve of each factory IR, in catalogue order.
extern const ImageAsset factoryIrCurves[kFactoryIrCount];
}  // namespace assets

}  // namespace halvard
