#include "emulator_process.hpp"

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "util/files.hpp"
#include "util/hex.hpp"

namespace halvard::e2e {

namespace {

void quiet(const char*) {}

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

}  // namespace

bool jackServerRuns() {
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_client_t* probe = jack_client_open("halvard-e2e-probe", JackNoStartServer, nullptr);
    jack_set_error_function(nullptr);
    jack_set_info_function(nullptr);
    if (!probe) return false;
    jack_client_close(probe);
    return true;
}

namespace {

// A JACK server of our own, as the test fixtures start it (scripts/test-service), ended (by its
// process id) when the process ends.
class PrivateJackServer {
public:
    bool start(std::string* why) {
        const std::string name = "halvard-e2e-" + std::to_string(getpid());
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        std::vector<std::string> args = {HALVARD_TEST_SERVICE, "run", "jack", name};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(127);
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, STDOUT_FILENO);
            dup2(devnull, STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (pid_ < 0) {
            if (why) *why = "cannot start jackd";
            return false;
        }
        const bool up = EmulatorProcess::waitFor([] { return jackServerRuns(); }, 10s);
        if (!up && why) *why = "jackd did not come up (is jackd installed?)";
        return up;
    }
    ~PrivateJackServer() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
};

}  // namespace

bool ensureJackServer(std::string* why) {
    static std::mutex once;
    static std::unique_ptr<PrivateJackServer> own;
    std::lock_guard lock(once);
    if (jackServerRuns()) return true;
    if (own) {
        if (why) *why = "the private JACK server has gone";
        return false;
    }
    own = std::make_unique<PrivateJackServer>();
    return own->start(why);
}

std::string startJackTest(const std::filesystem::path& folder) {
    std::string why;
    if (!ensureJackServer(&why)) return why;
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    if (!std::filesystem::create_directories(folder, error)) return "cannot make " + folder.string();
    return {};
}

PipedChild startPipedChild(char* const* argv, char* const* envp) {
    PipedChild child;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return child;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        if (envp)
            execve(argv[0], argv, envp);
        else
            execv(argv[0], argv);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        return child;
    }
    return {pid, in[1], out[0], err[0]};
}

namespace {

void readChildLines(int fd, const std::function<void(std::string line)>& onLine) {
    std::string pending;
    char buffer[8192];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            onLine(std::move(line));
        }
    }
    close(fd);
}

}  // namespace

void ChildOutput::start(const PipedChild& child, std::function<void(std::string line)> onStdoutLine) {
    onStdoutLine_ = std::move(onStdoutLine);
    stdout_ = std::thread([this, fd = child.fromStdout] { readChildLines(fd, onStdoutLine_); });
    stderr_ = std::thread([this, fd = child.fromStderr] {
        readChildLines(fd, [this](std::string line) {
            std::lock_guard lock(mutex_);
            errors_.push_back(std::move(line));
        });
    });
}

void ChildOutput::join() {
    if (stdout_.joinable()) stdout_.join();
    if (stderr_.joinable()) stderr_.join();
}

std::vector<std::string> ChildOutput::errorLines() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

std::string ChildOutput::transcript(const std::string& name, const std::vector<std::string>& out) const {
    std::string text = "--- " + name + ": standard output\n";
    for (const std::string& l : out) text += l + "\n";
    text += "--- " + name + ": standard error\n";
    for (const std::string& l : errorLines()) text += l + "\n";
    return text;
}

ProgramFile writeTestProgramFile(const std::filesystem::path& file) {
    ProgramFile programs;
    for (int p = 0; p < kProgramCount; ++p) {
        StoredProgram s{static_cast<uint8_t>(p), {}};
        ProgramSettings settings;
        settings.loopBypass = 1;
        settings.ir[1] = static_cast<uint8_t>(p % 3);
        settings.filterA[0] = settings.filterA[1] = settings.filterB[0] = settings.filterB[1] = 1;
        buildSettingsWrite(s.write, p, SettingsGlobals{.midiChannel = 4}, settings);
        programs.stored.push_back(s);
    }
    std::string error;
    if (!writeFileReplacing(file, programFileBytes(programs), error)) return {};
    programs.selection = programs.stored[0].write;
    return programs;
}

