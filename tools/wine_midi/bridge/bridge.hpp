#pragma once
// The bridge's loop: one thread that accepts the drivers' connections (one per Windows process) and
// the control connections on a loopback TCP port, answers the drivers' requests from the JACK side,
// relays their messages both ways, and carries out control commands (from standard input too).
// Every connection must open with the hello line that carries the token (wire.hpp); others are
// closed unanswered. Sockets do not block: what a connection has not taken yet waits in its own
// buffer, and a connection that lets kMaxPendingBytes pile up is dropped, so a client that stops
// reading never stalls the others.
//
// What a Windows program meets, as on Windows: a device that another program has open (or that a
// control command marks as held) refuses to open with MMSYSERR_ALLOCATED; a device whose JACK port
// goes away (or that a control command takes away) is reported gone, and its open links end.

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "jack_side.hpp"
#include "wire.hpp"

namespace halvard::winemidi {

class Bridge {
public:
    // Bytes a connection may leave untaken before it is dropped.
    static constexpr size_t kMaxPendingBytes = 1 << 20;

    Bridge(JackSide& jack, std::string token, std::ostream& replies, std::ostream& log, bool logMessages);
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Listens on 127.0.0.1:port (0: a free port the system picks).
    bool listen(uint16_t port, std::string& error);
    uint16_t port() const { return port_; }

    // Runs until quit, a stop request or the JACK server's end; false for the last.
    bool run(bool controlOnStdin);
    // From any thread (a signal waiter).
    void requestStop();

    // One control command and its reply line ("ok ..." or "error ...").
    std::string control(const std::string& line);

private:
    struct Device {
        std::string jackName;
        bool present = true;
        int link = -1;      // the JACK link while this client has the device open
        bool dead = false;  // opened, then its port went: nothing flows until it is closed
    };
    struct Client {
        int fd = -1;
        enum class Kind { Unknown, Driver, Control } kind = Kind::Unknown;
        std::string head;     // the hello line until the kind is known; then a control's pending text
        size_t scanned = 0;   // bytes of head already searched for a line end
        std::string out;      // sent but not yet taken
        bool broken = false;  // to be dropped at the end of the loop's pass
        FrameReader frames;
        std::vector<Device> devices[2];  // by Direction
    };
    struct Owner {
        int client = -1;
        uint16_t index = 0;
    };

    void accept();
    bool readClient(int id);
    bool takeLines(int id, Client& client);
    bool writeOut(Client& client);
    bool queue(int id, const std::string& bytes);
    void dropClient(int id);
    bool handleFrame(int id, FrameType type, const Bytes& payload);
    void sendList(int id);
    void openDevice(int id, Direction direction, uint16_t index);
    void closeDevice(int id, Direction direction, uint16_t index);
    void relayToJack(int id, const Bytes& payload);
    void relayFromJack();
    void updatePresence();
    bool sendFrame(int id, FrameType type, const Bytes& payload);
    bool present(const std::string& jackName) const;
    bool held(const std::string& jackName, Direction direction) const;
    std::string status() const;

    JackSide& jack_;
    std::string token_;
    std::ostream& replies_;
    std::ostream& log_;
    bool logMessages_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    uint16_t port_ = 0;
    bool quit_ = false;
    int nextClient_ = 1;
    std::map<int, Client> clients_;
    std::map<int, Owner> owners_;  // by link
    std::vector<std::string> heldPatterns_;
    std::vector<std::string> unpluggedPatterns_;
    std::vector<std::string> stalledPatterns_;
    uint64_t refused_ = 0;
    uint64_t strangers_ = 0;  // connections closed for want of the token
    uint64_t stalled_ = 0;    // opens left unanswered
    uint64_t slow_ = 0;       // connections dropped for not taking what was sent
    uint64_t toJack_ = 0;
    uint64_t fromJack_ = 0;
    uint64_t opens_ = 0;
};

}  // namespace halvard::winemidi
