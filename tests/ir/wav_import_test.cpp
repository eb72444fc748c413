#include "ir/wav_import.hpp"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numbers>

#include "test_files.hpp"

namespace halvard {
namespace {

using test::TempDir;
using test::writeSoundFile;

// A decaying tone that starts loud, so that nothing is trimmed.
std::vector<float> decayingTone(size_t frames, int channels) {
    std::vector<float> out(frames * static_cast<size_t>(channels));
    for (size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n);
        out[n * channels] =
            static_cast<float>(0.8 * std::exp(-t / 900.0) * std::cos(2.0 * std::numbers::pi * t / 41.0));
        // A different signal on the right, which must never reach the IR.
        if (channels == 2) out[n * channels + 1] = static_cast<float>(0.5 * std::sin(t * 0.37));
    }
    return out;
}

// Samples of an IR WAV image, after its 44-byte header.
std::vector<float> imageSamples(const IrWavImage& image) {
    std::vector<float> out((image.size() - kIrWavHeaderBytes) / 4);
    std::memcpy(out.data(), image.data() + kIrWavHeaderBytes, out.size() * 4);
    return out;
}

std::vector<float> firstChannel(const std::vector<float>& frames, int channels) {
    std::vector<float> out;
    for (size_t i = 0; i < frames.size(); i += static_cast<size_t>(channels)) out.push_back(frames[i]);
    return out;
}

// Decodes a file with libsndfile, all frames, interleaved.
std::vector<float> decodeFile(const std::string& path, SF_INFO& info) {
    info = {};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<float> frames(static_cast<size_t>(info.frames * info.channels));
    frames.resize(static_cast<size_t>(sf_readf_float(f, frames.data(), info.frames) * info.channels));
    sf_close(f);
    return frames;
}

TEST(WavImport, DecodesEveryAcceptedEncodingAndContainer) {
    struct Case {
        const char* name;
        int format;
        double maxError;  // against the written signal, what the encoding allows
        double rmsError;
    };
    const Case cases[] = {
        {"PCM 8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1.0 / 64, 1.0 / 128},
        {"PCM 16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1e-4, 1e-4},
        {"PCM 24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1e-6, 1e-6},
        {"PCM 32", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1e-7, 1e-7},
        {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0.0, 0.0},
        {"double", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 0.0, 0.0},
        {"A-law", SF_FORMAT_WAV | SF_FORMAT_ALAW, 0.03, 0.01},
        {"mu-law", SF_FORMAT_WAV | SF_FORMAT_ULAW, 0.03, 0.01},
        // ADPCM lags behind steep slopes for a few samples; on average it follows closely.
        {"IMA ADPCM", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 0.5, 0.05},
        {"MS ADPCM", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 0.5, 0.05},
        {"extensible PCM 24", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 1e-6, 1e-6},
        {"extensible float", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 0.0, 0.0},
        {"Wave64 PCM 16", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 1e-4, 1e-4},
        {"Wave64 float", SF_FORMAT_W64 | SF_FORMAT_FLOAT, 0.0, 0.0},
        {"Wave64 IMA ADPCM", SF_FORMAT_W64 | SF_FORMAT_IMA_ADPCM, 0.5, 0.05},
    };
    TempDir dir;
    for (const Case& c : cases) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(std::string(c.name) + (channels == 2 ? " stereo" : " mono"));
            const std::string path = dir.file("in.wav");
            const std::vector<float> written = decayingTone(6000, channels);
            ASSERT_TRUE(writeSoundFile(path, c.format, 48000, channels, written));

            const IrImport ir = prepareIrFromWav(path);
            ASSERT_TRUE(ir.ok()) << "error " << static_cast<int>(ir.error);
            const std::vector<float> y = imageSamples(ir.image);
            ASSERT_EQ(y.size(), 4096u) << "every frame is decoded; the IR is capped at 4096";
            double worst = 0.0;
            double energy = 0.0;
            for (size_t n = 0; n < y.size(); ++n) {
                const double error = std::abs(double(y[n]) - written[n * channels]);
                worst = std::max(worst, error);
                energy += error * error;
            }
            EXPECT_LE(worst, c.maxError);
            EXPECT_LE(std::sqrt(energy / y.size()), c.rmsError);
        }
    }
}

// Files from another writer than the decoder's own, in every encoding sox offers for WAV and Wave64,
// written at build time (tests/ir/make_sox_files.sh).
const std::filesystem::path kSoxFiles = HALVARD_SOX_FILES_DIR;

TEST(WavImport, DecodesFilesMadeBySox) {
    ASSERT_TRUE(std::filesystem::exists(kSoxFiles / "made")) << "the sox-made files were not written";
    int made = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kSoxFiles / "matrix")) {
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        ++made;
        SF_INFO info;
        const std::vector<float> frames = decodeFile(path, info);
        const IrImport ir = prepareIrFromWav(path);
        ASSERT_TRUE(ir.ok()) << "error " << static_cast<int>(ir.error);
        EXPECT_EQ(imageSamples(ir.image), convertWavToIr(frames, info.channels, info.samplerate));
        EXPECT_GT(ir.image.size(), 44u + 4 * 4000);
    }
    EXPECT_GE(made, 20) << "sox made too few of the files";
}

