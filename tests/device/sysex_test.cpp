#include "device/protocol/sysex.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace halvard {
namespace {

using Bytes = std::vector<uint8_t>;

template <class Build>
Bytes built(Build&& build) {
    std::array<uint8_t, kMaxRequestBytes + 8> buffer;
    buffer.fill(0xEE);
    const size_t n = build(std::span<uint8_t>(buffer));
    return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(n));
}

void expectFramedAnd7Bit(const Bytes& m, uint8_t code, size_t length) {
    ASSERT_EQ(m.size(), length);
    EXPECT_EQ(m[0], 0xF0);
    EXPECT_EQ(m[1], 0x00);
    EXPECT_EQ(m[2], code);
    EXPECT_EQ(m.back(), 0xF7);
    for (size_t i = 1; i + 1 < m.size(); ++i) EXPECT_LT(m[i], 0x80) << "payload byte " << i;
}

// ---- builders -----------------------------------------------------------------------------------

TEST(SysexBuilders, ShortRequestsAreByteExact) {
    EXPECT_EQ(built([](auto out) { return buildVersionRead(out); }), (Bytes{0xF0, 0x00, 0x0B, 0xF7}));
    EXPECT_EQ(built([](auto out) { return buildPresetStore(out); }), (Bytes{0xF0, 0x00, 0x0A, 0xF7}));
    EXPECT_EQ(built([](auto out) { return buildRestartRequest(out); }), (Bytes{0xF0, 0x00, 0x0C, 0xF7}));
    EXPECT_EQ(built([](auto out) { return buildSettingsRead(out, 127); }),
              (Bytes{0xF0, 0x00, 0x02, 0x7F, 0xF7}));
    EXPECT_EQ(built([](auto out) { return buildSlotNameRead(out, 5); }),
              (Bytes{0xF0, 0x00, 0x04, 0x05, 0xF7}));
    // Out-of-range arguments stay inside the frame.
    expectFramedAnd7Bit(built([](auto out) { return buildSettingsRead(out, 0x1FF); }), 0x02, 5);
    expectFramedAnd7Bit(built([](auto out) { return buildSlotNameRead(out, -1); }), 0x04, 5);
}

TEST(SysexBuilders, SettingsWritePacksEveryField) {
    const SettingsGlobals g{.midiChannel = 3, .bypassLock = 1, .reverbTails = 0, .mono = 1, .irSlot = 4};
    ProgramSettings s;
    s.loopBypass = 1;
    s.channel = 1;
    s.bypass = 1;
    s.reverb[0] = 1;
    s.tremolo[1] = 1;
    s.ir[0] = 2;
    s.ir[1] = 1;
    s.irBypass = 1;
    s.hfComp[0] = 1;
    s.hfComp[1] = 1;
    s.filterA[0] = 2;
    s.filterA[1] = 3;
    s.filterB[0] = 1;
    s.filterB[1] = 3;
    EXPECT_EQ(built([&](auto out) { return buildSettingsWrite(out, 5, g, s); }),
              (Bytes{0xF0, 0x00, 0x01, 0x05, 0x23, 0x01, 0x21, 0x01, 0x10, 0x02, 0x01, 0x01, 0x11, 0x32, 0x31,
                     0x09, 0xF7}));
}

TEST(SysexBuilders, HostileValuesNeverLeaveSevenBits) {
    ProgramSettings s;
    for (uint8_t* f : {&s.loopBypass, &s.channel, &s.bypass, &s.reverb[0], &s.reverb[1], &s.tremolo[0],
                       &s.tremolo[1], &s.ir[0], &s.ir[1], &s.irBypass, &s.hfComp[0], &s.hfComp[1],
                       &s.filterA[0], &s.filterA[1], &s.filterB[0], &s.filterB[1]})
        *f = 0xFF;
    const SettingsGlobals g{-1, -1, -1, -1, -1};
    expectFramedAnd7Bit(built([&](auto out) { return buildSettingsWrite(out, 0xFFFF, g, s); }), 0x01, 17);

    const std::array<uint8_t, 256> ones = [] {
        std::array<uint8_t, 256> a;
        a.fill(0xFF);
        return a;
    }();
    expectFramedAnd7Bit(built([&](auto out) { return buildFirmwareChunk(out, 0xFFFFFFFF, ones); }), 0x07,
                        522);
    expectFramedAnd7Bit(built([&](auto out) { return buildIrChunk(out, 0xFFFFFFFF, ones); }), 0x08, 520);
    const std::string highName(70, '\xE9');
    expectFramedAnd7Bit(built([&](auto out) { return buildStore(out, 0xFF, 0xFFFF, highName); }), 0x09, 73);
}

