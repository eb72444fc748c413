// The emulator executable over a real JACK server, talked to by a bare RtMidi client: its ports,
// its answers, a whole IR transfer of 520-byte messages, the dump, a restart and the control channel.

#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "editor_messages.hpp"
#include "emulator_process.hpp"
#include "util/amplifier_port_tag.hpp"

namespace halvard::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

int findVdr(RtMidi& m) {
    for (unsigned i = 0; i < m.getPortCount(); ++i) {
        if (m.getPortName(i).find(kAmplifierPortTag) != std::string::npos) return static_cast<int>(i);
    }
    return -1;
}

// A bare client on the emulator's ports.
struct Client {
    Client() : in(RtMidi::UNIX_JACK, "e2e client in", 1000), out(RtMidi::UNIX_JACK, "e2e client out") {
        in.ignoreTypes(false, true, true);
    }
    // RtMidi 5.0.0 frees a JACK output's buffer before its process callback has stopped; with the
    // ports closed a few cycles earlier, no callback is left to read it.
    ~Client() {
        in.closePort();
        out.closePort();
        std::this_thread::sleep_for(20ms);
    }
    bool connect() {
        in.closePort();
        out.closePort();
        const int i = findVdr(in), o = findVdr(out);
        if (i < 0 || o < 0) return false;
        in.openPort(static_cast<unsigned>(i), "e2e in");
        out.openPort(static_cast<unsigned>(o), "e2e out");
        return true;
    }
    bool present() { return findVdr(in) >= 0 && findVdr(out) >= 0; }
    void send(const Bytes& m) { out.sendMessage(m.data(), m.size()); }
    // The next message within limit, or empty.
    Bytes next(std::chrono::milliseconds limit = 2s) {
        Bytes m;
        EmulatorProcess::waitFor([&] { return in.getMessage(&m), !m.empty(); }, limit);
        return m;
    }
    // A JACK connection takes effect at a cycle boundary, possibly some cycles after the connect
    // call has returned, and what is sent before is lost. Asks for the version until it comes.
    Bytes firstVersion() {
        Bytes reply;
        EmulatorProcess::waitFor(
            [&] {
                send({0xF0, 0x00, 0x0B, 0xF7});
                reply = next(100ms);
                return !reply.empty();
            },
            5s);
        while (!next(50ms).empty()) {
        }
        return reply;
    }
    RtMidiIn in;
    RtMidiOut out;
};

class EmulatorE2e : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(ensureJackServer(&why)) << why;
    }
};

TEST_F(EmulatorE2e, AnswersOverJackAndStoresAnIrTransferByteForByte) {
    const std::filesystem::path dump = std::filesystem::path(::testing::TempDir()) / "emulator-e2e-dump";
    std::filesystem::remove_all(dump);
    EmulatorProcess emulator({"--log", "--dump-dir", dump.string(), "--firmware", "2.5"});
    ASSERT_TRUE(emulator.ready()) << emulator.transcript();

    Client client;
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return client.connect(); })) << "the ports carry \"VDR\"";
    EXPECT_EQ(client.firstVersion(), (Bytes{0xF0, 0x00, 0x0B, 0x02, 0x05, 0xF7})) << emulator.transcript();

    const Bytes image = emulator::testing::irImage(4096);
    for (const Bytes& m : emulator::testing::irTransfer(image, 2, "ROOM MIC")) {
        client.send(m);
        ASSERT_EQ(client.next(), (Bytes{0xF0, 0x00, 0x08, 0xF7})) << emulator.transcript();
    }
    EXPECT_EQ(client.next(), (Bytes{0xF0, 0x00, 0x03, 0xF7})) << "change notice after the store";

    const auto ir = EmulatorProcess::fields(emulator.command("ir 2"));
    EXPECT_EQ(ir.at("size"), "16428");
    std::ifstream file(ir.at("file"), std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(file), {}), image);
    EXPECT_EQ(emulator.received(0x08), 65);
    EXPECT_EQ(emulator.received(0x09), 1);
    EXPECT_TRUE(emulator.errorLines().size() <= 1) << emulator.transcript();  // the start-up line only
}

TEST_F(EmulatorE2e, RestartAndUnplugTakeThePortsAwayAndBringThemBack) {
    EmulatorProcess emulator({"--restart-away", "300"});
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator.portsOpen(); })) << emulator.transcript();
    Client client;
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return client.connect(); }));
    ASSERT_FALSE(client.firstVersion().empty());

    client.send({0xF0, 0x00, 0x0C, 0xF7});
    EXPECT_TRUE(EmulatorProcess::waitFor([&] { return !client.present(); })) << "gone on the restart request";
    EXPECT_TRUE(EmulatorProcess::waitFor([&] { return client.present(); })) << "and back";

    EXPECT_EQ(emulator.command("unplug"), "ok unplugged");
    EXPECT_TRUE(EmulatorProcess::waitFor([&] { return !client.present(); }));
    EXPECT_EQ(emulator.command("plug"), "ok plugged");
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return client.connect(); }));
    ASSERT_FALSE(client.firstVersion().empty());
    client.send({0xF0, 0x00, 0x04, 0x02, 0xF7});
    const Bytes reply = client.next();
    ASSERT_EQ(reply.size(), 70u);
    EXPECT_EQ(std::string(reply.begin() + 5, reply.begin() + 12), "2_CLEAN");
}

}  // namespace
}  // namespace halvard::e2e
