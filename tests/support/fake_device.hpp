#pragma once
// A fake port pair with a scripted amplifier behind it, for worker tests in virtual (or steady)
// time. Used from the worker's thread only; inspect it after the worker has stopped.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/link/clock.hpp"
#include "device/link/link_context.hpp"
#include "device/link/midi_ports.hpp"
#include "device/protocol/sysex.hpp"

namespace halvard::test {

using Bytes = std::vector<uint8_t>;

inline constexpr const char* kAmpInputName = "VDR Amp MIDI Out";  // what the editor reads from
inline constexpr const char* kAmpOutputName = "VDR Amp MIDI In";  // what the editor writes to

// The amplifier's side: answers reads from its own state, remembers what it was told.
struct FakeAmp {
    uint16_t version = 0x0107;
    SettingsGlobals globals{};
    std::array<ProgramSettings, kProgramCount> programs{};
    std::array<std::string, kUserIrSlotCount> slotNames{};
    std::set<uint8_t> silentFor;    // request codes it does not answer
    int silentForProgram = -1;      // a program whose settings reads it does not answer
    std::set<int> keepsOldProgram;  // programs whose settings writes it ignores
    bool silent = false;            // answers nothing
    int replyDelayMs = 0;           // virtual delay before an answer can be read
    int transferAcks = -1;          // data chunks and stores it still acknowledges; -1: every one

    FakeAmp();
    // The reply the amplifier gives to request, or nothing. A settings write changes the program
    // and the globals it carries.
    bool answer(const Bytes& request, Bytes& reply);
    void takeSettingsWrite(const Bytes& write);
};

Bytes settingsReply(int program, const SettingsGlobals& globals, const ProgramSettings& settings);
Bytes slotNameReply(int slot, const std::string& name);

class FakePorts final : public MidiPorts {
public:
    explicit FakePorts(Clock& clock) : clock_(clock) {}

    // The system's port lists; the amplifier is present while its names are listed.
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    void plugAmp();  // adds the amplifier's ports behind other ports
    void unplugAmp();
    bool ampListed() const;

    FakeAmp amp;

    struct Sent {
        long long atMs;
        Bytes bytes;
    };
    std::vector<Sent> sent;       // every message the editor sent, in order
    std::string openedName[2];    // our own port names at the last open
    std::string openedTarget[2];  // which system port was opened
    int openCount[2] = {0, 0};
    int errorHandlerInstalls = 0;
    bool sysexIgnored = true, timingIgnored = false, sensingIgnored = false;
    bool failNextSend = false;  // the next send raises a library error (closes both ports)
    // Another program has the amplifier's ports open: opens fail (when, for the input: refusedAtMs).
    bool ampInUse = false;
    std::vector<long long> refusedAtMs;

    // Queues a message for the editor to read from now + delayMs on.
    void deliver(Bytes message, int delayMs = 0);
    size_t pendingInput() const { return input_.size(); }

    // Codes (byte 2) of the messages sent from index `from` on.
    std::vector<int> sentCodes(size_t from = 0) const;

    // What listingCurrentUntil reports; by default the lists are taken on every pass.
    Clock::TimePoint listedUntil{};

    int portCount(PortDirection direction) override;
    std::chrono::steady_clock::time_point listingCurrentUntil() override { return listedUntil; }
    // Input delivered is reported here as it arrives.
    void reportTo(Wakeup* wakeup) override { wakeup_ = wakeup; }
    std::string portName(PortDirection direction, int index) override;
    void openPort(PortDirection direction, int index, const std::string& ownPortName) override;
    void closePort(PortDirection direction) override { open_[idx(direction)] = false; }
    bool isPortOpen(PortDirection direction) const override { return open_[idx(direction)]; }
    bool portInUse(PortDirection direction) const override { return inUse_[idx(direction)]; }
    void ignoreTypes(IgnoredTypes types) override;
    void installErrorHandler() override { ++errorHandlerInstalls; }
    void sendMessage(std::span<const uint8_t> message) override;
    std::span<const uint8_t> nextMessage() override;

private:
    static int idx(PortDirection d) { return d == PortDirection::Input ? 0 : 1; }
    std::vector<std::string>& list(PortDirection d) { return d == PortDirection::Input ? inputs : outputs; }
    long long nowMs() const;

    struct Pending {
        Clock::TimePoint at;
        Bytes bytes;
    };
    Clock& clock_;
    Wakeup* wakeup_ = nullptr;
    bool open_[2] = {false, false};
    bool inUse_[2] = {false, false};
    std::deque<Pending> input_;
    Bytes current_;
};

// The fake ports in virtual time, tied to a mirror through the link context as the worker sees
// them; the repaints the link asks for are counted.
struct FakeLink {
    VirtualClock clock;
    FakePorts ports{clock};
    DeviceMirror mirror;
    LinkContext ctx;
    int repaints = 0;

    FakeLink() {
        ctx.ui = &mirror;
        ctx.clock = &clock;
        ctx.ports = &ports;
        ctx.requestRepaint = [this] { ++repaints; };
    }
    FakeLink(const FakeLink&) = delete;
    FakeLink& operator=(const FakeLink&) = delete;
};

// For tests on real threads: waits (generously; never an assertion on time) until done() holds.
template <class Done>
bool eventually(Done&& done) {
    for (int i = 0; i < 10000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

}  // namespace halvard::test
