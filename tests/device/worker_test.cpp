#include "device/worker/worker.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "device/link/clock.hpp"
#include "device/protocol/exchanges.hpp"
#include "fake_device.hpp"

namespace halvard {
namespace {

using test::Bytes;
constexpr PortDirection kIn = PortDirection::Input;
constexpr PortDirection kOut = PortDirection::Output;

const std::vector<int> kSyncCodes = {0x0B, 0x02, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04};

class FakeFirmware final : public FirmwareSource {
public:
    bool succeed = false;
    uint16_t version = 0x0200;
    int calls = 0;
    bool downloadFirmwareImage(FirmwareImage& image, const std::atomic<bool>&) override {
        ++calls;
        image.fill(0);
        image[kFirmwareImageBytes - 3] = static_cast<uint8_t>(version >> 8);
        image[kFirmwareImageBytes - 4] = static_cast<uint8_t>(version & 0xFF);
        return succeed;
    }
};

struct Worker : ::testing::Test, test::FakeLink {
    std::unique_ptr<DeviceWorker> worker;

    void SetUp() override { worker = std::make_unique<DeviceWorker>(ctx); }

    void passes(int n) {
        for (int i = 0; i < n; ++i) worker->runPass();
    }

    void connect() {
        ports.plugAmp();
        passes(1);
        ASSERT_EQ(mirror.linkState, LinkState::Connected);
    }

