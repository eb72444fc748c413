#include "device/link/jack/jack_midi_client.hpp"

#include <jack/midiport.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>

// What JACK 2 (jackd 1.9.21, synchronous mode) does, learnt on a server with the dummy backend, and
// what this client does about it:
//  - A client takes part in every cycle of the server while it is active with a process callback,
//    whether it has ports or not: its process thread is woken and waited for 750 times a second at
//    48 kHz and 64 frames, 0.3-1.1 % of a core on the 2-core test machine however little the
//    callback does, depending on where it sits in the graph. An active client without a process
//    callback is not in the server's graph and costs nothing.
//  - The callback itself takes about 0.6 us a cycle (0.05 % of a core), most of it the first touch
//    of the server's shared memory for the input's buffer; the output's buffer is asked for only
//    while there is something to send (0.75 us when it was asked for in every cycle).
//  - A deactivated client hears of no port that comes, goes or is renamed; an active one does,
//    with or without a process callback. So while no port of ours is open the client stays active
//    without a process callback (watching); callbacks can only be set on an inactive client, so
//    entering and leaving the linked mode is a deactivation, the change of callback and an
//    activation, 10-20 ms together. That would add to the time to find the amplifier, so the
//    switch starts as soon as the amplifier's port is registered, while the worker still waits
//    for its next pass.
//  - A synchronous server stalls for its client time-out (seconds) once a port of a client in its
//    graph is connected to a port of an active client outside it. Watching, this client has no
//    port anyone could connect to.
//  - The server tells the other clients of ports that come and go only for active clients, yet
//    lists the ports of inactive ones: ports are unregistered before a deactivation (see
//    unregisterPorts).
//  - A new connection carries data once it shows in the server's graph and another cycle or two
//    has started (see awaitConnections).
//  - A MIDI port's buffer holds 32 KiB whatever the period, less 8 bytes for each event: the longest
//    message of the amplifier's protocol (a 522-byte firmware chunk) always fits in one cycle,
//    and a cycle takes every whole message that fits. A message longer than an empty buffer can
//    take goes out as one SysEx in several events over as many cycles, as JACK allows; receivers
//    (RtMidi among them) join the pieces again.
//  - Ports are found by name at the moment they are opened, not by an index into an earlier list:
//    a port may vanish, or the list shift, between the worker's listing and its open.

namespace halvard {
namespace {

// The worker takes what came in every 5 ms while it awaits a reply, when a server cycle may bring up
// to 32 KiB every 1.3 ms: room for about eight full cycles. (Idle, it sleeps until the relay tells it
// of input.)
constexpr size_t kInputRingBytes = 256 * 1024;
constexpr size_t kOutputRingBytes = 64 * 1024;
constexpr size_t kHeaderBytes = sizeof(uint32_t);
// An empty record on the input ring: events were lost here (no room), so a SysEx under way is broken.
constexpr uint32_t kLossMark = 0;
// How long a message waits for room in the ring while the server takes nothing (a server that has
// run no cycle for this long is stalled).
constexpr std::chrono::milliseconds kSendWait{1000};
// A new connection is awaited for at most this long, checked at this step, until it shows in the
// server's graph and the server has started this many cycles since.
constexpr std::chrono::milliseconds kConnectionWait{50};
constexpr std::chrono::milliseconds kConnectionCheckStep{1};
constexpr jack_nframes_t kCyclesAfterConnection = 2;

constexpr uint8_t kSysexStart = 0xF0;

// Copies bytes into the ring's free space at offset, across its two parts; no bounds check (the
// caller has checked the space).
void copyIn(const jack_ringbuffer_data_t (&parts)[2], size_t offset, const void* bytes, size_t size) {
    if (size == 0) return;
    const auto* from = static_cast<const char*>(bytes);
    for (const jack_ringbuffer_data_t& part : parts) {
        if (offset >= part.len) {
            offset -= part.len;
            continue;
        }
        const size_t n = std::min(size, part.len - offset);
        std::memcpy(part.buf + offset, from, n);
        from += n;
        size -= n;
        offset = 0;
        if (size == 0) return;
    }
}

// Writes a length and that many bytes as one record: the reader sees all of it or none. Runs on
// the process thread as well: no allocation, no lock, no system call.
bool writeRecord(jack_ringbuffer_t* ring, const uint8_t* bytes, uint32_t size) {
    if (jack_ringbuffer_write_space(ring) < kHeaderBytes + size) return false;
    jack_ringbuffer_data_t parts[2];
    jack_ringbuffer_get_write_vector(ring, parts);
    copyIn(parts, 0, &size, kHeaderBytes);
    copyIn(parts, kHeaderBytes, bytes, size);
    jack_ringbuffer_write_advance(ring, kHeaderBytes + size);
    return true;
}

// The length of the next record, if a whole header is there.
bool peekLength(jack_ringbuffer_t* ring, uint32_t& size) {
    return jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&size), kHeaderBytes) == kHeaderBytes;
}