// The imports of all the sox-made files, one line each: file name and an FNV-1a hash of the image.
// Each build writes its own; a cross build compares it with the native build's (when that build's
// tests have run), so the Windows program is checked to import bit for bit what the Linux one does.
TEST(WavImport, SameBitsAsTheNativeBuild) {
    ASSERT_TRUE(std::filesystem::exists(kSoxFiles / "made")) << "the sox-made files were not written";
    std::vector<std::filesystem::path> files{kSoxFiles / "fact_ms_adpcm.wav",
                                             kSoxFiles / "fact_ima_adpcm.wav"};
    for (const auto& entry : std::filesystem::directory_iterator(kSoxFiles / "matrix"))
        files.push_back(entry.path());
    std::sort(files.begin() + 2, files.end());
    std::string digest;
    for (const std::filesystem::path& file : files) {
        const IrImport ir = prepareIrFromWav(file.string());
        uint64_t hash = 14695981039346656037ull;
        for (uint8_t b : ir.image) hash = (hash ^ b) * 1099511628211ull;
        digest += file.filename().string() + " " + std::to_string(static_cast<int>(ir.error)) + " " +
                  std::to_string(hash) + "\n";
    }
    test::writeBytes((kSoxFiles / "import_digest.txt").string(),
                     {reinterpret_cast<const uint8_t*>(digest.data()), digest.size()});

    const std::string native = HALVARD_NATIVE_IMPORT_DIGEST;
    if (native.empty()) return;  // a native build: its digest is what a cross build compares with
    ASSERT_TRUE(std::filesystem::exists(native)) << "the native build's wav_import_test has not run";
    const std::vector<uint8_t> expected = test::readBytes(native);
    EXPECT_EQ(digest, std::string(expected.begin(), expected.end())) << "not what the native build imports";
}

// An ADPCM file ends with a whole block, padded; its fact chunk gives the true length, 3840 frames
// here, where libsndfile decodes 4072 (MS) and 4040 (IMA).
TEST(WavImport, EndsAdpcmAtTheLengthOfTheFactChunk) {
    ASSERT_TRUE(std::filesystem::exists(kSoxFiles / "made")) << "the sox-made files were not written";
    for (const char* name : {"fact_ms_adpcm.wav", "fact_ima_adpcm.wav"}) {
        SCOPED_TRACE(name);
        const std::string path = (kSoxFiles / name).string();
        SF_INFO info;
        std::vector<float> frames = decodeFile(path, info);
        ASSERT_GT(frames.size(), 3840u) << "the padding decodes as samples";
        frames.resize(3840);
        const IrImport ir = prepareIrFromWav(path);
        ASSERT_TRUE(ir.ok());
        EXPECT_EQ(imageSamples(ir.image), convertWavToIr(frames, 1, 48000));
        EXPECT_EQ(imageSamples(ir.image).size(), 3840u);
    }
}

TEST(WavImport, UsesTheFirstChannelAtEveryAcceptedRate) {
    TempDir dir;
    const std::vector<float> frames = decayingTone(9000, 2);
    const std::vector<float> left = firstChannel(frames, 2);
    for (int rate : {44100, 48000, 88200, 96000}) {
        SCOPED_TRACE(rate);
        const std::string path = dir.file("stereo.wav");
        ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, 2, frames));
        const IrImport ir = prepareIrFromWav(path);
        ASSERT_TRUE(ir.ok());
        EXPECT_EQ(imageSamples(ir.image), convertWavToIr(left, 1, rate)) << "the left channel alone";
        const size_t expected = std::min<size_t>(4096, static_cast<size_t>(9000.0f * (48000.0f / rate)));
        EXPECT_EQ(imageSamples(ir.image).size(), expected);
    }
}