    std::vector<int> codesOfPass() {
        const size_t mark = ports.sent.size();
        passes(1);
        return ports.sentCodes(mark);
    }
};

TEST_F(Worker, FindsTheAmplifierAndReadsItInOrder) {
    passes(3);
    EXPECT_EQ(mirror.linkState, LinkState::NoDevice);
    EXPECT_TRUE(ports.sent.empty());
    EXPECT_EQ(repaints, 1) << "already NoDevice: only the first count of ports is news";

    // An input without an output is no amplifier; both ports stay closed.
    ports.inputs = {"VD", test::kAmpInputName};
    passes(1);
    EXPECT_EQ(mirror.linkState, LinkState::NoDevice);
    EXPECT_FALSE(ports.isPortOpen(kIn));
    EXPECT_FALSE(ports.isPortOpen(kOut));

    ports.inputs.clear();
    ports.plugAmp();
    std::vector<std::pair<LinkState, int32_t>> seenDuringSync;
    clock.onAdvance = [&](Clock::TimePoint) {
        if (!ports.sent.empty()) seenDuringSync.emplace_back(mirror.linkState, mirror.progress);
    };
    passes(1);
    clock.onAdvance = nullptr;

    ASSERT_EQ(ports.sentCodes(), kSyncCodes);
    EXPECT_EQ(ports.sent[1].bytes, (Bytes{0xF0, 0x00, 0x02, 0x00, 0xF7}));
    for (int s = 0; s < 6; ++s) EXPECT_EQ(ports.sent[2 + s].bytes[3], s);
    EXPECT_EQ(ports.openedTarget[0], test::kAmpInputName);
    EXPECT_EQ(ports.openedTarget[1], test::kAmpOutputName);
    EXPECT_EQ(ports.openedName[0], "midi Input");
    EXPECT_EQ(ports.openedName[1], "midi Output");
    EXPECT_FALSE(ports.sysexIgnored);
    EXPECT_TRUE(ports.timingIgnored);
    EXPECT_TRUE(ports.sensingIgnored);
    EXPECT_GT(ports.errorHandlerInstalls, 0);

    ASSERT_FALSE(seenDuringSync.empty());
    for (auto [state, progress] : seenDuringSync) {
        EXPECT_EQ(state, LinkState::Busy);
        EXPECT_EQ(progress, kProgressReading);
    }
    const MirrorView v = mirror.view();
    EXPECT_EQ(v.linkState, LinkState::Connected);
    EXPECT_EQ(v.progress, kProgressNone);
    EXPECT_EQ(v.firmwareVersion, 0x0107);
    EXPECT_EQ(v.midiChannel, 3);
    EXPECT_EQ(v.irSlot, 4);
    EXPECT_EQ(v.current.loaded, 1);
    const char* names[] = {"CLEAN", "CRUNCH 2", "", "DARK", "0_BRIGHT", "FIFTH"};
    for (int s = 0; s < 6; ++s)
        EXPECT_EQ(v.userIrSlotNames[static_cast<size_t>(s)].view(), names[s]) << "slot " << s;
    EXPECT_EQ(ctx.failures, 0);
    EXPECT_GE(repaints, 2);

    EXPECT_TRUE(codesOfPass().empty()) << "an idle link sends nothing";
}

TEST_F(Worker, ChangeNoticeRunsOneFullSyncOfTheNamedProgram) {
    connect();
    ports.deliver({0xF0, 0x00, 0x03, 0x05, 0xF7});
    const size_t mark = ports.sent.size();
    EXPECT_EQ(codesOfPass(), kSyncCodes);
    EXPECT_EQ(ports.sent[mark + 1].bytes[3], 5);
    EXPECT_EQ(mirror.program, 5);
    EXPECT_EQ(mirror.record(5).loaded, 1);
    EXPECT_EQ(mirror.record(0).loaded, 1) << "a change notice re-reads without forgetting";
    EXPECT_EQ(mirror.linkState, LinkState::Connected);
    EXPECT_TRUE(codesOfPass().empty());
}

// Connected with nothing under way, the worker sleeps until input arrives or a command is posted
// (at most kIdleWaitLimitMs), then passes at once and every 5 ms until nothing is under way again.
TEST_F(Worker, ConnectedAndIdleItSleepsUntilInputOrACommandComes) {
    ports.listedUntil = Clock::TimePoint::max();
    connect();
    passes(1);  // the first pass after the sync finds nothing to do
    long long start = clock.elapsedMs();
    passes(2);
    EXPECT_EQ(clock.elapsedMs() - start, 2 * kIdleWaitLimitMs);

    ports.deliver({0xF0, 0x00, 0x03, 0x05, 0xF7}, 20);  // a change notice, 20 ms from now
    start = clock.elapsedMs();
    const size_t mark = ports.sent.size();
    EXPECT_EQ(codesOfPass(), kSyncCodes);
    EXPECT_EQ(ports.sent[mark].atMs - start, 20) << "read as it arrives";
    EXPECT_EQ(mirror.program, 5);

    passes(2);  // the pass after the sync finds nothing: idle again
    mirror.postCommand(CommandKind::StorePreset);
    start = clock.elapsedMs();
    EXPECT_EQ(codesOfPass(), (std::vector<int>{kCodePresetStore}));
    EXPECT_EQ(clock.elapsedMs() - start, kPollIntervalMs + kStoreDisplayMs) << "taken at once";
}

TEST_F(Worker, UnplugForgetsTheAmplifierAndReplugReadsItAgain) {
    connect();
    ports.unplugAmp();  // the fake keeps the ports "open", as ALSA does
    const int before = repaints;
    passes(1);
    EXPECT_EQ(mirror.linkState, LinkState::NoDevice);
    EXPECT_FALSE(ports.isPortOpen(kIn));
    EXPECT_FALSE(ports.isPortOpen(kOut));
    EXPECT_EQ(mirror.record(0).loaded, 0);
    EXPECT_TRUE(mirror.slotName(0).empty());
    EXPECT_EQ(mirror.firmwareVersion, 0);
    EXPECT_EQ(repaints, before + 1);
    passes(2);
    EXPECT_EQ(repaints, before + 1) << "NoDevice is reported once";

    ports.plugAmp();
    EXPECT_EQ(codesOfPass(), kSyncCodes);
    EXPECT_EQ(mirror.linkState, LinkState::Connected);
    EXPECT_EQ(mirror.slotName(0).view(), "CLEAN");
}

TEST_F(Worker, WithNoAmplifierAPassWaitsUntilThePortsMayHaveChanged) {
    ports.listedUntil = Clock::TimePoint::max();  // a system that reports every change
    passes(2);
    EXPECT_EQ(clock.elapsedMs(), 2 * (kPollIntervalMs + kNoDeviceWaitLimitMs));
    clock.notifyAt(clock.now() + std::chrono::milliseconds(300), ctx.wakeup);  // a change reported
    passes(1);
    EXPECT_EQ(clock.elapsedMs(), 2 * (kPollIntervalMs + kNoDeviceWaitLimitMs) + 300) << "ends the sleep";
    ports.plugAmp();
    EXPECT_EQ(codesOfPass(), kSyncCodes);
}

// Without the amplifier the panel says how many ports there are: a missing driver shows none.
TEST_F(Worker, WithoutTheAmplifierThePanelCountsThePortsSeen) {
    ports.inputs = {"Midi Through:0", "USB Keys"};
    ports.outputs = {"Midi Through:0"};
    passes(1);
    EXPECT_EQ(mirror.portsSeen, 3);
    const int before = repaints;
    ports.outputs.push_back("USB Synth");
    passes(2);
    EXPECT_EQ(mirror.portsSeen, 4);
    EXPECT_EQ(repaints, before + 1) << "a new count is shown once";
}

// Windows lets one program open a MIDI port. While another has the amplifier's, the panel says so
// and the worker tries again only every 2 s, sleeping between; once free, the link comes up.
TEST_F(Worker, AmplifierPortHeldElsewhereIsTriedEveryTwoSecondsUntilItIsFree) {
    ports.listedUntil = Clock::TimePoint::max();
    ports.plugAmp();
    ports.ampInUse = true;
    passes(1);
    EXPECT_EQ(mirror.linkState, LinkState::NoDevice);
    EXPECT_TRUE(mirror.portInUse);
    const int before = repaints;
    passes(10);
    EXPECT_GE(clock.elapsedMs(), 9000) << "it sleeps between tries rather than pass every 5 ms";
    ASSERT_GE(ports.refusedAtMs.size(), 4u);
    for (size_t i = 1; i < ports.refusedAtMs.size(); ++i)
        EXPECT_GE(ports.refusedAtMs[i] - ports.refusedAtMs[i - 1], kPortInUseRetryMs) << "try " << i;
    EXPECT_EQ(repaints, before) << "PORT IN USE is shown once";

    ports.unplugAmp();
    passes(1);
    EXPECT_FALSE(mirror.portInUse) << "gone while held: no amplifier now, not a port in use";
    ports.plugAmp();
    passes(1);
    EXPECT_TRUE(mirror.portInUse);

    ports.ampInUse = false;
    const long long freed = clock.elapsedMs();
    passes(2);
    EXPECT_EQ(mirror.linkState, LinkState::Connected);
    EXPECT_LE(clock.elapsedMs() - freed, kPortInUseRetryMs + 2 * kPollIntervalMs);
}

// A MIDI interface plugged in ahead of the amplifier shifts its index: the open ports stay open,
// and a reopen takes the amplifier at its new index, never the newcomer.
TEST_F(Worker, AnInterfacePluggedInAheadOfTheAmplifierIsNeverOpened) {
    connect();
    ports.inputs.insert(ports.inputs.begin(), "USB MIDI Interface");
    ports.outputs.insert(ports.outputs.begin(), "USB MIDI Interface");
    passes(3);
    EXPECT_EQ(ports.openCount[0], 1);
    ports.failNextSend = true;  // a library error closes both ports; the next pass reopens them
    mirror.postCommand(CommandKind::SendSettings);
    passes(2);
    EXPECT_EQ(ports.openCount[0], 2);
    EXPECT_EQ(ports.openedTarget[0], test::kAmpInputName);
    EXPECT_EQ(ports.openedTarget[1], test::kAmpOutputName);
    EXPECT_EQ(mirror.linkState, LinkState::Connected);
}

TEST_F(Worker, LibraryErrorClosesBothPortsAndTheNextPassReopensThem) {
    connect();
    ports.failNextSend = true;
    mirror.postCommand(CommandKind::SendSettings);
    passes(1);
    EXPECT_FALSE(ports.isPortOpen(kIn));
    EXPECT_FALSE(ports.isPortOpen(kOut));
    passes(1);
    EXPECT_TRUE(ports.isPortOpen(kIn));
    EXPECT_TRUE(ports.isPortOpen(kOut));
    EXPECT_EQ(ports.openCount[1], 2);
    EXPECT_EQ(mirror.linkState, LinkState::Connected);
}

TEST_F(Worker, SilentSettingsReadRepeatsTheSyncWithoutRecovery) {
    ports.amp.silentFor = {kCodeSettings};
    mirror.postCommand(CommandKind::SendSettings);  // taken, but a program never read is not written
    ports.plugAmp();
    for (int pass = 0; pass < 4; ++pass) {
        EXPECT_EQ(codesOfPass(), kSyncCodes) << "pass " << pass;
        EXPECT_EQ(mirror.command.load(), Command{});
        EXPECT_EQ(mirror.linkState, LinkState::Error);
        EXPECT_EQ(ctx.failures, 0) << "the slot names answered";
        EXPECT_EQ(mirror.slotName(3).view(), "DARK");
    }
}

TEST_F(Worker, TwoTimeoutsInARowRecoverTheLink) {
    ports.amp.silent = true;
    ports.plugAmp();
    EXPECT_EQ(codesOfPass(), (std::vector<int>{0x0B, 0x02, 0x04})) << "the first slot time-out ends the loop";
    EXPECT_EQ(ctx.failures, 3);
    EXPECT_EQ(mirror.linkState, LinkState::Error);

    const auto start = clock.elapsedMs();
    mirror.postCommand(CommandKind::StorePreset);
    EXPECT_EQ(codesOfPass(), (std::vector<int>{0x0C}));
    EXPECT_EQ(mirror.command.load(), Command{CommandKind::StorePreset}) << "it waits for the link";
    EXPECT_GE(clock.elapsedMs() - start, 1000);
    EXPECT_FALSE(ports.isPortOpen(kIn));
    EXPECT_FALSE(ports.isPortOpen(kOut));
    EXPECT_EQ(ctx.failures, 0);
    EXPECT_EQ(mirror.progress, kProgressNone);

    ports.amp.silent = false;
    std::vector<int> expected = kSyncCodes;
    expected.push_back(0x0A);
    EXPECT_EQ(codesOfPass(), expected);
    EXPECT_EQ(mirror.linkState, LinkState::Connected);
}

TEST_F(Worker, CommandsCoalesceAndCarryOutTheirSteps) {
    connect();

    // Only the later of two posts is carried out.
    mirror.program = 7;
    mirror.postCommand(CommandKind::SendSettings);
    mirror.postCommand(CommandKind::ReadSettings);
    EXPECT_EQ(codesOfPass(), (std::vector<int>{0x02}));
    EXPECT_EQ(mirror.record(7).loaded, 1);
    EXPECT_EQ(mirror.command.load(), Command{});

    // A settings write is built from the mirror as it is.
    mirror.editRecord(7, [](ProgramSettings& s) { s.reverb[0] = 1; });
    mirror.postCommand(CommandKind::SendSettings);
    size_t mark = ports.sent.size();
    passes(1);
    ASSERT_EQ(ports.sent.size(), mark + 1);
    std::array<uint8_t, kSettingsWriteBytes> expected{};
    buildSettingsWrite(
        expected, 7, {mirror.midiChannel, mirror.bypassLock, mirror.reverbTails, mirror.mono, mirror.irSlot},
        mirror.record(7));
    EXPECT_EQ(ports.sent[mark].bytes, Bytes(expected.begin(), expected.end()));
    EXPECT_EQ(ports.sent[mark].bytes[7] & 0x0F, 1);

    // Preset store: the message, then "STORING..." for 500 ms.
    std::vector<std::pair<LinkState, int32_t>> shown;
    clock.onAdvance = [&](Clock::TimePoint) { shown.emplace_back(mirror.linkState, mirror.progress); };
    mirror.postCommand(CommandKind::StorePreset);
    const auto start = clock.elapsedMs();
    EXPECT_EQ(codesOfPass(), (std::vector<int>{0x0A}));
    clock.onAdvance = nullptr;
    EXPECT_GE(clock.elapsedMs() - start, 500);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), std::pair{LinkState::Busy, kProgressStoring}), 100);
    EXPECT_EQ(mirror.linkState, LinkState::Connected);
    EXPECT_EQ(mirror.progress, kProgressNone);

    // An edit whose settings command a store replaced before the worker took it is written first.
    mirror.settingsUnsent = true;  // as the panel's post of SendSettings sets it
    mirror.postCommand(CommandKind::SendSettings);
    mirror.postCommand(CommandKind::StorePreset);
    EXPECT_EQ(codesOfPass(), (std::vector<int>{0x01, 0x0A}));

    // A settings read that times out still returns the panel to Connected, one failure later.
    ports.amp.silentFor = {kCodeSettings};
    mirror.postCommand(CommandKind::ReadSettings);
    passes(1);
    EXPECT_EQ(mirror.linkState, LinkState::Connected);
    EXPECT_EQ(ctx.failures, 1);

    // Commands without a worker action here (no dialogs, no IR panel open), and imports into a
    // slot outside 0..5, are taken and send nothing.
    const std::vector<Command> idle = {importIrCommand(0),
                                       importIrCommand(5),
                                       {CommandKind::UploadFactoryIr},
                                       {CommandKind::ExtractAll},
                                       {CommandKind::BackupPrograms},
                                       {CommandKind::RestorePrograms},
                                       importIrCommand(6),
                                       importIrCommand(-1)};
    for (size_t i = 0; i < idle.size(); ++i) {
        mirror.postCommand(idle[i]);
        EXPECT_TRUE(codesOfPass().empty()) << "command " << i;
        EXPECT_EQ(mirror.command.load(), Command{}) << "command " << i;
    }
}

