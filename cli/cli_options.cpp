#include "cli/cli_options.hpp"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <utility>

#include "program_library/program_library.hpp"
#include "util/option_scanner.hpp"

namespace halvard::cli {
namespace {

const std::vector<OptionSpec> kOptions = {
    {"--port", "TEXT", "the amplifier's ports are the first whose names contain TEXT (default VDR)"},
    {"--api", "jack|alsa", "only this MIDI system (default: ALSA, and JACK while a server runs)"},
    {"--library", "PATH", "the program library's file (default: $HALVARD_LIBRARY, else the data folder's)"},
    {"--json", "", "the result as one JSON object on standard output"},
    {"--program", "N", "the program the amplifier is left on, 0..127 (default 0)"},
    {"--backup", "ID", "a kept backup instead of a file (see backups)"},
    {"--yes", "", "go ahead although the amplifier's programs would change"},
    {"--no-verify", "", "do not read the programs back"},
    {"--force", "", "also when the image is not newer than the amplifier's firmware"},
    {"--list", "", "list the factory IRs instead"},
    {"--no-backup", "", "go ahead even when no automatic backup of the programs can be kept"},
    {"--search", "TEXT", "only the entries whose name, tags or notes contain TEXT (A-Z in either case)"},
    {"--name", "TEXT", "the entry's name (with --program and no FILE)"},
};

const OptionSpec* findOption(std::string_view name) {
    for (const OptionSpec& o : kOptions)
        if (o.name == name) return &o;
    return nullptr;
}

// An option a command takes; help, when given, replaces the option's own.
struct TakenOption {
    std::string_view name;
    std::string_view help = {};
};

// The options of every command that talks to the amplifier.
const std::vector<TakenOption> kPorts = {{"--port"}, {"--api"}};

// What a command takes: its operands, its options and its help.
struct CommandInfo {
    std::string_view name;
    std::string_view usage;  // operands, for the usage line
    size_t operands;
    std::vector<TakenOption> options;
    std::string_view summary;  // for the overview
    std::string_view help;
    size_t optionalOperands = 0;  // operands beyond `operands` that may be left out
};

std::vector<TakenOption> with(std::vector<TakenOption> own, const std::vector<TakenOption>& more) {
    own.insert(own.end(), more.begin(), more.end());
    return own;
}

const std::vector<CommandInfo>& commands() {
    static const std::vector<CommandInfo> table = {
        {"ports", "", 0, with({{"--json"}}, kPorts), "the MIDI ports, the amplifier's marked",
         "Lists the MIDI input and output ports; '*' marks the amplifier's (see --port).\n"},
        {"info", "", 0,
         with({{"--json"}, {"--program", "the program to read and end on, 0..127 (default 0)"}}, kPorts),
         "firmware version, globals, a program, slot names",
         "Reads the firmware version, the global settings, one program's settings and the six user IR\n"
         "slot names. Reads select programs: the global settings come with program 0, so program 0 is\n"
         "read first, and the amplifier is left on program N (--program N, default 0).\n"},
        {"backup", "FILE", 1, with({{"--json"}, {"--program"}, {"--library"}}, kPorts),
         "all 128 programs into a SysEx file, kept in the library",
         "Reads all 128 programs and writes them to FILE as SysEx (settings write and preset store for\n"
         "each, then a settings write that selects program N), so that any SysEx tool can play it\n"
         "back. The file is written only after every read was answered. The backup is also kept in the\n"
         "program library with the programs' names (see backups). Reads select programs: the\n"
         "amplifier is left on program N.\n"},
        {"restore", "[FILE]", 0,
         with({{"--backup"},
               {"--yes"},
               {"--no-backup", "restore even when no automatic backup can be kept"},
               {"--no-verify"},
               {"--json"},
               {"--library"}},
              kPorts),
         "programs from a SysEx file or a kept backup, read back and compared",
         "Checks all of FILE (only settings writes and preset stores, each program stored at most\n"
         "once, 7-bit data), or takes kept backup ID (--backup ID). Then reads the amplifier's programs\n"
         "and lists the programs and global settings that would change; when any would, nothing is\n"
         "sent without --yes (exit code 3). What was read is kept as an automatic backup in the\n"
         "library, or, when the library cannot be used, as a .syx file in the backups folder; when\n"
         "neither can keep it, nothing is sent without --no-backup.\n"
         "Then sends the programs, reads every stored one back and compares it with what was sent. A\n"
         "refused file sends nothing; a failure after programs were sent ends with exit code 4 and\n"
         "names them and the kept backup that undoes the restore. A kept backup brings back its names\n"
         "as well.\n",
         1},
        {"compare", "[FILE.syx]", 0, with({{"--backup"}, {"--json"}, {"--program"}, {"--library"}}, kPorts),
         "the programs a restore of a file or kept backup would change",
         "Reads the amplifier's programs and lists those FILE.syx (or kept backup ID) would change,\n"
         "by number and name, with the settings that differ, and the global settings that would\n"
         "change. Nothing is written, but reads select programs: the amplifier is left on program N\n"
         "(default 0), and edits it has not stored are dropped.\n"
         "Exit code 0: nothing differs; 1: something does; 2: an error.\n",
         1},
        {"programs", "", 0, with({{"--json"}, {"--program"}, {"--library"}}, kPorts),
         "the 128 programs with their names",
         "Reads all 128 programs and prints each with its number, name and settings. A name marked\n"
         "'?' (\"stale\" in JSON) was given to a program that has since been changed on the amplifier\n"
         "itself; naming it again confirms it. Reads select programs: the amplifier is left on\n"
         "program N (default 0).\n"},
        {"programs name",
         "N [TEXT]",
         1,
         {{"--json"}, {"--library"}},
         "name program N (no TEXT: clear its name)",
         "Sets the name of program N (0..127) in the program library: up to 24 characters. Without\n"
         "TEXT the name is cleared. Needs no amplifier; the name is bound to the program's settings at\n"
         "the next read.\n",
         1},
        {"programs copy", "FROM TO", 2,
         with({{"--yes", "copy even though program TO would change (without it: exit code 3)"},
               {"--no-backup", "copy even when no automatic backup can be kept"},
               {"--json"},
               {"--library"}},
              kPorts),
         "copy a program over another, with its name",
         "Writes program FROM's settings to program TO, stores and reads it back. The name follows.\n"
         "All programs are read and kept first, as restore keeps them; when TO differs from FROM,\n"
         "nothing is sent without --yes. The amplifier is left on program 0.\n"},
        {"programs swap", "A B", 2,
         with({{"--yes", "swap even though the programs would change (without it: exit code 3)"},
               {"--no-backup", "swap even when no automatic backup can be kept"},
               {"--json"},
               {"--library"}},
              kPorts),
         "exchange two programs, with their names",
         "Exchanges programs A and B on the amplifier, each stored and read back. The names follow.\n"
         "All programs are read and kept first, as restore keeps them; when A and B differ, nothing\n"
         "is sent without --yes. The amplifier is left on program 0.\n"},
        {"programs export", "N FILE", 2,
         with({{"--json"}, {"--library", "the program library's file (for the program's name)"}}, kPorts),
         "program N into a program file",
         "Reads program N (0..127) and writes it to FILE as a program file (JSON: its name, every\n"
         "setting by name, the names of the user IR slots its IR choices point at). The amplifier is\n"
         "left on program N.\n"},
        {"programs import", "FILE N", 2,
         with({{"--yes", "replace program N even though it differs (without it: exit code 3)"},
               {"--no-backup", "import even when no automatic backup can be kept"},
               {"--program", "the program to take from a backup .syx"},
               {"--json"},
               {"--library"}},
              kPorts),
         "a program file (or .syx) into program N, after a backup",
         "Reads FILE (a program file, a .syx of one settings write, or a backup .syx with --program\n"
         "P picking its program P) and writes it to program N: stored and read back, as programs copy\n"
         "does, after all programs were kept as an automatic backup. When program N holds something\n"
         "else, nothing is sent without --yes. The program's name follows (a .syx has none: program\n"
         "N's name is cleared). The amplifier is left on program 0.\n"},
        {"backups", "", 0, with({{"--json"}, {"--program"}, {"--library"}}, kPorts),
         "the backups kept in the library",
         "Lists the kept backups: id, time (UTC), reason, firmware version, and, when the amplifier is\n"
         "there, how many of its programs differ from each. Reads select programs: the amplifier is\n"
         "left on program N (default 0). A read that is not answered ends with exit code 1.\n"},
        {"collection list",
         "",
         0,
         {{"--search"}, {"--json"}, {"--library"}},
         "the programs kept in the collection",
         "Lists the collection's entries by name: id, name, tags and settings. Needs no amplifier.\n"},
        {"collection add", "[FILE...]", 0,
         with({{"--program", "the amplifier's program (without FILE), or the one to pick from a backup"},
               {"--name"},
               {"--json"},
               {"--library"}},
              kPorts),
         "program files, or a program of the amplifier, into the collection",
         "Adds each FILE (a program file, a .syx of one settings write, or a backup .syx with\n"
         "--program P picking its program P) to the collection; a program without a name is named\n"
         "after its file. A file that cannot be read is named with its reason, the others are added\n"
         "(exit code 1 all the same). Without FILE, --program N adds the amplifier's program N (as it\n"
         "is stored), with the names of the user IR slots its IR choices point at, named --name TEXT,\n"
         "else by its name in the library, else \"Program N\"; the amplifier is left on program N.\n",
         1000},
        {"collection show",
         "ID",
         1,
         {{"--json"}, {"--library"}},
         "one entry of the collection with its settings",
         "Prints entry ID: its name, tags, notes, where and when it came from, the user IR slot names\n"
         "its IR choices pointed at then, and every setting. Needs no amplifier.\n"},
        {"collection export",
         "ID FILE",
         2,
         {{"--json"}, {"--library"}},
         "one entry into a program file",
         "Writes entry ID to FILE as a program file, with its tags and notes. Needs no amplifier.\n"},
        {"collection load", "ID", 1,
         with({{"--program", "the amplifier's current program, 0..127 (default 0)"},
               {"--json"},
               {"--library"}},
              kPorts),
         "an entry into the current program, to try it (not stored)",
         "Writes entry ID to the amplifier's current program as an edit, without storing it: another\n"
         "program selected, or the amplifier switched off, and it is gone. The current program is the\n"
         "one --program names (default 0, where the other commands leave the amplifier). A user IR\n"
         "slot whose name differs from the one the entry's IR choice pointed at is named.\n"},
        {"collection place", "ID N", 2,
         with({{"--yes", "replace program N even though it differs (without it: exit code 3)"},
               {"--no-backup", "place even when no automatic backup can be kept"},
               {"--json"},
               {"--library"}},
              kPorts),
         "an entry into program N, after a backup",
         "Writes entry ID to program N (0..127): stored and read back, as programs copy does, after\n"
         "all programs were kept as an automatic backup. When program N holds something else, nothing\n"
         "is sent without --yes. Program N takes the entry's name. The amplifier is left on program 0.\n"},
        {"collection remove",
         "ID",
         1,
         {{"--json"}, {"--library"}},
         "remove an entry from the collection",
         "Removes entry ID from the collection. Needs no amplifier.\n"},
        {"collection tag",
         "ID [TAG...]",
         1,
         {{"--json"}, {"--library"}},
         "set an entry's tags (none: clear them)",
         "Sets the tags of entry ID to the TAGs given (each up to 32 characters, no comma); without\n"
         "TAG its tags are cleared. Needs no amplifier.\n",
         1000},
        {"ir import", "SLOT FILE.wav", 2, with({{"--json"}}, kPorts), "a WAV file into a user IR slot",
         "Converts a WAV file (44.1 to 96 kHz, mono or stereo, PCM or float; cut to 4096 samples at\n"
         "48 kHz) and stores it in user IR slot SLOT (1..6). A file that cannot be imported is refused\n"
         "with the reason, and nothing is sent.\n"},
        {"ir factory", "SLOT INDEX", 2,
         with({{"--json"}, {"--list", "list the factory IRs (INDEX and name) instead; no amplifier needed"}},
              kPorts),
         "a factory IR into a user IR slot, or --list them",
         "Stores factory IR INDEX (0..14) in user IR slot SLOT (1..6). With --list, prints the factory\n"
         "IRs instead, one a line: INDEX and name.\n"},
        {"ir extract",
         "DIR",
         1,
         {{"--json"}},
         "the factory IRs as WAV files",
         "Writes the 15 factory IRs into DIR as WAV files (48 kHz mono float). No amplifier needed.\n"},
        {"firmware flash", "FILE.bin", 1,
         with({{"--yes", "required: flashing cannot be undone from here (without it: exit code 3)"},
               {"--force"},
               {"--no-backup", "flash even when no backup can be kept"},
               {"--json"},
               {"--library"}},
              kPorts),
         "a local firmware image, after a backup",
         "Sends a local firmware image (exactly 131072 bytes) to the amplifier and restarts it. All\n"
         "programs are backed up first into the backups folder and kept in the program library;\n"
         "when neither can keep them nothing is sent without --no-backup.\n"},
        {"monitor", "", 0, kPorts, "every message to and from the amplifier",
         "Prints every message from the amplifier, and every message Halvard Editor sends it (its\n"
         "port \"midi Output\"), as hex and decoded, until Ctrl-C.\n"},
    };
    return table;
}

const CommandInfo* findCommand(std::string_view name) {
    for (const CommandInfo& c : commands())
        if (c.name == name) return &c;
    return nullptr;
}

bool isGroup(std::string_view word) {
    for (const CommandInfo& c : commands())
        if (c.name.size() > word.size() && c.name.starts_with(word) && c.name[word.size()] == ' ')
            return true;
    return false;
}

bool takes(const CommandInfo& info, std::string_view option) {
    return std::any_of(info.options.begin(), info.options.end(),
                       [&](const TakenOption& o) { return o.name == option; });
}

std::optional<int> parseInt(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string checkOperands(const CliOptions& o) {
    const auto inRange = [&](size_t i, int lowest, int highest, std::string_view what) -> std::string {
        const std::optional<int> v = parseInt(o.operands[i]);
        if (!v || *v < lowest || *v > highest)
            return std::string(what) + " wants " + std::to_string(lowest) + ".." + std::to_string(highest) +
                   ", not \"" + o.operands[i] + "\"";
        return {};
    };
    if (o.command == "ir import") return inRange(0, 1, 6, "SLOT");
    if (o.command == "ir factory" && !o.list) {
        std::string error = inRange(0, 1, 6, "SLOT");
        return error.empty() ? inRange(1, 0, 14, "INDEX") : error;
    }
    if (o.command == "programs name") {
        std::string error = inRange(0, 0, 127, "N");
        if (error.empty() && o.operands.size() > 1) error = checkProgramName(o.operands[1]);
        return error;
    }
    if (o.command == "programs copy" || o.command == "programs swap") {
        std::string error = inRange(0, 0, 127, "a program");
        if (error.empty()) error = inRange(1, 0, 127, "a program");
        if (error.empty() && parseInt(o.operands[0]) == parseInt(o.operands[1]))
            error = "the two programs must differ";
        return error;
    }
    if ((o.command == "restore" || o.command == "compare") && o.operands.empty() == !o.backup)
        return o.command + " wants a FILE or --backup ID (one of them)";
    if (o.command.starts_with("collection ") && o.command != "collection list" &&
        o.command != "collection add") {
        const std::optional<int> id = parseInt(o.operands[0]);
        if (!id || *id < 1)
            return "ID wants the id of a collection entry (see collection list), not \"" + o.operands[0] +
                   "\"";
    }
    if (o.command == "collection place") return inRange(1, 0, 127, "N");
    if (o.command == "programs export") return inRange(0, 0, 127, "N");
    if (o.command == "programs import") return inRange(1, 0, 127, "N");
    if (o.command == "collection add") {
        if (o.operands.empty() && !o.program) return "collection add wants FILE... or --program N";
        if (o.name && !o.operands.empty()) return "--name goes with --program N, without FILE";
        if (o.name) return o.name->empty() ? "--name wants a name" : checkProgramName(*o.name);
    }
    if (o.command == "collection tag") {
        for (size_t i = 1; i < o.operands.size(); ++i)
            if (std::string error = checkTag(o.operands[i]); !error.empty())
                return error + ": \"" + o.operands[i] + "\"";
    }
    return {};
}

// The options that take no value, and what each sets.
constexpr std::pair<std::string_view, bool CliOptions::*> kFlags[] = {
    {"--help", &CliOptions::help},          {"-h", &CliOptions::help},
    {"--version", &CliOptions::version},    {"--json", &CliOptions::json},
    {"--no-verify", &CliOptions::noVerify}, {"--yes", &CliOptions::yes},
    {"--force", &CliOptions::force},        {"--list", &CliOptions::list},
    {"--no-backup", &CliOptions::noBackup},
};

// "  --program N       text"
std::string optionLine(std::string_view name, std::string_view value, std::string_view help) {
    std::string line = "  " + std::string(name) + (value.empty() ? "" : " " + std::string(value));
    line.resize(std::max<size_t>(line.size() + 2, 20), ' ');
    return line + std::string(help) + "\n";
}

// "  ir import SLOT FILE.wav     text"
std::string commandLine(const CommandInfo& c) {
    std::string line = "  " + std::string(c.name) + (c.usage.empty() ? "" : " " + std::string(c.usage));
    line.resize(std::max<size_t>(line.size() + 2, 30), ' ');
    return line + std::string(c.summary) + "\n";
}

}  // namespace

ParsedCli parseCli(std::span<const std::string_view> args) {
    ParsedCli result;
    CliOptions& o = result.options;
    std::vector<std::string> words;
    std::vector<std::string> seen;  // options given, to check against the command
    OptionScanner scan(args, result.error);
    while (scan.next()) {
        if (!scan.isOption()) {
            words.emplace_back(scan.argument());
            continue;
        }
        const std::string_view arg = scan.name();
        const OptionSpec* spec = findOption(arg);
        std::string_view value;  // an option's value, once taken from "--name=value" or the next argument
        if (spec != nullptr && !spec->value.empty() ? !scan.takeValue(value) : !scan.noValue()) break;
        const auto flag =
            std::find_if(std::begin(kFlags), std::end(kFlags), [&](const auto& f) { return f.first == arg; });
        // --help and --version go with every command; any other option must be one of the table's.
        if (spec == nullptr && flag == std::end(kFlags)) {
            result.error = "unknown option " + std::string(arg);
            break;
        }
        if (spec != nullptr) seen.emplace_back(arg);
        if (flag != std::end(kFlags)) {
            o.*(flag->second) = true;
        } else if (arg == "--port") {
            if (value.empty()) result.error = "--port wants a text the port names contain";
            o.port = value;
        } else if (arg == "--api") {
            if (value == "jack")
                o.api = MidiApi::Jack;
            else if (value == "alsa")
                o.api = MidiApi::Alsa;
            else
                result.error = "--api wants jack or alsa";
        } else if (arg == "--program") {
            o.program = parseInt(value);
            if (!o.program || *o.program < 0 || *o.program > 127) result.error = "--program wants 0..127";
        } else if (arg == "--library") {
            if (value.empty()) result.error = "--library wants a file";
            o.library = value;
        } else if (arg == "--search") {
            o.search = value;
        } else if (arg == "--name") {
            o.name = value;
        } else if (arg == "--backup") {
            const std::optional<int> id = parseInt(value);
            if (!id || *id < 1) result.error = "--backup wants the id of a kept backup (see backups)";
            o.backup = id;
        }
    }
    if (!result.error.empty() || o.version) return result;
    if (words.empty()) {
        if (!o.help) result.error = "no command given";
        return result;
    }

    size_t first = 1;
    o.command = words[0];
    if (words.size() > 1 && findCommand(words[0] + " " + words[1]) != nullptr) {
        o.command += " " + words[1];
        first = 2;
    }
    const CommandInfo* info = findCommand(o.command);
    if (info == nullptr) {
        if (isGroup(o.command) && words.size() == 1 && seen.empty()) {
            if (!o.help) result.error = o.command + " wants a command (halvard-cli " + o.command + " --help)";
        } else {
            result.error = "unknown command \"" + o.command + (words.size() > 1 ? " " + words[1] : "") + "\"";
        }
        return result;
    }
    for (const std::string& option : seen) {
        if (!takes(*info, option)) {
            result.error = option + " does not go with " + o.command;
            return result;
        }
    }
    if (o.help) return result;
    o.operands.assign(words.begin() + static_cast<std::ptrdiff_t>(first), words.end());
    const size_t wanted = o.list ? 0 : info->operands;  // ir factory --list
    const size_t optional = o.list ? 0 : info->optionalOperands;
    if (o.operands.size() < wanted || o.operands.size() > wanted + optional) {
        result.error =
            o.command + (wanted == 0 ? " takes no operands" : " wants " + std::string(info->usage));
        return result;
    }
    result.error = checkOperands(o);
    return result;
}

std::string helpText(const std::string& command) {
    if (const CommandInfo* info = findCommand(command)) {
        std::string text = "Usage: halvard-cli " + std::string(info->name);
        if (!info->usage.empty()) text += " " + std::string(info->usage);
        text += info->options.empty() ? "\n\n" : " [options]\n\n";
        text += std::string(info->help);
        if (isGroup(command)) {
            text += "\nIts commands (halvard-cli " + command + " COMMAND --help):\n";
            for (const CommandInfo& c : commands())
                if (c.name.starts_with(command + " ")) text += commandLine(c);
        }
        if (!info->options.empty()) text += "\nOptions:\n";
        for (const TakenOption& taken : info->options) {
            const OptionSpec& spec = *findOption(taken.name);
            text += optionLine(spec.name, spec.value, taken.help.empty() ? spec.help : taken.help);
        }
        return text;
    }
    if (isGroup(command)) {
        std::string text = "Usage: halvard-cli " + command + " COMMAND [operands] [options]\n\nCommands:\n";
        for (const CommandInfo& c : commands())
            if (c.name.starts_with(command + " ")) text += commandLine(c);
        return text + "\nEach command's options: halvard-cli " + command + " COMMAND --help\n";
    }
    std::string text =
        "halvard-cli: the command-line companion of Halvard Editor\n\n"
        "Usage: halvard-cli COMMAND [operands] [options]\n\nCommands:\n";
    for (const CommandInfo& c : commands()) text += commandLine(c);
    text += "\nOptions (each command takes those its --help lists):\n";
    for (const OptionSpec& spec : kOptions) text += optionLine(spec.name, spec.value, spec.help);
    text += optionLine("--help", "", "this text, or a command's own (halvard-cli backup --help)");
    text += optionLine("--version", "", "the program's version");
    text += optionLine("--", "", "what follows are operands, even when they start with '-'");
    text +=
        "\nStandard output carries only the result; progress and notes go to standard error.\n"
        "Exit codes: 0 done; 1 failed, nothing changed; 2 usage error; 3 refused without --yes,\n"
        "nothing sent; 4 failed after the amplifier was partly changed. compare: 0 nothing differs,\n"
        "1 something does, 2 an error.\n";
    return text;
}

std::vector<std::string_view> commandNames() {
    std::vector<std::string_view> names;
    for (const CommandInfo& c : commands()) names.push_back(c.name);
    return names;
}

std::vector<std::string_view> commandGroups() {
    std::vector<std::string_view> groups;
    for (const CommandInfo& c : commands()) {
        const std::string_view group = c.name.substr(0, c.name.find(' '));
        if (group != c.name && std::find(groups.begin(), groups.end(), group) == groups.end())
            groups.push_back(group);
    }
    return groups;
}

std::vector<std::string_view> commandOptions(std::string_view command) {
    std::vector<std::string_view> names;
    if (const CommandInfo* info = findCommand(command))
        for (const TakenOption& o : info->options) names.push_back(o.name);
    return names;
}

const std::vector<OptionSpec>& allOptions() {
    return kOptions;
}

}  // namespace halvard::cli
