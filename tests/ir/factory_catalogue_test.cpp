#include "ir/factory_catalogue.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <set>
#include <span>
#include <string>

#include "cabinet_model.hpp"
#include "ir_analysis.hpp"

namespace halvard {
namespace {

std::span<const float> samplesOf(const FactoryIrEntry& e) {
    return {e.image->samples, static_cast<size_t>(e.image->frameCount())};
}

TEST(FactoryCatalogue, ImagesFollowTheBlockLayoutAndPeakRule) {
    for (int i = 0; i < kFactoryIrCount; ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        const FactoryIrImage& image = *factoryIrCatalogue()[static_cast<size_t>(i)].image;
        unsigned char head[4];
        std::memcpy(head, &image, sizeof head);
        EXPECT_EQ(head[0], 0x52);
        EXPECT_EQ(head[1], 0x57);
        EXPECT_EQ(head[2] | head[3] << 8, 39936);
        ASSERT_EQ(image.frameCount(), 9984);

        const float* s = image.samples;
        const int peak = static_cast<int>(std::max_element(s, s + 9984) - s);
        EXPECT_TRUE(peak == 4 || peak == 5) << "peak at " << peak;
        EXPECT_EQ(s[peak], 0.98855f);
        for (int n = 0; n < 9984; ++n) {
            ASSERT_TRUE(std::isfinite(s[n])) << "sample " << n;
            if (n != peak) {
                ASSERT_LT(std::abs(s[n]), 0.98855f) << "sample " << n << " rivals the peak";
            }
        }
        EXPECT_GT(std::abs(s[0]), 0.01f);
    }
}

TEST(FactoryCatalogue, ImagesArePairwiseDistinct) {
    const FactoryIrCatalogue& c = factoryIrCatalogue();
    for (size_t a = 0; a < c.size(); ++a) {
        for (size_t b = a + 1; b < c.size(); ++b) {
            double diff = 0.0;
            for (int n = 0; n < kFactoryIrSamples; ++n) {
                const double d = c[a].image->samples[n] - c[b].image->samples[n];
                diff += d * d;
            }
            EXPECT_GT(std::sqrt(diff / kFactoryIrSamples), 1e-3) << "entries " << a << " and " << b;
        }
    }
}

TEST(FactoryCatalogue, TextsLayoutsAndMainMarks) {
    const char* layouts[kFactoryIrCount] = {"1x12", "1x12", "1x12", "1x12", "1x12", "1x12", "1x12", "1x12",
                                            "1x12", "1x12", "2x10", "2x12", "2x12", "4x12", "4x12"};
    std::set<std::string> fileNames;
    for (int i = 0; i < kFactoryIrCount; ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        const FactoryIrEntry& e = factoryIrCatalogue()[static_cast<size_t>(i)];
        EXPECT_GE(e.name.size(), 17u);
        EXPECT_LE(e.name.size(), 22u);
        EXPECT_GE(e.description.size(), 180u);
        EXPECT_LE(e.description.size(), 217u);
        EXPECT_EQ(e.name.substr(0, 4), layouts[i]);
        EXPECT_EQ(e.isMain, i == 6 || i == 12 || i == 13 ? 1 : 0);
        EXPECT_EQ(e.image, &kFactoryIrImages[i]);

        // Used as a file name on extraction and, up-cased, as the IR name on the wire: plain ASCII
        // letters, digits, blanks and hyphens, no dot (the IR name would be cut at it), no blank at
        // either end, unique even on a file system that ignores letter case.
        for (char ch : e.name) {
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(ch)) || ch == ' ' || ch == '-')
                << "'" << ch << "'";
        }
        EXPECT_NE(e.name.front(), ' ');
        EXPECT_NE(e.name.back(), ' ');
        std::string folded(e.name);
        std::transform(folded.begin(), folded.end(), folded.begin(),
                       [](unsigned char ch) { return std::tolower(ch); });
        EXPECT_TRUE(fileNames.insert(folded).second) << "duplicate label " << e.name;

        // One sentence of printable ASCII.
        for (char ch : e.description) EXPECT_TRUE(ch >= 0x20 && ch < 0x7F);
        EXPECT_EQ(e.description.back(), '.');
        EXPECT_EQ(e.description.find(". "), std::string_view::npos);
    }
}

TEST(FactoryCatalogue, DisplayNamesMarkTheMainEntries) {
    for (int i = 0; i < kFactoryIrCount; ++i) {
        const std::string label(factoryIrCatalogue()[static_cast<size_t>(i)].name);
        const bool main = i == 6 || i == 12 || i == 13;
        EXPECT_EQ(factoryIrDisplayName(i), main ? label + " (MAIN)" : label) << "entry " << i;
    }
    EXPECT_TRUE(factoryIrDisplayName(-1).empty());
    EXPECT_TRUE(factoryIrDisplayName(kFactoryIrCount).empty());
}

