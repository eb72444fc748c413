// The Wine MIDI bridge's JACK client on the test JACK server, against a stand-in amplifier: what a
// Windows program sends goes out whole however long, and what comes in cut into events reaches the
// driver as whole messages.
#include "jack_side.hpp"

#include <gtest/gtest.h>

#include "fake_device.hpp"
#include "jack_stand_in.hpp"

namespace halvard::winemidi {
namespace {

using test::Bytes;

TEST(BridgeJackSide, MessagesLongerThanACycleTakesAndSysexInPiecesCrossWhole) {
    test::StandInAmp amp;
    ASSERT_TRUE(amp.running()) << "no JACK server (the jack fixture)";
    JackSide side;
    std::string error;
    ASSERT_TRUE(side.open(error)) << error;

    const int out = side.openLink(amp.inputName(), false, error);
    ASSERT_GE(out, 0) << error;
    const std::vector<Bytes> sent = {test::sysex(40000), {0xF0, 0x00, 0x0B, 0xF7}};
    for (const Bytes& m : sent) ASSERT_TRUE(side.send(out, m));
    std::vector<Bytes> joined;
    ASSERT_TRUE(test::eventually([&] {
        joined.clear();
        for (const auto& e : amp.received()) {
            if (joined.empty() || e.bytes.front() == 0xF0) joined.emplace_back();
            joined.back().insert(joined.back().end(), e.bytes.begin(), e.bytes.end());
        }
        return joined.size() == sent.size() && joined.back() == sent.back();
    }));
    EXPECT_EQ(joined, sent);

    const int in = side.openLink(amp.outputName(), true, error);
    ASSERT_GE(in, 0) << error;
    amp.sendInOneCycle({{0xF0, 0x00, 0x0B, 0x01}});
    amp.sendInOneCycle({{0x07}, {0xF7}});
    Bytes got;
    ASSERT_TRUE(test::eventually([&] { return side.receive(in, got); }));
    EXPECT_EQ(got, (Bytes{0xF0, 0x00, 0x0B, 0x01, 0x07, 0xF7}));
}

}  // namespace
}  // namespace halvard::winemidi
