#pragma once
// One program's settings as the amplifier stores them, and the names of the user IR slots.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace halvard {

inline constexpr int kProgramCount = 128;
inline constexpr int kUserIrSlotCount = 6;
inline constexpr int kSlotNameMaxBytes = 64;
// A program's name (kept on the computer, the amplifier stores none): characters of UTF-8.
inline constexpr int kProgramNameMaxChars = 24;

// Index 0 of each paired field is the rhythm channel, index 1 the lead channel.
struct ProgramSettings {
    uint8_t loopBypass = 0;
    uint8_t channel = 0;  // 0 rhythm, 1 lead
    uint8_t bypass = 0;
    uint8_t reverb[2] = {0, 0};
    uint8_t tremolo[2] = {0, 0};
    uint8_t ir[2] = {0, 0};  // rhythm uses slot ir[0], lead uses slot 3 + ir[1]
    uint8_t irBypass = 0;
    uint8_t hfComp[2] = {0, 0};
    uint8_t filterA[2] = {0, 0};  // lowpass, 1..3
    uint8_t filterB[2] = {0, 0};  // highpass, 1..3
    int32_t loaded = 0;           // 1 once a settings reply for this program was decoded

    bool operator==(const ProgramSettings&) const = default;
};

// A slot name as the amplifier reports it: one byte per character (each byte is the character's
// code point, so bytes 0x80..0xFF read as Latin-1), at most 64 characters, zero-terminated.
// Fixed storage, so that copying a name never allocates.
struct SlotName {
    std::array<char, kSlotNameMaxBytes + 1> bytes{};

    std::string_view view() const { return std::string_view(bytes.data()); }
    bool empty() const { return bytes[0] == '\0'; }
    void assign(std::string_view text);

    bool operator==(const SlotName& other) const { return view() == other.view(); }
};

// A program's own bytes as a settings reply or write carries them (bytes 5..14), as the program
// library keeps them and backups compare them.
inline constexpr size_t kProgramRecordBytes = 10;
using ProgramRecord = std::array<uint8_t, kProgramRecordBytes>;
// One record per program; absent where it is not known.
using ProgramRecords = std::array<std::optional<ProgramRecord>, kProgramCount>;

}  // namespace halvard
