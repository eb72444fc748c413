#pragma once
// The firmware update step of the worker's sync: when the fetched image is newer than the
// amplifier's firmware, the image goes over in 512 acknowledged chunks, is stored, and the
// amplifier is asked to restart. Worker thread only.

#include <cstddef>
#include <cstdint>

#include "device/firmware/firmware_download.hpp"
#include "device/link/link_context.hpp"
#include "device/protocol/chunked_transfer.hpp"
#include "device/protocol/exchanges.hpp"

namespace halvard {

inline constexpr size_t kFirmwareChunkBytes = 256;  // image bytes per data chunk: 512 chunks
inline constexpr int kAfterUpdatePauseMs = 100;     // end of transfer -> restart request
inline constexpr int kRestartSettleMs = 2000;       // after the restart request that follows a success
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

// The update decision, for an image that arrived whole: availableFirmware (0 again after every
// mirror reset) is newer than the amplifier's firmwareVersion as unsigned 16-bit numbers, and so is
// the version in the image's own bytes.
bool firmwareUpdateDue(const DeviceMirror& ui, const FirmwareImage& image);

// The update step of the sync, run when the fetched image is newer than the amplifier's firmware:
// sendFirmware, then the restart request. After a failed transfer failures is set to 3 (recovery
// on the next pass), a 100 ms pause and the restart request; after a successful one (or none, with
// the output closed) a 100 ms pause, the restart request, 2 s, and then the ports are closed and
// the mirror reset so that the next pass reads the restarted amplifier. A stop requested meanwhile
// ends it at once: nothing more is sent. The pass that ran it ends without dispatching a command.
void runFirmwareUpdate(LinkContext& ctx, const FirmwareImage& image);

}  // namespace halvard
