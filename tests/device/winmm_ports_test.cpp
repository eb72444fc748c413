// The WinMM port back end (Windows only) on a machine without MIDI devices, as under Wine: no
// ports, nothing opened, nothing printed, and the worker shows NO DEVICE.
#include <gtest/gtest.h>
#include <windows.h>
// mmsystem.h needs the types of windows.h first.
#include <mmsystem.h>

#include <chrono>
#include <thread>

#include "device/link/platform_midi_ports.hpp"
#include "device/worker/worker.hpp"

namespace halvard {
namespace {

TEST(WinMmPorts, WithoutDevicesTheWorkerShowsNoDevice) {
    if (midiInGetNumDevs() > 0 || midiOutGetNumDevs() > 0) GTEST_SKIP() << "this machine has MIDI devices";
    testing::internal::CaptureStderr();
    {
        const std::unique_ptr<MidiPorts> ports = makePlatformMidiPorts();
        for (PortDirection d : {PortDirection::Input, PortDirection::Output}) {
            EXPECT_EQ(ports->portCount(d), 0);
            EXPECT_EQ(ports->portName(d, 0), "");
            ports->openPort(d, 0, "midi port");
            EXPECT_FALSE(ports->isPortOpen(d));
        }
        const uint8_t message[] = {0xF0, 0x7E, 0xF7};
        ports->sendMessage(message);
        EXPECT_TRUE(ports->nextMessage().empty());
    }

    // The worker on the real ports, as the program starts it.
    DeviceMirror mirror;
    mirror.linkState = LinkState::Busy;
    LinkContext ctx;
    ctx.ui = &mirror;
    int repaints = 0;
    ctx.requestRepaint = [&] { ++repaints; };
    startDeviceWorker(ctx);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stopDeviceWorker(ctx);
    EXPECT_EQ(mirror.linkState.load(), LinkState::NoDevice);
    EXPECT_EQ(repaints, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace halvard
