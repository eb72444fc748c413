#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "device/rtmidi/rtmidi_errors.hpp"
#include "device/rtmidi_ports.hpp"

// How RtMidi 5.0.0 (as Debian 12 ships it) is used here, and why:
//  - Each API is named explicitly. Without one, the constructor tries ALSA only and throws when
//    there is no sequencer, never falling back to JACK. Constructors throw even with an error
//    callback installed, so every construction is caught; later calls report through the callback.
//  - A JACK port object talks to the server on every call and, with no server, retries the
//    connection each time (milliseconds, and the output object leaks memory per attempt). So the
//    JACK objects exist only while a server is known to run: a small client of our own looks for
//    a server at most every few seconds, and its shutdown notice tells when the server has gone.
//  - A JACK port object is an active JACK client whose process callback runs in every cycle of
//    the server, port open or not (about 1 % of a core for the two at 750 cycles a second). They
//    are made with the scan client all the same, not when a port is to be opened: the two client
//    activations then doubled the time to find the amplifier (to 90-170 ms on a loaded machine),
//    and a client activated and connected at once stalled a synchronous server's graph for
//    seconds when the other end was a client without a process callback (jackd 1.9.21).
//  - JACK port names are taken in one libjack call (jack_get_ports) rather than RtMidi's count and
//    name calls: its output object's name call has no bounds check, so a port vanishing between
//    count and name made it read past the list.
//  - Each object is a sequencer or JACK client of its own, created once (JACK: once per server
//    life), and called only on the owning thread.
//  - Library errors close both ports once the operation that raised them has returned
//    (RtMidiErrors).
//
// Listing ports costs far more than the rest of a worker pass (jack_get_ports matches every port
// of the server against a regular expression; ALSA asks the kernel once per client and port), so
// the lists are kept between passes and taken again only when they may have changed: JACK calls
// our scan client back when a port is registered, unregistered or renamed, and the ALSA sequencer
// announces every client and port that comes, goes or changes on its announce port, which a
// sequencer client of our own follows. The same notices wake the worker while it waits, with no
// amplifier, for the port set to change. Without them (the scan client could not be activated,
// the announce port could not be followed) the lists are taken on every pass.

namespace halvard {
namespace {

constexpr const char* kInputClientName = "midi input client";
constexpr const char* kOutputClientName = "midi client";
constexpr const char* kScanClientName = "midi scan client";
constexpr unsigned int kInputQueueLimit = 100;
constexpr const char* kAlsaSequencerDevice = "/dev/snd/seq";

// A new JACK connection is awaited for at most this long, checked at this step, until it shows in
// the server's graph and the server has started this many cycles since (see awaitConnection).
constexpr std::chrono::milliseconds kConnectionWait{50};
constexpr std::chrono::milliseconds kConnectionCheckStep{1};
constexpr jack_nframes_t kCyclesAfterConnection = 2;
// Enough JACK cycles for a process callback under way to end (see dropJack).
constexpr std::chrono::milliseconds kJackCallbackDrainPause{20};

void silentJackMessage(const char*) {}

// JACK lists as the editor's inputs the ports that send, as its outputs the ports that receive.
unsigned long jackFlagsFor(PortDirection direction) {
    return direction == PortDirection::Input ? JackPortIsOutput : JackPortIsInput;
}

std::vector<std::string> listJackPorts(jack_client_t* client, PortDirection direction) {
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, jackFlagsFor(direction));
    if (ports == nullptr) return names;
    for (const char** p = ports; *p != nullptr; ++p) names.emplace_back(*p);
    jack_free(ports);
    return names;
}

// A sequencer client of our own that follows the announce port, where the ALSA sequencer reports
// every client and port that starts, ends or changes. A thread of its own sleeps until
// announcements arrive, reads them, and calls onChange when one may have changed the port lists;
// the worker takes the news with portsChanged().
class AlsaAnnouncements {
public:
    explicit AlsaAnnouncements(std::function<void()> onChange) : onChange_(std::move(onChange)) {
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) {
            seq_ = nullptr;
            return;
        }
        snd_seq_set_client_name(seq_, kScanClientName);
        // Written to by the announce port only: no subscription capability, so it is never listed
        // as a port the editor could open.
        const int port = snd_seq_create_simple_port(seq_, "announcements", SND_SEQ_PORT_CAP_WRITE,
                                                    SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0 ||
            snd_seq_connect_from(seq_, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0 ||
            pipe2(stopPipe_, O_CLOEXEC) != 0) {
            stopPipe_[0] = stopPipe_[1] = -1;
            return;
        }
        try {
            following_ = true;
            watcher_ = std::thread([this] { watch(); });
        } catch (const std::system_error&) {
            following_ = false;  // no thread: the lists are taken every pass
        }
    }
    ~AlsaAnnouncements() {
        if (watcher_.joinable()) {
            const char stop = 0;
            while (write(stopPipe_[1], &stop, 1) < 0 && errno == EINTR) {
            }
            watcher_.join();
        }
        for (int fd : stopPipe_)
            if (fd >= 0) close(fd);
        if (seq_ != nullptr) snd_seq_close(seq_);
    }
    AlsaAnnouncements(const AlsaAnnouncements&) = delete;
    AlsaAnnouncements& operator=(const AlsaAnnouncements&) = delete;

