// halvard-editor.exe: the window, the panel and the device worker for the life of the process.
#include "app/editor.hpp"
#include "app/win32/file_dialog_win32.hpp"
#include "app/win32/win32_window.hpp"

int main(int argc, char** argv) {
    halvard::EditorCommandLine commandLine;
    if (const auto exitCode = halvard::editorOptions(argc, argv, commandLine)) return *exitCode;
    halvard::Win32WindowSystem windows;
    halvard::Win32FileDialogs dialogs;  // the worker's file and folder dialogs, on its own thread
    return halvard::runEditorProgram(windows, dialogs, commandLine);
}
