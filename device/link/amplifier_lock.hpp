#pragma once
// Who may talk to the amplifier, across this user's programs (an editor, a second editor,
// halvard-cli): one program at a time, so that no program takes another's reply. Three user locks
// (util/user_lock.hpp):
//   editor     held by an editor while it is connected: a second editor does not connect.
//   amplifier  held for each transfer or command: by the editor's worker for each pass that has
//              work, by halvard-cli for the whole of its command.
//   waiting    held by a program waiting for "amplifier" (halvard-cli): an editor starts no transfer
//              meanwhile, so the one waiting has it next however busy the editor is.
// The editor thus finds "amplifier" held only by halvard-cli. Thread: the one that takes it (the
// worker; halvard-cli's only thread).

#include <atomic>
#include <functional>

#include "util/user_lock.hpp"

namespace halvard {

class AmplifierLock {
public:
    // The editor's place: false while another editor holds it.
    bool takeEditorPlace() { return editor_.tryTake(); }
    void leaveEditorPlace() { editor_.release(); }
    bool editorPlaceHeld() const { return editor_.held(); }

    // For one transfer or command of the editor's: false while another program holds the
    // amplifier or waits for it.
    bool tryTakeForTransfer();

    // halvard-cli: takes the amplifier, waiting (in 10 ms steps) for as long as another program
    // holds it; firstWait is called once when it must wait. False when stop was set meanwhile.
    bool waitForAmplifier(const std::atomic<bool>& stop, const std::function<void()>& firstWait);

    void release() { amplifier_.release(); }
    bool held() const { return amplifier_.held(); }

private:
    UserLock editor_{"editor"};
    UserLock amplifier_{"amplifier"};
    UserLock waiting_{"waiting"};
};

}  // namespace halvard
