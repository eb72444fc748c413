#include "cli/cli_output.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace halvard::cli {

int fail(const std::string& reason) {
    std::fprintf(stderr, "halvard-cli: %s\n", reason.c_str());
    return kExitFailed;
}

int refuse(const std::string& what, const std::string& yesDoes) {
    std::fprintf(stderr, "halvard-cli: %s; nothing sent (--yes %s)\n", what.c_str(), yesDoes.c_str());
    return kExitRefused;
}

int failedAfterChange(const std::string& reason, const std::vector<int>& changed,
                      std::optional<int64_t> undoBackup) {
    std::string text = reason;
    if (!changed.empty()) text += "; changed on the amplifier: " + programList(changed);
    text += undoBackup
                ? "; kept backup " + std::to_string(*undoBackup) +
                      " undoes it (halvard-cli restore --backup " + std::to_string(*undoBackup) + " --yes)"
                : "; no kept backup undoes it";
    std::fprintf(stderr, "halvard-cli: %s\n", text.c_str());
    return kExitPartial;
}

void warn(const std::string& text) {
    std::fprintf(stderr, "halvard-cli: warning: %s\n", text.c_str());
}

void note(const std::string& text) {
    std::fprintf(stderr, "halvard-cli: %s\n", text.c_str());
}

int report(const CliOptions& options, const Json& json, const std::string& text) {
    if (options.json)
        printJson(json);
    else
        std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return kExitDone;
}

std::string versionText(uint16_t version) {
    return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

std::string programList(const std::vector<int>& programs) {
    std::string text;
    bool globals = false;
    size_t count = 0;
    for (const int p : programs) {
        if (p < 0) {
            globals = true;
            continue;
        }
        text += (count++ == 0 ? "program" + std::string(programs.size() > 1 ? "s " : " ") : ", ") +
                std::to_string(p);
    }
    if (globals) text += count == 0 ? "the global settings" : " and the global settings";
    return text;
}

void printJson(const Json& json) {
    // Names come from the library's file, which another program may have written: any bytes that
    // are not UTF-8 are replaced rather than refused.
    std::printf("%s\n", json.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
}

ProgressDisplay::ProgressDisplay(std::string label)
    : label_(std::move(label)), tty_(isatty(STDERR_FILENO) == 1) {}

ProgressDisplay::~ProgressDisplay() {
    if (tty_ && last_ >= 0) std::fputc('\n', stderr);
}

void ProgressDisplay::show(int percent) {
    if (!tty_ || percent < 0 || percent > 100 || percent == last_) return;
    const int filled = percent * 30 / 100;
    std::fprintf(stderr, "\r%s [%s%s] %3d%%", label_.c_str(),
                 std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(30 - filled), '.').c_str(), percent);
    std::fflush(stderr);
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
