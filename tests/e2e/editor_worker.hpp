#pragma once
// The editor's real device worker without a window: a mirror, a link context and the worker thread
// on the RtMidi ports (JACK while a server runs). Stopped and joined when the object goes.

#include <chrono>
#include <string>

#include "device/worker.hpp"
#include "emulator_process.hpp"
#include "model/device_mirror.hpp"
#include "model/link_context.hpp"

namespace halvard::e2e {

class EditorWorker {
public:
    EditorWorker() {
        link.ui = &mirror;
        startDeviceWorker(link);
    }
    ~EditorWorker() { stopDeviceWorker(link); }
    EditorWorker(const EditorWorker&) = delete;
    EditorWorker& operator=(const EditorWorker&) = delete;

    LinkState state() const { return mirror.linkState.load(); }
    bool waitForState(LinkState s, std::chrono::milliseconds limit = 10s) const {
        return EmulatorProcess::waitFor([&] { return state() == s; }, limit);
    }

    DeviceMirror mirror;
    LinkContext link;
};

inline const char* stateName(LinkState s) {
    switch (s) {
        case LinkState::NoDevice:
            return "NoDevice";
        case LinkState::Connected:
            return "Connected";
        case LinkState::Busy:
            return "Busy";
        case LinkState::Error:
            return "Error";
    }
    return "?";
}

}  // namespace halvard::e2e
