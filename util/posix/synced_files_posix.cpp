#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/synced_files.hpp"

namespace halvard {
namespace {

bool failed(const std::filesystem::path& path, std::string& error) {
    error = "cannot write " + path.string() + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool writeSyncedFile(const std::filesystem::path& path, std::span<const uint8_t> bytes, std::string& error) {
    // O_EXCL and O_NOFOLLOW: whatever took the name meanwhile (a link, a FIFO) is not written through.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return failed(path, error);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return failed(path, error);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return failed(path, error);
    }
    return ::close(fd) == 0 || failed(path, error);
}

bool renameSynced(const std::filesystem::path& from, const std::filesystem::path& to, std::string& error) {
    if (::rename(from.c_str(), to.c_str()) != 0) return failed(to, error);
    // The rename lives in the folder: until the folder is synced a power cut may undo it.
    const std::filesystem::path folder = to.has_parent_path() ? to.parent_path() : ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failed(folder, error);
    const bool synced = ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return synced || failed(folder, error);
}

}  // namespace halvard
