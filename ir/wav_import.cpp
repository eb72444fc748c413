// Sections: the conversion (trim, Lanczos resampler); decoding from memory with libsndfile's
// virtual I/O; reading the file.
//
// This file is compiled with -ffp-contract=off: the resampler's single- and double-precision steps
// are exact, and a fused multiply-add would change the bits.

#include "ir/wav_import.hpp"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <new>

#include "util/paths.hpp"

namespace halvard {
namespace {

// --- The conversion ------------------------------------------------------------------------------

// -40 dBFS: 10 to the power -2 in single precision. A sample equal to it (either sign) is silence.
constexpr float kSilenceThreshold = 0.01f;

bool isSilence(float s) {
    return s >= -kSilenceThreshold && s <= kSilenceThreshold;
}  // NaN is not

// The first channel as it is decoded, with its leading silence dropped: from the first sample that
// is not silence on, or only the last sample when every one is silence. It keeps just the part the
// resampler can reach (ceil(4096 x rate / 48000) samples and the kernel's reach), and counts the
// rest, so that a long file costs no memory here.
class TrimmedSignal {
public:
    explicit TrimmedSignal(int sampleRate)
        : limit_(static_cast<size_t>(std::ceil(double{kIrMaxSamples} * sampleRate / kIrSampleRate)) + 8) {}

    void push(float s) {
        ++decoded_;
        if (!started_) {
            if (isSilence(s)) {
                last_ = s;
                return;
            }
            started_ = true;
        }
        ++length_;
        if (kept_.size() < limit_) kept_.push_back(s);
    }

    uint64_t decoded() const { return decoded_; }
    // N: the trimmed length, whether kept or only counted.
    uint64_t length() const { return started_ ? length_ : std::min<uint64_t>(decoded_, 1); }
    std::span<const float> samples() const {
        return started_ ? std::span<const float>(kept_) : std::span<const float>(&last_, length());
    }

private:
    size_t limit_;
    uint64_t decoded_ = 0;
    uint64_t length_ = 0;
    bool started_ = false;
    float last_ = 0.0f;
    std::vector<float> kept_;
};

// The Taylor coefficients of sine, -1/3!, 1/5!, ..., -1/23!.
constexpr std::array<double, 11> kSineSeries = [] {
    std::array<double, 11> c{};
    double factorial = 1.0;
    for (int n = 1; n <= 11; ++n) {
        factorial *= (2.0 * n) * (2.0 * n + 1.0);
        c[static_cast<size_t>(n - 1)] = (n % 2 ? -1.0 : 1.0) / factorial;
    }
    return c;
}();

// sin(x) in single precision, the same bits on every system. The math libraries' sinf differ in
// the last bit (glibc's and MinGW's do), and the Linux and the Windows program would import one
// file differently. Here there are only IEEE double operations, each exactly rounded: x is reduced
// by the nearest multiple of pi, split into three parts so that each product is exact, and the
// sine of the rest (|r| <= pi/2) is its Taylor series to r^23 (truncated below 1e-20).
float portableSin(float x) {
    constexpr double kPi1 = 0x1.921fb544p+1;
    constexpr double kPi2 = 0x1.0b4611a6p-33;
    constexpr double kPi3 = 0x1.3198a2e037073p-68;
    const double v = x;
    const double k = std::round(v / kPi1);
    const double r = ((v - k * kPi1) - k * kPi2) - k * kPi3;
    const double r2 = r * r;
    double series = 0.0;
    for (auto c = kSineSeries.rbegin(); c != kSineSeries.rend(); ++c) series = (series + *c) * r2;
    const double sine = r + r * series;
    return static_cast<float>(static_cast<int64_t>(k) % 2 == 0 ? sine : -sine);
}

// Lanczos kernel, a = 3, with exactly these single- and double-precision steps.
float lanczos3(float d) {
    if (d == 0.0f) return 1.0f;
    if (!(d > -3.0f && d < 3.0f)) return 0.0f;
    const auto u = static_cast<float>(static_cast<double>(d) * 3.141592653589793);
    return portableSin(u / 3.0f) * (3.0f * portableSin(u)) / (u * u);
}

// To 48000 Hz. The weights are not normalised and the kernel is not widened for rates above
// 48000: what the amplifier has always received.
std::vector<float> resample(const TrimmedSignal& signal, int sampleRate) {
    const std::span<const float> x = signal.samples();
    const uint64_t length = signal.length();
    if (sampleRate == kIrSampleRate) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(length, kIrMaxSamples));
        return std::vector<float>(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n));
    }
    const float q = static_cast<float>(kIrSampleRate) / static_cast<float>(sampleRate);
    const float r = static_cast<float>(sampleRate) / static_cast<float>(kIrSampleRate);
    const float product = static_cast<float>(length) * q;
    const size_t n =
        product >= static_cast<float>(kIrMaxSamples) ? kIrMaxSamples : static_cast<size_t>(product);

    std::vector<float> y(n);
    for (size_t k = 0; k < n; ++k) {
        const float p = static_cast<float>(k) * r;
        const auto j = static_cast<int64_t>(std::floor(p));
        float sum = 0.0f;
        for (int64_t m = j - 4; m <= j + 3; ++m) {
            if (m < 0 || static_cast<uint64_t>(m) >= length) continue;
            assert(static_cast<size_t>(m) < x.size());  // the kept part covers the kernel's reach
            if (static_cast<size_t>(m) >= x.size()) break;
            sum += x[static_cast<size_t>(m)] * lanczos3(p - static_cast<float>(m));
        }
        y[k] = sum;
    }
    return y;
}