// A 16-bit file of 6000 frames gives a 4096-sample IR, not the 3011 of a decode that stops at a
// quarter of the file's byte count; a 2048-sample 24-bit IR keeps its whole tail.
TEST(WavImport, DecodesTheWholeFile) {
    TempDir dir;
    const std::string path = dir.file("ir.wav");
    std::vector<float> tone = decayingTone(6000, 1);
    ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, tone));
    ASSERT_EQ(test::readBytes(path).size(), 12044u);
    EXPECT_EQ(prepareIrFromWav(path).image.size(), 44u + 4 * 4096);

    tone.resize(2048);
    tone.back() = 0.25f;
    ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 1, tone));
    const IrImport ir = prepareIrFromWav(path);
    ASSERT_EQ(ir.image.size(), 44u + 4 * 2048);
    EXPECT_NEAR(imageSamples(ir.image).back(), 0.25f, 1e-6);
}

TEST(WavImport, RejectsRatesAndChannelCountsOutsideTheRange) {
    TempDir dir;
    const std::string path = dir.file("in.wav");
    for (int rate : {8000, 22050, 44099, 96001, 192000}) {
        ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, decayingTone(3000, 1)));
        EXPECT_EQ(prepareIrFromWav(path).error, WavImportError::RateOrChannels) << rate << " Hz";
    }
    for (int channels : {3, 4, 6}) {
        ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, channels,
                                   std::vector<float>(3000 * channels, 0.5f)));
        EXPECT_EQ(prepareIrFromWav(path).error, WavImportError::RateOrChannels) << channels << " channels";
    }
    // The reason names what is wrong: the channels of a 3-channel file, the rate of a fast one.
    EXPECT_EQ(wavImportReason(prepareIrFromWav(path)), "6 channels (mono or stereo only)");
    ASSERT_TRUE(
        writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 192000, 3, std::vector<float>(900, 0.5f)));
    EXPECT_EQ(wavImportReason(prepareIrFromWav(path)), "192000 Hz (44100 to 96000 only)");
}

TEST(WavImport, RejectsWhatIsNotAnAcceptedWav) {
    TempDir dir;
    const std::string path = dir.file("in.wav");
    const std::vector<float> tone = decayingTone(3000, 1);

    ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 48000, 1, tone));
    EXPECT_EQ(prepareIrFromWav(path).error, WavImportError::NotWav) << "AIFF";
    ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 48000, 1, tone));
    EXPECT_EQ(prepareIrFromWav(path).error, WavImportError::NotWav) << "RF64 is not among the containers";
    ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_GSM610, 48000, 1, tone));
    EXPECT_EQ(prepareIrFromWav(path).error, WavImportError::UnsupportedData) << "GSM 6.10 in a WAV";

    const std::string text = "RIFF....WAVE this is not a sound file";
    EXPECT_EQ(prepareIrFromMemory({reinterpret_cast<const uint8_t*>(text.data()), text.size()}).error,
              WavImportError::NotWav);

    // A header with a data chunk of zero bytes.
    ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, {}));
    EXPECT_EQ(prepareIrFromWav(path).error, WavImportError::NoAudio) << "zero-length data";

    // Every cut of a good file either fails or yields a valid image; up to the header's end it fails.
    ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, tone));
    const std::vector<uint8_t> whole = test::readBytes(path);
    for (size_t cut = 0; cut < 200; ++cut) {
        const IrImport ir = prepareIrFromMemory(std::span(whole).first(cut));
        if (cut <= 44) {
            EXPECT_FALSE(ir.ok()) << "cut at " << cut;
        } else if (ir.ok()) {
            EXPECT_EQ(ir.image.size(), 44 + 4 * ((cut - 44) / 2)) << "cut at " << cut;
        }
    }
}

