#include "bridge.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <utility>

// Sections: set-up, the loop, the drivers' requests, relaying, presence, control.

namespace halvard::winemidi {

namespace {

constexpr int kStdinClient = 0;

bool contains(const std::vector<std::string>& patterns, const std::string& name) {
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& p) { return name.find(p) != std::string::npos; });
}

const char* directionName(Direction d) {
    return d == Direction::In ? "input" : "output";
}

std::string hex(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

}  // namespace

// ---- set-up -------------------------------------------------------------------------------------

Bridge::Bridge(JackSide& jack, std::string token, std::ostream& replies, std::ostream& log, bool logMessages)
    : jack_(jack), token_(std::move(token)), replies_(replies), log_(log), logMessages_(logMessages) {
    stopFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

Bridge::~Bridge() {
    for (auto& [id, client] : clients_)
        if (id != kStdinClient && client.fd >= 0) close(client.fd);
    if (listenFd_ >= 0) close(listenFd_);
    if (stopFd_ >= 0) close(stopFd_);
}

bool Bridge::listen(uint16_t port, std::string& error) {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const int yes = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port);
        return false;
    }
    socklen_t length = sizeof address;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    return true;
}

void Bridge::requestStop() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(stopFd_, &one, sizeof one);
}

// ---- the loop -----------------------------------------------------------------------------------

bool Bridge::run(bool controlOnStdin) {
    if (controlOnStdin) {
        clients_[kStdinClient].fd = STDIN_FILENO;
        clients_[kStdinClient].kind = Client::Kind::Control;
    }
    while (!quit_ && !jack_.serverGone()) {
        std::vector<pollfd> fds{{listenFd_, POLLIN, 0}, {jack_.notifyFd(), POLLIN, 0}, {stopFd_, POLLIN, 0}};
        std::vector<int> ids;
        for (const auto& [id, client] : clients_) {
            fds.push_back({client.fd, static_cast<short>(POLLIN | (client.out.empty() ? 0 : POLLOUT)), 0});
            ids.push_back(id);
        }
        if (poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) return false;
        if (fds[2].revents) break;
        if (fds[1].revents) {
            jack_.drainNotify();
            relayFromJack();
            if (jack_.takePortsChanged()) updatePresence();
        }
        if (fds[0].revents) accept();
        for (size_t i = 0; i < ids.size(); ++i) {
            const short events = fds[i + 3].revents;
            auto it = clients_.find(ids[i]);
            if (!events || it == clients_.end()) continue;
            if ((events & POLLOUT) && !writeOut(it->second)) it->second.broken = true;
            if ((events & ~POLLOUT) && !it->second.broken && !readClient(ids[i])) dropClient(ids[i]);
        }
        // Those that stopped taking what was sent, or whose connection failed meanwhile.
        for (auto it = clients_.begin(); it != clients_.end();) {
            const int id = (it++)->first;
            if (clients_.at(id).broken) dropClient(id);
        }
    }
    while (!clients_.empty()) dropClient(clients_.begin()->first);
    if (jack_.serverGone()) {
        log_ << "halvard-wine-midi-bridge: the JACK server has gone" << std::endl;
        return false;
    }
    return true;
}

void Bridge::accept() {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    clients_[nextClient_++].fd = fd;
}