// --- Decoding from memory ------------------------------------------------------------------------

struct MemoryFile {
    std::span<const uint8_t> bytes;
    sf_count_t position = 0;

    sf_count_t size() const { return static_cast<sf_count_t>(bytes.size()); }
};

sf_count_t memoryLength(void* user) {
    return static_cast<MemoryFile*>(user)->size();
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = f->position;
    if (whence == SEEK_END) base = f->size();
    // A position before the start is refused; one past the end reads nothing.
    if (offset < -base || offset > std::numeric_limits<sf_count_t>::max() - base) return -1;
    f->position = base + offset;
    return f->position;
}

sf_count_t memoryRead(void* to, sf_count_t count, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    if (count <= 0 || f->position >= f->size()) return 0;
    const sf_count_t n = std::min(count, f->size() - f->position);
    std::memcpy(to, f->bytes.data() + f->position, static_cast<size_t>(n));
    f->position += n;
    return n;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t memoryTell(void* user) {
    return static_cast<MemoryFile*>(user)->position;
}

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};

bool acceptedContainer(int format) {
    const int major = format & SF_FORMAT_TYPEMASK;
    return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_W64;
}

bool acceptedEncoding(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_ALAW:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_IMA_ADPCM:
        case SF_FORMAT_MS_ADPCM:
            return true;
        default:
            return false;
    }
}

// An ADPCM file stores whole blocks, the last one padded, and libsndfile decodes the padding as
// well (a 3840-frame file made by sox decodes to 4072 frames in MS ADPCM, 4040 in IMA ADPCM). The
// RIFF "fact" chunk holds the true frame count; this returns it when it is believable, else
// `decoded`. Believable: less than the decoded count by less than one block. (libsndfile itself
// writes half the frame count into the fact chunk of a stereo IMA ADPCM file.)
sf_count_t adpcmFrameCount(std::span<const uint8_t> bytes, sf_count_t decoded) {
    const auto le16 = [&](size_t at) { return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8; };
    const auto le32 = [&](size_t at) { return le16(at) | le16(at + 2) << 16; };
    const auto isId = [&](size_t at, const char* id) { return std::memcmp(bytes.data() + at, id, 4) == 0; };
    if (bytes.size() < 12 || !isId(0, "RIFF") || !isId(8, "WAVE")) return decoded;
    uint32_t fact = 0;
    uint32_t blockFrames = 0;
    // Chunks: a 4-byte id, a 4-byte little-endian size, the contents padded to an even length.
    for (size_t at = 12; bytes.size() - at >= 8;) {
        const uint32_t size = le32(at + 4);
        const size_t contents = std::min<size_t>(size, bytes.size() - at - 8);
        if (isId(at, "fact") && contents >= 4) fact = le32(at + 8);
        // WAVEFORMATEX with wSamplesPerBlock after cbSize, in both ADPCM formats.
        if (isId(at, "fmt ") && contents >= 20) blockFrames = le16(at + 8 + 18);
        const uint64_t next = at + uint64_t{8} + size + (size & 1);
        if (next > bytes.size()) break;
        at = static_cast<size_t>(next);
    }
    if (fact > 0 && fact < decoded && decoded - fact < sf_count_t{blockFrames}) return fact;
    return decoded;
}

IrImport failure(WavImportError e) {
    return IrImport{e, {}, 0, 0};
}

