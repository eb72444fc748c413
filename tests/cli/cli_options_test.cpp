// halvard-cli's command line as parseCli reads it: each command with its operands and options, the
// usage errors (exit code 2) before any port is opened, and "--" ending the options.

#include "cli/cli_options.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace halvard::cli {
namespace {

// The command line split at spaces, as a shell would without quotes.
ParsedCli parse(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) words.push_back(word);
    const std::vector<std::string_view> args(words.begin(), words.end());
    return parseCli(args);
}

TEST(CliOptions, EveryCommandTakesItsOperandsAndOptions) {
    const struct {
        const char* line;
        const char* command;
        size_t operands;
    } cases[] = {
        {"ports --api jack", "ports", 0},
        {"info --json --program 5", "info", 0},
        {"backup b.syx --program 3 --library l.sqlite3", "backup", 1},
        {"restore b.syx --yes --no-verify", "restore", 1},
        {"restore --backup 2", "restore", 0},
        {"compare --json b.syx", "compare", 1},
        {"programs --json", "programs", 0},
        {"programs name 3 Lead", "programs name", 2},
        {"programs name 3", "programs name", 1},
        {"programs copy 1 2", "programs copy", 2},
        {"programs swap 127 0", "programs swap", 2},
        {"backups --json", "backups", 0},
        {"ir import 1 a.wav", "ir import", 2},
        {"ir factory 6 14", "ir factory", 2},
        {"ir factory --list", "ir factory", 0},
        {"ir extract irs", "ir extract", 1},
        {"firmware flash f.bin --yes --force", "firmware flash", 1},
        {"firmware flash f.bin", "firmware flash", 1},  // refused later, with exit code 3
        {"compare b.syx --program 7", "compare", 1},
        {"monitor --port=Amp --api alsa", "monitor", 0},
        {"programs export 5 p.halvard-program", "programs export", 2},
        {"programs import b.syx 5 --yes --program 9", "programs import", 2},
        {"collection list --json --search clean", "collection list", 0},
        {"collection add a.halvard-program b.syx c.syx --program 3", "collection add", 3},
        {"collection add --program 3 --name Lead", "collection add", 0},
        {"collection show 4 --json", "collection show", 1},
        {"collection export 4 e.halvard-program", "collection export", 2},
        {"collection load 4 --program 2", "collection load", 1},
        {"collection place 4 127 --yes", "collection place", 2},
        {"collection remove 4", "collection remove", 1},
        {"collection tag 4 live warm", "collection tag", 3},
        {"collection tag 4", "collection tag", 1},
    };
    for (const auto& c : cases) {
        const ParsedCli parsed = parse(c.line);
        EXPECT_EQ(parsed.error, "") << c.line;
        EXPECT_EQ(parsed.options.command, c.command) << c.line;
        EXPECT_EQ(parsed.options.operands.size(), c.operands) << c.line;
    }
    const CliOptions info = parse("info --json --program 5").options;
    EXPECT_TRUE(info.json);
    EXPECT_EQ(info.program, 5);
    EXPECT_EQ(info.port, "VDR");
    const CliOptions monitor = parse("monitor --port=Amp --api alsa").options;
    EXPECT_EQ(monitor.port, "Amp");
    EXPECT_EQ(monitor.api, MidiApi::Alsa);
    EXPECT_EQ(parse("restore --backup 2").options.backup, 2);
    EXPECT_EQ(parse("backup b.syx --library l.sqlite3").options.library, "l.sqlite3");
}

