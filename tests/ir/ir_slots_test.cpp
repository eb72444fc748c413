#include "ir/ir_slots.hpp"

#include <gtest/gtest.h>

namespace halvard {
namespace {

TEST(UserIrSlots, ShownNameIsTheLastPathComponent) {
    EXPECT_EQ(shownSlotName(""), "NO IR SELECTED");
    EXPECT_EQ(shownSlotName("MY CAB"), "MY CAB");
    EXPECT_EQ(shownSlotName("C:\\IRS\\MY CAB.WAV"), "MY CAB.WAV");
    EXPECT_EQ(shownSlotName("/HOME/IRS/V1/CAB"), "CAB");
    EXPECT_EQ(shownSlotName("MIXED\\DIR/CAB 1"), "CAB 1") << "whichever separator comes last";
    EXPECT_EQ(shownSlotName("D:CAB 2"), "CAB 2") << "drive prefix";
    EXPECT_EQ(shownSlotName("IRS/"), "") << "nothing after the last separator";
}

}  // namespace
}  // namespace halvard
