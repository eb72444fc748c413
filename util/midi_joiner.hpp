#pragma once
// Whole MIDI messages from the events of a stream that may carry a SysEx in several events (JACK
// MIDI: a sender or a bridge from the ALSA sequencer cuts a long one into pieces). A piece that
// starts with a data byte or with F7 continues the SysEx under way; one that comes while none is
// under way (its start was lost or dropped) is dropped with the rest of that SysEx, never handed
// on as a message of its own. Real-time messages stand alone, even in the middle of a SysEx; any
// other status byte ends a SysEx left unfinished.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace halvard {

class MidiJoiner {
public:
    // At most this many bytes of one SysEx are collected; a longer one is dropped whole.
    static constexpr size_t kMaxSysexBytes = size_t{1} << 20;

    // The whole message this event completes: the event itself, or the SysEx whose last piece it
    // is. Empty while a SysEx is still being collected, and for an event dropped. Valid until the
    // next call.
    std::span<const uint8_t> add(std::span<const uint8_t> event);

    // Events were lost: the SysEx under way is dropped, and its later pieces with it.
    void lose() { sysex_.clear(); }

private:
    std::vector<uint8_t> sysex_;  // the SysEx under way (empty: none)
    std::vector<uint8_t> message_;
};

}  // namespace halvard
