#include "virtual_amp.hpp"

#include <algorithm>

namespace halvard::emulator {

namespace {

// IR images are addressed by 16-bit offsets; firmware images are exactly 131072 bytes.
constexpr size_t kIrImageCapacity = 65536;

std::string slotText(int slot) {
    return "slot " + std::to_string(slot);
}

// Three-position switches hold 1..3 in each nibble; step each one on.
uint8_t nextSwitchPair(uint8_t b) {
    const auto step = [](int v) { return v % 3 + 1; };
    return static_cast<uint8_t>(step(b & 0x03) | step((b >> 4) & 0x03) << 4);
}

// A reply of the same shape as the genuine one with every value changed, so that a decoder that
// wrongly takes a malformed copy leaves visible traces.
Message bogusCopy(const Message& g) {
    Message b = g;
    if (g.size() < 3) return b;
    switch (g[2]) {
        case kSettingsRead:
            if (g.size() >= 18) {
                b[4] ^= 0x27;  // MIDI channel, bypass lock, reverb tails
                b[5] ^= 0x01;
                b[6] ^= 0x01;
                b[7] ^= 0x11;
                b[8] ^= 0x11;
                b[9] = static_cast<uint8_t>((g[9] + 1) % 3);
                b[10] = static_cast<uint8_t>((g[10] + 1) % 3);
                b[11] ^= 0x01;
                b[12] ^= 0x11;
                b[13] = nextSwitchPair(g[13]);
                b[14] = nextSwitchPair(g[14]);
                b[15] ^= 0x0B;  // mono and IR slot
            }
            break;
        case kSlotNameRead:
            if (g.size() >= 70) {
                const std::string bogus = "BOGUS " + std::to_string(g[4]);
                std::fill(b.begin() + 5, b.begin() + 69, uint8_t{0});
                std::copy(bogus.begin(), bogus.end(), b.begin() + 5);
            }
            break;
        case kVersionRead:
            if (g.size() >= 5) b[3] = b[4] = 0x7E;
            break;
        default:
            break;
    }
    return b;
}

// The length one below what the editor accepts, ended by F7: 13 bytes for a settings reply, 69 for
// a slot name reply. Version replies and acknowledgements have none: their shortest accepted form
// is 4 bytes, and anything shorter cannot end with F7 (see malformedCopies).
std::optional<Message> shortCopy(const Message& bogus) {
    size_t n;
    switch (bogus[2]) {
        case kSettingsRead:
            n = 13;
            break;
        case kSlotNameRead:
            n = 69;
            break;
        default:
            return std::nullopt;
    }
    Message m(bogus.begin(), bogus.begin() + static_cast<std::ptrdiff_t>(n - 1));
    m.push_back(0xF7);
    return m;
}

}  // namespace

ProgramRecord factoryRecord(int p) {
    const auto bit = [p](int n) { return static_cast<uint8_t>((p >> n) & 1); };
    return {
        static_cast<uint8_t>(p % 3 == 0),                              // loop bypass
        static_cast<uint8_t>(bit(0) | (p % 5 == 4) << 5),              // channel, bypass
        static_cast<uint8_t>(bit(1) | bit(2) << 4),                    // reverb, tremolo rhythm
        static_cast<uint8_t>(bit(3) | bit(4) << 4),                    // reverb, tremolo lead
        static_cast<uint8_t>(p % 3),                                   // IR rhythm
        static_cast<uint8_t>(p / 3 % 3),                               // IR lead
        static_cast<uint8_t>(p % 7 == 6),                              // IR bypass
        static_cast<uint8_t>(bit(5) | bit(6) << 4),                    // HF comp
        static_cast<uint8_t>((1 + p % 3) | (1 + p / 3 % 3) << 4),      // lowpass 1..3
        static_cast<uint8_t>((1 + p / 2 % 3) | (1 + p / 5 % 3) << 4),  // highpass 1..3
    };
}

AmpState factoryState() {
    AmpState s;
    s.globals = {0x43, 0x05};  // MIDI channel 3, reverb tails; mono, IR slot 2
    for (int p = 0; p < kPrograms; ++p) s.records[static_cast<size_t>(p)] = factoryRecord(p);
    s.slotNames = {"0_CLOSED 412", "1_open back 112", "2_CLEAN", "", "4_ROOM BLEND", "BRIGHT 212"};
    return s;
}

VirtualAmp::VirtualAmp(AmpState initial)
    : state(std::move(initial)), ir_(kIrImageCapacity), firmware_(kFirmwareImageBytes) {
    state.edit = state.records[state.program];
}

void VirtualAmp::selectProgram(uint8_t p) {
    if (p == state.program) return;
    state.program = p;
    state.edit = state.records[p];
}

void VirtualAmp::setRecord(uint8_t p, const ProgramRecord& record) {
    state.records[p] = record;
    if (p == state.program) state.edit = record;
}

void VirtualAmp::restart() {
    if (state.pendingVersion != 0) {
        state.version = state.pendingVersion;
        state.pendingVersion = 0;
    }
    ir_.chunks.reset();
    ir_.seen = 0;
    firmware_.chunks.reset();
    firmware_.seen = 0;
    faults.hung = false;
}

void VirtualAmp::reply(Message m, AmpOutcome& out) const {
    std::vector<Message> copies = malformedCopies(m, faults.malformed);
    out.replies.push_back(std::move(m));
    for (Message& c : copies) out.replies.push_back(std::move(c));
}

AmpOutcome VirtualAmp::receive(std::span<const uint8_t> message) {
    AmpOutcome out;
    if (faults.ignoreCode >= 0 && message.size() >= 3 && message[2] == faults.ignoreCode) return out;
    if (faults.hung) {
        // A hung amplifier still restarts when asked; that is what cures it.
        const std::optional<Request> r = parseRequest(message);
        out.restart = r && r->kind == Request::Kind::Restart;
        return out;
    }

    std::string why;
    const std::optional<Request> request = parseRequest(message, &why);
    if (!request) {
        out.malformed = true;
        out.reports.push_back("ignored a malformed message: " + why);
        return out;
    }
    const Request& r = *request;
    switch (r.kind) {
        case Request::Kind::VersionRead:
            reply(versionReply(state.version), out);
            break;
        case Request::Kind::SettingsRead:
            selectProgram(r.program);
            reply(settingsReply(r.program, state.globals, state.edit), out);
            break;
        case Request::Kind::SettingsWrite:
            state.program = r.program;
            state.globals = r.globals;
            state.edit = r.record;
            break;
        case Request::Kind::SlotNameRead:
            reply(slotNameReply(r.slot, state.slotNames[r.slot]), out);
            break;
        case Request::Kind::PresetStore:
            state.records[state.program] = state.edit;
            if (faults.alterStoreOf == state.program) {
                // A store that goes wrong: what the amplifier keeps is not what it was sent.
                faults.alterStoreOf = -1;
                state.records[state.program][0] ^= 1;
                state.edit = state.records[state.program];
                out.reports.push_back("stored program " + std::to_string(state.program) + " altered (fault)");
            }
            ++state.presetStores;
            out.replies.push_back(changeNotice(state.program));
            break;
        case Request::Kind::Restart:
            out.restart = true;
            break;
        case Request::Kind::IrChunk:
            takeChunk(ir_, r, out);
            break;
        case Request::Kind::FirmwareChunk:
            takeChunk(firmware_, r, out);
            break;
        case Request::Kind::Store:
            if (r.target == kFirmwareStoreTarget)
                storeFirmware(r, out);
            else
                storeIr(r, out);
            break;
    }
    return out;
}

bool VirtualAmp::acknowledging(const Transfer& t) const {
    return faults.stopAckAfter < 0 || t.seen <= faults.stopAckAfter;
}

void VirtualAmp::takeChunk(Transfer& t, const Request& r, AmpOutcome& out) {
    if (r.offset == 0) t.seen = 0;
    ++t.seen;
    const std::string note = t.chunks.add(r.offset, r.data);
    if (!note.empty()) out.reports.push_back(note);
    if (acknowledging(t)) reply(acknowledgement(), out);
}

void VirtualAmp::storeIr(const Request& r, AmpOutcome& out) {
    const bool acknowledge = acknowledging(ir_);
    std::string fault;
    if (r.target >= kUserSlots) {
        fault = "store target " + std::to_string(r.target) + " is neither a user slot nor the firmware";
    } else {
        fault = ir_.chunks.check(r.size, true);
        if (fault.empty()) fault = checkIrWavImage(ir_.chunks.image(r.size));
    }
    if (!fault.empty()) {
        out.reports.push_back("IR store into " + slotText(r.target) + " refused: " + fault);
    } else {
        const std::span<const uint8_t> image = ir_.chunks.image(r.size);
        std::optional<StoredIr>& slot = state.irs[r.target];
        const int stores = slot ? slot->stores : 0;
        slot = StoredIr{std::vector<uint8_t>(image.begin(), image.end()), storeName(r.name), stores + 1};
        // The amplifier reports a stored IR under its slot number: "2_" + name, 64 bytes at most.
        state.slotNames[r.target] = (std::to_string(r.target) + "_" + slot->name).substr(0, kNameBytes);
        ++state.irStores;
        out.storedIrSlot = r.target;
    }
    ir_.chunks.reset();
    ir_.seen = 0;
    // A refused store is not acknowledged: the editor must not take it for a success.
    if (fault.empty() && acknowledge) {
        reply(acknowledgement(), out);
        out.replies.push_back(changeNotice(std::nullopt));
    }
}

void VirtualAmp::storeFirmware(const Request& r, AmpOutcome& out) {
    const bool acknowledge = acknowledging(firmware_);
    std::string fault = firmware_.chunks.check(kFirmwareImageBytes, false);
    const std::string name = storeName(r.name);
    if (fault.empty() && r.size != kFirmwareStoreSize) {
        fault = "size field " + std::to_string(r.size) + ", expected " + std::to_string(kFirmwareStoreSize);
    }
    if (fault.empty() && name != "VDR.bin") fault = "name \"" + name + "\", expected \"VDR.bin\"";
    if (!fault.empty()) {
        out.reports.push_back("firmware store refused: " + fault);
    } else {
        const std::span<const uint8_t> image = firmware_.chunks.image(kFirmwareImageBytes);
        state.firmwareImage.emplace(image.begin(), image.end());
        state.pendingVersion = firmwareImageVersion(image);
        ++state.firmwareStores;
        out.storedFirmware = true;
    }
    firmware_.chunks.reset();
    firmware_.seen = 0;
    if (fault.empty() && acknowledge) reply(acknowledgement(), out);
}

std::string playProgramFile(AmpState& state, std::span<const uint8_t> file) {
    VirtualAmp amp(state);
    for (size_t at = 0; at < file.size();) {
        const auto end = std::find(file.begin() + static_cast<std::ptrdiff_t>(at), file.end(), uint8_t{0xF7});
        if (end == file.end()) return "the file ends inside a message at byte " + std::to_string(at);
        const size_t next = static_cast<size_t>(end - file.begin()) + 1;
        std::string why;
        const std::optional<Request> r = parseRequest(file.subspan(at, next - at), &why);
        if (!r) return "the message at byte " + std::to_string(at) + " is not one of the editor's: " + why;
        if (r->kind != Request::Kind::SettingsWrite && r->kind != Request::Kind::PresetStore)
            return "the message at byte " + std::to_string(at) +
                   " is neither a settings write nor a preset store";
        amp.receive(file.subspan(at, next - at));
        at = next;
    }
    const int stores = state.presetStores;
    state = amp.state;
    state.presetStores = stores;  // counted are the stores the editor makes
    return {};
}

std::vector<Message> malformedCopies(const Message& genuine, unsigned kinds) {
    std::vector<Message> copies;
    if (kinds == 0 || genuine.size() < 4) return copies;
    const Message bogus = bogusCopy(genuine);
    const uint8_t code = genuine[2];
    if (kinds & kMalformedByte1) {
        Message m = bogus;
        m[1] = 0x01;
        copies.push_back(std::move(m));
    }
    if (kinds & kMalformedShort) {
        if (std::optional<Message> m = shortCopy(bogus)) copies.push_back(std::move(*m));
    }
    if ((kinds & kMalformedRange) && code == kSettingsRead && bogus.size() >= 18) {
        Message m = bogus;
        m[3] = static_cast<uint8_t>(0x80 | genuine[3]);
        copies.push_back(std::move(m));
    }
    if ((kinds & kMalformedRange) && code == kSlotNameRead && bogus.size() >= 70) {
        Message m = bogus;
        m[4] = static_cast<uint8_t>(kUserSlots + genuine[4]);
        copies.push_back(std::move(m));
    }
    // Every copy is a whole message: a SysEx without its F7 would make the MIDI library join it
    // to the next message, the genuine reply after it included, and the editor could only time out.
    if (kinds & kMalformedStray) {
        copies.push_back({0xB0, 0x07, 0x64});                       // a control change
        copies.push_back({0xF0, 0x00, 0x7E, 0x01, 0xF7});           // a code nobody uses
        copies.push_back({0xF0, 0x7D, kSettingsRead, 0x00, 0xF7});  // another maker's SysEx
        copies.push_back({0xF7});                                   // an end byte alone
        copies.push_back({0xF0, 0x00, 0xF7});                       // a SysEx with no code
    }
    return copies;
}

}  // namespace halvard::emulator
