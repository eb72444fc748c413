#include "ui/interaction.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "loaded_mirror.hpp"

namespace halvard {
namespace {

constexpr Command kNone{};
constexpr Command kSend{CommandKind::SendSettings};
constexpr Command kRead{CommandKind::ReadSettings};
constexpr Command kStore{CommandKind::StorePreset};

class FakeHost : public InputHost {
public:
    explicit FakeHost(DeviceMirror& m) : mirror(m) {}
    void requestRepaint() override { ++repaints; }
    void showArrowCursor() override { ++cursors; }
    void pauseAfterPost() override { commandAtPause.push_back(mirror.command.load()); }
    void showContextMenu(std::span<const MenuEntry> entries, std::function<void(int)> chosen) override {
        menuItems.clear();
        for (const MenuEntry& e : entries)
            menuItems.push_back(std::string(e.level, '>') + std::string(e.label));
        menuChosen = std::move(chosen);
    }
    void openBackupsFolder() override { ++folderOpened; }

    DeviceMirror& mirror;
    std::vector<std::string> menuItems;  // the last menu shown, a '>' before each entry of a submenu
    std::function<void(int)> menuChosen;
    int folderOpened = 0;
    int repaints = 0;
    int cursors = 0;
    std::vector<Command> commandAtPause;  // the pending command at each pause, in order
};

class Interaction : public ::testing::Test {
protected:
    void SetUp() override { test::loadEveryProgram(ui); }

    // A control with a hover and a press region on the same rectangle, as the renderer draws most.
    void both(ControlId c, int32_t x, int32_t y, int32_t w, int32_t h) {
        regions.registerRegion(c, x, y, w, h, RegionKind::PointerMove);
        regions.registerRegion(c, x, y, w, h, RegionKind::LeftButtonDown);
    }
    void press(int32_t x, int32_t y, float dpi = 96.0f) { handler.leftButtonDown({x, y, dpi}); }
    void move(int32_t x, int32_t y) { handler.pointerMove({x, y, 96.0f}); }
    void turn(int32_t x, int32_t y, int32_t notches) {
        wheelNotches += notches;
        handler.wheel({x, y, 96.0f}, wheelNotches);
    }
    ProgramSettings current() const { return ui.record(ui.program); }
    void resetCounters() {
        ui.command = kNone;
        host.repaints = 0;
        host.commandAtPause.clear();
    }
    void openPanel(int32_t slot, bool list) {
        ui.irPanelSlot = slot;
        ui.factoryListOpen = list;
    }

