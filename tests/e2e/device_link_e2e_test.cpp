// The editor's device worker against the amplifier emulator over a real JACK server: the sync
// conversation, settings writes and preset stores, change notices, unplugging, a silent amplifier
// and malformed replies.

#include <gtest/gtest.h>

#include <thread>

#include "editor_messages.hpp"
#include "editor_worker.hpp"
#include "emulator_process.hpp"

namespace halvard::e2e {
namespace {

using emulator::testing::Bytes;
using emulator::testing::syncConversation;
using emulator::testing::sysex;

// Program 0 and the globals as the tests set them in the emulator, and what the editor must make
// of them. Record bytes 5..14: loop bypass, channel 1 + bypass, reverb/tremolo rhythm and lead,
// IR 2 and 1, IR bypass, HF comp lead, lowpass 3/2, highpass 1/3.
constexpr const char* kRecord0 = "01210110020101102331";
constexpr const char* kGlobals = "4509";  // MIDI channel 5, reverb tails; mono, IR slot 4

ProgramSettings expectedRecord0() {
    return {.loopBypass = 1,
            .channel = 1,
            .bypass = 1,
            .reverb = {1, 0},
            .tremolo = {0, 1},
            .ir = {2, 1},
            .irBypass = 1,
            .hfComp = {0, 1},
            .filterA = {3, 2},
            .filterB = {1, 3},
            .loaded = 1};
}

class DeviceLinkE2e : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(ensureJackServer(&why)) << why;
    }

    // An emulator with the test's program 0, globals and slot names, ports open.
    void startEmulator(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {
            "--log",           "--firmware",  "1.9",     "--restart-away", "300",        "--slot-name",
            "0=0_CLOSED BACK", "--slot-name", "2=0_cab", "--slot-name",    "4=4_x4_room"};
        args.insert(args.end(), extra.begin(), extra.end());
        emulator_ = std::make_unique<EmulatorProcess>(args);
        ASSERT_TRUE(emulator_->started());
        ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator_->portsOpen(); })) << transcript();
        ASSERT_EQ(emulator().command(std::string("set-record 0 ") + kRecord0).substr(0, 2), "ok");
        ASSERT_EQ(emulator().command(std::string("set-globals ") + kGlobals).substr(0, 2), "ok");
    }

    // Starts the worker and waits for the first sync to end Connected.
    void connect() {
        worker_ = std::make_unique<EditorWorker>();
        ASSERT_TRUE(worker().waitForState(LinkState::Connected))
            << stateName(worker().state()) << transcript();
    }

    // Waits until the emulator has received n messages and nothing more arrives for a moment:
    // "exactly one re-read" needs the quiet after it, not only its end.
    bool settleAt(int n) {
        if (!EmulatorProcess::waitFor([&] { return emulator().receivedTotal() >= n; })) return false;
        std::this_thread::sleep_for(300ms);
        return emulator().receivedTotal() == n;
    }

    void expectConnectedMirror(const char* when) {
        const MirrorView v = worker().mirror.view();
        EXPECT_EQ(v.linkState, LinkState::Connected) << when;
        EXPECT_EQ(v.firmwareVersion, 0x0109) << when;
        EXPECT_EQ(worker().mirror.record(0), expectedRecord0()) << when;
        EXPECT_EQ(v.midiChannel, 5) << when;
        EXPECT_EQ(v.bypassLock, 0) << when;
        EXPECT_EQ(v.reverbTails, 1) << when;
        EXPECT_EQ(v.mono, 1) << when;
        EXPECT_EQ(v.irSlot, 4) << when;
        // The amplifier's "n_" prefix goes only for the slot's own number; letters are shown upper case.
        const char* names[6] = {"CLOSED BACK", "OPEN BACK 112", "0_CAB", "", "X4_ROOM", "BRIGHT 212"};
        for (int s = 0; s < 6; ++s)
            EXPECT_EQ(v.userIrSlotNames[static_cast<size_t>(s)].view(), names[s]) << when << " slot " << s;
    }

    std::string transcript() const { return emulator_ ? "\n" + emulator_->transcript() : std::string(); }

    EmulatorProcess& emulator() { return *emulator_; }
    EditorWorker& worker() { return *worker_; }

    // The worker goes first: it must not outlive the ports it talks to by much, and the emulator's
    // transcript stays readable until the end.
    void TearDown() override { worker_.reset(); }

    std::unique_ptr<EmulatorProcess> emulator_;
    std::unique_ptr<EditorWorker> worker_;
};

