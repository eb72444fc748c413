#pragma once
// The shell's open-file, save-file and folder dialogs (IFileDialog) and a message box for the device
// worker's questions, with no owner window, so the main window keeps painting and taking input while
// one is open.
//
// Threads: the worker calls showFileDialog and confirm; the dialog runs its own modal loop on the worker
// thread, in a COM apartment entered for the call. shutdown runs on the user-interface thread: it
// closes an open dialog (its worker gets an empty path) and cancels every later request, so that
// the worker can be joined at exit.

#include <memory>

#include "device/link/file_dialogs.hpp"

namespace halvard {

class Win32FileDialogs final : public FileDialogs {
public:
    Win32FileDialogs();
    ~Win32FileDialogs() override;
    Win32FileDialogs(const Win32FileDialogs&) = delete;
    Win32FileDialogs& operator=(const Win32FileDialogs&) = delete;

    // Worker thread. WaveFile: one file, filter "Wave" (*.wav, *.wave); ProgramFile: one file,
    // filter "SysEx" (*.syx); SaveProgramFile: a file name to write, filter "SysEx", a dated name
    // offered, confirmation before replacing a file; Folder: one file-system folder. The absolute
    // path in UTF-8; empty when cancelled, failed or shut down.
    std::string showFileDialog(DialogMode mode) override;
    // Worker thread: a message box with the question (heading, a blank line, details), its OK button
    // named after the accept button, Cancel the default; true only when OK was pressed.
    bool confirm(const Confirmation& question) override;

    // Any thread (the UI thread at exit).
    void shutdown() override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace halvard