    DeviceMirror ui;
    HitRegions regions;
    FakeHost host{ui};
    InputHandler handler{ui, regions, host};
    int32_t wheelNotches = 0;
};

// One case per control: the state before the press, what it must leave, and the command it posts.
struct ActionCase {
    ControlId control;
    std::function<void(DeviceMirror&)> before;
    std::function<std::string(const DeviceMirror&)> check;  // empty string: as expected
    Command command;
    bool repaint;
};

std::string expectEq(const char* what, int got, int want) {
    return got == want
               ? std::string()
               : std::string(what) + " is " + std::to_string(got) + ", expected " + std::to_string(want);
}
ProgramSettings rec(const DeviceMirror& m) {
    return m.record(m.program);
}

TEST_F(Interaction, EveryControlActsOnItsOwnField) {
    const auto none = [](DeviceMirror&) {};
    const auto withChannel = [](int ch) {
        return [ch](DeviceMirror& m) {
            m.editRecord(0, [ch](ProgramSettings& r) { r.channel = static_cast<uint8_t>(ch); });
        };
    };
    const std::vector<ActionCase> cases = {
        {ControlId::StorePresetButton, none, [](auto&) { return std::string(); }, kStore, false},
        {ControlId::MidiChannelDown, [](DeviceMirror& m) { m.midiChannel = 0; },
         [](const DeviceMirror& m) { return expectEq("midiChannel", m.midiChannel, 16); }, kSend, true},
        {ControlId::MidiChannelUp, [](DeviceMirror& m) { m.midiChannel = 16; },
         [](const DeviceMirror& m) { return expectEq("midiChannel", m.midiChannel, 0); }, kSend, true},
        {ControlId::MidiChannelUp, [](DeviceMirror& m) { m.midiChannel = 3; },
         [](const DeviceMirror& m) { return expectEq("midiChannel", m.midiChannel, 4); }, kSend, true},
        {ControlId::ProgramBox, none, [](auto&) { return std::string(); }, kNone, false},
        {ControlId::ProgramDown, [](DeviceMirror& m) { m.program = 0; },
         [](const DeviceMirror& m) { return expectEq("program", m.program, 127); }, kSend, true},
        {ControlId::ProgramUp, [](DeviceMirror& m) { m.program = 127; },
         [](const DeviceMirror& m) { return expectEq("program", m.program, 0); }, kSend, true},
        {ControlId::BypassSwitch, none,
         [](const DeviceMirror& m) { return expectEq("bypass", rec(m).bypass, 1); }, kSend, true},
        {ControlId::BypassSwitch, [](DeviceMirror& m) { m.bypassLock = 1; },
         [](const DeviceMirror& m) { return expectEq("bypass under lock", rec(m).bypass, 0); }, kSend, true},
        {ControlId::ChannelSwitch, withChannel(1),
         [](const DeviceMirror& m) { return expectEq("channel", rec(m).channel, 0); }, kSend, true},
        {ControlId::ChannelSwitch, withChannel(7),
         [](const DeviceMirror& m) { return expectEq("channel", rec(m).channel, 0); }, kSend, true},
        {ControlId::ReverbSwitch, withChannel(1),
         [](const DeviceMirror& m) {
             return expectEq("reverb[1]", rec(m).reverb[1], 1) + expectEq("reverb[0]", rec(m).reverb[0], 0);
         },
         kSend, true},
        {ControlId::ReverbSwitch, none,
         [](const DeviceMirror& m) {
             return expectEq("reverb[0]", rec(m).reverb[0], 1) + expectEq("reverb[1]", rec(m).reverb[1], 0);
         },
         kSend, true},
        {ControlId::TremoloSwitch, withChannel(9),  // a corrupt channel acts on the lead entry
         [](const DeviceMirror& m) {
             return expectEq("tremolo[1]", rec(m).tremolo[1], 1) +
                    expectEq("tremolo[0]", rec(m).tremolo[0], 0);
         },
         kSend, true},
        {ControlId::IrBypassSwitch, none,
         [](const DeviceMirror& m) { return expectEq("irBypass", rec(m).irBypass, 1); }, kSend, true},
        {ControlId::MonoButton, [](DeviceMirror& m) { m.mono = 1; },
         [](const DeviceMirror& m) { return expectEq("mono", m.mono, 0); }, kSend, true},
        {ControlId::LoopBypassSwitch, none,
         [](const DeviceMirror& m) { return expectEq("loopBypass", rec(m).loopBypass, 1); }, kSend, true},
        {ControlId::RhythmIrChoice2, none,
         [](const DeviceMirror& m) { return expectEq("ir[0]", rec(m).ir[0], 2); }, kSend, true},
        {ControlId::LeadIrChoice1, none,
         [](const DeviceMirror& m) {
             return expectEq("ir[1]", rec(m).ir[1], 1) + expectEq("ir[0]", rec(m).ir[0], 0);
         },
         kSend, true},
        {ControlId::SlotSelect1, [](DeviceMirror& m) { m.irSlot = 4; },
         [](const DeviceMirror& m) { return expectEq("irSlot", m.irSlot, 0); }, kSend, true},
        {ControlId::SlotSelect6, none, [](const DeviceMirror& m) { return expectEq("irSlot", m.irSlot, 5); },
         kSend, true},
        {ControlId::SlotImport1, none, [](auto&) { return std::string(); }, importIrCommand(0), false},
        {ControlId::SlotImport6, none, [](auto&) { return std::string(); }, importIrCommand(5), false},
        {ControlId::SlotBrowse3, none,
         [](const DeviceMirror& m) { return expectEq("irPanelSlot", m.irPanelSlot, 3); }, kNone, true},
        {ControlId::SlotBrowse4, [](DeviceMirror& m) { m.irPanelSlot = 4; },
         [](const DeviceMirror& m) { return expectEq("irPanelSlot", m.irPanelSlot, 0); }, kNone, true},
        {ControlId::BypassLockButton, none,
         [](const DeviceMirror& m) { return expectEq("bypassLock", m.bypassLock, 1); }, kSend, true},
        {ControlId::ReverbTailsButton, none,
         [](const DeviceMirror& m) { return expectEq("reverbTails", m.reverbTails, 1); }, kSend, true},
        {ControlId::RhythmHfComp, none,
         [](const DeviceMirror& m) { return expectEq("hfComp[0]", rec(m).hfComp[0], 1); }, kSend, true},
        {ControlId::LeadHfComp, none,
         [](const DeviceMirror& m) {
             return expectEq("hfComp[1]", rec(m).hfComp[1], 1) + expectEq("hfComp[0]", rec(m).hfComp[0], 0);
         },
         kSend, true},
        {ControlId::RhythmLowpass, none,
         [](const DeviceMirror& m) { return expectEq("filterA[0]", rec(m).filterA[0], 3); }, kSend, true},
        {ControlId::RhythmHighpass, none,
         [](const DeviceMirror& m) { return expectEq("filterB[0]", rec(m).filterB[0], 2); }, kSend, true},
        {ControlId::LeadLowpass,
         [](DeviceMirror& m) { m.editRecord(0, [](ProgramSettings& r) { r.filterA[1] = 3; }); },
         [](const DeviceMirror& m) { return expectEq("filterA[1] from 3", rec(m).filterA[1], 1); }, kSend,
         true},
        {ControlId::LeadHighpass,
         [](DeviceMirror& m) { m.editRecord(0, [](ProgramSettings& r) { r.filterB[1] = 0; }); },
         [](const DeviceMirror& m) { return expectEq("filterB[1] from 0", rec(m).filterB[1], 1); }, kSend,
         true},
        {ControlId::CcListToggle, none,
         [](const DeviceMirror& m) { return expectEq("ccListOpen", m.ccListOpen, 1); }, kNone, true},
    };

    for (const ActionCase& c : cases) {
        SCOPED_TRACE("control " + std::to_string(toInt(c.control)));
        DeviceMirror m;
        m.linkState = LinkState::Connected;
        m.setRecord(0, test::loadedProgram());
        m.setRecord(127, test::loadedProgram());
        c.before(m);
        const ProgramSettings untouched = m.record(5);
        HitRegions r;
        r.registerRegion(c.control, 10, 10, 20, 20, RegionKind::LeftButtonDown);
        FakeHost h{m};
        InputHandler p{m, r, h};
        p.leftButtonDown({15, 15, 96.0f});
        EXPECT_EQ(c.check(m), "");
        EXPECT_EQ(m.command.load(), c.command);
        EXPECT_EQ(h.repaints, c.repaint ? 1 : 0);
        EXPECT_EQ(m.record(5), untouched) << "another program's record changed";
    }
}

TEST_F(Interaction, SettingsCommandReadsAProgramNeverLoaded) {
    both(ControlId::ProgramUp, 100, 15, 11, 11);
    both(ControlId::ReverbSwitch, 200, 51, 40, 20);
    ui.editRecord(1, [](ProgramSettings& r) { r.loaded = 0; });

    press(105, 20);  // program 0 -> 1, which was never read
    EXPECT_EQ(ui.program, 1);
    EXPECT_EQ(ui.command.load(), kRead);

    resetCounters();
    press(210, 60);
    EXPECT_EQ(current().reverb[0], 1) << "the edit is kept in the mirror";
    EXPECT_EQ(ui.command.load(), kRead);
    EXPECT_TRUE(host.commandAtPause.empty()) << "no pause after a settings command";
}

TEST_F(Interaction, PostingPausesThenClearsEveryHoverFlag) {
    both(ControlId::StorePresetButton, 0, 98, 250, 33);
    both(ControlId::RhythmLowpass, 7, 170, 44, 20);
    regions.regions()[0].hovered = true;
    regions.regions()[2].hovered = true;
    ui.command = kSend;  // pending (an edit's), given a pause to be taken before it is replaced

    press(100, 110);
    EXPECT_EQ(ui.command.load(), kStore);
    EXPECT_EQ(host.commandAtPause, (std::vector<Command>{kSend, kStore})) << "and a pause after the post";
    for (const HitRegion& r : regions.regions()) EXPECT_FALSE(r.hovered);
    EXPECT_EQ(host.repaints, 0) << "posting alone asks for no repaint";
}

TEST_F(Interaction, PointerIsIgnoredUnlessConnected) {
    both(ControlId::ReverbSwitch, 200, 51, 40, 20);
    regions.registerRegion(ControlId::ProgramBox, 600, 7, 220, 27, RegionKind::Wheel);
    regions.regions()[0].hovered = true;
    for (LinkState s : {LinkState::NoDevice, LinkState::Busy, LinkState::Error}) {
        ui.linkState = s;
        move(0, 0);
        press(210, 60);
        turn(610, 10, 1);
        EXPECT_TRUE(regions.isHovered(ControlId::ReverbSwitch)) << "hover kept in state " << int(s);
        EXPECT_EQ(current().reverb[0], 0);
        EXPECT_EQ(ui.program, 0);
        EXPECT_EQ(ui.command.load(), kNone);
        EXPECT_EQ(host.repaints, 0);
    }
}

TEST_F(Interaction, HoverFollowsThePointerAndRepaintsOnlyOnChange) {
    both(ControlId::ProgramDown, 100, 15, 11, 11);
    both(ControlId::ProgramUp, 300, 15, 11, 11);

    move(111, 26);  // bottom-right corner is inside
    EXPECT_TRUE(regions.isHovered(ControlId::ProgramDown));
    EXPECT_EQ(host.repaints, 1);
    EXPECT_EQ(host.cursors, 1);
    move(105, 20);
    EXPECT_EQ(host.repaints, 1) << "no change, no repaint";
    move(305, 20);
    EXPECT_FALSE(regions.isHovered(ControlId::ProgramDown));
    EXPECT_TRUE(regions.isHovered(ControlId::ProgramUp));
    EXPECT_EQ(host.repaints, 2) << "one repaint for both flags";
    EXPECT_FALSE(regions.regions()[3].hovered) << "press regions never take the hover flag";
}

TEST_F(Interaction, PointerPixelsAreDividedByTheScale) {
    both(ControlId::ProgramDown, 100, 15, 11, 11);
    press(222, 52, 192.0f);  // 111, 26 DIPs: on the corner
    EXPECT_EQ(ui.program, 127);
    press(224, 52, 192.0f);  // 112 DIPs: outside
    EXPECT_EQ(ui.program, 127);
    press(166, 30, 144.0f);  // 110.67 truncates to 110
    EXPECT_EQ(ui.program, 126);
}

TEST_F(Interaction, OverlappingPressRegionsAllActInListOrder) {
    both(ControlId::ProgramUp, 100, 15, 40, 40);
    both(ControlId::ReverbSwitch, 120, 30, 40, 40);
    ui.editRecord(1, [](ProgramSettings& r) { r.channel = 1; });
    press(130, 40);
    EXPECT_EQ(ui.program, 1);
    // REVERB acted second, on the record of the program that PROGRAM UP had just chosen.
    EXPECT_EQ(ui.record(1).reverb[1], 1);
    EXPECT_EQ(ui.record(0).reverb[0], 0);
    EXPECT_EQ(host.repaints, 1);
}

// Undo is the press that reverses the edit: the same settings, sent the same way.
TEST_F(Interaction, UndoAndRedoActOnTheEditsOfTheCurrentProgramUntilTheAmplifierChangesByItself) {
    both(ControlId::ReverbSwitch, 490, 51, 40, 20);
    both(ControlId::ProgramUp, 853, 15, 11, 11);
    both(ControlId::MonoButton, 914, 7, 100, 27);
    press(500, 60);
    press(920, 20);
    ASSERT_EQ(current().reverb[0], 1);
    ASSERT_EQ(ui.mono, 1);
    resetCounters();
    EXPECT_TRUE(handler.undo());
    EXPECT_EQ(ui.mono, 0) << "the latest edit first";
    EXPECT_EQ(ui.command.load(), kSend);
    EXPECT_EQ(host.repaints, 1);
    EXPECT_TRUE(handler.undo());
    EXPECT_EQ(current().reverb[0], 0);
    EXPECT_FALSE(handler.undo()) << "nothing older";
    EXPECT_TRUE(handler.redo());
    EXPECT_EQ(current().reverb[0], 1);

    press(855, 20);  // PROGRAM UP: no edit
    EXPECT_EQ(ui.program, 1);
    EXPECT_FALSE(handler.undo()) << "program 1 has no edits of its own";
    ui.program = 0;
    ui.linkState = LinkState::Busy;
    EXPECT_FALSE(handler.undo()) << "busy: as the pointer, nothing";
    ui.linkState = LinkState::Connected;
    ui.outsideChanges.fetch_add(1);  // the worker read program 0 changed at the amplifier
    EXPECT_FALSE(handler.undo());
    EXPECT_FALSE(handler.redo());
    EXPECT_EQ(current().reverb[0], 1);

    // BYPASS LOCK holds the bypass off; its undo brings both back.
    both(ControlId::BypassLockButton, 1100, 7, 20, 20);
    ui.editRecord(0, [](ProgramSettings& r) { r.bypass = 1; });
    press(1105, 10);
    EXPECT_EQ(current().bypass, 0);
    EXPECT_TRUE(handler.undo());
    EXPECT_EQ(ui.bypassLock, 0);
    EXPECT_EQ(current().bypass, 1);

    ui.editRecord(0, [](ProgramSettings& r) { r.loaded = 0; });
    press(500, 60);
    EXPECT_EQ(handler.history().undoDepth(0), 0u) << "a program never read is read over the edit";
}

// A program the worker loaded from the collection is an edit: its undo sends the record it replaced.
TEST_F(Interaction, AProgramLoadedByTheWorkerIsUndoneLikeAPress) {
    const ProgramSettings before = current();
    ProgramSettings loaded = before;
    loaded.tremolo[1] ^= 1;
    loaded.filterB[0] = 3;
    ui.setRecord(0, loaded);
    ui.setLoadedEdit({1, 0, before, loaded});
    EXPECT_TRUE(handler.undo());
    EXPECT_EQ(current(), before);
    EXPECT_EQ(ui.command.load(), kSend);
    EXPECT_TRUE(handler.redo());
    EXPECT_EQ(current(), loaded);
}

TEST_F(Interaction, WheelStepsOneProgramAndKeepsNotchesOutsideTheBox) {
    regions.registerRegion(ControlId::ProgramBox, 655, 7, 220, 27, RegionKind::Wheel);
    turn(600, 20, 3);
    turn(600, 20, 2);
    EXPECT_EQ(wheelNotches, 5) << "notches outside the box accumulate";
    EXPECT_EQ(ui.program, 0);
    turn(700, 20, -7);  // sum -2: one step down, wrapping
    EXPECT_EQ(wheelNotches, 0);
    EXPECT_EQ(ui.program, 127);
    EXPECT_EQ(ui.command.load(), kSend);
    EXPECT_EQ(host.repaints, 1);
    turn(700, 20, 0);  // no whole notch: nothing
    EXPECT_EQ(ui.program, 127);

    ui.irPanelSlot = 2;
    turn(700, 20, 1);
    EXPECT_EQ(ui.program, 127) << "the wheel is ignored while the IR panel is open";
    EXPECT_EQ(wheelNotches, 1);
}

TEST_F(Interaction, OpenPanelSilencesTheMainAreaButNotTheLeftColumn) {
    both(ControlId::ReverbSwitch, 251, 51, 40, 20);    // main area, right of the column
    both(ControlId::RhythmHfComp, 7, 203, 44, 20);     // left column
    both(ControlId::SlotBrowse2, 226, 265, 23, 23);    // panel control range, left column
    both(ControlId::SelectButton, 379, 845, 111, 27);  // the panel's own control
    regions.regions()[0].hovered = true;
    openPanel(1, false);

    move(260, 60);
    EXPECT_TRUE(regions.isHovered(ControlId::ReverbSwitch)) << "an excluded region is left as it was";
    press(260, 60);
    EXPECT_EQ(current().reverb[0], 0);
    EXPECT_EQ(ui.irPanelSlot, 1) << "a press inside the column keeps the panel";

    press(10, 210);
    EXPECT_EQ(current().hfComp[0], 1);
    EXPECT_EQ(ui.irPanelSlot, 1) << "a left-column action that redraws keeps the panel";

    press(400, 850);
    EXPECT_EQ(ui.command.load(), Command{CommandKind::UploadFactoryIr});

    press(230, 270);
    EXPECT_EQ(ui.irPanelSlot, 2) << "another slot's browse switches the panel";
}

TEST_F(Interaction, PanelAndListCloseRules) {
    both(ControlId::FactoryTitle, 290, 0, 170, 41);
    both(ControlId::StorePresetButton, 0, 98, 250, 33);
    for (int i = 0; i < 15; ++i) both(ControlId::FactoryRow0 + i, 250, 42 + 31 * i, 250, 31);
    openPanel(3, false);

    press(300, 20);  // the title opens the list, and the same press leaves it open
    EXPECT_TRUE(ui.factoryListOpen);
    EXPECT_EQ(host.repaints, 1);

    press(900, 500);  // with the list open any press closes the list only
    EXPECT_FALSE(ui.factoryListOpen);
    EXPECT_EQ(ui.irPanelSlot, 3);
    press(900, 500);  // then a press right of the column that changed nothing closes the panel
    EXPECT_EQ(ui.irPanelSlot, 0);

    openPanel(3, true);
    press(300, 42 + 31 * 4 + 5);  // a row selects, then the list closes
    EXPECT_EQ(ui.factoryIrIndex, 4);
    EXPECT_FALSE(ui.factoryListOpen);
    EXPECT_EQ(ui.irPanelSlot, 3);

    press(300, 20);
    press(300, 20);  // the title closes an open list; the panel stays
    EXPECT_FALSE(ui.factoryListOpen);
    EXPECT_EQ(ui.irPanelSlot, 3);

    press(300, 42 + 31 * 6 + 5);  // rows are dead while the list is closed
    EXPECT_EQ(ui.factoryIrIndex, 4);
    EXPECT_EQ(ui.irPanelSlot, 3) << "inside the column: the panel stays";

    resetCounters();
    press(100, 110);  // STORE PRESET posts, sets no redraw, and so the press left of the column closes
    EXPECT_EQ(ui.command.load(), kStore);
    EXPECT_EQ(ui.irPanelSlot, 0);
    EXPECT_EQ(host.repaints, 1);

    resetCounters();
    press(900, 500);  // with the panel closed a stray press changes nothing
    EXPECT_EQ(host.repaints, 0);
}

TEST_F(Interaction, FactoryBrowsingWrapsAndAuditionPostsEachChange) {
    both(ControlId::FactoryPrev, 258, 15, 11, 11);
    both(ControlId::FactoryNext, 481, 15, 11, 11);
    both(ControlId::AuditionSwitch, 380, 815, 40, 20);
    for (int i = 0; i < 15; ++i) both(ControlId::FactoryRow0 + i, 250, 42 + 31 * i, 250, 31);
    openPanel(2, false);

    press(260, 20);
    EXPECT_EQ(ui.factoryIrIndex, 14);
    EXPECT_EQ(ui.command.load(), kNone) << "audition off: browsing posts nothing";
    press(485, 20);
    EXPECT_EQ(ui.factoryIrIndex, 0);

    press(390, 820);
    EXPECT_TRUE(ui.auditionOn);
    regions.regions()[0].hovered = true;
    press(485, 20);
    EXPECT_EQ(ui.factoryIrIndex, 1);
    EXPECT_EQ(ui.command.load(), Command{CommandKind::UploadFactoryIr});
    // A pause before the post (the index is written first) and one after it, then the hover flags go.
    EXPECT_EQ(host.commandAtPause, (std::vector<Command>{kNone, Command{CommandKind::UploadFactoryIr}}));
    EXPECT_FALSE(regions.isHovered(ControlId::FactoryPrev));

    resetCounters();
    ui.factoryListOpen = true;
    press(300, 42 + 31 * 14 + 30);
    EXPECT_EQ(ui.factoryIrIndex, 14);
    EXPECT_EQ(ui.command.load(), Command{CommandKind::UploadFactoryIr});
    EXPECT_FALSE(ui.factoryListOpen);
}

TEST_F(Interaction, IrPanelControlsAreInertWhileThePanelIsClosed) {
    // The panel's regions outlive the panel; in their old places they overlap the main area.
    both(ControlId::FactoryTitle, 290, 0, 170, 41);
    both(ControlId::AuditionSwitch, 380, 815, 40, 20);
    both(ControlId::SelectButton, 379, 845, 111, 27);
    both(ControlId::FactoryRow0, 250, 42, 250, 31);
    both(ControlId::ReverbTailsButton, 400, 7, 100, 27);
    regions.regions()[0].hovered = true;
    ui.factoryListOpen = true;  // left open when the panel was closed by its browse icon
    ui.factoryIrIndex = 6;
    ui.auditionOn = true;

    move(410, 20);
    EXPECT_FALSE(regions.isHovered(ControlId::FactoryTitle)) << "a dead control loses its highlight";
    press(410, 20);
    EXPECT_EQ(ui.reverbTails, 1) << "the live control under the pointer acts";
    EXPECT_TRUE(ui.factoryListOpen);
    press(300, 50);
    EXPECT_EQ(ui.factoryIrIndex, 6) << "a row does not act with the panel closed";
    press(390, 820);
    press(400, 850);
    EXPECT_TRUE(ui.auditionOn);
    EXPECT_EQ(ui.command.load(), kSend) << "only REVERB TAILS posted";
}

}  // namespace
}  // namespace halvard