    // False when the announcements cannot be followed (then the lists must be taken every pass).
    bool following() const { return following_; }

    // True when an announcement since the last call may have changed the port lists, when
    // announcements were lost, or when they are not followed.
    bool portsChanged() { return changed_.exchange(false) || !following_; }

private:
    void watch() {
        const int seqFds = snd_seq_poll_descriptors_count(seq_, POLLIN);
        std::vector<pollfd> fds(1 + static_cast<size_t>(std::max(seqFds, 0)));
        fds[0] = {stopPipe_[0], POLLIN, 0};
        snd_seq_poll_descriptors(seq_, fds.data() + 1, static_cast<unsigned>(fds.size() - 1), POLLIN);
        for (;;) {
            if (poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (fds[0].revents != 0) return;
            const bool broken = std::any_of(fds.begin() + 1, fds.end(), [](const pollfd& fd) {
                return (fd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
            });
            if (broken) break;
            if (readAnnouncements()) report();
        }
        // Announcements can no longer be followed: from now on the lists are taken every pass.
        following_ = false;
        report();
    }

    // Takes every queued announcement; true when one may have changed the lists.
    bool readAnnouncements() {
        bool changed = false;
        for (;;) {
            snd_seq_event_t* event = nullptr;
            const int result = snd_seq_event_input(seq_, &event);
            if (result == -EAGAIN) return changed;
            if (result < 0) return true;  // -ENOSPC: the queue overflowed and announcements were lost
            // Connections made or undone between ports leave the lists as they are.
            if (event != nullptr && event->type != SND_SEQ_EVENT_PORT_SUBSCRIBED &&
                event->type != SND_SEQ_EVENT_PORT_UNSUBSCRIBED)
                changed = true;
        }
    }

    void report() {
        changed_ = true;
        onChange_();
    }

    std::function<void()> onChange_;
    snd_seq_t* seq_ = nullptr;
    int stopPipe_[2] = {-1, -1};
    std::atomic<bool> following_{false};
    std::atomic<bool> changed_{false};
    std::thread watcher_;
};

class RtMidiPorts final : public MidiPorts {
public:
    explicit RtMidiPorts(const RtMidiPortsOptions& options) : options_(options) {
        // Without the sequencer device alsa-lib and RtMidi would only print errors on stderr.
        std::error_code noSequencer;
        if (options_.useAlsa && std::filesystem::exists(kAlsaSequencerDevice, noSequencer)) {
            try {
                alsaIn_ = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kInputClientName, kInputQueueLimit);
                alsaOut_ = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, kOutputClientName);
                announcements_ = std::make_unique<AlsaAnnouncements>([this] { reportChange(); });
            } catch (...) {
                // No ALSA sequencer on this machine: no ALSA ports.
                alsaIn_.reset();
                alsaOut_.reset();
            }
        }
        if (options_.useJack) {
            // libjack reports a missing server on stderr at every probe; there is no log to keep.
            jack_set_error_function(silentJackMessage);
            jack_set_info_function(silentJackMessage);
        }
        installErrorHandler();
    }

    ~RtMidiPorts() override { dropJack(); }

