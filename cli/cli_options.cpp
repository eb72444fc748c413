#include "cli/cli_options.hpp"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <utility>

#include "program_library/program_library.hpp"
#include "util/option_scanner.hpp"

namespace halvard::cli {
namespace {

// What a command takes: its operands and the options beyond --port, --api and --help.
struct CommandInfo {
    std::string_view name;
    std::string_view usage;  // operands, for the usage line
    size_t operands;
    std::vector<std::string_view> options;
    std::string_view summary;  // for the overview
    std::string_view help;
    size_t optionalOperands = 0;  // operands beyond `operands` that may be left out
};

const std::vector<CommandInfo>& commands() {
    static const std::vector<CommandInfo> table = {
        {"ports",
         "",
         0,
         {},
         "the MIDI ports, the amplifier's marked",
         "Lists the MIDI input and output ports; '*' marks the amplifier's (see --port).\n"},
        {"info",
         "",
         0,
         {"--json", "--program"},
         "firmware version, globals, a program, slot names",
         "Reads the firmware version, the global settings, one program's settings and the six user IR\n"
         "slot names. The global settings come with program 0, so program 0 is read first; the\n"
         "amplifier is left on program N (--program N, default 0), as after the editor connects.\n"
         "  --json           one JSON object on standard output\n"
         "  --program N      the program to read and end on, 0..127\n"},
        {"backup",
         "FILE",
         1,
         {"--program", "--library"},
         "all 128 programs into a SysEx file, kept in the library",
         "Reads all 128 programs and writes them to FILE as SysEx (settings write and preset store for\n"
         "each, then a settings write that selects program N), so that any SysEx tool can play it\n"
         "back. The file is written only after every read was answered. The backup is also kept in the\n"
         "program library with the programs' names (see backups).\n"
         "  --program N      the program the file ends on and the amplifier is left on (default 0)\n"
         "  --library PATH   the program library's file\n"},
        {"restore",
         "[FILE]",
         0,
         {"--no-verify", "--backup", "--yes", "--library"},
         "programs from a SysEx file or a kept backup, read back and compared",
         "Checks all of FILE (only settings writes and preset stores, each program stored at most\n"
         "once, 7-bit data), or takes kept backup ID (--backup ID). Then reads the amplifier's programs\n"
         "(kept in the library as an automatic backup) and lists the programs and global settings\n"
         "that would change; when any would, nothing is sent without --yes, nor when the library\n"
         "cannot keep that backup.\n"
         "Then sends the programs, reads every stored one back and compares it with what was sent. A\n"
         "refused file sends nothing; a difference ends with exit code 1. A kept backup brings back\n"
         "its names as well.\n"
         "  --backup ID      a kept backup instead of a file (see backups)\n"
         "  --yes            restore even though programs would change\n"
         "  --no-verify      do not read the programs back\n"
         "  --library PATH   the program library's file\n",
         1},
        {"compare",
         "[FILE.syx]",
         0,
         {"--backup", "--json", "--library"},
         "the programs a restore of a file or kept backup would change",
         "Reads the amplifier's programs and lists those FILE.syx (or kept backup ID) would change,\n"
         "by number and name, with the settings that differ, and the global settings that would\n"
         "change. Nothing is written; as each read selects its program, the amplifier is left on\n"
         "program 0 (edits it has not stored are dropped).\n"
         "  --backup ID      a kept backup instead of a file\n"
         "  --json           one JSON object on standard output\n"
         "  --library PATH   the program library's file\n",
         1},
        {"programs",
         "",
         0,
         {"--json", "--library"},
         "the 128 programs with their names",
         "Reads all 128 programs and prints each with its number, name and settings. A name marked\n"
         "'?' (\"stale\" in JSON) was given to a program that has since been changed on the amplifier\n"
         "itself; naming it again confirms it. The amplifier is left on program 0.\n"
         "  --json           one JSON object on standard output\n"
         "  --library PATH   the program library's file\n"},
        {"programs name",
         "N [TEXT]",
         1,
         {"--library"},
         "name program N (no TEXT: clear its name)",
         "Sets the name of program N (0..127) in the program library: up to 24 characters. Without\n"
         "TEXT the name is cleared. Needs no amplifier; the name is bound to the program's settings at\n"
         "the next read.\n"
         "  --library PATH   the program library's file\n",
         1},
        {"programs copy",
         "FROM TO",
         2,
         {"--library"},
         "copy a program over another, with its name",
         "Writes program FROM's settings to program TO, stores and reads it back. The name follows.\n"
         "The amplifier is left on program 0.\n"
         "  --library PATH   the program library's file\n"},
        {"programs swap",
         "A B",
         2,
         {"--library"},
         "exchange two programs, with their names",
         "Exchanges programs A and B on the amplifier, each stored and read back. The names follow.\n"
         "The amplifier is left on program 0.\n"
         "  --library PATH   the program library's file\n"},
        {"backups",
         "",
         0,
         {"--json", "--library"},
         "the backups kept in the library",
         "Lists the kept backups: id, time (UTC), reason, firmware version, and, when the amplifier is\n"
         "there, how many of its programs differ from each (reading them leaves it on program 0).\n"
         "  --json           one JSON object on standard output\n"
         "  --library PATH   the program library's file\n"},
        {"programs export",
         "N FILE",
         2,
         {"--library"},
         "program N into a program file",
         "Reads program N (0..127) and writes it to FILE as a program file (JSON: its name, every\n"
         "setting by name, the names of the user IR slots its IR choices point at). The amplifier is\n"
         "left on program N.\n"
         "  --library PATH   the program library's file (for the program's name)\n"},
        {"programs import",
         "FILE N",
         2,
         {"--yes", "--program", "--library"},
         "a program file (or .syx) into program N, after a backup",
         "Reads FILE (a program file, a .syx of one settings write, or a backup .syx with --program\n"
         "P picking its program P) and writes it to program N: stored and read back, as programs copy\n"
         "does, after all programs were kept in the library as an automatic backup. When program N\n"
         "holds something else, nothing is sent without --yes. The program's name follows (a .syx has\n"
         "none: program N's name is cleared). The amplifier is left on program 0.\n"
         "  --yes            replace program N even though it differs\n"
         "  --program P      the program to take from a backup .syx\n"
         "  --library PATH   the program library's file\n"},
        {"collection list",
         "",
         0,
         {"--json", "--search", "--library"},
         "the programs kept in the collection",
         "Lists the collection's entries by name: id, name, tags and settings. Needs no amplifier.\n"
         "  --search TEXT    only the entries whose name, tags or notes contain TEXT (A-Z in either case)\n"
         "  --json           one JSON object on standard output\n"
         "  --library PATH   the program library's file\n"},
        {"collection add",
         "[FILE...]",
         0,
         {"--program", "--name", "--library"},
         "program files, or a program of the amplifier, into the collection",
         "Adds each FILE (a program file, a .syx of one settings write, or a backup .syx with\n"
         "--program P picking its program P) to the collection; a program without a name is named\n"
         "after its file. A file that cannot be read is named with its reason, the others are added\n"
         "(exit code 1 all the same). Without FILE, --program N adds the amplifier's program N (as it\n"
         "is stored), with the names of the user IR slots its IR choices point at, named --name TEXT,\n"
         "else by its name in the library, else \"Program N\"; the amplifier is left on program N.\n"
         "  --program N      the amplifier's program (without FILE), or the one to pick from a backup\n"
         "  --name TEXT      the entry's name (with --program and no FILE)\n"
         "  --library PATH   the program library's file\n",
         1000},
        {"collection show",
         "ID",
         1,
         {"--json", "--library"},
         "one entry of the collection with its settings",
         "Prints entry ID: its name, tags, notes, where and when it came from, the user IR slot names\n"
         "its IR choices pointed at then, and every setting. Needs no amplifier.\n"
         "  --json           one JSON object on standard output\n"
         "  --library PATH   the program library's file\n"},
        {"collection export",
         "ID FILE",
         2,
         {"--library"},
         "one entry into a program file",
         "Writes entry ID to FILE as a program file, with its tags and notes. Needs no amplifier.\n"
         "  --library PATH   the program library's file\n"},
        {"collection load",
         "ID",
         1,
         {"--program", "--library"},
         "an entry into the current program, to try it (not stored)",
         "Writes entry ID to the amplifier's current program as an edit, without storing it: another\n"
         "program selected, or the amplifier switched off, and it is gone. The current program is the\n"
         "one --program names (default 0, where the other commands leave the amplifier). A user IR\n"
         "slot whose name differs from the one the entry's IR choice pointed at is named.\n"
         "  --program N      the amplifier's current program (default 0)\n"
         "  --library PATH   the program library's file\n"},
        {"collection place",
         "ID N",
         2,
         {"--yes", "--library"},
         "an entry into program N, after a backup",
         "Writes entry ID to program N (0..127): stored and read back, as programs copy does, after\n"
         "all programs were kept in the library as an automatic backup. When program N holds something\n"
         "else, nothing is sent without --yes. Program N takes the entry's name. The amplifier is left\n"
         "on program 0.\n"
         "  --yes            replace program N even though it differs\n"
         "  --library PATH   the program library's file\n"},
        {"collection remove",
         "ID",
         1,
         {"--library"},
         "remove an entry from the collection",
         "Removes entry ID from the collection. Needs no amplifier.\n"
         "  --library PATH   the program library's file\n"},
        {"collection tag",
         "ID [TAG...]",
         1,
         {"--library"},
         "set an entry's tags (none: clear them)",
         "Sets the tags of entry ID to the TAGs given (each up to 32 characters, no comma); without\n"
         "TAG its tags are cleared. Needs no amplifier.\n"
         "  --library PATH   the program library's file\n",
         1000},
        {"ir import",
         "SLOT FILE.wav",
         2,
         {},
         "a WAV file into a user IR slot",
         "Converts a WAV file and stores it in user IR slot SLOT (0..5).\n"},
        {"ir factory",
         "SLOT INDEX",
         2,
         {},
         "a factory IR into a user IR slot",
         "Stores factory IR INDEX (0..14) in user IR slot SLOT (0..5).\n"},
        {"ir extract",
         "DIR",
         1,
         {},
         "the factory IRs as WAV files",
         "Writes the 15 factory IRs into DIR as WAV files (48 kHz mono float). No amplifier needed.\n"},
        {"firmware flash",
         "FILE.bin",
         1,
         {"--yes", "--force", "--library"},
         "a local firmware image, after a backup",
         "Sends a local firmware image (exactly 131072 bytes) to the amplifier and restarts it. All\n"
         "programs are backed up first into the backups folder (and kept in the program library);\n"
         "without a backup nothing is sent.\n"
         "  --yes            required: flashing cannot be undone from here\n"
         "  --force          also when the image is not newer than the amplifier's firmware\n"},
        {"monitor",
         "",
         0,
         {},
         "every message to and from the amplifier",
         "Prints every message from the amplifier, and every message Halvard Editor sends it (its\n"
         "port \"midi Output\"), as hex and decoded, until Ctrl-C.\n"},
    };
    return table;
}

const CommandInfo* findCommand(const std::string& name) {
    for (const CommandInfo& c : commands())
        if (c.name == name) return &c;
    return nullptr;
}

std::optional<int> parseInt(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string checkOperands(const CliOptions& o) {
    const auto inRange = [&](size_t i, int highest, std::string_view what) -> std::string {
        const std::optional<int> v = parseInt(o.operands[i]);
        if (!v || *v < 0 || *v > highest)
            return std::string(what) + " wants 0.." + std::to_string(highest) + ", not \"" + o.operands[i] +
                   "\"";
        return {};
    };
    if (o.command == "ir import") return inRange(0, 5, "SLOT");
    if (o.command == "ir factory") {
        std::string error = inRange(0, 5, "SLOT");
        return error.empty() ? inRange(1, 14, "INDEX") : error;
    }
    if (o.command == "firmware flash" && !o.yes) return "firmware flash needs --yes";
    if (o.command == "programs name") {
        std::string error = inRange(0, 127, "N");
        if (error.empty() && o.operands.size() > 1) error = checkProgramName(o.operands[1]);
        return error;
    }
    if (o.command == "programs copy" || o.command == "programs swap") {
        std::string error = inRange(0, 127, "a program");
        if (error.empty()) error = inRange(1, 127, "a program");
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
    if (o.command == "collection place") return inRange(1, 127, "N");
    if (o.command == "programs export") return inRange(0, 127, "N");
    if (o.command == "programs import") return inRange(1, 127, "N");
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
    {"--force", &CliOptions::force},
};

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
        std::string_view value;  // an option's value, once taken from "--name=value" or the next argument
        if (arg != "--port" && arg != "--api" && arg != "--program" && arg != "--library" &&
            arg != "--backup" && arg != "--search" && arg != "--name" && !scan.noValue())
            break;
        seen.emplace_back(arg);
        const auto flag =
            std::find_if(std::begin(kFlags), std::end(kFlags), [&](const auto& f) { return f.first == arg; });
        if (flag != std::end(kFlags)) {
            o.*(flag->second) = true;
        } else if (arg == "--port") {
            if (!scan.takeValue(value)) break;
            if (value.empty()) result.error = "--port wants a text the port names contain";
            o.port = value;
        } else if (arg == "--api") {
            if (!scan.takeValue(value)) break;
            if (value == "jack")
                o.api = MidiApi::Jack;
            else if (value == "alsa")
                o.api = MidiApi::Alsa;
            else
                result.error = "--api wants jack or alsa";
        } else if (arg == "--program") {
            if (!scan.takeValue(value)) break;
            o.program = parseInt(value);
            if (!o.program || *o.program < 0 || *o.program > 127) result.error = "--program wants 0..127";
        } else if (arg == "--library") {
            if (!scan.takeValue(value)) break;
            if (value.empty()) result.error = "--library wants a file";
            o.library = value;
        } else if (arg == "--search") {
            if (!scan.takeValue(value)) break;
            o.search = value;
        } else if (arg == "--name") {
            if (!scan.takeValue(value)) break;
            o.name = value;
        } else if (arg == "--backup") {
            if (!scan.takeValue(value)) break;
            const std::optional<int> id = parseInt(value);
            if (!id || *id < 1) result.error = "--backup wants the id of a kept backup (see backups)";
            o.backup = id;
        } else {
            result.error = "unknown option " + std::string(arg);
        }
    }
    if (!result.error.empty() || o.version) return result;
    if (words.empty()) {
        if (!o.help) result.error = "no command given";
        return result;
    }

    size_t first = 1;
    o.command = words[0];
    const bool programsCommand = words[0] == "programs" && words.size() > 1 &&
                                 (words[1] == "name" || words[1] == "copy" || words[1] == "swap" ||
                                  words[1] == "export" || words[1] == "import");
    if ((words[0] == "ir" || words[0] == "firmware" || words[0] == "collection" || programsCommand) &&
        words.size() > 1) {
        o.command += " " + words[1];
        first = 2;
    }
    const CommandInfo* info = findCommand(o.command);
    if (info == nullptr) {
        result.error = "unknown command \"" + o.command + "\"";
        return result;
    }
    if (o.help) return result;
    o.operands.assign(words.begin() + static_cast<std::ptrdiff_t>(first), words.end());
    if (o.operands.size() < info->operands || o.operands.size() > info->operands + info->optionalOperands) {
        result.error =
            o.command + (info->operands == 0 ? " takes no operands" : " wants " + std::string(info->usage));
        return result;
    }
    for (const std::string& option : seen) {
        const bool common = option == "--port" || option == "--api" || option == "--library" ||
                            option == "--help" || option == "-h";
        const bool own = std::find(info->options.begin(), info->options.end(), option) != info->options.end();
        if (!common && !own) {
            result.error = option + " does not go with " + o.command;
            return result;
        }
    }
    result.error = checkOperands(o);
    return result;
}

std::string helpText(const std::string& command) {
    if (const CommandInfo* info = findCommand(command)) {
        std::string text = "Usage: halvard-cli " + std::string(info->name);
        if (!info->usage.empty()) text += " " + std::string(info->usage);
        text += " [options]\n\n" + std::string(info->help);
        // The commands that need no amplifier have no use for its port.
        const std::string_view offline[] = {"ir extract",      "programs name",    "backups",
                                            "collection list", "collection show",  "collection export",
                                            "collection tag",  "collection remove"};
        if (std::find(std::begin(offline), std::end(offline), info->name) == std::end(offline))
            text +=
                "  --port TEXT      the amplifier's ports are the first whose names contain TEXT (default "
                "VDR)\n"
                "  --api jack|alsa  only this MIDI system (default: ALSA, and JACK while a server runs)\n";
        return text;
    }
    std::string text =
        "halvard-cli: the command-line companion of Halvard Editor\n\n"
        "Usage: halvard-cli COMMAND [operands] [options]\n\nCommands:\n";
    for (const CommandInfo& c : commands()) {
        std::string line = "  " + std::string(c.name) + (c.usage.empty() ? "" : " " + std::string(c.usage));
        line.resize(std::max<size_t>(line.size() + 2, 30), ' ');
        text += line + std::string(c.summary) + "\n";
    }
    text +=
        "\nCommon options:\n"
        "  --port TEXT      the amplifier's ports are the first whose names contain TEXT (default VDR)\n"
        "  --api jack|alsa  only this MIDI system (default: ALSA, and JACK while a server runs)\n"
        "  --library PATH   the program library (names, kept backups; default: $HALVARD_LIBRARY, else\n"
        "                   library.sqlite3 in the data folder; see the manual page)\n"
        "  --help           this text, or a command's own (halvard-cli backup --help)\n"
        "  --version        the program's version\n"
        "  --               what follows are operands, even when they start with '-'\n\n"
        "Exit codes: 0 done, 1 device or file error (the reason on standard error), 2 usage error.\n";
    return text;
}

}  // namespace halvard::cli
