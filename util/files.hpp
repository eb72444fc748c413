#pragma once
// Whole files in and out: a read bounded by a size limit, and a write that replaces a file only once
// the new one is complete. Any thread.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace halvard {

// Reads a whole file of at most maxBytes. False with a one-line reason otherwise.
bool readWholeFile(const std::filesystem::path& path, size_t maxBytes, std::vector<uint8_t>& bytes,
                   std::string& error);

// Writes bytes under a temporary name beside path (path + ".partial"), synced to the disk, and
// renames it to path, the folder synced after it: a failure, a kill or a power cut at any point
// leaves the old file or the whole new one under path, never a partial one. False with a one-line
// reason.
bool writeFileReplacing(const std::filesystem::path& path, std::span<const uint8_t> bytes,
                        std::string& error);

}  // namespace halvard
