#pragma once
// The panel's state object: the device mirror shared with the worker, the control table and the hit
// regions of the last frame, the keyboard focus, and the window's event handler. On Paint it lays
// out the controls, registers their regions and draws the whole panel from the mirror with the
// canvas that paintWindow lends it for that frame; pointer events edit the mirror and post commands.
//
// Threads: the constructor, onEvent and renderPanel run on the user-interface thread only; the
// device worker touches only the DeviceMirror part (see model/device_mirror.hpp).

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model/device_mirror.hpp"
#include "ui/canvas.hpp"
#include "ui/hit_regions.hpp"
#include "ui/interaction.hpp"
#include "ui/panel_controls.hpp"
#include "ui/panel_text.hpp"
#include "ui/platform_state.hpp"
#include "ui/renderer.hpp"

namespace halvard {

class Ui : public DeviceMirror, private InputHost {
public:
    // Installs onEvent as the platform's handler (removed again by the destructor) and starts with
    // a reset mirror.
    explicit Ui(PlatformState& platform);
    ~Ui();
    Ui(const Ui&) = delete;
    Ui& operator=(const Ui&) = delete;

    // Every window event arrives here: Paint draws the frame; pointer moves, left presses, right
    // presses (the menu), wheel turns and keys act while the link is Connected; the rest is ignored.
    void onEvent(PlatformEvent event);

    // The panel's keys (ui/keys.cpp): Tab and Shift+Tab move the focus through the enabled controls
    // in reading order, Space and Return press the focused control, the arrows step a focused spin
    // button (or move along the factory list, or browse the factory IRs while the IR panel is open),
    // Page Up and Page Down step the program, Escape closes the factory list, the IR panel or the CC
    // list, Ctrl+Z undoes an edit and Ctrl+Y or Ctrl+Shift+Z redoes it, Ctrl+S stores the preset,
    // Ctrl+Shift+S saves the program to the collection. In the COLLECTION view characters typed and
    // Backspace edit the filter, Escape clears it first; Return, Space, F2 and the menu keys act on
    // the focused row's entry.
    // Every action has the pointer's rules.
    void keyDown(KeyCode key, uint32_t modifiers, bool repeat = false);

    // Draws one complete frame on platform().canvas; only while Paint is being handled.
    void renderPanel();

    PlatformState& platform() { return platform_; }

    // The controls of the last frame drawn, in reading order (the keyboard's focus order); only
    // those the frame shows. The accessibility back ends read them after each Paint.
    std::span<const PanelControl> controls() const { return controls_; }
    // The status line of the last frame drawn ("" none): screen readers read it as the panel's
    // description, so that they too learn why a command was refused or gave up.
    std::string_view statusText() const { return status_.view(); }
    // What a click on the control does, with the same rules (connected and idle, not covered);
    // false when the control does not act now. Any control of the last frame's table may be named,
    // a spin button's arrow (ProgramUp, ...) included.
    bool activateControl(ControlId control);
    // A spin button's value one step up (delta > 0) or down, as its arrows do; false when it cannot.
    bool stepControl(ControlId control, int delta);
    // Asks for a new name of the program on the PROGRAMS overlay's row (the platform's text
    // dialog) and has the worker keep it; nothing when the row is not shown or does not act, or
    // while there is no library to keep it in.
    void renameProgramRow(ControlId row);
    void renameProgram(int32_t program);
    // The right-click menu of a PROGRAMS overlay's row: Name…, Copy To… and Swap With… (the other
    // program's number asked for in the text dialog, then the worker's verified copy or swap), and
    // the comparison with a file or a kept backup (see programRowMenuFor).
    void programRowMenu(ControlId row);
    // The COLLECTION view (the overlay's other view): the entry a row shows (null when it shows
    // none), and its actions. A row's right-click menu: Load, Place Into… (the program's number
    // asked for), Rename…, Tags… (separated by commas), Notes…, Export…, Delete… (asked by the
    // worker), then Save Program to Collection… and Import Files…. Each only while the row acts.
    const CollectionRow* collectionEntry(ControlId row) const;
    void loadCollectionRow(ControlId row);
    void collectionRowMenu(ControlId row);
    // Asks for a name (the program's own offered) and has the worker keep the current program,
    // unstored edits included, in the collection; nothing while there is no library.
    void saveToCollection();
    // What the COLLECTION view's typing filters by.
    std::string_view collectionFilter() const { return filter_; }
    // Files dropped at the pointer: to the worker as one command, with the user IR slot whose row
    // they were dropped on (Wave files go there). While the link is Connected, or Busy (the worker
    // takes it after the command it runs).
    void dropFiles(std::vector<std::string> files);
    // Moves the keyboard focus to the control (drawn with the focus ring from the next frame).
    void focusControl(ControlId control);
    // The control with the keyboard focus; nullopt when none has it.
    std::optional<ControlId> focusedControl() const { return focus_; }
    // The control table of the last frame: every control and part, shown or not.
    const PanelLayout& layout() const { return layout_; }
    HitRegions& regions() { return regions_; }

    // The pause after a command is posted (20 ms on the steady clock). Tests may replace it.
    std::function<void()> postPause = pauseAfterPostOnThisThread;

private:
    void requestRepaint() override { platform_.repaint(); }
    // The window's cursor is the arrow and never changes, so there is nothing to set.
    void showArrowCursor() override {}
    void pauseAfterPost() override {
        if (postPause) postPause();
    }
    void showContextMenu(std::span<const MenuEntry> entries, std::function<void(int)> chosen) override {
        if (platform_.showContextMenu) platform_.showContextMenu(entries, std::move(chosen));
    }
    void openBackupsFolder() override {
        if (platform_.openBackupsFolder) platform_.openBackupsFolder();
    }
    void collectionRowPressed(ControlId row) override { focusControl(row); }
    void saveProgramToCollection() override { saveToCollection(); }
    // Copies the mirror's collection when it has changed and filters it again (after a change of
    // either); the rows of the copy before stay until the next, as the last frame's names point there.
    void refreshCollection();
    void setFilter(std::string filter);
    void postCollectionCommand(CommandKind kind, int64_t id, std::string_view text);
    void askForEntryText(ControlId row, CommandKind kind);
    PointerInput pointer() const { return {platform_.pointerX, platform_.pointerY, platform_.dpi}; }

    // Fills controls_ from the table, in reading order, and says whether it differs from the last.
    bool collectControls();
    // Keys (ui/keys.cpp).
    void moveFocus(int direction);
    void pressFocused();
    void arrowKey(int delta, bool vertical);
    void escape();
    void programRowKey(int delta, bool page);
    bool collectionKey(KeyCode key, char32_t typed);

    PlatformState& platform_;
    HitRegions regions_;
    PanelLayout layout_;
    std::vector<PanelControl> controls_;
    FixedText<160> status_;
    std::vector<PanelControl> previousControls_;  // the frame before, to tell a change
    std::optional<ControlId> focus_;
    std::vector<CollectionRow> collection_, collectionBefore_;
    std::vector<const CollectionRow*> shown_;  // those the filter leaves
    std::string filter_;
    uint32_t seenCollection_ = 0;
    bool filterChanged_ = true;
    InputHandler pointerHandler_{*this, regions_, *this};
};

}  // namespace halvard
