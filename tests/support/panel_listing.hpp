#pragma once
// The connected panel's controls with the IR panel closed, in reading order, as a screen reader
// lists them on either platform (AT-SPI on Linux, MSAA under Wine): the accessibility tests'
// expectation, each mapping the roles to its platform's.

#include <string>
#include <utility>
#include <vector>

#include "ui/panel_controls.hpp"

namespace halvard::testing {

using PanelListing = std::vector<std::pair<ControlRole, std::string>>;

inline PanelListing connectedPanelListing() {
    using R = ControlRole;
    PanelListing c{{R::ToggleButton, "REVERB TAILS"},
                   {R::SpinButton, "PROGRAM CHANGE"},
                   {R::ToggleButton, "MONO"},
                   {R::ToggleButton, "BYPASS LOCK"},
                   {R::SpinButton, "MIDI CHANNEL"}};
    for (const char* name : {"BYPASS", "CHANNEL", "REVERB", "TREMOLO", "LOOP BYPASS", "IR BYPASS"})
        c.emplace_back(R::ToggleButton, name);
    c.emplace_back(R::PushButton, "STORE PRESET");
    for (int section = 0; section < 2; ++section) {
        c.insert(c.end(),
                 {{R::SpinButton, "LOWPASS"}, {R::SpinButton, "HIGHPASS"}, {R::ToggleButton, "HF COMP"}});
        for (int row = 0; row < 3; ++row)
            c.insert(c.end(), {{R::RadioButton, "USE IR"},
                               {R::RadioButton, "SELECT SLOT"},
                               {R::PushButton, "IMPORT IR"},
                               {R::PushButton, "BROWSE FACTORY IRS"}});
    }
    c.emplace_back(R::ToggleButton, "MIDI CC LIST");
    return c;
}

}  // namespace halvard::testing