unsigned long jackFlagsFor(PortDirection direction) {
    return direction == PortDirection::Input ? JackPortIsOutput : JackPortIsInput;
}

template <class Done>
bool waitUntil(std::chrono::steady_clock::time_point end, Done&& done) {
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(kConnectionCheckStep);
    }
}

}  // namespace

std::unique_ptr<JackMidiClient> JackMidiClient::open(const std::string& clientName,
                                                     std::function<void()> onChange, std::string amplifierTag,
                                                     std::function<void()> onInput) {
    jack_client_t* client = jack_client_open(clientName.c_str(), JackNoStartServer, nullptr);
    if (client == nullptr) return nullptr;
    return std::unique_ptr<JackMidiClient>(
        new JackMidiClient(client, std::move(onChange), std::move(amplifierTag), std::move(onInput)));
}

JackMidiClient::JackMidiClient(jack_client_t* client, std::function<void()> onChange,
                               std::string amplifierTag, std::function<void()> onInput)
    : client_(client),
      onChange_(std::move(onChange)),
      amplifierTag_(std::move(amplifierTag)),
      onInput_(std::move(onInput)) {
    toServer_ = jack_ringbuffer_create(kOutputRingBytes);
    fromServer_ = jack_ringbuffer_create(kInputRingBytes);
    event_.reserve(1024);
    jack_on_shutdown(client_, &JackMidiClient::onShutdown, this);
    const bool told =
        toServer_ != nullptr && fromServer_ != nullptr &&
        jack_set_port_registration_callback(client_, &JackMidiClient::onPortRegistration, this) == 0 &&
        jack_set_port_rename_callback(client_, &JackMidiClient::onPortRename, this) == 0;
    // The link-ahead thread starts before the activation, after which callbacks can come.
    if (told && !amplifierTag_.empty()) {
        try {
            linker_ = std::thread([this] { linkAhead(); });
            linksAhead_ = true;
        } catch (const std::system_error&) {
            // no thread: the switch is made when the port is opened
        }
    }
    if (onInput_ && sem_init(&inputCame_, 0, 0) == 0) {
        try {
            relay_ = std::thread([this] { relayInput(); });
            relays_ = true;
        } catch (const std::system_error&) {
            sem_destroy(&inputCame_);  // no thread: input waits for the worker's next look
        }
    }
    watched_ = told && jack_activate(client_) == 0;
}

JackMidiClient::~JackMidiClient() {
    if (linker_.joinable()) {
        {
            const std::lock_guard lock(askMutex_);
            stopAsked_ = true;
        }
        asked_.notify_one();
        linker_.join();
    }
    // Closing deactivates first, which ends the process and notification threads.
    jack_client_close(client_);
    if (relays_) {
        stopRelay_ = true;
        sem_post(&inputCame_);
        relay_.join();
        sem_destroy(&inputCame_);
    }
    if (toServer_) jack_ringbuffer_free(toServer_);
    if (fromServer_) jack_ringbuffer_free(fromServer_);
}

