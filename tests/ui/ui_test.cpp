#include "ui/ui.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "allocation_counter.hpp"
#include "ir/factory_catalogue.hpp"
#include "loaded_mirror.hpp"

namespace halvard {
namespace {

TEST(Ui, PictureIsCentredRightOfTheColumnAndNeverEnlarged) {
    const PictureLayout small = pictureLayout(1264, 861);
    EXPECT_NEAR(small.scale, 0.711f, 1e-6f);
    EXPECT_EQ(small.x0, 464);
    EXPECT_EQ(small.y0, 168);

    const PictureLayout large = pictureLayout(1500, 1150);
    EXPECT_EQ(large.scale, 1.0f);
    EXPECT_EQ(large.x0, 275);
    EXPECT_EQ(large.y0, 120);
    const PictureLayout huge = pictureLayout(3000, 2000);
    EXPECT_EQ(huge.scale, 1.0f) << "a larger window never enlarges the picture";

    const PictureLayout narrow = pictureLayout(1100, 1400);  // width decides
    EXPECT_NEAR(narrow.scale, 800.0f / 1200.0f, 1e-6f);
}

TEST(Ui, HandlesPaintAsTheWindowsHandlerWhileItLives) {
    PlatformState platform;
    {
        Ui ui(platform);
        ASSERT_TRUE(platform.handler);
        OffscreenSurface s(1280, 900);
        Canvas canvas;
        paintWindow(platform, canvas, s.target(), 1280, 900);
        EXPECT_EQ(platform.surfaceWidth, 1280);
        EXPECT_EQ(platform.surfaceHeight, 900);
        EXPECT_EQ(platform.canvas, nullptr) << "the canvas is lent only for the frame";
        EXPECT_EQ(s.pixel(5, 5) >> 24, 0xffu) << "the frame covers the surface";
        // The bottom bar is the accent colour, under no veil.
        EXPECT_EQ(s.pixel(640, 895), kColorAccent);
        platform.raise(PlatformEvent::Timer);  // not acted on, must not draw or crash
    }
    EXPECT_FALSE(platform.handler) << "the handler goes with the Ui";
}

TEST(Ui, ARepeatedFrameAllocatesNothing) {
    PlatformState platform;
    Ui ui(platform);
    ui.linkState = LinkState::Busy;
    ui.progress = 57;
    ui.firmwareVersion = 0x0104;
    ui.availableFirmware = 0x0105;
    ProgramSettings r;
    r.reverb[0] = 1;
    r.ir[0] = 1;
    r.ir[1] = 0;
    ui.setRecord(0, r);
    ui.irPanelSlot = 1;  // with the description and the response plot
    ui.factoryIrIndex = 13;
    OffscreenSurface s(1280, 900, 2.0);
    Canvas canvas;
    paintWindow(platform, canvas, s.target(), 1280, 900);
    const long before = gAllocations.load();
    paintWindow(platform, canvas, s.target(), 1280, 900);
    EXPECT_EQ(gAllocations.load() - before, 0);
}

class ControlList : public ::testing::Test {
protected:
    void SetUp() override {
        ui.postPause = nullptr;
        platform.controlsChanged = [this] { ++changes; };
        test::loadEveryProgram(ui);
    }
    void frame() { paintWindow(platform, canvas, surface.target(), 1280, 900); }
    // A key as the window raises it, then the frame it asks for.
    void key(KeyCode k, uint32_t modifiers = 0, bool repeat = false) {
        platform.key = k;
        platform.keyModifiers = modifiers;
        platform.keyRepeat = repeat;
        platform.raise(PlatformEvent::KeyDown);
        frame();
    }
    const PanelControl& control(ControlId id) const {
        for (const PanelControl& c : ui.controls())
            if (c.id == id) return c;
        static const PanelControl none{};
        ADD_FAILURE() << "control " << toInt(id) << " is not listed";
        return none;
    }
    HitRegion pressRegion(ControlId id) {
        for (const HitRegion& r : ui.regions().regions())
            if (r.control == id && r.kind == RegionKind::LeftButtonDown) return r;
        return {};
    }