TEST_F(DeviceLinkE2e, ConnectReadsVersionSettingsAndSlotNamesInOrder) {
    startEmulator();
    connect();
    EXPECT_EQ(emulator().messages(), syncConversation(0)) << transcript();
    expectConnectedMirror("after the first sync");
}

TEST_F(DeviceLinkE2e, SettingsWriteArrivesByteForByteAndPresetStoreIsAnswered) {
    startEmulator();
    connect();
    ASSERT_EQ(emulator().command("clear"), "ok cleared");

    worker().mirror.editRecord(0, [](ProgramSettings& r) { r.reverb[1] = 1; });
    worker().mirror.postCommand(CommandKind::SendSettings);
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator().received(0x01) == 1; })) << transcript();
    EXPECT_EQ(emulator().message(0), (Bytes{0xF0, 0x00, 0x01, 0x00, 0x45, 0x01, 0x21, 0x01, 0x11, 0x02, 0x01,
                                            0x01, 0x10, 0x23, 0x31, 0x09, 0xF7}));
    EXPECT_EQ(emulator().recordHex(0), "01210111020101102331") << "the lead channel's reverb is on";

    // The store is answered with a change notice for the current program, which the editor
    // follows with one full re-read.
    worker().mirror.postCommand(CommandKind::StorePreset);
    ASSERT_TRUE(settleAt(1 + 1 + 8)) << transcript();
    EXPECT_EQ(emulator().message(1), sysex({0x0A}));
    std::vector<Bytes> expected{emulator().message(0), sysex({0x0A})};
    for (const Bytes& m : syncConversation(0)) expected.push_back(m);
    EXPECT_EQ(emulator().messages(), expected) << transcript();
    EXPECT_TRUE(worker().waitForState(LinkState::Connected));
    EXPECT_EQ(worker().mirror.record(0).reverb[1], 1) << "read back from the amplifier";
}

TEST_F(DeviceLinkE2e, ChangeNoticesReadTheAmplifierAgainAndMaySwitchTheProgram) {
    startEmulator();
    connect();
    ASSERT_EQ(emulator().command("clear"), "ok cleared");
    ASSERT_EQ(emulator().command("set-slot 1 1_fresh"), "ok slot 1 315F6672657368 1_fresh");

    ASSERT_EQ(emulator().command("notice"), "ok notice sent");
    ASSERT_TRUE(settleAt(8)) << "one full re-read, no more" << transcript();
    EXPECT_EQ(emulator().messages(), syncConversation(0));
    ASSERT_TRUE(worker().waitForState(LinkState::Connected));
    EXPECT_EQ(worker().mirror.slotName(1).view(), "FRESH");

    ASSERT_EQ(emulator().command("clear"), "ok cleared");
    ASSERT_EQ(emulator().command("set-record 7 00000000000000001111"), "ok record 7 00000000000000001111");
    ASSERT_EQ(emulator().command("notice 7"), "ok notice sent");
    ASSERT_TRUE(settleAt(8)) << transcript();
    EXPECT_EQ(emulator().messages(), syncConversation(7));
    ASSERT_TRUE(worker().waitForState(LinkState::Connected));
    EXPECT_EQ(worker().mirror.program.load(), 7);
    EXPECT_EQ(worker().mirror.record(7).loaded, 1);
    EXPECT_EQ(worker().mirror.record(7).filterA[0], 1);
}

