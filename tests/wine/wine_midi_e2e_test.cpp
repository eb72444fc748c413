// The Wine MIDI driver and bridge under a bare WinMM client (winmm_probe.exe under Wine), against the
// amplifier emulator on the test JACK server: the device list, messages both ways in order, a SysEx
// longer than the program's buffers arriving over several of them, input only between start and
// stop, buffers given back by a reset; and what Windows programs meet: a device another program
// has open, a device whose port went away. And the bridge's own guard: only who shows its token
// is served, and a client that stops reading stalls nobody else.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <thread>

#include "emulator_process.hpp"
#include "wine_session.hpp"

namespace halvard::e2e {
namespace {

constexpr const char* kAllocated = "error 4";  // MMSYSERR_ALLOCATED
constexpr const char* kNoDriver = "error 6";   // MMSYSERR_NODRIVER

// The probe's device names: ok in="A","B" out="C".
struct Names {
    std::vector<std::string> in, out;
};
Names parseNames(const std::string& reply) {
    Names names;
    const size_t out = reply.find(" out=");
    for (size_t at = 0, end; (at = reply.find('"', at)) != std::string::npos; at = end + 1) {
        end = reply.find('"', at + 1);
        if (end == std::string::npos) break;
        (at < out ? names.in : names.out).push_back(reply.substr(at + 1, end - at - 1));
    }
    return names;
}

int indexOf(const std::vector<std::string>& names, const std::string& name) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return static_cast<int>(i);
    return -1;
}

class WineMidi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bridge_.connected()) << "no Wine MIDI bridge to talk to (the wine-midi fixture)";
        ASSERT_EQ(bridge_.command("reset"), "ok reset");
        emulator_ = std::make_unique<EmulatorProcess>();
        ASSERT_TRUE(emulator_->started());
        ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator_->portsOpen(); }))
            << emulator_->transcript();
    }

    // A probe under Wine, with the indices of the emulator's ports among its devices (the driver
    // lists the JACK ports once, when the program's WinMM starts).
    std::unique_ptr<WineProgram> probe() {
        auto p = std::make_unique<WineProgram>(environment("HALVARD_WINDOWS_WINMM_PROBE"));
        EXPECT_TRUE(p->started());
        const Names names = parseNames(ask(*p, "names"));
        ampIn_ = indexOf(names.in, "Halvard VDR:Halvard VDR Out");
        ampOut_ = indexOf(names.out, "Halvard VDR:Halvard VDR In");
        EXPECT_GE(ampIn_, 0) << p->transcript();
        EXPECT_GE(ampOut_, 0) << p->transcript();
        return p;
    }

    static std::string ask(WineProgram& p, const std::string& command) {
        if (!p.send(command)) return "(not sent)";
        const auto reply = p.nextLine("ok", 10s);
        return reply ? *reply : "(no reply to " + command + ")";
    }
    // A command whose answer may be an error.
    static std::string tryTo(WineProgram& p, const std::string& command) {
        p.send(command);
        for (const auto end = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < end;) {
            for (const char* answer : {"ok", "error"})
                if (auto line = p.nextLine(answer, 0ms)) return *line;
            std::this_thread::sleep_for(5ms);
        }
        return "(no reply to " + command + ")";
    }

    std::string in(int index, const std::string& rest = "") const {
        return std::to_string(index) + (rest.empty() ? "" : " " + rest);
    }

    WineMidiBridge bridge_;
    std::unique_ptr<EmulatorProcess> emulator_;
    int ampIn_ = -1, ampOut_ = -1;
};

