#include "ir_analysis.hpp"

#include <algorithm>
#include <cmath>

#include "fft.hpp"
#include "ui/response_plot.hpp"

namespace halvard::irsynth {
namespace {

std::vector<Complex> spectrumOf(std::span<const float> samples, size_t size) {
    std::vector<Complex> spectrum(size);
    for (size_t n = 0; n < std::min(samples.size(), size); ++n) spectrum[n] = samples[n];
    fft(spectrum, false);
    spectrum.resize(size / 2 + 1);
    return spectrum;
}

}  // namespace

IrFigures analyseIr(std::span<const float> samples, double rate) {
    IrFigures fig;
    if (samples.empty()) return fig;

    size_t peak = 0;
    for (size_t n = 0; n < samples.size(); ++n) {
        if (samples[n] > samples[peak]) peak = n;
    }
    fig.peak = samples[peak];
    fig.peakIndex = static_cast<int>(peak);

    const double magnitudePeak = std::max(std::abs(static_cast<double>(fig.peak)), 1e-30);
    size_t last = 0;
    for (size_t n = 0; n < samples.size(); ++n) {
        if (std::abs(samples[n]) >= 0.1 * magnitudePeak) last = n;
    }
    fig.length20dBMs = static_cast<double>(last + 1) / rate * 1000.0;

    const size_t tailCount = std::max<size_t>(1, std::min(samples.size(), static_cast<size_t>(0.020 * rate)));
    double tailEnergy = 0.0;
    for (size_t n = samples.size() - tailCount; n < samples.size(); ++n) {
        tailEnergy += static_cast<double>(samples[n]) * samples[n];
    }
    fig.tailDb = 10.0 * std::log10(std::max(tailEnergy / tailCount, 1e-30) / (magnitudePeak * magnitudePeak));

    size_t size = 1;
    while (size < 2 * samples.size()) size <<= 1;
    const std::vector<Complex> spectrum = spectrumOf(samples, size);
    const double binHz = rate / static_cast<double>(size);

    auto bandEnergy = [&](double lo, double hi) {
        double e = 0.0;
        for (size_t k = 0; k < spectrum.size(); ++k) {
            const double f = static_cast<double>(k) * binHz;
            if (f >= lo && f < hi) e += std::norm(spectrum[k]);
        }
        return std::max(e, 1e-30);
    };
    const double body = bandEnergy(200.0, 4000.0);
    fig.lowEndDb = 10.0 * std::log10(bandEnergy(60.0, 160.0) / body);
    fig.highBandDb = 10.0 * std::log10(bandEnergy(8000.0, rate) / body);
    fig.subsonicDb = 10.0 * std::log10(bandEnergy(0.0, 30.0) / body);

    double weighted = 0.0;
    double total = 0.0;
    for (size_t k = 0; k < spectrum.size(); ++k) {
        const double f = static_cast<double>(k) * binHz;
        if (f < 20.0 || f > 20000.0) continue;
        weighted += f * std::norm(spectrum[k]);
        total += std::norm(spectrum[k]);
    }
    fig.centroidHz = total > 0.0 ? weighted / total : 0.0;
    return fig;
}

std::vector<double> smoothedResponseDb(std::span<const float> samples, size_t fftSize) {
    const std::vector<Complex> spectrum = spectrumOf(samples, fftSize);
    // Prefix sums of the power, so that each band average costs two look-ups.
    std::vector<double> cumulative(spectrum.size() + 1, 0.0);
    for (size_t k = 0; k < spectrum.size(); ++k) cumulative[k + 1] = cumulative[k] + std::norm(spectrum[k]);

    const double halfBand = std::pow(2.0, 1.0 / 12.0);
    std::vector<double> db(spectrum.size());
    for (size_t k = 0; k < spectrum.size(); ++k) {
        const size_t lo = static_cast<size_t>(std::floor(static_cast<double>(k) / halfBand));
        const size_t hi =
            std::min(spectrum.size() - 1, static_cast<size_t>(std::ceil(static_cast<double>(k) * halfBand)));
        const double mean = (cumulative[hi + 1] - cumulative[lo]) / static_cast<double>(hi + 1 - lo);
        db[k] = 10.0 * std::log10(std::max(mean, 1e-30));
    }
    return db;
}

std::vector<double> plotResponseDb(std::span<const float> samples, double rate, int points) {
    // Bins well under the smoothing band even at 40 Hz, where a sixth of an octave is 4.6 Hz wide.
    size_t size = 1;
    while (size < 4 * samples.size()) size <<= 1;
    const std::vector<double> db = smoothedResponseDb(samples, size);
    const double binHz = rate / static_cast<double>(size);
    std::vector<double> curve(static_cast<size_t>(std::max(points, 2)));
    for (size_t i = 0; i < curve.size(); ++i) {
        const double bin = responseHz(static_cast<double>(i) / static_cast<double>(curve.size() - 1)) / binHz;
        const auto below = std::min(static_cast<size_t>(bin), db.size() - 2);
        const double t = bin - static_cast<double>(below);
        curve[i] = db[below] * (1.0 - t) + db[below + 1] * t;
    }
    const double top = *std::max_element(curve.begin(), curve.end());
    for (double& v : curve) v -= top;
    return curve;
}

}  // namespace halvard::irsynth
