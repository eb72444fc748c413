#include "device/protocol/exchanges.hpp"

#include <gtest/gtest.h>

#include "device/link/clock.hpp"
#include "fake_device.hpp"

namespace halvard {
namespace {

using test::Bytes;

struct Exchanges : ::testing::Test, test::FakeLink {
    void SetUp() override {
        ports.plugAmp();
        ports.openPort(PortDirection::Input, 2, "midi Input");
        ports.openPort(PortDirection::Output, 1, "midi Output");
    }

    void apply(const Bytes& m) { applyReply(ctx, decodeReply(m)); }
};

TEST_F(Exchanges, AppliedRepliesReachOnlyTheirFields) {
    ProgramSettings before;
    before.reverb[0] = 1;
    mirror.setRecord(5, before);
    mirror.mono = 1;
    mirror.irSlot = 2;
    SettingsGlobals g{.midiChannel = 7, .bypassLock = 0, .reverbTails = 1, .mono = 0, .irSlot = 5};
    ProgramSettings s;
    s.bypass = 1;
    s.filterA[0] = s.filterA[1] = 3;
    s.filterB[0] = s.filterB[1] = 2;

    apply(test::settingsReply(5, g, s));
    EXPECT_EQ(ctx.reply, 2);
    EXPECT_EQ(mirror.record(5).loaded, 1);
    EXPECT_EQ(mirror.record(5).bypass, 1);
    EXPECT_EQ(mirror.record(5).reverb[0], 0);
    EXPECT_EQ(mirror.midiChannel, 0) << "program 5 carries no globals";
    EXPECT_EQ(mirror.mono, 1);

    // Program 0 brings the globals, and with the bypass lock on a program's bypass is held off.
    g.bypassLock = 1;
    apply(test::settingsReply(0, g, s));
    EXPECT_EQ(mirror.midiChannel, 7);
    EXPECT_EQ(mirror.bypassLock, 1);
    EXPECT_EQ(mirror.reverbTails, 1);
    EXPECT_EQ(mirror.mono, 0);
    EXPECT_EQ(mirror.irSlot, 5);
    EXPECT_EQ(mirror.record(0).bypass, 0);
    apply(test::settingsReply(9, g, s));
    EXPECT_EQ(mirror.record(9).bypass, 0) << "the lock learned from program 0 holds for later programs";

    // Slot names: an empty name field answers but keeps the old name.
    apply(test::slotNameReply(3, "3_dark"));
    EXPECT_EQ(mirror.slotName(3).view(), "DARK");
    ctx.reply = 0;
    apply(test::slotNameReply(3, ""));
    EXPECT_EQ(ctx.reply, 4);
    EXPECT_EQ(mirror.slotName(3).view(), "DARK");

    apply(Bytes{0xF0, 0x00, 0x0B, 0x02, 0x00, 0xF7});
    EXPECT_EQ(mirror.firmwareVersion, 0x0200);
    EXPECT_EQ(ctx.reply, 11);

    // A change notice asks for a sync, and names the current program when it carries one.
    mirror.program = 9;
    apply(Bytes{0xF0, 0x00, 0x03, 0xF7});
    EXPECT_TRUE(ctx.resync);
    EXPECT_EQ(mirror.program, 9);
    apply(Bytes{0xF0, 0x00, 0x03, 0x11, 0xF7});
    EXPECT_EQ(mirror.program, 17);

    // Ignored messages change nothing, not even the reply code.
    ctx.reply = 0;
    apply(Bytes{0xF0, 0x00, 0x03, 0x01, 0x02, 0xF7});
    apply(Bytes{0xF0, 0x7E, 0x0B, 0x01, 0x07, 0xF7});
    EXPECT_EQ(ctx.reply, 0);
    EXPECT_EQ(mirror.firmwareVersion, 0x0200);
    EXPECT_EQ(repaints, 0) << "the decoder itself never repaints";
}

// The edit history lives as long as the amplifier reports nothing the editor did not do.
TEST_F(Exchanges, AReadThatDiffersFromAProgramHeldCountsAsAChangeFromOutside) {
    const uint32_t start = mirror.outsideChanges;
    SettingsGlobals g{.midiChannel = 7, .bypassLock = 0, .reverbTails = 1, .mono = 0, .irSlot = 5};
    ProgramSettings s;
    s.filterA[0] = s.filterA[1] = 3;
    apply(test::settingsReply(0, g, s));
    EXPECT_EQ(mirror.outsideChanges, start) << "a first read learns, it changes nothing";
    apply(test::settingsReply(0, g, s));
    EXPECT_EQ(mirror.outsideChanges, start) << "the same again: the editor's own state";
    g.mono = 1;
    apply(test::settingsReply(0, g, s));
    EXPECT_EQ(mirror.outsideChanges, start + 1) << "a global changed at the amplifier";
    s.reverb[1] = 1;
    apply(test::settingsReply(0, g, s));
    EXPECT_EQ(mirror.outsideChanges, start + 2) << "a setting changed at the amplifier";
    mirror.resetDeviceMirror();
    EXPECT_EQ(mirror.outsideChanges, start + 3) << "a reset forgets what the edits were made on";
}

TEST_F(Exchanges, AwaitReplyBudgetAndOutcomes) {
    // Nothing comes: 1000 ms in 200 polls of 5 ms.
    ports.amp.silent = true;
    EXPECT_EQ(readFirmwareVersion(ctx), ReplyResult::Timeout);
    EXPECT_EQ(clock.elapsedMs(), 1000);
    EXPECT_EQ(ports.sentCodes(), (std::vector<int>{0x0B}));

    // The answer decoded in the very last step is in time.
    ports.amp.silent = false;
    ports.amp.replyDelayMs = 1000;
    const auto start = clock.elapsedMs();
    EXPECT_EQ(readFirmwareVersion(ctx), ReplyResult::Ok);
    EXPECT_EQ(clock.elapsedMs() - start, 1000);
    ports.amp.replyDelayMs = 1005;
    EXPECT_EQ(readFirmwareVersion(ctx), ReplyResult::Timeout);
    clock.sleepUntil(clock.now() + std::chrono::milliseconds(5));
    pollReply(ctx);  // the late answer
    EXPECT_EQ(ports.pendingInput(), 0u);

    // A late reply to an earlier read is no answer to the next one.
    EXPECT_EQ(readProgramSettings(ctx, 3), ReplyResult::Timeout);
    ports.amp.replyDelayMs = 0;
    clock.sleepUntil(clock.now() + std::chrono::milliseconds(5));
    EXPECT_EQ(readProgramSettings(ctx, 4), ReplyResult::Ok);
    EXPECT_EQ(ports.pendingInput(), 0u) << "program 4's reply taken, not left behind";

    // Other replies decoded meanwhile take effect without ending the wait; one message per step.
    ports.amp.replyDelayMs = 0;
    ctx.resync = false;
    ports.deliver({0xF0, 0x00, 0x03, 0xF7});
    ports.deliver({0xF0, 0x00, 0x03, 0xF7});
    const auto before = clock.elapsedMs();
    EXPECT_EQ(readSlotName(ctx, 1), ReplyResult::Ok);
    EXPECT_TRUE(ctx.resync);
    EXPECT_EQ(clock.elapsedMs() - before, 15) << "two notices, then the slot name, one per 5 ms step";

    // A stop request abandons the wait at the next step.
    ports.amp.silent = true;
    const auto stopAt = clock.elapsedMs() + 500;
    clock.onAdvance = [&](Clock::TimePoint) {
        if (clock.elapsedMs() >= stopAt) ctx.quit = true;
    };
    EXPECT_EQ(readFirmwareVersion(ctx), ReplyResult::Abandoned);
    EXPECT_EQ(clock.elapsedMs(), stopAt);
    EXPECT_FALSE(pauseFor(ctx, 100));
    EXPECT_EQ(clock.elapsedMs(), stopAt) << "a pause does not start once quit is set";
}

TEST_F(Exchanges, ExchangesReportAndRespectTheOutputPort) {
    ports.amp.silentFor = {kCodeSettings};
    ctx.failures = 0;
    EXPECT_EQ(readProgramSettings(ctx, 4), ReplyResult::Timeout);
    EXPECT_EQ(mirror.linkState, LinkState::Error);
    EXPECT_EQ(ctx.failures, 1);
    EXPECT_EQ(repaints, 1);

    ports.amp.silentFor.clear();
    EXPECT_EQ(readProgramSettings(ctx, 4), ReplyResult::Ok);
    EXPECT_EQ(ctx.failures, 0);
    EXPECT_EQ(mirror.record(4).loaded, 1);

    // writes, stores and restarts are sent whole and followed by one poll interval
    const auto t = clock.elapsedMs();
    writeProgramSettings(ctx, 4);
    storePreset(ctx);
    requestRestart(ctx);
    EXPECT_EQ(clock.elapsedMs() - t, 15);
    ASSERT_EQ(ports.sent.size(), 5u);
    EXPECT_EQ(ports.sent[2].bytes.size(), 17u);
    EXPECT_EQ(ports.sent[3].bytes, (Bytes{0xF0, 0x00, 0x0A, 0xF7}));
    EXPECT_EQ(ports.sent[4].bytes, (Bytes{0xF0, 0x00, 0x0C, 0xF7}));

    // Under BYPASS LOCK no write turns bypass on, whatever the panel's copy of a program holds.
    mirror.bypassLock = 1;
    mirror.editRecord(4, [](ProgramSettings& s) { s.bypass = 1; });
    writeProgramSettings(ctx, 4);
    EXPECT_EQ(ports.sent.back().bytes[6] & 0x20, 0);
    ports.sent.pop_back();

    // With the output closed nothing is sent, nothing waited for, nothing counted.
    ports.closePort(PortDirection::Output);
    const auto closedAt = clock.elapsedMs();
    EXPECT_EQ(readProgramSettings(ctx, 4), ReplyResult::NotSent);
    EXPECT_EQ(readSlotName(ctx, 0), ReplyResult::NotSent);
    writeProgramSettings(ctx, 4);
    requestRestart(ctx);
    EXPECT_EQ(ports.sent.size(), 5u);
    EXPECT_EQ(clock.elapsedMs(), closedAt);
    EXPECT_EQ(ctx.failures, 0);
}

}  // namespace
}  // namespace halvard
