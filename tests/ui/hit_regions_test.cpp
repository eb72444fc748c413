#include "ui/hit_regions.hpp"

#include <gtest/gtest.h>

namespace halvard {
namespace {

TEST(HitRegions, KeyedByControlAndKindInOrderOfFirstRegistration) {
    HitRegions regions;
    regions.registerRegion(ControlId::ReverbSwitch, 10, 20, 40, 20, RegionKind::LeftButtonDown);
    regions.registerRegion(ControlId::ReverbSwitch, 10, 20, 40, 20, RegionKind::PointerMove);
    regions.registerRegion(ControlId::MonoButton, 0, 0, 100, 27, RegionKind::LeftButtonDown);
    ASSERT_EQ(regions.size(), 3u);
    EXPECT_EQ(regions.regions()[0].kind, RegionKind::LeftButtonDown) << "press registered first stays first";
    EXPECT_EQ(regions.regions()[1].kind, RegionKind::PointerMove);

    regions.regions()[1].hovered = true;
    // A second registration of the same key moves the rectangle in place and keeps the hover flag.
    regions.registerRegion(ControlId::ReverbSwitch, 99, 98, 5, 6, RegionKind::PointerMove);
    ASSERT_EQ(regions.size(), 3u);
    const HitRegion& moved = regions.regions()[1];
    EXPECT_EQ(moved.control, ControlId::ReverbSwitch);
    EXPECT_EQ(moved.x, 99);
    EXPECT_EQ(moved.y, 98);
    EXPECT_EQ(moved.width, 5);
    EXPECT_EQ(moved.height, 6);
    EXPECT_TRUE(moved.hovered);
    EXPECT_TRUE(regions.isHovered(ControlId::ReverbSwitch));

    // A new region never arrives hovered.
    regions.registerRegion(HitRegion{ControlId::CcListToggle, 1, 1, 1, 1, RegionKind::PointerMove, true});
    EXPECT_FALSE(regions.isHovered(ControlId::CcListToggle));

    // Hover lives on the PointerMove entry only: a press-only control is never hovered.
    regions.regions()[2].hovered = true;
    EXPECT_FALSE(regions.isHovered(ControlId::MonoButton));
    EXPECT_FALSE(regions.isHovered(ControlId::StorePresetButton)) << "unregistered control";

    regions.clearHovered();
    for (const HitRegion& r : regions.regions()) EXPECT_FALSE(r.hovered);
}

TEST(HitRegions, ContainsIncludesBothEdges) {
    const HitRegion r{ControlId::ProgramDown, 10, 20, 11, 11, RegionKind::LeftButtonDown, false};
    EXPECT_TRUE(contains(r, 10, 20));
    EXPECT_TRUE(contains(r, 21, 31)) << "right and bottom edge are inside: 12 columns for width 11";
    EXPECT_FALSE(contains(r, 9, 25));
    EXPECT_FALSE(contains(r, 22, 25));
    EXPECT_FALSE(contains(r, 15, 19));
    EXPECT_FALSE(contains(r, 15, 32));
}

TEST(HitRegions, RegisteringEveryKeyNeverGrowsStorage) {
    HitRegions regions;
    const auto* before = regions.regions().data();
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t c = 0; c < kControlIdCount; ++c) {
            for (RegionKind k : {RegionKind::PointerMove, RegionKind::LeftButtonDown, RegionKind::Wheel}) {
                regions.registerRegion(static_cast<ControlId>(c), c, pass, 1, 1, k);
            }
        }
    }
    EXPECT_EQ(regions.size(), static_cast<size_t>(kControlIdCount) * 3);
    EXPECT_EQ(regions.regions().data(), before) << "the list was reallocated";
    EXPECT_EQ(regions.regions()[3].y, 1) << "second pass updated in place";
}

}  // namespace
}  // namespace halvard