TEST_F(DeviceLinkE2e, UnplugResetsTheMirrorAndTheReturnReadsEverythingAgain) {
    startEmulator();
    connect();
    ASSERT_EQ(emulator().command("unplug"), "ok unplugged");
    ASSERT_TRUE(worker().waitForState(LinkState::NoDevice)) << stateName(worker().state());
    const MirrorView gone = worker().mirror.view();
    EXPECT_EQ(gone.firmwareVersion, 0);
    EXPECT_EQ(worker().mirror.record(0).loaded, 0);
    EXPECT_EQ(gone.midiChannel, 0);
    for (const SlotName& n : gone.userIrSlotNames) EXPECT_TRUE(n.empty());

    ASSERT_EQ(emulator().command("clear"), "ok cleared");
    ASSERT_EQ(emulator().command("plug"), "ok plugged");
    ASSERT_TRUE(worker().waitForState(LinkState::Connected)) << stateName(worker().state()) << transcript();
    EXPECT_EQ(emulator().messages(), syncConversation(0));
    expectConnectedMirror("after the return");
}

TEST_F(DeviceLinkE2e, SilentAmplifierGivesErrorThenRecoveryWithARestartAndAFullSync) {
    startEmulator();
    connect();
    // The amplifier hangs, then reports a change (the control channel sends the notice for it):
    // every exchange of the re-read times out.
    ASSERT_EQ(emulator().command("fault hang on"), "ok fault hang on");
    ASSERT_EQ(emulator().command("clear"), "ok cleared");
    ASSERT_EQ(emulator().command("notice"), "ok notice sent");
    ASSERT_TRUE(worker().waitForState(LinkState::Error, 5s)) << stateName(worker().state());

    // Two failures in a row start the recovery: the restart request reaches the hung amplifier,
    // which restarts (and answers again), and the editor reads it from the start.
    ASSERT_TRUE(EmulatorProcess::waitFor([&] { return emulator().received(0x0C) >= 1; }, 20s))
        << transcript();
    ASSERT_TRUE(worker().waitForState(LinkState::Connected, 20s))
        << stateName(worker().state()) << transcript();
    EXPECT_EQ(EmulatorProcess::fields(emulator().command("status"))["hung"], "0");
    const std::vector<Bytes> all = emulator().messages();
    ASSERT_GE(all.size(), 8u);
    EXPECT_EQ(std::vector<Bytes>(all.end() - 8, all.end()), syncConversation(0)) << "a full sync ends it";
    expectConnectedMirror("after the recovery");
}

TEST_F(DeviceLinkE2e, MalformedRepliesChangeNothing) {
    // Every reply is followed by copies with byte 1 wrong, one byte short, a program above 127 or a
    // slot above 5, and stray messages, each carrying other values than the genuine reply.
    startEmulator({"--malformed", "all"});
    connect();
    ASSERT_TRUE(settleAt(8)) << "the copies start no second sync" << transcript();
    expectConnectedMirror("after a sync full of malformed copies");

    // Sent on their own while connected: other makers' SysEx, a settings reply for program 0x80
    // and a notice of 6 bytes. None may change the mirror or start a sync.
    ASSERT_EQ(emulator().command("clear"), "ok cleared");
    for (const char* m : {"send F0 7D 02 00 45 00 00 00 00 00 00 00 00 00 00 00 00 F7",
                          "send F0 00 02 80 00 00 00 00 00 00 00 00 00 00 00 00 00 F7",
                          "send F0 00 03 05 00 F7", "send F0 00 04 00 06 41 42 F7", "send 90 40 7F"}) {
        ASSERT_EQ(emulator().command(m).substr(0, 2), "ok") << m;
    }
    ASSERT_TRUE(settleAt(0)) << transcript();
    expectConnectedMirror("after stray malformed messages");
    EXPECT_EQ(worker().mirror.program.load(), 0);
}

}  // namespace
}  // namespace halvard::e2e
