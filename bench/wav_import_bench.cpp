// prepareIrFromWav on a 10 s, 96 kHz, 24-bit stereo WAV file (target: under 30 ms per import).
// Prints its figures; nothing is asserted.

#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "ir/wav_import.hpp"

namespace {

// The file is made once, in a private temporary folder, and removed at exit.
class LongRecording {
public:
    LongRecording() {
        std::string folder = (std::filesystem::temp_directory_path() / "halvard-bench-XXXXXX").string();
        if (!mkdtemp(folder.data())) return;
        folder_ = folder;
        const std::string file = folder + "/long.wav";
        constexpr int kRate = 96000;
        constexpr int kFrames = 10 * kRate;
        std::vector<float> frames(2 * static_cast<size_t>(kFrames));
        for (size_t n = 0; n < static_cast<size_t>(kFrames); ++n) {
            const double t = static_cast<double>(n) / kRate;
            frames[2 * n] =
                static_cast<float>(0.8 * std::exp(-t * 3.0) * std::sin(2 * std::numbers::pi * 220.0 * t));
            frames[2 * n + 1] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * 330.0 * t));
        }
        SF_INFO info{};
        info.samplerate = kRate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        SNDFILE* f = sf_open(file.c_str(), SFM_WRITE, &info);
        if (!f) return;
        const bool ok = sf_writef_float(f, frames.data(), kFrames) == kFrames;
        if (sf_close(f) == 0 && ok) path_ = file;
    }
    ~LongRecording() {
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string folder_;
    std::string path_;
};

void prepareIrFromLongWav(benchmark::State& state) {
    static const LongRecording recording;
    if (recording.path().empty()) {
        state.SkipWithError("could not write the test file");
        return;
    }
    for (auto _ : state) {
        halvard::IrImport ir = halvard::prepareIrFromWav(recording.path());
        if (!ir.ok()) state.SkipWithError("import failed");
        benchmark::DoNotOptimize(ir.image.data());
    }
    state.SetLabel("10 s, 96 kHz, 24-bit stereo; target < 30 ms");
}
BENCHMARK(prepareIrFromLongWav)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
