#pragma once
// Moving an IR into one of the amplifier's six user slots. The IR travels as its IR WAV image
// (ir/ir_image.hpp) in 256-byte pieces, one 520-byte data message each, every one acknowledged
// before the next leaves; a 73-byte store message then names the slot, the image size and the IR
// name, and is acknowledged the same way (reply 0x08 answers both).
//
// Worker thread only. linkState is Busy when these are called (the command set it); after a stored
// IR it stays Busy with progress 100 until the amplifier's change notice brings the next full read.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "device/link/link_context.hpp"
#include "device/protocol/chunked_transfer.hpp"

namespace halvard {

// The image size travels as 16 bits, so a larger image cannot be stored (a factory image is 39980).
inline constexpr size_t kIrImageMaxBytes = 0xFFFF;
inline constexpr int kAfterIrStoreAckPauseMs = kAfterStoreAckPauseMs;

enum class IrTransferResult {
    Stored,     // every chunk and the store were acknowledged
    Failed,     // an acknowledgement did not come: linkState Error, one more failure, nothing more sent
    Abandoned,  // a stop was requested: returned at once, nothing changed
    NotSent,    // output port closed, slot outside 0..5, or an empty or oversized image
};

// progress after a chunk: trunc(100 - remaining / total * 100), the quotient and its product in
// single precision and the difference in double precision.
int32_t irTransferProgress(size_t remaining, size_t total);

// Sends image into user slot 0..5 under name (at most 64 bytes of 7-bit text).
IrTransferResult sendIrImage(LinkContext& ctx, std::span<const uint8_t> image, int slot,
                             std::string_view name);

// The ImportIr handler: path is the dialog's answer (empty when cancelled). A file that cannot be
// imported returns linkState to Connected and sends nothing; a closed output port leaves it Busy.
IrTransferResult importWavIntoSlot(LinkContext& ctx, const std::string& path, int slot);

// The UploadFactoryIr handler: factory entry factoryIrIndex into user slot irPanelSlot - 1. With no
// IR panel open (no target slot) or no factory image, linkState returns to Connected and nothing is
// sent; a closed output port leaves it Busy.
IrTransferResult storeFactoryIrInSlot(LinkContext& ctx);

}  // namespace halvard
