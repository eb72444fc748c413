#include "app/editor_settings.hpp"

#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

namespace halvard {

namespace {

constexpr std::string_view kZoomKey = "zoom";
constexpr std::string_view kPortKey = "port";
constexpr int kZoomLeast = 100;
constexpr int kZoomMost = 200;

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

}  // namespace

EditorSettings parseEditorSettings(std::string_view text) {
    EditorSettings settings;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (key == kPortKey && !value.empty()) settings.port = value;
        if (key != kZoomKey) continue;
        int zoom = 0;
        const auto [at, ec] = std::from_chars(value.data(), value.data() + value.size(), zoom);
        if (ec == std::errc() && at == value.data() + value.size() && zoom >= kZoomLeast && zoom <= kZoomMost)
            settings.zoomPercent = zoom;
    }
    return settings;
}

std::string formatEditorSettings(const EditorSettings& settings) {
    return std::string(kZoomKey) + "=" + std::to_string(settings.zoomPercent) + "\n" + std::string(kPortKey) +
           "=" + settings.port + "\n";
}

EditorSettings loadEditorSettings(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    // A settings file is a few bytes; anything past 4 KiB is not one of ours.
    char buffer[4096];
    in.read(buffer, sizeof buffer);
    text.write(buffer, in.gcount());
    return parseEditorSettings(text.str());
}

bool saveEditorSettings(const std::filesystem::path& file, const EditorSettings& settings) {
    if (file.empty()) return false;
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::filesystem::path temporary = file;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << formatEditorSettings(settings);
        if (!out.flush()) return false;
    }
    std::filesystem::rename(temporary, file, ec);
    return !ec;
}

}  // namespace halvard