TEST_F(WineMidi, CarriesMessagesBothWaysAndSplitsALongSysExOverTheBuffers) {
    auto p = probe();
    ASSERT_EQ(ask(*p, "open-out " + in(ampOut_)), "ok");
    EXPECT_TRUE(p->nextLine("opened out"));
    ASSERT_EQ(ask(*p, "open-in " + in(ampIn_, "128 4")), "ok");
    EXPECT_TRUE(p->nextLine("opened in"));
    // Before MIDM_START input is dropped: this message reaches the driver first.
    ASSERT_EQ(emulator_->command("send 90 40 7F").substr(0, 2), "ok");
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return bridge_.status()["from-jack"] == "1"; }));
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(ask(*p, "start"), "ok");
    ASSERT_EQ(emulator_->command("send 90 41 7F").substr(0, 2), "ok");
    EXPECT_EQ(p->nextLine("data"), "data 90417F") << p->transcript();

    // Out: a short message and a SysEx, in order; the version read is answered.
    ASSERT_EQ(emulator_->command("clear"), "ok cleared");
    EXPECT_EQ(ask(*p, "short 903C64"), "ok");
    EXPECT_EQ(ask(*p, "long F0000BF7"), "ok");
    EXPECT_TRUE(p->nextLine("done")) << "MOM_DONE";
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator_->receivedTotal() == 2; }));
    EXPECT_EQ(emulator_->message(0), (std::vector<uint8_t>{0x90, 0x3C, 0x64}));
    EXPECT_EQ(emulator_->message(1), (std::vector<uint8_t>{0xF0, 0x00, 0x0B, 0xF7}));
    const auto version = p->nextLine("long");
    ASSERT_TRUE(version) << p->transcript();
    EXPECT_TRUE(version->starts_with("long F0000B")) << *version;

    // In: 303 bytes into buffers of 128, as Windows does: full, full, the rest.
    std::string sysex = "F07D", spaced = "F0 7D";
    for (int i = 0; i < 300; ++i) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        const char byte[3] = {kDigits[(i % 128) >> 4], kDigits[i % 16], 0};
        sysex += byte;
        spaced += std::string(" ") + byte;
    }
    sysex += "F7";
    ASSERT_EQ(emulator_->command("send " + spaced + " F7").substr(0, 2), "ok");
    std::string joined;
    std::vector<size_t> sizes;
    for (int part = 0; part < 3; ++part) {
        const auto line = p->nextLine("long");
        ASSERT_TRUE(line) << "part " << part << p->transcript();
        sizes.push_back((line->size() - 5) / 2);
        joined += line->substr(5);
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{128, 128, 47}));
    EXPECT_EQ(joined, sysex);

    // Stopped, nothing is delivered; a queued buffer cannot be unprepared; a reset gives all back.
    ASSERT_EQ(ask(*p, "stop"), "ok");
    const std::string relayed = std::to_string(std::stoi(bridge_.status()["from-jack"]) + 1);
    ASSERT_EQ(emulator_->command("send 90 42 7F").substr(0, 2), "ok");
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return bridge_.status()["from-jack"] == relayed; }));
    std::this_thread::sleep_for(200ms);  // the driver has it, and must drop it
    EXPECT_EQ(tryTo(*p, "unprepare"), "error 65") << "MIDIERR_STILLPLAYING";
    ASSERT_EQ(ask(*p, "reset-in"), "ok");
    EXPECT_EQ(p->takeLines("long"), std::vector<std::string>(4, "long -")) << "every buffer back, empty";
    EXPECT_TRUE(p->takeLines("data").empty()) << "nothing after stop";
    EXPECT_EQ(ask(*p, "close-in"), "ok");
    EXPECT_EQ(ask(*p, "close-out"), "ok");
    EXPECT_TRUE(p->nextLine("closed out"));
}

TEST_F(WineMidi, ADeviceInUseRefusesToOpenAndAGoneOneFailsItsSends) {
    auto first = probe();
    ASSERT_EQ(ask(*first, "open-out " + in(ampOut_)), "ok");
    auto second = probe();
    EXPECT_EQ(tryTo(*second, "open-out " + in(ampOut_)), kAllocated) << "open in another program";
    ASSERT_EQ(bridge_.command("hold Halvard VDR Out"), "ok hold Halvard VDR Out");
    EXPECT_EQ(tryTo(*second, "open-in " + in(ampIn_, "64 2")), kAllocated)
        << "held by a program outside Wine";
    ASSERT_EQ(bridge_.command("release"), "ok release");
    EXPECT_EQ(ask(*second, "open-in " + in(ampIn_, "64 2")), "ok");
    EXPECT_GE(std::stoi(bridge_.status()["refused"]), 2);

    // The port goes: sends fail, its name is empty, nothing is delivered; back, it opens again.
    ASSERT_EQ(ask(*second, "start"), "ok");
    ASSERT_EQ(bridge_.command("unplug Halvard VDR"), "ok unplug Halvard VDR");
    EXPECT_TRUE(EmulatorProcess::waitFor([&] { return tryTo(*first, "short 903C64") == kNoDriver; }));
    ASSERT_EQ(emulator_->command("clear"), "ok cleared");
    EXPECT_EQ(tryTo(*first, "long F0000BF7"), kNoDriver);
    EXPECT_EQ(parseNames(ask(*first, "names")).out.at(static_cast<size_t>(ampOut_)), "");
    ASSERT_EQ(emulator_->command("send 90 43 7F").substr(0, 2), "ok");
    ASSERT_EQ(bridge_.command("plug"), "ok plug");
    EXPECT_TRUE(EmulatorProcess::waitFor([&] {
        return parseNames(ask(*first, "names")).out.at(static_cast<size_t>(ampOut_)) ==
               "Halvard VDR:Halvard VDR In";
    })) << "back, with its name";
    EXPECT_EQ(tryTo(*first, "short 903C64"), kNoDriver) << "a handle from before stays dead";
    EXPECT_EQ(ask(*first, "close-out"), "ok");
    EXPECT_EQ(ask(*first, "open-out " + in(ampOut_)), "ok");
    EXPECT_EQ(ask(*first, "short 903D64"), "ok");
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator_->receivedTotal() == 1; }))
        << emulator_->transcript();
    EXPECT_EQ(emulator_->message(0), (std::vector<uint8_t>{0x90, 0x3D, 0x64}));
    EXPECT_TRUE(second->takeLines("data").empty()) << "nothing came while the port was away";
}

