#pragma once
// Figures that describe an impulse response as a cabinet: level, length and tonal balance. Used by
// halvard-ir-report and the catalogue tests.

#include <span>
#include <vector>

namespace halvard::irsynth {

struct IrFigures {
    float peak = 0.0f;          // largest sample value
    int peakIndex = 0;          // its position
    double length20dBMs = 0.0;  // time until the magnitude last reaches 1/10 of the peak
    double centroidHz = 0.0;    // power-weighted spectral centroid, 20 Hz to 20 kHz
    double lowEndDb = 0.0;      // energy 60-160 Hz relative to 200 Hz-4 kHz
    double highBandDb = 0.0;    // energy above 8 kHz relative to 200 Hz-4 kHz
    double subsonicDb = 0.0;    // energy below 30 Hz relative to 200 Hz-4 kHz
    double tailDb = 0.0;        // RMS of the last 20 ms relative to the peak
};

IrFigures analyseIr(std::span<const float> samples, double sampleRate);

// Magnitude response in dB on a grid of fftSize / 2 + 1 bins (fftSize a power of two, at least
// the signal's length), averaged over a sixth of an octave around each bin so that single bins
// between notches do not dominate.
std::vector<double> smoothedResponseDb(std::span<const float> samples, size_t fftSize);

// The curve of the IR panel's response plot: the sixth-octave smoothed response at `points`
// frequencies spread evenly over the plot's logarithmic axis (40 Hz to 20 kHz), in dB relative to
// the largest of them.
std::vector<double> plotResponseDb(std::span<const float> samples, double sampleRate, int points);

}  // namespace halvard::irsynth
