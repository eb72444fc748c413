#include "ir/extract.hpp"

#include <cstdio>

#include "ir/factory_catalogue.hpp"
#include "ir/ir_image.hpp"

namespace halvard {

ExtractResult extractFactoryIrs(const std::string& folder) {
    ExtractResult result;
    if (folder.empty()) return result;
    for (const FactoryIrEntry& entry : factoryIrCatalogue()) {
        const std::string path = folder + "/" + std::string(entry.name) + ".wav";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) break;
        const std::optional<IrWavImage> image = buildIrWavImage(*entry.image);
        if (!image) {
            std::fclose(file);
            result.imageFailed = true;
            break;
        }
        const bool wrote = std::fwrite(image->data(), 1, image->size(), file) == image->size();
        if (std::fclose(file) == 0 && wrote) {
            ++result.written;
        } else {
            std::remove(path.c_str());
        }
    }
    return result;
}

}  // namespace halvard
