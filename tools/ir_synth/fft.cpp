#include "fft.hpp"

#include <cassert>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace halvard::irsynth {

void fft(std::span<Complex> data, bool inverse) {
    const size_t n = data.size();
    assert(n != 0 && (n & (n - 1)) == 0);

    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(data[i], data[j]);
    }

    // Twiddles computed directly, not by recurrence, so that long transforms keep their accuracy.
    const double sign = inverse ? 1.0 : -1.0;
    std::vector<Complex> twiddles(n / 2);
    for (size_t k = 0; k < n / 2; ++k) {
        twiddles[k] =
            std::polar(1.0, sign * 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n));
    }

    for (size_t len = 2; len <= n; len <<= 1) {
        const size_t stride = n / len;
        for (size_t start = 0; start < n; start += len) {
            for (size_t k = 0; k < len / 2; ++k) {
                const Complex a = data[start + k];
                const Complex b = data[start + k + len / 2] * twiddles[k * stride];
                data[start + k] = a + b;
                data[start + k + len / 2] = a - b;
            }
        }
    }

    if (inverse) {
        const double scale = 1.0 / static_cast<double>(n);
        for (Complex& v : data) v *= scale;
    }
}

}  // namespace halvard::irsynth
