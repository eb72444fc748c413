// halvard-cli: the command-line companion of Halvard Editor. See --help and halvard-cli(1).

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_commands.hpp"
#include "cli/cli_options.hpp"
#include "halvard_version.hpp"

namespace {

extern "C" void onInterrupt(int) {
    halvard::cli::interrupt();
}

}  // namespace

namespace {

int run(const std::vector<std::string_view>& args) {
    using namespace halvard::cli;
    const ParsedCli parsed = parseCli(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "halvard-cli: %s\nTry 'halvard-cli --help'.\n", parsed.error.c_str());
        return kExitUsage;
    }
    const CliOptions& options = parsed.options;
    if (options.version) {
        std::printf("halvard-cli %s\n", halvard::kAppVersion);
        return kExitDone;
    }
    if (options.help) {
        std::printf("%s", helpText(options.command).c_str());
        return kExitDone;
    }
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    return runCommand(options);
}

}  // namespace

#ifdef _WIN32
// The arguments as Windows holds them, UTF-16, turned into the UTF-8 the program works in: narrow
// arguments come in the ANSI code page, which loses a file name's every other character.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> utf8;
    for (int i = 1; i < argc; ++i) {
        const std::u8string text = std::filesystem::path(argv[i]).u8string();
        utf8.emplace_back(text.begin(), text.end());
    }
    return run(std::vector<std::string_view>(utf8.begin(), utf8.end()));
}
#else
int main(int argc, char** argv) {
    return run(std::vector<std::string_view>(argv + 1, argv + argc));
}
#endif
