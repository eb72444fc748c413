#include "jack_side.hpp"

#include <jack/midiport.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "tools/jack_midi_out.hpp"

namespace halvard::winemidi {

namespace {

void quiet(const char*) {}

// Each message in a ring: its length (u32, native order), then its bytes.
constexpr size_t kHeader = sizeof(uint32_t);

}  // namespace

JackSide::~JackSide() {
    if (client_) {
        jack_deactivate(client_);
        jack_client_close(client_);
    }
    for (Link& link : links_)
        if (link.ring) jack_ringbuffer_free(link.ring);
    if (notifyFd_ >= 0) close(notifyFd_);
}

bool JackSide::open(std::string& error) {
    notifyFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (notifyFd_ < 0) {
        error = "cannot make an eventfd";
        return false;
    }
    // Information messages go nowhere: standard output belongs to the control replies.
    jack_set_info_function(quiet);
    jack_status_t status{};
    client_ = jack_client_open("halvard-wine-midi-bridge", JackNoStartServer, &status);
    if (!client_) {
        error = "no JACK server answers (JACK_DEFAULT_SERVER names the one to use)";
        return false;
    }
    clientName_ = jack_get_client_name(client_);
    for (Link& link : links_) link.ring = jack_ringbuffer_create(kRingBytes);
    jack_set_process_callback(client_, &JackSide::onProcess, this);
    jack_set_port_registration_callback(client_, &JackSide::onPortRegistration, this);
    jack_on_shutdown(client_, &JackSide::onShutdown, this);
    if (jack_activate(client_) != 0) {
        error = "cannot activate the JACK client";
        return false;
    }
    return true;
}

std::vector<std::string> JackSide::midiPorts(bool sources) const {
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                        sources ? JackPortIsOutput : JackPortIsInput);
    if (!ports) return names;
    const std::string own = clientName_ + ":";
    for (const char** p = ports; *p; ++p)
        if (std::strncmp(*p, own.c_str(), own.size()) != 0) names.emplace_back(*p);
    jack_free(ports);
    return names;
}

bool JackSide::portExists(const std::string& name) const {
    return jack_port_by_name(client_, name.c_str()) != nullptr;
}

