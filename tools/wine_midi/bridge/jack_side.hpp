#pragma once
// The bridge's one JACK client: lists the server's MIDI ports, and for each WinMM device a Windows
// program opens, registers a port of its own connected to that device's port. Messages cross the
// realtime thread through one ring buffer per port: what the driver sends is written into the port
// in the next cycle (a message longer than a cycle's buffer takes in pieces over several), what the
// port receives is read out by the bridge's loop, in the order it came, a SysEx that came in
// several events joined again.
//
// Everything but the process and notification callbacks runs on the bridge's one loop thread.

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "util/midi_joiner.hpp"

namespace halvard::winemidi {

class JackSide {
public:
    JackSide() = default;
    ~JackSide();
    JackSide(const JackSide&) = delete;
    JackSide& operator=(const JackSide&) = delete;

    // Opens the client (on the server JACK_DEFAULT_SERVER names; never starts one) and activates it.
    bool open(std::string& error);

    // The full names of the server's MIDI ports that send (sources: WinMM inputs) or receive (sinks:
    // WinMM outputs), the bridge's own left out, in the server's order.
    std::vector<std::string> midiPorts(bool sources) const;
    bool portExists(const std::string& name) const;

    // A port of our own connected to target (a source when receive is set, else a sink), in use
    // once the connection has taken effect. The slot number, or -1 with the reason.
    int openLink(const std::string& target, bool receive, std::string& error);
    void closeLink(int slot);

    // Queues one message for the link's port; false when it cannot take it.
    bool send(int slot, std::span<const uint8_t> message);
    // The oldest whole message the link's port received, into message; false when none waits.
    bool receive(int slot, std::vector<uint8_t>& message);
    // Links that have received something since the last call (the loop reads them).
    std::vector<int> takeReceiving();

    // Readable when something happened: messages arrived, the port set changed, the server went.
    int notifyFd() const { return notifyFd_; }
    void drainNotify();
    // Whether the port set changed since the last call.
    bool takePortsChanged() { return portsChanged_.exchange(false); }
    bool serverGone() const { return serverGone_; }
    // Messages dropped because a ring was full (the receiving side did not keep up).
    uint64_t dropped() const { return dropped_; }

private:
    static constexpr int kSlots = 64;
    static constexpr size_t kRingBytes = 1 << 18;

    struct Link {
        std::atomic<jack_port_t*> port{nullptr};  // set once the port exists; cleared before it goes
        std::atomic<bool> active{false};          // messages flow
        std::atomic<bool> received{false};
        bool receive = false;
        jack_ringbuffer_t* ring = nullptr;
        // Process callback only: bytes of the message under way that later cycles still send.
        uint32_t outRemaining = 0;
        // The loop only: the event just read, and the messages put together from the events.
        std::vector<uint8_t> event;
        MidiJoiner joiner;
    };

    static int onProcess(jack_nframes_t frames, void* self);
    static void onPortRegistration(jack_port_id_t, int, void* self);
    static void onShutdown(void* self);
    void notify();
    // Waits (up to a limit) until the process callback has run `cycles` more times.
    bool awaitCycles(uint64_t cycles);

    jack_client_t* client_ = nullptr;
    std::string clientName_;
    std::array<Link, kSlots> links_;
    int notifyFd_ = -1;
    std::atomic<uint64_t> cycle_{0};
    std::atomic<bool> portsChanged_{false};
    std::atomic<bool> serverGone_{false};
    std::atomic<uint64_t> dropped_{0};
    int nextPortNumber_ = 1;
};

}  // namespace halvard::winemidi
