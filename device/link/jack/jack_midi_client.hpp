#pragma once
// One JACK client for the whole program, on libjack itself: it watches the server's ports, and while
// the amplifier is there it has one MIDI input and one MIDI output port connected to the
// amplifier's. Its process callback only moves bytes between the ports and two lock-free ring
// buffers (jack_ringbuffer_t); the worker thread fills and empties those.
//
// Two modes, because a JACK client hears of ports only while it is active, and an active client with
// a process callback takes part in every cycle of the server (see jack_midi_client.cpp):
//  - watching: active without a process callback and without ports. It is told of every port that
//    comes, goes or is renamed, and adds no work to the server's cycles.
//  - linked: active with the process callback, its ports registered. Entered when the first port
//    is opened, or as soon as a port whose name holds the amplifier's tag appears (a thread of its
//    own makes the switch, so that the open finds it done); left, back to watching, when both ports
//    are closed.
//
// Made and used on the worker thread only; onChange is called on libjack's notification thread and
// on the link-ahead thread, onInput on a relay thread of its own: the process callback may not take
// a lock or wait, so it only posts a semaphore when it has queued input, and the relay, woken by
// it, tells the worker.

#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "device/link/midi_ports.hpp"
#include "util/midi_joiner.hpp"

namespace halvard {

class JackMidiClient {
public:
    // A client named clientName (JACK appends a number when the name is taken) on the server that
    // runs; null when none runs. No server is started. onChange: the port lists may have changed,
    // or the server has gone. amplifierTag: a port whose name holds it is about to be opened
    // (empty: none is expected). onInput: a message came in (not the clock or active sensing,
    // which the amplifier's input filter drops); may be empty.
    static std::unique_ptr<JackMidiClient> open(const std::string& clientName, std::function<void()> onChange,
                                                std::string amplifierTag = {},
                                                std::function<void()> onInput = {});
    ~JackMidiClient();
    JackMidiClient(const JackMidiClient&) = delete;
    JackMidiClient& operator=(const JackMidiClient&) = delete;

    // The server has gone or has shut this client out: it offers nothing more; make a new one.
    bool lost() const { return lost_; }
    // True while the server reports every port change; otherwise the lists must be taken every pass.
    bool reportsChanges() const { return watched_ && !lost_; }
    // True when a change was reported since the last call (always when changes are not reported).
    bool takeChange() { return changed_.exchange(false) || !reportsChanges(); }

    // The full names ("client:port") of the MIDI ports a port of ours in this direction could be
    // connected to: as our input, the ports that send; as our output, the ports that receive.
    std::vector<std::string> ports(PortDirection direction);

    // Links the client (ports registered) if it is not, names our port in this direction
    // ownPortName and connects it to the port named peer. False when the peer has gone or the
    // connection cannot be made; the port is then not open. The first send waits until the new
    // connections carry data.
    bool openPort(PortDirection direction, const std::string& peer, const std::string& ownPortName);
    // Disconnects our port in this direction. With both closed the client goes back to watching,
    // unless the last listing still holds a port with the amplifier's tag.
    void closePort(PortDirection direction);
    bool isPortOpen(PortDirection direction) const { return side(direction).open; }

    // Queues one complete message for the output; false when it cannot be queued (the output is
    // not open, or the server has taken nothing for a while).
    bool send(std::span<const uint8_t> message);
    // The oldest complete message from the input that `ignored` does not drop; empty when none is
    // queued. The bytes stay valid until the next call.
    std::span<const uint8_t> nextMessage(IgnoredTypes ignored);

    // Process cycles run with the client linked: for tests, which check that watching costs none.
    uint64_t cyclesRun() const { return cycles_.load(std::memory_order_relaxed); }

private:
    struct Side {
        std::atomic<jack_port_t*> port{nullptr};  // read by the process callback
        std::string ownName;                      // the name our port was last opened under
        std::string peer;
        bool open = false;
        bool awaiting = false;   // connected, not yet known to carry data
        bool tagListed = false;  // the last listing held a port with the amplifier's tag
    };

    JackMidiClient(jack_client_t* client, std::function<void()> onChange, std::string amplifierTag,
                   std::function<void()> onInput);
    Side& side(PortDirection d) { return d == PortDirection::Input ? in_ : out_; }
    const Side& side(PortDirection d) const { return d == PortDirection::Input ? in_ : out_; }

    bool link();  // these three with mutex_ held
    void unlink();
    void unregisterPorts();
    void noteUnheardChanges();
    void linkAhead();
    void awaitConnections();
    void dropInput();

    // libjack's threads.
    static int process(jack_nframes_t frames, void* self);
    bool receive(void* buffer);
    void relayInput();
    void transmit(void* buffer);
    static void onPortRegistration(jack_port_id_t, int, void* self);
    static void onPortRename(jack_port_id_t, const char*, const char*, void* self);
    static void onShutdown(void* self);
    void reportChange();
    void noticeAmplifierPort(jack_port_t* port);

    jack_client_t* client_;
    std::function<void()> onChange_;
    std::string amplifierTag_;
    jack_ringbuffer_t* toServer_ = nullptr;    // worker -> process callback: [length][bytes] records
    jack_ringbuffer_t* fromServer_ = nullptr;  // process callback -> worker: one record per event
    Side in_;
    Side out_;
    // Linking and unlinking, by the worker or the link-ahead thread. Never taken on libjack's
    // notification thread: a (de)activation waits for that thread.
    std::mutex mutex_;
    bool linked_ = false;
    // The link-ahead thread and what it is asked to do.
    std::mutex askMutex_;
    std::condition_variable asked_;
    bool linkAsked_ = false;
    bool stopAsked_ = false;
    std::thread linker_;
    // The input relay: the process callback posts inputCame_, the relay calls onInput_.
    std::function<void()> onInput_;
    sem_t inputCame_{};
    bool relays_ = false;  // the relay runs; set once, before the activation
    std::atomic<bool> stopRelay_{false};
    std::thread relay_;
    bool linksAhead_ = false;  // the link-ahead thread runs; set once, before any callback can come
    bool watched_ = false;
    std::atomic<bool> changed_{true};
    std::atomic<bool> lost_{false};
    std::atomic<uint64_t> cycles_{0};
    std::atomic<bool> inCycle_{false};  // the process callback is in a cycle (see unregisterPorts)
    // Process callback only: bytes of the message under way that later cycles still have to send,
    // whether the output's buffer holds events, and whether input events were lost since the last
    // loss mark went in.
    uint32_t outRemaining_ = 0;
    bool outHolds_ = false;  // the output's buffer holds events written in an earlier cycle
    bool inputLost_ = false;
    // Worker only: a message longer than the ring went out only in part (see send); the event just
    // read, and the messages put together from the events.
    bool outputBroken_ = false;
    std::vector<uint8_t> event_;
    MidiJoiner joiner_;
};

}  // namespace halvard