    // The text dialog: each asked for as "title|text", the last one's answer kept to give.
    void answerTextDialogs() {
        platform.askText = [this](std::string_view title, std::string_view text,
                                  std::function<void(std::string_view)> done) {
            asked.emplace_back(std::string(title) + "|" + std::string(text));
            answer = std::move(done);
        };
    }
    std::vector<std::string> asked;
    std::function<void(std::string_view)> answer;

    PlatformState platform;
    Ui ui{platform};
    Canvas canvas;
    OffscreenSurface surface{1280, 900};
    int changes = 0;
};

TEST_F(ControlList, ListsTheShownControlsInReadingOrderAndTellsChanges) {
    frame();
    EXPECT_EQ(changes, 1);
    // The top row 5, the switches 6, STORE PRESET, two sections of 3 switches and 12 slot icons, and
    // the CC list toggle; no spin button's arrow.
    ASSERT_EQ(ui.controls().size(), 43u);
    EXPECT_EQ(ui.controls().front().name, "REVERB TAILS");
    EXPECT_EQ(ui.controls()[1].name, "PROGRAM CHANGE");
    EXPECT_EQ(ui.controls().back().name, "MIDI CC LIST");

    const PanelControl& reverb = control(ControlId::ReverbSwitch);
    EXPECT_EQ(reverb.role, ControlRole::ToggleButton);
    EXPECT_FALSE(reverb.checked);
    EXPECT_TRUE(reverb.enabled);
    EXPECT_EQ(reverb.description.view(), "rhythm channel");
    const HitRegion hit = pressRegion(ControlId::ReverbSwitch);
    EXPECT_EQ(reverb.rect, (DipRect{hit.x, hit.y, hit.width, hit.height})) << "where the pointer finds it";
    const PanelControl& channel = control(ControlId::MidiChannelBox);
    EXPECT_EQ(channel.role, ControlRole::SpinButton);
    EXPECT_EQ(channel.value.view(), "OMNI");
    EXPECT_EQ(channel.maximum, 16);
    EXPECT_EQ(control(ControlId::SlotImport4).description.view(),
              "lead channel, user slot 4: NO IR SELECTED");

    frame();
    EXPECT_EQ(changes, 1) << "the same frame again changes nothing";
    ui.editRecord(0, [](ProgramSettings& r) { r.reverb[0] = 1; });
    frame();
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(control(ControlId::ReverbSwitch).checked);

    // The IR panel with its list: its controls come last; what it covers is listed, disabled.
    ui.irPanelSlot = 1;
    ui.factoryListOpen = true;
    frame();
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(ui.controls().size(), 43u + 1 + kFactoryIrCount + 3);
    EXPECT_EQ(control(ControlId::FactoryRow0 + 2).name, factoryIrDisplayName(2));
    EXPECT_FALSE(control(ControlId::ReverbSwitch).enabled);
    EXPECT_TRUE(control(ControlId::StorePresetButton).enabled) << "the left column stays live";
}

TEST_F(ControlList, ActivatingAndSteppingActAsTheClicksDoAndFocusDrawsARing) {
    frame();
    EXPECT_TRUE(ui.activateControl(ControlId::ReverbSwitch));
    EXPECT_EQ(ui.record(0).reverb[0], 1);
    EXPECT_EQ(ui.command.load(), Command{CommandKind::SendSettings});
    EXPECT_FALSE(ui.activateControl(ControlId::ProgramBox)) << "the box answers no press, only steps";
    EXPECT_TRUE(ui.stepControl(ControlId::ProgramBox, -1));
    EXPECT_EQ(ui.program, 127) << "down from 0, as the arrow";
    ui.program = 0;
    EXPECT_TRUE(ui.stepControl(ControlId::RhythmLowpass, -1));
    EXPECT_TRUE(ui.stepControl(ControlId::RhythmLowpass, -1));
    EXPECT_EQ(ui.record(0).filterA[0], 3) << "2, 1, then round to 3";

    EXPECT_TRUE(ui.activateControl(ControlId::SlotBrowse1));
    EXPECT_EQ(ui.irPanelSlot, 1);
    frame();
    EXPECT_FALSE(ui.activateControl(ControlId::ReverbSwitch)) << "covered by the IR panel";
    EXPECT_TRUE(ui.stepControl(ControlId::FactoryTitle, 1));
    EXPECT_EQ(ui.factoryIrIndex, 1);
    ui.linkState = LinkState::Busy;
    EXPECT_FALSE(ui.activateControl(ControlId::StorePresetButton)) << "busy: as the pointer, nothing";

    // The ring: just outside the focused control, only while it is focused.
    ui.linkState = LinkState::Connected;
    ui.irPanelSlot = 0;
    frame();
    const DipRect r = control(ControlId::StorePresetButton).rect;
    const uint32_t before = surface.pixel(r.x + 100, r.y + r.height + 3);
    ui.focusControl(ControlId::StorePresetButton);
    frame();
    EXPECT_TRUE(control(ControlId::StorePresetButton).focused);
    EXPECT_EQ(surface.pixel(r.x + 100, r.y + r.height + 3), kColorAccent);
    EXPECT_NE(before, kColorAccent);
}

TEST_F(ControlList, TabWalksTheEnabledControlsInReadingOrderAndSpacePressesAsAClick) {
    frame();
    key(KeyCode::Tab);
    EXPECT_EQ(ui.focusedControl(), ControlId::ReverbTailsButton);
    key(KeyCode::Tab, kKeyShift);
    EXPECT_EQ(ui.focusedControl(), ControlId::CcListToggle) << "back around the start";
    key(KeyCode::Tab);
    for (int i = 0; i < 7; ++i)
        key(KeyCode::Tab);  // program, MONO, BYPASS LOCK, MIDI, BYPASS, CHANNEL, REVERB
    ASSERT_EQ(ui.focusedControl(), ControlId::ReverbSwitch);
    key(KeyCode::Space);
    EXPECT_EQ(ui.record(0).reverb[0], 1);
    EXPECT_EQ(ui.command.load(), Command{CommandKind::SendSettings});
    key(KeyCode::Space, 0, true);
    EXPECT_EQ(ui.record(0).reverb[0], 1) << "a held key presses once";

    ui.focusControl(ControlId::ProgramBox);
    key(KeyCode::Up);
    key(KeyCode::Up, 0, true);
    EXPECT_EQ(ui.program, 2) << "the arrows step the focused program box, held too";
    key(KeyCode::PageUp);
    key(KeyCode::PageUp);
    key(KeyCode::PageDown);
    EXPECT_EQ(ui.program, 3) << "Page Up and Down step the program wherever the focus is";
    // The menu key, or Shift+F10, opens the menu a right-click opens.
    int menus = 0;
    platform.showContextMenu = [&](std::span<const MenuEntry>, std::function<void(int)>) { ++menus; };
    key(KeyCode::Menu);
    key(KeyCode::F10);
    key(KeyCode::F10, kKeyShift);
    EXPECT_EQ(menus, 2) << "F10 alone is the window system's";

    ui.linkState = LinkState::NoDevice;
    frame();
    key(KeyCode::Space);
    EXPECT_EQ(ui.program, 3) << "no device: keys, like the pointer, do nothing";
    key(KeyCode::Escape);
    key(KeyCode::Tab);
    EXPECT_EQ(ui.focusedControl(), std::nullopt) << "nothing to focus";
}

TEST_F(ControlList, TheIrPanelIsBrowsedAndClosedFromTheKeyboard) {
    ui.focusControl(ControlId::SlotBrowse1);
    frame();
    key(KeyCode::Return);
    ASSERT_EQ(ui.irPanelSlot, 1);
    EXPECT_EQ(ui.focusedControl(), ControlId::FactoryTitle) << "into the panel it opened";
    key(KeyCode::Right);
    EXPECT_EQ(ui.factoryIrIndex, 1);
    key(KeyCode::Space);
    ASSERT_TRUE(ui.factoryListOpen);
    EXPECT_EQ(ui.focusedControl(), ControlId::FactoryRow0 + 1) << "onto the chosen row";
    key(KeyCode::Down);
    key(KeyCode::Return);
    EXPECT_EQ(ui.factoryIrIndex, 2);
    EXPECT_FALSE(ui.factoryListOpen) << "a row's press closes the list, as a click";
    EXPECT_EQ(ui.focusedControl(), ControlId::FactoryTitle);
    ui.focusControl(ControlId::SelectButton);
    key(KeyCode::Tab);
    EXPECT_EQ(ui.focusedControl(), ControlId::StorePresetButton) << "past what the panel covers";
    key(KeyCode::Left);
    EXPECT_EQ(ui.factoryIrIndex, 1) << "the arrows browse while the panel is open";

    ui.factoryListOpen = true;
    ui.focusControl(ControlId::FactoryRow0 + 4);
    key(KeyCode::Escape);
    EXPECT_FALSE(ui.factoryListOpen);
    EXPECT_EQ(ui.irPanelSlot, 1) << "the list first";
    EXPECT_EQ(ui.focusedControl(), ControlId::FactoryTitle);
    key(KeyCode::Escape);
    EXPECT_EQ(ui.irPanelSlot, 0);
    EXPECT_EQ(ui.focusedControl(), ControlId::SlotBrowse1) << "back where the panel was opened";
    ui.ccListOpen = true;
    key(KeyCode::Escape);
    EXPECT_FALSE(ui.ccListOpen);
}

// The PROGRAMS overlay: its rows are the table's list items (only those shown), with the names and
// marks the worker published, and it answers the wheel, clicks, keys and the rename dialog.
TEST_F(ControlList, TheProgramsOverlayListsScrollsSelectsAndRenamesThroughTheTable) {
    ProgramNameTable names{};
    names[1].name.assign("Clean Crunch");
    names[1].stale = true;
    names[40].name.assign("Solo");
    names[61].name.assign("Rhythm");
    ui.setProgramNames(names);
    ProgramSettings lead = ui.record(1);
    lead.channel = 1;
    lead.reverb[1] = 1;
    ui.setRecord(1, lead);
    ui.setRecord(2, ProgramSettings{});  // never read
    answerTextDialogs();
    ui.libraryState = LibraryState::Open;
    ui.program = 1;
    ui.focusControl(ControlId::ProgramBox);
    frame();
    key(KeyCode::Return);
    ASSERT_TRUE(ui.programsOpen);
    const int32_t rows = programRowsShown(900);
    EXPECT_EQ(ui.controls().size(), 45u + static_cast<size_t>(rows))
        << "the two tabs, and only the rows shown";
    EXPECT_EQ(ui.focusedControl(), ControlId::ProgramRow0 + 1) << "onto the current program";
    const PanelControl& row1 = control(ControlId::ProgramRow0 + 1);
    EXPECT_EQ(row1.role, ControlRole::ListItem);
    EXPECT_TRUE(row1.checked);
    EXPECT_EQ(row1.description.view(),
              "program 1: Clean Crunch, changed on the amplifier since named; lead channel, reverb");
    EXPECT_EQ(control(ControlId::ProgramRow0 + 2).description.view(), "program 2") << "no summary unread";
    EXPECT_FALSE(control(ControlId::ReverbSwitch).enabled) << "the overlay takes every press";
    // The stale mark, a dot in the accent colour between the number and the name.
    EXPECT_EQ(surface.pixel(row1.rect.x + 43, row1.rect.y + row1.rect.height / 2), kColorAccent);
    EXPECT_NE(surface.pixel(row1.rect.x + 43, row1.rect.y + kProgramRowHeight + row1.rect.height / 2),
              kColorAccent);

    // Three rows a notch, kept inside the list.
    platform.wheelNotches = -13;
    platform.raise(PlatformEvent::Wheel);
    frame();
    EXPECT_EQ(control(ControlId::ProgramRow0).number, 39);
    EXPECT_EQ(control(ControlId::ProgramRow0 + 1).description.view().substr(0, 16), "program 40: Solo");
    platform.wheelNotches = -100;
    platform.raise(PlatformEvent::Wheel);
    frame();
    EXPECT_EQ(control(ControlId::ProgramRow0 + (rows - 1)).number, 127);

    // A click on a row selects its program as the arrows do; the overlay stays. On the edge two
    // rows share only the upper one acts.
    const PanelControl& last = control(ControlId::ProgramRow0 + (rows - 1));
    platform.pointerX = last.rect.x + 100;
    platform.pointerY = last.rect.y;
    platform.raise(PlatformEvent::LeftButtonDown);
    frame();
    EXPECT_EQ(ui.program, 126);
    platform.pointerY = last.rect.y + 5;
    platform.raise(PlatformEvent::LeftButtonDown);
    frame();
    EXPECT_EQ(ui.program, 127);
    EXPECT_EQ(ui.command.load(), Command{CommandKind::SendSettings});
    EXPECT_TRUE(ui.programsOpen);

    // Keys along the rows scroll the list; F2 and a double click ask for the name.
    ui.focusControl(ControlId::ProgramRow0);
    key(KeyCode::Up);
    EXPECT_EQ(control(ControlId::ProgramRow0).number, 127 - rows) << "scrolled by one";
    key(KeyCode::PageUp);
    EXPECT_EQ(control(ControlId::ProgramRow0).number, 127 - 2 * rows);
    ui.focusControl(ControlId::ProgramRow0 + (61 - (127 - 2 * rows)));
    key(KeyCode::F2);
    ASSERT_EQ(asked, std::vector<std::string>{"Name Program 61|Rhythm"});
    answer("Rhythm 2");
    EXPECT_EQ(ui.command.load(), (Command{CommandKind::RenameProgram, 61}));
    EXPECT_EQ(ui.renameText().view(), "Rhythm 2");
    platform.raise(PlatformEvent::LeftDoubleClick);  // the pointer is still on the bottom row
    EXPECT_EQ(asked.back(), "Name Program " + std::to_string(127 - rows - 1) + "|");
    // Its right-click menu: Copy To… asks for the other program's number, and only a number goes.
    std::function<void(int)> chosen;
    platform.showContextMenu = [&](std::span<const MenuEntry> entries, std::function<void(int)> pick) {
        ASSERT_EQ(entries.size(), 7u);  // with a separator before the comparison's entries
        EXPECT_EQ(entries[1].label, "Copy To\u2026");
        EXPECT_FALSE(entries[5].enabled) << "no kept backup to compare with";
        EXPECT_FALSE(entries[6].enabled) << "nothing compared to clear";
        chosen = std::move(pick);
    };
    platform.raise(PlatformEvent::RightButtonDown);
    ASSERT_TRUE(chosen);
    chosen(1);
    EXPECT_EQ(asked.back(), "Copy Program " + std::to_string(127 - rows - 1) + " To Program|");
    answer("1x");
    EXPECT_EQ(ui.command.load().kind, CommandKind::RenameProgram) << "not a program number";
    answer("9");
    EXPECT_EQ(ui.command.load(), moveProgramsCommand(CommandKind::CopyProgram, 127 - rows - 1, 9));
    chosen(4);
    EXPECT_EQ(ui.command.load(), Command{CommandKind::CompareWithFile});
    // A program that differs from what is compared says so to screen readers.
    ProgramNameTable marks = ui.programNames();
    marks[61].differs = true;
    ui.setProgramNames(marks);
    ui.setComparedWith("other.syx");
    frame();
    const PanelControl& row61 = control(ControlId::ProgramRow0 + (61 - (127 - 2 * rows)));
    EXPECT_NE(row61.description.view().find(", differs from other.syx"), std::string_view::npos);

    // Escape, or a press outside the rows, closes it and does nothing else.
    key(KeyCode::Escape);
    EXPECT_FALSE(ui.programsOpen);
    EXPECT_EQ(ui.focusedControl(), ControlId::ProgramBox);
    EXPECT_EQ(ui.controls().size(), 43u);
    ASSERT_TRUE(ui.activateControl(ControlId::ProgramsOpener));
    frame();
    const HitRegion reverb = pressRegion(ControlId::ReverbSwitch);
    platform.pointerX = reverb.x + 5;
    platform.pointerY = reverb.y + 5;
    platform.raise(PlatformEvent::LeftButtonDown);
    EXPECT_FALSE(ui.programsOpen);
    EXPECT_EQ(ui.record(ui.program).reverb[0], 0);
}
// The COLLECTION view, reached by its tab from the keys or the pointer: rows named as the entries,
// typing filters them, a row's keys and menu act on its entry.
TEST_F(ControlList, TheCollectionViewFiltersByTypingAndActsOnTheFocusedEntry) {
    std::vector<CollectionRow> rows(3);
    const char* names[] = {"Clean Crunch", "Lead Solo", "Warm"};
    const char* tags[] = {"live", "", "clean, jazz"};
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i].id = static_cast<int64_t>(i) + 11;
        rows[i].name = names[i];
        rows[i].tags = tags[i];
        rows[i].settings = ui.record(0);
    }
    rows[1].settings.channel = 1;
    rows[1].settings.reverb[1] = 1;
    ui.setCollectionRows(rows);
    answerTextDialogs();
    frame();
    ASSERT_TRUE(ui.activateControl(ControlId::ProgramsOpener));
    frame();
    ui.focusControl(ControlId::CollectionTab);
    key(KeyCode::Space);
    ASSERT_TRUE(ui.collectionOpen);
    EXPECT_TRUE(control(ControlId::CollectionTab).checked);
    EXPECT_EQ(control(ControlId::ProgramRow0 + 1).name, "Lead Solo");
    EXPECT_EQ(control(ControlId::ProgramRow0 + 1).role, ControlRole::ListItem);
    EXPECT_EQ(control(ControlId::ProgramRow0 + 1).description.view(),
              "collection entry 2 of 3; lead channel, reverb");
    EXPECT_EQ(ui.controls().size(), 45u + 3u) << "a row per entry";

