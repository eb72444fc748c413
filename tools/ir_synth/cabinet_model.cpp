// Sections: frequency-domain shapes; loudspeaker and microphone colour; minimum-phase design;
// cabinet geometry and reflections; room tail; alignment of the onset and the peak.

#include "cabinet_model.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "fft.hpp"
#include "ir/factory_ir_image.hpp"

namespace halvard::irsynth {
namespace {

constexpr double kRate = kIrSampleRate;
constexpr size_t kFftSize = 32768;  // 0.68 s: room for the longest tail and the onset delay
constexpr size_t kBins = kFftSize / 2 + 1;
constexpr double kSpeedOfSound = 343.0;
constexpr double kPi = std::numbers::pi;
constexpr double kOnsetDelay = 48.0;  // samples of silence in front of the direct sound before alignment

using Spectrum = std::vector<Complex>;  // kBins values, bin k at k * kRate / kFftSize Hz

double binHz(size_t k) {
    return std::max(1.0, static_cast<double>(k) * kRate / static_cast<double>(kFftSize));
}

// SplitMix64: the same numbers on every machine, unlike the standard distributions.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    double uniform() {
        state_ += 0x9E3779B97F4A7C15ull;
        uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1.0p-53;
    }
    // Roughly Gaussian, from the sum of four uniforms.
    double noise() { return (uniform() + uniform() + uniform() + uniform() - 2.0) * std::sqrt(3.0); }

private:
    uint64_t state_;
};

// --- Frequency-domain shapes (magnitudes in dB) --------------------------------------------------

double bellDb(double f, double fc, double q, double gainDb) {
    const double x = q * (f / fc - fc / f);
    return gainDb / (1.0 + x * x);
}

double lowpassDb(double f, double fc, int order) {
    return -10.0 * std::log10(1.0 + std::pow(f / fc, 2.0 * order));
}

double highpassDb(double f, double fc, int order) {
    return -10.0 * std::log10(1.0 + std::pow(fc / f, 2.0 * order));
}

// The loudspeaker's low end: a second-order high-pass at its resonance, peaking with Q.
double resonanceDb(double f, double f0, double q) {
    const double x = f / f0;
    const double den = std::sqrt((1.0 - x * x) * (1.0 - x * x) + (x / q) * (x / q));
    return 20.0 * std::log10(x * x / den);
}

double lowShelfDb(double f, double fc, double gainDb) {
    return gainDb / (1.0 + (f / fc) * (f / fc));
}

double highShelfDb(double f, double fc, double gainDb) {
    const double x = (f / fc) * (f / fc);
    return gainDb * x / (1.0 + x);
}

// Complex responses of small causal filters, evaluated on the bin grid.
Complex lowpass1(double f, double fc) {
    return 1.0 / Complex(1.0, f / fc);
}

Complex delay(size_t k, double samples) {
    return std::polar(1.0, -2.0 * kPi * static_cast<double>(k) * samples / static_cast<double>(kFftSize));
}

// --- Loudspeaker and microphone colour ------------------------------------------------------------

// One loudspeaker unit. Units of one cabinet share the recipe but differ a little (seed).
std::vector<double> speakerDb(const CabinetRecipe& r, uint64_t unitSeed) {
    Rng rng(unitSeed);
    const double resonance = r.resonanceHz * (0.97 + 0.06 * rng.uniform());
    struct Ripple {
        double hz, q, db;
    };
    std::vector<Ripple> ripples(14);
    for (Ripple& p : ripples) {
        p.hz = 600.0 * std::pow(9000.0 / 600.0, rng.uniform());
        p.q = 3.0 + 7.0 * rng.uniform();
        p.db = (2.0 * rng.uniform() - 1.0) * 2.5;
    }
    const double boxMode = kSpeedOfSound / (2.0 * r.depthCm / 100.0);

    std::vector<double> db(kBins);
    for (size_t k = 0; k < kBins; ++k) {
        const double f = binHz(k);
        double v = resonanceDb(f, resonance, r.resonanceQ) + highpassDb(f, 35.0, 2);
        v += bellDb(f, 220.0, 1.0, 1.0);  // lower-mid body of the cone
        v += bellDb(f, r.scoopHz, 1.2, r.scoopDb);
        v += bellDb(f, r.breakupHz, 1.6, r.breakupDb);
        v += bellDb(f, r.breakupHz * 1.45, 3.0, 0.5 * r.breakupDb);
        v += lowpassDb(f, r.rolloffHz, 4) + lowpassDb(f, r.rolloffHz * 1.7, 2);
        if (!r.openBack) {
            // Standing waves between baffle and back panel.
            v += bellDb(f, boxMode, 6.0, 2.0) + bellDb(f, 2.0 * boxMode, 8.0, 1.2);
        }
        for (const Ripple& p : ripples) v += bellDb(f, p.hz, p.q, p.db);
        db[k] = v;
    }
    return db;
}

