#pragma once
// halvard-cli's printing. Standard output carries only a command's result: its text, or with
// --json one JSON object on one line. Progress, notes, warnings and the reason of a failure go to
// standard error. The exit codes are those of halvard-cli(1), EXIT STATUS:
//   kExitDone     0  done (compare: nothing differs)
//   kExitFailed   1  failed, nothing on the amplifier changed (compare: something differs)
//   kExitUsage    2  usage error (compare: any error)
//   kExitRefused  3  refused: it would change something and --yes was not given; nothing sent
//   kExitPartial  4  failed after the amplifier was partly changed
// A command returns fail(), refuse() or failedAfterChange() with its reason, or report() with its
// result.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.hpp"
#include "device/librarian/program_backup.hpp"

namespace halvard::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitRefused = 3;
inline constexpr int kExitPartial = 4;

// The channel and the six switches: "LEAD    BYPASS - REVERB - LOOP -"
std::string programSummary(const ProgramSettings& settings);
// A program's name padded with blanks to 24 characters (not bytes), for a column.
std::string paddedName(const std::string& name);

// Written with insertion order kept, so that the output reads in the order the manual gives.
using Json = nlohmann::ordered_json;

// The reason on standard error ("halvard-cli: reason"); returns kExitFailed.
int fail(const std::string& reason);
// Refused for want of --yes: "halvard-cli: <what would change>; nothing sent (--yes <does it>)";
// returns kExitRefused.
int refuse(const std::string& what, const std::string& yesDoes);
// The amplifier was partly changed when the command failed: the reason, the programs changed (in
// 0..127; -1 for the global settings) and the kept backup that undoes it (none: said so). Returns
// kExitPartial.
int failedAfterChange(const std::string& reason, const std::vector<int>& changed,
                      std::optional<int64_t> undoBackup);
void warn(const std::string& text);
// A note on standard error ("halvard-cli: text"), such as where a backup was kept.
void note(const std::string& text);

// A command's result: JSON with --json, else the text (lines, each ending in '\n'). Returns
// kExitDone.
int report(const CliOptions& options, const Json& json, const std::string& text);

// "1.7"
std::string versionText(uint16_t version);

// "3, 5, 9 and the global settings"
std::string programList(const std::vector<int>& programs);

// One object on one line.
void printJson(const Json& json);

// Progress of one transfer on standard error: a bar redrawn in place on a terminal, else nothing.
class ProgressDisplay {
public:
    explicit ProgressDisplay(std::string label);
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    void show(int percent);
    LibrarianProgress steps();

private:
    std::string label_;
    bool tty_;
    int last_ = -1;
};

}  // namespace halvard::cli
