#include "device/protocol/chunked_transfer.hpp"

#include <algorithm>
#include <array>

#include "device/protocol/sysex.hpp"

namespace halvard {
namespace {

// Clears the reply code (so an acknowledgement decoded earlier does not count), sends, and waits
// for the acknowledgement. onSent runs between the send and the wait.
template <class OnSent>
ReplyResult sendAcknowledged(LinkContext& ctx, std::span<const uint8_t> message, OnSent&& onSent) {
    ctx.reply = 0;
    sendRequest(ctx, message);
    onSent();
    const ReplyResult acked = awaitReply(ctx, kCodeChunkAck);
    if (acked == ReplyResult::Timeout) reportTimeout(ctx);
    return acked;
}

}  // namespace

ReplyResult sendChunkedTransfer(LinkContext& ctx, const ChunkedTransfer& transfer) {
    if (!outputOpen(ctx)) return ReplyResult::NotSent;
    if (ctx.quit) return ReplyResult::Abandoned;
    DeviceMirror& ui = *ctx.ui;
    const size_t total = transfer.image.size();

    // One buffer for every chunk of the transfer: nothing is allocated per chunk.
    std::array<uint8_t, kMaxRequestBytes> message;
    size_t remaining = total;
    for (size_t offset = 0; remaining > 0; offset += kChunkDataBytes) {
        const std::span<const uint8_t> data =
            transfer.image.subspan(offset, std::min(kChunkDataBytes, remaining));
        const size_t length = transfer.buildChunk(message, static_cast<uint32_t>(offset), data);
        remaining -= data.size();
        const ReplyResult acked =
            sendAcknowledged(ctx, std::span<const uint8_t>(message.data(), length), [&] {
                // Nothing after the last chunk: 100 waits for the store's acknowledgement.
                if (remaining == 0) return;
                ui.progress = transfer.progress(remaining, total);
                ctx.repaint();
            });
        if (acked != ReplyResult::Ok) return acked;
    }

    const ReplyResult stored = sendAcknowledged(ctx, transfer.store, [] {});
    if (stored != ReplyResult::Ok) return stored;
    ui.progress = 100;
    ctx.repaint();
    pauseFor(ctx, kAfterStoreAckPauseMs);
    ctx.failures = 0;
    return ReplyResult::Ok;
}

}  // namespace halvard
