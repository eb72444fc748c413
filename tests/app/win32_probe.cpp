// Shows the Windows dialogs and the popup menu as the editor does, for file_dialog_win32_test.sh and
// context_menu_win32_test.sh to answer with the keyboard from the X side:
//   win32_probe wave|folder|program|save   one dialog on a worker thread; prints "path=<answer>"
//   win32_probe shutdown   a dialog that shutdown() closes from the main thread, as at exit; prints
//                          "path=<answer>", then "after=<answer>" of a later request
//   win32_probe confirm    the question before a restore on a worker thread; prints "shown" once
//                          it is ready for keys, then "path=1" when its Restore button was pressed,
//                          "path=0" otherwise
//   win32_probe menu       the editor's window and its right-click menu at the pointer, with two
//                          kept backups; prints "chosen=<entry index>", -1 when dismissed
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <future>
#include <thread>

#include "app/win32/file_dialog_win32.hpp"
#include "app/win32/win32_window.hpp"
#include "ui/interaction.hpp"

namespace {

int showMenu() {
    halvard::Platform platform(halvard::kAppTitle, halvard::kAppId);
    halvard::Win32WindowSystem windows;
    if (!windows.open(platform).empty()) return 1;
    windows.show();
    halvard::KeptBackupList kept{};
    kept[0] = {7, {}};
    kept[0].label.assign("2026-12-07 11:55 \u2014 Backup");
    kept[1] = {3, {}};
    kept[1].label.assign("2026-12-01 09:30 \u2014 Before a restore");
    const halvard::ContextMenu menu = halvard::contextMenuFor(kept);
    int chosen = -1;
    platform.showContextMenu(menu.entries, [&](int item) { chosen = item; });  // modal, as on a right click
    std::printf("chosen=%d\n", chosen);
    windows.close();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    const char* what = argc > 1 ? argv[1] : "";
    if (std::strcmp(what, "menu") == 0) return showMenu();
    halvard::Win32FileDialogs dialogs;
    if (std::strcmp(what, "confirm") == 0) {
        // "shown" once the box is up, activated, with its accept button named (as it activates),
        // so that the keys sent afterwards find it ready.
        std::thread([] {
            for (;;) {
                const HWND box = FindWindowW(nullptr, L"Restore Programs");
                wchar_t accept[16] = {};
                if (box && GetForegroundWindow() == box && GetDlgItemTextW(box, IDOK, accept, 16) &&
                    std::wcscmp(accept, L"&Restore") == 0) {
                    std::printf("shown\n");
                    std::fflush(stdout);
                    return;
                }
                std::this_thread::sleep_for(20ms);
            }
        }).detach();
        const halvard::Confirmation question{
            "Restore Programs", "Restore the programs in all.syx?",
            "2 programs on the amplifier would change:\nProgram 9: Nine\nProgram 30", "Restore"};
        std::printf("path=%d\n",
                    std::async(std::launch::async, [&] { return dialogs.confirm(question); }).get());
        return 0;
    }
    const auto mode = std::strcmp(what, "folder") == 0    ? halvard::DialogMode::Folder
                      : std::strcmp(what, "program") == 0 ? halvard::DialogMode::ProgramFile
                      : std::strcmp(what, "save") == 0    ? halvard::DialogMode::SaveProgramFile
                                                          : halvard::DialogMode::WaveFile;
    auto answer = std::async(std::launch::async, [&] { return dialogs.showFileDialog(mode); });
    if (std::strcmp(what, "shutdown") == 0) {
        for (int i = 0; i < 1500 && !FindWindowW(nullptr, L"Import IR"); ++i)
            std::this_thread::sleep_for(20ms);
        std::this_thread::sleep_for(500ms);
        dialogs.shutdown();
        if (answer.wait_for(20s) != std::future_status::ready) {
            std::printf("path=<still open>\n");
            std::fflush(stdout);
            std::_Exit(1);
        }
        std::printf("path=%s\n", answer.get().c_str());
        std::printf("after=%s\n", dialogs.showFileDialog(halvard::DialogMode::WaveFile).c_str());
        return 0;
    }
    std::printf("path=%s\n", answer.get().c_str());
    return 0;
}
