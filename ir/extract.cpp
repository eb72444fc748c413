#include "ir/extract.hpp"

#include <fstream>
#include <system_error>

#include "ir/factory_catalogue.hpp"
#include "ir/ir_image.hpp"
#include "ir/utf8_path.hpp"

namespace halvard {

ExtractResult extractFactoryIrs(const std::string& folder) {
    ExtractResult result;
    if (folder.empty()) return result;
    for (const FactoryIrEntry& entry : factoryIrCatalogue()) {
        const std::filesystem::path path = pathFromUtf8(folder + "/" + std::string(entry.name) + ".wav");
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        if (!file) break;
        const std::optional<IrWavImage> image = buildIrWavImage(*entry.image);
        if (!image) {
            result.imageFailed = true;
            break;
        }
        file.write(reinterpret_cast<const char*>(image->data()), static_cast<std::streamsize>(image->size()));
        file.close();
        if (file) {
            ++result.written;
        } else {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
    }
    return result;
}

}  // namespace halvard
