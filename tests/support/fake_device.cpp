#include "fake_device.hpp"

#include <algorithm>

namespace halvard::test {

Bytes settingsReply(int program, const SettingsGlobals& globals, const ProgramSettings& settings) {
    // The reply has the write's layout from byte 3 on; at 18 bytes it carries the mono/slot byte.
    std::array<uint8_t, kSettingsWriteBytes> write{};
    buildSettingsWrite(write, program, globals, settings);
    Bytes reply(write.begin(), write.begin() + 16);
    reply[2] = kCodeSettings;
    reply.push_back(0x00);
    reply.push_back(kSysexEnd);
    return reply;
}

Bytes slotNameReply(int slot, const std::string& name) {
    Bytes reply = {kSysexStart, 0x00, kCodeSlotName, 0x00, static_cast<uint8_t>(slot)};
    for (size_t i = 0; i < kSlotNameMaxBytes; ++i)
        reply.push_back(i < name.size() ? static_cast<uint8_t>(name[i]) : 0);
    reply.push_back(kSysexEnd);
    return reply;
}

FakeAmp::FakeAmp() {
    for (int p = 0; p < kProgramCount; ++p) {
        ProgramSettings& s = programs[static_cast<size_t>(p)];
        s.channel = static_cast<uint8_t>(p % 2);
        s.reverb[1] = 1;
        s.ir[0] = static_cast<uint8_t>(p % 3);
        s.filterA[0] = s.filterA[1] = 2;
        s.filterB[0] = s.filterB[1] = 1;
    }
    globals.midiChannel = 3;
    globals.irSlot = 4;
    slotNames = {"0_clean", "Crunch 2", "", "3_DARK", "0_bright", "Fifth"};
}

bool FakeAmp::answer(const Bytes& request, Bytes& reply) {
    if (silent || request.size() < 4 || silentFor.count(request[2]) != 0) return false;
    switch (request[2]) {
        case kCodeVersion:
            reply = {kSysexStart,
                     0x00,
                     kCodeVersion,
                     static_cast<uint8_t>(version >> 8),
                     static_cast<uint8_t>(version & 0xFF),
                     kSysexEnd};
            return true;
        case kCodeSettings: {
            const int p = request[3];
            if (p == silentForProgram) return false;
            reply = settingsReply(p, globals, programs[static_cast<size_t>(p)]);
            return true;
        }
        case kCodeSlotName: {
            const int s = request[3];
            if (s >= kUserIrSlotCount) return false;
            reply = slotNameReply(s, slotNames[static_cast<size_t>(s)]);
            return true;
        }
        case kCodeFirmwareChunk:
        case kCodeIrChunk:
        case kCodeStore:
            if (transferAcks == 0) return false;
            if (transferAcks > 0) --transferAcks;
            reply = {kSysexStart, 0x00, kCodeChunkAck, kSysexEnd};
            return true;
        case kCodeSettingsWrite:
            if (request.size() == kSettingsWriteBytes) takeSettingsWrite(request);
            return false;
        default:
            return false;  // settings writes, the preset store and the restart request are not answered
    }
}

void FakeAmp::takeSettingsWrite(const Bytes& write) {
    // From byte 3 on a settings write has the layout of an 18-byte settings reply.
    Bytes asReply(write.begin(), write.end() - 1);
    asReply[2] = kCodeSettings;
    asReply.insert(asReply.end(), {0x00, kSysexEnd});
    SettingsReply r = std::get<SettingsReply>(decodeReply(asReply));
    if (keepsOldProgram.count(r.program) != 0) return;
    r.settings.loaded = 0;
    programs[r.program] = r.settings;
    globals = {write[4] & 0x1F, (write[4] >> 5) & 1, (write[4] >> 6) & 1, write[15] & 1,
               (write[15] >> 1) & 7};
}

void FakePorts::plugAmp() {
    if (ampListed()) return;
    inputs.insert(inputs.end(), {"Midi Through:0", "VD", kAmpInputName});
    outputs.insert(outputs.end(), {"Midi Through:0", kAmpOutputName});
}

void FakePorts::unplugAmp() {
    std::erase(inputs, std::string(kAmpInputName));
    std::erase(outputs, std::string(kAmpOutputName));
}

bool FakePorts::ampListed() const {
    return std::find(inputs.begin(), inputs.end(), kAmpInputName) != inputs.end() &&
           std::find(outputs.begin(), outputs.end(), kAmpOutputName) != outputs.end();
}

void FakePorts::deliver(Bytes message, int delayMs) {
    const Clock::TimePoint at = clock_.now() + std::chrono::milliseconds(delayMs);
    input_.push_back({at, std::move(message)});
    // The worker hears of it when it arrives: in virtual time at that moment, else at once (a look
    // too early finds nothing and waits again).
    if (wakeup_ != nullptr) {
        if (auto* virtualClock = dynamic_cast<VirtualClock*>(&clock_))
            virtualClock->notifyAt(at, *wakeup_);
        else
            wakeup_->notify();
    }
}

std::vector<int> FakePorts::sentCodes(size_t from) const {
    std::vector<int> codes;
    for (size_t i = from; i < sent.size(); ++i)
        codes.push_back(sent[i].bytes.size() > 2 ? sent[i].bytes[2] : -1);
    return codes;
}

int FakePorts::portCount(PortDirection direction) {
    return static_cast<int>(list(direction).size());
}

std::string FakePorts::portName(PortDirection direction, int index) {
    const auto& names = list(direction);
    return index >= 0 && static_cast<size_t>(index) < names.size() ? names[static_cast<size_t>(index)] : "";
}

void FakePorts::openPort(PortDirection direction, int index, const std::string& ownPortName) {
    const int d = idx(direction);
    const auto& names = list(direction);
    inUse_[d] = false;
    if (index < 0 || static_cast<size_t>(index) >= names.size()) return;
    const std::string& target = names[static_cast<size_t>(index)];
    if (ampInUse && (target == kAmpInputName || target == kAmpOutputName)) {
        inUse_[d] = true;
        if (direction == PortDirection::Input) refusedAtMs.push_back(nowMs());
        return;
    }
    open_[d] = true;
    ++openCount[d];
    openedName[d] = ownPortName;
    openedTarget[d] = names[static_cast<size_t>(index)];
}

void FakePorts::ignoreTypes(IgnoredTypes types) {
    sysexIgnored = types.sysex;
    timingIgnored = types.timing;
    sensingIgnored = types.activeSensing;
}

long long FakePorts::nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now().time_since_epoch()).count();
}

void FakePorts::sendMessage(std::span<const uint8_t> message) {
    if (failNextSend) {
        failNextSend = false;
        onMidiError();
        return;
    }
    if (!open_[1]) return;
    Bytes bytes(message.begin(), message.end());
    sent.push_back({nowMs(), bytes});
    // Like ALSA, an unplugged amplifier's port still reports open; what is sent to it is lost, and
    // nothing reaches a closed input.
    Bytes reply;
    if (open_[0] && ampListed() && amp.answer(bytes, reply)) deliver(std::move(reply), amp.replyDelayMs);
}

std::span<const uint8_t> FakePorts::nextMessage() {
    current_.clear();
    if (!input_.empty() && input_.front().at <= clock_.now()) {
        current_ = std::move(input_.front().bytes);
        input_.pop_front();
    }
    return {current_.data(), current_.size()};
}

}  // namespace halvard::test
