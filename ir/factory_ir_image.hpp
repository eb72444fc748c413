#pragma once
// The sample block of one factory IR, as the program carries it: constant data, little-endian,
//   offset 0  "RW" (no reader checks it)
//   offset 2  unsigned 16-bit byte length L of the samples (39936 in every image)
//   offset 4  L / 4 single-precision samples, mono, 48000 Hz
// Readers take the frame count as L >> 2 and the samples from offset 4. Every image peaks at
// exactly +0.98855 (-0.1 dBFS) at sample 4 or 5, and its first sample already exceeds 0.01 in
// magnitude.
//
// The 15 images are made at build time by tools/ir_synth and compiled in from the build tree.

#include <bit>
#include <cstddef>
#include <cstdint>

namespace halvard {

inline constexpr int kFactoryIrCount = 15;
inline constexpr int kFactoryIrSamples = 9984;
inline constexpr uint16_t kFactoryIrByteLength = kFactoryIrSamples * 4;
inline constexpr float kFactoryIrPeak = 0.98855f;
inline constexpr int kIrSampleRate = 48000;

struct FactoryIrImage {
    char tag[2];
    uint16_t byteLength;
    float samples[kFactoryIrSamples];

    // Frame count as readers take it, never more than the block holds.
    constexpr int frameCount() const {
        const int frames = byteLength >> 2;
        return frames < kFactoryIrSamples ? frames : kFactoryIrSamples;
    }
};

static_assert(std::endian::native == std::endian::little, "factory images are little-endian blocks");
static_assert(offsetof(FactoryIrImage, byteLength) == 2 && offsetof(FactoryIrImage, samples) == 4);
static_assert(sizeof(FactoryIrImage) == 4 + kFactoryIrByteLength);

// Defined in the generated factory_ir_images.cpp, in catalogue order.
extern const FactoryIrImage kFactoryIrImages[kFactoryIrCount];

}  // namespace halvard
