// What the Wine MIDI driver and bridge agree on: the WinMM names of JACK ports, and frames however
// the bytes arrive.
#include "wire.hpp"

#include <gtest/gtest.h>

namespace halvard::winemidi {
namespace {

TEST(WineMidiWire, DeviceNamesFitWinMmAndKeepTheAmplifiersTag) {
    EXPECT_EQ(deviceName("Halvard VDR Out:Halvard VDR Out"), "Halvard VDR Out:Halvard VDR Out")
        << "31: whole";
    EXPECT_EQ(deviceName("a2j:Midi Through [14] (capture): Midi Through Port-0"),
              "Midi Through [14] (capture): Mi")
        << "too long: the port's own name, cut";
    EXPECT_EQ(deviceName("Halvard VDR Amplifier USB Interface:midi_out"), "Halvard VDR Amplifier USB Inter")
        << "the tag only in the client's part: the whole name, cut";
    EXPECT_EQ(deviceName("rack:Studio rack unit two, Halvard VDR 1"), "udio rack unit two, Halvard VDR")
        << "the tag late in a long name: cut so that it stays";
    // "ééé…" is two bytes a character: a cut after 31 bytes would split the sixteenth.
    std::string accents = "x:";
    for (int i = 0; i < 20; ++i) accents += "\xC3\xA9";
    EXPECT_EQ(deviceName(accents), accents.substr(2, 30));
}

TEST(WineMidiWire, FramesComeWholeHoweverTheBytesArrive) {
    Bytes payload(600);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
    Bytes stream = frame(FrameType::List);
    const Bytes message = frame(FrameType::Message, payload);
    stream.insert(stream.end(), message.begin(), message.end());

    FrameReader reader;
    std::vector<std::pair<FrameType, Bytes>> frames;
    for (const uint8_t byte : stream) {
        reader.add(&byte, 1);
        FrameType type{};
        Bytes body;
        while (reader.next(type, body) == FrameReader::Next::Frame) frames.emplace_back(type, body);
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], std::make_pair(FrameType::List, Bytes{}));
    EXPECT_EQ(frames[1], std::make_pair(FrameType::Message, payload));

    const uint8_t empty[5] = {0, 0, 0, 0, 'L'};  // a length of 0 cannot be
    reader.add(empty, sizeof empty);
    FrameType type{};
    Bytes body;
    EXPECT_EQ(reader.next(type, body), FrameReader::Next::Broken);
}

}  // namespace
}  // namespace halvard::winemidi
