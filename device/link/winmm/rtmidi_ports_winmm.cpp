#include <windows.h>
// mmsystem.h needs the types of windows.h first.
#include <mmsystem.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "device/link/platform_midi_ports.hpp"
#include "device/link/port_list_cache.hpp"
#include "device/link/rtmidi/rtmidi_errors.hpp"
#include "device/link/rtmidi/rtmidi_input_queue.hpp"

// How RtMidi 5.0.0 is used on Windows (WinMM), and why:
//  - A port is a WinMM device ID, 0 to the device count - 1 in each direction; the IDs of the
//    devices after one that goes shift down by one. RtMidi appends the ID to each name ("VDR 1").
//  - Listing asks every driver for its capabilities, so the list is kept (PortListCache): the
//    devices are listed at most every 500 ms. A device that comes or goes is noticed within 500 ms.
//    With no amplifier the worker sleeps until the next check is due.
//  - A list up to 500 ms old may have shifted, so the name at an index is read again just before
//    that index is opened; when it differs nothing is opened and the next pass lists afresh.
//  - RtMidi's constructors print a warning on stderr when there is no device, before an error
//    callback can be installed. So the port objects are made only once the direction has a device;
//    until then the count comes from WinMM directly, and a machine without MIDI devices (Wine here)
//    sees no ports and no messages.
//  - Library errors close both ports once the operation that raised them has returned
//    (RtMidiErrors).
//  - Connected and idle, the worker sleeps until input comes: RtMidi's input calls back into a
//    queue of our own (RtMidiInputQueue, kInputQueueLimit messages), which wakes it.
//  - Windows lets one program at a time open a MIDI device. RtMidi reports a failed open without
//    WinMM's code, so after one the device is opened once more directly: MMSYSERR_ALLOCATED says
//    another program has it (portInUse).

namespace halvard {
namespace {

constexpr const char* kInputClientName = "midi input client";
constexpr const char* kOutputClientName = "midi client";
constexpr std::chrono::milliseconds kListInterval{500};

class WinMmPorts final : public MidiPorts {
public:
    WinMmPorts()
        : inList_(
              kListInterval, [] { return static_cast<int>(midiInGetNumDevs()); },
              [this](int i) { return nameOf(PortDirection::Input, i); }),
          outList_(
              kListInterval, [] { return static_cast<int>(midiOutGetNumDevs()); },
              [this](int i) { return nameOf(PortDirection::Output, i); }) {}

    int portCount(PortDirection direction) override {
        return static_cast<int>(list(direction).names(PortListCache::Clock::now()).size());
    }

    std::string portName(PortDirection direction, int index) override {
        const std::vector<std::string>& names = list(direction).names(PortListCache::Clock::now());
        return index >= 0 && static_cast<size_t>(index) < names.size() ? names[static_cast<size_t>(index)]
                                                                       : std::string();
    }

    void reportTo(Wakeup* wakeup) override { input_.reportTo(wakeup); }

    // WinMM reports no changes: the lists stand until the next check.
    std::chrono::steady_clock::time_point listingCurrentUntil() override {
        return std::min(inList_.nextCheck(), outList_.nextCheck());
    }

    void openPort(PortDirection direction, int index, const std::string& ownPortName) override {
        inUse_[slot(direction)] = false;
        PortListCache& cache = list(direction);
        const std::vector<std::string>& names = cache.names(PortListCache::Clock::now());
        RtMidi* port = object(direction);
        if (port == nullptr || index < 0 || static_cast<size_t>(index) >= names.size()) return;
        const std::string listed = names[static_cast<size_t>(index)];
        if (nameOf(direction, index) != listed) {
            cache.invalidate();
            return;
        }
        errors_.call([&] { port->openPort(static_cast<unsigned>(index), ownPortName); });
        inUse_[slot(direction)] = !port->isPortOpen() && heldByAnotherProgram(direction, index);
    }

    bool portInUse(PortDirection direction) const override { return inUse_[slot(direction)]; }

