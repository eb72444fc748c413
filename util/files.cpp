#include "util/files.hpp"

#include <array>
#include <fstream>
#include <system_error>

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
    {
        // Whatever has that name goes first: opened, a FIFO would block and a link would lead the
        // writing elsewhere.
        std::error_code gone;
        std::filesystem::remove(partial, gone);
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            error = "cannot write " + path.string();
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(partial, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        error = "cannot write " + path.string() + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace halvard
