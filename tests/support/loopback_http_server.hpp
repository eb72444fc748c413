#pragma once
// A tiny HTTP/1.1 server on 127.0.0.1 for the firmware download tests: one connection at a time,
// each answered by a handler chosen per test, then closed. On POSIX sockets or Winsock.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace halvard::test {

// The few socket calls that differ between POSIX and Winsock.
namespace net {
#ifdef _WIN32
using Socket = SOCKET;
inline constexpr int kNoSignal = 0;
inline bool started() {
    static const bool ok = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}
inline Socket openStream() {
    return started() ? ::socket(AF_INET, SOCK_STREAM, 0) : INVALID_SOCKET;
}
inline bool valid(Socket s) {
    return s != INVALID_SOCKET;
}
inline void closeSocket(Socket s) {
    ::closesocket(s);
}
inline Socket acceptFrom(Socket s) {
    return ::accept(s, nullptr, nullptr);
}
inline int pollOne(pollfd* entry, int timeoutMs) {
    return ::WSAPoll(entry, 1, timeoutMs);
}
#else
using Socket = int;
inline constexpr int kNoSignal = MSG_NOSIGNAL;
inline Socket openStream() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}
inline bool valid(Socket s) {
    return s >= 0;
}
inline void closeSocket(Socket s) {
    ::close(s);
}
inline Socket acceptFrom(Socket s) {
    return ::accept4(s, nullptr, nullptr, SOCK_CLOEXEC);
}
inline int pollOne(pollfd* entry, int timeoutMs) {
    return ::poll(entry, 1, timeoutMs);
}
#endif
}  // namespace net

struct HttpResponse {
    int status = 200;
    std::string body;
    std::vector<std::string> headers;      // extra header lines, without CRLF
    std::optional<size_t> declaredLength;  // Content-Length; body.size() when empty
    int trickleDelayMs = 0;                // > 0: after the headers, one byte per delay until cut off
};

// A loopback socket bound but not listening: connecting to it is refused.
class RefusingLoopbackPort {
public:
    RefusingLoopbackPort() : fd_(bindLoopback()) {}
    ~RefusingLoopbackPort() { net::closeSocket(fd_); }
    uint16_t port() const { return boundPort(fd_); }

    static net::Socket bindLoopback() {
        const net::Socket fd = net::openStream();
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (!net::valid(fd) || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot bind a loopback socket");
        return fd;
    }
    static uint16_t boundPort(net::Socket fd) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }

private:
    net::Socket fd_;
};

class LoopbackHttpServer {
public:
    using Handler = std::function<HttpResponse(const std::string& target)>;

    explicit LoopbackHttpServer(Handler handler)
        : handler_(std::move(handler)), listenFd_(RefusingLoopbackPort::bindLoopback()) {
        if (::listen(listenFd_, 8) != 0) throw std::runtime_error("cannot listen on loopback");
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackHttpServer() {
        stopping_ = true;
        thread_.join();
        net::closeSocket(listenFd_);
    }

    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port()); }
    uint16_t port() const { return RefusingLoopbackPort::boundPort(listenFd_); }
    int connections() const { return connections_.load(); }
    std::vector<std::string> targets() const {
        std::lock_guard lock(mutex_);
        return targets_;
    }

private:
    // Waits for fd to become readable, giving up when the server stops.
    bool waitReadable(net::Socket fd) const {
        pollfd entry{fd, POLLIN, 0};
        while (!stopping_) {
            if (net::pollOne(&entry, 20) > 0) return true;
        }
        return false;
    }

    void serve() {
        while (waitReadable(listenFd_)) {
            const net::Socket client = net::acceptFrom(listenFd_);
            if (!net::valid(client)) continue;
            ++connections_;
            answer(client);
            net::closeSocket(client);
        }
    }

    void answer(net::Socket client) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            if (!waitReadable(client)) return;
            const auto got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) return;
            request.append(buffer, static_cast<size_t>(got));
        }
        // "GET <target> HTTP/1.1"
        const size_t start = request.find(' ') + 1;
        const std::string target = request.substr(start, request.find(' ', start) - start);
        {
            std::lock_guard lock(mutex_);
            targets_.push_back(target);
        }
        const HttpResponse response = handler_(target);
        std::string head = "HTTP/1.1 " + std::to_string(response.status) + " Test\r\nContent-Length: " +
                           std::to_string(response.declaredLength.value_or(response.body.size())) +
                           "\r\nConnection: close\r\n";
        for (const std::string& line : response.headers) head += line + "\r\n";
        head += "\r\n";
        if (!sendAll(client, head)) return;
        if (response.trickleDelayMs <= 0) {
            sendAll(client, response.body);
            return;
        }
        while (!stopping_ && sendAll(client, "x")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(response.trickleDelayMs));
        }
    }

    static bool sendAll(net::Socket fd, const std::string& data) {
        size_t sent = 0;
        while (sent < data.size()) {
            const auto n =
                ::send(fd, data.data() + sent, static_cast<int>(data.size() - sent), net::kNoSignal);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    Handler handler_;
    net::Socket listenFd_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> targets_;
    std::thread thread_;
};

}  // namespace halvard::test
