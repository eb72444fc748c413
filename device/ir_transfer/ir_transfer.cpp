#include "device/ir_transfer/ir_transfer.hpp"

#include <array>
#include <cctype>
#include <string>

#include "device/protocol/chunked_transfer.hpp"
#include "device/protocol/sysex.hpp"
#include "ir/factory_catalogue.hpp"
#include "ir/ir_image.hpp"
#include "ir/wav_import.hpp"

namespace halvard {
namespace {

static_assert(kIrImageMaxBytes <= 0xFFFF, "the store message carries the size as four nibbles");

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
    std::array<uint8_t, kStoreMessageBytes> store;
    const size_t storeLength =
        buildStore(store, static_cast<uint8_t>(slot), static_cast<uint16_t>(image.size()),
                   name.substr(0, kStoreNameBytes));
    const ChunkedTransfer transfer{image, &buildIrChunk, std::span<const uint8_t>(store.data(), storeLength),
                                   &irTransferProgress};
    switch (sendChunkedTransfer(ctx, transfer)) {
        case ReplyResult::Ok:
            return IrTransferResult::Stored;
        case ReplyResult::Timeout:
            return IrTransferResult::Failed;
        case ReplyResult::Abandoned:
            return IrTransferResult::Abandoned;
        case ReplyResult::NotSent:
            break;
    }
    return IrTransferResult::NotSent;
}

IrTransferResult importWavIntoSlot(LinkContext& ctx, const std::string& path, int slot) {
    const IrImport ir = prepareIrFromWav(path);  // an empty path (cancelled dialog) is refused too
    if (!ir.ok()) {
        // A file refused says why on the status line (upper case, as the panel writes); a cancelled
        // dialog says nothing.
        if (!path.empty()) {
            std::string reason = wavImportReason(ir);
            for (char& c : reason) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            ctx.ui->setStatusLine("IR NOT IMPORTED: " + reason);
        }
        returnToConnected(ctx);
        return IrTransferResult::NotSent;
    }
    ctx.ui->setStatusLine("");
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
