#pragma once
// The amplifier's SysEx message set: request builders and the reply decoder. Pure functions over
// byte spans; no I/O, no shared state.
//
// Framing, both directions: F0 00 <code> <payload...> F7. Every payload byte is a 7-bit data byte;
// values wider than 7 bits travel as 4-bit nibbles, most significant first. Lengths count every
// byte from F0 to F7.
//
// Builders write into the caller's buffer and return the message length, or 0 (writing nothing)
// when the buffer is too small. Whatever the arguments, no payload byte they write is 0x80 or above.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

#include "model/program_settings.hpp"

namespace halvard {

inline constexpr uint8_t kSysexStart = 0xF0;
inline constexpr uint8_t kSysexEnd = 0xF7;

// Command codes (byte 2).
inline constexpr uint8_t kCodeSettingsWrite = 0x01;
inline constexpr uint8_t kCodeSettings = 0x02;      // settings read and its reply
inline constexpr uint8_t kCodeChangeNotice = 0x03;  // amplifier -> editor
inline constexpr uint8_t kCodeSlotName = 0x04;      // slot name read and its reply
inline constexpr uint8_t kCodeFirmwareChunk = 0x07;
inline constexpr uint8_t kCodeIrChunk = 0x08;
inline constexpr uint8_t kCodeChunkAck = 0x08;  // amplifier -> editor, answers chunks and stores
inline constexpr uint8_t kCodeStore = 0x09;
inline constexpr uint8_t kCodePresetStore = 0x0A;
inline constexpr uint8_t kCodeVersion = 0x0B;  // version read and its reply
inline constexpr uint8_t kCodeRestart = 0x0C;

// Request lengths.
inline constexpr size_t kShortRequestBytes = 4;  // version read, preset store, restart request
inline constexpr size_t kSettingsReadBytes = 5;
inline constexpr size_t kSlotNameReadBytes = 5;
inline constexpr size_t kSettingsWriteBytes = 17;
inline constexpr size_t kFirmwareChunkMessageBytes = 522;
inline constexpr size_t kIrChunkMessageBytes = 520;
inline constexpr size_t kStoreMessageBytes = 73;
inline constexpr size_t kMaxRequestBytes = kFirmwareChunkMessageBytes;

inline constexpr size_t kChunkDataBytes = 256;  // image bytes carried by one data chunk
inline constexpr size_t kStoreNameBytes = 64;

// The firmware store's fixed fields.
inline constexpr uint8_t kFirmwareStoreTarget = 0x10;
inline constexpr uint16_t kFirmwareStoreSize = 0xFFFF;  // nibbles 0F 0F 0F 0F
inline constexpr std::string_view kFirmwareStoreName = "VDR.bin";

// The global settings that travel in byte 4 and byte 15 of a settings write.
struct SettingsGlobals {
    int32_t midiChannel = 0;
    int32_t bypassLock = 0;
    int32_t reverbTails = 0;
    int32_t mono = 0;
    int32_t irSlot = 0;
};

// ---- builders ---------------------------------------------------------------------------------

size_t buildVersionRead(std::span<uint8_t> out);
size_t buildPresetStore(std::span<uint8_t> out);
size_t buildRestartRequest(std::span<uint8_t> out);
size_t buildSettingsRead(std::span<uint8_t> out, int32_t program);
size_t buildSlotNameRead(std::span<uint8_t> out, int32_t slot);
size_t buildSettingsWrite(std::span<uint8_t> out, int32_t program, const SettingsGlobals& globals,
                          const ProgramSettings& settings);

// Data chunks carry the image bytes of one chunk, high nibble first; bytes beyond data (when it is
// shorter than 256) go out as 0x00 pairs, bytes beyond 256 are not sent. The firmware chunk sends
// bits 23..0 of the offset as six nibbles, the IR chunk bits 15..0 as four.
size_t buildFirmwareChunk(std::span<uint8_t> out, uint32_t offset, std::span<const uint8_t> data);
size_t buildIrChunk(std::span<uint8_t> out, uint32_t offset, std::span<const uint8_t> data);

// Store: target, a 16-bit size as four nibbles, and a name of at most 64 bytes padded with 0x00.
size_t buildStore(std::span<uint8_t> out, uint8_t target, uint16_t size, std::string_view name);
size_t buildFirmwareStore(std::span<uint8_t> out);

// ---- reply decoder ----------------------------------------------------------------------------

struct IgnoredReply {};

struct SettingsReply {
    uint8_t program = 0;       // 0..127
    ProgramSettings settings;  // loaded = 1, out-of-range filter positions already set to defaults
    bool hasGlobals = false;   // program 0 carries midiChannel, bypassLock and reverbTails
    int32_t midiChannel = 0;
    int32_t bypassLock = 0;
    int32_t reverbTails = 0;
    bool hasMonoAndSlot = false;  // program 0 in a reply of 18 bytes or more
    int32_t mono = 0;
    int32_t irSlot = 0;
};

// Copies the globals a settings reply carries into globals: a SettingsGlobals, or the mirror,
// whose fields have the same names. What the reply does not carry keeps its value: only program
// 0's reply carries the globals, and one shorter than 18 bytes has no mono/slot byte.
template <class Globals>
void copyReplyGlobals(const SettingsReply& reply, Globals& globals) {
    if (reply.hasGlobals) {
        globals.midiChannel = reply.midiChannel;
        globals.bypassLock = reply.bypassLock;
        globals.reverbTails = reply.reverbTails;
    }
    if (reply.hasMonoAndSlot) {
        globals.mono = reply.mono;
        globals.irSlot = reply.irSlot;
    }
}

struct ChangeNotice {
    int32_t program = -1;  // the amplifier's current program, or -1 when the notice names none
};

struct SlotNameReply {
    uint8_t slot = 0;      // 0..5
    bool hasName = false;  // false: the name field was empty and the slot keeps its old name
    SlotName name;
};

struct ChunkAck {};

struct VersionReply {
    uint16_t version = 0;  // major * 256 + minor
};

using Reply = std::variant<IgnoredReply, SettingsReply, ChangeNotice, SlotNameReply, ChunkAck, VersionReply>;

// Decodes one received message. Malformed messages, unknown codes, and replies that name a program
// above 127 or a slot above 5 come back as IgnoredReply. Reads nothing at or past message.size().
Reply decodeReply(std::span<const uint8_t> message);

// The code the decoder reports in LinkContext::reply for a decoded reply; 0 for IgnoredReply.
int32_t replyCode(const Reply& reply);

// The slot-name rule: text up to the first 0x00 (at most 64 bytes), the slot's own "<slot>_" prefix
// dropped, a-z upper-cased.
SlotName slotNameFromWire(std::span<const uint8_t> field, int slot);

}  // namespace halvard
