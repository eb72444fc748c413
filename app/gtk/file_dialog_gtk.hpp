#pragma once
// The desktop's open-file, save-file and folder dialogs for the device worker: a GtkFileChooserNative (the
// desktop portal where the desktop asks for one, GTK's own dialog otherwise), with no owner window;
// and its questions, in a GtkMessageDialog.
//
// Threads: the worker calls showFileDialog and waits; the dialog itself is created, shown and
// answered on the user-interface thread through the default main context, so the window keeps
// painting and taking input while it is open. shutdown and the destructor run on the UI thread.
//
// Quitting while a dialog is open: shutdown closes it and the waiting worker gets an empty path;
// a wait also ends (empty) as soon as the watched stop flag is set. Everything a dialog and its
// worker share is reference-counted, so neither side touches what the other has released.

#include <atomic>
#include <memory>

#include "device/link/file_dialogs.hpp"

namespace halvard {

class GtkFileDialogs final : public FileDialogs {
public:
    GtkFileDialogs();
    ~GtkFileDialogs() override;  // shutdown()
    GtkFileDialogs(const GtkFileDialogs&) = delete;
    GtkFileDialogs& operator=(const GtkFileDialogs&) = delete;

    // Worker thread. Mode WaveFile: one file, filter "Wave" (*.wav, *.wave in any letter case);
    // ProgramFile: one file, filter "SysEx" (*.syx); SaveProgramFile: a file name to write, filter
    // "SysEx", a dated name offered, confirmation before replacing a file; Folder: one file-system
    // folder. Empty when cancelled, failed, shut down or stopped.
    std::string showFileDialog(DialogMode mode) override;
    // Worker thread: a message dialog with the question's texts, Cancel (the default) and the
    // accept button; true only when that was pressed.
    bool confirm(const Confirmation& question) override;

    // The worker's stop flag (LinkContext::quit); set it up before the worker starts.
    void watch(const std::atomic<bool>* quit) override;

    // UI thread: closes an open dialog (its worker gets an empty path) and answers every later
    // request with an empty path at once.
    void shutdown() override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace halvard
