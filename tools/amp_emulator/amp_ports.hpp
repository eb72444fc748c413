#pragma once
// The amplifier's two MIDI ports as the emulator sees them: they can be created and removed (plug,
// unplug, restart), they send one complete message at a time, and incoming messages arrive on the
// MIDI system's own thread through the receiver.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace halvard::emulator {

class AmpPorts {
public:
    using Receiver = std::function<void(std::vector<uint8_t>)>;

    virtual ~AmpPorts() = default;

    // Set once, before the first open. Called on the MIDI system's thread, one complete message a call.
    virtual void setReceiver(Receiver receiver) = 0;
    // Creates both ports; false and the reason when that fails.
    virtual bool open(std::string& error) = 0;
    // Removes both ports; nothing more arrives through the receiver once this returns.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool send(std::span<const uint8_t> message) = 0;
    // For people: which MIDI system and which port names.
    virtual std::string describe() const = 0;
};

}  // namespace halvard::emulator
