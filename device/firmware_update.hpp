#pragma once
// Keeping the amplifier's firmware current: during the sync the worker fetches the image from the
// download server (until the first whole download of the run), and when the image is newer than
// the amplifier's firmware it transfers it in 512 acknowledged chunks, stores it and asks the
// amplifier to restart. Worker thread only.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "device/exchanges.hpp"
#include "device/firmware_download.hpp"
#include "model/link_context.hpp"

namespace halvard {

inline constexpr size_t kFirmwareChunkBytes = 256;  // image bytes per data chunk: 512 chunks
inline constexpr int kAfterUpdatePauseMs = 100;     // end of transfer -> restart request
inline constexpr int kRestartSettleMs = 2000;       // after the restart request that follows a success
inline constexpr int kAfterStoreAckPauseMs = 100;   // after the store's acknowledgement
// A failed transfer leaves this many failures, so that the next pass recovers the link.
inline constexpr int32_t kFailuresAfterFailedUpdate = 3;

// The percentage shown after a chunk, with `remaining` image bytes not yet sent:
// 100 - remaining * 100 / 131072, computed as the panel always has (the product in single
// precision, the difference in double), truncated. Equals floor(100 * k / 512) after chunk k.
int32_t firmwareTransferProgress(size_t remaining);

// Sends image to the amplifier: each chunk waits for its acknowledgement, then the firmware store
// (target 0x10, size 0xFFFF, name "VDR.bin") waits for its own. Progress climbs 0..99 with the
// chunks and becomes 100 when the store is acknowledged. A missing acknowledgement is reported
// (Error, one more failure) and ends the transfer; quit ends it without a report. NotSent when the
// output port is closed.
ReplyResult sendFirmware(LinkContext& ctx, const FirmwareImage& image);

// What the worker keeps between syncs for the update, and the two steps of the sync it runs.
class FirmwareUpdater {
public:
    // Sync step: when the link has no error and no image has arrived whole in this run, downloads
    // one through LinkContext::firmware; on success publishes its version as availableFirmware.
    // Returns at once when no source is set.
    void fetchIfDue(LinkContext& ctx);

    // Sync step: when the image is newer than the amplifier's firmware (unsigned 16-bit), sends it
    // and asks the amplifier to restart. True when it ran: the sync ends there and the pass
    // dispatches no command. Only an image that arrived whole, and whose own version bytes are
    // newer than the amplifier's, is ever sent.
    bool updateIfNewer(LinkContext& ctx);

    // True until the first whole download of the run.
    bool fetchFirmware() const { return fetchFirmware_; }

private:
    bool fetchFirmware_ = true;
    std::unique_ptr<FirmwareImage> image_;  // one per run; 128 KiB stays off the worker's stack
};

}  // namespace halvard
