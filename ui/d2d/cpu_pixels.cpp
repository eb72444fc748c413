#include "ui/d2d/cpu_pixels.hpp"

#include <algorithm>
#include <cmath>

namespace halvard {

namespace {

// The source pixels and weights behind each device pixel along one axis: `taps` entries per pixel.
struct AxisTaps {
    int taps = 0;
    std::vector<int> index;  // clamped to the source (edge padding)
    std::vector<float> weight;
};

// Enlarging: a tent of one source pixel's radius around each device pixel's centre (bilinear).
// Reducing (or 1:1): the area of each source pixel inside the device pixel (a box).
AxisTaps axisTaps(int sourceSize, int deviceSize, int d0, int d1) {
    const double ratio = static_cast<double>(deviceSize) / sourceSize;
    const bool enlarging = ratio > 1.0;
    AxisTaps t;
    t.taps = static_cast<int>(std::ceil(enlarging ? 2.0 : 1.0 / ratio)) + 1;
    t.index.resize(static_cast<size_t>(d1 - d0) * t.taps);
    t.weight.resize(t.index.size());
    for (int d = d0; d < d1; ++d) {
        // The device pixel's span in source pixels, and where its taps start.
        const double lo = d / ratio, hi = (d + 1) / ratio, centre = (d + 0.5) / ratio - 0.5;
        const int first = enlarging ? static_cast<int>(std::floor(centre)) : static_cast<int>(std::floor(lo));
        const size_t base = static_cast<size_t>(d - d0) * t.taps;
        double sum = 0;
        for (int k = 0; k < t.taps; ++k) {
            const int j = first + k;
            const double w = enlarging ? std::max(0.0, 1.0 - std::abs(j - centre))
                                       : std::max(0.0, std::min<double>(j + 1, hi) - std::max<double>(j, lo));
            t.index[base + k] = std::clamp(j, 0, sourceSize - 1);
            t.weight[base + k] = static_cast<float>(w);
            sum += w;
        }
        for (int k = 0; k < t.taps; ++k) t.weight[base + k] = static_cast<float>(t.weight[base + k] / sum);
    }
    return t;
}

uint8_t toByte(float v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

}  // namespace

bool scaleAssetRegion(const ImageAsset& asset, int width, int height, int x0, int y0, int x1, int y1,
                      std::vector<uint8_t>& out) {
    out.clear();
    const bool colour = asset.isColourImage();
    if ((!colour && !asset.isMask()) || width <= 0 || height <= 0 || x0 < 0 || y0 < 0 || x1 > width ||
        y1 > height || x1 <= x0 || y1 <= y0) {
        return false;
    }
    const int channels = colour ? 4 : 1;
    const int outWidth = x1 - x0;
    const AxisTaps h = axisTaps(asset.width(), width, x0, x1);
    const AxisTaps v = axisTaps(asset.height(), height, y0, y1);

    // Source rows filtered across, kept in a ring: a device row needs at most v.taps consecutive
    // source rows, and the rows needed only move down from one device row to the next.
    std::vector<float> ring(static_cast<size_t>(v.taps) * outWidth * channels);
    std::vector<int> ringRow(static_cast<size_t>(v.taps), -1);
    const auto filteredRow = [&](int sourceRow) -> const float* {
        const auto slot = static_cast<size_t>(sourceRow % v.taps);
        float* row = ring.data() + slot * outWidth * channels;
        if (ringRow[slot] == sourceRow) return row;
        ringRow[slot] = sourceRow;
        const uint8_t* src = asset.pixels() + static_cast<size_t>(sourceRow) * asset.width() * channels;
        for (int x = 0; x < outWidth; ++x) {
            float acc[4] = {0, 0, 0, 0};
            const size_t base = static_cast<size_t>(x) * h.taps;
            for (int k = 0; k < h.taps; ++k) {
                const float w = h.weight[base + k];
                const uint8_t* p = src + static_cast<size_t>(h.index[base + k]) * channels;
                for (int c = 0; c < channels; ++c) acc[c] += w * p[c];
            }
            std::copy_n(acc, channels, row + static_cast<size_t>(x) * channels);
        }
        return row;
    };

    out.resize(static_cast<size_t>(outWidth) * (y1 - y0) * channels);
    uint8_t* dst = out.data();
    std::vector<const float*> rows(static_cast<size_t>(v.taps));
    const int taps = v.taps;
    for (int y = 0; y < y1 - y0; ++y) {
        const size_t base = static_cast<size_t>(y) * v.taps;
        for (int k = 0; k < taps; ++k) rows[k] = filteredRow(v.index[base + k]);
        for (int x = 0; x < outWidth; ++x, dst += channels) {
            float acc[4] = {0, 0, 0, 0};
            for (int k = 0; k < taps; ++k) {
                const float w = v.weight[base + k];
                const float* p = rows[k] + static_cast<size_t>(x) * channels;
                for (int c = 0; c < channels; ++c) acc[c] += w * p[c];
            }
            if (!colour) {
                dst[0] = toByte(acc[0]);
                continue;
            }
            const uint8_t a = toByte(acc[3]);
            dst[0] = std::min(toByte(acc[2]), a);  // R, G, B, A in the asset; B, G, R, A out
            dst[1] = std::min(toByte(acc[1]), a);
            dst[2] = std::min(toByte(acc[0]), a);
            dst[3] = a;
        }
    }
    return true;
}

void roundedRectCoverage(int columns, int rows, double fx, double fy, double w, double h, double r,
                         std::vector<uint8_t>& out) {
    out.assign(static_cast<size_t>(std::max(columns, 0)) * std::max(rows, 0), 0);
    const double cx = fx + w / 2, cy = fy + h / 2;  // the centre
    const double bx = w / 2 - r, by = h / 2 - r;    // the straight part of each half side
    uint8_t* dst = out.data();
    for (int y = 0; y < rows; ++y) {
        const double qy = std::abs(y + 0.5 - cy) - by;
        for (int x = 0; x < columns; ++x) {
            const double qx = std::abs(x + 0.5 - cx) - bx;
            // Signed distance from the edge, negative inside.
            const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
            const double d = outside + std::min(std::max(qx, qy), 0.0) - r;
            *dst++ = toByte(static_cast<float>(std::clamp(0.5 - d, 0.0, 1.0) * 255.0));
        }
    }
}

void tintCoverage(const std::vector<uint8_t>& coverage, uint32_t color, std::vector<uint8_t>& out) {
    out.resize(coverage.size() * 4);
    const uint32_t alpha = color >> 24;
    const uint32_t channel[3] = {color & 0xff, (color >> 8) & 0xff, (color >> 16) & 0xff};  // B, G, R
    uint8_t* dst = out.data();
    for (uint8_t c : coverage) {
        const uint32_t a = (alpha * c + 127) / 255;
        for (int k = 0; k < 3; ++k) *dst++ = static_cast<uint8_t>((channel[k] * a + 127) / 255);
        *dst++ = static_cast<uint8_t>(a);
    }
}

}  // namespace halvard