double micTypeDb(MicType type, double f, double distanceCm) {
    switch (type) {
        case MicType::Dynamic:
            return bellDb(f, 5200.0, 1.3, 4.5) + highpassDb(f, 55.0, 1) + lowpassDb(f, 14000.0, 2) +
                   lowShelfDb(f, 160.0, 9.0 * std::exp(-distanceCm / 3.0));
        case MicType::Ribbon:
            return lowpassDb(f, 7500.0, 2) + bellDb(f, 3500.0, 0.8, -1.5) +
                   lowShelfDb(f, 220.0, 12.0 * std::exp(-distanceCm / 10.0));
        case MicType::Condenser:
            return bellDb(f, 9500.0, 0.9, 2.5) + bellDb(f, 4000.0, 1.5, 1.0) +
                   lowShelfDb(f, 150.0, 6.0 * std::exp(-distanceCm / 5.0));
    }
    return 0.0;
}

// Where on the cone the microphone points: the dust cap is bright, the cone towards its edge darker;
// turning the microphone off axis softens the top.
double aimDb(const MicPlacement& m, double f) {
    const double o = std::clamp(m.offCentre, 0.0, 1.0);
    return bellDb(f, 3300.0, 1.0, 4.0 * (1.0 - o) - 1.0) + highShelfDb(f, 4000.0, -9.0 * o) +
           highShelfDb(f, 2500.0, -6.0 * m.angleDeg / 45.0);
}

// Pick-up at angle theta off the microphone's axis: cardioid for dynamics and condensers, figure
// of eight for ribbons (with a floor, as the near field never cancels fully).
double polarGain(MicType type, double theta) {
    if (type == MicType::Ribbon) return std::max(0.1, std::abs(std::cos(theta)));
    return 0.5 + 0.5 * std::cos(theta);
}

// --- Minimum-phase design ------------------------------------------------------------------------

// The minimum-phase spectrum whose magnitude is the given dB curve (folded real cepstrum).
Spectrum minimumPhase(const std::vector<double>& db) {
    std::vector<Complex> work(kFftSize);
    for (size_t k = 0; k < kBins; ++k) {
        const double logMag = std::max(db[k], -140.0) * std::log(10.0) / 20.0;
        work[k] = logMag;
        if (k != 0 && k != kFftSize / 2) work[kFftSize - k] = logMag;
    }
    fft(work, true);
    for (size_t n = 1; n < kFftSize / 2; ++n) {
        work[n] *= 2.0;
        work[kFftSize - n] = 0.0;
    }
    fft(work, false);
    Spectrum out(kBins);
    for (size_t k = 0; k < kBins; ++k) out[k] = std::exp(work[k]);
    return out;
}

std::vector<double> toTimeDomain(const Spectrum& spectrum) {
    std::vector<Complex> work(kFftSize);
    for (size_t k = 0; k < kBins; ++k) {
        work[k] = spectrum[k];
        if (k != 0 && k != kFftSize / 2) work[kFftSize - k] = std::conj(spectrum[k]);
    }
    work[kFftSize / 2] = work[kFftSize / 2].real();
    fft(work, true);
    std::vector<double> out(kFftSize);
    for (size_t n = 0; n < kFftSize; ++n) out[n] = work[n].real();
    return out;
}

Spectrum toSpectrum(const std::vector<double>& signal) {
    std::vector<Complex> work(kFftSize);
    for (size_t n = 0; n < std::min(signal.size(), kFftSize); ++n) work[n] = signal[n];
    fft(work, false);
    return Spectrum(work.begin(), work.begin() + kBins);
}

// --- Cabinet geometry and reflections ------------------------------------------------------------

struct Unit {
    double x, y;  // centre on the baffle, metres
};

std::vector<Unit> unitLayout(const CabinetRecipe& r) {
    const double spacing = r.speakerInches == 10 ? 0.29 : 0.34;
    std::vector<Unit> units{{0.0, 0.0}};
    if (r.speakerCount >= 2) units.push_back({spacing, 0.0});
    if (r.speakerCount >= 4) {
        units.push_back({0.0, spacing});
        units.push_back({spacing, spacing});
    }
    return units;
}

