#include "util/midi_joiner.hpp"

namespace halvard {

std::span<const uint8_t> MidiJoiner::add(std::span<const uint8_t> event) {
    if (event.empty()) return {};
    const uint8_t first = event.front();
    if (first >= 0xF8) return event;
    if (first == 0xF0) {
        sysex_.clear();
    } else if (first < 0x80 || first == 0xF7) {
        if (sysex_.empty()) return {};
    } else {
        sysex_.clear();
        return event;
    }
    if (sysex_.size() + event.size() > kMaxSysexBytes) {
        sysex_.clear();
        return {};
    }
    sysex_.insert(sysex_.end(), event.begin(), event.end());
    if (sysex_.back() != 0xF7) return {};
    message_.swap(sysex_);
    sysex_.clear();
    return message_;
}

}  // namespace halvard