std::vector<std::string> JackMidiClient::ports(PortDirection direction) {
    std::vector<std::string> names;
    Side& s = side(direction);
    s.tagListed = false;
    if (lost_) return names;
    const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, jackFlagsFor(direction));
    if (ports == nullptr) return names;
    for (const char** p = ports; *p != nullptr; ++p) {
        names.emplace_back(*p);
        if (!amplifierTag_.empty() && names.back().find(amplifierTag_) != std::string::npos)
            s.tagListed = true;
    }
    jack_free(ports);
    return names;
}

// ---- linking and unlinking -------------------------------------------------------------------

bool JackMidiClient::link() {
    if (linked_) return true;
    if (lost_ || toServer_ == nullptr || fromServer_ == nullptr) return false;
    // The ports opened before are registered again before the activation, so that opening them
    // only has to connect them. Port changes while the client is inactive go unheard: once it is
    // active again the lists are marked for taking again (not before: a listing taken meanwhile
    // may miss a late change).
    jack_deactivate(client_);
    for (PortDirection d : {PortDirection::Input, PortDirection::Output}) {
        Side& s = side(d);
        if (s.port.load() == nullptr && !s.ownName.empty())
            s.port.store(jack_port_register(client_, s.ownName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                            d == PortDirection::Input ? JackPortIsInput : JackPortIsOutput,
                                            0));
    }
    if (jack_set_process_callback(client_, &JackMidiClient::process, this) == 0 &&
        jack_activate(client_) == 0) {
        linked_ = true;
        noteUnheardChanges();
        return true;
    }
    unregisterPorts();
    jack_set_process_callback(client_, nullptr, nullptr);
    jack_activate(client_);
    noteUnheardChanges();
    return false;
}

void JackMidiClient::unlink() {
    if (!linked_) return;
    unregisterPorts();
    // Deactivating ends the process thread; the rings are ours alone until the next activation.
    jack_deactivate(client_);
    jack_ringbuffer_reset(toServer_);
    jack_ringbuffer_reset(fromServer_);
    outRemaining_ = 0;
    outHolds_ = false;
    inputLost_ = false;
    outputBroken_ = false;
    joiner_.lose();
    jack_set_process_callback(client_, nullptr, nullptr);
    jack_activate(client_);
    linked_ = false;
    noteUnheardChanges();
}

// After a spell of inactivity: the lists are to be taken again, and the worker, should it be
// waiting for a change, makes a pass to do so.
void JackMidiClient::noteUnheardChanges() {
    changed_ = true;
    reportChange();
}

// Unregisters our ports while the client is still active, so that the server tells the others:
// it reports ports that come and go only for active clients (all of a client's ports at its
// activation and deactivation), yet lists the ports of inactive ones, so a port unregistered after
// the deactivation would stay in the lists of whoever took them on the deactivation's notice. So
// the ports are first taken out of the process callback's hands: the callback marks each cycle
// under way (inCycle_) before it looks at the ports, and once a cycle seen under way has ended,
// every later one finds them gone.
void JackMidiClient::unregisterPorts() {
    jack_port_t* ports[] = {in_.port.exchange(nullptr), out_.port.exchange(nullptr)};
    while (inCycle_.load()) std::this_thread::yield();
    for (jack_port_t* port : ports)
        if (port != nullptr) jack_port_unregister(client_, port);
    for (Side* s : {&in_, &out_}) {
        s->open = false;
        s->awaiting = false;
        s->peer.clear();
    }
}

// The link-ahead thread: links whenever a port with the amplifier's tag has appeared. The notice
// after the switch (noteUnheardChanges) gives the worker a pass, which opens the ports or, when the
// amplifier is not there after all (its port went again), closes them and so unlinks.
void JackMidiClient::linkAhead() {
    std::unique_lock ask(askMutex_);
    for (;;) {
        asked_.wait(ask, [this] { return linkAsked_ || stopAsked_; });
        if (stopAsked_) return;
        linkAsked_ = false;
        ask.unlock();
        {
            const std::lock_guard lock(mutex_);
            link();
        }
        ask.lock();
    }
}

