#pragma once
// A plain libjack client that stands in for the amplifier on the test JACK server: "VDR from
// editor" receives, "VDR to editor" sends. It records what crosses the wire event by event, with the
// cycle each came in, so that tests see how messages were cut into events.

#include <jack/jack.h>
#include <jack/midiport.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace halvard::test {

using Bytes = std::vector<uint8_t>;

// A SysEx of `size` bytes with a running pattern of data bytes.
inline Bytes sysex(size_t size) {
    Bytes m(size);
    m.front() = 0xF0;
    for (size_t i = 1; i + 1 < size; ++i) m[i] = static_cast<uint8_t>(i % 0x7F);
    m.back() = 0xF7;
    return m;
}

// The stand-in amplifier: "VDR from editor" receives, "VDR to editor" sends. Every event received
// is kept with the number of the cycle it came in; events to send are queued by cycle.
class StandInAmp {
public:
    struct Event {
        Bytes bytes;
        uint64_t cycle;
    };

    StandInAmp() {
        client_ = jack_client_open("vdr stand-in", JackNoStartServer, nullptr);
        if (client_ == nullptr) return;
        in_ = jack_port_register(client_, "VDR from editor", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        out_ = jack_port_register(client_, "VDR to editor", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, &StandInAmp::process, this);
        jack_activate(client_);
    }
    ~StandInAmp() {
        if (client_) jack_client_close(client_);
    }
    StandInAmp(const StandInAmp&) = delete;
    StandInAmp& operator=(const StandInAmp&) = delete;

    bool running() const { return client_ != nullptr && in_ != nullptr && out_ != nullptr; }
    std::string inputName() const { return jack_port_name(in_); }
    std::string outputName() const { return jack_port_name(out_); }
    void unregisterPorts() {
        jack_port_unregister(client_, out_);
        jack_port_unregister(client_, in_);
    }

    // These events go out together in one cycle, after those queued before.
    void sendInOneCycle(std::vector<Bytes> events) {
        std::lock_guard lock(mutex_);
        toSend_.push_back(std::move(events));
    }
    std::vector<Event> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    static int process(jack_nframes_t frames, void* self) {
        auto* amp = static_cast<StandInAmp*>(self);
        std::lock_guard lock(amp->mutex_);
        ++amp->cycle_;
        void* in = jack_port_get_buffer(amp->in_, frames);
        for (uint32_t i = 0; i < jack_midi_get_event_count(in); ++i) {
            jack_midi_event_t e;
            jack_midi_event_get(&e, in, i);
            amp->received_.push_back({Bytes(e.buffer, e.buffer + e.size), amp->cycle_});
        }
        void* out = jack_port_get_buffer(amp->out_, frames);
        jack_midi_clear_buffer(out);
        if (!amp->toSend_.empty()) {
            for (const Bytes& e : amp->toSend_.front()) jack_midi_event_write(out, 0, e.data(), e.size());
            amp->toSend_.pop_front();
        }
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* in_ = nullptr;
    jack_port_t* out_ = nullptr;
    mutable std::mutex mutex_;
    uint64_t cycle_ = 0;
    std::vector<Event> received_;
    std::deque<std::vector<Bytes>> toSend_;
};

}  // namespace halvard::test