    int portCount(PortDirection direction) override {
        Side& s = side(direction);
        noteChanges();
        if (s.alsaStale) {
            s.alsaStale = false;
            s.alsaNames.clear();
            if (RtMidi* alsa = object(direction, Api::Alsa)) {
                unsigned count = 0;
                errors_.call([&] { count = alsa->getPortCount(); });
                for (unsigned i = 0; i < count; ++i) {
                    std::string name;
                    errors_.call([&] { name = alsa->getPortName(i); });
                    s.alsaNames.push_back(std::move(name));
                }
            }
        }
        if (s.jackStale) {
            s.jackStale = false;
            s.jackNames = listJackPorts(scan_, direction);
        }
        return static_cast<int>(s.alsaNames.size() + s.jackNames.size());
    }

    std::string portName(PortDirection direction, int index) override {
        const Side& s = side(direction);
        if (index < 0) return {};
        const auto i = static_cast<size_t>(index);
        if (i < s.alsaNames.size()) return s.alsaNames[i];
        if (i - s.alsaNames.size() < s.jackNames.size()) return s.jackNames[i - s.alsaNames.size()];
        return {};
    }

    std::chrono::steady_clock::time_point listingCurrentUntil() override {
        using TimePoint = std::chrono::steady_clock::time_point;
        TimePoint until = TimePoint::max();
        if (alsaIn_ && !(announcements_ && announcements_->following())) until = {};
        if (options_.useJack) {
            if (scan_ == nullptr)
                until = std::min(until, nextProbe_);  // the next look for a server
            else if (!jackWatched_ || jackLost_)
                until = {};
        }
        return until;
    }

    void reportChangesTo(Wakeup* wakeup) override { changesTo_ = wakeup; }

    void openPort(PortDirection direction, int index, const std::string& ownPortName) override {
        Side& s = side(direction);
        if (index < 0) return;
        const auto i = static_cast<size_t>(index);
        if (i < s.alsaNames.size()) {
            if (RtMidi* alsa = object(direction, Api::Alsa)) {
                s.open = Api::Alsa;
                errors_.call([&] { alsa->openPort(static_cast<unsigned>(i), ownPortName); });
            }
            return;
        }
        const size_t j = i - s.alsaNames.size();
        RtMidi* jack = object(direction, Api::Jack);
        if (jack == nullptr || j >= s.jackNames.size() || !jackRunning()) return;
        // RtMidi lists the JACK ports again inside openPort and takes the one at the index it is
        // given (the output object without a bounds check). The list may have changed since the
        // scan: JACK lists ports by slot, and our own input port, opened a moment ago, can take a
        // slot freed before the amplifier's and sit before it. So the index handed over is the
        // amplifier port's place in a list taken immediately before; a port gone meanwhile is not
        // opened.
        const std::string wanted = s.jackNames[j];
        const std::vector<std::string> now = listJackPorts(scan_, direction);
        const auto at = std::find(now.begin(), now.end(), wanted);
        if (at == now.end()) return;
        s.open = Api::Jack;
        errors_.call([&] { jack->openPort(static_cast<unsigned>(at - now.begin()), ownPortName); });
        if (isPortOpen(direction)) awaitConnection(wanted, ownPortName);
    }

    void closePort(PortDirection direction) override {
        // Closing an object that is not open is harmless in RtMidi; both are closed so that a
        // half-made connection (port registered, connection failed) is undone as well.
        for (Api api : {Api::Alsa, Api::Jack}) {
            if (RtMidi* o = object(direction, api)) {
                try {
                    o->closePort();
                } catch (...) {
                }
            }
        }
        side(direction).open = Api::None;
    }

    bool isPortOpen(PortDirection direction) const override {
        const Side& s = side(direction);
        const RtMidi* o = object(direction, s.open);
        return o != nullptr && o->isPortOpen();
    }

    void ignoreTypes(IgnoredTypes types) override {
        ignored_ = types;
        for (RtMidiIn* in : {alsaIn_.get(), jackIn_.get()})
            if (in) applyIgnoredTypes(*in);
    }

    void installErrorHandler() override {
        errors_.installOn({alsaIn_.get(), alsaOut_.get(), jackIn_.get(), jackOut_.get()});
    }