namespace halvard {
namespace {

TEST_F(Interaction, RightClickMenuPostsTheLibrarianCommandsOnlyWhileIdle) {
    handler.rightButtonDown();
    EXPECT_EQ(host.menuItems,
              (std::vector<std::string>{"Back Up All Programs\u2026", "Restore Programs\u2026",
                                        "Restore Kept Backup", "Open Backups Folder", "",
                                        "Save Program to Collection\u2026", "Import Files\u2026"}));
    host.menuChosen(0);
    EXPECT_EQ(ui.command.load(), Command{CommandKind::BackupPrograms});
    host.menuChosen(1);
    EXPECT_EQ(ui.command.load(), Command{CommandKind::RestorePrograms});
    host.menuChosen(3);
    EXPECT_EQ(host.folderOpened, 1);
    host.menuChosen(6);
    EXPECT_EQ(ui.command.load(), Command{CommandKind::ImportFiles});

    // The kept backups, newest first, in the submenu; each posts its own id.
    KeptBackupList kept{};
    kept[0].id = 12;
    kept[0].label.assign("2026-12-07 11:55 \u2014 Backup");
    kept[1].id = 9;
    kept[1].label.assign("2026-12-06 08:00 \u2014 Before a restore");
    ui.setKeptBackups(kept);
    handler.rightButtonDown();
    ASSERT_EQ(host.menuItems.size(), 9u);
    EXPECT_EQ(host.menuItems[3], ">2026-12-07 11:55 \u2014 Backup");
    EXPECT_EQ(host.menuItems[5], "Open Backups Folder");
    host.menuChosen(4);
    EXPECT_EQ(ui.command.load(), (Command{CommandKind::RestoreKeptBackup, 9}));
    host.menuChosen(5);
    EXPECT_EQ(host.folderOpened, 2);

    // The link went busy while the menu was open: the choice posts nothing.
    resetCounters();
    ui.linkState = LinkState::Busy;
    host.menuChosen(0);
    EXPECT_EQ(ui.command.load(), kNone);
    // And no menu opens while it is not Connected.
    host.menuItems.clear();
    handler.rightButtonDown();
    EXPECT_TRUE(host.menuItems.empty());
}

}  // namespace
}  // namespace halvard
