#include "device/firmware/firmware_update.hpp"

#include <array>
#include <span>

#include "device/link/midi_ports.hpp"
#include "device/protocol/sysex.hpp"

namespace halvard {

static_assert(kFirmwareChunkBytes == kChunkDataBytes);
static_assert(kFirmwareImageBytes % kFirmwareChunkBytes == 0, "the transfer sends whole chunks only");

int32_t firmwareTransferProgress(size_t remaining) {
    // remaining * 2^-17 is exact in single precision; the * 100 rounds once, the difference is
    // taken in double, and the conversion truncates toward zero.
    const float remainingPercent = static_cast<float>(remaining) * (1.0f / 131072.0f) * 100.0f;
    return static_cast<int32_t>(100.0 - static_cast<double>(remainingPercent));
}

ReplyResult sendFirmware(LinkContext& ctx, const FirmwareImage& image) {
    std::array<uint8_t, kStoreMessageBytes> store;
    const size_t storeLength = buildFirmwareStore(store);
    const ChunkedTransfer transfer{
        image, &buildFirmwareChunk, std::span<const uint8_t>(store.data(), storeLength),
        [](size_t remaining, size_t) { return firmwareTransferProgress(remaining); }};
    return sendChunkedTransfer(ctx, transfer);
}

bool firmwareUpdateDue(const DeviceMirror& ui, const FirmwareImage& image) {
    const uint16_t amplifier = ui.firmwareVersion;
    const uint16_t available = ui.availableFirmware;
    return available > amplifier && firmwareImageVersion(image) > amplifier;
}

void runFirmwareUpdate(LinkContext& ctx, const FirmwareImage& image) {
    // A stop requested during the transfer or a pause ends the update there: no restart request.
    if (sendFirmware(ctx, image) == ReplyResult::Abandoned) return;
    const bool failed = ctx.ui->linkState == LinkState::Error;
    if (failed) ctx.failures = kFailuresAfterFailedUpdate;
    if (!pauseFor(ctx, kAfterUpdatePauseMs)) return;
    requestRestart(ctx);
    if (failed || !pauseFor(ctx, kRestartSettleMs)) return;
    // The amplifier restarts now. One that is back within the settle pause never goes missing from
    // the port list, yet the connections made to it before its restart are dead: close them and
    // start over as for a newly found amplifier, so that the next pass reopens the ports and reads
    // it again instead of showing the finished transfer for ever. The mirror reset forgets the
    // image, so an amplifier that comes back with its old firmware is not flashed again in this run;
    // the programs read before the update are forgotten too, until they are read again.
    ctx.ports->closePort(PortDirection::Output);
    ctx.ports->closePort(PortDirection::Input);
    ctx.forgetAmplifier();
    ctx.resync = true;
}

}  // namespace halvard