bool JackMidiClient::openPort(PortDirection direction, const std::string& peer,
                              const std::string& ownPortName) {
    Side& s = side(direction);
    if (s.open) return true;
    const std::lock_guard lock(mutex_);
    s.ownName = ownPortName;
    if (!link()) return false;
    jack_port_t* own = s.port.load();
    if (own == nullptr) {
        own = jack_port_register(client_, ownPortName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                 direction == PortDirection::Input ? JackPortIsInput : JackPortIsOutput, 0);
        if (own == nullptr) return false;
        s.port.store(own);
    } else if (ownPortName != jack_port_short_name(own)) {
        jack_port_rename(client_, own, ownPortName.c_str());
    }
    if (direction == PortDirection::Input) dropInput();
    const char* ownName = jack_port_name(own);
    const int result = direction == PortDirection::Input ? jack_connect(client_, peer.c_str(), ownName)
                                                         : jack_connect(client_, ownName, peer.c_str());
    if (result != 0 && result != EEXIST) return false;
    s.peer = peer;
    s.open = true;
    s.awaiting = true;
    return true;
}

void JackMidiClient::closePort(PortDirection direction) {
    Side& s = side(direction);
    const std::lock_guard lock(mutex_);
    if (s.open) {
        if (jack_port_t* port = s.port.load()) jack_port_disconnect(client_, port);
        s.open = false;
        s.awaiting = false;
        s.peer.clear();
        if (direction == PortDirection::Input) dropInput();
    }
    // Out of the server's cycles, unless the amplifier's port is there to be opened again.
    const bool amplifierListed = linksAhead_ && (in_.tagListed || out_.tagListed);
    if (!in_.open && !out_.open && (!amplifierListed || outputBroken_)) unlink();
}

// A new connection takes effect when the server next switches its graph, normally at the next
// cycle, later while other clients are busy with the graph; a message sent before then is lost
// (seen as the first request after connecting going unanswered). And a server that does not wait
// for its clients (not in synchronous mode) starts a cycle whether or not a client late with the
// previous one has caught up. So before the first message goes out, this waits until the new
// connections show in the current graph, and then until the server has started
// kCyclesAfterConnection more cycles, so that at least one whole cycle ran with them; all of it
// bounded by kConnectionWait. Connections show in the order they were made, so the input's, made
// first, carries the reply by then too.
void JackMidiClient::awaitConnections() {
    if (!in_.awaiting && !out_.awaiting) return;
    const auto end = std::chrono::steady_clock::now() + kConnectionWait;
    const auto shows = [&](const Side& s) {
        return !s.awaiting || jack_port_connected_to(s.port.load(), s.peer.c_str()) != 0;
    };
    const bool shown = waitUntil(end, [&] { return shows(in_) && shows(out_); });
    in_.awaiting = out_.awaiting = false;
    if (!shown) return;  // a server this slow: the message goes all the same, as it would have
    // Frame times count on and wrap around; the difference of two is the frames between them.
    const jack_nframes_t seenAt = jack_last_frame_time(client_);
    const jack_nframes_t cycle = jack_get_buffer_size(client_);
    waitUntil(end, [&] { return jack_last_frame_time(client_) - seenAt >= kCyclesAfterConnection * cycle; });
}

// Forgets what the input holds: nothing received before a port is opened, or after it is closed,
// is handed out. The worker is the ring's reader, so it may skip what is there.
void JackMidiClient::dropInput() {
    jack_ringbuffer_read_advance(fromServer_, jack_ringbuffer_read_space(fromServer_));
    joiner_.lose();
}

// ---- messages, worker side --------------------------------------------------------------------