    // Typed letters filter by name, tags or notes in either case; Backspace takes one back.
    for (const char32_t c : {U'C', U'L', U'E'}) {
        platform.keyChar = c;
        key(KeyCode::Character);
    }
    EXPECT_EQ(ui.collectionFilter(), "CLE");
    ASSERT_EQ(ui.controls().size(), 45u + 2u);
    EXPECT_EQ(control(ControlId::ProgramRow0 + 1).name, "Warm") << "by its tag";
    key(KeyCode::Backspace);
    EXPECT_EQ(ui.collectionFilter(), "CL");

    // On a row: Return loads its entry, F2 renames it, the menu key opens its actions.
    ui.focusControl(ControlId::ProgramRow0 + 1);
    key(KeyCode::Return);
    EXPECT_EQ(ui.command.load(), (Command{CommandKind::LoadEntry, 13}));
    key(KeyCode::F2);
    ASSERT_EQ(asked.back(), "Rename Warm|Warm");
    answer("Warmer");
    EXPECT_EQ(ui.command.load(), (Command{CommandKind::RenameEntry, 13}));
    EXPECT_EQ(ui.collectionText(), "Warmer");
    std::function<void(int)> chosen;
    platform.showContextMenu = [&](std::span<const MenuEntry> entries, std::function<void(int)> pick) {
        ASSERT_EQ(entries.size(), 10u);
        EXPECT_EQ(entries[1].label, "Place Into\u2026");
        chosen = std::move(pick);
    };
    key(KeyCode::F10, kKeyShift);
    ASSERT_TRUE(chosen);
    chosen(1);
    answer("42");
    EXPECT_EQ(ui.command.load(), placeCommand(13, 42));

    // Escape clears the filter first, then closes the overlay; Ctrl+Shift+S saves the program.
    key(KeyCode::Escape);
    EXPECT_EQ(ui.collectionFilter(), "");
    EXPECT_TRUE(ui.programsOpen);
    key(KeyCode::Escape);
    EXPECT_FALSE(ui.programsOpen);
    ui.libraryState = LibraryState::Open;
    key(KeyCode::S, kKeyControl | kKeyShift);
    ASSERT_EQ(asked.back(), "Save Program 0 to Collection|");
    answer("Mine");
    EXPECT_EQ(ui.command.load(), Command{CommandKind::SaveToCollection});
    EXPECT_EQ(ui.collectionText(), "Mine");
}
}  // namespace
}  // namespace halvard
