#pragma once
// File names travel through the program as UTF-8 strings (from the dialogs, into the slot names).
// pathFromUtf8 turns one into a path the system's file calls take: unchanged on Linux, UTF-16 on
// Windows, where a plain std::string would be read in the ANSI code page and lose every other
// character.

#include <filesystem>
#include <string>
#include <string_view>

namespace halvard {

inline std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The last component of a path: the text after its last "/" or "\", or after a drive prefix
// (a letter and a colon) when there is no separator; the whole text otherwise. The extension stays.
constexpr std::string_view lastPathComponent(std::string_view path) {
    const size_t separator = path.find_last_of("/\\");
    if (separator != std::string_view::npos) return path.substr(separator + 1);
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return drive ? path.substr(2) : path;
}

}  // namespace halvard