bool JackMidiClient::send(std::span<const uint8_t> message) {
    if (!out_.open || lost_) return false;
    awaitConnections();
    if (message.empty()) return true;
    const auto end = std::chrono::steady_clock::now() + kSendWait;
    if (kHeaderBytes + message.size() < kOutputRingBytes) {
        // As one record, so that a cycle sends it whole.
        const auto size = static_cast<uint32_t>(message.size());
        return waitUntil(end, [&] { return writeRecord(toServer_, message.data(), size); });
    }
    // Longer than the ring: the length first, then the bytes as room comes; the process callback
    // sends what it has as pieces of one SysEx.
    const auto size = static_cast<uint32_t>(message.size());
    if (!waitUntil(end, [&] { return jack_ringbuffer_write_space(toServer_) >= kHeaderBytes; })) return false;
    jack_ringbuffer_write(toServer_, reinterpret_cast<const char*>(&size), kHeaderBytes);
    size_t sent = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    while (sent < message.size()) {
        const size_t n = jack_ringbuffer_write(
            toServer_, reinterpret_cast<const char*>(message.data() + sent), message.size() - sent);
        sent += n;
        const auto now = std::chrono::steady_clock::now();
        if (n > 0) {
            lastProgress = now;
        } else if (now - lastProgress > kSendWait) {
            // The server takes nothing. The process callback would take the next message's length
            // for the rest of this one, so the rings must be emptied: closing the ports (the
            // caller's error handling) unlinks, whatever the listing holds.
            outputBroken_ = true;
            return false;
        } else {
            std::this_thread::sleep_for(kConnectionCheckStep);
        }
    }
    return true;
}

std::span<const uint8_t> JackMidiClient::nextMessage(IgnoredTypes ignored) {
    for (;;) {
        uint32_t size = 0;
        if (!in_.open || !peekLength(fromServer_, size) ||
            jack_ringbuffer_read_space(fromServer_) < kHeaderBytes + size)
            return {};
        jack_ringbuffer_read_advance(fromServer_, kHeaderBytes);
        if (size == kLossMark) {
            joiner_.lose();
            continue;
        }
        event_.resize(size);
        jack_ringbuffer_read(fromServer_, reinterpret_cast<char*>(event_.data()), size);

        // A SysEx may come in several events.
        const std::span<const uint8_t> message = joiner_.add(event_);
        if (message.empty()) continue;
        const uint8_t first = message.front();
        if ((first == kSysexStart && ignored.sysex) || ((first == 0xF8 || first == 0xF1) && ignored.timing) ||
            (first == 0xFE && ignored.activeSensing))
            continue;
        return message;
    }
}

// ---- libjack's threads ------------------------------------------------------------------------

int JackMidiClient::process(jack_nframes_t frames, void* self) {
    auto* client = static_cast<JackMidiClient*>(self);
    client->cycles_.fetch_add(1, std::memory_order_relaxed);
    client->inCycle_.store(true);  // before the ports are looked at (see unregisterPorts)
    if (jack_port_t* in = client->in_.port.load()) {
        // A semaphore's post neither blocks nor takes a lock: the one call the relay needs.
        if (client->receive(jack_port_get_buffer(in, frames)) && client->relays_)
            sem_post(&client->inputCame_);
    }
    // With nothing to send and the output's buffer left empty by an earlier cycle, the buffer is
    // not touched: JACK keeps an output port's buffer as it was last written (it clears it itself
    // only when the port is registered or the period changes), and PipeWire's JACK sends nothing
    // from a buffer not asked for in a cycle.
    jack_port_t* out = client->out_.port.load();
    if (out != nullptr && (client->outHolds_ || jack_ringbuffer_read_space(client->toServer_) > 0))
        client->transmit(jack_port_get_buffer(out, frames));
    client->inCycle_.store(false);
    return 0;
}

// Each event as one record. Events that find no room are lost, as a full MIDI queue loses them, and
// a loss mark goes in their place as soon as there is room for it. True when an event other than
// the clock or active sensing was queued.
bool JackMidiClient::receive(void* buffer) {
    bool queued = false;
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) continue;
        if (inputLost_) inputLost_ = !writeRecord(fromServer_, nullptr, kLossMark);
        if (inputLost_ || !writeRecord(fromServer_, event.buffer, static_cast<uint32_t>(event.size))) {
            inputLost_ = true;
            continue;
        }
        const uint8_t first = event.buffer[0];
        if (first != 0xF1 && first < 0xF8) queued = true;
    }
    return queued;
}

