#include "ir/ir_image.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ir/factory_catalogue.hpp"

namespace halvard {
namespace {

uint32_t le32(const IrWavImage& image, size_t at) {
    return image[at] | image[at + 1] << 8 | image[at + 2] << 16 | uint32_t{image[at + 3]} << 24;
}

TEST(IrWavImage, HeaderIsWrittenByteForByte) {
    const float samples[] = {1.0f, -0.5f};
    const IrWavImage expected = {'R',  'I',  'F',  'F',  0x2C, 0x00, 0x00, 0x00, 'W',  'A',  'V',
                                 'E',  'f',  'm',  't',  ' ',  0x10, 0x00, 0x00, 0x00, 0x03, 0x00,
                                 0x01, 0x00, 0x80, 0xBB, 0x00, 0x00, 0x00, 0xEE, 0x02, 0x00, 0x04,
                                 0x00, 0x20, 0x00, 'd',  'a',  't',  'a',  0x08, 0x00, 0x00, 0x00,
                                 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0xBF};
    EXPECT_EQ(buildIrWavImage(samples), expected);

    const std::optional<IrWavImage> empty = buildIrWavImage(std::span<const float>());
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->size(), 44u);
    EXPECT_EQ(le32(*empty, 4), 36u);
    EXPECT_EQ(le32(*empty, 40), 0u);
    EXPECT_EQ(std::memcmp(empty->data() + 8, expected.data() + 8, 32), 0) << "the same format fields";

    const std::vector<float> longest(4096, 0.25f);
    const std::optional<IrWavImage> full = buildIrWavImage(longest);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->size(), 16428u);
    EXPECT_EQ(le32(*full, 4), 36u + 16384);
    EXPECT_EQ(le32(*full, 40), 16384u);
}

TEST(IrWavImage, FactoryImagesBecome39980Bytes) {
    for (const FactoryIrEntry& e : factoryIrCatalogue()) {
        const std::optional<IrWavImage> image = buildIrWavImage(*e.image);
        ASSERT_TRUE(image);
        ASSERT_EQ(image->size(), 39980u);
        EXPECT_EQ(le32(*image, 4), 39972u);
        EXPECT_EQ(le32(*image, 40), 39936u);
        EXPECT_EQ(std::memcmp(image->data() + 44, e.image->samples, 39936), 0) << e.name;
    }
}

std::string name(std::string_view path) {
    return std::string(irNameFromFileName(path).text());
}

TEST(IrName, FromFileName) {
    EXPECT_EQ(name("/home/ana/IRs/Room Mic.wav"), "ROOM MIC");
    EXPECT_EQ(name("a.b.wav"), "A.B");
    EXPECT_EQ(name("cab.wav.wav"), "CAB") << "cut at the last dot, then at .WAV";
    EXPECT_EQ(name("x.wave.wave"), "X");
    EXPECT_EQ(name("take.WAVE"), "TAKE");
    EXPECT_EQ(name("no dot here"), "NO DOT HERE");
    EXPECT_EQ(name("C:\\Users\\ana\\cab 1.wav"), "CAB 1");
    EXPECT_EQ(name("D:cab1.wav"), "CAB1") << "drive prefix";
    EXPECT_EQ(name("Mixed_Case-42!.Wav"), "MIXED_CASE-42!");

    const IrName onlyExtension = irNameFromFileName("/tmp/.wav");
    EXPECT_EQ(onlyExtension.field, (std::array<uint8_t, 64>{})) << "64 zero bytes";
}

TEST(IrName, NonAsciiBecomesOneUnderscorePerCharacter) {
    EXPECT_EQ(name("Kåbinett Ø.wav"), "K_BINETT _");
    EXPECT_EQ(name("日本のキャブ.wav"), "______");
    EXPECT_EQ(name("emoji 🎸.wav"), "EMOJI _");
    EXPECT_EQ(name("bad \xFF\xC3 bytes.wav"), "BAD __ BYTES") << "invalid UTF-8, one per byte";
    EXPECT_EQ(name("cut \xE6\x97.wav"), "CUT __") << "a sequence cut short";
    for (uint8_t b : irNameFromFileName("Ärger über Öl.wav").field) EXPECT_LT(b, 0x80);
}

TEST(IrName, FieldHolds64BytesWithoutTerminator) {
    const std::string long_(70, 'q');
    const IrName n = irNameFromFileName(long_ + ".wav");
    EXPECT_EQ(n.text(), std::string(64, 'Q'));
    const IrName exact = irNameFromFileName(std::string(64, 'z'));
    EXPECT_EQ(exact.field.back(), 'Z') << "no terminating zero";
    const IrName shorter = irNameFromFileName("abc.wav");
    EXPECT_EQ(shorter.text(), "ABC");
    EXPECT_EQ(shorter.field[3], 0);
    EXPECT_EQ(shorter.field[63], 0);
}

TEST(IrName, FromLabelIsNotAPath) {
    EXPECT_EQ(irNameFromLabel("1x12 Studio Blend").text(), "1X12 STUDIO BLEND");
    EXPECT_EQ(irNameFromLabel("A/B cab").text(), "A/B CAB");
    for (const FactoryIrEntry& e : factoryIrCatalogue()) {
        EXPECT_EQ(irNameFromLabel(e.name).text().size(), e.name.size()) << "labels reach the amplifier whole";
    }
}

}  // namespace
}  // namespace halvard
