#include "device/protocol/exchanges.hpp"

#include <algorithm>
#include <array>
#include <chrono>

#include "device/link/clock.hpp"
#include "device/link/midi_ports.hpp"
#include "device/protocol/program_records.hpp"

namespace halvard {
namespace {

constexpr std::chrono::milliseconds kStep{kPollIntervalMs};

struct ApplyReply {
    LinkContext& ctx;
    DeviceMirror& ui;

    void operator()(const IgnoredReply&) const {}

    void operator()(const SettingsReply& r) const {
        const ProgramSettings held = ui.record(r.program);
        const std::array<int32_t, 5> heldGlobals{ui.midiChannel, ui.bypassLock, ui.reverbTails, ui.mono,
                                                 ui.irSlot};
        copyReplyGlobals(r, ui);
        if (r.hasGlobals) ctx.globalsRead = true;
        ctx.setAmplifierRecord(r.program, recordOfSettings(r.settings));
        ProgramSettings s = r.settings;
        if (ui.bypassLock != 0) s.bypass = 0;  // the lock holds every program's bypass off
        ui.setRecord(r.program, s);
        // A program the mirror held reads otherwise: the amplifier was changed, not by the editor.
        const std::array<int32_t, 5> globals{ui.midiChannel, ui.bypassLock, ui.reverbTails, ui.mono,
                                             ui.irSlot};
        const bool ownEdits =
            r.program == ctx.editsWrittenBack.program && held == ctx.editsWrittenBack.edited;
        if (held.loaded != 0 && !ownEdits && (held != s || heldGlobals != globals))
            ui.outsideChanges.fetch_add(1);
    }

    void operator()(const ChangeNotice& r) const {
        if (r.program >= 0) ui.program = r.program;
        ctx.resync = true;
    }

    void operator()(const SlotNameReply& r) const {
        if (r.hasName) ui.setSlotName(r.slot, r.name);
    }

    void operator()(const ChunkAck&) const {}

