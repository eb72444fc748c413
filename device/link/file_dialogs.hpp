#pragma once
// The dialogs the worker's commands ask for: a file or folder to read or write, and a question
// before a step that changes the amplifier (a restore). The worker calls them on its own thread and
// is blocked until the dialog closes; the implementation runs the desktop's dialog
// (app/gtk/file_dialog_gtk.hpp, app/win32/file_dialog_win32.hpp) or returns scripted answers (tests).

#include <atomic>
#include <cstdint>
#include <string>

namespace halvard {

enum class DialogMode : int32_t {
    WaveFile = 0,         // open one file; filter "Wave" for *.wav and *.wave in any letter case
    ProgramFile = 1,      // open one file; filter "SysEx" for *.syx in any letter case
    Folder = 2,           // pick one file-system folder
    SaveProgramFile = 3,  // name a file to write, *.syx, a confirmation before one is replaced
    ImportFiles = 4,      // open several files (program files, .syx, Wave): their paths, one a line
    SaveOneProgram = 5,   // name a program file to write, *.halvard-program, asked before one is replaced
};

// A question with two answers: go on (accept) or Cancel. Texts in UTF-8.
struct Confirmation {
    std::string title;    // the dialog's title, "Restore Programs"
    std::string heading;  // the question, one line: "Restore 3 programs from all.syx?"
    std::string details;  // the lines under it
    std::string accept;   // the button that goes on, "Restore"; the default button is Cancel
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The absolute path of the chosen file or folder (UTF-8), or an empty string when nothing was
    // chosen (cancelled, failed, or the program is quitting). Called on the worker thread only.
    virtual std::string showFileDialog(DialogMode mode) = 0;
    // True only when the user chose the accept button: false when cancelled, closed, failed, or the
    // program is quitting. Called on the worker thread only.
    virtual bool confirm(const Confirmation& question) {
        (void)question;
        return false;
    }

    // The worker's stop flag (LinkContext::quit), given before the worker starts: a dialog request
    // may end (empty) once it is set.
    virtual void watch(const std::atomic<bool>* quit) { (void)quit; }
    // At exit, on the user-interface thread, before the worker is joined: an open dialog closes (its
    // worker gets an empty path) and every later request is answered empty at once.
    virtual void shutdown() {}
};

}  // namespace halvard