// Everything one microphone hears straight from the loudspeakers. The microphone faces unit 0; the
// other units reach it later, from the side and duller.
Spectrum microphonePath(const CabinetRecipe& r, const MicPlacement& m, const std::vector<Unit>& units) {
    const double coneRadius = r.speakerInches == 10 ? 0.11 : 0.13;
    const double micX = m.offCentre * coneRadius;
    const double depth = m.distanceCm / 100.0 + 0.02;  // grille to cone

    struct Path {
        double gain, distanceM, theta;
    };
    std::vector<Path> paths;
    double nearest = 1e9;
    for (const Unit& u : units) {
        const double lateral = std::hypot(u.x - micX, u.y);
        const double distance = std::hypot(lateral, depth);
        // Within about a cone radius the pressure stops rising as the microphone comes closer.
        const double effective = std::hypot(distance, 0.8 * coneRadius);
        paths.push_back({1.0 / effective, distance, std::atan2(lateral, depth)});
        nearest = std::min(nearest, distance);
    }
    const double reference = paths[0].gain;

    Spectrum sum(kBins, 0.0);
    for (size_t i = 0; i < units.size(); ++i) {
        const Path& p = paths[i];
        std::vector<double> db = speakerDb(r, r.seed * 7919u + i);
        for (size_t k = 0; k < kBins; ++k) {
            const double f = binHz(k);
            db[k] += micTypeDb(m.type, f, m.distanceCm);
            if (i == 0) db[k] += aimDb(m, f);
        }
        const Spectrum unit = minimumPhase(db);
        const double gain = p.gain / reference * (i == 0 ? 1.0 : polarGain(m.type, p.theta));
        const double lag = (p.distanceM - nearest) / kSpeedOfSound * kRate;
        // A cone radiates its highs in a narrowing beam: seen from the side, it is a low-pass. A
        // paper cone breaks up rather than moving as a piston, so the beam narrows gently.
        const double sinTheta = std::sin(p.theta);
        const double beamHz =
            sinTheta > 0.05 ? 2.5 * kSpeedOfSound / (2.0 * kPi * coneRadius * sinTheta) : 0.0;
        for (size_t k = 0; k < kBins; ++k) {
            Complex v = unit[k] * gain * delay(k, lag);
            if (i != 0 && beamHz > 0.0) v *= lowpass1(binHz(k), beamHz);
            sum[k] += v;
        }
    }
    return sum;
}

// Reflections that every microphone hears alike: the inverted wave from an open back and the wall
// behind the cabinet; for a distant microphone the floor and a few room boundaries.
Spectrum reflections(const CabinetRecipe& r, double micDistanceM, Rng& rng) {
    struct Reflection {
        double gain, delayMs, lowpassHz;
    };
    std::vector<Reflection> list;
    if (r.openBack) {
        const double aroundM = r.depthCm / 100.0 + 0.25;
        list.push_back({-0.45, aroundM / kSpeedOfSound * 1000.0, 400.0});
        list.push_back({-0.2, (aroundM + 1.2) / kSpeedOfSound * 1000.0, 1500.0});
    }
    if (r.micHeightM > 0.0) {
        const double speakerHeight = 0.45;
        const double direct = std::hypot(micDistanceM, r.micHeightM - speakerHeight);
        const double floor = std::hypot(micDistanceM, r.micHeightM + speakerHeight);
        list.push_back({0.7 * direct / floor, (floor - direct) / kSpeedOfSound * 1000.0, 4000.0});
        for (int i = 0; i < 3; ++i) {
            list.push_back({0.18 + 0.12 * rng.uniform(), 7.0 + 9.0 * rng.uniform(), 3000.0});
        }
    }
    Spectrum out(kBins, 1.0);
    for (const Reflection& x : list) {
        const double lag = x.delayMs / 1000.0 * kRate;
        for (size_t k = 0; k < kBins; ++k) out[k] += x.gain * delay(k, lag) * lowpass1(binHz(k), x.lowpassHz);
    }
    return out;
}

// --- Room tail -----------------------------------------------------------------------------------