TEST(CliOptions, UsageErrorsNameWhatIsWrong) {
    const struct {
        const char* line;
        const char* error;
    } cases[] = {
        {"", "no command given"},
        {"frobnicate", "unknown command \"frobnicate\""},
        {"ir flash x", "unknown command \"ir flash\""},
        {"info --bogus", "unknown option --bogus"},
        {"info --program", "--program needs a value"},
        {"info --json=1", "--json takes no value"},
        {"info --program 128", "--program wants 0..127"},
        {"ports --api midi", "--api wants jack or alsa"},
        {"restore --backup 0", "--backup wants the id of a kept backup (see backups)"},
        {"backup", "backup wants FILE"},
        {"ports extra", "ports takes no operands"},
        {"restore a.syx --force", "--force does not go with restore"},
        {"restore a.syx --backup 1", "restore wants a FILE or --backup ID (one of them)"},
        {"compare", "compare wants a FILE or --backup ID (one of them)"},
        {"ir import 0 a.wav", "SLOT wants 1..6, not \"0\""},
        {"ir factory 7 0", "SLOT wants 1..6, not \"7\""},
        {"ir factory 1 2 --list", "ir factory takes no operands"},
        {"ir", "ir wants a command (halvard-cli ir --help)"},
        {"ir extract x --port VDR", "--port does not go with ir extract"},
        {"ir factory 1 15", "INDEX wants 0..14, not \"15\""},
        {"programs copy 5 05", "the two programs must differ"},
        {"programs name 1x", "N wants 0..127, not \"1x\""},
        {"collection", "collection wants a command (halvard-cli collection --help)"},
        {"collection add", "collection add wants FILE... or --program N"},
        {"collection add a.syx --name X", "--name goes with --program N, without FILE"},
        {"collection show 0", "ID wants the id of a collection entry (see collection list), not \"0\""},
        {"collection place 4 128", "N wants 0..127, not \"128\""},
        {"collection tag 4 a,b", "a tag cannot hold a comma: \"a,b\""},
        {"collection list --yes", "--yes does not go with collection list"},
        {"collection list --port VDR", "--port does not go with collection list"},
        {"programs import b.syx", "programs import wants FILE N"},
    };
    for (const auto& c : cases) EXPECT_EQ(parse(c.line).error, c.error) << c.line;
}

TEST(CliOptions, DoubleDashEndsTheOptions) {
    const ParsedCli parsed = parse("programs name 3 -- --json");
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.options.operands, (std::vector<std::string>{"3", "--json"}));
    EXPECT_FALSE(parsed.options.json);
    EXPECT_EQ(parse("ir extract -- -irs").options.operands, std::vector<std::string>{"-irs"});
}

TEST(CliOptions, HelpNeedsNoOperands) {
    const ParsedCli parsed = parse("restore --help");
    EXPECT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.options.help);
    EXPECT_TRUE(helpText(parsed.options.command).starts_with("Usage: halvard-cli restore [FILE] [options]"));
    EXPECT_TRUE(parse("--version").options.version);
}

// The help of every command and group lists exactly the options the parser lets it take, and
// every other option is refused with it.
TEST(CliOptions, HelpListsExactlyTheOptionsEachCommandTakes) {
    std::vector<std::string_view> names = commandNames();
    for (const std::string_view group : commandGroups()) names.push_back(group);
    ASSERT_GT(names.size(), 15u);
    const auto valueFor = [](std::string_view option) -> std::string {
        if (option == "--api") return "jack";
        if (option == "--port" || option == "--library") return "x";
        return "1";  // --program, --backup
    };
    for (const std::string_view name : names) {
        const std::string command(name);
        const ParsedCli help = parse(command + " --help");
        EXPECT_EQ(help.error, "") << command;
        EXPECT_TRUE(help.options.help) << command;
        const std::string text = helpText(command);
        EXPECT_TRUE(text.starts_with("Usage: halvard-cli " + command)) << text;

        std::vector<std::string> listed;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            if (line.starts_with("  --")) listed.push_back(line.substr(2, line.find(' ', 2) - 2));
        std::vector<std::string> taken;
        for (const std::string_view option : commandOptions(name)) taken.emplace_back(option);
        EXPECT_EQ(listed, taken) << command;

        for (const OptionSpec& option : allOptions()) {
            const std::string given(option.name);
            const bool takes = std::find(taken.begin(), taken.end(), given) != taken.end();
            const std::string line =
                command + " " + given + (option.value.empty() ? "" : " " + valueFor(option.name));
            const bool refused = parse(line).error == given + " does not go with " + command ||
                                 parse(line).error == "unknown command \"" + command + "\"";
            EXPECT_NE(refused, takes) << line << ": " << parse(line).error;
        }
    }
}

}  // namespace
}  // namespace halvard::cli