TEST_F(Worker, AnAmplifierOnAnotherProgramBeforeTheGlobalsWereReadIsReadAtProgram0First) {
    ports.amp.globals.midiChannel = 5;
    ports.plugAmp();
    ports.deliver({0xF0, 0x00, 0x03, 9, 0xF7});  // decoded before the sync's settings read
    std::vector<int> expected = kSyncCodes;
    expected.insert(expected.begin() + 1, 0x02);
    EXPECT_EQ(codesOfPass(), expected);
    EXPECT_EQ(ports.sent[2].bytes[3], 9) << "the read of program 9 comes last, so the amplifier stays there";
    EXPECT_EQ(mirror.midiChannel, 5);
}

TEST_F(Worker, CommandPostedWithoutDeviceIsCarriedOutAfterTheFirstSync) {
    mirror.postCommand(CommandKind::SendSettings);
    passes(3);
    EXPECT_EQ(mirror.command.load(), Command{CommandKind::SendSettings}) << "it waits for the amplifier";
    ports.plugAmp();
    std::vector<int> expected = kSyncCodes;
    expected.push_back(0x01);
    EXPECT_EQ(codesOfPass(), expected);
    EXPECT_EQ(mirror.command.load(), Command{});
}

TEST_F(Worker, FirmwareImageIsFetchedUntilOnceSuccessfulAndANewerOneEndsThePass) {
    FakeFirmware firmware;
    ctx.firmware = &firmware;
    ctx.backupFolder = std::filesystem::path(::testing::TempDir()) / "worker-backups";
    connect();
    EXPECT_EQ(firmware.calls, 1);
    EXPECT_TRUE(worker->fetchFirmware()) << "a failed download is tried again at the next sync";

    firmware.succeed = true;
    mirror.postCommand(CommandKind::StorePreset);
    ports.deliver({0xF0, 0x00, 0x03, 0xF7});
    // The version read, the backup's reads, the transfer, the store, the restart request.
    std::vector<int> update = {0x0B};
    update.insert(update.end(), kProgramCount + 1, 0x02);
    update.insert(update.end(), 512, 0x07);
    update.insert(update.end(), {0x09, 0x0C});
    EXPECT_EQ(codesOfPass(), update) << "the update step ends the sync and the pass";
    EXPECT_EQ(firmware.calls, 2);
    EXPECT_FALSE(worker->fetchFirmware());
    EXPECT_EQ(mirror.command.load(), Command{CommandKind::StorePreset}) << "no dispatch in that pass";
    EXPECT_FALSE(ctx.amplifierRecords[0]) << "the programs read before the update are forgotten";
    std::vector<int> afterRestart = kSyncCodes;
    afterRestart.push_back(0x0A);
    EXPECT_EQ(codesOfPass(), afterRestart) << "the restarted amplifier is read, then the command runs";
    EXPECT_EQ(mirror.availableFirmware, 0) << "the mirror forgot the image's version";

    // The image is not fetched again in this run.
    ports.unplugAmp();
    passes(1);
    ports.plugAmp();
    EXPECT_EQ(codesOfPass(), kSyncCodes);
    EXPECT_EQ(firmware.calls, 2);
}

TEST_F(Worker, RunDeviceWorkerStopsOnQuitAndClosesThePorts) {
    ports.amp.silent = true;  // the stop comes in the middle of reply waits and recovery pauses
    ports.plugAmp();
    clock.onAdvance = [&](Clock::TimePoint) {
        if (clock.elapsedMs() >= 4321) ctx.quit = true;
    };
    runDeviceWorker(ctx);
    EXPECT_EQ(clock.elapsedMs(), 4325) << "nothing new starts once quit is set";
    EXPECT_FALSE(ports.isPortOpen(kIn));
    EXPECT_FALSE(ports.isPortOpen(kOut));
    EXPECT_EQ(ctx.ports, &ports) << "ports the caller supplied stay the caller's";
}

}  // namespace
}  // namespace halvard