TEST(SysexBuilders, DataChunksSendOffsetAndBytesAsNibbles) {
    // The last chunk of a 16428-byte IR image: 44 image bytes, then 212 pairs of 0x00.
    std::vector<uint8_t> tail(44, 0x00);
    tail[0] = 0xAB;
    tail[43] = 0x5C;
    const Bytes ir = built([&](auto out) { return buildIrChunk(out, 0x4000, tail); });
    expectFramedAnd7Bit(ir, 0x08, 520);
    EXPECT_EQ(Bytes(ir.begin() + 3, ir.begin() + 9), (Bytes{0x04, 0x00, 0x00, 0x00, 0x0A, 0x0B}));
    EXPECT_EQ(ir[7 + 2 * 43], 0x05);
    EXPECT_EQ(ir[8 + 2 * 43], 0x0C);
    for (size_t j = 44; j < 256; ++j) {
        EXPECT_EQ(ir[7 + 2 * j], 0x00) << "pad pair " << j;
        EXPECT_EQ(ir[8 + 2 * j], 0x00) << "pad pair " << j;
    }
    // Only the low 16 bits of an IR offset travel: the factory image's last chunk at 39936.
    const Bytes factory = built([&](auto out) { return buildIrChunk(out, 39936, tail); });
    EXPECT_EQ(Bytes(factory.begin() + 3, factory.begin() + 7), (Bytes{0x09, 0x0C, 0x00, 0x00}));

    // A firmware chunk carries six offset nibbles and all 256 bytes.
    std::array<uint8_t, 256> image;
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(255 - i);
    const Bytes fw = built([&](auto out) { return buildFirmwareChunk(out, 0x01FF00, image); });
    expectFramedAnd7Bit(fw, 0x07, 522);
    EXPECT_EQ(Bytes(fw.begin() + 3, fw.begin() + 9), (Bytes{0x00, 0x01, 0x0F, 0x0F, 0x00, 0x00}));
    for (size_t j = 0; j < 256; ++j) {
        ASSERT_EQ(fw[9 + 2 * j], image[j] >> 4) << "byte " << j;
        ASSERT_EQ(fw[10 + 2 * j], image[j] & 0x0F) << "byte " << j;
    }
}

TEST(SysexBuilders, StoreCarriesTargetSizeAndPaddedName) {
    const Bytes ir = built([](auto out) { return buildStore(out, 4, 4044, "Clean"); });
    expectFramedAnd7Bit(ir, 0x09, 73);
    EXPECT_EQ(Bytes(ir.begin() + 3, ir.begin() + 13),
              (Bytes{0x04, 0x00, 0x0F, 0x0C, 0x0C, 'C', 'l', 'e', 'a', 'n'}));
    for (size_t i = 13; i < 72; ++i) EXPECT_EQ(ir[i], 0x00) << "name pad " << i;

    // A 64-byte name fills the field with no terminating zero; a longer one is cut at 64.
    const std::string longName(80, 'x');
    const Bytes full = built([&](auto out) { return buildStore(out, 0, 16428, longName); });
    EXPECT_EQ(Bytes(full.begin() + 4, full.begin() + 8), (Bytes{0x04, 0x00, 0x02, 0x0C}));
    EXPECT_EQ(full[71], 'x');
    EXPECT_EQ(full[72], 0xF7);

    Bytes fw = built([](auto out) { return buildFirmwareStore(out); });
    Bytes expected = {0xF0, 0x00, 0x09, 0x10, 0x0F, 0x0F, 0x0F, 0x0F, 'V', 'D', 'R', '.', 'b', 'i', 'n'};
    expected.resize(72, 0x00);
    expected.push_back(0xF7);
    EXPECT_EQ(fw, expected);
}

TEST(SysexBuilders, RefuseBuffersTooSmallWithoutWriting) {
    std::array<uint8_t, 16> small;
    small.fill(0xEE);
    EXPECT_EQ(buildSettingsWrite(small, 0, {}, {}), 0u);
    EXPECT_EQ(buildIrChunk(small, 0, {}), 0u);
    EXPECT_EQ(buildStore(small, 0, 0, "x"), 0u);
    EXPECT_EQ(buildVersionRead(std::span<uint8_t>(small).first(3)), 0u);
    for (uint8_t b : small) EXPECT_EQ(b, 0xEE);
}

