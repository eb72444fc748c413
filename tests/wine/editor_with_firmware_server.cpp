// halvard-editor.exe with one difference, for the Windows firmware test: it fetches the firmware
// from the address in HALVARD_TEST_FIRMWARE_URL (the test's loopback server) rather than the one
// compiled in. The window, the worker, WinMM, WinHTTP, the dialogs and the backups are the editor's.
#include <cstdlib>

#include "app/editor.hpp"
#include "app/win32/file_dialog_win32.hpp"
#include "app/win32/win32_window.hpp"
#include "device/firmware/firmware_download.hpp"
#include "device/worker/worker.hpp"
#include "util/data_folder.hpp"

int main() {
    using namespace halvard;
    const char* url = std::getenv("HALVARD_TEST_FIRMWARE_URL");
    HttpFirmwareSource firmware(url ? url : "");
    Win32WindowSystem windows;
    Win32FileDialogs dialogs;
    const DeviceWorkerHooks worker{
        [&](LinkContext& link) {
            link.firmware = &firmware;
            link.dialogs = &dialogs;
            link.backupFolder = backupsFolder();
            dialogs.watch(&link.quit);
            startDeviceWorker(link);
        },
        [&](LinkContext& link) {
            dialogs.shutdown();
            stopDeviceWorker(link);
        },
    };
    return runEditor(windows, worker);
}
