// halvard-ir-report: one line of figures per factory IR compiled into the editor, so that a person
// can compare them (and see at a glance that each is a cabinet: short, dark above 8 kHz, no DC).

#include <cstdio>
#include <span>

#include "ir/factory_catalogue.hpp"
#include "ir_analysis.hpp"

int main() {
    using namespace halvard;
    std::printf("%-2s  %-28s %8s %4s %8s %9s %8s %8s %8s %9s\n", "#", "label", "peak", "at", "-20dB ms",
                "centroid", "60-160", ">8k", "<30", "tail 20ms");
    std::printf("%-2s  %-28s %8s %4s %8s %9s %8s %8s %8s %9s\n", "", "", "", "", "", "Hz", "dB", "dB", "dB",
                "dB");
    const FactoryIrCatalogue& catalogue = factoryIrCatalogue();
    for (size_t i = 0; i < catalogue.size(); ++i) {
        const FactoryIrImage& image = *catalogue[i].image;
        const auto f =
            irsynth::analyseIr(std::span<const float>(image.samples, image.frameCount()), kIrSampleRate);
        std::printf("%-2zu  %-28.*s %8.5f %4d %8.2f %9.0f %8.1f %8.1f %8.1f %9.1f\n", i,
                    static_cast<int>(factoryIrDisplayName(static_cast<int>(i)).size()),
                    factoryIrDisplayName(static_cast<int>(i)).data(), f.peak, f.peakIndex, f.length20dBMs,
                    f.centroidHz, f.lowEndDb, f.highBandDb, f.subsonicDb, f.tailDb);
    }
    std::printf("\nband levels relative to 200 Hz-4 kHz; centroid power-weighted over 20 Hz-20 kHz\n");
    return 0;
}
