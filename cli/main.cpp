// halvard-cli: the command-line companion of Halvard Editor. See --help and halvard-cli(1).

#include <csignal>
#include <cstdio>
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

int main(int argc, char** argv) {
    using namespace halvard::cli;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
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
