// halvard-editor.exe: the window, the panel and the device worker for the life of the process.
//
// Closing is bounded: the process ends at most kCloseLimitMs after the user closes the window,
// whatever the device worker is doing (a transfer, a port call that does not return, a dialog).
// Normally the worker has stopped and been joined well before; then the process ends at once.
// Either way it ends through TerminateProcess, not the C runtime's exit: under Wine, exit's work in
// the system's libraries comes after Wine has told its server the process is gone, and the server
// kills a process that is not gone half a second later (exit code 137), as happens when a library's
// exit handler waits on a lock that a thread ended mid-call held (the Direct2D device's render
// thread). Nothing of ours is left to do by then: files are closed and the worker has ended.
#include <windows.h>

#include <cstdio>

#include "app/editor.hpp"
#include "app/win32/file_dialog_win32.hpp"
#include "app/win32/win32_window.hpp"

namespace {

constexpr DWORD kCloseLimitMs = 700;

// Ends the process now with this exit code, its standard streams flushed.
[[noreturn]] void endProcess(int code) {
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    ExitProcess(static_cast<UINT>(code));  // not reached
}

DWORD WINAPI endAtTheCloseLimit(LPVOID) {
    Sleep(kCloseLimitMs);
    endProcess(0);
}

}  // namespace

int main(int argc, char** argv) {
    halvard::EditorCommandLine commandLine;
    if (const auto exitCode = halvard::editorOptions(argc, argv, commandLine)) return *exitCode;
    halvard::Win32WindowSystem windows;
    halvard::Win32FileDialogs dialogs;  // the worker's file and folder dialogs, on its own thread
    windows.closing = [] {
        if (HANDLE limit = CreateThread(nullptr, 0, &endAtTheCloseLimit, nullptr, 0, nullptr))
            CloseHandle(limit);
    };
    endProcess(halvard::runEditorProgram(windows, dialogs, commandLine));
}
