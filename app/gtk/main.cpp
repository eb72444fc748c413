// halvard-editor: the window, the panel and the device worker for the life of the process.
#include "app/editor.hpp"
#include "app/gtk/file_dialog_gtk.hpp"
#include "app/gtk/gtk_window.hpp"

int main(int argc, char** argv) {
    halvard::EditorCommandLine commandLine;
    if (const auto exitCode = halvard::editorOptions(argc, argv, commandLine)) return *exitCode;
    halvard::GtkWindowSystem windows;
    halvard::GtkFileDialogs dialogs;  // the worker's file and folder dialogs, run in the main loop
    return halvard::runEditorProgram(windows, dialogs, commandLine);
}
