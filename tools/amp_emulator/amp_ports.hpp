#pragma once
// The amplifier's two MIDI ports as the emulator sees them: they can be created and removed (plug,
// unplug, restart), they send one complete message at a time, and incoming messages arrive on the
// MIDI system's own thread through the receiver.

#include <atomic>
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

// What every MIDI system's ports keep alike: the names ("<baseName> In" and "<baseName> Out"), the
// receiver and whether the ports are there.
class NamedAmpPorts : public AmpPorts {
public:
    void setReceiver(Receiver receiver) override { receiver_ = std::move(receiver); }
    bool isOpen() const override { return open_; }

protected:
    explicit NamedAmpPorts(std::string baseName) : baseName_(std::move(baseName)) {}
    std::string inName() const { return baseName_ + " In"; }
    std::string outName() const { return baseName_ + " Out"; }

    std::string baseName_;
    Receiver receiver_;
    std::atomic<bool> open_{false};
};

}  // namespace halvard::emulator
