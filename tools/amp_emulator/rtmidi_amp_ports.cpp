#include "rtmidi_amp_ports.hpp"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace halvard::emulator {

namespace {

bool compiledIn(RtMidi::Api api) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

void quiet(const char*) {}

// A JACK server is running when a client can reach it without starting one. The JACK library's
// complaints about a missing server are the answer here, not news for the user. Its information
// messages stay off for good: they go to standard output, which belongs to the log and the control replies.
bool jackServerRuns() {
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_status_t status{};
    jack_client_t* probe = jack_client_open("halvard-amp-probe", JackNoStartServer, &status);
    jack_set_error_function(nullptr);  // the library's default: standard error
    if (!probe) return false;
    jack_client_close(probe);
    return true;
}

bool alsaSequencerExists() {
    return access("/dev/snd/seq", R_OK | W_OK) == 0;
}

bool checkAvailable(MidiSystem system, std::string& error) {
    if (system == MidiSystem::Jack) {
        if (!compiledIn(RtMidi::UNIX_JACK))
            error = "this RtMidi was built without JACK";
        else if (!jackServerRuns())
            error = "no JACK server runs (start one, or use --api alsa)";
        else
            return true;
    } else {
        if (!compiledIn(RtMidi::LINUX_ALSA))
            error = "this RtMidi was built without ALSA";
        else if (!alsaSequencerExists())
            error = "no ALSA sequencer (/dev/snd/seq is missing; try --api jack)";
        else
            return true;
    }
    return false;
}

}  // namespace

bool resolveMidiSystem(MidiSystem wanted, MidiSystem& chosen, std::string& error) {
    if (wanted != MidiSystem::Auto) {
        chosen = wanted;
        return checkAvailable(wanted, error);
    }
    std::string jackError;
    if (checkAvailable(MidiSystem::Jack, jackError)) {
        chosen = MidiSystem::Jack;
        return true;
    }
    std::string alsaError;
    if (checkAvailable(MidiSystem::Alsa, alsaError)) {
        chosen = MidiSystem::Alsa;
        return true;
    }
    error = "no MIDI system: " + jackError + "; " + alsaError;
    return false;
}

RtMidiAmpPorts::RtMidiAmpPorts(MidiSystem system, std::string baseName)
    : NamedAmpPorts(std::move(baseName)), system_(system) {}

RtMidiAmpPorts::~RtMidiAmpPorts() {
    close();
    // RtMidi 5.0.0 frees a JACK output's buffer before it stops the client's process callback; a
    // callback that was under way when the port closed could still read it. Closed ports make every
    // later callback return at once, so a few cycles' pause first removes the window.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    in_.reset();
    out_.reset();
}

void RtMidiAmpPorts::onInput(double, std::vector<unsigned char>* message, void* self) {
    auto* ports = static_cast<RtMidiAmpPorts*>(self);
    if (message && ports->receiver_) ports->receiver_(std::vector<uint8_t>(message->begin(), message->end()));
}

bool RtMidiAmpPorts::open(std::string& error) {
    close();
    // RtMidi only warns when the JACK server is gone and then registers ports on no client; ask first.
    if (!checkAvailable(system_, error)) return false;
    const RtMidi::Api api = system_ == MidiSystem::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
    // On JACK the port objects (a client each) stay for the emulator's life; unplugging and
    // restarting only remove and add their ports, which is what the editor sees of a device.
    // A failed open drops them, so that the next one starts with new clients.
    try {
        if (!in_) {
            in_ = std::make_unique<RtMidiIn>(api, inName(), 1000);
            in_->ignoreTypes(false, true, true);  // pass SysEx, drop timing and active sensing
            in_->setCallback(&RtMidiAmpPorts::onInput, this);
        }
        if (!out_) out_ = std::make_unique<RtMidiOut>(api, outName());
        in_->openVirtualPort(inName());
        out_->openVirtualPort(outName());
        open_ = true;
    } catch (const RtMidiError& e) {
        error = e.getMessage();
        close();
        in_.reset();
        out_.reset();
        return false;
    }
    return true;
}

void RtMidiAmpPorts::close() {
    open_ = false;
    if (system_ == MidiSystem::Alsa) {
        // Closing an ALSA virtual port only drops its subscriptions; the port goes with its client.
        in_.reset();
        out_.reset();
        return;
    }
    // Input first: once it is gone nothing more reaches the receiver.
    try {
        if (in_) in_->closePort();
        if (out_) out_->closePort();
    } catch (const RtMidiError&) {
        // a port that cannot be closed cleanly is gone all the same
    }
}

bool RtMidiAmpPorts::send(std::span<const uint8_t> message) {
    if (!open_ || message.empty()) return false;
    try {
        out_->sendMessage(message.data(), message.size());
    } catch (const RtMidiError&) {
        return false;
    }
    return true;
}

std::string RtMidiAmpPorts::describe() const {
    return std::string(system_ == MidiSystem::Jack ? "JACK" : "ALSA") + " ports \"" + baseName_ +
           " In\" and \"" + baseName_ + " Out\"";
}

}  // namespace halvard::emulator
