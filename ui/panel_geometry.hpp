#pragma once
// The panel's fixed layout quantities (DIPs), shared by the renderer and the pointer handling.
// Constants only; any thread may read them.

#include <cstdint>

namespace halvard {

inline constexpr int32_t kLeftColumnWidth = 250;  // the left column ends, the IR panel column starts
inline constexpr int32_t kIrPanelRight = 500;     // right edge of the IR panel column
inline constexpr int32_t kIrPanelWidth = kIrPanelRight - kLeftColumnWidth;
inline constexpr int32_t kHeadingRuleY = 41;     // the rule under the top row, across both columns
inline constexpr int32_t kBottomBarHeight = 21;  // the accent bar with the status line

}  // namespace halvard