IrImport importFromMemory(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return failure(WavImportError::EmptyFile);
    MemoryFile memory{bytes};
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open_virtual(&io, SFM_READ, &info, &memory));
    if (!file || !acceptedContainer(info.format)) return failure(WavImportError::NotWav);
    if (!acceptedEncoding(info.format)) return failure(WavImportError::UnsupportedData);
    if (info.samplerate < kIrMinSourceRate || info.samplerate > kIrMaxSourceRate || info.channels < 1 ||
        info.channels > 2) {
        IrImport refused = failure(WavImportError::RateOrChannels);
        refused.sampleRate = info.samplerate;
        refused.channels = info.channels;
        return refused;
    }

    // Every frame of the file's audio is decoded (the output is still at most 4096 samples); in
    // ADPCM, not the padding of the last block.
    sf_count_t remaining = std::numeric_limits<sf_count_t>::max();
    const int encoding = info.format & SF_FORMAT_SUBMASK;
    if (encoding == SF_FORMAT_IMA_ADPCM || encoding == SF_FORMAT_MS_ADPCM) {
        remaining = adpcmFrameCount(bytes, info.frames);
    }
    constexpr sf_count_t kBlockFrames = 4096;
    const auto channels = static_cast<size_t>(info.channels);
    std::vector<float> block(static_cast<size_t>(kBlockFrames) * channels);
    TrimmedSignal signal(info.samplerate);
    for (;;) {
        const sf_count_t got = sf_readf_float(file.get(), block.data(), std::min(kBlockFrames, remaining));
        if (got <= 0) break;
        remaining -= got;
        for (size_t f = 0; f < static_cast<size_t>(got); ++f) {
            const float s = block[f * channels];
            if (!std::isfinite(s)) return failure(WavImportError::NonFinite);
            signal.push(s);
        }
    }
    if (signal.decoded() == 0) return failure(WavImportError::NoAudio);

    // Finite samples near the float range's end can sum past it in the resampler.
    const std::vector<float> samples = resample(signal, info.samplerate);
    if (!std::all_of(samples.begin(), samples.end(), [](float v) { return std::isfinite(v); }))
        return failure(WavImportError::NonFinite);
    std::optional<IrWavImage> image = buildIrWavImage(samples);
    if (!image) return failure(WavImportError::ImageWriter);
    return IrImport{WavImportError::None, std::move(*image), info.samplerate, info.channels};
}

// --- Reading the file ----------------------------------------------------------------------------

IrImport importFromFile(const std::string& path) {
    if (path.empty()) return failure(WavImportError::Unreadable);
    // Only a regular file is opened, so that a FIFO under the chosen name cannot hang the worker.
    const std::filesystem::path file = pathFromUtf8(path);
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return failure(WavImportError::Unreadable);
    const uintmax_t size = std::filesystem::file_size(file, error);
    if (error) return failure(WavImportError::Unreadable);
    if (size == 0) return failure(WavImportError::EmptyFile);
    if (size > kWavFileMaxBytes) return failure(WavImportError::TooLarge);

    std::ifstream in(file, std::ios::binary);
    if (!in) return failure(WavImportError::Unreadable);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<uintmax_t>(in.gcount()) != size) return failure(WavImportError::ShortRead);
    return importFromMemory(bytes);
}

}  // namespace

IrImport prepareIrFromWav(const std::string& path) {
    try {
        return importFromFile(path);
    } catch (const std::bad_alloc&) {
        return failure(WavImportError::OutOfMemory);
    }
}

IrImport prepareIrFromMemory(std::span<const uint8_t> bytes) {
    try {
        return importFromMemory(bytes);
    } catch (const std::bad_alloc&) {
        return failure(WavImportError::OutOfMemory);
    }
}

std::vector<float> convertWavToIr(std::span<const float> frames, int channels, int sampleRate) {
    if (channels < 1 || sampleRate <= 0) return {};
    const size_t count = frames.size() / static_cast<size_t>(channels);
    TrimmedSignal signal(sampleRate);
    for (size_t f = 0; f < count; ++f) signal.push(frames[f * static_cast<size_t>(channels)]);
    if (signal.decoded() == 0) return {};
    return resample(signal, sampleRate);
}

std::string wavImportReason(const IrImport& ir) {
    switch (ir.error) {
        case WavImportError::None:
            return {};
        case WavImportError::Unreadable:
            return "the file cannot be read";
        case WavImportError::EmptyFile:
            return "the file is empty";
        case WavImportError::TooLarge:
            return "larger than " + std::to_string(kWavFileMaxBytes >> 20) + " MB";
        case WavImportError::ShortRead:
            return "the file could not be read whole";
        case WavImportError::NotWav:
            return "not a WAV file";
        case WavImportError::UnsupportedData:
            return "an encoding other than PCM, float, A-law, mu-law or ADPCM";
        case WavImportError::RateOrChannels:
            if (ir.sampleRate < kIrMinSourceRate || ir.sampleRate > kIrMaxSourceRate)
                return std::to_string(ir.sampleRate) + " Hz (" + std::to_string(kIrMinSourceRate) + " to " +
                       std::to_string(kIrMaxSourceRate) + " only)";
            return std::to_string(ir.channels) + " channels (mono or stereo only)";
        case WavImportError::NoAudio:
            return "no audio in the file";
        case WavImportError::NonFinite:
            return "a sample that is not a number";
        case WavImportError::ImageWriter:
            return "the IR cannot be packed";
        case WavImportError::OutOfMemory:
            return "out of memory";
    }
    return "not importable";
}

}  // namespace halvard
