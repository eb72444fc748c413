#pragma once
// What the editor keeps between runs: the panel's zoom, in a small text file of "name=value" lines.
// A missing file, an unreadable one or a bad value gives the defaults; unknown lines are ignored.
// Used on the user-interface thread.

#include <filesystem>
#include <string>
#include <string_view>

namespace halvard {

struct EditorSettings {
    int zoomPercent = 100;  // 100..200
};

EditorSettings parseEditorSettings(std::string_view text);
std::string formatEditorSettings(const EditorSettings& settings);

EditorSettings loadEditorSettings(const std::filesystem::path& file);
// Writes the file (its folder made when missing) through a temporary file beside it, so that a
// reader never sees half a file; false when it could not be written.
bool saveEditorSettings(const std::filesystem::path& file, const EditorSettings& settings);

}  // namespace halvard
