#pragma once
// The panel state that the frame benchmarks draw: connected, reverb and tremolo on, both channels'
// IR choices set.

#include "ui/ui.hpp"

namespace halvard {

inline void setBenchmarkPanel(Ui& ui) {
    ProgramSettings r;
    r.reverb[0] = 1;
    r.tremolo[0] = 1;
    r.ir[0] = 0;
    r.ir[1] = 1;
    ui.setRecord(0, r);
    ui.linkState = LinkState::Connected;
    ui.firmwareVersion = 0x0103;
}

}  // namespace halvard
