#pragma once
// What the panel and the window share: the events the window raises and the values that travel
// beside them. The platform layer (app/) writes these fields on the user-interface thread before it
// raises an event; the Ui reads them while it handles the event. Tests fill them by hand.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace halvard {

class Canvas;

enum class PlatformEvent : int32_t {
    Paint = 0,             // raised inside paintWindow; surfaceWidth/surfaceHeight and canvas are set
    ActivateApp = 1,       // the window was activated or deactivated
    PointerMove = 2,       // pointerX/pointerY updated first
    LeftButtonDown = 3,    // pointerX/pointerY updated first
    LeftButtonUp = 4,      // pointerX/pointerY updated first
    RightButtonDown = 5,   // pointerX/pointerY updated first
    RightButtonUp = 6,     // pointerX/pointerY updated first
    Wheel = 7,             // wheelNotches updated first; the pointer position is not
    Timer = 8,             // every 500 ms
    KeyDown = 9,           // key and keyModifiers updated first (also for a held key's repeats)
    LeftDoubleClick = 10,  // after the second press's LeftButtonDown, at the same pointer position
    DropFiles = 11,        // droppedFiles and pointerX/pointerY updated first
};

// One entry of a context menu. Entries at level 1 make up the submenu of the nearest level-0 entry
// before them, which then opens that submenu instead of being chosen.
struct MenuEntry {
    std::string_view label;  // UTF-8; empty: a separator
    int level = 0;           // 0 or 1
    bool enabled = true;     // false: shown greyed, cannot be chosen (nor its submenu opened)
};

// The keys the panel answers; the window back ends map their own key codes to these (app/platform.*).
enum class KeyCode : int32_t {
    None = 0,
    Tab,
    Return,
    Space,
    Escape,
    PageUp,
    PageDown,
    Left,
    Right,
    Up,
    Down,
    Z,
    Y,
    S,
    Plus,  // also "=", the same key without Shift on many layouts
    Minus,
    Zero,
    F2,
    F10,   // with Shift, as the menu key: the menu a right-click opens
    Menu,  // the menu key
    Backspace,
    Character,  // a character typed (PlatformState::keyChar): the COLLECTION view's filter
};

// Bits of PlatformState::keyModifiers.
inline constexpr uint32_t kKeyShift = 1u << 0;
inline constexpr uint32_t kKeyControl = 1u << 1;
inline constexpr uint32_t kKeyAlt = 1u << 2;

struct PlatformState {
    // Receives every event; installed by the Ui. Events are raised only while it is set.
    std::function<void(PlatformEvent)> handler;

    // Last pointer position in client device pixels, each taken as an unsigned 16-bit value
    // (0..65535, so -1 reads 65535). The panel divides by dpi / 96 to get DIPs.
    int32_t pointerX = 0;
    int32_t pointerY = 0;
    // Whole wheel notches not yet consumed (forward is positive); the panel's wheel handling takes
    // and zeroes it.
    int32_t wheelNotches = 0;
    // Size of the drawing surface in DIPs, stored by paintWindow before Paint is raised.
    int32_t surfaceWidth = 0;
    int32_t surfaceHeight = 0;
    // The key of the last KeyDown, the modifiers held with it (kKeyShift, kKeyControl, kKeyAlt), and
    // whether it is a held key's repeat.
    KeyCode key = KeyCode::None;
    char32_t keyChar = 0;  // the character of a Character key
    uint32_t keyModifiers = 0;
    bool keyRepeat = false;
    // The files of the last DropFiles, as UTF-8 paths.
    std::vector<std::string> droppedFiles;
    // Dots per inch the panel is drawn at: 96 x the window's scale factor (96 before a window
    // exists), times the panel's zoom.
    float dpi = 96.0f;
    // The canvas of the frame being drawn; set only while Paint is being handled.
    Canvas* canvas = nullptr;

    // Asks for a repaint of the window; callable from any thread. Set before any other thread
    // starts and never changed while one runs; empty when there is no window.
    std::function<void()> requestRepaint;

    // A small menu at the pointer (the panel's right-click menu). chosen runs on the user-interface
    // thread with the index of the entry picked, and not at all when the menu is dismissed; it may
    // run after showContextMenu has returned (GTK) or before (a modal Win32 TrackPopupMenu). The
    // labels are copied before it returns. Set by the window back end; empty: no menu.
    std::function<void(std::span<const MenuEntry> entries, std::function<void(int)> chosen)> showContextMenu;
    // Shows the folder of the backups in the desktop's file manager (made first when missing). Set
    // by the entry function, which knows where it is; empty: nothing happens.
    std::function<void()> openBackupsFolder;

    // A small dialog asking for one line of text (a program's name): title, the text it starts with,
    // and done, run on the user-interface thread with the text when the user accepts it (not at all
    // when cancelled), after askText has returned. Set by the window back end; empty: no dialog.
    std::function<void(std::string_view title, std::string_view text,
                       std::function<void(std::string_view)> done)>
        askText;

    // Called after a Paint whose controls (their set, rectangles, names or states) differ from the
    // previous frame's, so that the accessibility back end can tell screen readers. Set by the window
    // back end; empty: nobody listens.
    std::function<void()> controlsChanged;

    void raise(PlatformEvent event) {
        if (handler) handler(event);
    }
    void repaint() const {
        if (requestRepaint) requestRepaint();
    }
};

}  // namespace halvard
