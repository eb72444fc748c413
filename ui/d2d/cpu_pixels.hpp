#pragma once
// Pixels the Direct2D back end computes on the CPU, once, and then blits 1:1 on whole device pixels:
//   - asset pixels resampled to the device size they are drawn at, so that the parts of a sprite
//     picture land in register with the whole and nothing is filtered again per frame;
//   - the antialiased coverage of rounded rectangles (Wine's Direct2D draws every fill aliased, so
//     the edges are computed here to look the same on Wine and on Windows).
//
// Resampling: bilinear when enlarging; when reducing, each device pixel is the average of the
// source area it covers (every source pixel counts); the edges padded. Each device pixel depends
// only on its own place in the scaled whole, so a part computed alone equals the same pixels of the
// scaled whole. Pure computation, callable from any thread.

#include <cstdint>
#include <vector>

#include "ui/assets.hpp"

namespace halvard {

// Device pixels [x0, x1) x [y0, y1) of the asset scaled to width x height, written to out row by row
// without padding: for an "RI" asset premultiplied B, G, R, A bytes (the Direct2D pixel order; a
// colour above its alpha is clamped to it), for an "RM" asset one coverage byte. False (out empty)
// for an invalid asset or region.
bool scaleAssetRegion(const ImageAsset& asset, int width, int height, int x0, int y0, int x1, int y1,
                      std::vector<uint8_t>& out);

// The coverage of a rectangle with round corners of radius r, its left top corner at (fx, fy)
// inside a grid of columns x rows pixels, w x h in size (all in device pixels): one byte per pixel,
// row by row, from the distance of each pixel's centre to the edge.
void roundedRectCoverage(int columns, int rows, double fx, double fy, double w, double h, double r,
                         std::vector<uint8_t>& out);

// Coverage bytes to premultiplied B, G, R, A pixels of one straight-alpha 0xAARRGGBB colour.
void tintCoverage(const std::vector<uint8_t>& coverage, uint32_t color, std::vector<uint8_t>& out);

}  // namespace halvard