// A cabinet is short, has its energy between the low end and the upper mids and falls away above
// about 6 kHz; noise or a click would be flat up to 24 kHz.
TEST(FactoryCatalogue, ImagesSoundLikeCabinets) {
    for (int i = 0; i < kFactoryIrCount; ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        const auto f = irsynth::analyseIr(samplesOf(factoryIrCatalogue()[static_cast<size_t>(i)]), 48000.0);
        EXPECT_LT(f.highBandDb, -18.0) << "energy above 8 kHz against 200 Hz-4 kHz";
        EXPECT_LT(f.subsonicDb, -30.0) << "energy below 30 Hz";
        EXPECT_GT(f.lowEndDb, -25.0) << "a cabinet has low end";
        EXPECT_GT(f.centroidHz, 1000.0);
        EXPECT_LT(f.centroidHz, 5000.0);
        EXPECT_LT(f.length20dBMs, 30.0);
        EXPECT_LT(f.tailDb, -55.0) << "the response has died away before its end";
    }
}

// The images are what the synthesiser's recipes make; remodelling a cabinet with one loudspeaker
// shows what the others add: low end (they sum in phase at low frequencies) and a comb of peaks and
// notches (their sound arrives later, from the side).
TEST(FactoryCatalogue, SeveralLoudspeakersAddLowEndAndAComb) {
    const auto& recipes = irsynth::factoryRecipes();
    ASSERT_EQ(recipes.size(), static_cast<size_t>(kFactoryIrCount));
    for (size_t i = 0; i < recipes.size(); ++i) {
        const irsynth::SynthResult made = irsynth::synthesiseCabinet(recipes[i]);
        ASSERT_TRUE(made.error.empty()) << made.error;
        // Equal but for the last bits of another math library (the images are made on the build
        // machine; the Windows build recomputes them with MinGW's): a changed recipe moves far more.
        double worst = 0.0;
        for (size_t k = 0; k < made.samples.size(); ++k)
            worst = std::max(worst, std::abs(double{made.samples[k]} - kFactoryIrImages[i].samples[k]));
        EXPECT_LE(worst, 1e-9) << "entry " << i
                               << " is not what its recipe makes: the generated images are stale";
    }

    constexpr size_t kFft = 16384;
    constexpr double kBinHz = 48000.0 / kFft;
    auto bandMean = [&](const std::vector<double>& db, double lo, double hi) {
        double sum = 0.0;
        int count = 0;
        for (size_t k = 0; k < db.size(); ++k) {
            if (k * kBinHz >= lo && k * kBinHz <= hi) sum += db[k], ++count;
        }
        return sum / count;
    };
    for (size_t i = 10; i < recipes.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        irsynth::CabinetRecipe alone = recipes[i];
        ASSERT_GT(alone.speakerCount, 1);
        alone.speakerCount = 1;
        const std::vector<double> multi =
            irsynth::smoothedResponseDb(samplesOf(factoryIrCatalogue()[i]), kFft);
        const std::vector<double> single =
            irsynth::smoothedResponseDb(irsynth::synthesiseCabinet(alone).samples, kFft);
        std::vector<double> added(multi.size());
        for (size_t k = 0; k < added.size(); ++k) added[k] = multi[k] - single[k];

        const double mids = bandMean(added, 1000.0, 3000.0);
        EXPECT_GT(bandMean(added, 60.0, 160.0) - mids, 1.0) << "low end added, dB";
        double lo = 1e9, hi = -1e9;
        for (size_t k = 0; k < added.size(); ++k) {
            if (k * kBinHz < 300.0 || k * kBinHz > 3000.0) continue;
            lo = std::min(lo, added[k]);
            hi = std::max(hi, added[k]);
        }
        EXPECT_GT(hi - lo, 3.0) << "comb between 300 Hz and 3 kHz, peak to notch, dB";
    }

    // Among the factory images themselves: every 2 x 12 and 4 x 12 has more low end than the median
    // 1 x 12.
    std::vector<double> singles;
    for (size_t i = 0; i < 10; ++i)
        singles.push_back(irsynth::analyseIr(samplesOf(factoryIrCatalogue()[i]), 48000).lowEndDb);
    std::nth_element(singles.begin(), singles.begin() + 5, singles.end());
    for (size_t i = 11; i < recipes.size(); ++i) {
        EXPECT_GT(irsynth::analyseIr(samplesOf(factoryIrCatalogue()[i]), 48000).lowEndDb, singles[5])
            << "entry " << i;
    }
}

}  // namespace
}  // namespace halvard
