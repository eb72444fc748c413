#pragma once
// halvard-cli's command line: the command, its operands and the options, checked before any port
// is opened. Pure: no I/O.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/amplifier_port_tag.hpp"

namespace halvard::cli {

enum class MidiApi { Both, Jack, Alsa };

struct CliOptions {
    std::string command;                  // "ports", "info", "backup", ..., "ir import", "firmware flash"
    std::vector<std::string> operands;    // checked in number and form for the command
    std::string port{kAmplifierPortTag};  // the amplifier's ports are the first whose names contain this
    MidiApi api = MidiApi::Both;
    bool json = false;              // info, programs, backups, compare
    std::string library;            // --library: the program library's file (default: HALVARD_LIBRARY, then
                                    // the user's library.sqlite3)
    std::optional<int64_t> backup;  // restore, compare: a kept backup instead of a file
    bool noVerify = false;          // restore
    bool yes = false;               // firmware flash; restore: when programs would change
    bool force = false;             // firmware flash
    std::optional<int> program;     // info, backup: the program to end on (default 0); collection add: the
                                    // amplifier's program to add, or the one to pick from a backup .syx;
                                    // programs import: the one to pick; collection load: the program
                                    // loaded into (default 0)
    std::optional<std::string> search;  // collection list
    std::optional<std::string> name;    // collection add --program
    bool help = false;                  // --help: for the command, or the overview without one
    bool version = false;
};

struct ParsedCli {
    CliOptions options;
    std::string error;  // non-empty: a usage error (exit code 2)
};

ParsedCli parseCli(std::span<const std::string_view> args);

// The overview, or the help of one command ("ir import", "backup", ...).
std::string helpText(const std::string& command);

}  // namespace halvard::cli
