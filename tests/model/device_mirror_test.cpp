#include "model/device_mirror.hpp"

#include <gtest/gtest.h>

namespace halvard {
namespace {

TEST(DeviceMirror, ResetForgetsTheAmplifierButKeepsLocalChoices) {
    DeviceMirror m;
    ProgramSettings s;
    s.reverb[1] = 1;
    s.loaded = 1;
    for (int p = 0; p < kProgramCount; ++p) m.setRecord(p, s);
    SlotName name;
    name.assign("CLEAN");
    for (int k = 0; k < kUserIrSlotCount; ++k) m.setSlotName(k, name);
    m.firmwareVersion = 0x0107;
    m.availableFirmware = 0x0200;
    m.program = 9;
    m.midiChannel = 4;
    m.progress = 57;
    m.irPanelSlot = 3;
    m.factoryIrIndex = 7;
    m.irSlot = 5;
    m.reverbTails = 1;
    m.auditionOn = true;
    m.linkState = LinkState::Connected;
    m.postCommand(CommandKind::StorePreset);

    m.resetDeviceMirror();

    for (int p = 0; p < kProgramCount; ++p) EXPECT_EQ(m.record(p).loaded, 0) << "program " << p;
    for (int k = 0; k < kUserIrSlotCount; ++k) EXPECT_TRUE(m.slotName(k).empty()) << "slot " << k;
    EXPECT_EQ(m.firmwareVersion, 0);
    EXPECT_EQ(m.availableFirmware, 0);
    EXPECT_EQ(m.program, 0);
    EXPECT_EQ(m.midiChannel, 0);
    EXPECT_EQ(m.progress, kProgressNone);
    EXPECT_EQ(m.irPanelSlot, 0);
    EXPECT_EQ(m.factoryIrIndex, 0);
    // kept
    EXPECT_EQ(m.irSlot, 5);
    EXPECT_EQ(m.reverbTails, 1);
    EXPECT_TRUE(m.auditionOn);
    EXPECT_EQ(m.linkState, LinkState::Connected);
    EXPECT_EQ(m.command.load(), Command{CommandKind::StorePreset});
}

TEST(DeviceMirror, CommandSlotKeepsOnlyTheLatestAndTakingClearsIt) {
    DeviceMirror m;
    m.postCommand(CommandKind::SendSettings);
    m.postCommand(CommandKind::StorePreset);
    EXPECT_EQ(m.takeCommand(), Command{CommandKind::StorePreset});
    EXPECT_EQ(m.takeCommand(), Command{});
}

TEST(DeviceMirror, OutOfRangeIndicesNeitherReadNorWriteOutsideTheArrays) {
    DeviceMirror m;
    ProgramSettings s;
    s.loaded = 1;
    m.setRecord(128, s);
    m.setRecord(-1, s);
    EXPECT_EQ(m.record(128).loaded, 0);
    SlotName n;
    n.assign("X");
    m.setSlotName(6, n);
    EXPECT_TRUE(m.slotName(6).empty());
    // A name longer than 64 bytes is cut at 64.
    n.assign(std::string(80, 'A'));
    EXPECT_EQ(n.view().size(), 64u);
}

}  // namespace
}  // namespace halvard
