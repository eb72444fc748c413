#pragma once
// The IR WAV image, the form in which an IR goes to the amplifier and into extracted files, and the
// IR name that travels with it in the store message.
//
// Image layout, every multi-byte field little-endian:
//    0  "RIFF"           4  36 + D          8  "WAVE"        12  "fmt "       16  16
//   20  3 (IEEE float)  22  1 channel      24  48000 Hz     28  192000 bytes/s
//   32  4 (block align) 34  32 bits        36  "data"       40  D = 4 x n     44  n float samples
// No other chunk and no pad byte: 44 + 4 x n bytes in all.
//
// Pure functions; any thread may call them.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "ir/factory_ir_image.hpp"

namespace halvard {

inline constexpr size_t kIrWavHeaderBytes = 44;
inline constexpr size_t kIrNameBytes = 64;

using IrWavImage = std::vector<uint8_t>;

// Fails (nullopt) only for more samples than the 32-bit size fields can describe.
std::optional<IrWavImage> buildIrWavImage(std::span<const float> samples);

// A factory entry's image: frame count L >> 2, samples from offset 4 of the block.
std::optional<IrWavImage> buildIrWavImage(const FactoryIrImage& image);

// The 64-byte name field of the IR store message: up to 64 bytes of 7-bit text, padded with zero
// bytes; a name of 64 bytes fills the field with no terminating zero.
struct IrName {
    std::array<uint8_t, kIrNameBytes> field{};

    std::string_view text() const;
};

// From a path the user picked (UTF-8): the last path component, each non-ASCII character (or byte
// that is not valid UTF-8) as one "_", ASCII letters up-cased, then cut at the last ".", then at the
// last ".WAVE", then at the last ".WAV". "Room Mic.wav" gives "ROOM MIC", "cab.wav.wav" gives "CAB".
IrName irNameFromFileName(std::string_view path);

// The same steps for a factory label, which is not treated as a path.
IrName irNameFromLabel(std::string_view label);

}  // namespace halvard
