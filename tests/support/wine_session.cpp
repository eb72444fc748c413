#include "wine_session.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "emulator_process.hpp"

extern char** environ;

namespace halvard::e2e {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string windowsPath(const std::string& linuxPath) {
    std::string path = "Z:" + linuxPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// ---- WineProgram --------------------------------------------------------------------------------

WineProgram::WineProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
    std::vector<std::string> argv = {environment("HALVARD_WINE_RUN"), environment("HALVARD_WINEPREFIX"),
                                     "--jack-midi", program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp;
    for (std::string& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    std::vector<std::string> envs;
    for (char** e = environ; *e; ++e) envs.emplace_back(*e);
    envs.insert(envs.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : envs) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (argv[0].empty() || argv[1].empty()) return;

    // wine-run passes a SIGTERM on to the program.
    const PipedChild child = startPipedChild(argp.data(), envp.data());
    if (child.pid <= 0) return;
    pid_ = child.pid;
    toChild_ = child.toChild;
    output_.start(child, [this](std::string line) { takeLine(std::move(line)); });
}

WineProgram::~WineProgram() {
    stop();
    if (toChild_ >= 0) close(toChild_);
    output_.join();
}

void WineProgram::stop() {
    if (pid_ <= 0 || exitCode_) return;
    for (const int signal : {SIGTERM, SIGKILL}) {
        kill(pid_, signal);
        if (waitForExit(10s)) return;
    }
}

std::optional<int> WineProgram::waitForExit(std::chrono::milliseconds limit) {
    if (pid_ <= 0 || exitCode_) return exitCode_;
    EmulatorProcess::waitFor(
        [&] {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        },
        limit);
    return exitCode_;
}

bool WineProgram::send(const std::string& line) {
    const std::string text = line + "\n";
    return toChild_ >= 0 && write(toChild_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void WineProgram::takeLine(std::string line) {
    std::lock_guard lock(mutex_);
    out_.push_back(std::move(line));
    taken_.push_back(false);
    arrived_.notify_all();
}

std::optional<std::string> WineProgram::nextLine(const std::string& prefix, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    std::optional<std::string> found;
    arrived_.wait_for(lock, limit, [&] {
        for (size_t i = 0; i < out_.size(); ++i) {
            if (!taken_[i] && out_[i].starts_with(prefix)) {
                taken_[i] = true;
                found = out_[i];
                return true;
            }
        }
        return false;
    });
    return found;
}

std::vector<std::string> WineProgram::takeLines(const std::string& prefix) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    for (size_t i = 0; i < out_.size(); ++i) {
        if (!taken_[i] && out_[i].starts_with(prefix)) {
            taken_[i] = true;
            lines.push_back(out_[i]);
        }
    }
    return lines;
}

std::string WineProgram::transcript() const {
    std::lock_guard lock(mutex_);
    return output_.transcript("Windows program", out_);
}

// ---- WineMidiBridge -----------------------------------------------------------------------------

int WineMidiBridge::connectToPort() {
    std::ifstream file(environment("HALVARD_WINE_MIDI_BRIDGE"));
    int port = 0;
    if (!(file >> port) || port <= 0 || port > 65535) return -1;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string WineMidiBridge::token() {
    const std::string portFile = environment("HALVARD_WINE_MIDI_BRIDGE");
    std::ifstream file(portFile.substr(0, portFile.rfind('/') + 1) + "wine-midi.token");
    std::string token;
    file >> token;
    return token;
}

WineMidiBridge::WineMidiBridge() {
    fd_ = connectToPort();
    const std::string hello = "HWM1 " + token() + " control\n";
    if (fd_ >= 0 &&
        send(fd_, hello.data(), hello.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(hello.size())) {
        close(fd_);
        fd_ = -1;
    }
}

WineMidiBridge::~WineMidiBridge() {
    if (fd_ >= 0) close(fd_);
}

std::string WineMidiBridge::command(const std::string& line) {
    if (fd_ < 0) return {};
    const std::string text = line + "\n";
    if (send(fd_, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) return {};
    const auto end = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        const size_t eol = pending_.find('\n');
        if (eol != std::string::npos) {
            std::string reply = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            return reply;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd entry{fd_, POLLIN, 0};
        if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) return {};
        char buffer[4096];
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) return {};
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

std::map<std::string, std::string> WineMidiBridge::status() {
    return EmulatorProcess::fields(command("status"));
}

}  // namespace halvard::e2e