int JackSide::openLink(const std::string& target, bool receive, std::string& error) {
    int slot = 0;
    while (slot < kSlots && links_[slot].port.load() != nullptr) ++slot;
    if (slot == kSlots) {
        error = "every link is in use";
        return -1;
    }
    Link& link = links_[slot];
    const std::string name = (receive ? "in_" : "out_") + std::to_string(nextPortNumber_++);
    jack_port_t* port = jack_port_register(client_, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                           receive ? JackPortIsInput : JackPortIsOutput, 0);
    if (!port) {
        error = "cannot register a JACK port";
        return -1;
    }
    const std::string ownName = jack_port_name(port);
    const int connected = receive ? jack_connect(client_, target.c_str(), ownName.c_str())
                                  : jack_connect(client_, ownName.c_str(), target.c_str());
    if (connected != 0 && connected != EEXIST) {
        jack_port_unregister(client_, port);
        error = "cannot connect to " + target;
        return -1;
    }
    jack_ringbuffer_reset(link.ring);
    link.outRemaining = 0;
    link.joiner.lose();
    link.receive = receive;
    link.received = false;
    link.port.store(port, std::memory_order_release);
    // A connection carries messages once it is in the server's graph and a cycle has started after
    // that; what is written earlier is lost. The driver answers the open only after this, so the
    // program's first message arrives.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!jack_port_connected_to(port, target.c_str())) {
        if (std::chrono::steady_clock::now() >= end || serverGone_) {
            closeLink(slot);
            error = "the connection to " + target + " did not take effect";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    awaitCycles(2);
    link.active.store(true, std::memory_order_release);
    return slot;
}

void JackSide::closeLink(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    Link& link = links_[slot];
    jack_port_t* port = link.port.load();
    if (!port) return;
    // Stop the messages, let the callback see the port no more, then remove it.
    link.active.store(false);
    awaitCycles(1);
    link.port.store(nullptr);
    awaitCycles(2);
    jack_port_unregister(client_, port);
    jack_ringbuffer_reset(link.ring);
}

bool JackSide::send(int slot, std::span<const uint8_t> message) {
    if (slot < 0 || slot >= kSlots || message.empty()) return false;
    Link& link = links_[slot];
    if (!link.active || link.receive) return false;
    const uint32_t length = static_cast<uint32_t>(message.size());
    // The callback empties the ring every cycle; wait for room rather than drop (a second at most).
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (jack_ringbuffer_write_space(link.ring) < kHeader + length) {
        if (std::chrono::steady_clock::now() >= end || serverGone_ || kHeader + length > kRingBytes - 1) {
            ++dropped_;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The callback takes a message only once all of it is in the ring.
    jack_ringbuffer_write(link.ring, reinterpret_cast<const char*>(&length), kHeader);
    jack_ringbuffer_write(link.ring, reinterpret_cast<const char*>(message.data()), length);
    return true;
}

bool JackSide::receive(int slot, std::vector<uint8_t>& message) {
    if (slot < 0 || slot >= kSlots) return false;
    Link& link = links_[slot];
    for (;;) {
        uint32_t length = 0;
        if (jack_ringbuffer_read_space(link.ring) < kHeader) return false;
        jack_ringbuffer_peek(link.ring, reinterpret_cast<char*>(&length), kHeader);
        if (jack_ringbuffer_read_space(link.ring) < kHeader + length) return false;
        jack_ringbuffer_read_advance(link.ring, kHeader);
        link.event.resize(length);
        jack_ringbuffer_read(link.ring, reinterpret_cast<char*>(link.event.data()), length);
        const std::span<const uint8_t> whole = link.joiner.add(link.event);
        if (whole.empty()) continue;
        message.assign(whole.begin(), whole.end());
        return true;
    }
}

std::vector<int> JackSide::takeReceiving() {
    std::vector<int> slots;
    for (int s = 0; s < kSlots; ++s)
        if (links_[s].received.exchange(false)) slots.push_back(s);
    return slots;
}

void JackSide::drainNotify() {
    uint64_t value = 0;
    while (read(notifyFd_, &value, sizeof value) == sizeof value) {
    }
}

void JackSide::notify() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(notifyFd_, &one, sizeof one);
}

bool JackSide::awaitCycles(uint64_t cycles) {
    const uint64_t target = cycle_.load() + cycles + 1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (cycle_.load() < target) {
        if (std::chrono::steady_clock::now() >= end || serverGone_) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// The realtime thread: no allocation, no lock. Output ports are cleared every cycle (an output
// buffer keeps its events otherwise); messages move only while the link is active.
int JackSide::onProcess(jack_nframes_t frames, void* self) {
    auto& side = *static_cast<JackSide*>(self);
    bool arrived = false;
    for (Link& link : side.links_) {
        jack_port_t* port = link.port.load(std::memory_order_acquire);
        if (!port) continue;
        void* buffer = jack_port_get_buffer(port, frames);
        const bool active = link.active.load(std::memory_order_acquire);
        if (!link.receive) {
            jack_midi_clear_buffer(buffer);
            if (active) transmitFromRing(link.ring, buffer, link.outRemaining);
            continue;
        }
        if (!active) continue;
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) continue;
            const auto length = static_cast<uint32_t>(event.size);
            if (jack_ringbuffer_write_space(link.ring) < kHeader + length) {
                ++side.dropped_;
                continue;
            }
            jack_ringbuffer_write(link.ring, reinterpret_cast<const char*>(&length), kHeader);
            jack_ringbuffer_write(link.ring, reinterpret_cast<const char*>(event.buffer), length);
            link.received = true;
            arrived = true;
        }
    }
    side.cycle_.fetch_add(1, std::memory_order_release);
    if (arrived) side.notify();
    return 0;
}

void JackSide::onPortRegistration(jack_port_id_t, int, void* self) {
    auto& side = *static_cast<JackSide*>(self);
    side.portsChanged_ = true;
    side.notify();
}

void JackSide::onShutdown(void* self) {
    auto& side = *static_cast<JackSide*>(self);
    side.serverGone_ = true;
    side.notify();
}

}  // namespace halvard::winemidi
