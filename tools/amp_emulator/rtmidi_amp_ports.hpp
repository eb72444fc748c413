#pragma once
// The amplifier's ports as RtMidi virtual ports on JACK or the ALSA sequencer.

#include <memory>

#include "amp_ports.hpp"
#include "emulator_options.hpp"

class RtMidiIn;
class RtMidiOut;

namespace halvard::emulator {

// Which MIDI system to use: the chosen one, or for Auto JACK when a JACK server runs, else ALSA when
// the sequencer device exists. Fails (with the reason) when the choice is not available.
bool resolveMidiSystem(MidiSystem wanted, MidiSystem& chosen, std::string& error);

class RtMidiAmpPorts final : public NamedAmpPorts {
public:
    // system is Jack or Alsa (resolve Auto first). Ports are named "<baseName> In" and "<baseName> Out".
    RtMidiAmpPorts(MidiSystem system, std::string baseName);
    ~RtMidiAmpPorts() override;

    bool open(std::string& error) override;
    void close() override;
    bool send(std::span<const uint8_t> message) override;
    std::string describe() const override;

private:
    static void onInput(double stamp, std::vector<unsigned char>* message, void* self);

    MidiSystem system_;
    std::unique_ptr<RtMidiIn> in_;
    std::unique_ptr<RtMidiOut> out_;
};

}  // namespace halvard::emulator
