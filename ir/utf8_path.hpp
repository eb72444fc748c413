#pragma once
// File names travel through the program as UTF-8 strings (from the dialogs, into the slot names).
// This turns one into a path the system's file calls take: unchanged on Linux, UTF-16 on Windows,
// where a plain std::string would be read in the ANSI code page and lose every other character.

#include <filesystem>
#include <string>
#include <string_view>

namespace halvard {

inline std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace halvard
