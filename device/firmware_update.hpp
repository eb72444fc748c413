#pragma once
// The firmware update step of the worker's sync: runs when the fetched image is newer than the
// amplifier's firmware. Worker thread only.


#include "device/firmware_download.hpp"
#include "model/link_context.hpp"

namespace halvard {

inline constexpr int kAfterUpdatePauseMs = 100;  // between the end of a transfer and the restart request
inline constexpr int kRestartSettleMs = 2000;    // after the restart that follows a successful update

// Transfers image to the amplifier (firmware data chunks, the firmware store), then asks it to
// restart: after a failed transfer failures is set to 3 (recovery on the next pass), a 100 ms pause
// and the restart request; after a successful one a 100 ms pause, the restart request and 2 s.
// The pass that ran it ends without dispatching a command.
void runFirmwareUpdate(LinkContext& ctx, const FirmwareImage& image);

}  // namespace halvard