TEST(WavImport, RejectsBadPathsWithoutReadingThem) {
    TempDir dir;
    EXPECT_EQ(prepareIrFromWav("").error, WavImportError::Unreadable) << "cancelled dialog";
    EXPECT_EQ(prepareIrFromWav(dir.file("missing.wav")).error, WavImportError::Unreadable);
    EXPECT_EQ(prepareIrFromWav(dir.path().string()).error, WavImportError::Unreadable) << "a directory";

#ifndef _WIN32  // Windows file systems have no FIFOs
    const std::string fifo = dir.file("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(prepareIrFromWav(fifo).error, WavImportError::Unreadable)
        << "a FIFO, without waiting for a writer";
#endif

    const std::string empty = dir.file("empty.wav");
    test::writeBytes(empty, {});
    EXPECT_EQ(prepareIrFromWav(empty).error, WavImportError::EmptyFile);

    // A sparse file one byte over the cap: refused from its size alone.
    const std::string large = dir.file("large.wav");
    test::writeBytes(large, {});
    std::filesystem::resize_file(large, kWavFileMaxBytes + 1);
    EXPECT_EQ(prepareIrFromWav(large).error, WavImportError::TooLarge);
}

TEST(WavImport, RejectsNonFiniteSamplesOfTheFirstChannel) {
    TempDir dir;
    const std::string path = dir.file("in.wav");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();

    std::vector<float> tone = decayingTone(6000, 2);
    tone[2 * 10] = nan;
    ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, tone));
    EXPECT_EQ(prepareIrFromWav(path).error, WavImportError::NonFinite) << "NaN";

    tone = decayingTone(6000, 2);
    tone[2 * 5000] = -inf;
    ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, tone));
    EXPECT_EQ(prepareIrFromWav(path).error, WavImportError::NonFinite)
        << "beyond the part the IR uses, still broken";

    tone = decayingTone(6000, 2);
    tone[2 * 10 + 1] = nan;
    ASSERT_TRUE(writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, tone));
    EXPECT_TRUE(prepareIrFromWav(path).ok()) << "the discarded right channel does not matter";

    // Finite, but near the end of the float range: resampled, the samples sum past it.
    ASSERT_TRUE(
        writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 1, std::vector<float>(6000, 3.3e38f)));
    EXPECT_EQ(prepareIrFromWav(path).error, WavImportError::NonFinite) << "resampled past the float range";
}

// --- The conversion ------------------------------------------------------------------------------

TEST(WavConversion, TrimsLeadingSilence) {
    std::vector<float> x(10000);
    for (size_t n = 0; n < x.size(); ++n) x[n] = n < 100 ? (n % 2 ? 0.01f : -0.01f) : 0.5f + n * 1e-5f;
    std::vector<float> y = convertWavToIr(x, 1, 48000);
    EXPECT_EQ(y, std::vector<float>(x.begin() + 100, x.begin() + 4196)) << "samples 100 to 4195";

    x = {0.0f, 0.01f, -0.01f, std::nextafter(0.01f, 1.0f), 0.2f};
    EXPECT_EQ(convertWavToIr(x, 1, 48000), std::vector<float>(x.begin() + 3, x.end()))
        << "0.01 is still silence";

    x = {0.0f, -0.0f, std::numeric_limits<float>::quiet_NaN(), 0.3f};
    y = convertWavToIr(x, 1, 48000);
    ASSERT_EQ(y.size(), 2u);
    EXPECT_TRUE(std::isnan(y[0])) << "NaN counts as outside the silence band";

    // All silence: only the last decoded sample remains.
    x = {0.001f, -0.002f, 0.005f};
    EXPECT_EQ(convertWavToIr(x, 1, 48000), std::vector<float>{0.005f});
    EXPECT_TRUE(convertWavToIr(x, 1, 96000).empty()) << "trunc(1 x 0.5) = 0 samples";
    EXPECT_TRUE(convertWavToIr({}, 1, 48000).empty());

    // The trim looks at the first channel only.
    x = {0.0f, 0.9f, 0.4f, 0.0f, 0.3f, 0.0f};
    EXPECT_EQ(convertWavToIr(x, 2, 48000), (std::vector<float>{0.4f, 0.3f}));
}

TEST(WavConversion, OutputLengths) {
    EXPECT_EQ(convertWavToIr(std::vector<float>(9000, 0.5f), 1, 96000).size(), 4096u) << "4500 capped";
    EXPECT_EQ(convertWavToIr(std::vector<float>(1000, 0.5f), 1, 44100).size(), 1088u);
    EXPECT_EQ(convertWavToIr(std::vector<float>(1000, 0.5f), 1, 48000).size(), 1000u);
    EXPECT_EQ(convertWavToIr(std::vector<float>(200000, 0.5f), 1, 44100).size(), 4096u);

    // A silent 96 kHz file: an empty IR, a 44-byte image, still a success.
    TempDir dir;
    const std::string path = dir.file("silent.wav");
    ASSERT_TRUE(
        writeSoundFile(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, 1, std::vector<float>(500, 0.0f)));
    const IrImport ir = prepareIrFromWav(path);
    ASSERT_TRUE(ir.ok());
    EXPECT_EQ(ir.image.size(), 44u);
}

