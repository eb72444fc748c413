#pragma once
// The acknowledged transfer that carries an image (an IR or the firmware) to the amplifier: the
// image in data chunks of 256 bytes, each acknowledged (reply 0x08) before the next leaves, then one
// store message, acknowledged the same way. Worker thread only.

#include <cstddef>
#include <cstdint>
#include <span>

#include "device/link/link_context.hpp"
#include "device/protocol/exchanges.hpp"

namespace halvard {

inline constexpr int kAfterStoreAckPauseMs = 100;  // after the store's acknowledgement

struct ChunkedTransfer {
    std::span<const uint8_t> image;
    // Builds the data message that carries `data`, the image bytes from `offset` on.
    size_t (*buildChunk)(std::span<uint8_t> out, uint32_t offset, std::span<const uint8_t> data);
    // The store message that ends the transfer, built beforehand.
    std::span<const uint8_t> store;
    // The percentage shown after a chunk, with `remaining` of the image's `total` bytes not yet sent.
    int32_t (*progress)(size_t remaining, size_t total);
};

// Sends transfer.image chunk by chunk, then the store. After every chunk but the last, progress
// takes the transfer's value (and a repaint is requested) while the acknowledgement is awaited; it
// becomes 100 once the store is acknowledged, followed by a pause of kAfterStoreAckPauseMs, and
// failures returns to 0. A missing acknowledgement is reported as every awaited step reports it
// (Error, one more failure) and ends the transfer; a stop request ends it with nothing changed.
// NotSent when the output port is closed. linkState stays as it was (Busy) on success.
ReplyResult sendChunkedTransfer(LinkContext& ctx, const ChunkedTransfer& transfer);

}  // namespace halvard
