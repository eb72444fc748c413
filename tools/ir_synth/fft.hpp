#pragma once
// A small in-place radix-2 FFT in double precision, enough for designing and measuring the factory
// cabinet responses at build time. Not used by the editor itself.

#include <complex>
#include <span>

namespace halvard::irsynth {

using Complex = std::complex<double>;

// Transforms data in place; data.size() must be a power of two. inverse = true computes the
// inverse transform including the 1/N scaling.
void fft(std::span<Complex> data, bool inverse);

}  // namespace halvard::irsynth
