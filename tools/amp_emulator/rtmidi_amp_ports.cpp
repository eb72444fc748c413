#include "rtmidi_amp_ports.hpp"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
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

bool alsaSequencerExists() { return access("/dev/snd/seq", R_OK | W_OK) == 0; }

bool checkAvailable(MidiSystem system, std::string& error) {
    if (system == MidiSystem::Jack) {
        if (!compiledIn(RtMidi::UNIX_JACK)) error = "this RtMidi was built without JACK";
        else if (!jackServerRuns()) error = "no JACK server runs (start one, or use --api alsa)";
        else return true;
    } else {
        if (!compiledIn(RtMidi::LINUX_ALSA)) error = "this RtMidi was built without ALSA";
        else if (!alsaSequencerExists()) error = "no ALSA sequencer (/dev/snd/seq is missing; try --api jack)";
        else return true;
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
    : system_(system), baseName_(std::move(baseName)) {}

RtMidiAmpPorts::~RtMidiAmpPorts() { close(); }

void RtMidiAmpPorts::onInput(double, std::vector<unsigned char>* message, void* self) {
    auto* ports = static_cast<RtMidiAmpPorts*>(self);
    if (message && ports->receiver_) ports->receiver_(std::vector<uint8_t>(message->begin(), message->end()));
}

bool RtMidiAmpPorts::open(std::string& error) {
    close();
    // RtMidi only warns when the JACK server is gone and then registers ports on no client; ask first.
    if (!checkAvailable(system_, error)) return false;
    const RtMidi::Api api = system_ == MidiSystem::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
    const std::string inName = baseName_ + " In";
    const std::string outName = baseName_ + " Out";
    try {
        // JACK makes each RtMidi object a client of its own; give each the port's name.
        auto in = std::make_unique<RtMidiIn>(api, inName, 1000);
        in->ignoreTypes(false, true, true);  // pass SysEx, drop timing and active sensing
        in->setCallback(&RtMidiAmpPorts::onInput, this);
        in->openVirtualPort(inName);
        auto out = std::make_unique<RtMidiOut>(api, outName);
        out->openVirtualPort(outName);
        in_ = std::move(in);
        out_ = std::move(out);
    } catch (const RtMidiError& e) {
        error = e.getMessage();
        close();
        return false;
    }
    return true;
}

void RtMidiAmpPorts::close() {
    // Input first: once it is gone nothing more reaches the receiver.
    in_.reset();
    out_.reset();
}

bool RtMidiAmpPorts::send(std::span<const uint8_t> message) {
    if (!out_ || message.empty()) return false;
    try {
        out_->sendMessage(message.data(), message.size());
    } catch (const RtMidiError&) {
        return false;
    }
    return true;
}

std::string RtMidiAmpPorts::describe() const {
    return std::string(system_ == MidiSystem::Jack ? "JACK" : "ALSA") + " ports \"" + baseName_ + " In\" and \"" +
           baseName_ + " Out\"";
}

}  // namespace halvard::emulator