// ---- decoder ------------------------------------------------------------------------------------

Bytes settingsBytes(uint8_t program, size_t length) {
    // byte 4: channel 9, lock, tails; bytes 5..14 a plausible program; byte 15: mono, slot 5.
    Bytes m = {0xF0, 0x00, 0x02, program, 0x69, 0x01, 0x21, 0x11,
               0x10, 0x02, 0x01, 0x01,    0x11, 0x32, 0x31, 0x0B};
    m.resize(length - 1, 0x00);
    m.push_back(0xF7);
    return m;
}

TEST(ReplyDecoder, SettingsReplyLengthsDecideWhatIsRead) {
    EXPECT_TRUE(std::holds_alternative<IgnoredReply>(decodeReply(settingsBytes(0, 13))))
        << "13 bytes is too short";

    // 14 bytes: bytes 13 (the end byte) and 14 (absent) read as 0, so both filters fall back.
    const Reply r14 = decodeReply(
        Bytes{0xF0, 0x00, 0x02, 0x00, 0x69, 0x01, 0x21, 0x11, 0x10, 0x02, 0x01, 0x01, 0x11, 0xF7});
    ASSERT_TRUE(std::holds_alternative<SettingsReply>(r14));
    const auto& s14 = std::get<SettingsReply>(r14);
    EXPECT_EQ(s14.settings.filterA[0], 2);
    EXPECT_EQ(s14.settings.filterB[1], 1);
    EXPECT_EQ(s14.settings.hfComp[1], 1);

    const auto r17 = std::get<SettingsReply>(decodeReply(settingsBytes(0, 17)));
    EXPECT_TRUE(r17.hasGlobals);
    EXPECT_EQ(r17.midiChannel, 9);
    EXPECT_EQ(r17.bypassLock, 1);
    EXPECT_EQ(r17.reverbTails, 1);
    EXPECT_FALSE(r17.hasMonoAndSlot) << "mono and slot need 18 bytes";

    const auto r18 = std::get<SettingsReply>(decodeReply(settingsBytes(0, 18)));
    EXPECT_TRUE(r18.hasMonoAndSlot);
    EXPECT_EQ(r18.mono, 1);
    EXPECT_EQ(r18.irSlot, 5);
    const ProgramSettings& s = r18.settings;
    EXPECT_EQ(s.loaded, 1);
    EXPECT_EQ(s.loopBypass, 1);
    EXPECT_EQ(s.channel, 1);
    EXPECT_EQ(s.bypass, 1);
    EXPECT_EQ(s.reverb[0], 1);
    EXPECT_EQ(s.tremolo[0], 1);
    EXPECT_EQ(s.reverb[1], 0);
    EXPECT_EQ(s.tremolo[1], 1);
    EXPECT_EQ(s.ir[0], 2);
    EXPECT_EQ(s.ir[1], 1);
    EXPECT_EQ(s.irBypass, 1);
    EXPECT_EQ(s.filterA[0], 2);
    EXPECT_EQ(s.filterA[1], 3);
    EXPECT_EQ(s.filterB[0], 1);
    EXPECT_EQ(s.filterB[1], 3);

    const auto r5 = std::get<SettingsReply>(decodeReply(settingsBytes(5, 18)));
    EXPECT_EQ(r5.program, 5);
    EXPECT_FALSE(r5.hasGlobals) << "only program 0 carries the globals";
    EXPECT_FALSE(r5.hasMonoAndSlot);

    EXPECT_TRUE(std::holds_alternative<IgnoredReply>(decodeReply(settingsBytes(128, 18))))
        << "program 128 has no record";
}

TEST(ReplyDecoder, FilterPositionsOutOfRangeFallBackAsPairs) {
    Bytes m = settingsBytes(3, 18);
    m[13] = 0x01;  // filterA rhythm 1, lead 0
    m[14] = 0x33;  // filterB 3 and 3
    auto s = std::get<SettingsReply>(decodeReply(m)).settings;
    EXPECT_EQ(s.filterA[0], 2);
    EXPECT_EQ(s.filterA[1], 2);
    EXPECT_EQ(s.filterB[0], 3);
    EXPECT_EQ(s.filterB[1], 3);

    m[13] = 0x33;
    m[14] = 0x20;  // filterB rhythm 0
    s = std::get<SettingsReply>(decodeReply(m)).settings;
    EXPECT_EQ(s.filterA[0], 3);
    EXPECT_EQ(s.filterA[1], 3);
    EXPECT_EQ(s.filterB[0], 1);
    EXPECT_EQ(s.filterB[1], 1);
}

