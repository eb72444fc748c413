#pragma once
// The MIDI operations the device worker needs: one input and one output port, found by name.
// Owned by the worker and called on the worker thread only. Nothing here throws: library errors
// end in closed ports, which the worker's next pass notices.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "util/wakeup.hpp"

namespace halvard {

enum class PortDirection { Input, Output };

// The kinds of incoming message the input drops.
struct IgnoredTypes {
    bool sysex = false;
    bool timing = false;
    bool activeSensing = false;
};

// The amplifier speaks SysEx only: clock and active-sensing messages are dropped at the input.
inline constexpr IgnoredTypes kAmplifierInputFilter{.sysex = false, .timing = true, .activeSensing = true};

class MidiPorts {
public:
    virtual ~MidiPorts() = default;

    // Enumeration, asked on every pass: the number of ports the system offers in one direction, and
    // the name of port index (0 <= index < the last count; an index that has gone reads ""). Asked
    // 200 times a second while the amplifier is connected, so an implementation that can learn of
    // changes keeps its last listing until the system reports one (or checks the system at a
    // slower pace where it cannot).
    virtual int portCount(PortDirection direction) = 0;
    virtual std::string portName(PortDirection direction, int index) = 0;

    // Until when (steady clock) the last listing stays right unless a change is reported: the
    // moment of the next slower-paced check, time_point::max() when every change is reported, and
    // the default, the clock's epoch, when the system must be listed on every pass. The worker
    // waits that long, with no amplifier or connected and idle, rather than pass every 5 ms.
    virtual std::chrono::steady_clock::time_point listingCurrentUntil() { return {}; }
    // Where to report, from whatever thread the system reports on, that the port lists may have
    // changed and that an input message has been queued (each time one is); null: nowhere. Set by
    // the worker while it runs: connected and idle, it sleeps until one of these, a posted command
    // or quit, so a back end that does not report its input is looked at only when the lists are
    // due (at every pass for the default listingCurrentUntil).
    virtual void reportTo(Wakeup* /*wakeup*/) {}

    // Opens port index of the last enumeration under our own port name ("midi Input", "midi Output").
    virtual void openPort(PortDirection direction, int index, const std::string& ownPortName) = 0;
    virtual void closePort(PortDirection direction) = 0;
    virtual bool isPortOpen(PortDirection direction) const = 0;
    // Whether the last openPort in this direction left the port closed because another program has
    // it open (Windows lets one program at a time open a MIDI device). Systems whose ports any
    // number of programs may open never say so.
    virtual bool portInUse(PortDirection /*direction*/) const { return false; }

    // Input filter: which kinds of message the input drops.
    virtual void ignoreTypes(IgnoredTypes types) = 0;

    // Installs onMidiError as the library's error handler on both port objects.
    virtual void installErrorHandler() = 0;

    // Sends one complete message on the output port.
    virtual void sendMessage(std::span<const uint8_t> message) = 0;

    // Takes the oldest queued input message; empty when there is none. The bytes stay valid until
    // the next call.
    virtual std::span<const uint8_t> nextMessage() = 0;

    // What every library error leads to, whatever its kind: the input port closes, then the output.
    void onMidiError() {
        closePort(PortDirection::Input);
        closePort(PortDirection::Output);
    }
};

}  // namespace halvard
