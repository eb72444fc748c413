#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "util/user_lock.hpp"

namespace halvard {
namespace {

// $XDG_RUNTIME_DIR (the user's own by the XDG rules), else a folder of the user's own under /tmp:
// made with mode 0700, and used only when it is a real folder of this user's that no one else may
// write to. Empty when neither can be had.
std::filesystem::path runtimeFolder() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && std::filesystem::path(xdg).is_absolute()) {
        ::mkdir(xdg, 0700);  // normally there already
        return xdg;
    }
    const std::filesystem::path folder = "/tmp/halvard-editor-" + std::to_string(getuid());
    ::mkdir(folder.c_str(), 0700);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 0077) != 0)
        return {};
    return folder;
}

}  // namespace

UserLock::UserLock(std::string name) : name_(std::move(name)) {}

UserLock::~UserLock() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool UserLock::tryTake() {
    if (held_) return true;
    if (handle_ < 0) {
        const std::filesystem::path folder = runtimeFolder();
        if (folder.empty()) return false;
        const std::filesystem::path file = folder / ("halvard-editor-" + name_ + ".lock");
        handle_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (handle_ < 0) return false;
    }
    // Each open file has a lock of its own: two objects exclude each other, even in one process.
    held_ = ::flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB) == 0;
    return held_;
}

void UserLock::release() {
    if (!held_) return;
    ::flock(static_cast<int>(handle_), LOCK_UN);
    held_ = false;
}

bool UserLock::heldElsewhere() {
    if (held_) return false;
    if (!tryTake()) return handle_ >= 0;
    release();
    return false;
}

}  // namespace halvard
