// halvard-editor: the window, the panel and the device worker for the life of the process.
#include <cstdio>
#include <system_error>

#include "app/editor.hpp"
#include "app/gtk_window.hpp"

int main() {
    halvard::GtkWindowSystem windows;
    // The device worker joins here once the device link provides it.
    const halvard::DeviceWorkerHooks worker{};
    try {
        return halvard::runEditor(windows, worker);
    } catch (const std::system_error& e) {  // the worker thread could not be started
        std::fprintf(stderr, "halvard-editor: %s\n", e.what());
        return 1;
    }
}
