#include "ir/extract.hpp"

#include <fstream>
#include <system_error>

#include "ir/factory_catalogue.hpp"
#include "ir/ir_image.hpp"
#include "util/paths.hpp"

namespace halvard {

ExtractResult extractFactoryIrs(const std::string& folder) {
    ExtractResult result;
    if (folder.empty()) return result;
    for (const FactoryIrEntry& entry : factoryIrCatalogue()) {
        const std::filesystem::path path = pathFromUtf8(folder + "/" + std::string(entry.name) + ".wav");
        std::filesystem::path partial = path;
        partial += ".partial";
        // Whatever has that name goes first: opened, a FIFO would block and a link would lead the
        // writing elsewhere.
        std::error_code gone;
        std::filesystem::remove(partial, gone);
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        if (!file) break;
        std::error_code ec;
        const std::optional<IrWavImage> image = buildIrWavImage(*entry.image);
        if (!image) {
            file.close();
            std::filesystem::remove(partial, ec);
            result.imageFailed = true;
            break;
        }
        file.write(reinterpret_cast<const char*>(image->data()), static_cast<std::streamsize>(image->size()));
        file.close();
        if (!file) {
            std::filesystem::remove(partial, ec);
            continue;
        }
        std::filesystem::rename(partial, path, ec);
        if (ec) {
            std::filesystem::remove(partial, ec);
            break;
        }
        ++result.written;
    }
    return result;
}

}  // namespace halvard
