#include "amp_protocol.hpp"

#include <algorithm>

namespace halvard::emulator {

namespace {

std::optional<Request> reject(std::string* why, std::string text) {
    if (why) *why = std::move(text);
    return std::nullopt;
}

// Joins count nibbles starting at message[at], most significant first. False if one is above 0x0F.
bool joinNibbles(std::span<const uint8_t> message, size_t at, size_t count, uint32_t& value) {
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t n = message[at + i];
        if (n > 0x0F) return false;
        value = (value << 4) | n;
    }
    return true;
}

// 256 data bytes from 512 nibbles (high, then low) starting at message[at].
bool joinData(std::span<const uint8_t> message, size_t at, std::array<uint8_t, kChunkBytes>& data) {
    for (size_t j = 0; j < kChunkBytes; ++j) {
        uint32_t byte = 0;
        if (!joinNibbles(message, at + 2 * j, 2, byte)) return false;
        data[j] = static_cast<uint8_t>(byte);
    }
    return true;
}

bool expectLength(std::span<const uint8_t> m, size_t length, std::string_view what, std::string* why) {
    if (m.size() == length) return true;
    reject(why, std::string(what) + " of " + std::to_string(m.size()) + " bytes (expected " +
                    std::to_string(length) + ")");
    return false;
}

}  // namespace

std::optional<Request> parseRequest(std::span<const uint8_t> m, std::string* why) {
    if (m.size() < 4) return reject(why, "message of " + std::to_string(m.size()) + " bytes");
    if (m.front() != 0xF0 || m.back() != 0xF7) return reject(why, "not framed F0 ... F7");
    if (m[1] != 0x00) return reject(why, "byte 1 is " + hexByte(m[1]) + ", not 00");
    for (size_t i = 1; i + 1 < m.size(); ++i) {
        if (m[i] > 0x7F) {
            return reject(why, "byte " + std::to_string(i) + " is " + hexByte(m[i]) + ", not a data byte");
        }
    }

    Request r;
    switch (m[2]) {
        case kSettingsWrite:
            if (!expectLength(m, kSettingsWriteLength, "settings write", why)) return std::nullopt;
            r.kind = Request::Kind::SettingsWrite;
            r.program = m[3];
            r.globals = {m[4], m[15]};
            std::copy_n(m.begin() + 5, r.record.size(), r.record.begin());
            return r;
        case kSettingsRead:
            if (!expectLength(m, kSettingsReadLength, "settings read", why)) return std::nullopt;
            r.kind = Request::Kind::SettingsRead;
            r.program = m[3];
            return r;
        case kSlotNameRead:
            if (!expectLength(m, kSlotNameReadLength, "slot name read", why)) return std::nullopt;
            if (m[3] >= kUserSlots) {
                return reject(why, "slot name read for slot " + std::to_string(m[3]));
            }
            r.kind = Request::Kind::SlotNameRead;
            r.slot = m[3];
            return r;
        case kFirmwareChunk:
        case kIrChunk: {
            const bool firmware = m[2] == kFirmwareChunk;
            const size_t offsetNibbles = firmware ? 6 : 4;
            if (!expectLength(m, firmware ? kFirmwareChunkLength : kIrChunkLength,
                              firmware ? "firmware chunk" : "IR chunk", why)) {
                return std::nullopt;
            }
            if (!joinNibbles(m, 3, offsetNibbles, r.offset) || !joinData(m, 3 + offsetNibbles, r.data)) {
                return reject(why,
                              std::string(firmware ? "firmware" : "IR") + " chunk with a nibble above 0F");
            }
            r.kind = firmware ? Request::Kind::FirmwareChunk : Request::Kind::IrChunk;
            return r;
        }
        case kStore: {
            if (!expectLength(m, kStoreLength, "store", why)) return std::nullopt;
            uint32_t size = 0;
            if (!joinNibbles(m, 4, 4, size)) return reject(why, "store with a size nibble above 0F");
            r.kind = Request::Kind::Store;
            r.target = m[3];
            r.size = static_cast<uint16_t>(size);
            std::copy_n(m.begin() + 8, kNameBytes, r.name.begin());
            return r;
        }
        case kPresetStore:
        case kVersionRead:
        case kRestart:
            if (!expectLength(m, kBareRequestLength, "request " + hexByte(m[2]), why)) return std::nullopt;
            r.kind = m[2] == kPresetStore   ? Request::Kind::PresetStore
                     : m[2] == kVersionRead ? Request::Kind::VersionRead
                                            : Request::Kind::Restart;
            return r;
        default:
            return reject(why, "unknown code " + hexByte(m[2]));
    }
}

std::string_view messageName(std::span<const uint8_t> m, bool fromEditor) {
    if (m.size() < 3 || m[0] != 0xF0) return {};
    switch (m[2]) {
        case kSettingsWrite:
            return fromEditor ? "settings write" : "";
        case kSettingsRead:
            return fromEditor ? "settings read" : "settings reply";
        case kChangeNotice:
            return fromEditor ? "" : "change notice";
        case kSlotNameRead:
            return fromEditor ? "slot name read" : "slot name reply";
        case kFirmwareChunk:
            return fromEditor ? "firmware chunk" : "";
        case kIrChunk:
            return fromEditor ? "IR chunk" : "acknowledgement";
        case kStore:
            return fromEditor ? "store" : "";
        case kPresetStore:
            return fromEditor ? "preset store" : "";
        case kVersionRead:
            return fromEditor ? "version read" : "version reply";
        case kRestart:
            return fromEditor ? "restart request" : "";
        default:
            return {};
    }
}

Message versionReply(uint16_t version) {
    return {0xF0,
            0x00,
            kVersionRead,
            static_cast<uint8_t>((version >> 8) & 0x7F),
            static_cast<uint8_t>(version & 0x7F),
            0xF7};
}

Message settingsReply(uint8_t program, const Globals& globals, const ProgramRecord& record) {
    Message m(18, 0x00);
    m[0] = 0xF0;
    m[2] = kSettingsRead;
    m[3] = program;
    m[4] = globals.byte4;
    std::copy(record.begin(), record.end(), m.begin() + 5);
    m[15] = globals.byte15;
    m[17] = 0xF7;  // byte 16 is reserved
    return m;
}

Message slotNameReply(uint8_t slot, std::string_view name) {
    Message m(70, 0x00);
    m[0] = 0xF0;
    m[2] = kSlotNameRead;
    m[4] = slot;
    const size_t n = std::min(name.size(), static_cast<size_t>(kNameBytes));
    for (size_t i = 0; i < n; ++i) m[5 + i] = static_cast<uint8_t>(name[i]) & 0x7F;
    m[69] = 0xF7;
    return m;
}

Message acknowledgement() {
    return {0xF0, 0x00, kIrChunk, 0xF7};
}

Message changeNotice(std::optional<uint8_t> program) {
    if (program) return {0xF0, 0x00, kChangeNotice, *program, 0xF7};
    return {0xF0, 0x00, kChangeNotice, 0xF7};
}

std::string storeName(const std::array<uint8_t, kNameBytes>& field) {
    const auto end = std::find(field.begin(), field.end(), uint8_t{0});
    return std::string(field.begin(), end);
}

}  // namespace halvard::emulator
