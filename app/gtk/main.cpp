// halvard-editor: the window, the panel and the device worker for the life of the process.
#include <cstdio>
#include <system_error>

#include "app/editor.hpp"
#include "app/gtk/file_dialog_gtk.hpp"
#include "app/gtk/gtk_window.hpp"
#include "device/backups_folder.hpp"
#include "device/firmware_download.hpp"
#include "device/worker.hpp"

int main() {
    halvard::GtkWindowSystem windows;
    halvard::HttpFirmwareSource firmware;  // the address compiled in (HALVARD_FIRMWARE_BASE_URL)
    halvard::GtkFileDialogs dialogs;       // the worker's file and folder dialogs, run in the main loop
    const halvard::DeviceWorkerHooks worker{
        [&firmware, &dialogs](halvard::LinkContext& link) {
            link.firmware = &firmware;
            link.dialogs = &dialogs;
            link.firmwareBackupFolder = halvard::backupsFolder();  // all programs, before a firmware update
            dialogs.watch(&link.quit);
            halvard::startDeviceWorker(link);  // RtMidi ports on ALSA, and JACK while a server runs
        },
        [&dialogs](halvard::LinkContext& link) {
            dialogs.shutdown();  // an open dialog closes and its waiting worker goes on
            halvard::stopDeviceWorker(link);
        },
    };
    try {
        return halvard::runEditor(windows, worker);
    } catch (const std::system_error& e) {  // the worker thread could not be started
        std::fprintf(stderr, "halvard-editor: %s\n", e.what());
        return 1;
    }
}
