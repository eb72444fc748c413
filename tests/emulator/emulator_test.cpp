#include "emulator.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "editor_messages.hpp"

namespace halvard::emulator {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

class FakePorts final : public AmpPorts {
public:
    void setReceiver(Receiver r) override { receiver = std::move(r); }
    bool open(std::string&) override { return opened = true, ++opens, true; }
    void close() override { opened = false; }
    bool isOpen() const override { return opened; }
    bool send(std::span<const uint8_t> m) override {
        sent.emplace_back(m.begin(), m.end());
        return true;
    }
    std::string describe() const override { return "fake ports"; }

    Receiver receiver;
    bool opened = false;
    int opens = 0;
    std::vector<Bytes> sent;
};

struct Rig {
    explicit Rig(EmulatorOptions o = {}) : emulator(o, ports, out, err) { emulator.start(t0); }
    // The editor sends m at time ms; the emulator handles it then.
    void send(const Bytes& m, int ms) {
        ports.receiver(m);
        emulator.step(at(ms));
    }
    Emulator::TimePoint at(int ms) const { return t0 + milliseconds(ms); }
    std::string control(const std::string& line, int ms = 0) { return emulator.control(line, at(ms)); }

    Emulator::TimePoint t0 = Emulator::Clock::now();
    FakePorts ports;
    std::ostringstream out, err;
    Emulator emulator;
};

const Bytes kVersionRead{0xF0, 0x00, 0x0B, 0xF7};

TEST(Emulator, LateAnswersKeepTheirOrder) {
    EmulatorOptions o;
    o.faults.delayMs = 50;
    Rig rig(o);
    rig.send(kVersionRead, 0);
    rig.send({0xF0, 0x00, 0x04, 0x02, 0xF7}, 10);
    EXPECT_TRUE(rig.ports.sent.empty());
    EXPECT_EQ(rig.emulator.step(rig.at(20)), rig.at(50)) << "the next wake-up is the first reply's time";
    rig.emulator.step(rig.at(50));
    ASSERT_EQ(rig.ports.sent.size(), 1u);
    EXPECT_EQ(rig.ports.sent[0], versionReply(0x0107));
    rig.emulator.step(rig.at(60));
    ASSERT_EQ(rig.ports.sent.size(), 2u);
    EXPECT_EQ(rig.ports.sent[1][2], kSlotNameRead);
}

TEST(Emulator, RestartClosesThePortsAndComesBackWithStoredFirmware) {
    EmulatorOptions o;
    o.restartAwayMs = 500;
    Rig rig(o);
    int t = 0;
    for (const Bytes& m : testing::firmwareTransfer(testing::firmwareImage(2, 0))) rig.send(m, t);
    rig.send({0xF0, 0x00, 0x0C, 0xF7}, ++t);
    EXPECT_FALSE(rig.ports.isOpen());
    rig.emulator.step(rig.at(t + 499));
    EXPECT_FALSE(rig.ports.isOpen()) << "stays away for the restart time";
    rig.emulator.step(rig.at(t + 500));
    EXPECT_TRUE(rig.ports.isOpen());
    rig.ports.sent.clear();
    rig.send(kVersionRead, t + 501);
    EXPECT_EQ(rig.ports.sent, (std::vector<Bytes>{versionReply(0x0200)}));
    EXPECT_EQ(rig.control("firmware"), "ok firmware version=2.0 pending=- stores=1 size=131072 file=-");
}

TEST(Emulator, TimedFaultsUnplugReplugAndNotices) {
    EmulatorOptions o;
    o.faults.unplugAfterMs = 100;
    o.faults.replugAfterMs = 300;
    o.faults.noticeEveryMs = 40;
    Rig rig(o);
    rig.emulator.step(rig.at(40));
    rig.emulator.step(rig.at(80));
    EXPECT_EQ(rig.ports.sent, (std::vector<Bytes>(2, changeNotice(std::nullopt))));
    rig.emulator.step(rig.at(100));
    EXPECT_FALSE(rig.ports.isOpen());
    rig.emulator.step(rig.at(399));
    EXPECT_FALSE(rig.ports.isOpen());
    rig.emulator.step(rig.at(400));
    EXPECT_TRUE(rig.ports.isOpen());
    EXPECT_EQ(rig.ports.opens, 2);
}

TEST(Emulator, ControlChannelReadsAndChangesTheAmplifier) {
    Rig rig;
    const std::string write = "F000012A2501211110020101103213 0B F7";
    rig.send(*fromHex(write), 0);
    EXPECT_EQ(rig.control("record 42"), "ok record 42 01211110020101103213");
    EXPECT_EQ(rig.control("globals"),
              "ok globals 250B midi-channel=5 bypass-lock=1 reverb-tails=0 mono=1 ir-slot=5");
    EXPECT_EQ(rig.control("counts"), "ok counts received=1 malformed=0 sent=0 01=1");
    EXPECT_EQ(rig.control("received 0"), "ok received 0 " + toHex(*fromHex(write)));
    EXPECT_EQ(rig.control("received -1"), rig.control("received 0"));
    EXPECT_EQ(rig.control("received 1").rfind("error", 0), 0u);

    EXPECT_EQ(rig.control("set-record 9 00000000000000002121"), "ok record 9 00000000000000002121");
    EXPECT_EQ(rig.control("set-record 9 00 80 00 00 00 00 00 00 00 00").rfind("error", 0), 0u) << "not 7-bit";
    EXPECT_EQ(rig.control("set-slot 3 my  cab "), "ok slot 3 6D79202063616220 my  cab ") << "blanks kept";
    EXPECT_EQ(rig.control("set-slot 3"), "ok slot 3 - ");
    EXPECT_EQ(rig.control("slot 6").rfind("error", 0), 0u);

    rig.ports.sent.clear();
    EXPECT_EQ(rig.control("notice 17"), "ok notice sent");
    EXPECT_EQ(rig.control("send F0 7F 01 F7"), "ok sent 4 bytes");
    EXPECT_EQ(rig.ports.sent, (std::vector<Bytes>{changeNotice(17), {0xF0, 0x7F, 0x01, 0xF7}}));
    EXPECT_EQ(rig.control("program"), "ok program 17");

    EXPECT_EQ(rig.control("fault hang on"), "ok fault hang on");
    rig.ports.sent.clear();
    rig.send(kVersionRead, 1);
    EXPECT_TRUE(rig.ports.sent.empty());
    EXPECT_EQ(rig.control("fault none"), "ok fault none");
    EXPECT_EQ(rig.control("fault delay soon").rfind("error", 0), 0u);

    EXPECT_EQ(rig.control("unplug 200", 10), "ok unplugged");
    EXPECT_EQ(rig.control("notice").rfind("error", 0), 0u) << "nothing is sent while unplugged";
    rig.emulator.step(rig.at(210));
    EXPECT_TRUE(rig.ports.isOpen());
    EXPECT_EQ(rig.control("frobnicate").rfind("error unknown command", 0), 0u);
}

TEST(Emulator, DumpsStoredImagesForByteComparison) {
    const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "amp-emulator-dump";
    std::filesystem::remove_all(dir);
    EmulatorOptions o;
    o.dumpDir = dir.string();
    Rig rig(o);
    const Bytes image = testing::irImage(300);
    for (const Bytes& m : testing::irTransfer(image, 4, "CAB")) rig.send(m, 0);
    const std::string file = (dir / "001-slot4.wav").string();
    EXPECT_EQ(rig.control("ir 4"), "ok ir 4 size=1244 stores=1 name=434142 file=" + file);
    std::ifstream in(file, std::ios::binary);
    const Bytes dumped{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(dumped, image);
    EXPECT_EQ(rig.control("image 4"), "ok image 4 " + toHex(image));
}

TEST(EmulatorOptions, CommandLine) {
    const auto parse = [](std::vector<std::string_view> args) { return parseCommandLine(args); };
    ParsedCommandLine p = parse({"--api", "jack", "--firmware=2.11", "--slot-name", "2=2_CLEAN", "--delay",
                                 "30", "--ignore", "0x0B", "--malformed", "byte1,stray", "--log"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.midiSystem, MidiSystem::Jack);
    EXPECT_EQ(p.options.firmwareVersion, 0x020B);
    EXPECT_EQ(p.options.slotNames[2], "2_CLEAN");
    EXPECT_EQ(p.options.faults.delayMs, 30);
    EXPECT_EQ(p.options.faults.amp.ignoreCode, 0x0B);
    EXPECT_EQ(p.options.faults.amp.malformed, kMalformedByte1 | kMalformedStray);
    EXPECT_EQ(p.options.log, LogMode::Brief);
    EXPECT_EQ(initialState(p.options).slotNames[2], "2_CLEAN");

    for (const std::vector<std::string_view>& bad :
         std::vector<std::vector<std::string_view>>{{"--firmware", "1.128"},
                                                    {"--program", "128"},
                                                    {"--slot-name", "6=X"},
                                                    {"--delay"},
                                                    {"--malformed", "odd"},
                                                    {"--log=1"},
                                                    {"--frob"}}) {
        EXPECT_FALSE(parse(bad).error.empty()) << bad[0];
    }
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"--version"}).version);
}

}  // namespace
}  // namespace halvard::emulator