TEST(ReplyDecoder, ChangeNoticeVersionAndAcknowledgement) {
    EXPECT_EQ(std::get<ChangeNotice>(decodeReply(Bytes{0xF0, 0x00, 0x03, 0xF7})).program, -1);
    EXPECT_EQ(std::get<ChangeNotice>(decodeReply(Bytes{0xF0, 0x00, 0x03, 0x2A, 0xF7})).program, 42);
    EXPECT_EQ(std::get<ChangeNotice>(decodeReply(Bytes{0xF0, 0x00, 0x03, 0x80, 0xF7})).program, -1)
        << "a notice naming no valid program still asks for a sync";
    EXPECT_TRUE(std::holds_alternative<IgnoredReply>(decodeReply(Bytes{0xF0, 0x00, 0x03, 0x01, 0x02, 0xF7})));

    EXPECT_EQ(std::get<VersionReply>(decodeReply(Bytes{0xF0, 0x00, 0x0B, 0x01, 0x07, 0xF7})).version, 0x0107);
    EXPECT_EQ(std::get<VersionReply>(decodeReply(Bytes{0xF0, 0x00, 0x0B, 0xF7})).version, 0)
        << "a version reply without its bytes reads them as 0, not the end byte";

    EXPECT_TRUE(std::holds_alternative<ChunkAck>(decodeReply(Bytes{0xF0, 0x00, 0x08, 0xF7})));
    EXPECT_TRUE(std::holds_alternative<IgnoredReply>(decodeReply(Bytes{0xF0, 0x00, 0x08})));

    // Malformed or foreign messages.
    EXPECT_TRUE(std::holds_alternative<IgnoredReply>(decodeReply(Bytes{0xF0, 0x01, 0x0B, 0x01, 0x07, 0xF7})));
    EXPECT_TRUE(std::holds_alternative<IgnoredReply>(decodeReply(Bytes{0xF0, 0x00})));
    EXPECT_TRUE(std::holds_alternative<IgnoredReply>(decodeReply(Bytes{})));
    EXPECT_TRUE(std::holds_alternative<IgnoredReply>(decodeReply(Bytes{0xF0, 0x00, 0x01, 0x00, 0xF7})));
    EXPECT_EQ(replyCode(IgnoredReply{}), 0);
    EXPECT_EQ(replyCode(VersionReply{}), 11);
}

Bytes slotBytes(int slot, const std::string& name, size_t length = 70) {
    Bytes m = {0xF0, 0x00, 0x04, 0x00, static_cast<uint8_t>(slot)};
    for (size_t i = 0; i < 64; ++i) m.push_back(i < name.size() ? static_cast<uint8_t>(name[i]) : 0);
    m.resize(length - 1, 0x00);
    m.push_back(0xF7);
    return m;
}

std::string decodedName(int slot, const std::string& name) {
    return std::string(std::get<SlotNameReply>(decodeReply(slotBytes(slot, name))).name.view());
}

TEST(ReplyDecoder, SlotNames) {
    EXPECT_EQ(decodedName(2, "2_CLEAN"), "CLEAN");
    EXPECT_EQ(decodedName(3, "2_CLEAN"), "2_CLEAN") << "another slot's prefix stays";
    EXPECT_EQ(decodedName(0, "0_clean 12 b"), "CLEAN 12 B");
    EXPECT_EQ(decodedName(1, "1_"), "");
    EXPECT_EQ(decodedName(4, std::string(64, 'q')), std::string(64, 'Q'));

    const Bytes trailing = slotBytes(1, "fat", 80);
    EXPECT_EQ(std::get<SlotNameReply>(decodeReply(trailing)).name.view(), "FAT")
        << "bytes beyond 69 are ignored";

    const auto empty = std::get<SlotNameReply>(decodeReply(slotBytes(5, "")));
    EXPECT_FALSE(empty.hasName);
    EXPECT_EQ(empty.slot, 5);

    Bytes short69 = slotBytes(1, "FAT");
    short69.erase(short69.end() - 2);
    EXPECT_TRUE(std::holds_alternative<IgnoredReply>(decodeReply(short69)));
    EXPECT_TRUE(std::holds_alternative<IgnoredReply>(decodeReply(slotBytes(6, "FAT"))))
        << "slot 6 does not exist";
}

}  // namespace
}  // namespace halvard
