#include "jack_amp_ports.hpp"

#include <jack/midiport.h>

#include <cstring>

#include "tools/jack_midi_out.hpp"

// Why it is built this way (JACK 2, jackd 1.9.21):
//  - One client with both ports instead of RtMidi's two port objects, each a client in every cycle.
//  - Unplugged, the client is deactivated: out of the server's cycle, like a device that has gone.
//    The server tells other clients of ports that come and go only for active clients, yet lists
//    the ports of inactive ones; so the ports are unregistered before the deactivation, once the
//    process callback has let go of them (see close), and registered before the activation.
//  - A cycle's MIDI buffer takes 32 KiB: every reply fits whole. A longer message (sent by hand, up
//    to the output ring's 64 KiB) goes out as one SysEx in two or more events over as many cycles,
//    and pieces that come in are joined again, as the editor does.
//  - The process callback posts a semaphore in a cycle that brought events, to wake the reader;
//    the only system call in the callback, and only then. Good enough for a stand-in for hardware.

namespace halvard::emulator {
namespace {

constexpr size_t kInputRingBytes = 256 * 1024;
constexpr size_t kOutputRingBytes = 64 * 1024;
constexpr size_t kHeaderBytes = sizeof(uint32_t);

// Writes a length and the bytes as one record (the reader sees all or nothing); false when full.
bool writeRecord(jack_ringbuffer_t* ring, const uint8_t* bytes, uint32_t size) {
    if (jack_ringbuffer_write_space(ring) < kHeaderBytes + size) return false;
    jack_ringbuffer_data_t parts[2];
    jack_ringbuffer_get_write_vector(ring, parts);
    uint8_t header[kHeaderBytes];
    std::memcpy(header, &size, kHeaderBytes);
    size_t at = 0;
    const auto put = [&](const uint8_t* from, size_t n) {
        for (size_t i = 0; i < n; ++i, ++at) {
            const size_t part = at < parts[0].len ? 0 : 1;
            parts[part].buf[part == 0 ? at : at - parts[0].len] = static_cast<char>(from[i]);
        }
    };
    put(header, kHeaderBytes);
    put(bytes, size);
    jack_ringbuffer_write_advance(ring, kHeaderBytes + size);
    return true;
}

bool peekLength(jack_ringbuffer_t* ring, uint32_t& size) {
    return jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&size), kHeaderBytes) == kHeaderBytes;
}

}  // namespace

JackAmpPorts::JackAmpPorts(std::string baseName) : NamedAmpPorts(std::move(baseName)) {
    sem_init(&arrived_, 0, 0);
    toServer_ = jack_ringbuffer_create(kOutputRingBytes);
    fromServer_ = jack_ringbuffer_create(kInputRingBytes);
    reader_ = std::thread([this] { readMessages(); });
}

JackAmpPorts::~JackAmpPorts() {
    close();
    closeClient();
    stopReading_ = true;
    sem_post(&arrived_);
    reader_.join();
    jack_ringbuffer_free(toServer_);
    jack_ringbuffer_free(fromServer_);
    sem_destroy(&arrived_);
}

bool JackAmpPorts::openClient(std::string& error) {
    if (client_ != nullptr && lost_) closeClient();
    if (client_ != nullptr) return true;
    client_ = jack_client_open(baseName_.c_str(), JackNoStartServer, nullptr);
    if (client_ == nullptr) {
        error = "no JACK server runs (start one, or use --api alsa)";
        return false;
    }
    jack_set_process_callback(client_, &JackAmpPorts::process, this);
    jack_on_shutdown(client_, &JackAmpPorts::onShutdown, this);
    return true;
}

void JackAmpPorts::closeClient() {
    if (client_ == nullptr) return;
    jack_client_close(client_);
    client_ = nullptr;
    in_ = out_ = nullptr;
    lost_ = false;
}

bool JackAmpPorts::open(std::string& error) {
    close();
    if (!openClient(error)) return false;
    in_ = jack_port_register(client_, inName().c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    out_ = jack_port_register(client_, outName().c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    portsGone_ = false;
    if (in_ == nullptr || out_ == nullptr || jack_activate(client_) != 0) {
        error = "cannot register the JACK ports";
        closeClient();  // the next open starts with a new client
        return false;
    }
    open_ = true;
    return true;
}

void JackAmpPorts::close() {
    if (!open_) return;
    // The process callback marks each cycle under way before it looks at the flag; once a cycle
    // seen under way has ended, every later one leaves the ports alone.
    portsGone_ = true;
    while (inCycle_) std::this_thread::yield();
    jack_port_unregister(client_, in_);
    jack_port_unregister(client_, out_);
    in_ = out_ = nullptr;
    // Deactivated, the process callback has ended for good; the rings are ours alone.
    jack_deactivate(client_);
    const std::lock_guard lock(readMutex_);
    open_ = false;
    jack_ringbuffer_reset(toServer_);
    jack_ringbuffer_reset(fromServer_);
    outRemaining_ = 0;
    joiner_.lose();
}

bool JackAmpPorts::send(std::span<const uint8_t> message) {
    if (!open_ || lost_ || message.empty()) return false;
    if (kHeaderBytes + message.size() < kOutputRingBytes)
        return writeRecord(toServer_, message.data(), static_cast<uint32_t>(message.size()));
    return false;  // longer than the ring: nothing the amplifier sends
}

std::string JackAmpPorts::describe() const {
    return "JACK ports \"" + baseName_ + " In\" and \"" + baseName_ + " Out\" (client \"" + baseName_ + "\")";
}

// The reader thread: each complete message that came in, to the receiver.
void JackAmpPorts::readMessages() {
    std::vector<uint8_t> event;
    for (;;) {
        while (sem_wait(&arrived_) != 0) {
        }
        if (stopReading_) return;
        const std::lock_guard lock(readMutex_);
        uint32_t size = 0;
        while (open_ && peekLength(fromServer_, size) &&
               jack_ringbuffer_read_space(fromServer_) >= kHeaderBytes + size) {
            jack_ringbuffer_read_advance(fromServer_, kHeaderBytes);
            event.resize(size);
            jack_ringbuffer_read(fromServer_, reinterpret_cast<char*>(event.data()), size);
            const std::span<const uint8_t> message = joiner_.add(event);
            if (!message.empty() && receiver_) receiver_({message.begin(), message.end()});
        }
    }
}

int JackAmpPorts::process(jack_nframes_t frames, void* self) {
    auto* ports = static_cast<JackAmpPorts*>(self);
    ports->inCycle_ = true;
    if (!ports->portsGone_) ports->moveMessages(frames);
    ports->inCycle_ = false;
    return 0;
}

void JackAmpPorts::moveMessages(jack_nframes_t frames) {
    void* in = jack_port_get_buffer(in_, frames);
    const uint32_t count = jack_midi_get_event_count(in);
    bool arrived = false;
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, in, i) == 0 && event.size > 0)
            arrived = writeRecord(fromServer_, event.buffer, static_cast<uint32_t>(event.size)) || arrived;
    }
    if (arrived) sem_post(&arrived_);

    // Whole messages while they fit; one longer than an empty buffer takes, in pieces.
    void* out = jack_port_get_buffer(out_, frames);
    jack_midi_clear_buffer(out);
    transmitFromRing(toServer_, out, outRemaining_);
}

void JackAmpPorts::onShutdown(void* self) {
    auto* ports = static_cast<JackAmpPorts*>(self);
    ports->lost_ = true;
    ports->open_ = false;
}

}  // namespace halvard::emulator
