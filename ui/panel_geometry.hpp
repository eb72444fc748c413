#pragma once
// The panel's layout quantities (DIPs), shared by the control table, the renderer and the pointer
// handling. Constants and pure functions only; any thread may use them.

#include <cstdint>

namespace halvard {

inline constexpr int32_t kLeftColumnWidth = 250;  // the left column ends, the IR panel column starts
inline constexpr int32_t kIrPanelRight = 500;     // right edge of the IR panel column
inline constexpr int32_t kIrPanelWidth = kIrPanelRight - kLeftColumnWidth;
inline constexpr int32_t kHeadingRuleY = 41;     // the rule under the top row, across both columns
inline constexpr int32_t kBottomBarHeight = 21;  // the accent bar with the status line

// The top row's rounded boxes, 27 high.
inline constexpr int32_t kTopRowBoxTop = 7;
inline constexpr int32_t kTopRowBoxHeight = 27;
// The switch row spans this width, left column included, centred in the window.
inline constexpr int32_t kSwitchRowSpan = 964;
inline constexpr int32_t kSwitchRowTop = 51;
// The left column: the badge area at the top, then bands and slot rows of fixed heights.
inline constexpr int32_t kBadgeAreaHeight = 98;  // the store bar starts below it
inline constexpr int32_t kBandHeight = 33;       // store bar, section headings, switch bands, CC list heading
inline constexpr int32_t kSlotRowHeight = 31;    // slot rows, and the factory list's rows
inline constexpr int32_t kRhythmSectionTop = kBadgeAreaHeight + kBandHeight;
// The CC list heading sits on the bottom bar; opened, it rises by the ten rows and their margins.
inline constexpr int32_t kCcListClosedRise = kBottomBarHeight + kBandHeight;
inline constexpr int32_t kCcListOpenRise = 266;

// What moves with the surface's size and the CC list, for a surface of width x height DIPs.
struct PanelGeometry {
    int32_t width = 0;
    int32_t height = 0;
    int32_t switchRowLeft = 0;   // the first slide switch; the row is centred in the window
    int32_t programBoxLeft = 0;  // the program box, right of the middle
    int32_t leadSectionTop = 0;  // keeps to the middle of the room the CC list leaves
    int32_t ccListTop = 0;       // the MIDI CC LIST heading
};

constexpr PanelGeometry panelGeometry(int32_t width, int32_t height, bool ccListOpen) {
    PanelGeometry g;
    g.width = width;
    g.height = height;
    g.switchRowLeft = (width - kSwitchRowSpan) / 2 + kLeftColumnWidth;
    g.programBoxLeft = (width + 30) / 2;
    g.leadSectionTop = ccListOpen ? (height - kCcListOpenRise) / 2 + 66 : height / 2 + 44;
    g.ccListTop = height - (ccListOpen ? kCcListOpenRise : kCcListClosedRise);
    return g;
}

// The top of user slot k's row (0..5: rows 0..2 in the rhythm section, 3..5 in the lead section):
// below the section's heading, filter band and HF COMP band.
constexpr int32_t slotRowTop(const PanelGeometry& g, int slot) {
    const int32_t section = slot < 3 ? kRhythmSectionTop : g.leadSectionTop;
    return section + 3 * kBandHeight + kSlotRowHeight * (slot % 3);
}

}  // namespace halvard