// The resampler written a second way: the taps are found from p directly (every whole m with
// |p - m| < 3) instead of from floor(p) - 4 .. floor(p) + 3, the kernel step by step. The weights
// outside the kernel are exact zeros, so both must agree to the bit.
std::vector<float> referenceResample(const std::vector<float>& x, int rate) {
    const float toOutput = 48000.0f / static_cast<float>(rate);
    const float toInput = static_cast<float>(rate) / 48000.0f;
    const float wanted = static_cast<float>(x.size()) * toOutput;
    const int n = std::min(4096, static_cast<int>(std::trunc(wanted)));
    std::vector<float> y;
    for (int k = 0; k < n; ++k) {
        const float p = static_cast<float>(k) * toInput;
        float acc = 0.0f;
        for (int m = std::max(0, static_cast<int>(std::ceil(p - 3.0f))); m < static_cast<int>(x.size());
             ++m) {
            const float d = p - static_cast<float>(m);
            if (d <= -3.0f) break;
            if (d >= 3.0f) continue;
            float w = 1.0f;
            if (d != 0.0f) {
                const double wide = 3.141592653589793 * static_cast<double>(d);
                const float u = static_cast<float>(wide);
                // Sine in double precision, rounded once: a correctly rounded sinf.
                const float third = static_cast<float>(std::sin(static_cast<double>(u / 3.0f)));
                const float full = 3.0f * static_cast<float>(std::sin(static_cast<double>(u)));
                const float numerator = third * full;
                const float square = u * u;
                w = numerator / square;
            }
            const float term = x[static_cast<size_t>(m)] * w;
            acc = acc + term;
        }
        y.push_back(acc);
    }
    return y;
}

TEST(WavConversion, ResamplerMatchesAnIndependentReferenceBitForBit) {
    std::vector<float> x(9500);
    uint32_t state = 12345;
    for (float& s : x) {
        state = state * 1664525u + 1013904223u;
        s = static_cast<float>(static_cast<int32_t>(state) / 2147483648.0);
    }
    x[0] = 0.75f;  // nothing to trim
    for (int rate : {44100, 48001, 50000, 64000, 88200, 95999, 96000}) {
        const std::vector<float> got = convertWavToIr(x, 1, rate);
        const std::vector<float> want = referenceResample(x, rate);
        ASSERT_EQ(got.size(), want.size()) << rate;
        for (size_t k = 0; k < got.size(); ++k) {
            ASSERT_EQ(std::bit_cast<uint32_t>(got[k]), std::bit_cast<uint32_t>(want[k]))
                << rate << " Hz, sample " << k << ": " << got[k] << " against " << want[k];
        }
    }
}

// What the resampler does to a signal: at 96 kHz it takes every second sample (the other taps
// fall on the kernel's zeros, up to the rounding of pi), and a slow tone at 44.1 kHz stays the same
// tone within the ripple of an unnormalised Lanczos kernel.
TEST(WavConversion, ResamplerKeepsTheSignal) {
    std::vector<float> x(8200);
    for (size_t n = 0; n < x.size(); ++n) x[n] = 0.5f + 0.4f * static_cast<float>(std::sin(n * 0.05));
    const std::vector<float> half = convertWavToIr(x, 1, 96000);
    ASSERT_EQ(half.size(), 4096u);
    for (size_t k = 0; k < half.size(); ++k) ASSERT_NEAR(half[k], x[2 * k], 1e-5) << k;

    for (size_t n = 0; n < x.size(); ++n)
        x[n] = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * n / 44100.0));
    x[0] = 0.02f;
    const std::vector<float> y = convertWavToIr(x, 1, 44100);
    ASSERT_EQ(y.size(), 4096u);
    for (size_t k = 8; k < y.size(); ++k) {
        ASSERT_NEAR(y[k], 0.5 * std::sin(2 * std::numbers::pi * 440.0 * k / 48000.0), 0.01) << k;
    }
}

}  // namespace
}  // namespace halvard
