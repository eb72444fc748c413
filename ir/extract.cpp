#include "ir/extract.hpp"

#include <string>

#include "ir/factory_catalogue.hpp"
#include "ir/ir_image.hpp"
#include "util/files.hpp"
#include "util/paths.hpp"

namespace halvard {

ExtractResult extractFactoryIrs(const std::string& folder) {
    ExtractResult result;
    if (folder.empty()) return result;
    for (const FactoryIrEntry& entry : factoryIrCatalogue()) {
        const std::filesystem::path path = pathFromUtf8(folder + "/" + std::string(entry.name) + ".wav");
        const std::optional<IrWavImage> image = buildIrWavImage(*entry.image);
        if (!image) {
            result.imageFailed = true;
            break;
        }
        // Synced and renamed into place: never a truncated WAV under the label's name.
        std::string error;
        if (!writeFileReplacing(path, *image, error)) break;
        ++result.written;
    }
    return result;
}

}  // namespace halvard
