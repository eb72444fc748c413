#include "ui/ui.hpp"

#include <gtest/gtest.h>

#include "allocation_counter.hpp"

namespace halvard {
namespace {

TEST(Ui, PictureIsCentredRightOfTheColumnAndNeverEnlarged) {
    const PictureLayout small = pictureLayout(1264, 861);
    EXPECT_NEAR(small.scale, 0.711f, 1e-6f);
    EXPECT_EQ(small.x0, 464);
    EXPECT_EQ(small.y0, 168);

    const PictureLayout large = pictureLayout(1500, 1150);
    EXPECT_EQ(large.scale, 1.0f);
    EXPECT_EQ(large.x0, 275);
    EXPECT_EQ(large.y0, 120);
    const PictureLayout huge = pictureLayout(3000, 2000);
    EXPECT_EQ(huge.scale, 1.0f) << "a larger window never enlarges the picture";

    const PictureLayout narrow = pictureLayout(1100, 1400);  // width decides
    EXPECT_NEAR(narrow.scale, 800.0f / 1200.0f, 1e-6f);
}

TEST(Ui, HandlesPaintAsTheWindowsHandlerWhileItLives) {
    PlatformState platform;
    {
        Ui ui(platform);
        ASSERT_TRUE(platform.handler);
        OffscreenSurface s(1280, 900);
        Canvas canvas;
        paintWindow(platform, canvas, s.target(), 1280, 900);
        EXPECT_EQ(platform.surfaceWidth, 1280);
        EXPECT_EQ(platform.surfaceHeight, 900);
        EXPECT_EQ(platform.canvas, nullptr) << "the canvas is lent only for the frame";
        EXPECT_EQ(s.pixel(5, 5) >> 24, 0xffu) << "the frame covers the surface";
        // The bottom bar is the accent colour, under no veil.
        EXPECT_EQ(s.pixel(640, 895), kColorAccent);
        platform.raise(PlatformEvent::Timer);  // not acted on, must not draw or crash
    }
    EXPECT_FALSE(platform.handler) << "the handler goes with the Ui";
}

TEST(Ui, ARepeatedFrameAllocatesNothing) {
    PlatformState platform;
    Ui ui(platform);
    ui.linkState = LinkState::Busy;
    ui.progress = 57;
    ui.firmwareVersion = 0x0104;
    ui.availableFirmware = 0x0105;
    ProgramSettings r;
    r.reverb[0] = 1;
    r.ir[0] = 1;
    r.ir[1] = 0;
    ui.setRecord(0, r);
    ui.irPanelSlot = 1;  // with the description and the response plot
    ui.factoryIrIndex = 13;
    OffscreenSurface s(1280, 900, 2.0);
    Canvas canvas;
    paintWindow(platform, canvas, s.target(), 1280, 900);
    const long before = gAllocations.load();
    paintWindow(platform, canvas, s.target(), 1280, 900);
    EXPECT_EQ(gAllocations.load() - before, 0);
}

}  // namespace
}  // namespace halvard
