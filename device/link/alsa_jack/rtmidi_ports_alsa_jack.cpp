#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "device/link/jack/jack_midi_client.hpp"
#include "device/link/platform_midi_ports.hpp"
#include "device/link/rtmidi/rtmidi_errors.hpp"
#include "device/link/rtmidi/rtmidi_input_queue.hpp"

// The ALSA sequencer through RtMidi 5.0.0 (as Debian 12 ships it), JACK on libjack itself
// (JackMidiClient), and why:
//  - Each RtMidi API is named explicitly. Without one, the constructor tries ALSA only and throws
//    when there is no sequencer. Constructors throw even with an error callback installed, so
//    every construction is caught; later calls report through the callback.
//  - Each RtMidi object is a sequencer client of its own, created once and called only on the
//    owning thread. Library errors close both ports once the operation that raised them has
//    returned (RtMidiErrors).
//  - JACK: one client of our own. With no server, every attempt to reach one costs milliseconds,
//    so it is looked for at most every few seconds, and the client's shutdown notice tells when
//    the server has gone. The client is made when the server is found, not when a port is to be
//    opened, so that finding the amplifier costs no client start. It adds no work to the server's
//    cycles until a port of ours is opened (see jack_midi_client.cpp). RtMidi's JACK objects were
//    two clients in every cycle, port open or not (about 1 % of a core at 750 cycles a second).
//  - JACK port names are taken in one libjack call (jack_get_ports), and a port is opened by its
//    name: a port may vanish, or the list shift, between the listing and the open.
//  - Connected and idle, the worker sleeps until input comes: over ALSA RtMidi's input calls back
//    into a queue of our own (RtMidiInputQueue), which wakes it; over JACK the client wakes it
//    (JackMidiClient, from outside its process callback).
//
// Listing ports costs far more than the rest of a worker pass (jack_get_ports matches every port
// of the server against a regular expression; ALSA asks the kernel once per client and port), so
// the lists are kept between passes and taken again only when they may have changed: JACK calls
// our client back when a port is registered, unregistered or renamed, and the ALSA sequencer
// announces every client and port that comes, goes or changes on its announce port, which a
// sequencer client of our own follows. The same notices wake the worker while it waits, with no
// amplifier, for the port set to change. Without them (the JACK client could not be activated,
// the announce port could not be followed) the lists are taken on every pass.

