#pragma once
// A mirror as the link leaves it once it has read the amplifier: connected, and programs loaded
// with both filters set (the panel then draws and handles every control).

#include "model/device_mirror.hpp"

namespace halvard::test {

inline ProgramSettings loadedProgram() {
    ProgramSettings s;
    s.filterA[0] = s.filterA[1] = 2;
    s.filterB[0] = s.filterB[1] = 1;
    s.loaded = 1;
    return s;
}

inline void loadEveryProgram(DeviceMirror& mirror) {
    mirror.linkState = LinkState::Connected;
    const ProgramSettings s = loadedProgram();
    for (int p = 0; p < kProgramCount; ++p) mirror.setRecord(p, s);
}

}  // namespace halvard::test
