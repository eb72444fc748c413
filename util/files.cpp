#include "util/files.hpp"

#include <array>
#include <fstream>
#include <system_error>

#include "util/synced_files.hpp"

namespace halvard {

bool readWholeFile(const std::filesystem::path& path, size_t maxBytes, std::vector<uint8_t>& bytes,
                   std::string& error) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = "cannot read " + path.string() + ": " + ec.message();
        return false;
    }
    if (size > maxBytes) {
        error = path.string() + " is too large (" + std::to_string(size) + " bytes, at most " +
                std::to_string(maxBytes) + ")";
        return false;
    }
    // At most maxBytes, whatever the size said: the file may grow meanwhile, or be one whose size
    // the system does not know (it says 0).
    std::ifstream in(path, std::ios::binary);
    bytes.clear();
    std::array<char, 64 * 1024> chunk;
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + in.gcount());
        if (bytes.size() > maxBytes) {
            error = path.string() + " is too large (more than " + std::to_string(maxBytes) + " bytes)";
            return false;
        }
    }
    if (in.bad() || !in.eof()) {
        error = "cannot read " + path.string();
        return false;
    }
    return true;
}

bool writeFileReplacing(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                        std::string& error) {
    std::filesystem::path partial = path;
    partial += ".partial";
    // Whatever has that name goes first: opened, a FIFO would block and a link would lead the
    // writing elsewhere.
    std::error_code gone;
    std::filesystem::remove(partial, gone);
    // The file reaches the disk before the rename, and the rename before this returns: a power cut
    // (or a firmware update that starts next) never finds the name on an empty or partial file.
    if (writeSyncedFile(partial, bytes, error) && renameSynced(partial, path, error)) return true;
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    return false;
}

}  // namespace halvard
