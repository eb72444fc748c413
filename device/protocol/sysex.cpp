#include "device/protocol/sysex.hpp"

#include <algorithm>

// Sections: framing helpers, request builders, reply decoder.

namespace halvard {
namespace {

// ---- framing helpers --------------------------------------------------------------------------

constexpr uint8_t data7(int32_t value) {
    return static_cast<uint8_t>(value & 0x7F);
}

// Writes the frame head F0 00 <code>; returns the write position after it.
size_t head(std::span<uint8_t> out, uint8_t code) {
    out[0] = kSysexStart;
    out[1] = 0x00;
    out[2] = code;
    return 3;
}

size_t shortRequest(std::span<uint8_t> out, uint8_t code) {
    if (out.size() < kShortRequestBytes) return 0;
    size_t at = head(out, code);
    out[at++] = kSysexEnd;
    return at;
}

size_t oneByteRequest(std::span<uint8_t> out, uint8_t code, int32_t value) {
    if (out.size() < kSettingsReadBytes) return 0;
    size_t at = head(out, code);
    out[at++] = data7(value);
    out[at++] = kSysexEnd;
    return at;
}

// Writes the low `count` nibbles of value, most significant first.
size_t putNibbles(std::span<uint8_t> out, size_t at, uint32_t value, int count) {
    for (int k = count - 1; k >= 0; --k) out[at++] = static_cast<uint8_t>((value >> (4 * k)) & 0x0F);
    return at;
}

size_t dataChunk(std::span<uint8_t> out, size_t length, uint8_t code, uint32_t offset, int offsetNibbles,
                 std::span<const uint8_t> data) {
    if (out.size() < length) return 0;
    size_t at = head(out, code);
    at = putNibbles(out, at, offset, offsetNibbles);
    for (size_t j = 0; j < kChunkDataBytes; ++j) {
        const uint8_t byte = j < data.size() ? data[j] : 0;
        out[at++] = static_cast<uint8_t>(byte >> 4);
        out[at++] = static_cast<uint8_t>(byte & 0x0F);
    }
    out[at++] = kSysexEnd;
    return at;
}

// ---- reply decoder helpers --------------------------------------------------------------------

// Payload byte i of a received message. The last byte is the end marker and never data; bytes the
// message does not have read as 0, so short replies decode without reading past their end.
uint8_t payload(std::span<const uint8_t> message, size_t i) {
    return i + 1 < message.size() ? message[i] : 0;
}

void mendFilters(ProgramSettings& s) {
    // Positions are 1..3; anything else means the amplifier has no valid setting: use the defaults.
    auto invalid = [](uint8_t v) { return v == 0 || v > 3; };
    if (invalid(s.filterA[0]) || invalid(s.filterA[1])) s.filterA[0] = s.filterA[1] = 2;
    if (invalid(s.filterB[0]) || invalid(s.filterB[1])) s.filterB[0] = s.filterB[1] = 1;
}

Reply decodeSettings(std::span<const uint8_t> m) {
    SettingsReply r;
    const uint8_t p = payload(m, 3);
    if (p > 127) return IgnoredReply{};  // no record to go to
    r.program = p;
    if (p == 0) {
        const uint8_t g = payload(m, 4);
        r.hasGlobals = true;
        r.midiChannel = g & 0x1F;
        r.bypassLock = (g >> 5) & 1;
        r.reverbTails = (g >> 6) & 1;
        // Replies shorter than 18 bytes carry no mono/slot byte; leave those globals as they are.
        if (m.size() >= 18) {
            const uint8_t b = payload(m, 15);
            r.hasMonoAndSlot = true;
            r.mono = b & 1;
            r.irSlot = (b >> 1) & 7;
        }
    }
    ProgramSettings& s = r.settings;
    s.loopBypass = payload(m, 5);
    s.channel = payload(m, 6) & 0x0F;
    s.bypass = (payload(m, 6) >> 5) & 1;
    s.reverb[0] = payload(m, 7) & 0x0F;
    s.tremolo[0] = payload(m, 7) >> 4;
    s.reverb[1] = payload(m, 8) & 0x0F;
    s.tremolo[1] = payload(m, 8) >> 4;
    s.ir[0] = payload(m, 9);
    s.ir[1] = payload(m, 10);
    s.irBypass = payload(m, 11);
    s.hfComp[0] = payload(m, 12) & 0x0F;
    s.hfComp[1] = payload(m, 12) >> 4;
    s.filterA[0] = payload(m, 13) & 3;
    s.filterA[1] = (payload(m, 13) >> 4) & 3;
    s.filterB[0] = payload(m, 14) & 3;
    s.filterB[1] = (payload(m, 14) >> 4) & 3;
    s.loaded = 1;
    mendFilters(s);
    return r;
}

Reply decodeSlotName(std::span<const uint8_t> m) {
    SlotNameReply r;
    const uint8_t slot = payload(m, 4);
    if (slot >= kUserIrSlotCount) return IgnoredReply{};  // no slot to go to
    r.slot = slot;
    r.hasName = payload(m, 5) != 0;
    // A reply of 70 bytes or more holds the whole 64-byte field (bytes 5..68) before its end byte.
    if (r.hasName) r.name = slotNameFromWire(m.subspan(5, kSlotNameMaxBytes), slot);
    return r;
}

}  // namespace

// ---- request builders -------------------------------------------------------------------------

size_t buildVersionRead(std::span<uint8_t> out) {
    return shortRequest(out, kCodeVersion);
}
size_t buildPresetStore(std::span<uint8_t> out) {
    return shortRequest(out, kCodePresetStore);
}
size_t buildRestartRequest(std::span<uint8_t> out) {
    return shortRequest(out, kCodeRestart);
}

size_t buildSettingsRead(std::span<uint8_t> out, int32_t program) {
    return oneByteRequest(out, kCodeSettings, program);
}

size_t buildSlotNameRead(std::span<uint8_t> out, int32_t slot) {
    return oneByteRequest(out, kCodeSlotName, slot);
}

size_t buildSettingsWrite(std::span<uint8_t> out, int32_t program, const SettingsGlobals& g,
                          const ProgramSettings& s) {
    if (out.size() < kSettingsWriteBytes) return 0;
    // Each byte is composed as the amplifier expects it and then kept to 7 bits, so a value out of
    // its range can corrupt at most its own field, never the framing.
    size_t at = head(out, kCodeSettingsWrite);
    out[at++] = data7(program);
    out[at++] = data7((g.midiChannel & 0x1F) | ((g.bypassLock & 1) << 5) | ((g.reverbTails & 1) << 6));
    out[at++] = data7(s.loopBypass);
    out[at++] = data7((s.channel & 0x0F) | ((s.bypass & 1) << 5));
    out[at++] = data7(s.reverb[0] | (s.tremolo[0] << 4));
    out[at++] = data7(s.reverb[1] | (s.tremolo[1] << 4));
    out[at++] = data7(s.ir[0]);
    out[at++] = data7(s.ir[1]);
    out[at++] = data7(s.irBypass & 1);
    out[at++] = data7((s.hfComp[0] & 0x0F) | (s.hfComp[1] << 4));
    out[at++] = data7((s.filterA[0] & 3) | ((s.filterA[1] & 3) << 4));
    out[at++] = data7((s.filterB[0] & 3) | ((s.filterB[1] & 3) << 4));
    out[at++] = data7((g.mono & 1) | ((g.irSlot & 7) << 1));
    out[at++] = kSysexEnd;
    return at;
}

size_t buildFirmwareChunk(std::span<uint8_t> out, uint32_t offset, std::span<const uint8_t> data) {
    return dataChunk(out, kFirmwareChunkMessageBytes, kCodeFirmwareChunk, offset, 6, data);
}

size_t buildIrChunk(std::span<uint8_t> out, uint32_t offset, std::span<const uint8_t> data) {
    return dataChunk(out, kIrChunkMessageBytes, kCodeIrChunk, offset, 4, data);
}

size_t buildStore(std::span<uint8_t> out, uint8_t target, uint16_t size, std::string_view name) {
    if (out.size() < kStoreMessageBytes) return 0;
    size_t at = head(out, kCodeStore);
    out[at++] = data7(target);
    at = putNibbles(out, at, size, 4);
    for (size_t j = 0; j < kStoreNameBytes; ++j)
        out[at++] = j < name.size() ? data7(static_cast<uint8_t>(name[j])) : 0;
    out[at++] = kSysexEnd;
    return at;
}

size_t buildFirmwareStore(std::span<uint8_t> out) {
    return buildStore(out, kFirmwareStoreTarget, kFirmwareStoreSize, kFirmwareStoreName);
}

// ---- reply decoder ----------------------------------------------------------------------------

Reply decodeReply(std::span<const uint8_t> m) {
    const size_t n = m.size();
    // Byte 0 and the last byte are not tested: the MIDI library delivers whole SysEx messages.
    if (n < 3 || m[1] != 0x00) return IgnoredReply{};
    switch (m[2]) {
        case kCodeSettings:
            if (n >= 14) return decodeSettings(m);
            break;
        case kCodeChangeNotice:
            if (n == 4) return ChangeNotice{};
            if (n == 5) {
                const uint8_t p = payload(m, 3);
                return ChangeNotice{p <= 127 ? p : -1};
            }
            break;
        case kCodeSlotName:
            if (n >= 70) return decodeSlotName(m);
            break;
        case kCodeChunkAck:
            if (n >= 4) return ChunkAck{};
            break;
        case kCodeVersion:
            if (n >= 4) return VersionReply{static_cast<uint16_t>(payload(m, 3) * 256 + payload(m, 4))};
            break;
        default:
            break;
    }
    return IgnoredReply{};
}

int32_t replyCode(const Reply& reply) {
    struct Code {
        int32_t operator()(const IgnoredReply&) const { return 0; }
        int32_t operator()(const SettingsReply&) const { return kCodeSettings; }
        int32_t operator()(const ChangeNotice&) const { return kCodeChangeNotice; }
        int32_t operator()(const SlotNameReply&) const { return kCodeSlotName; }
        int32_t operator()(const ChunkAck&) const { return kCodeChunkAck; }
        int32_t operator()(const VersionReply&) const { return kCodeVersion; }
    };
    return std::visit(Code{}, reply);
}

SlotName slotNameFromWire(std::span<const uint8_t> field, int slot) {
    field = field.first(std::min(field.size(), static_cast<size_t>(kSlotNameMaxBytes)));
    const auto end = std::find(field.begin(), field.end(), uint8_t{0});
    std::string_view text(reinterpret_cast<const char*>(field.data()),
                          static_cast<size_t>(end - field.begin()));

    // A name that starts with the slot's own "<slot>_" loses those characters; slots are 0..5, so
    // the prefix is one digit and the underscore.
    if (slot >= 0 && slot <= 9 && text.size() >= 2 && text[0] == static_cast<char>('0' + slot) &&
        text[1] == '_')
        text.remove_prefix(2);

    SlotName name;
    name.assign(text);
    for (char& c : name.bytes)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

}  // namespace halvard
