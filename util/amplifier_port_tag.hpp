#pragma once
// The amplifier's MIDI ports are known by name: every one of them has this tag in its name. The
// editor's worker and halvard-cli look for it, the amplifier emulator names its ports with it, and
// the Wine MIDI bridge keeps it in the WinMM device names it shortens.

#include <string_view>

namespace halvard {

inline constexpr std::string_view kAmplifierPortTag = "VDR";

}  // namespace halvard
