#pragma once
// A lock of this user's, by name, across processes: a lock file in the runtime folder
// ($XDG_RUNTIME_DIR, else /tmp/halvard-editor-<uid>, made the user's own) taken with flock on
// Linux; a named mutex in the session's namespace on Windows. The system releases it when the
// process ends, however it ends. Two objects of one name exclude each other within a process too
// (Linux); on Windows a mutex belongs to a thread: take and release it on one thread, and never
// take two objects of one name on the same thread.

#include <cstdint>
#include <string>

namespace halvard {

class UserLock {
public:
    explicit UserLock(std::string name);  // a short name: letters, digits, '-'
    ~UserLock();
    UserLock(const UserLock&) = delete;
    UserLock& operator=(const UserLock&) = delete;

    // Takes the lock without waiting: true when held (also when this object held it already).
    bool tryTake();
    void release();
    bool held() const { return held_; }
    // Whether another holds it now: true when it could not be taken (and it is then left free).
    bool heldElsewhere();

private:
    std::string name_;
    intptr_t handle_ = -1;  // the lock file's descriptor, or the mutex's handle; -1: not opened
    bool held_ = false;
};

}  // namespace halvard