    void sendMessage(std::span<const uint8_t> message) override {
        auto* out = static_cast<RtMidiOut*>(object(PortDirection::Output, out_.open));
        if (out == nullptr || message.empty()) return;
        errors_.call([&] { out->sendMessage(message.data(), message.size()); });
    }

    std::span<const uint8_t> nextMessage() override {
        message_.clear();
        auto* in = static_cast<RtMidiIn*>(object(PortDirection::Input, in_.open));
        if (in != nullptr) errors_.call([&] { in->getMessage(&message_); });
        return {message_.data(), message_.size()};
    }

private:
    enum class Api { None, Alsa, Jack };

    // The last listing of one direction, whether it must be taken again, and which system the
    // open port belongs to.
    struct Side {
        std::vector<std::string> alsaNames;
        std::vector<std::string> jackNames;
        bool alsaStale = true;
        bool jackStale = true;
        Api open = Api::None;
    };

    Side& side(PortDirection d) { return d == PortDirection::Input ? in_ : out_; }
    const Side& side(PortDirection d) const { return d == PortDirection::Input ? in_ : out_; }

    RtMidi* object(PortDirection d, Api api) const {
        const bool input = d == PortDirection::Input;
        switch (api) {
            case Api::Alsa:
                return input ? static_cast<RtMidi*>(alsaIn_.get()) : alsaOut_.get();
            case Api::Jack:
                return input ? static_cast<RtMidi*>(jackIn_.get()) : jackOut_.get();
            case Api::None:
                break;
        }
        return nullptr;
    }

    // Marks the lists of both directions for listing again where a system reported a change (or
    // cannot report one). A JACK server that went away takes its ports with it.
    void noteChanges() {
        if (alsaIn_ && (!announcements_ || announcements_->portsChanged()))
            in_.alsaStale = out_.alsaStale = true;
        if (!jackRunning()) return;
        if (!jackWatched_ || jackChanged_.exchange(false)) in_.jackStale = out_.jackStale = true;
    }

    void applyIgnoredTypes(RtMidiIn& in) {
        errors_.call([&] { in.ignoreTypes(ignored_.sysex, ignored_.timing, ignored_.activeSensing); });
    }

