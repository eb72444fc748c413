// halvard-editor: the window, the panel and the device worker for the life of the process.
#include <cstdio>
#include <system_error>

#include "app/editor.hpp"
#include "app/gtk_window.hpp"
#include "device/firmware_download.hpp"
#include "device/worker.hpp"

int main() {
    halvard::GtkWindowSystem windows;
    halvard::CurlFirmwareSource firmware;  // the address compiled in (HALVARD_FIRMWARE_BASE_URL)
    const halvard::DeviceWorkerHooks worker{
        [&firmware](halvard::LinkContext& link) {
            link.firmware = &firmware;
            halvard::startDeviceWorker(link);  // RtMidi ports on ALSA, and JACK while a server runs
        },
        [](halvard::LinkContext& link) { halvard::stopDeviceWorker(link); },
    };
    try {
        return halvard::runEditor(windows, worker);
    } catch (const std::system_error& e) {  // the worker thread could not be started
        std::fprintf(stderr, "halvard-editor: %s\n", e.what());
        return 1;
    }
}
