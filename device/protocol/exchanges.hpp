#pragma once
// Taking replies off the input queue, the bounded wait for an expected reply, and the small
// request/reply exchanges the worker is built from. Worker thread only.

#include <cstdint>
#include <span>

#include "device/link/link_context.hpp"
#include "device/protocol/sysex.hpp"

namespace halvard {

inline constexpr int kPollIntervalMs = 5;  // one worker pass; one step of every reply wait
inline constexpr int kAckBudgetMs = 1000;  // budget of one reply wait

enum class ReplyResult {
    Ok,         // the expected reply was decoded
    Timeout,    // it did not come within kAckBudgetMs
    Abandoned,  // LinkContext::quit was set during the wait
    NotSent,    // the output port was closed: nothing was sent (exchanges only)
};

Clock& clockOf(LinkContext& ctx);  // the context's clock, or the steady clock
bool outputOpen(const LinkContext& ctx);

// Sleeps ms in 5 ms steps; returns early (false) as soon as quit is set.
bool pauseFor(LinkContext& ctx, int ms);

// Applies a decoded reply to the LinkContext (reply code, resync) and the mirror.
void applyReply(LinkContext& ctx, const Reply& reply);

// Takes at most one message off the input queue and applies what it decodes to; true when there
// was one.
bool pollReply(LinkContext& ctx);

// Hands a complete message to the output port; sends nothing once LinkContext::quit is set. The
// exchanges below send only while the port is open.
void sendRequest(LinkContext& ctx, std::span<const uint8_t> message);

// Waits kAckBudgetMs of the clock's time, in 5 ms steps of one pollReply each (the last step cut to
// the budget's end), for LinkContext::reply to become
// code (and, with subject >= 0, the reply to be for that program or slot: a late reply to an earlier
// request is no answer). Replies of other codes decoded meanwhile take full effect. Never returns
// NotSent.
ReplyResult awaitReply(LinkContext& ctx, int32_t code, int32_t subject = -1);

// What every awaited step does on Timeout: linkState Error, repaint, one more failure.
void reportTimeout(LinkContext& ctx);

// The exchanges. Each does nothing (NotSent) while the output port is closed.
ReplyResult readFirmwareVersion(LinkContext& ctx);
// Also reports its own outcome: Ok sets failures to 0, Timeout is reported as above.
ReplyResult readProgramSettings(LinkContext& ctx, int32_t program);
void writeProgramSettings(LinkContext& ctx, int32_t program);  // no reply; 5 ms pause after sending
ReplyResult readSlotName(LinkContext& ctx, int32_t slot);
void storePreset(LinkContext& ctx);     // no reply; 5 ms pause after sending
void requestRestart(LinkContext& ctx);  // no reply; 5 ms pause after sending

}  // namespace halvard
