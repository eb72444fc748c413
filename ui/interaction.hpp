#pragma once
// Pointer handling of the panel: hover highlights, the action of every control on a left press,
// the program wheel. Runs on the user-interface thread only, against the regions of the last frame.
//
// It edits the device mirror (globals, the current program's record, the panel state) and posts
// commands for the device worker; it asks for repaints, the arrow cursor and the short pause
// after a post through PointerHost, so that tests drive it without a window or a clock.

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "model/device_mirror.hpp"
#include "ui/hit_regions.hpp"
#include "ui/panel_geometry.hpp"
#include "ui/platform_state.hpp"

namespace halvard {

// What the pointer handling needs from the window around it.
class PointerHost {
public:
    virtual void requestRepaint() = 0;
    virtual void showArrowCursor() = 0;
    // The pause after posting a command, long enough for the worker to take it (four 5 ms polls).
    virtual void pauseAfterPost() = 0;
    // The right-click menu and its one action that is not a command (see PlatformState).
    virtual void showContextMenu(std::span<const MenuEntry> entries, std::function<void(int)> chosen) = 0;
    virtual void openBackupsFolder() = 0;

protected:
    ~PointerHost() = default;
};

// The right-click menu: the librarian's commands, with the newest kept backups in a submenu of
// their own (greyed while none is kept). The labels of the kept backups point into kept.
struct ContextMenu {
    std::vector<MenuEntry> entries;
    std::vector<Command> commands;  // what each entry posts (None: nothing)
    size_t openBackupsFolder = 0;   // the entry that shows the backups folder instead
};
ContextMenu contextMenuFor(const KeptBackupList& kept);

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

class PointerHandler {
public:
    PointerHandler(DeviceMirror& mirror, HitRegions& regions, PointerHost& host)
        : mirror_(mirror), regions_(regions), host_(host) {}

    // Each acts only while the link is Connected; the wheel also only while the IR panel is closed.
    void pointerMove(const PointerInput& in);
    void leftButtonDown(const PointerInput& in);
    // wheelNotches: the platform's sum of unconsumed notches; taken and zeroed only when the pointer
    // is over a wheel region.
    void wheel(const PointerInput& in, int32_t& wheelNotches);
    // Opens the right-click menu anywhere on the panel while the link is Connected (idle); a chosen
    // item posts its command if the link is still Connected then.
    void rightButtonDown();

private:
    struct Press {
        bool redraw = false;
        bool settings = false;
        bool keepList = true;
    };

    bool excludedByPanel(const HitRegion& r) const;
    bool inert(ControlId control) const;
    void act(ControlId control, Press& press);
    void postCommand(Command command);
    void contextMenuChosen(const ContextMenu& menu, int entry);
    void auditionStep();
    void postSettingsCommand();

    DeviceMirror& mirror_;
    HitRegions& regions_;
    PointerHost& host_;
};

}  // namespace halvard
