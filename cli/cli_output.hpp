#pragma once
// halvard-cli's printing: a failure's or a warning's one line on standard error, JSON and the
// progress of a transfer on standard output, and the texts more than one command prints.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "device/librarian/program_backup.hpp"

namespace halvard::cli {

// The reason on standard error; returns kExitFailed.
int fail(const std::string& reason);
void warn(const std::string& text);

// "1.7"
std::string versionText(uint16_t version);

// The channel and the six switches: "LEAD    BYPASS - REVERB - LOOP -"
std::string programSummary(const ProgramSettings& settings);
// A program's name padded with blanks to 24 characters (not bytes), for a column.
std::string paddedName(const std::string& name);

// Written with insertion order kept, so that the output reads in the order the manual gives.
using Json = nlohmann::ordered_json;

// One object on one line.
void printJson(const Json& json);

// Progress of one transfer on standard output: a bar redrawn in place on a terminal, otherwise a
// plain line at every tenth. Standard error keeps only the reason of a failure.
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
