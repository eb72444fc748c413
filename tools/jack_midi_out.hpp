#pragma once
// The test tools' outgoing JACK MIDI (the amplifier emulator, the Wine MIDI bridge): messages wait
// in a ring buffer as records (a u32 length in native order, then the bytes) and the process
// callback moves them into the output port's buffer. No allocation, no lock, no system call.

#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace halvard {

// Every whole message that fits this cycle's buffer (cleared in this cycle), in order, all at its
// first frame; one that does not fit waits for the next cycle, and one longer than an empty buffer
// takes goes out in pieces, one a cycle. remaining holds, between cycles, the bytes of that message
// still to send. A record is taken only once all of it is in the ring.
inline void transmitFromRing(jack_ringbuffer_t* ring, void* buffer, uint32_t& remaining) {
    constexpr size_t kHeader = sizeof(uint32_t);
    bool wrote = false;
    for (;;) {
        if (remaining == 0) {
            uint32_t length = 0;
            if (jack_ringbuffer_read_space(ring) < kHeader) return;
            jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&length), kHeader);
            if (jack_ringbuffer_read_space(ring) < kHeader + length) return;
            if (length <= jack_midi_max_event_size(buffer)) {
                jack_midi_data_t* event = jack_midi_event_reserve(buffer, 0, length);
                if (!event) return;  // the port's buffer is full: the rest goes next cycle
                jack_ringbuffer_read_advance(ring, kHeader);
                jack_ringbuffer_read(ring, reinterpret_cast<char*>(event), length);
                wrote = true;
                continue;
            }
            if (wrote) return;  // begun in a cycle of its own
            jack_ringbuffer_read_advance(ring, kHeader);
            remaining = length;
        }
        const size_t piece = std::min(static_cast<size_t>(remaining), jack_midi_max_event_size(buffer));
        jack_midi_data_t* event = piece == 0 ? nullptr : jack_midi_event_reserve(buffer, 0, piece);
        if (!event) return;
        jack_ringbuffer_read(ring, reinterpret_cast<char*>(event), piece);
        remaining -= static_cast<uint32_t>(piece);
        if (remaining > 0) return;
        wrote = true;
    }
}

}  // namespace halvard
