#pragma once
// The built-in catalogue of 15 factory IRs: label, one-sentence description, "main" mark and the
// samples. Constant data, built into the program; any thread may read it.

#include <array>
#include <cstdint>
#include <string_view>

#include "ir/factory_ir_image.hpp"

namespace halvard {

struct FactoryIrEntry {
    std::string_view name;         // label, 17 to 22 characters; also the file name on extraction
    std::string_view description;  // one sentence, 180 to 217 characters
    int32_t isMain;                // 1: shown with " (MAIN)"
    const FactoryIrImage* image;
};

using FactoryIrCatalogue = std::array<FactoryIrEntry, kFactoryIrCount>;

const FactoryIrCatalogue& factoryIrCatalogue();

// The label followed by " (MAIN)" for a main entry, else the label; empty for an index outside
// 0..14. The text lives as long as the program.
std::string_view factoryIrDisplayName(int index);

}  // namespace halvard