// Everything the bridge sends on fd until it closes the connection, or until nothing has come for
// 10 s (then "(still open)" ends the text).
std::string readToEnd(int fd) {
    std::string text;
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 10000) <= 0) return text + "(still open)";
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return text;
        text.append(buffer, static_cast<size_t>(n));
    }
}

TEST_F(WineMidi, TheBridgeClosesConnectionsThatDoNotShowItsToken) {
    const int plain = WineMidiBridge::connectToPort();
    ASSERT_GE(plain, 0);
    const std::string commands = "status\nunplug Halvard\nquit\n";
    ASSERT_EQ(write(plain, commands.data(), commands.size()), static_cast<ssize_t>(commands.size()));
    EXPECT_EQ(readToEnd(plain), "") << "closed unanswered";
    close(plain);

    // A driver's greeting with another token: no device list.
    const int driver = WineMidiBridge::connectToPort();
    ASSERT_GE(driver, 0);
    const std::string greeting = "HWM1 " + std::string(32, '0') + " driver\n";
    const char list[5] = {1, 0, 0, 0, 'L'};
    ASSERT_EQ(write(driver, greeting.data(), greeting.size()), static_cast<ssize_t>(greeting.size()));
    ASSERT_EQ(write(driver, list, sizeof list), static_cast<ssize_t>(sizeof list));
    EXPECT_EQ(readToEnd(driver), "");
    close(driver);

    const auto status = bridge_.status();
    EXPECT_EQ(status.at("strangers"), "2");
    EXPECT_EQ(status.at("unplugged"), "0") << "nothing of what they sent was carried out";
}

// A control client that sends commands and never reads the replies is dropped once it has left
// the bridge's bound untaken; a driver is served all the while.
TEST_F(WineMidi, ADriverIsServedWhileAnotherClientStopsReading) {
    const int slow = WineMidiBridge::connectToPort();
    ASSERT_GE(slow, 0);
    std::string pending = "HWM1 " + WineMidiBridge::token() + " control\n", batch;
    for (int i = 0; i < 100; ++i) batch += "status\n";
    // 100 000 status requests (about 20 MB of replies) unless the bridge drops the connection first;
    // a bridge that stops taking them (blocked on this client) ends the loop too.
    bool dropped = false, stalled = false;
    for (int batches = 0; !dropped && !stalled && (batches < 1000 || !pending.empty());) {
        if (pending.empty()) {
            pending = batch;
            ++batches;
        }
        const ssize_t n = send(slow, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            pending.erase(0, static_cast<size_t>(n));
        } else if (n < 0 && errno == EAGAIN) {
            pollfd entry{slow, POLLOUT, 0};
            stalled = poll(&entry, 1, 10000) == 0;
        } else {
            dropped = true;
        }
    }
    EXPECT_FALSE(stalled) << "the bridge stopped taking commands";

    auto p = probe();
    ASSERT_EQ(ask(*p, "open-out " + in(ampOut_)), "ok");
    ASSERT_EQ(ask(*p, "short 903C64"), "ok");
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator_->receivedTotal() == 1; }))
        << emulator_->transcript();
    EXPECT_EQ(bridge_.status()["slow"], "1") << "the client that stopped reading was dropped";
    close(slow);
}

}  // namespace
}  // namespace halvard::e2e
