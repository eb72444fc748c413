// Shows the Windows file dialogs as the editor's worker does, for file_dialog_win32_test.sh to
// answer with the keyboard from the X side:
//   file_dialog_probe wave|folder   one dialog on a worker thread; prints "path=<answer>"
//   file_dialog_probe shutdown      a dialog that shutdown() closes from the main thread, as at exit;
//                                   prints "path=<answer>", then "after=<answer>" of a later request
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <thread>

#include "app/win32/file_dialog_win32.hpp"

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    const char* what = argc > 1 ? argv[1] : "";
    halvard::Win32FileDialogs dialogs;
    const auto mode =
        std::strcmp(what, "folder") == 0 ? halvard::DialogMode::Folder : halvard::DialogMode::WaveFile;
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