EmulatorProcess::EmulatorProcess(std::vector<std::string> args) {
    // $HALVARD_TEST_AMP_EMULATOR names an installed copy to test instead of the build tree's.
    const char* installed = std::getenv("HALVARD_TEST_AMP_EMULATOR");
    args.insert(args.begin(),
                {installed && *installed ? installed : HALVARD_AMP_EMULATOR_PATH, "--api", "jack"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    const PipedChild child = startPipedChild(argv.data());
    if (child.pid <= 0) return;
    pid_ = child.pid;
    toChild_ = child.toChild;
    output_.start(child, [this](std::string line) { takeLine(std::move(line)); });
}

EmulatorProcess::~EmulatorProcess() {
    if (pid_ > 0) {
        command("quit", 2s);
        // Then by its process id, harder each time, until it has gone.
        for (const int signal : {0, SIGTERM, SIGKILL}) {
            if (signal != 0) kill(pid_, signal);
            if (waitFor([this] { return exited(); }, 3s)) break;
        }
    }
    if (toChild_ >= 0) close(toChild_);
    output_.join();
}

bool EmulatorProcess::exited() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return true;
    }
    return false;
}

void EmulatorProcess::takeLine(std::string line) {
    std::lock_guard lock(mutex_);
    if (startsWith(line, "ok") || startsWith(line, "error")) {
        replies_.push_back(std::move(line));
        replyArrived_.notify_all();
    } else {
        log_.push_back(std::move(line));
    }
}

std::string EmulatorProcess::command(const std::string& line, std::chrono::milliseconds limit) {
    if (pid_ <= 0 || toChild_ < 0) return {};
    std::unique_lock lock(mutex_);
    replies_.clear();  // a reply that came too late for an earlier command is no answer to this one
    lock.unlock();
    const std::string text = line + "\n";
    if (write(toChild_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return {};
    lock.lock();
    if (!replyArrived_.wait_for(lock, limit, [this] { return !replies_.empty(); })) return {};
    std::string reply = std::move(replies_.front());
    replies_.pop_front();
    return reply;
}

std::map<std::string, std::string> EmulatorProcess::fields(const std::string& reply) {
    std::map<std::string, std::string> result;
    std::istringstream words(reply);
    for (std::string word; words >> word;) {
        const size_t eq = word.find('=');
        if (eq != std::string::npos) result[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return result;
}

bool EmulatorProcess::portsOpen() {
    return fields(command("status"))["ports"] == "open";
}

int EmulatorProcess::received(uint8_t code) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::string key{kDigits[code >> 4], kDigits[code & 0x0F]};
    const auto f = fields(command("counts"));
    const auto it = f.find(key);
    return it == f.end() ? 0 : std::stoi(it->second);
}

int EmulatorProcess::receivedTotal() {
    const auto f = fields(command("counts"));
    const auto it = f.find("received");
    return it == f.end() ? -1 : std::stoi(it->second);
}

std::vector<uint8_t> EmulatorProcess::message(int index) {
    const std::string reply = command("received " + std::to_string(index));
    if (!startsWith(reply, "ok")) return {};
    return fromHex(reply.substr(reply.rfind(' ') + 1)).value_or(std::vector<uint8_t>{});
}

std::vector<std::vector<uint8_t>> EmulatorProcess::messages() {
    std::vector<std::vector<uint8_t>> all;
    const int n = receivedTotal();
    for (int k = 0; k < n; ++k) all.push_back(message(k));
    return all;
}

std::string EmulatorProcess::recordHex(int program) {
    const std::string reply = command("record " + std::to_string(program));
    return startsWith(reply, "ok") ? reply.substr(reply.rfind(' ') + 1) : std::string();
}

std::string EmulatorProcess::recordsHex() {
    const std::string reply = command("records");
    return startsWith(reply, "ok") ? reply.substr(reply.rfind(' ') + 1) : std::string();
}

std::vector<std::array<uint8_t, 10>> EmulatorProcess::records() {
    const std::optional<std::vector<uint8_t>> bytes = fromHex(recordsHex());
    if (!bytes || bytes->size() % 10 != 0) return {};
    std::vector<std::array<uint8_t, 10>> out(bytes->size() / 10);
    for (size_t i = 0; i < bytes->size(); ++i) out[i / 10][i % 10] = (*bytes)[i];
    return out;
}

std::vector<std::string> EmulatorProcess::logLines() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::string EmulatorProcess::transcript() const {
    std::lock_guard lock(mutex_);
    return output_.transcript("emulator (without the control replies)", log_);
}

}  // namespace halvard::e2e
