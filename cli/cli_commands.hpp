#pragma once
// halvard-cli's commands on the device library: one thread, the same port seam and exchanges as
// the editor's worker, no window. Each returns the exit code: 0 done, 1 device or file error (after
// a one-line reason on standard error).

#include "cli/cli_options.hpp"

namespace halvard::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs a parsed command line.
int runCommand(const CliOptions& options);

// Ctrl-C: a transfer stops at its next step (exit code 1), monitor ends (exit code 0). Safe in a
// signal handler.
void interrupt();

}  // namespace halvard::cli
