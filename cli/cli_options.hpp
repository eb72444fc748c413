#pragma once
// halvard-cli's command line: the command, its operands and the options, checked before any port
// is opened. Pure: no I/O.
//
// One table says what each command takes (cli_options.cpp, commands()): its operands, its options
// and its help. The parser accepts an option only for a command that lists it, and a command's
// --help prints exactly the options it lists; a new command needs only its entry there and its
// function in runCommand's table (cli_commands.cpp). A command named "GROUP WORD" ("ir import")
// makes GROUP a command group: "halvard-cli GROUP --help" lists the group's commands.

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
    bool json = false;              // the result as one JSON object on standard output
    std::string library;            // --library: the program library's file (default: HALVARD_LIBRARY, then
                                    // the user's library.sqlite3)
    std::optional<int64_t> backup;  // restore, compare: a kept backup instead of a file
    bool noVerify = false;          // restore
    bool yes = false;               // firmware flash; restore, programs copy/swap: when programs would change
    bool noBackup = false;       // restore, programs copy/swap, firmware flash: without an automatic backup
    bool force = false;          // firmware flash
    bool list = false;           // ir factory --list
    std::optional<int> program;  // the program to end on (default 0) for the commands that read;
                                 // collection add: the amplifier's program to add, or the one to
                                 // pick from a backup .syx; programs import: the one to pick;
                                 // collection load: the program loaded into (default 0)
    std::optional<std::string> search;  // collection list
    std::optional<std::string> name;    // collection add --program
    bool help = false;                  // --help: for the command or group, or the overview without one
    bool version = false;
};

struct ParsedCli {
    CliOptions options;
    std::string error;  // non-empty: a usage error (exit code 2)
};

ParsedCli parseCli(std::span<const std::string_view> args);

// The overview (command ""), or the help of one command ("ir import", "backup", ...) or group ("ir").
std::string helpText(const std::string& command);

// The parser's own table, for the tests and the manual: every command, every group, and the options
// a command or group takes (beyond --help); nothing for a name that is neither.
std::vector<std::string_view> commandNames();
std::vector<std::string_view> commandGroups();
std::vector<std::string_view> commandOptions(std::string_view command);
// Every option any command takes, and whether it takes a value.
struct OptionSpec {
    std::string_view name;   // "--program"
    std::string_view value;  // "N"; empty: a switch
    std::string_view help;   // what it does, unless the command says otherwise
};
const std::vector<OptionSpec>& allOptions();

}  // namespace halvard::cli
