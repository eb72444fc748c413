// The panel's keys: focus, the focused control's press and steps, and the keys that act wherever the
// focus is. They act through the same presses as the pointer, so with the same rules.
#include <algorithm>

#include "ui/ui.hpp"

namespace halvard {
namespace {

bool isFactoryRow(ControlId c) {
    return toInt(c) >= toInt(ControlId::FactoryRow0) && toInt(c) <= toInt(ControlId::FactoryRow14);
}
bool isSlotBrowse(ControlId c) {
    return toInt(c) >= toInt(ControlId::SlotBrowse1) && toInt(c) <= toInt(ControlId::SlotBrowse6);
}
// The IR panel's own controls, whose focus goes back to the slot row when the panel closes.
bool inIrPanel(ControlId c) {
    return (toInt(c) >= toInt(ControlId::FactoryPrev) && toInt(c) <= toInt(ControlId::FactoryRow14)) ||
           c == ControlId::AuditionSwitch;
}

}  // namespace

void Ui::keyDown(KeyCode key, uint32_t modifiers, bool repeat) {
    if ((modifiers & kKeyAlt) != 0) return;  // the window system's keys
    // A held key repeats steps and moves, not presses: a press may open what the next repeat
    // would then press (a held Space on a browse icon would store a factory IR), and a store or a
    // rename is asked for once.
    if (repeat && (key == KeyCode::Return || key == KeyCode::Space || key == KeyCode::F2 ||
                   key == KeyCode::F10 || key == KeyCode::Menu || key == KeyCode::Escape ||
                   (key == KeyCode::S && (modifiers & kKeyControl) != 0)))
        return;
    if ((modifiers & kKeyControl) != 0) {
        const bool shift = (modifiers & kKeyShift) != 0;
        if (key == KeyCode::Z && !shift) pointerHandler_.undo();
        if ((key == KeyCode::Z && shift) || (key == KeyCode::Y && !shift)) pointerHandler_.redo();
        if (key == KeyCode::S && !shift) activateControl(ControlId::StorePresetButton);
        if (key == KeyCode::S && shift) saveToCollection();
        return;
    }
    if (collectionKey(key, platform_.keyChar)) return;
    switch (key) {
        case KeyCode::Tab:
            moveFocus((modifiers & kKeyShift) != 0 ? -1 : 1);
            return;
        case KeyCode::Return:
        case KeyCode::Space:
            pressFocused();
            return;
        case KeyCode::PageUp:
        case KeyCode::PageDown:
            if (focus_ && isProgramRow(*focus_)) {
                programRowKey(key == KeyCode::PageUp ? -1 : 1, true);
            } else {
                stepControl(ControlId::ProgramBox, key == KeyCode::PageUp ? 1 : -1);
            }
            return;
        case KeyCode::Right:
        case KeyCode::Up:
            arrowKey(1, key == KeyCode::Up);
            return;
        case KeyCode::Left:
        case KeyCode::Down:
            arrowKey(-1, key == KeyCode::Down);
            return;
        case KeyCode::F2:
            if (focus_ && isProgramRow(*focus_)) renameProgramRow(*focus_);
            return;
        case KeyCode::F10:
            if ((modifiers & kKeyShift) == 0) return;
            if (collectionKey(KeyCode::Menu, 0)) return;
            [[fallthrough]];
        case KeyCode::Menu:
            // The menu a right-click opens: the focused PROGRAMS row's, else the panel's.
            if (focus_ && isProgramRow(*focus_)) {
                programRowMenu(*focus_);
            } else {
                pointerHandler_.rightButtonDown();
            }
            return;
        case KeyCode::Escape:
            escape();
            return;
        default:
            return;
    }
}

// The COLLECTION view's own keys: a character typed adds to the filter and Backspace takes the last
// one back, Escape clears the filter before it closes the view; on a row, Return and Space load its
// entry, F2 renames it, the menu key (or Shift+F10) opens its menu. True when the key was the view's.
bool Ui::collectionKey(KeyCode key, char32_t typed) {
    if (!programsOpen.load() || !collectionOpen.load() || linkState.load() != LinkState::Connected)
        return false;
    const bool onRow = focus_ && isProgramRow(*focus_) && layout_[*focus_].shown;
    switch (key) {
        case KeyCode::Character: {
            if (typed < 0x20 || typed == 0x7F || typed > 0x10FFFF || (typed >= 0xD800 && typed <= 0xDFFF))
                return true;
            std::string filter = filter_;
            const auto add = [&filter](uint32_t byte) { filter.push_back(static_cast<char>(byte)); };
            if (typed < 0x80) {
                add(typed);
            } else if (typed < 0x800) {
                add(0xC0 | (typed >> 6));
                add(0x80 | (typed & 0x3F));
            } else if (typed < 0x10000) {
                add(0xE0 | (typed >> 12));
                add(0x80 | ((typed >> 6) & 0x3F));
                add(0x80 | (typed & 0x3F));
            } else {
                add(0xF0 | (typed >> 18));
                add(0x80 | ((typed >> 12) & 0x3F));
                add(0x80 | ((typed >> 6) & 0x3F));
                add(0x80 | (typed & 0x3F));
            }
            setFilter(std::move(filter));
            return true;
        }
        case KeyCode::Backspace: {
            std::string filter = filter_;
            while (!filter.empty() && (static_cast<unsigned char>(filter.back()) & 0xC0) == 0x80)
                filter.pop_back();
            if (!filter.empty()) filter.pop_back();
            setFilter(std::move(filter));
            return true;
        }
        case KeyCode::Escape:
            if (filter_.empty()) return false;
            setFilter({});
            return true;
        case KeyCode::Return:
        case KeyCode::Space:
            if (!onRow) return false;
            loadCollectionRow(*focus_);
            return true;
        case KeyCode::F2:
            if (!onRow) return false;
            askForEntryText(*focus_, CommandKind::RenameEntry);
            return true;
        case KeyCode::Menu:
            if (!onRow) return false;
            collectionRowMenu(*focus_);
            return true;
        default:
            return false;
    }
}

// The next enabled control of the last frame, around the end; from the first (or the last) when
// nothing has the focus.
void Ui::moveFocus(int direction) {
    const auto n = static_cast<int>(controls_.size());
    int at = direction > 0 ? -1 : n;
    for (int i = 0; i < n; ++i)
        if (focus_ == controls_[static_cast<size_t>(i)].id) at = i;
    for (int step = 0; step < n; ++step) {
        at = ((at + direction) % n + n) % n;
        if (controls_[static_cast<size_t>(at)].enabled) {
            focusControl(controls_[static_cast<size_t>(at)].id);
            return;
        }
    }
}

// The press, and where the focus goes when the press takes its control away or opens something:
// into the IR panel a browse icon opened, onto the chosen row of the list the title opened, back to
// the title from a row (whose press closes the list).
void Ui::pressFocused() {
    if (!focus_) return;
    const ControlId pressed = *focus_;
    // The program box's press opens the PROGRAMS overlay, with the focus on the current program.
    if (pressed == ControlId::ProgramBox) {
        if (!activateControl(ControlId::ProgramsOpener)) return;
        const int32_t top = clampedProgramsTop(programsTop.load(), pointerHandler_.programRows());
        focusControl(ControlId::ProgramRow0 + std::clamp(program.load() - top, 0, kProgramRowsMax - 1));
        return;
    }
    if (!activateControl(pressed)) return;
    if (isSlotBrowse(pressed) && irPanelSlot.load() > 0) {
        focusControl(ControlId::FactoryTitle);
    } else if (pressed == ControlId::FactoryTitle && factoryListOpen.load()) {
        const int32_t row = std::clamp(factoryIrIndex.load(), 0,
                                       toInt(ControlId::FactoryRow14) - toInt(ControlId::FactoryRow0));
        focusControl(ControlId::FactoryRow0 + row);
    } else if (isFactoryRow(pressed)) {
        focusControl(ControlId::FactoryTitle);
    }
}

// Up and Right step up, Left and Down step down: a focused spin button; along the open factory list
// (Down to the next row); else, while the IR panel is open, the factory IRs.
void Ui::arrowKey(int delta, bool vertical) {
    if (focus_ && isProgramRow(*focus_) && layout_[*focus_].shown) {
        programRowKey(vertical ? -delta : delta, false);
        return;
    }
    if (focus_ && isFactoryRow(*focus_) && layout_[*focus_].shown) {
        const int step = vertical ? -delta : delta;
        const int row = std::clamp(toInt(*focus_) - toInt(ControlId::FactoryRow0) + step, 0,
                                   toInt(ControlId::FactoryRow14) - toInt(ControlId::FactoryRow0));
        focusControl(ControlId::FactoryRow0 + row);
        return;
    }
    if (focus_ && layout_[*focus_].shown && layout_[*focus_].control.role == ControlRole::SpinButton) {
        stepControl(*focus_, delta);
        return;
    }
    if (irPanelSlot.load() > 0) stepControl(ControlId::FactoryTitle, delta);
}

// Along the PROGRAMS overlay's rows by one (or by a page), the list scrolling when the focus would
// leave the rows shown.
void Ui::programRowKey(int delta, bool page) {
    const int32_t rows = pointerHandler_.programRows();
    const int32_t length = pointerHandler_.listLength();
    if (length <= 0) return;
    const int32_t top = clampedListTop(programsTop.load(), rows, length);
    const int32_t at = top + toInt(*focus_) - toInt(ControlId::ProgramRow0);
    const int32_t want = std::clamp(at + (page ? delta * rows : delta), 0, length - 1);
    if (want < top) pointerHandler_.scrollPrograms(want - top);
    if (want >= top + rows) pointerHandler_.scrollPrograms(want - (top + rows - 1));
    const int32_t shownTop = clampedListTop(programsTop.load(), rows, length);
    focusControl(ControlId::ProgramRow0 + std::clamp(want - shownTop, 0, rows - 1));
}

// Closes the PROGRAMS overlay, or the innermost of the factory list, the IR panel and the CC list; with none
// open, hides the focus ring. Closing is a change of the panel, made only while the pointer could make it.
void Ui::escape() {
    const bool live = linkState.load() == LinkState::Connected;
    const int32_t slot = irPanelSlot.load();
    if (live && programsOpen.load()) {
        programsOpen.store(false);
        if (focus_ && isProgramRow(*focus_)) focus_ = ControlId::ProgramBox;
    } else if (live && slot > 0 && factoryListOpen.load()) {
        factoryListOpen.store(false);
        if (focus_ && isFactoryRow(*focus_)) focus_ = ControlId::FactoryTitle;
    } else if (live && slot > 0) {
        irPanelSlot.store(0);
        if (focus_ && inIrPanel(*focus_) && slot <= kUserIrSlotCount)
            focus_ = ControlId::SlotBrowse1 + (slot - 1);
    } else if (live && ccListOpen.load()) {
        ccListOpen.store(false);
    } else if (focus_) {
        focus_.reset();
    } else {
        return;
    }
    platform_.repaint();
}

}  // namespace halvard
