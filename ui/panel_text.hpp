#pragma once
// Texts the panel builds every frame, formatted into fixed buffers so that a frame never allocates.

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/device_mirror.hpp"

namespace halvard {

// A short text assembled in place; appending past the capacity cuts the text there (never the
// buffer, nor a UTF-8 character: the text goes to screen readers, which take UTF-8 only), and what
// is appended after a cut is left out.
template <size_t N>
class FixedText {
public:
    FixedText& operator<<(std::string_view s) {
        if (cut_) return *this;
        const size_t n = utf8BytesThatFit(s, N - size_);
        cut_ = n < s.size();
        std::copy_n(s.begin(), n, data_.begin() + static_cast<std::ptrdiff_t>(size_));
        size_ += n;
        return *this;
    }
    FixedText& operator<<(int32_t v) {
        std::array<char, 12> digits{};
        const auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), v);
        (void)ec;  // 12 characters hold any 32-bit value with its sign
        return *this << std::string_view(digits.data(), static_cast<size_t>(end - digits.data()));
    }
    std::string_view view() const { return std::string_view(data_.data(), size_); }
    void clear() {
        size_ = 0;
        cut_ = false;
    }
    bool operator==(const FixedText& other) const { return view() == other.view(); }

private:
    std::array<char, N> data_{};
    size_t size_ = 0;
    bool cut_ = false;
};

// "FIRMWARE VERSION 1.3.0" for 0x0103: major in the high byte, minor in the low byte.
FixedText<40> firmwareVersionText(uint16_t version);

// Why there is no amplifier, for the status line: "NO AMPLIFIER AMONG 3 MIDI PORTS" (one port: "1
// MIDI PORT"), "NO MIDI PORTS" when there are none (a missing driver, say).
FixedText<40> noAmplifierText(int32_t portsSeen);

// The status line beside the firmware version: a note on the shown program's name ("CHANGED ON THE
// AMPLIFIER SINCE NAMED") or on the program library when it cannot be used ("PROGRAM NAMES
// UNAVAILABLE: LIBRARY LOCKED"), then the outcome of the last backup or restore. Empty: nothing to say.
FixedText<160> statusLineText(const MirrorView& view);

// Slot names hold one byte per character, read as Latin-1; the drawing layer takes UTF-8.
// 64 Latin-1 characters take at most 128 bytes of UTF-8.
FixedText<2 * 64> slotNameText(std::string_view latin1);

}  // namespace halvard