    // True while a JACK server is known to run; looks for one at most every jackProbeInterval.
    bool jackRunning() {
        if (!options_.useJack) return false;
        if (scan_ != nullptr && jackLost_) dropJack();
        if (scan_ != nullptr) return true;

        const auto now = std::chrono::steady_clock::now();
        if (now < nextProbe_) return false;
        nextProbe_ = now + options_.jackProbeInterval;
        scan_ = jack_client_open(kScanClientName, JackNoStartServer, nullptr);
        if (scan_ == nullptr) return false;
        jack_on_shutdown(scan_, &RtMidiPorts::onJackShutdown, this);
        // The scan client has no process callback, so the server never waits for it in a cycle;
        // it is activated only to be told about ports.
        jackWatched_ =
            jack_set_port_registration_callback(scan_, &RtMidiPorts::onJackPortRegistration, this) == 0 &&
            jack_set_port_rename_callback(scan_, &RtMidiPorts::onJackPortRename, this) == 0 &&
            jack_activate(scan_) == 0;
        jackChanged_ = true;
        try {
            jackIn_ = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, kInputClientName, kInputQueueLimit);
            applyIgnoredTypes(*jackIn_);
            jackOut_ = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, kOutputClientName);
        } catch (...) {
            jackIn_.reset();
            jackOut_.reset();
        }
        installErrorHandler();
        return true;
    }

    // A new JACK connection takes effect when the server next switches its graph, normally at the
    // next cycle, later while other clients are busy with the graph; a message sent before then is
    // lost (seen as the first request after connecting going unanswered). And a server that does
    // not wait for its clients (not in synchronous mode) starts a cycle whether or not a client
    // late with the previous one has caught up. So this waits until the connection between the
    // amplifier's port and ours shows in the current graph, and then until the server has started
    // kCyclesAfterConnection more cycles, so that at least one whole cycle ran with it; all of it
    // bounded by kConnectionWait.
    void awaitConnection(const std::string& amplifierPort, const std::string& ownPortName) {
        const jack_port_t* port = jack_port_by_name(scan_, amplifierPort.c_str());
        if (port == nullptr) return;
        const auto end = std::chrono::steady_clock::now() + kConnectionWait;
        const std::string ours = ":" + ownPortName;
        const bool connected = waitUntil(end, [&] {
            const char** connections = jack_port_get_all_connections(scan_, port);
            bool found = false;
            for (const char** c = connections; c != nullptr && *c != nullptr; ++c)
                found = found || std::string_view(*c).ends_with(ours);
            jack_free(connections);
            return found;
        });
        if (!connected) return;
        // Frame times count on and wrap around; the difference of two is the frames between them.
        const jack_nframes_t seenAt = jack_last_frame_time(scan_);
        const jack_nframes_t cycle = jack_get_buffer_size(scan_);
        waitUntil(end,
                  [&] { return jack_last_frame_time(scan_) - seenAt >= kCyclesAfterConnection * cycle; });
    }

    // Checks done() every kConnectionCheckStep until it holds (true) or end has passed (false).
    template <class Done>
    static bool waitUntil(std::chrono::steady_clock::time_point end, Done&& done) {
        for (;;) {
            if (done()) return true;
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(kConnectionCheckStep);
        }
    }

    // libjack's notification thread: the server has gone, or its ports have changed.
    static void onJackShutdown(void* self) {
        auto* ports = static_cast<RtMidiPorts*>(self);
        ports->jackLost_ = true;
        ports->reportChange();
    }
    static void onJackPortRegistration(jack_port_id_t, int, void* self) {
        auto* ports = static_cast<RtMidiPorts*>(self);
        ports->jackChanged_ = true;
        ports->reportChange();
    }
    static void onJackPortRename(jack_port_id_t, const char*, const char*, void* self) {
        onJackPortRegistration(0, 0, self);
    }

    // Any thread: the port lists may have changed.
    void reportChange() {
        if (Wakeup* wakeup = changesTo_.load()) wakeup->notify();
    }

    // Forgets the JACK side: its port objects belong to a server that is gone (or we are ending).
    void dropJack() {
        for (Side* s : {&in_, &out_}) {
            if (s->open == Api::Jack) s->open = Api::None;
            s->jackNames.clear();
            s->jackStale = false;
        }
        // RtMidi 5.0.0 frees a JACK output's ring buffer before it closes the client, and a process
        // callback still under way then reads freed memory. With the ports closed every later
        // callback returns at once; a few cycles' pause lets one under way end first.
        if (jackIn_ || jackOut_) {
            for (RtMidi* o : {static_cast<RtMidi*>(jackIn_.get()), static_cast<RtMidi*>(jackOut_.get())}) {
                if (o) errors_.call([&] { o->closePort(); });
            }
            std::this_thread::sleep_for(kJackCallbackDrainPause);
        }
        jackIn_.reset();
        jackOut_.reset();
        if (scan_ != nullptr) jack_client_close(scan_);
        scan_ = nullptr;
        jackLost_ = false;
        jackWatched_ = false;
    }

    RtMidiPortsOptions options_;
    RtMidiErrors errors_{*this};               // outlives the RtMidi objects that report to it
    std::atomic<Wakeup*> changesTo_{nullptr};  // before the objects whose threads report to it
    std::unique_ptr<RtMidiIn> alsaIn_;
    std::unique_ptr<RtMidiOut> alsaOut_;
    std::unique_ptr<AlsaAnnouncements> announcements_;  // null: the ALSA lists are taken every pass
    std::unique_ptr<RtMidiIn> jackIn_;
    std::unique_ptr<RtMidiOut> jackOut_;
    IgnoredTypes ignored_;
    jack_client_t* scan_ = nullptr;
    bool jackWatched_ = false;  // the scan client reports port changes; else JACK is listed every pass
    std::atomic<bool> jackChanged_{false};
    std::atomic<bool> jackLost_{false};
    std::chrono::steady_clock::time_point nextProbe_{};
    Side in_;
    Side out_;
    std::vector<unsigned char> message_;
};

}  // namespace

std::unique_ptr<MidiPorts> makeRtMidiPorts(const RtMidiPortsOptions& options) {
    return std::make_unique<RtMidiPorts>(options);
}

}  // namespace halvard