    void closePort(PortDirection direction) override {
        if (RtMidi* port = object(direction)) {
            try {
                port->closePort();
            } catch (...) {
            }
        }
        if (direction == PortDirection::Input) input_.clear();  // nothing from before is handed out
    }

    bool isPortOpen(PortDirection direction) const override {
        const RtMidi* port = direction == PortDirection::Input ? static_cast<const RtMidi*>(in_.get())
                                                               : static_cast<const RtMidi*>(out_.get());
        return port != nullptr && port->isPortOpen();
    }

    void ignoreTypes(IgnoredTypes types) override {
        ignored_ = types;
        if (in_) errors_.call([&] { in_->ignoreTypes(types.sysex, types.timing, types.activeSensing); });
    }

    void installErrorHandler() override { errors_.installOn({in_.get(), out_.get()}); }

    void sendMessage(std::span<const uint8_t> message) override {
        if (!isPortOpen(PortDirection::Output) || message.empty()) return;
        errors_.call([&] { out_->sendMessage(message.data(), message.size()); });
    }

    std::span<const uint8_t> nextMessage() override {
        message_.clear();
        if (isPortOpen(PortDirection::Input) && input_.take(message_))
            return {message_.data(), message_.size()};
        return {};
    }

private:
    PortListCache& list(PortDirection d) { return d == PortDirection::Input ? inList_ : outList_; }
    static int slot(PortDirection d) { return d == PortDirection::Input ? 0 : 1; }

    static bool heldByAnotherProgram(PortDirection direction, int index) {
        const auto id = static_cast<UINT>(index);
        MMRESULT result;
        if (direction == PortDirection::Input) {
            HMIDIIN handle = nullptr;
            result = midiInOpen(&handle, id, 0, 0, CALLBACK_NULL);
            if (result == MMSYSERR_NOERROR) midiInClose(handle);
        } else {
            HMIDIOUT handle = nullptr;
            result = midiOutOpen(&handle, id, 0, 0, CALLBACK_NULL);
            if (result == MMSYSERR_NOERROR) midiOutClose(handle);
        }
        return result == MMSYSERR_ALLOCATED;
    }

    RtMidi* object(PortDirection d) const {
        return d == PortDirection::Input ? static_cast<RtMidi*>(in_.get()) : static_cast<RtMidi*>(out_.get());
    }

    // The name RtMidi gives device index now; makes the direction's port object on first use.
    std::string nameOf(PortDirection direction, int index) {
        RtMidi* port = object(direction);
        if (port == nullptr) port = make(direction);
        std::string name;
        if (port != nullptr) errors_.call([&] { name = port->getPortName(static_cast<unsigned>(index)); });
        return name;
    }

    RtMidi* make(PortDirection direction) {
        try {
            if (direction == PortDirection::Input) {
                in_ = std::make_unique<RtMidiIn>(RtMidi::WINDOWS_MM, kInputClientName);
                input_.fillFrom(*in_);
                in_->ignoreTypes(ignored_.sysex, ignored_.timing, ignored_.activeSensing);
            } else {
                out_ = std::make_unique<RtMidiOut>(RtMidi::WINDOWS_MM, kOutputClientName);
            }
        } catch (...) {
            return nullptr;
        }
        installErrorHandler();
        return object(direction);
    }

    RtMidiErrors errors_{*this};                // outlives the RtMidi objects that report to it
    RtMidiInputQueue input_{kInputQueueLimit};  // filled by in_'s thread, so made before it
    std::unique_ptr<RtMidiIn> in_;
    std::unique_ptr<RtMidiOut> out_;
    PortListCache inList_;
    PortListCache outList_;
    std::vector<unsigned char> message_;
    bool inUse_[2] = {false, false};
    IgnoredTypes ignored_{.sysex = true, .timing = true, .activeSensing = true};  // RtMidi's own default
};

}  // namespace

std::unique_ptr<MidiPorts> makePlatformMidiPorts(const RtMidiPortsOptions&) {
    return std::make_unique<WinMmPorts>();
}

}  // namespace halvard
