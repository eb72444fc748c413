#pragma once

#include <string_view>

namespace halvard {

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
