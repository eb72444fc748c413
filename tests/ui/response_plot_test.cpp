// The response curves the IR panel plots, read back from the baked masks the program draws, against
// a spectrum of the factory samples the program carries.
#include "ui/response_plot.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "fft.hpp"
#include "ir/factory_ir_image.hpp"
#include "ui/assets.hpp"

namespace halvard {
namespace {

constexpr int kMaskWidth = kResponseGraphWidth * kResponseMaskScale;
constexpr int kMaskHeight = kResponseGraphHeight * kResponseMaskScale;

// The level the curve of `entry` shows at `hz`: the centre of its line in that mask column. Only
// the line covers a pixel more than half (the fill under it stays faint); none when the line has
// left the plot below -36 dB.
std::optional<double> plottedDb(int entry, double hz) {
    const ImageAsset& mask = assets::factoryIrCurves[entry];
    const int column = std::clamp(static_cast<int>(responseX(hz) * kMaskWidth), 0, kMaskWidth - 1);
    double weight = 0.0, sum = 0.0;
    for (int row = 0; row < kMaskHeight; ++row) {
        const double line = std::max(0, mask.pixels()[row * kMaskWidth + column] - 96);
        weight += line;
        sum += line * (row + 0.5);
    }
    if (weight == 0.0) return std::nullopt;
    const double y = sum / weight / kMaskHeight;
    return kResponseTopDb - y * (kResponseTopDb - kResponseBottomDb);
}

// The power spectrum of the embedded samples, zero-padded to 65536 points.
std::vector<double> powerSpectrum(int entry) {
    std::vector<irsynth::Complex> bins(65536);
    const FactoryIrImage& image = kFactoryIrImages[entry];
    for (int n = 0; n < image.frameCount(); ++n) bins[static_cast<size_t>(n)] = image.samples[n];
    irsynth::fft(bins, false);
    std::vector<double> power(bins.size() / 2);
    for (size_t k = 0; k < power.size(); ++k) power[k] = std::norm(bins[k]);
    return power;
}

// The mean power over the sixth of an octave centred on hz, in dB.
double sixthOctaveDb(const std::vector<double>& power, double hz) {
    const double binHz = kIrSampleRate / 65536.0;
    const auto lo = static_cast<size_t>(std::ceil(hz * std::pow(2.0, -1.0 / 12.0) / binHz));
    const auto hi = static_cast<size_t>(std::floor(hz * std::pow(2.0, 1.0 / 12.0) / binHz));
    double sum = 0.0;
    for (size_t k = lo; k <= hi; ++k) sum += power[k];
    return 10.0 * std::log10(sum / static_cast<double>(hi - lo + 1));
}

TEST(ResponsePlot, CurvesFollowTheSmoothedSpectrumOfTheEmbeddedSamples) {
    for (int entry = 0; entry < kFactoryIrCount; ++entry) {
        SCOPED_TRACE("entry " + std::to_string(entry));
        const ImageAsset& mask = assets::factoryIrCurves[entry];
        ASSERT_TRUE(mask.isMask());
        ASSERT_EQ(mask.width(), kMaskWidth);
        ASSERT_EQ(mask.height(), kMaskHeight);

        // Levels relative to 1 kHz, so that the check does not depend on where the maximum lies.
        const std::vector<double> power = powerSpectrum(entry);
        const std::optional<double> reference = plottedDb(entry, 1000.0);
        ASSERT_TRUE(reference);
        for (double hz : {60.0, 100.0, 250.0, 500.0, 2000.0, 4000.0, 8000.0, 12000.0}) {
            const std::optional<double> shown = plottedDb(entry, hz);
            const double expected = sixthOctaveDb(power, hz) - sixthOctaveDb(power, 1000.0);
            if (!shown || *reference + expected < kResponseBottomDb + 2.0) continue;  // below the plot
            EXPECT_NEAR(*shown - *reference, expected, 1.0) << hz << " Hz";
        }

        // The curve's highest point sits at 0 dB.
        double highest = kResponseBottomDb;
        for (int column = 0; column < kMaskWidth; ++column) {
            const double hz = responseHz((column + 0.5) / kMaskWidth);
            if (const auto db = plottedDb(entry, hz)) highest = std::max(highest, *db);
        }
        EXPECT_NEAR(highest, 0.0, 0.5);
    }
}

TEST(ResponsePlot, CurvesShowWhatTheCabinetsAre) {
    const auto tilt = [](int entry, double hz) { return *plottedDb(entry, hz) - *plottedDb(entry, 1000.0); };
    // A closed 4x12 has more low end than an open-back 1x12.
    for (int big : {13, 14}) {
        for (int open : {0, 1, 8}) {
            EXPECT_GT(tilt(big, 100.0), tilt(open, 100.0))
                << "4x12 entry " << big << ", open 1x12 entry " << open;
        }
    }
    // The microphone turned off axis (entry 4) hears less top than on axis in the same cabinet (2).
    EXPECT_LT(tilt(4, 8000.0), tilt(2, 8000.0));
}

}  // namespace
}  // namespace halvard
