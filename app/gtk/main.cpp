// halvard-editor: the window, the panel and the device worker for the life of the process.
#include <cstdio>
#include <cstring>
#include <system_error>

#include "app/editor.hpp"
#include "app/gtk/file_dialog_gtk.hpp"
#include "app/gtk/gtk_window.hpp"
#include "device/backups_folder.hpp"
#include "device/firmware_download.hpp"
#include "device/worker.hpp"
#include "halvard_version.hpp"

int main(int argc, char** argv) {
    // The editor takes no options beyond these: it finds the amplifier by itself.
    if (argc > 1) {
        if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
            std::printf("halvard-editor %s\n", halvard::kAppVersion);
            return 0;
        }
        if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
            std::printf(
                "Usage: halvard-editor [--help | --version]\n"
                "Opens the editor's window; it finds the amplifier by its MIDI port name.\n");
            return 0;
        }
        std::fprintf(stderr, "halvard-editor: unknown option \"%s\" (see --help)\n", argv[1]);
        return 2;
    }
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
