#include "util/midi_joiner.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace halvard {
namespace {

using Bytes = std::vector<uint8_t>;

// What each event completes, "-" for nothing.
std::vector<Bytes> feed(MidiJoiner& joiner, const std::vector<Bytes>& events) {
    std::vector<Bytes> out;
    for (const Bytes& e : events) {
        const auto m = joiner.add(e);
        out.push_back(m.empty() ? Bytes{'-'} : Bytes(m.begin(), m.end()));
    }
    return out;
}

TEST(MidiJoiner, JoinsASysexCutIntoEventsAndNeverHandsOnAPieceAsAMessage) {
    MidiJoiner joiner;
    // Cut anywhere, its F7 alone included; a clock byte in between stands alone.
    EXPECT_EQ(feed(joiner, {{0xF0, 0x00}, {0xF8}, {0x0B, 0x01}, {0xF7}}),
              (std::vector<Bytes>{{'-'}, {0xF8}, {'-'}, {0xF0, 0x00, 0x0B, 0x01, 0xF7}}));
    // Once events were lost, the rest of the SysEx under way is dropped, whatever it looks like.
    feed(joiner, {{0xF0, 0x00, 0x0B}});
    joiner.lose();
    EXPECT_EQ(feed(joiner, {{0x05, 0x00, 0x02, 0x05, 0xF7}, {0xF7}, {0xF0, 0x7E, 0xF7}}),
              (std::vector<Bytes>{{'-'}, {'-'}, {0xF0, 0x7E, 0xF7}}));
    // Another status byte ends a SysEx left unfinished.
    EXPECT_EQ(feed(joiner, {{0xF0, 0x01}, {0x90, 0x40, 0x7F}, {0x02, 0xF7}}),
              (std::vector<Bytes>{{'-'}, {0x90, 0x40, 0x7F}, {'-'}}));
}

}  // namespace
}  // namespace halvard
