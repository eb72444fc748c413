// The real port layer on a real JACK server (./scripts/test starts a private one): the test makes
// its own "VDR" ports as a stand-in amplifier.

#include <RtMidi.h>
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "device/link/platform_midi_ports.hpp"
#include "device/worker/worker.hpp"
#include "fake_device.hpp"

namespace halvard {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

bool jackServerRunning() {
    jack_client_t* probe = jack_client_open("vdr smoke probe", JackNoStartServer, nullptr);
    if (probe == nullptr) return false;
    jack_client_close(probe);
    return true;
}

// A stand-in amplifier: one JACK client pair whose ports are named "VDR ...".
struct JackAmp {
    std::unique_ptr<RtMidiOut> out = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "smoke amp out");
    std::unique_ptr<RtMidiIn> in = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "smoke amp in", 100);

    JackAmp() {
        out->openVirtualPort("VDR to editor");
        in->ignoreTypes(false, true, true);
        in->openVirtualPort("VDR from editor");
    }
    // RtMidi 5.0.0 frees a JACK output's buffer before its process callback has stopped; with the
    // ports closed a few cycles before the objects go, no callback is left to read it.
    ~JackAmp() {
        in->closePort();
        out->closePort();
        std::this_thread::sleep_for(20ms);
    }
};

class RtMidiPortsOnJack : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(jackServerRunning()) << "no JACK server (CTest starts one for the e2e tests)";
    }
};

TEST_F(RtMidiPortsOnJack, FindsOpensExchangesAndLosesTheAmplifier) {
    auto amp = std::make_unique<JackAmp>();
    auto ports = makePlatformMidiPorts({.useAlsa = false});
    DeviceMirror mirror;
    LinkContext ctx;
    ctx.ui = &mirror;
    ctx.ports = ports.get();

    ASSERT_TRUE(test::eventually([&] { return openDevicePorts(ctx); }));
    const Bytes request = {0xF0, 0x00, 0x0B, 0xF7};
    ports->sendMessage(request);
    std::vector<unsigned char> got;
    ASSERT_TRUE(test::eventually([&] {
        amp->in->getMessage(&got);
        return !got.empty();
    }));
    EXPECT_EQ(Bytes(got.begin(), got.end()), request);

    const Bytes reply = {0xF0, 0x00, 0x0B, 0x01, 0x07, 0xF7};
    amp->out->sendMessage(reply.data(), reply.size());
    Bytes received;
    ASSERT_TRUE(test::eventually([&] {
        const auto m = ports->nextMessage();
        received.assign(m.begin(), m.end());
        return !received.empty();
    }));
    EXPECT_EQ(received, reply);

    amp.reset();  // unplugged
    EXPECT_TRUE(test::eventually([&] { return !openDevicePorts(ctx); }));
    EXPECT_FALSE(ports->isPortOpen(PortDirection::Input));
    EXPECT_FALSE(ports->isPortOpen(PortDirection::Output));
}

TEST_F(RtMidiPortsOnJack, OpensTheAmplifierWhenOurOwnNewPortIsListedBeforeIt) {
    // JACK lists ports by slot and gives a new port the lowest free one. A port that went away
    // before the amplifier's leaves a slot that our own input port takes when it opens, so in the
    // list the output open sees, our input port sits before the amplifier's input.
    auto spare = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "spare client", 100);
    spare->openVirtualPort("spare port");
    auto amp = std::make_unique<JackAmp>();
    spare->closePort();

    auto ports = makePlatformMidiPorts({.useAlsa = false});
    DeviceMirror mirror;
    LinkContext ctx;
    ctx.ui = &mirror;
    ctx.ports = ports.get();
    bool opened = false;
    for (int pass = 0; pass < 200 && !opened; ++pass) opened = openDevicePorts(ctx);
    EXPECT_TRUE(opened);
    ports->closePort(PortDirection::Input);
    ports->closePort(PortDirection::Output);
}

TEST_F(RtMidiPortsOnJack, ListsAgainWhenAPortIsRenamed) {
    // The port lists are kept between passes; a port that takes the amplifier's name must still be
    // found. A plain JACK client, as RtMidi cannot rename a port.
    auto ports = makePlatformMidiPorts({.useAlsa = false});
    DeviceMirror mirror;
    LinkContext ctx;
    ctx.ui = &mirror;
    ctx.ports = ports.get();
    EXPECT_FALSE(openDevicePorts(ctx));

    jack_client_t* client = jack_client_open("rename test", JackNoStartServer, nullptr);
    ASSERT_NE(client, nullptr);
    jack_port_register(client, "VDR from editor", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_port_t* out = jack_port_register(client, "plain", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    // Like any device's client it takes part in every cycle.
    jack_set_process_callback(
        client, [](jack_nframes_t, void*) { return 0; }, nullptr);
    ASSERT_EQ(jack_activate(client), 0);
    for (int pass = 0; pass < 50; ++pass) EXPECT_FALSE(openDevicePorts(ctx)) << "no amplifier output yet";

    ASSERT_EQ(jack_port_rename(client, out, "VDR to editor"), 0);
    EXPECT_TRUE(test::eventually([&] { return openDevicePorts(ctx); }));
    ports->closePort(PortDirection::Input);
    ports->closePort(PortDirection::Output);
    jack_client_close(client);
}

TEST_F(RtMidiPortsOnJack, WorkerConnectsToAnAmplifierThatAnswers) {
    auto amp = std::make_unique<JackAmp>();
    std::atomic<bool> stop{false};
    std::thread responder([&] {
        test::FakeAmp answers;
        std::vector<unsigned char> m;
        while (!stop) {
            amp->in->getMessage(&m);
            Bytes reply;
            if (!m.empty() && answers.answer(Bytes(m.begin(), m.end()), reply))
                amp->out->sendMessage(reply.data(), reply.size());
            if (m.empty()) std::this_thread::sleep_for(1ms);
        }
    });

    DeviceMirror mirror;
    LinkContext ctx;
    ctx.ui = &mirror;
    startDeviceWorker(ctx);  // the worker makes its own RtMidi ports
    const bool connected = test::eventually([&] { return mirror.linkState == LinkState::Connected; });
    stopDeviceWorker(ctx);
    stop = true;
    responder.join();

    ASSERT_TRUE(connected);
    EXPECT_EQ(mirror.firmwareVersion, 0x0107);
    EXPECT_EQ(mirror.slotName(0).view(), "CLEAN");
    EXPECT_EQ(ctx.ports, nullptr) << "the worker destroys the ports it made";
}

}  // namespace
}  // namespace halvard