namespace halvard {
namespace {

constexpr const char* kInputClientName = "midi input client";
constexpr const char* kOutputClientName = "midi client";
constexpr const char* kScanClientName = "midi scan client";
constexpr const char* kAlsaSequencerDevice = "/dev/snd/seq";

void silentJackMessage(const char*) {}

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
                alsaIn_ = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, kInputClientName);
                alsaInput_.fillFrom(*alsaIn_);
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
            // No JACK client while no server is known to run: no JACK ports.
            s.jackNames = jack_ ? jack_->ports(direction) : std::vector<std::string>();
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
            if (!jack_)
                until = std::min(until, nextProbe_);  // the next look for a server
            else if (!jack_->reportsChanges())
                until = {};
        }
        return until;
    }

    void reportTo(Wakeup* wakeup) override {
        changesTo_ = wakeup;
        alsaInput_.reportTo(wakeup);
    }

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
        if (j >= s.jackNames.size() || !jackRunning()) return;
        s.open = Api::Jack;
        jack_->openPort(direction, s.jackNames[j], ownPortName);
    }

    void closePort(PortDirection direction) override {
        // Closing an object that is not open is harmless in RtMidi; both systems are closed so that
        // a half-made connection (port registered, connection failed) is undone as well.
        if (RtMidi* o = object(direction, Api::Alsa)) {
            try {
                o->closePort();
            } catch (...) {
            }
        }
        if (jack_) jack_->closePort(direction);
        if (direction == PortDirection::Input) alsaInput_.clear();  // nothing from before is handed out
        side(direction).open = Api::None;
    }

    bool isPortOpen(PortDirection direction) const override {
        const Side& s = side(direction);
        if (s.open == Api::Jack) return jack_ && jack_->isPortOpen(direction);
        const RtMidi* o = object(direction, s.open);
        return o != nullptr && o->isPortOpen();
    }

    void ignoreTypes(IgnoredTypes types) override {
        ignored_ = types;
        if (alsaIn_) applyIgnoredTypes(*alsaIn_);
    }

    void installErrorHandler() override { errors_.installOn({alsaIn_.get(), alsaOut_.get()}); }

    void sendMessage(std::span<const uint8_t> message) override {
        if (message.empty()) return;
        if (out_.open == Api::Jack) {
            // A message that cannot be queued is a send failure, which closes both ports.
            if (!jack_ || !jack_->send(message)) onMidiError();
            return;
        }
        auto* out = static_cast<RtMidiOut*>(object(PortDirection::Output, out_.open));
        if (out == nullptr) return;
        errors_.call([&] { out->sendMessage(message.data(), message.size()); });
    }

    std::span<const uint8_t> nextMessage() override {
        if (in_.open == Api::Jack) return jack_ ? jack_->nextMessage(ignored_) : std::span<const uint8_t>();
        message_.clear();
        if (in_.open == Api::Alsa && alsaInput_.take(message_)) return {message_.data(), message_.size()};
        return {};
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

    // The RtMidi object of a direction (ALSA only; JACK has none).
    RtMidi* object(PortDirection d, Api api) const {
        if (api != Api::Alsa) return nullptr;
        return d == PortDirection::Input ? static_cast<RtMidi*>(alsaIn_.get()) : alsaOut_.get();
    }

    // Marks the lists of both directions for listing again where a system reported a change (or
    // cannot report one). A JACK server that went away takes its ports with it.
    void noteChanges() {
        if (alsaIn_ && (!announcements_ || announcements_->portsChanged()))
            in_.alsaStale = out_.alsaStale = true;
        if (!jackRunning()) return;
        if (jack_->takeChange()) in_.jackStale = out_.jackStale = true;
    }

    void applyIgnoredTypes(RtMidiIn& in) {
        errors_.call([&] { in.ignoreTypes(ignored_.sysex, ignored_.timing, ignored_.activeSensing); });
    }

    // True while a JACK server is known to run; looks for one at most every jackProbeInterval.
    bool jackRunning() {
        if (!options_.useJack) return false;
        if (jack_ && jack_->lost()) dropJack();
        if (jack_) return true;

        const auto now = std::chrono::steady_clock::now();
        if (now < nextProbe_) return false;
        nextProbe_ = now + options_.jackProbeInterval;
        jack_ = JackMidiClient::open(
            options_.jackClientName, [this] { reportChange(); }, options_.amplifierPortTag,
            [this] { reportChange(); });
        return jack_ != nullptr;
    }

    // Any thread: the port lists may have changed, or JACK input was queued.
    void reportChange() {
        if (Wakeup* wakeup = changesTo_.load()) wakeup->notify();
    }

    // Forgets the JACK side: its client belongs to a server that is gone.
    void dropJack() {
        for (Side* s : {&in_, &out_}) {
            if (s->open == Api::Jack) s->open = Api::None;
            s->jackNames.clear();
            s->jackStale = false;
        }
        jack_.reset();
    }

    RtMidiPortsOptions options_;
    RtMidiErrors errors_{*this};                    // outlives the RtMidi objects that report to it
    std::atomic<Wakeup*> changesTo_{nullptr};       // before the objects whose threads report to it
    RtMidiInputQueue alsaInput_{kInputQueueLimit};  // filled by alsaIn_'s thread, so made before it
    std::unique_ptr<RtMidiIn> alsaIn_;
    std::unique_ptr<RtMidiOut> alsaOut_;
    std::unique_ptr<AlsaAnnouncements> announcements_;  // null: the ALSA lists are taken every pass
    std::unique_ptr<JackMidiClient> jack_;              // null: no JACK server known to run
    IgnoredTypes ignored_;
    std::chrono::steady_clock::time_point nextProbe_{};
    Side in_;
    Side out_;
    std::vector<unsigned char> message_;
};

}  // namespace

std::unique_ptr<MidiPorts> makePlatformMidiPorts(const RtMidiPortsOptions& options) {
    return std::make_unique<RtMidiPorts>(options);
}

}  // namespace halvard
