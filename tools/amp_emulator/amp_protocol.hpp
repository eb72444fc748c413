#pragma once
// The amplifier's side of the SysEx conversation: what the editor sends, parsed; what the amplifier
// answers, built. Written from the amplifier's point of view and on purpose independent of the
// editor's own builders and decoder, so that the emulator checks them instead of sharing their faults.
//
// Framing, both directions: F0 00 <code> <7-bit payload...> F7. Values wider than 7 bits travel as
// 4-bit nibbles, most significant first.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/hex.hpp"

namespace halvard::emulator {

using Message = std::vector<uint8_t>;

// Message codes (byte 2).
inline constexpr uint8_t kSettingsWrite = 0x01;
inline constexpr uint8_t kSettingsRead = 0x02;  // also the settings reply
inline constexpr uint8_t kChangeNotice = 0x03;
inline constexpr uint8_t kSlotNameRead = 0x04;  // also the slot name reply
inline constexpr uint8_t kFirmwareChunk = 0x07;
inline constexpr uint8_t kIrChunk = 0x08;  // also the chunk acknowledgement
inline constexpr uint8_t kStore = 0x09;
inline constexpr uint8_t kPresetStore = 0x0A;
inline constexpr uint8_t kVersionRead = 0x0B;  // also the version reply
inline constexpr uint8_t kRestart = 0x0C;

inline constexpr int kPrograms = 128;
inline constexpr int kUserSlots = 6;
inline constexpr int kNameBytes = 64;
inline constexpr int kChunkBytes = 256;
inline constexpr uint8_t kFirmwareStoreTarget = 0x10;
inline constexpr uint16_t kFirmwareStoreSize = 0xFFFF;  // the firmware store's size nibbles are 0F 0F 0F 0F
inline constexpr size_t kFirmwareImageBytes = 131072;

// Exact lengths of the editor's messages, F0 to F7.
inline constexpr size_t kSettingsWriteLength = 17;
inline constexpr size_t kSettingsReadLength = 5;
inline constexpr size_t kSlotNameReadLength = 5;
inline constexpr size_t kFirmwareChunkLength = 522;
inline constexpr size_t kIrChunkLength = 520;
inline constexpr size_t kStoreLength = 73;
inline constexpr size_t kBareRequestLength = 4;  // version read, preset store, restart request

// One program as the amplifier keeps it: bytes 5..14 of the settings write and reply, as they
// travel (loop bypass, channel/bypass, reverb+tremolo rhythm, lead, IR rhythm, lead, IR bypass,
// HF comp, lowpass, highpass).
using ProgramRecord = std::array<uint8_t, 10>;

// The global settings, as bytes 4 and 15 of the settings write and reply.
struct Globals {
    uint8_t byte4 = 0;   // bits 0-4 MIDI channel, bit 5 bypass lock, bit 6 reverb tails
    uint8_t byte15 = 0;  // bit 0 mono, bits 1-3 selected IR slot
    bool operator==(const Globals&) const = default;
};

// A message from the editor, parsed. kind says which; the fields that kind uses are filled.
struct Request {
    enum class Kind {
        SettingsWrite,
        SettingsRead,
        SlotNameRead,
        FirmwareChunk,
        IrChunk,
        Store,
        PresetStore,
        VersionRead,
        Restart,
    };
    Kind kind = Kind::VersionRead;
    uint8_t program = 0;                      // settings write and read
    Globals globals;                          // settings write
    ProgramRecord record{};                   // settings write
    uint8_t slot = 0;                         // slot name read
    uint32_t offset = 0;                      // chunks: offset of the piece in the image
    std::array<uint8_t, kChunkBytes> data{};  // chunks: the 256 bytes, nibbles joined
    uint8_t target = 0;                       // store: user slot 0..5 or 0x10 for firmware
    uint16_t size = 0;                        // store
    std::array<uint8_t, kNameBytes> name{};   // store: the name field as sent
};

// Parses one message from the editor. Anything that is not exactly one of the editor's messages
// (framing, length, a payload byte above 0x7F, a nibble above 0x0F, a number out of range) gives
// nothing and, through *why, the reason.
std::optional<Request> parseRequest(std::span<const uint8_t> message, std::string* why = nullptr);

// A short name of the message for the protocol log ("settings read", "IR chunk" ...), from its
// direction and code; empty for a code that direction does not use.
std::string_view messageName(std::span<const uint8_t> message, bool fromEditor);

// Replies, each complete from F0 to F7.
Message versionReply(uint16_t version);  // F0 00 0B major minor F7
// 18 bytes: F0 00 02 p, byte 4, the record, byte 15, one reserved 0x00, F7.
Message settingsReply(uint8_t program, const Globals& globals, const ProgramRecord& record);
// 70 bytes: F0 00 04, a reserved 0x00, the slot, 64 name bytes padded with 0x00, F7.
Message slotNameReply(uint8_t slot, std::string_view name);
Message acknowledgement();                             // F0 00 08 F7
Message changeNotice(std::optional<uint8_t> program);  // F0 00 03 F7 or F0 00 03 p F7

// The name carried in a store message: the bytes up to the first 0x00, at most 64.
std::string storeName(const std::array<uint8_t, kNameBytes>& field);

}  // namespace halvard::emulator
