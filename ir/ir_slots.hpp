#pragma once
// The six user IR slots as the panel shows them. The slot names themselves live in the device
// mirror (model/device_mirror.hpp), filled from the amplifier's slot name replies.

#include <string_view>

#include "util/paths.hpp"

namespace halvard {

inline constexpr std::string_view kNoIrSelectedText = "NO IR SELECTED";

// The shown form of a slot name: its last path component, or "NO IR SELECTED" when the name is
// empty. The result points into name or into constant text.
constexpr std::string_view shownSlotName(std::string_view name) {
    return name.empty() ? kNoIrSelectedText : lastPathComponent(name);
}

}  // namespace halvard
