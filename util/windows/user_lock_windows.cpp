#include <windows.h>

#include "util/user_lock.hpp"

namespace halvard {

UserLock::UserLock(std::string name) : name_(std::move(name)) {}

UserLock::~UserLock() {
    release();
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool UserLock::tryTake() {
    if (held_) return true;
    if (handle_ == -1) {
        // "Local\": this session's namespace, which is this user's.
        const std::wstring name = L"Local\\halvard-editor-" + std::wstring(name_.begin(), name_.end());
        const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
        if (mutex == nullptr) return false;
        handle_ = reinterpret_cast<intptr_t>(mutex);
    }
    // A holder that ended without releasing it leaves it abandoned: taken all the same.
    const DWORD waited = WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), 0);
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    return held_;
}

void UserLock::release() {
    if (!held_) return;
    ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
    held_ = false;
}

bool UserLock::heldElsewhere() {
    if (held_) return false;
    if (!tryTake()) return handle_ != -1;
    release();
    return false;
}

}  // namespace halvard
