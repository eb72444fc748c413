// The editor's factory IR store and firmware transfer on Windows, through WinMM: under Wine, through
// the Wine MIDI driver and bridge (tools/wine_midi) to the amplifier emulator on the JACK server.
// The floors are those of ir_store_bench and firmware_bench on Linux: 158 and 513 acknowledgements,
// each awaited in 5 ms steps; the target is within 1.25 x. A Windows program; with a JACK server
// and halvard-amp-emulator running (Wine lists the driver's devices once, as the program starts):
//   scripts/wine-run --jack-midi build-windows/bench/link_transfer_win32_bench.exe
// Prints the figures; asserts nothing.
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "device/firmware/firmware_update.hpp"
#include "device/ir_transfer/ir_transfer.hpp"
#include "device/link/platform_midi_ports.hpp"
#include "device/protocol/exchanges.hpp"
#include "device/worker/worker.hpp"
#include "ir/factory_ir_image.hpp"

using namespace halvard;

namespace {

double sinceMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    const std::unique_ptr<MidiPorts> ports = makePlatformMidiPorts();
    DeviceMirror mirror;
    LinkContext link;
    link.ui = &mirror;
    link.ports = ports.get();
    const auto start = std::chrono::steady_clock::now();
    while (!openDevicePorts(link)) {
        if (sinceMs(start) > 10000) {
            std::printf(
                "link_transfer_win32_bench: no amplifier among the MIDI ports (run it with "
                "scripts/wine-run --jack-midi while halvard-amp-emulator runs)\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    constexpr double irFloorMs = (157 + 1) * kPollIntervalMs;
    std::printf("factory IR store: pacing floor 158 x %d ms = %.0f ms, target <= %.0f ms (1.25 x)\n",
                kPollIntervalMs, irFloorMs, 1.25 * irFloorMs);
    mirror.irPanelSlot = 3;
    for (int run = 0; run < 5; ++run) {
        mirror.factoryIrIndex = run % kFactoryIrCount;
        const auto begin = std::chrono::steady_clock::now();
        const IrTransferResult result = storeFactoryIrInSlot(link);
        // The fixed pause after the store's acknowledgement is not part of the pacing.
        const double transferMs = sinceMs(begin) - kAfterIrStoreAckPauseMs;
        std::printf("run %d: %s, %.0f ms to the store's acknowledgement = %.2f x the floor\n", run + 1,
                    result == IrTransferResult::Stored ? "stored" : "FAILED", transferMs,
                    transferMs / irFloorMs);
        while (!ports->nextMessage().empty()) {  // the change notice after each store
        }
    }

    auto image = std::make_unique<FirmwareImage>();
    for (size_t i = 0; i < image->size(); ++i) (*image)[i] = static_cast<uint8_t>(i * 7);
    constexpr double firmwareFloorMs = 513 * kPollIntervalMs;
    std::printf("firmware transfer: pacing floor 513 x %d ms = %.0f ms, target <= %.0f ms (1.25 x)\n",
                kPollIntervalMs, firmwareFloorMs, 1.25 * firmwareFloorMs);
    for (int run = 1; run <= 3; ++run) {
        const auto begin = std::chrono::steady_clock::now();
        const ReplyResult result = sendFirmware(link, *image);
        const double transferMs = sinceMs(begin) - kAfterStoreAckPauseMs;
        std::printf("run %d: %s, %.0f ms to the store's acknowledgement = %.2f x the floor\n", run,
                    result == ReplyResult::Ok ? "ok" : "FAILED", transferMs, transferMs / firmwareFloorMs);
    }
    ports->closePort(PortDirection::Input);
    ports->closePort(PortDirection::Output);
    return 0;
}
