#pragma once
// The running emulator: the virtual amplifier behind its ports, with time (late answers, periodic
// notices, unplugging, restarts), the protocol log, image dumps and the control channel.
//
// Threads: deliverMidi, deliverControl and requestStop may be called from any thread; they only
// queue. Everything else runs on one thread, the loop's (run), or a test's that calls start and step.

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "amp_ports.hpp"
#include "emulator_options.hpp"
#include "virtual_amp.hpp"

namespace halvard::emulator {

class Emulator {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    // out: protocol log and control replies; err: faults found and port trouble.
    Emulator(const EmulatorOptions& options, AmpPorts& ports, std::ostream& out, std::ostream& err);

    // Any thread.
    void deliverMidi(Message message);
    void deliverControl(std::string line);
    void requestStop();
    bool stopRequested() const;

    // Loop thread. run() is start() and then step() until a stop is requested; false when the ports
    // could not be opened at start.
    bool run();
    bool start(TimePoint now);
    // Handles what has arrived and what is due; returns when something next falls due.
    TimePoint step(TimePoint now);
    // One control command, its reply line (without the newline).
    std::string control(std::string_view line, TimePoint now);

    const VirtualAmp& amp() const { return amp_; }
    bool portsOpen() const { return ports_.isOpen(); }

private:
    struct Event {
        bool midi = false;
        Message message;
        std::string line;
    };

    void receive(const Message& m, TimePoint now);
    void dispatch(const AmpOutcome& outcome, TimePoint now);
    void transmit(const Message& m);
    bool openPorts(TimePoint now);
    void closePorts(std::string_view why, TimePoint now);
    void dumpIr(int slot);
    void dumpFirmware();
    std::string writeDump(const std::string& name, const std::vector<uint8_t>& bytes);  // its path, or empty
    void logMessage(bool fromEditor, const Message& m);
    void logEvent(std::string_view text);
    void report(std::string_view text);
    std::string stamp() const;

    // Control commands; each returns its reply line.
    std::string commandStatus() const;
    std::string commandCounts() const;
    std::string commandReceived(std::string_view arg) const;
    std::string commandSlot(std::string_view args);
    std::string commandIr(std::string_view verb, std::string_view arg) const;
    std::string commandRecord(std::string_view verb, std::string_view args);
    std::string commandFault(std::string_view args, TimePoint now);

    EmulatorOptions options_;
    AmpPorts& ports_;
    std::ostream& out_;
    std::ostream& err_;
    VirtualAmp amp_;
    FaultSettings faults_;

    mutable std::mutex inboxMutex_;
    std::condition_variable inboxReady_;
    std::deque<Event> inbox_;
    bool stop_ = false;

    TimePoint startTime_{};
    std::deque<std::pair<TimePoint, Message>> outbox_;  // replies waiting for their time, in order
    std::optional<TimePoint> nextNotice_;
    std::optional<TimePoint> unplugAt_;
    std::optional<TimePoint> plugAt_;
    bool restarting_ = false;  // the ports are away because of a restart

    // What the editor sent: every message since the last "clear" (the oldest dropped past a bound).
    std::deque<Message> received_;
    size_t receivedDropped_ = 0;
    std::array<int, 256> receivedByCode_{};
    int receivedTotal_ = 0;
    int malformedTotal_ = 0;
    int sentTotal_ = 0;

    int dumpSequence_ = 0;
    std::array<std::string, kUserSlots> irFiles_;
    std::string firmwareFile_;
};

}  // namespace halvard::emulator
