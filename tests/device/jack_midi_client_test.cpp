// The editor's JACK client on a real JACK server (start one as scripts/lib/common.sh's start_jack
// does; without one these tests fail). A plain libjack client with "VDR" ports stands in for the
// amplifier and records what crosses the wire event by event.

#include "device/link/jack/jack_midi_client.hpp"

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "fake_device.hpp"
#include "jack_stand_in.hpp"

namespace halvard {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::StandInAmp;
using test::sysex;

bool jackServerRunning() {
    jack_client_t* probe = jack_client_open("jack client test probe", JackNoStartServer, nullptr);
    if (probe == nullptr) return false;
    jack_client_close(probe);
    return true;
}

class JackMidiClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(jackServerRunning()) << "no JACK server: start one (scripts/lib/common.sh's start_jack)";
        open("VDR");
    }

    void open(const std::string& amplifierTag) {
        client.reset();
        client = JackMidiClient::open(
            "jack client test", [] {}, amplifierTag);
        ASSERT_NE(client, nullptr);
        ASSERT_TRUE(client->reportsChanges());
    }

    void closeBoth() {
        client->closePort(PortDirection::Input);
        client->closePort(PortDirection::Output);
    }

    // No process cycle runs for the client over a stretch of several server cycles.
    bool outOfTheCycle() {
        const uint64_t before = client->cyclesRun();
        std::this_thread::sleep_for(30ms);
        return client->cyclesRun() == before;
    }

    // Our client's ports as any client lists them.
    int ownPortCount() {
        jack_client_t* probe = jack_client_open("port counter", JackNoStartServer, nullptr);
        const char** ports = jack_get_ports(probe, "^jack client test:", nullptr, 0);
        int n = 0;
        for (const char** p = ports; p != nullptr && *p != nullptr; ++p) ++n;
        jack_free(ports);
        jack_client_close(probe);
        return n;
    }

    bool openBoth(StandInAmp& amp) {
        return client->openPort(PortDirection::Input, amp.outputName(), "midi Input") &&
               client->openPort(PortDirection::Output, amp.inputName(), "midi Output");
    }

    std::unique_ptr<JackMidiClient> client;
};

TEST_F(JackMidiClientTest, OutOfTheServersCycleWhileNoAmplifierPortIsThere) {
    EXPECT_TRUE(outOfTheCycle()) << "watching";
    jack_client_t* other = jack_client_open("port maker", JackNoStartServer, nullptr);
    ASSERT_NE(other, nullptr);
    jack_port_t* port = jack_port_register(other, "plain", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    ASSERT_TRUE(test::eventually([&] { return client->takeChange(); })) << "a port registered is reported";
    EXPECT_TRUE(outOfTheCycle()) << "a port without the amplifier's tag changes nothing";

    // A port renamed to the amplifier's tag is reported, and the client joins the cycle ahead of
    // the open; once the port has gone and both ports are closed, it leaves again.
    ASSERT_EQ(jack_port_rename(other, port, "VDR to editor"), 0);
    ASSERT_TRUE(test::eventually([&] { return client->takeChange() && client->cyclesRun() > 0; }));
    jack_port_unregister(other, port);
    ASSERT_TRUE(test::eventually([&] {
        const auto names = client->ports(PortDirection::Input);
        return std::none_of(names.begin(), names.end(),
                            [](const std::string& n) { return n.ends_with("VDR to editor"); });
    }));
    closeBoth();
    EXPECT_TRUE(outOfTheCycle()) << "back to watching";
    // A port of a client outside the cycle, once connected, would stall a synchronous server.
    EXPECT_EQ(ownPortCount(), 0) << "watching, the client has no port anyone could connect to";
    jack_client_close(other);
}

TEST_F(JackMidiClientTest, SysexOfAnyLengthCrossesBothWaysWholeAndInOrder) {
    StandInAmp amp;
    ASSERT_TRUE(amp.running());
    ASSERT_TRUE(openBoth(amp));

    // Editor to amplifier: a short request, a firmware chunk, a SysEx longer than a cycle's buffer
    // takes (32 KiB), and a short one after it.
    const std::vector<Bytes> sent = {
        {0xF0, 0x00, 0x0B, 0xF7}, sysex(522), sysex(100000), {0xF0, 0x00, 0x0B, 0xF7}};
    for (const Bytes& m : sent) ASSERT_TRUE(client->send(m));
    std::vector<Bytes> joined;
    std::vector<StandInAmp::Event> events;
    ASSERT_TRUE(test::eventually([&] {
        events = amp.received();
        joined.clear();
        for (const auto& e : events) {
            if (joined.empty() || e.bytes.front() == 0xF0) joined.emplace_back();
            joined.back().insert(joined.back().end(), e.bytes.begin(), e.bytes.end());
        }
        return joined.size() == sent.size() && joined.back().size() == sent.back().size();
    }));
    EXPECT_EQ(joined, sent);
    EXPECT_GT(events.size(), sent.size()) << "the long SysEx went out in pieces";
    EXPECT_EQ(events[1].bytes.size(), 522u) << "a firmware chunk goes out whole";
    EXPECT_LT(events[2].cycle, events.back().cycle) << "the pieces took several cycles";
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(amp.received().size(), events.size()) << "what went out is not sent again in later cycles";

    // Amplifier to editor: the same long SysEx in pieces over four cycles, with clock and
    // active-sensing bytes between them, then a reply.
    const Bytes longOne = sysex(100000);
    const auto piece = [&](size_t k) {
        return Bytes(longOne.begin() + 25000 * k, longOne.begin() + 25000 * (k + 1));
    };
    amp.sendInOneCycle({piece(0), {0xF8}});
    amp.sendInOneCycle({piece(1), {0xFE}});
    amp.sendInOneCycle({piece(2), {0xF8}});
    amp.sendInOneCycle({piece(3), {0xF0, 0x00, 0x0B, 0x01, 0x07, 0xF7}});
    // And a reply whose F7 comes as an event of its own.
    amp.sendInOneCycle({{0xF0, 0x00, 0x0B, 0x01, 0x08}});
    amp.sendInOneCycle({{0xF7}});
    std::vector<Bytes> got;
    ASSERT_TRUE(test::eventually([&] {
        for (std::span<const uint8_t> m; !(m = client->nextMessage(kAmplifierInputFilter)).empty();)
            got.emplace_back(m.begin(), m.end());
        return got.size() >= 3;
    }));
    ASSERT_EQ(got.size(), 3u) << "clock and active sensing are dropped";
    EXPECT_EQ(got[0], longOne);
    EXPECT_EQ(got[1], (Bytes{0xF0, 0x00, 0x0B, 0x01, 0x07, 0xF7}));
    EXPECT_EQ(got[2], (Bytes{0xF0, 0x00, 0x0B, 0x01, 0x08, 0xF7}));
    closeBoth();
    EXPECT_TRUE(outOfTheCycle());
    EXPECT_EQ(ownPortCount(), 0) << "unlinked, the client's ports are gone, not only out of the cycle";
}

TEST_F(JackMidiClientTest, APortGoneBetweenTheListingAndTheOpenIsNotOpened) {
    open("");  // linked only by opening, so that the test knows when
    StandInAmp amp;
    ASSERT_TRUE(amp.running());
    const std::string gone = amp.outputName();
    amp.unregisterPorts();
    EXPECT_FALSE(client->openPort(PortDirection::Input, gone, "midi Input"));
    EXPECT_FALSE(client->isPortOpen(PortDirection::Input));
    closeBoth();
    EXPECT_TRUE(outOfTheCycle());
}

}  // namespace
}  // namespace halvard
