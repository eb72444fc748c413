#include "amp_protocol.hpp"

#include <gtest/gtest.h>

#include "editor_messages.hpp"

namespace halvard::emulator {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(AmpProtocol, ParsesEveryEditorMessage) {
    const Bytes write{0xF0, 0x00, 0x01, 0x07, 0x43, 1,    0x21, 0x11, 0x10,
                      2,    1,    1,    0x10, 0x32, 0x13, 0x05, 0xF7};
    auto r = parseRequest(write);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, Request::Kind::SettingsWrite);
    EXPECT_EQ(r->program, 7);
    EXPECT_EQ(r->globals, (Globals{0x43, 0x05}));
    EXPECT_EQ(r->record, (ProgramRecord{1, 0x21, 0x11, 0x10, 2, 1, 1, 0x10, 0x32, 0x13}));

    r = parseRequest(Bytes{0xF0, 0x00, 0x04, 0x05, 0xF7});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->slot, 5);

    const Bytes image = testing::irImage(100);
    r = parseRequest(testing::chunk(image, 0x0100));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, Request::Kind::IrChunk);
    EXPECT_EQ(r->offset, 0x0100u);
    EXPECT_TRUE(std::equal(r->data.begin(), r->data.begin() + 188, image.begin() + 256)) << "nibbles joined";

    r = parseRequest(testing::chunk(testing::firmwareImage(2, 0), 0x1FF00, true));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, Request::Kind::FirmwareChunk);
    EXPECT_EQ(r->offset, 0x1FF00u) << "six offset nibbles";

    r = parseRequest(testing::store(4, 4044, "ROOM MIC"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->target, 4);
    EXPECT_EQ(r->size, 4044);
    EXPECT_EQ(storeName(r->name), "ROOM MIC");
}

TEST(AmpProtocol, RefusesWhatIsNotExactlyAnEditorMessage) {
    const std::vector<std::pair<Bytes, std::string>> bad = {
        {{0xF0, 0x00, 0x0B}, "too short"},
        {{0xF0, 0x01, 0x0B, 0xF7}, "byte 1 not 00"},
        {{0xF0, 0x00, 0x0B, 0x00}, "no F7"},
        {{0xF0, 0x00, 0x02, 0x85, 0xF7}, "program byte above 7F"},
        {{0xF0, 0x00, 0x02, 0x05, 0x00, 0xF7}, "settings read of 6 bytes"},
        {{0xF0, 0x00, 0x04, 0x06, 0xF7}, "slot 6"},
        {{0xF0, 0x00, 0x0B, 0x00, 0xF7}, "version read of 5 bytes"},
        {{0xF0, 0x00, 0x05, 0xF7}, "unknown code"},
    };
    for (const auto& [message, what] : bad) {
        std::string why;
        EXPECT_FALSE(parseRequest(message, &why)) << what;
        EXPECT_FALSE(why.empty()) << what;
    }
    Bytes chunk = testing::chunk(testing::irImage(10), 0);
    chunk[100] = 0x10;
    EXPECT_FALSE(parseRequest(chunk)) << "a nibble above 0F";
    chunk.pop_back();
    chunk.back() = 0xF7;
    EXPECT_FALSE(parseRequest(chunk)) << "IR chunk of 519 bytes";
}

TEST(AmpProtocol, RepliesAreByteExact) {
    EXPECT_EQ(versionReply(0x0107), (Bytes{0xF0, 0x00, 0x0B, 0x01, 0x07, 0xF7}));
    EXPECT_EQ(acknowledgement(), (Bytes{0xF0, 0x00, 0x08, 0xF7}));
    EXPECT_EQ(changeNotice(std::nullopt), (Bytes{0xF0, 0x00, 0x03, 0xF7}));
    EXPECT_EQ(changeNotice(9), (Bytes{0xF0, 0x00, 0x03, 0x09, 0xF7}));

    const Bytes settings = settingsReply(7, {0x43, 0x05}, {1, 0x21, 0x11, 0x10, 2, 1, 1, 0x10, 0x32, 0x13});
    EXPECT_EQ(settings, (Bytes{0xF0, 0x00, 0x02, 0x07, 0x43, 1, 0x21, 0x11, 0x10, 2, 1, 1, 0x10, 0x32, 0x13,
                               0x05, 0x00, 0xF7}));

    const Bytes name = slotNameReply(2, "2_CLEAN");
    ASSERT_EQ(name.size(), 70u);
    EXPECT_EQ(Bytes(name.begin(), name.begin() + 12),
              (Bytes{0xF0, 0x00, 0x04, 0x00, 0x02, '2', '_', 'C', 'L', 'E', 'A', 'N'}));
    EXPECT_TRUE(std::all_of(name.begin() + 12, name.begin() + 69, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(name[69], 0xF7);
    EXPECT_EQ(slotNameReply(0, std::string(80, 'A'))[68], 'A') << "64 name bytes, no terminator";
}

TEST(AmpProtocol, HexRoundTrip) {
    const Bytes b{0xF0, 0x00, 0x0B, 0xF7};
    EXPECT_EQ(toHex(b), "F0000BF7");
    EXPECT_EQ(toHex(b, true), "F0 00 0B F7");
    EXPECT_EQ(fromHex("f0 00 0b F7"), b);
    EXPECT_EQ(fromHex("F0000BF7"), b);
    EXPECT_FALSE(fromHex("F00"));
    EXPECT_FALSE(fromHex("F0 0 0B"));
    EXPECT_FALSE(fromHex("G0"));
}

}  // namespace
}  // namespace halvard::emulator
