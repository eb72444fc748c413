#include "device/ir_transfer.hpp"

#include <algorithm>
#include <array>

#include "device/exchanges.hpp"
#include "device/sysex.hpp"
#include "ir/factory_catalogue.hpp"
#include "ir/ir_image.hpp"
#include "ir/wav_import.hpp"

namespace halvard {
namespace {

static_assert(kIrImageMaxBytes <= 0xFFFF, "the store message carries the size as four nibbles");

// Clears the reply code (so an acknowledgement decoded earlier does not count) and sends.
void sendExpectingAck(LinkContext& ctx, std::span<const uint8_t> message) {
    ctx.reply = 0;
    sendRequest(ctx, message);
}

// Waits for the amplifier's acknowledgement; a time-out is reported as every awaited step reports it.
IrTransferResult awaitAck(LinkContext& ctx) {
    switch (awaitReply(ctx, kCodeChunkAck)) {
        case ReplyResult::Ok:
            return IrTransferResult::Stored;
        case ReplyResult::Timeout:
            reportTimeout(ctx);
            return IrTransferResult::Failed;
        default:
            return IrTransferResult::Abandoned;
    }
}

void returnToConnected(LinkContext& ctx) {
    ctx.ui->linkState = LinkState::Connected;
}

}  // namespace

int32_t irTransferProgress(size_t remaining, size_t total) {
    const float remainingPercent = static_cast<float>(remaining) / static_cast<float>(total) * 100.0f;
    return static_cast<int32_t>(100.0 - static_cast<double>(remainingPercent));
}

IrTransferResult sendIrImage(LinkContext& ctx, std::span<const uint8_t> image, int slot,
                             std::string_view name) {
    if (!outputOpen(ctx) || slot < 0 || slot >= kUserIrSlotCount || image.empty() ||
        image.size() > kIrImageMaxBytes)
        return IrTransferResult::NotSent;
    if (ctx.quit) return IrTransferResult::Abandoned;
    DeviceMirror& ui = *ctx.ui;
    const size_t total = image.size();

    // One buffer for every message of the transfer: nothing is allocated per chunk.
    std::array<uint8_t, std::max(kIrChunkMessageBytes, kStoreMessageBytes)> message;
    size_t remaining = total;
    for (size_t offset = 0; remaining > 0; offset += kChunkDataBytes) {
        const std::span<const uint8_t> data = image.subspan(offset, std::min(kChunkDataBytes, remaining));
        const size_t length = buildIrChunk(message, static_cast<uint32_t>(offset), data);
        sendExpectingAck(ctx, std::span<const uint8_t>(message.data(), length));
        remaining -= data.size();
        // Nothing after the last chunk: 100 waits for the store's acknowledgement.
        if (remaining > 0) {
            ui.progress = irTransferProgress(remaining, total);
            ctx.repaint();
        }
        if (const IrTransferResult r = awaitAck(ctx); r != IrTransferResult::Stored) return r;
    }

    const size_t length = buildStore(message, static_cast<uint8_t>(slot), static_cast<uint16_t>(total),
                                     name.substr(0, kStoreNameBytes));
    sendExpectingAck(ctx, std::span<const uint8_t>(message.data(), length));
    if (const IrTransferResult r = awaitAck(ctx); r != IrTransferResult::Stored) return r;

    ui.progress = 100;
    ctx.repaint();
    pauseFor(ctx, kAfterIrStoreAckPauseMs);
    ctx.failures = 0;
    return IrTransferResult::Stored;
}

IrTransferResult importWavIntoSlot(LinkContext& ctx, const std::string& path, int slot) {
    const IrImport ir = prepareIrFromWav(path);  // an empty path (cancelled dialog) is refused too
    if (!ir.ok()) {
        returnToConnected(ctx);
        return IrTransferResult::NotSent;
    }
    if (!outputOpen(ctx)) return IrTransferResult::NotSent;  // the link supervision settles the state
    return sendIrImage(ctx, ir.image, slot, irNameFromFileName(path).text());
}

IrTransferResult storeFactoryIrInSlot(LinkContext& ctx) {
    DeviceMirror& ui = *ctx.ui;
    // The panel's buttons stay live after it was closed, so the command may come with no IR panel
    // open: there is then no target slot, and no store may go out with one outside 0..5.
    const int slot = ui.irPanelSlot - 1;
    const int index = ui.factoryIrIndex;
    if (slot < 0 || slot >= kUserIrSlotCount || index < 0 || index >= kFactoryIrCount) {
        returnToConnected(ctx);
        return IrTransferResult::NotSent;
    }
    const FactoryIrEntry& entry = factoryIrCatalogue()[static_cast<size_t>(index)];
    const std::optional<IrWavImage> image = buildIrWavImage(*entry.image);
    if (!image) {
        returnToConnected(ctx);
        return IrTransferResult::NotSent;
    }
    if (!outputOpen(ctx)) return IrTransferResult::NotSent;
    return sendIrImage(ctx, *image, slot, irNameFromLabel(entry.name).text());
}

}  // namespace halvard
