// Storing a factory IR (157 data chunks and the store, 39980 bytes) into the amplifier emulator,
// which acknowledges at once, over the JACK server that JACK_DEFAULT_SERVER names: the whole
// UploadFactoryIr handler, image building included. The transfer is paced only by the
// acknowledgements, each awaited in 5 ms steps, so 158 x 5 ms is the floor; the target is within
// 1.25 x of it. Prints the figures; asserts nothing.

#include <chrono>
#include <cstdio>
#include <memory>

#include "device/ir_transfer/ir_transfer.hpp"
#include "device/protocol/exchanges.hpp"
#include "emulator_link.hpp"
#include "ir/factory_ir_image.hpp"

using namespace halvard;

int main() {
    bench::EmulatorLink rig;
    if (const int code = rig.open("ir_store_bench"); code >= 0) return code;
    DeviceMirror& mirror = rig.mirror;
    LinkContext& link = rig.link;
    MidiPorts* ports = rig.ports.get();

    constexpr int acknowledgements = 157 + 1;
    constexpr double floorMs = acknowledgements * kPollIntervalMs;
    std::printf("factory IR store: pacing floor %d x %d ms = %.0f ms, target <= %.0f ms (1.25 x)\n",
                acknowledgements, kPollIntervalMs, floorMs, 1.25 * floorMs);
    mirror.irPanelSlot = 3;
    for (int run = 0; run < 5; ++run) {
        mirror.factoryIrIndex = run % kFactoryIrCount;
        const auto start = std::chrono::steady_clock::now();
        const IrTransferResult result = storeFactoryIrInSlot(link);
        const double totalMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        // The fixed pause after the store's acknowledgement is not part of the pacing.
        const double transferMs = totalMs - kAfterIrStoreAckPauseMs;
        std::printf("run %d: %s, %.0f ms to the store's acknowledgement = %.2f x the floor\n", run + 1,
                    result == IrTransferResult::Stored ? "stored" : "FAILED", transferMs,
                    transferMs / floorMs);
        // The amplifier's change notice after each store: taken off the queue, not acted on.
        while (!ports->nextMessage().empty()) {
        }
    }
    return 0;
}