bool Bridge::readClient(int id) {
    Client& client = clients_.at(id);
    uint8_t buffer[16384];
    const ssize_t n = read(client.fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (n <= 0) {
        // Standard input that ends leaves the bridge running (in the background, say).
        if (id == kStdinClient) clients_.erase(id);
        return id == kStdinClient;
    }
    const uint8_t* data = buffer;
    size_t count = static_cast<size_t>(n);
    if (client.kind == Client::Kind::Unknown) {
        // Nothing but the hello line until it is whole: its token or the end of the connection.
        const size_t before = client.head.size();
        client.head.append(reinterpret_cast<const char*>(data), count);
        const size_t end = client.head.find('\n', before);
        if (end == std::string::npos) {
            if (client.head.size() <= kMaxLineBytes) return true;
            ++strangers_;
            return false;
        }
        const std::optional<Peer> peer = acceptHello(std::string_view(client.head).substr(0, end), token_);
        if (!peer) {
            ++strangers_;
            log_ << "halvard-wine-midi-bridge: refused connection " << id << " (no token)" << std::endl;
            return false;
        }
        const std::string rest = client.head.substr(end + 1);
        client.head.clear();
        if (*peer == Peer::Driver) {
            client.kind = Client::Kind::Driver;
            client.frames.add(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
            log_ << "halvard-wine-midi-bridge: driver " << id << " connected" << std::endl;
        } else {
            client.kind = Client::Kind::Control;
            client.head = rest;
        }
        data = nullptr;
        count = 0;
    }
    if (client.kind == Client::Kind::Control) {
        if (data) client.head.append(reinterpret_cast<const char*>(data), count);
        return takeLines(id, client);
    }
    if (data) client.frames.add(data, count);
    FrameType type{};
    Bytes payload;
    for (;;) {
        switch (client.frames.next(type, payload)) {
            case FrameReader::Next::More:
                return true;
            case FrameReader::Next::Broken:
                return false;
            case FrameReader::Next::Frame:
                if (!handleFrame(id, type, payload)) return false;
                if (!clients_.count(id) || client.broken) return true;
                break;
        }
    }
}

// A control connection's whole lines, each answered; the text after the last stays for the next
// read. A line longer than kMaxLineBytes ends a TCP connection (standard input loses the line).
bool Bridge::takeLines(int id, Client& client) {
    for (size_t end; (end = client.head.find('\n', client.scanned)) != std::string::npos;) {
        std::string line = client.head.substr(0, end);
        client.head.erase(0, end + 1);
        client.scanned = 0;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string reply =
            (line.size() > kMaxLineBytes ? "error line too long" : control(line)) + "\n";
        if (id == kStdinClient) {
            replies_ << reply << std::flush;
        } else if (!queue(id, reply)) {
            return true;  // dropped at the end of this pass
        }
        if (quit_) return true;
    }
    client.scanned = client.head.size();
    if (client.head.size() <= kMaxLineBytes) return true;
    if (id != kStdinClient) return false;
    client.head.clear();
    client.scanned = 0;
    replies_ << "error line too long\n" << std::flush;
    return true;
}

bool Bridge::writeOut(Client& client) {
    while (!client.out.empty()) {
        const ssize_t n = send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) return false;
        client.out.erase(0, static_cast<size_t>(n));
    }
    return true;
}

// Sends what it can now and keeps the rest for when the connection takes more. A connection that
// has left kMaxPendingBytes untaken is marked to be dropped; false then.
bool Bridge::queue(int id, const std::string& bytes) {
    const auto it = clients_.find(id);
    if (it == clients_.end() || it->second.broken) return false;
    Client& client = it->second;
    client.out += bytes;
    if (!writeOut(client)) {
        client.broken = true;
    } else if (client.out.size() > kMaxPendingBytes) {
        client.broken = true;
        ++slow_;
        log_ << "halvard-wine-midi-bridge: dropped connection " << id << ": it stopped reading" << std::endl;
    }
    return !client.broken;
}

void Bridge::dropClient(int id) {
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    for (auto& devices : it->second.devices) {
        for (Device& d : devices) {
            if (d.link >= 0) {
                owners_.erase(d.link);
                jack_.closeLink(d.link);
            }
        }
    }
    if (it->second.kind == Client::Kind::Driver)
        log_ << "halvard-wine-midi-bridge: driver " << id << " disconnected" << std::endl;
    if (id != kStdinClient) close(it->second.fd);
    clients_.erase(it);
}

// ---- the drivers' requests ----------------------------------------------------------------------

bool Bridge::handleFrame(int id, FrameType type, const Bytes& payload) {
    const bool device = payload.size() >= 3 && payload[0] <= 1;
    const auto direction = device ? static_cast<Direction>(payload[0]) : Direction::In;
    const uint16_t index = device ? getU16(&payload[1]) : 0;
    switch (type) {
        case FrameType::List:
            sendList(id);
            return true;
        case FrameType::Open:
            if (!device) return false;
            openDevice(id, direction, index);
            return true;
        case FrameType::Close:
            if (!device) return false;
            closeDevice(id, direction, index);
            return true;
        case FrameType::Message:
            if (payload.size() < 3) return false;
            relayToJack(id, payload);
            return true;
        default:
            return false;
    }
}

// The driver asks once, when the program's WinMM starts: Wine counts a driver's devices only then.
void Bridge::sendList(int id) {
    Client& client = clients_.at(id);
    Bytes payload;
    for (const Direction d : {Direction::In, Direction::Out}) {
        std::vector<Device>& devices = client.devices[static_cast<int>(d)];
        // A list again starts afresh: what the driver had open under the last one closes.
        for (size_t i = 0; i < devices.size(); ++i) closeDevice(id, d, static_cast<uint16_t>(i));
        devices.clear();
        for (std::string& name : jack_.midiPorts(d == Direction::In)) {
            if (devices.size() == 0xFFFF) break;
            devices.push_back(Device{.jackName = std::move(name)});
            devices.back().present = present(devices.back().jackName);
        }
        putU16(payload, static_cast<uint16_t>(devices.size()));
        for (const Device& device : devices) {
            const std::string name = deviceName(device.jackName);
            payload.push_back(static_cast<uint8_t>(name.size()));
            payload.insert(payload.end(), name.begin(), name.end());
        }
    }
    sendFrame(id, FrameType::List, payload);
    // Ports already away when the list was made are reported as such at once.
    for (const Direction d : {Direction::In, Direction::Out}) {
        const std::vector<Device>& devices = client.devices[static_cast<int>(d)];
        for (size_t i = 0; i < devices.size(); ++i) {
            if (devices[i].present) continue;
            Bytes p = devicePayload(d, static_cast<uint16_t>(i));
            p.push_back(0);
            sendFrame(id, FrameType::Presence, p);
        }
    }
}

void Bridge::openDevice(int id, Direction direction, uint16_t index) {
    Client& client = clients_.at(id);
    std::vector<Device>& devices = client.devices[static_cast<int>(direction)];
    OpenResult result = OpenResult::Ok;
    std::string error;
    if (index >= devices.size()) {
        result = OpenResult::BadIndex;
    } else if (!devices[index].present) {
        result = OpenResult::Gone;
    } else if (contains(stalledPatterns_, devices[index].jackName)) {
        // A device that does not answer: the driver waits for its own time limit.
        ++stalled_;
        log_ << "halvard-wine-midi-bridge: driver " << id << " opens " << directionName(direction) << " "
             << index << ": left unanswered" << std::endl;
        return;
    } else if (devices[index].link >= 0 || devices[index].dead || held(devices[index].jackName, direction)) {
        result = OpenResult::Allocated;
        ++refused_;
    } else {
        Device& device = devices[index];
        device.link = jack_.openLink(device.jackName, direction == Direction::In, error);
        if (device.link < 0) {
            result = OpenResult::Gone;
        } else {
            owners_[device.link] = Owner{id, index};
            ++opens_;
        }
    }
    log_ << "halvard-wine-midi-bridge: driver " << id << " opens " << directionName(direction) << " " << index
         << (index < devices.size() ? " (" + devices[index].jackName + ")" : std::string()) << ": "
         << (result == OpenResult::Ok          ? "open"
             : result == OpenResult::Allocated ? "in use"
             : result == OpenResult::Gone      ? "gone"
                                               : "no such device")
         << (error.empty() ? "" : " (" + error + ")") << std::endl;
    Bytes payload = devicePayload(direction, index);
    payload.push_back(static_cast<uint8_t>(result));
    sendFrame(id, FrameType::Opened, payload);
}

void Bridge::closeDevice(int id, Direction direction, uint16_t index) {
    std::vector<Device>& devices = clients_.at(id).devices[static_cast<int>(direction)];
    if (index >= devices.size()) return;
    Device& device = devices[index];
    if (device.link >= 0) {
        owners_.erase(device.link);
        jack_.closeLink(device.link);
        log_ << "halvard-wine-midi-bridge: driver " << id << " closes " << directionName(direction) << " "
             << index << std::endl;
    }
    device.link = -1;
    device.dead = false;
}

// ---- relaying -----------------------------------------------------------------------------------

void Bridge::relayToJack(int id, const Bytes& payload) {
    const uint16_t index = getU16(payload.data());
    std::vector<Device>& devices = clients_.at(id).devices[static_cast<int>(Direction::Out)];
    if (index >= devices.size() || devices[index].link < 0) return;  // the driver has already failed it
    const Bytes message(payload.begin() + 2, payload.end());
    if (jack_.send(devices[index].link, message)) ++toJack_;
    if (logMessages_) log_ << "to " << devices[index].jackName << ": " << hex(message) << std::endl;
}

void Bridge::relayFromJack() {
    Bytes message;
    for (const int link : jack_.takeReceiving()) {
        const auto owner = owners_.find(link);
        while (jack_.receive(link, message)) {
            if (owner == owners_.end()) continue;  // closed meanwhile
            Bytes payload;
            putU16(payload, owner->second.index);
            payload.insert(payload.end(), message.begin(), message.end());
            if (logMessages_) log_ << "from link " << link << ": " << hex(message) << std::endl;
            if (sendFrame(owner->second.client, FrameType::Message, payload)) ++fromJack_;
        }
    }
}

bool Bridge::sendFrame(int id, FrameType type, const Bytes& payload) {
    const Bytes bytes = frame(type, payload);
    return queue(id, std::string(bytes.begin(), bytes.end()));
}

// ---- presence -----------------------------------------------------------------------------------

bool Bridge::present(const std::string& jackName) const {
    return !contains(unpluggedPatterns_, jackName) && jack_.portExists(jackName);
}

// Held by another program (a control command says so), or open through any connection: Windows
// lets one program at a time open a MIDI device.
bool Bridge::held(const std::string& jackName, Direction direction) const {
    if (contains(heldPatterns_, jackName)) return true;
    for (const auto& [id, client] : clients_) {
        for (const Device& d : client.devices[static_cast<int>(direction)])
            if (d.jackName == jackName && d.link >= 0) return true;
    }
    return false;
}

// A port that went ends its open links, and every driver that listed it hears of it; a port that
// came back is reported present (an open that died stays dead until the program closes it).
void Bridge::updatePresence() {
    for (auto& [id, client] : clients_) {
        if (client.kind != Client::Kind::Driver) continue;
        for (const Direction d : {Direction::In, Direction::Out}) {
            std::vector<Device>& devices = client.devices[static_cast<int>(d)];
            for (size_t i = 0; i < devices.size(); ++i) {
                Device& device = devices[i];
                const bool now = present(device.jackName);
                if (now == device.present) continue;
                device.present = now;
                if (!now && device.link >= 0) {
                    owners_.erase(device.link);
                    jack_.closeLink(device.link);
                    device.link = -1;
                    device.dead = true;
                }
                log_ << "halvard-wine-midi-bridge: " << device.jackName << (now ? " is back" : " has gone")
                     << std::endl;
                Bytes payload = devicePayload(d, static_cast<uint16_t>(i));
                payload.push_back(now ? 1 : 0);
                sendFrame(id, FrameType::Presence, payload);
            }
        }
    }
}

// ---- control ------------------------------------------------------------------------------------

std::string Bridge::status() const {
    int drivers = 0, open = 0;
    for (const auto& [id, client] : clients_) {
        if (client.kind != Client::Kind::Driver) continue;
        ++drivers;
        for (const auto& devices : client.devices)
            for (const Device& d : devices) open += d.link >= 0;
    }
    std::ostringstream s;
    s << "ok status drivers=" << drivers << " open=" << open << " opens=" << opens_ << " refused=" << refused_
      << " to-jack=" << toJack_ << " from-jack=" << fromJack_ << " dropped=" << jack_.dropped()
      << " held=" << heldPatterns_.size() << " unplugged=" << unpluggedPatterns_.size()
      << " stalled=" << stalled_ << " strangers=" << strangers_ << " slow=" << slow_;
    return s.str();
}

std::string Bridge::control(const std::string& line) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    std::string text;
    std::getline(words >> std::ws, text);
    if (command.empty()) return "error empty command (try help)";
    if (command == "help") {
        return "ok commands: status, ports, hold TEXT, release [TEXT], unplug TEXT, plug [TEXT], stall TEXT, "
               "reset, quit (TEXT: part of a JACK port name)";
    }
    if (command == "status") return status();
    if (command == "ports") {
        std::string reply = "ok ports";
        for (const bool sources : {true, false}) {
            for (const std::string& name : jack_.midiPorts(sources))
                reply += std::string(sources ? " in=" : " out=") + deviceName(name);
        }
        return reply;
    }
    if (command == "hold" || command == "unplug" || command == "stall") {
        if (text.empty()) return "error " + command + " needs part of a port name";
        (command == "hold"     ? heldPatterns_
         : command == "unplug" ? unpluggedPatterns_
                               : stalledPatterns_)
            .push_back(text);
        if (command == "unplug") updatePresence();
        return "ok " + command + " " + text;
    }
    if (command == "release" || command == "plug") {
        std::vector<std::string>& patterns = command == "release" ? heldPatterns_ : unpluggedPatterns_;
        if (text.empty())
            patterns.clear();
        else
            patterns.erase(std::remove(patterns.begin(), patterns.end(), text), patterns.end());
        if (command == "plug") updatePresence();
        return "ok " + command + (text.empty() ? "" : " " + text);
    }
    if (command == "reset") {
        heldPatterns_.clear();
        unpluggedPatterns_.clear();
        stalledPatterns_.clear();
        updatePresence();
        refused_ = toJack_ = fromJack_ = opens_ = stalled_ = strangers_ = slow_ = 0;
        return "ok reset";
    }
    if (command == "quit") {
        quit_ = true;
        return "ok quit";
    }
    return "error unknown command " + command + " (try help)";
}

}  // namespace halvard::winemidi
