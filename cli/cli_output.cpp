#include "cli/cli_output.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "cli/cli_commands.hpp"

namespace halvard::cli {

int fail(const std::string& reason) {
    std::fprintf(stderr, "halvard-cli: %s\n", reason.c_str());
    return kExitFailed;
}

void warn(const std::string& text) {
    std::fprintf(stderr, "halvard-cli: warning: %s\n", text.c_str());
}

std::string versionText(uint16_t version) {
    return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

void printJson(const Json& json) {
    // Names come from the library's file, which another program may have written: any bytes that
    // are not UTF-8 are replaced rather than refused.
    std::printf("%s\n", json.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
}

ProgressDisplay::ProgressDisplay(std::string label)
    : label_(std::move(label)), tty_(isatty(STDOUT_FILENO) == 1) {}

ProgressDisplay::~ProgressDisplay() {
    if (tty_ && last_ >= 0) std::fputc('\n', stdout);
}

void ProgressDisplay::show(int percent) {
    if (percent < 0 || percent > 100 || percent == last_) return;
    if (tty_) {
        const int filled = percent * 30 / 100;
        std::printf("\r%s [%s%s] %3d%%", label_.c_str(),
                    std::string(static_cast<size_t>(filled), '#').c_str(),
                    std::string(static_cast<size_t>(30 - filled), '.').c_str(), percent);
    } else if (percent / 10 != last_ / 10 || last_ < 0) {
        std::printf("%s %d%%\n", label_.c_str(), percent / 10 * 10);
    }
    std::fflush(stdout);
    last_ = percent;
}

LibrarianProgress ProgressDisplay::steps() {
    return [this](int done, int total) { show(static_cast<int>(100LL * done / std::max(total, 1))); };
}

std::string programSummary(const ProgramSettings& p) {
    const int ch = p.channel ? 1 : 0;
    const auto on = [](int value, const char* name) { return std::string(value ? name : "-"); };
    return std::string(ch ? "LEAD  " : "RHYTHM") + "  " + on(p.bypass, "BYPASS") + " " +
           on(p.reverb[ch], "REVERB") + " " + on(p.tremolo[ch], "TREMOLO") + " " + on(p.loopBypass, "LOOP") +
           " " + on(p.irBypass, "IR-BYPASS");
}

std::string paddedName(const std::string& name) {
    const auto chars = std::count_if(name.begin(), name.end(),
                                     [](char c) { return (static_cast<uint8_t>(c) & 0xC0) != 0x80; });
    return name +
           std::string(static_cast<size_t>(std::max<std::ptrdiff_t>(kProgramNameMaxChars - chars, 0)), ' ');
}

}  // namespace halvard::cli