    void operator()(const VersionReply& r) const { ui.firmwareVersion = r.version; }
};

// Sends a request built by build into a local buffer.
template <class Build>
bool sendBuilt(LinkContext& ctx, Build&& build) {
    if (!outputOpen(ctx)) return false;
    std::array<uint8_t, kMaxRequestBytes> buffer;
    const size_t length = build(std::span<uint8_t>(buffer));
    sendRequest(ctx, std::span<const uint8_t>(buffer.data(), length));
    return true;
}

// Sends a request whose answer is awaited: the reply code is cleared just before it leaves, so a
// reply decoded earlier does not count. Once a stop is requested no new exchange starts.
template <class Build>
ReplyResult exchange(LinkContext& ctx, int32_t code, Build&& build, int32_t subject = -1) {
    if (!outputOpen(ctx)) return ReplyResult::NotSent;
    if (ctx.quit) return ReplyResult::Abandoned;
    ctx.reply = 0;
    sendBuilt(ctx, build);
    return awaitReply(ctx, code, subject);
}

// Sends a request that is not answered, then gives the amplifier one poll interval.
template <class Build>
void notify(LinkContext& ctx, Build&& build) {
    if (sendBuilt(ctx, build)) pauseFor(ctx, kPollIntervalMs);
}

}  // namespace

Clock& clockOf(LinkContext& ctx) {
    return ctx.clock ? *ctx.clock : steadyClock();
}

bool outputOpen(const LinkContext& ctx) {
    return ctx.ports && ctx.ports->isPortOpen(PortDirection::Output);
}

bool pauseFor(LinkContext& ctx, int ms) {
    Clock& clock = clockOf(ctx);
    const auto deadline = clock.now() + std::chrono::milliseconds(ms);
    while (!ctx.quit) {
        const auto now = clock.now();
        if (now >= deadline) return true;
        clock.sleepUntil(std::min(now + kStep, deadline));
    }
    return false;
}

void applyReply(LinkContext& ctx, const Reply& reply) {
    const int32_t code = replyCode(reply);
    if (code == 0 || ctx.ui == nullptr) return;
    std::visit(ApplyReply{ctx, *ctx.ui}, reply);
    ctx.reply = code;
    const auto* settings = std::get_if<SettingsReply>(&reply);
    const auto* slotName = std::get_if<SlotNameReply>(&reply);
    ctx.replyFor = settings ? settings->program : slotName ? slotName->slot : -1;
}

bool pollReply(LinkContext& ctx) {
    if (!ctx.ports) return false;
    const std::span<const uint8_t> message = ctx.ports->nextMessage();
    if (message.empty()) return false;
    applyReply(ctx, decodeReply(message));
    return true;
}

void sendRequest(LinkContext& ctx, std::span<const uint8_t> message) {
    // Once a stop is requested nothing more goes out, whatever step was under way.
    if (ctx.quit || ctx.ports == nullptr || message.empty()) return;
    ctx.ports->sendMessage(message);
}

ReplyResult awaitReply(LinkContext& ctx, int32_t code, int32_t subject) {
    const auto answered = [&] { return ctx.reply == code && (subject < 0 || ctx.replyFor == subject); };
    Clock& clock = clockOf(ctx);
    // The budget is steady-clock time, not a count of steps: steps that run late take no more
    // time than the budget, and none ends before its deadline, so neither does the budget.
    const Clock::TimePoint deadline = clock.now() + std::chrono::milliseconds(kAckBudgetMs);
    for (;;) {
        if (answered()) return ReplyResult::Ok;
        clock.sleepUntil(std::min(clock.now() + kStep, deadline));
        pollReply(ctx);
        if (ctx.quit) return ReplyResult::Abandoned;
        // A reply decoded in the last step arrived within the budget and counts.
        if (clock.now() >= deadline) return answered() ? ReplyResult::Ok : ReplyResult::Timeout;
    }
}

void reportTimeout(LinkContext& ctx) {
    ctx.ui->linkState = LinkState::Error;
    ctx.repaint();
    ++ctx.failures;
}

ReplyResult readFirmwareVersion(LinkContext& ctx) {
    return exchange(ctx, kCodeVersion, [](std::span<uint8_t> out) { return buildVersionRead(out); });
}

ReplyResult readProgramSettings(LinkContext& ctx, int32_t program) {
    const ReplyResult result = exchange(
        ctx, kCodeSettings, [&](std::span<uint8_t> out) { return buildSettingsRead(out, program); }, program);
    if (result == ReplyResult::Ok) ctx.failures = 0;
    if (result == ReplyResult::Timeout) reportTimeout(ctx);
    return result;
}

void writeProgramSettings(LinkContext& ctx, int32_t program) {
    const DeviceMirror& ui = *ctx.ui;
    const SettingsGlobals globals{ui.midiChannel, ui.bypassLock, ui.reverbTails, ui.mono, ui.irSlot};
    ProgramSettings settings = ui.record(program);
    // Only a program read from the amplifier is written: a command posted before an unplug, or
    // before a change notice moved the program, would otherwise send an empty record.
    if (settings.loaded == 0) return;
    // The lock holds every program's bypass off, also one the panel read before the lock was set.
    if (globals.bypassLock != 0) settings.bypass = 0;
    notify(ctx, [&](std::span<uint8_t> out) { return buildSettingsWrite(out, program, globals, settings); });
}

ReplyResult readSlotName(LinkContext& ctx, int32_t slot) {
    return exchange(
        ctx, kCodeSlotName, [&](std::span<uint8_t> out) { return buildSlotNameRead(out, slot); }, slot);
}

void storePreset(LinkContext& ctx) {
    notify(ctx, [](std::span<uint8_t> out) { return buildPresetStore(out); });
}

void requestRestart(LinkContext& ctx) {
    notify(ctx, [](std::span<uint8_t> out) { return buildRestartRequest(out); });
}

}  // namespace halvard
