// The backups folder on Windows: the user's local application data folder.
#include <windows.h>
// shlobj.h needs the types of windows.h first.
#include <shlobj.h>

#include <ctime>

#include "device/backups_folder.hpp"

namespace halvard {

std::filesystem::path backupsFolder() {
    PWSTR data = nullptr;
    std::filesystem::path folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &data)) && data) {
        folder = std::filesystem::path(data) / L"Halvard Editor" / L"backups";
    }
    CoTaskMemFree(data);
    return folder;
}

std::tm localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    return local;
}

}  // namespace halvard
