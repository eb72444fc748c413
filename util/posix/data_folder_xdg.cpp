#include <cstdlib>

#include "util/data_folder.hpp"

namespace halvard {

std::filesystem::path backupsFolder() {
    std::filesystem::path data;
    const char* xdg = std::getenv("XDG_DATA_HOME");
    // XDG base directories must be absolute: a relative one is ignored.
    if (xdg != nullptr && std::filesystem::path(xdg).is_absolute()) {
        data = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        data = std::filesystem::path(home) / ".local" / "share";
    } else {
        return {};
    }
    return data / "halvard-editor" / "backups";
}

std::filesystem::path libraryFile() {
    if (const char* chosen = std::getenv("HALVARD_LIBRARY"); chosen != nullptr && *chosen != '\0')
        return chosen;
    const std::filesystem::path backups = backupsFolder();
    return backups.empty() ? backups : backups.parent_path() / "library.sqlite3";
}

}  // namespace halvard
