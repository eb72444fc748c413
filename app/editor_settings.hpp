#pragma once
// What the editor keeps between runs: the panel's zoom and the text the amplifier's MIDI port names
// contain, in a small text file of "name=value" lines ("zoom=150", "port=VDR").
// A missing file, an unreadable one or a bad value gives the defaults; unknown lines are ignored.
// Used on the user-interface thread.

#include <filesystem>
#include <string>
#include <string_view>

#include "util/amplifier_port_tag.hpp"

namespace halvard {

struct EditorSettings {
    int zoomPercent = 100;                // 100..200
    std::string port{kAmplifierPortTag};  // not empty; halvard-editor --port TEXT overrides it for one run
};

EditorSettings parseEditorSettings(std::string_view text);
std::string formatEditorSettings(const EditorSettings& settings);

EditorSettings loadEditorSettings(const std::filesystem::path& file);
// Writes the file (its folder made when missing) through a temporary file beside it, so that a
// reader never sees half a file; false when it could not be written.
bool saveEditorSettings(const std::filesystem::path& file, const EditorSettings& settings);

}  // namespace halvard