// The relay thread: tells the worker of the input the process callback queued. Posts that came
// while it was telling are taken together.
void JackMidiClient::relayInput() {
    for (;;) {
        while (sem_wait(&inputCame_) != 0 && errno == EINTR) {
        }
        while (sem_trywait(&inputCame_) == 0) {
        }
        if (stopRelay_) return;
        onInput_();
    }
}

// Every whole message that fits into this cycle's buffer, in order; a message that does not fit
// waits for the next cycle, and one longer than an empty buffer takes goes out in pieces.
void JackMidiClient::transmit(void* buffer) {
    jack_midi_clear_buffer(buffer);
    outHolds_ = false;
    bool wrote = false;
    for (;;) {
        if (outRemaining_ == 0) {
            uint32_t size = 0;
            if (!peekLength(toServer_, size)) return;
            const size_t queued = jack_ringbuffer_read_space(toServer_) - kHeaderBytes;
            if (queued >= size && size <= jack_midi_max_event_size(buffer)) {
                jack_ringbuffer_read_advance(toServer_, kHeaderBytes);
                if (size == 0) continue;
                jack_midi_data_t* data = jack_midi_event_reserve(buffer, 0, size);
                if (data == nullptr) return;  // cannot happen: the size was checked
                jack_ringbuffer_read(toServer_, reinterpret_cast<char*>(data), size);
                wrote = outHolds_ = true;
                continue;
            }
            if (wrote) return;  // whole in the next cycle
            jack_ringbuffer_read_advance(toServer_, kHeaderBytes);
            outRemaining_ = size;
        }
        const size_t piece =
            std::min({static_cast<size_t>(outRemaining_), jack_ringbuffer_read_space(toServer_),
                      jack_midi_max_event_size(buffer)});
        if (piece == 0) return;
        jack_midi_data_t* data = jack_midi_event_reserve(buffer, 0, piece);
        if (data == nullptr) return;
        outHolds_ = true;
        jack_ringbuffer_read(toServer_, reinterpret_cast<char*>(data), piece);
        outRemaining_ -= static_cast<uint32_t>(piece);
        if (outRemaining_ > 0) return;
        wrote = true;
    }
}

void JackMidiClient::onPortRegistration(jack_port_id_t id, int registered, void* self) {
    auto* client = static_cast<JackMidiClient*>(self);
    client->changed_ = true;
    if (registered) client->noticeAmplifierPort(jack_port_by_id(client->client_, id));
    client->reportChange();
}

void JackMidiClient::onPortRename(jack_port_id_t id, const char*, const char*, void* self) {
    onPortRegistration(id, 1, self);
}

// Notification thread: a port that has appeared (or been renamed); asks for the switch to linked
// when it may be the amplifier's. Only reads the port (no request to the server) and takes no lock
// that a (de)activation holds.
void JackMidiClient::noticeAmplifierPort(jack_port_t* port) {
    if (!linksAhead_ || port == nullptr || jack_port_is_mine(client_, port)) return;
    const char* type = jack_port_type(port);
    const char* name = jack_port_name(port);
    if (type == nullptr || name == nullptr || std::strcmp(type, JACK_DEFAULT_MIDI_TYPE) != 0 ||
        std::strstr(name, amplifierTag_.c_str()) == nullptr)
        return;
    {
        const std::lock_guard lock(askMutex_);
        linkAsked_ = true;
    }
    asked_.notify_one();
}

void JackMidiClient::onShutdown(void* self) {
    auto* client = static_cast<JackMidiClient*>(self);
    client->lost_ = true;
    client->reportChange();
}

void JackMidiClient::reportChange() {
    if (onChange_) onChange_();
}

}  // namespace halvard
