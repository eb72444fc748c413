#pragma once
// The amplifier emulator as a child process for end-to-end tests: started with its control channel
// on a pipe, asked through control commands, stopped (by its process id) when the object goes.
// The child gets SIGTERM if the test process dies first, so no emulator outlives its test.

#include <sys/types.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/librarian/program_backup.hpp"

namespace halvard::e2e {

using namespace std::chrono_literals;

// True when a JACK server answers (the one JACK_DEFAULT_SERVER names, as ./scripts/test starts it).
bool jackServerRuns();

// Makes sure a JACK server runs for this process and the ones it starts: the one that answers, or
// else a private one (dummy backend, synchronous mode) started now under a unique name, exported
// in JACK_DEFAULT_SERVER and stopped by its process id when this process ends. Call it before the
// first JACK client of the process is made. False, with the reason, if none can be had.
bool ensureJackServer(std::string* why = nullptr);

// A test's start on JACK: ensureJackServer, and folder made empty. "" when both are done, else why
// not.
std::string startJackTest(const std::filesystem::path& folder);

// A child process whose standard input, output and error are pipes to this one; it gets SIGTERM if
// this process dies first. envp null: this process's environment. pid is -1 when it could not be
// started (and no pipe is left open).
struct PipedChild {
    pid_t pid = -1;
    int toChild = -1;
    int fromStdout = -1;
    int fromStderr = -1;
};
PipedChild startPipedChild(char* const* argv, char* const* envp = nullptr);

// A child's standard output and error, each read by a thread of its own to its end a line at a time
// (without its '\n', nor the '\r' a Windows program ends it with): each output line goes to
// onStdoutLine, the error lines are kept here. The streams are closed at their end; join() (or the
// destructor) waits for both threads.
class ChildOutput {
public:
    ChildOutput() = default;
    ~ChildOutput() { join(); }
    ChildOutput(const ChildOutput&) = delete;
    ChildOutput& operator=(const ChildOutput&) = delete;

    void start(const PipedChild& child, std::function<void(std::string line)> onStdoutLine);
    void join();

    // Its standard error so far.
    std::vector<std::string> errorLines() const;
    // The output lines given (as the owner keeps them) and the error lines, for a failure message.
    std::string transcript(const std::string& name, const std::vector<std::string>& out) const;

private:
    std::function<void(std::string)> onStdoutLine_;
    mutable std::mutex mutex_;
    std::vector<std::string> errors_;
    std::thread stdout_;
    std::thread stderr_;
};

// The programs the CLI tests start the emulator with (its --programs FILE): each with its loop
// bypass on, its lead IR its number modulo 3 and its filters at 1, on MIDI channel 4. Writes them
// to file and returns them as a backup ending on program 0 writes them.
ProgramFile writeTestProgramFile(const std::filesystem::path& file);

class EmulatorProcess {
public:
    // Starts halvard-amp-emulator on JACK with these further arguments. Check started().
    explicit EmulatorProcess(std::vector<std::string> args = {});
    ~EmulatorProcess();
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // Started, and its ports open within 10 s: ready for the program under test.
    bool ready() {
        return started() && waitFor([this] { return portsOpen(); });
    }
    bool exited();  // the child has ended (reaps it)

    // One control command and its reply line ("ok ..." or "error ..."); "" if none came within limit.
    std::string command(const std::string& line, std::chrono::milliseconds limit = 5s);

    // The key=value fields of a reply such as "ok counts received=3 02=1".
    static std::map<std::string, std::string> fields(const std::string& reply);

    // Shorthands over the commands.
    bool portsOpen();
    int received(uint8_t code);  // messages with this code received since the last "clear"
    int receivedTotal();
    std::vector<uint8_t> message(int index);         // the index-th message received (-1: the last)
    std::vector<std::vector<uint8_t>> messages();    // every message received since the last "clear"
    std::string recordHex(int program);              // bytes 5..14 of the program's record, hex
    std::string recordsHex();                        // the 128 stored records, one after the other
    std::vector<std::array<uint8_t, 10>> records();  // the same as bytes; empty when none came

    // Polls until ready() holds, at most limit; true if it did.
    template <class Predicate>
    static bool waitFor(Predicate ready, std::chrono::milliseconds limit = 10s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!ready()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    // Everything the child wrote that was not a control reply (protocol log), and its standard error.
    std::vector<std::string> logLines() const;
    std::vector<std::string> errorLines() const { return output_.errorLines(); }
    // Both, for a failure message.
    std::string transcript() const;

private:
    void takeLine(std::string line);

    pid_t pid_ = -1;
    int toChild_ = -1;
    ChildOutput output_;

    mutable std::mutex mutex_;
    std::condition_variable replyArrived_;
    std::deque<std::string> replies_;
    std::vector<std::string> log_;
};

}  // namespace halvard::e2e
