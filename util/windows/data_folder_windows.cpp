#include <cstdlib>

#include "util/data_folder.hpp"

namespace halvard {

std::filesystem::path backupsFolder() {
    // The wide variable, so that a user name outside the ANSI code page survives.
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || *local == L'\0') return {};
    return std::filesystem::path(local) / L"Halvard Editor" / L"backups";
}

std::filesystem::path libraryFile() {
    // Wide, as above: a path outside the ANSI code page survives.
    if (const wchar_t* chosen = _wgetenv(L"HALVARD_LIBRARY"); chosen != nullptr && *chosen != L'\0')
        return chosen;
    const std::filesystem::path backups = backupsFolder();
    return backups.empty() ? backups : backups.parent_path() / "library.sqlite3";
}

}  // namespace halvard
