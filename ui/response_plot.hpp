#pragma once
// The frequency response plot of the IR panel: the axes shared by the curve drawings made at build
// time (tools/ir_synth draws one per factory IR, tools/asset_baker bakes it into a mask) and by the
// grid that the panel draws around a curve. Constants and pure functions; any thread.

#include <cmath>
#include <cstdint>

namespace halvard {

// The graph area inside the plot's well, in DIPs. A curve mask covers exactly this area at
// kResponseMaskScale device pixels per DIP, so at scale 2 it is drawn pixel for pixel.
inline constexpr int32_t kResponseGraphWidth = 200;
inline constexpr int32_t kResponseGraphHeight = 117;  // 3 DIPs per dB
inline constexpr int32_t kResponseMaskScale = 2;

// Axes: logarithmic frequency from 40 Hz to 20 kHz; level in dB relative to the curve's own
// maximum, from +3 at the top to -36 at the bottom. Curves are smoothed to a sixth of an octave.
inline constexpr double kResponseLowHz = 40.0;
inline constexpr double kResponseHighHz = 20000.0;
inline constexpr double kResponseTopDb = 3.0;
inline constexpr double kResponseBottomDb = -36.0;

// Where a frequency lies across the graph: 0 at 40 Hz, 1 at 20 kHz.
inline double responseX(double hz) {
    return std::log(hz / kResponseLowHz) / std::log(kResponseHighHz / kResponseLowHz);
}
// The frequency at a fraction x of the graph's width.
inline double responseHz(double x) {
    return kResponseLowHz * std::exp(x * std::log(kResponseHighHz / kResponseLowHz));
}
// Where a level lies down the graph: 0 at +3 dB, 1 at -36 dB.
inline double responseY(double db) {
    return (kResponseTopDb - db) / (kResponseTopDb - kResponseBottomDb);
}

}  // namespace halvard
