#pragma once
// Pointer handling of the panel: hover highlights, the action of every control on a left press,
// the program wheel. Runs on the user-interface thread only, against the regions of the last frame.
//
// It edits the device mirror (globals, the current program's record, the panel state) and posts
// commands for the device worker; it asks for repaints, the arrow cursor and the short pause
// after a post through InputHost, so that tests drive it without a window or a clock.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "model/device_mirror.hpp"
#include "model/edit_history.hpp"
#include "ui/hit_regions.hpp"
#include "ui/panel_controls.hpp"
#include "ui/panel_geometry.hpp"
#include "ui/platform_state.hpp"

namespace halvard {

// What the pointer handling needs from the window around it.
class InputHost {
public:
    virtual void requestRepaint() = 0;
    virtual void showArrowCursor() = 0;
    // The pause after posting a command, long enough for the worker to take it (four 5 ms polls).
    virtual void pauseAfterPost() = 0;
    // The right-click menu and its one action that is not a command (see PlatformState).
    virtual void showContextMenu(std::span<const MenuEntry> entries, std::function<void(int)> chosen) = 0;
    virtual void openBackupsFolder() = 0;
    // A press on a row of the COLLECTION view (the overlay's row control).
    virtual void collectionRowPressed(ControlId row) { (void)row; }
    // The right-click menu's Save Program to Collection… (a name is asked for first).
    virtual void saveProgramToCollection() {}

protected:
    ~InputHost() = default;
};

// The right-click menu: the librarian's commands, with the newest kept backups in a submenu of
// their own (greyed while none is kept). The labels of the kept backups point into kept.
struct ContextMenu {
    std::vector<MenuEntry> entries;
    std::vector<Command> commands;       // what each entry posts (None: nothing)
    size_t openBackupsFolder = 0;        // the entry that shows the backups folder instead
    size_t saveToCollection = SIZE_MAX;  // the entry that asks for a name to keep the program under
};
// Then Save Program to Collection… and Import Files….
ContextMenu contextMenuFor(const KeptBackupList& kept);
// The right-click menu of a PROGRAMS overlay's row: Name…, Copy To… and Swap With… (entries 0..2,
// which ask for text first and post no command of their own), then the comparison's entries:
// Compare With File…, the kept backups in a submenu, and Clear Comparison (greyed while nothing is
// compared). The labels of the kept backups point into kept.
inline constexpr size_t kProgramRowTextEntries = 3;
ContextMenu programRowMenuFor(const KeptBackupList& kept, bool comparing);

// Sleeps the calling thread for the post pause (20 ms on the steady clock).
void pauseAfterPostOnThisThread();

// The pointer as the platform reports it: client pixels, and the surface's horizontal DPI.
struct PointerInput {
    int32_t pointerX = 0;
    int32_t pointerY = 0;
    float dpi = 96.0f;  // 96 when there is no drawing surface yet
};

struct DipPoint {
    int32_t x = 0;
    int32_t y = 0;
};

// Pixels to DIPs: divided by DPI / 96 in single precision and truncated.
DipPoint pointerToDip(const PointerInput& in);

class InputHandler {
public:
    InputHandler(DeviceMirror& mirror, HitRegions& regions, InputHost& host)
        : mirror_(mirror),
          regions_(regions),
          host_(host),
          seenOutsideChanges_(mirror.outsideChanges.load()),
          seenLoadedEdit_(mirror.loadedEdit().serial) {}

    // Each acts only while the link is Connected; the wheel also only while the IR panel is closed.
    void pointerMove(const PointerInput& in);
    void leftButtonDown(const PointerInput& in);
    // wheelNotches: the platform's sum of unconsumed notches; taken and zeroed only when the pointer
    // is over a wheel region.
    void wheel(const PointerInput& in, int32_t& wheelNotches);
    // Opens the right-click menu anywhere on the panel while the link is Connected (idle); a chosen
    // item posts its command if the link is still Connected then.
    void rightButtonDown();

    // A press on one control whose hit regions lie at `hit`, for the keys and the screen readers:
    // the click's action with the click's rules (connected and idle, not covered by the IR panel,
    // the closing of the factory list and the IR panel as a press at the middle of `hit` closes
    // them). False, and nothing done, when the control does not act now or has no press action.
    bool activate(ControlId control, const DipRect& hit);
    // A filter switch one position up (delta > 0: 1, 2, 3, 1...) or down (3, 2, 1, 3...), under the
    // same rules; false for any other control or a delta of 0.
    bool stepFilter(ControlId control, int delta, const DipRect& hit);

    // Every press that changes the settings of the program it was made on (not a program change)
    // is an edit, kept per program. Undo writes the fields the current program's latest edit
    // changed back to their earlier values and sends the settings as that press did; redo does it
    // again. Only while the link is Connected; false when there is nothing to undo or redo. The
    // history is dropped when the amplifier reports a change the editor did not make. A program of
    // the collection the worker loaded into the current one is an edit like a press.
    bool undo();
    bool redo();

    // The PROGRAMS overlay: how many rows the last frame showed (set after each layout), the row
    // under the pointer while it is open, and a scroll by rows (clamped to the list).
    void setProgramRows(int32_t rows) { programRows_ = rows; }
    int32_t programRows() const { return programRows_; }
    // How many rows the overlay's view lists in all: the 128 programs, or the collection's entries
    // the filter leaves (set after each layout).
    void setListLength(int32_t n) { listLength_ = n; }
    int32_t listLength() const { return listLength_; }
    std::optional<ControlId> programRowAt(const PointerInput& in) const;
    void scrollPrograms(int32_t rows);
    const EditHistory& history() const { return history_; }

private:
    struct Press {
        int32_t program = 0;  // the program, and its settings, before the press
        SettingsSnapshot before;
        bool redraw = false;
        bool settings = false;
        bool keepList = true;
    };

    bool excludedByPanel(const HitRegion& r) const;
    std::optional<ControlId> programRowAt(DipPoint p) const;
    bool onOverlayTab(DipPoint p) const;
    bool inert(ControlId control) const;
    bool answers(ControlId control, const DipRect& hit) const;
    Press startPress() const;
    // The press's ending: the factory list and the IR panel close by the click's rules, an edit is
    // kept, the settings command goes out, the repaint is asked for.
    void finishPress(Press& press, DipPoint at);
    void keepEdit(const Press& press);
    bool applyStep(bool forward);
    // Drops the history when the worker has counted a change the editor did not make, and keeps a
    // program the worker has loaded as an edit since the last look.
    void followOutsideChanges();
    // direction: the way a filter switch moves (+1 on a click).
    void act(ControlId control, Press& press, int direction = 1);
    void postCommand(Command command);
    void contextMenuChosen(const ContextMenu& menu, int entry);
    void auditionStep();
    void postSettingsCommand();

    DeviceMirror& mirror_;
    HitRegions& regions_;
    InputHost& host_;
    EditHistory history_;
    uint32_t seenOutsideChanges_;
    uint32_t seenLoadedEdit_;
    int32_t programRows_ = 20;
    int32_t listLength_ = kProgramCount;
};

}  // namespace halvard
