#include <windows.h>

#include <algorithm>
#include <system_error>

#include "util/synced_files.hpp"

namespace halvard {
namespace {

bool failed(const std::filesystem::path& path, std::string& error) {
    error = "cannot write " + path.string() + ": " +
            std::system_category().message(static_cast<int>(GetLastError()));
    return false;
}

}  // namespace

bool writeSyncedFile(const std::filesystem::path& path, std::span<const uint8_t> bytes, std::string& error) {
    // CREATE_NEW: whatever took the name meanwhile is not written through.
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failed(path, error);
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        ok = WriteFile(file, bytes.data() + done, want, &written, nullptr) && written > 0;
        done += written;
    }
    ok = ok && FlushFileBuffers(file);
    const DWORD why = GetLastError();
    CloseHandle(file);
    SetLastError(why);
    return ok || failed(path, error);
}

bool renameSynced(const std::filesystem::path& from, const std::filesystem::path& to, std::string& error) {
    // MOVEFILE_WRITE_THROUGH: returns once the move is on the disk.
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
           failed(to, error);
}

}  // namespace halvard
