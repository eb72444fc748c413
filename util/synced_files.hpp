#pragma once
// The two steps of writeFileReplacing that must reach the disk before it returns, one back end per
// system (posix/, windows/): a power cut after either leaves the old file or the whole new one.
// Any thread.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace halvard {

// Creates path (which must not exist) with bytes and waits until they are on the disk. False with
// a one-line reason; a file left behind is the caller's to remove.
bool writeSyncedFile(const std::filesystem::path& path, std::span<const uint8_t> bytes, std::string& error);

// Renames from to to, replacing to, and waits until the folder's new entry is on the disk.
bool renameSynced(const std::filesystem::path& from, const std::filesystem::path& to, std::string& error);

}  // namespace halvard
