#pragma once
// WAV import: turns a WAV file into the amplifier's IR form (mono, 48000 Hz, at most 4096 float
// samples) packed as an IR WAV image (ir/ir_image.hpp).
//
// Accepted: RIFF/WAVE (also WAVE_FORMAT_EXTENSIBLE) and Wave64 files holding integer PCM (8 to 32
// bits), IEEE float (32 or 64 bits), A-law, mu-law, Microsoft ADPCM or IMA ADPCM, at 44100 to
// 96000 Hz, with 1 or 2 channels. Only the first channel is used.
//
// These are pure operations: no MIDI, no shared state. On failure the caller (the ImportIr command
// handler) returns linkState to Connected and sends nothing. Called on the worker thread; no
// exceptions escape.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ir/ir_image.hpp"

namespace halvard {

inline constexpr int kIrMaxSamples = 4096;
inline constexpr int kIrMinSourceRate = 44100;
inline constexpr int kIrMaxSourceRate = 96000;
// No impulse response comes near this; a larger file is rejected before it is read.
inline constexpr uint64_t kWavFileMaxBytes = uint64_t{256} << 20;

enum class WavImportError {
    None,
    Unreadable,       // empty path, missing, unreadable, a directory or another non-regular file
    EmptyFile,        // 0 bytes
    TooLarge,         // more than kWavFileMaxBytes
    ShortRead,        // fewer bytes arrived than the file's size
    NotWav,           // not a RIFF/WAVE or Wave64 file that the decoder can open
    UnsupportedData,  // a WAV container with an encoding outside the accepted list
    RateOrChannels,   // rate outside 44100..96000 or more than 2 channels
    NoAudio,          // no frames decoded
    NonFinite,        // a NaN or infinite sample in the first channel
    ImageWriter,      // the image cannot hold the samples
    OutOfMemory,      // a working buffer could not be allocated
};

struct IrImport {
    WavImportError error = WavImportError::None;
    IrWavImage image;    // filled when error is None
    int sampleRate = 0;  // the file's, once its header was read (0: not known)
    int channels = 0;

    bool ok() const { return error == WavImportError::None; }
};

// Why a file was refused, for the user: "192000 Hz (44100 to 96000 only)", "not a WAV file", ...;
// empty for an import that succeeded. The editor's status line writes it in upper case.
std::string wavImportReason(const IrImport& ir);

// Reads the whole file (at most kWavFileMaxBytes) and imports it.
IrImport prepareIrFromWav(const std::string& path);

// Imports a WAV file held in memory (the file's complete bytes).
IrImport prepareIrFromMemory(std::span<const uint8_t> bytes);

// The conversion itself, from decoded interleaved frames: first channel, leading silence trimmed
// (samples within +-0.01 inclusive; NaN counts as sound), then brought to 48000 Hz by a Lanczos
// (a = 3) resampler, at most 4096 samples. Exact to the float: the same input gives the same bits
// on every build. channels must be at least 1; frames beyond whole frames are ignored.
std::vector<float> convertWavToIr(std::span<const float> frames, int channels, int sampleRate);

}  // namespace halvard
