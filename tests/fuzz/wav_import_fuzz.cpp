// Feeds arbitrary bytes to the WAV import as a file's contents: it either fails with no image or
// yields a well-formed IR image of at most 4096 samples.

#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_require.hpp"
#include "ir/wav_import.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const halvard::IrImport ir = halvard::prepareIrFromMemory(std::span<const uint8_t>(data, size));
    if (!ir.ok()) {
        require(ir.image.empty());
        return 0;
    }
    require(ir.image.size() >= halvard::kIrWavHeaderBytes);
    const size_t dataBytes = ir.image.size() - halvard::kIrWavHeaderBytes;
    require(dataBytes % 4 == 0 && dataBytes / 4 <= static_cast<size_t>(halvard::kIrMaxSamples));
    return 0;
}