// Decaying noise, darker than the direct sound, coloured by the direct path itself.
Spectrum roomTail(const CabinetRecipe& r, const Spectrum& direct, double startMs, Rng& rng) {
    std::vector<double> noise(kFftSize, 0.0);
    const double start = startMs / 1000.0 * kRate;
    const double ramp = 0.005 * kRate;
    const double decayPerSample = 6.9078 / (r.roomRt60 * kRate);
    double energy = 0.0;
    for (size_t n = static_cast<size_t>(start); n < kFftSize; ++n) {
        const double t = static_cast<double>(n) - start;
        const double envelope = std::min(1.0, t / ramp) * std::exp(-decayPerSample * t);
        noise[n] = rng.noise() * envelope;
        energy += noise[n] * noise[n];
    }
    const double scale = energy > 0.0 ? r.roomLevel / std::sqrt(energy) : 0.0;
    Spectrum tail = toSpectrum(noise);
    for (size_t k = 0; k < kBins; ++k) tail[k] *= scale * direct[k] * lowpass1(binHz(k), 2500.0);
    return tail;
}

// --- Onset and peak ------------------------------------------------------------------------------

struct Alignment {
    size_t start = 0;
    size_t peak = 0;
    double firstRatio = 0.0;
};

// Picks the first sample so that the peak lands on sample 4 or 5 and the first sample carries at
// least 1.25 % of the peak, preferring an onset near 3 % (just above the -40 dB silence threshold
// of an import trim, as a trimmed capture would start).
bool align(const std::vector<double>& h, Alignment& best) {
    size_t peak = 0;
    for (size_t n = 0; n < h.size(); ++n) {
        if (std::abs(h[n]) > std::abs(h[peak])) peak = n;
    }
    if (h[peak] <= 0.0 || peak < 5) return false;
    bool found = false;
    for (size_t lead : {size_t{4}, size_t{5}}) {
        const double ratio = std::abs(h[peak - lead]) / h[peak];
        if (ratio < 0.0125 || ratio > 0.3) continue;
        const double score = std::abs(std::log(ratio / 0.03));
        if (!found || score < std::abs(std::log(best.firstRatio / 0.03))) {
            best = {peak - lead, peak, ratio};
            found = true;
        }
    }
    return found;
}

}  // namespace

SynthResult synthesiseCabinet(const CabinetRecipe& r) {
    SynthResult result;
    if (r.mics.empty()) {
        result.error = "recipe has no microphone";
        return result;
    }
    Rng rng(r.seed ^ 0x5DEECE66Dull);
    const std::vector<Unit> units = unitLayout(r);

    Spectrum direct(kBins, 0.0);
    for (const MicPlacement& m : r.mics) {
        const Spectrum path = microphonePath(r, m, units);
        const double lag = m.delayMs / 1000.0 * kRate;
        for (size_t k = 0; k < kBins; ++k) direct[k] += m.level * path[k] * delay(k, lag);
    }

    const double micDistanceM = r.mics.front().distanceCm / 100.0;
    const Spectrum boundaries = reflections(r, micDistanceM, rng);
    const double tailStartMs = r.micHeightM > 0.0 ? 6.0 : 2.5;
    const Spectrum tail = roomTail(r, direct, tailStartMs, rng);

    // Try a few sub-sample positions of the onset; the sampling phase decides how the rise of the
    // direct sound falls on the grid.
    for (int step = 0; step < 16; ++step) {
        const double onset = kOnsetDelay + step / 16.0;
        Spectrum total(kBins);
        for (size_t k = 0; k < kBins; ++k) total[k] = (direct[k] * boundaries[k] + tail[k]) * delay(k, onset);
        const std::vector<double> h = toTimeDomain(total);

        Alignment a;
        if (!align(h, a)) continue;
        if (a.start + kFactoryIrSamples > h.size()) continue;

        const double scale = static_cast<double>(kFactoryIrPeak) / h[a.peak];
        std::vector<float> out(kFactoryIrSamples);
        const size_t fade = static_cast<size_t>(0.010 * kRate);
        for (size_t n = 0; n < out.size(); ++n) {
            double v = h[a.start + n] * scale;
            const size_t left = out.size() - n;
            if (left <= fade) v *= 0.5 - 0.5 * std::cos(kPi * static_cast<double>(left - 1) / fade);
            out[n] = static_cast<float>(v);
        }
        const size_t peakIndex = a.peak - a.start;
        out[peakIndex] = kFactoryIrPeak;
        bool unique = true;
        for (size_t n = 0; n < out.size(); ++n) {
            if (n != peakIndex && std::abs(out[n]) >= kFactoryIrPeak) unique = false;
        }
        if (!unique || std::abs(out[0]) <= 0.01f) continue;
        result.samples = std::move(out);
        return result;
    }
    result.error = "no onset alignment puts the peak on sample 4 or 5 with a first sample above 0.01";
    return result;
}

}  // namespace halvard::irsynth
