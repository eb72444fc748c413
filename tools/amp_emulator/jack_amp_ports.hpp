#pragma once
// The amplifier's ports on JACK through libjack: one client named after the ports ("Halvard VDR",
// ports "Halvard VDR In" and "Halvard VDR Out"), in the server's cycle only while the ports are
// there. Its process callback moves bytes between the ports and two ring buffers; a reader thread
// hands what came in to the receiver, one complete message at a time.

#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "amp_ports.hpp"
#include "util/midi_joiner.hpp"

namespace halvard::emulator {

class JackAmpPorts final : public NamedAmpPorts {
public:
    explicit JackAmpPorts(std::string baseName);
    ~JackAmpPorts() override;
    JackAmpPorts(const JackAmpPorts&) = delete;
    JackAmpPorts& operator=(const JackAmpPorts&) = delete;

    bool open(std::string& error) override;
    void close() override;
    // From one thread at a time (the emulator's loop).
    bool send(std::span<const uint8_t> message) override;
    std::string describe() const override;

private:
    bool openClient(std::string& error);
    void closeClient();
    void readMessages();
    static int process(jack_nframes_t frames, void* self);
    void moveMessages(jack_nframes_t frames);
    static void onShutdown(void* self);

    jack_client_t* client_ = nullptr;
    jack_port_t* in_ = nullptr;  // registered and unregistered only while the client is inactive
    jack_port_t* out_ = nullptr;
    jack_ringbuffer_t* toServer_ = nullptr;    // [length][bytes] records
    jack_ringbuffer_t* fromServer_ = nullptr;  // one record per event
    std::atomic<bool> portsGone_{true};        // the process callback leaves the ports alone
    std::atomic<bool> inCycle_{false};         // the process callback is in a cycle
    std::atomic<bool> lost_{false};
    // The reader thread: woken by the process callback when events came in.
    sem_t arrived_;
    std::atomic<bool> stopReading_{false};
    std::thread reader_;
    std::mutex readMutex_;       // the reader reads and delivers under it; close() takes it to stop both
    MidiJoiner joiner_;          // reader only: a SysEx may come in several events
    uint32_t outRemaining_ = 0;  // process callback only: bytes of a long message still to send
};

}  // namespace halvard::emulator
