#pragma once
// Windows programs under Wine with their MIDI on the test JACK server, for the Windows end-to-end
// tests, which run on the Linux side beside the amplifier emulator: a program run by
// scripts/wine-run --jack-midi as a child process with its standard streams on pipes, and the
// control channel of the Wine MIDI bridge (the wine-midi fixture). The Windows tree's CTest names
// what they use in the environment:
//   HALVARD_WINE_RUN           scripts/wine-run, and HALVARD_WINEPREFIX the prefix it runs in
//   HALVARD_WINE_MIDI_BRIDGE   the bridge's port file (set by the fixture)
//   HALVARD_WINDOWS_EDITOR, HALVARD_WINDOWS_CLI, HALVARD_WINDOWS_WINMM_PROBE, HALVARD_WINDOWS_MSAA_PROBE,
//   HALVARD_WINDOWS_EDITOR_FIRMWARE   the Windows programs, as Linux paths

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator_process.hpp"

namespace halvard::e2e {

using namespace std::chrono_literals;

// The environment variable's value, or "" when it is not set.
std::string environment(const char* name);

// "Z:\path\to\file" for a Linux path, as Wine's Z: drive shows it.
std::string windowsPath(const std::string& linuxPath);

class WineProgram {
public:
    // Starts the Windows program (a Linux path) with these arguments through wine-run --jack-midi,
    // with extra environment entries ("NAME=value"). Check started().
    explicit WineProgram(const std::string& program, const std::vector<std::string>& args = {},
                         const std::vector<std::string>& env = {});
    // Ends the program (SIGTERM to wine-run, which passes it on) if it still runs.
    ~WineProgram();
    WineProgram(const WineProgram&) = delete;
    WineProgram& operator=(const WineProgram&) = delete;

    bool started() const { return pid_ > 0; }
    // One line to its standard input.
    bool send(const std::string& line);
    // The first line of standard output not taken yet that starts with prefix, waited for up to
    // limit, and taken. nullopt when none came.
    std::optional<std::string> nextLine(const std::string& prefix, std::chrono::milliseconds limit = 10s);
    // The lines not taken yet that start with prefix, taking them.
    std::vector<std::string> takeLines(const std::string& prefix);
    // Its standard error so far.
    std::vector<std::string> errorLines() const { return output_.errorLines(); }
    // Everything it wrote, both streams, for a failure message.
    std::string transcript() const;
    // Its exit code once it has ended within limit.
    std::optional<int> waitForExit(std::chrono::milliseconds limit);
    // Ends it now.
    void stop();

private:
    void takeLine(std::string line);

    pid_t pid_ = -1;
    int toChild_ = -1;
    std::optional<int> exitCode_;
    ChildOutput output_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> out_;
    std::vector<bool> taken_;  // by line of out_
};

// The bridge of the wine-midi fixture, through a control connection that shows its token.
class WineMidiBridge {
public:
    WineMidiBridge();
    ~WineMidiBridge();
    WineMidiBridge(const WineMidiBridge&) = delete;
    WineMidiBridge& operator=(const WineMidiBridge&) = delete;

    bool connected() const { return fd_ >= 0; }
    // One control command and its reply line; "" when none came.
    std::string command(const std::string& line);
    // The fields of "status" (drivers, open, opens, refused, ...).
    std::map<std::string, std::string> status();

    // A bare connection to the bridge's port, nothing sent yet; -1 when there is none.
    static int connectToPort();
    // The token its clients must show (the fixture's wine-midi.token beside the port file).
    static std::string token();

private:
    int fd_ = -1;
    std::string pending_;
};

}  // namespace halvard::e2e
