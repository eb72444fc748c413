#pragma once
// The editor's real device worker without a window: a mirror, a link context and the worker thread
// on RtMidi's JACK ports only, so that a real amplifier on an ALSA port of the test machine is never
// found (these tests write settings, IRs and firmware). Stopped and joined when the object goes.

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/link/amplifier_lock.hpp"
#include "device/link/file_dialogs.hpp"
#include "device/link/link_context.hpp"
#include "device/link/platform_midi_ports.hpp"
#include "device/worker/worker.hpp"
#include "emulator_process.hpp"
#include "model/device_mirror.hpp"

namespace halvard::e2e {

// What the panel would have shown at one repaint request.
struct Shown {
    LinkState state;
    int32_t progress;
    int32_t failures;
};

// Answers the worker's dialogs with prepared paths (empty when none is left).
class ScriptedDialogs final : public FileDialogs {
public:
    void answer(std::string path) {
        std::lock_guard lock(mutex_);
        answers_.push_back(std::move(path));
    }
    std::string showFileDialog(DialogMode) override {
        std::lock_guard lock(mutex_);
        ++asked_;
        if (answers_.empty()) return {};
        std::string path = answers_.front();
        answers_.pop_front();
        return path;
    }
    int asked() const {
        std::lock_guard lock(mutex_);
        return asked_;
    }
    // Every question is answered yes; the last one asked.
    bool confirm(const Confirmation& question) override {
        std::lock_guard lock(mutex_);
        lastQuestion_ = question;
        return true;
    }
    Confirmation lastQuestion() const {
        std::lock_guard lock(mutex_);
        return lastQuestion_;
    }

private:
    mutable std::mutex mutex_;
    std::deque<std::string> answers_;
    int asked_ = 0;
    Confirmation lastQuestion_;
};

class EditorWorker {
public:
    // The seams the worker may use: a firmware source and the file dialogs (null: none), the
    // backups folder (empty: none), and whether it keeps to the amplifier's lock as the editor does.
    explicit EditorWorker(FirmwareSource* firmware = nullptr, FileDialogs* dialogs = nullptr,
                          std::filesystem::path backupFolder = {}, bool locked = false) {
        link.ui = &mirror;
        if (locked) link.amplifierLock = &lock_;
        link.firmware = firmware;
        link.dialogs = dialogs;
        link.backupFolder = std::move(backupFolder);
        link.requestRepaint = [this] {
            std::lock_guard lock(mutex_);
            shown_.push_back({mirror.linkState, mirror.progress, link.failures});
        };
        link.worker = std::thread([this] {
            const std::unique_ptr<MidiPorts> ports = makePlatformMidiPorts({.useAlsa = false});
            link.ports = ports.get();
            runDeviceWorker(link);
        });
    }
    ~EditorWorker() { stopDeviceWorker(link); }
    EditorWorker(const EditorWorker&) = delete;
    EditorWorker& operator=(const EditorWorker&) = delete;

    LinkState state() const { return mirror.linkState.load(); }
    bool waitForState(LinkState s, std::chrono::milliseconds limit = 10s) const {
        return EmulatorProcess::waitFor([&] { return state() == s; }, limit);
    }
    bool connected(std::chrono::milliseconds limit = 20s) const {
        return waitForState(LinkState::Connected, limit);
    }

    // Every repaint request so far, in order.
    std::vector<Shown> shown() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }
    size_t repaints() const {
        std::lock_guard lock(mutex_);
        return shown_.size();
    }

    DeviceMirror mirror;
    LinkContext link;

private:
    AmplifierLock lock_;
    mutable std::mutex mutex_;
    std::vector<Shown> shown_;
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
