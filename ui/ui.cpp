#include "ui/ui.hpp"

#include <memory>

namespace halvard {
namespace {

// The number typed for the other program of a copy or a swap: 0..127 and nothing else.
std::optional<int32_t> programNumber(std::string_view text) {
    if (text.empty() || text.size() > 3) return std::nullopt;
    int32_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n < kProgramCount ? std::optional<int32_t>(n) : std::nullopt;
}

}  // namespace

Ui::Ui(PlatformState& platform) : platform_(platform) {
    // Room for every control the reading order names, so that the lists never grow in a frame.
    controls_.reserve(readingOrder().size());
    previousControls_.reserve(readingOrder().size());
    platform_.handler = [this](PlatformEvent event) { onEvent(event); };
}

Ui::~Ui() {
    platform_.handler = nullptr;
}

void Ui::onEvent(PlatformEvent event) {
    switch (event) {
        case PlatformEvent::Paint:
            renderPanel();
            break;
        case PlatformEvent::PointerMove:
            pointerHandler_.pointerMove(pointer());
            break;
        case PlatformEvent::LeftButtonDown:
            pointerHandler_.leftButtonDown(pointer());
            break;
        case PlatformEvent::RightButtonDown:
            if (const auto row = pointerHandler_.programRowAt(pointer())) {
                programRowMenu(*row);
            } else {
                pointerHandler_.rightButtonDown();
            }
            break;
        case PlatformEvent::LeftDoubleClick:
            if (const auto row = pointerHandler_.programRowAt(pointer())) renameProgramRow(*row);
            break;
        case PlatformEvent::Wheel:
            pointerHandler_.wheel(pointer(), platform_.wheelNotches);
            break;
        case PlatformEvent::KeyDown:
            keyDown(platform_.key, platform_.keyModifiers, platform_.keyRepeat);
            break;
        default:
            break;  // activation, button releases and the timer do nothing
    }
}

void Ui::renderPanel() {
    Canvas* canvas = platform_.canvas;
    if (canvas == nullptr) return;
    // One copy of the mirror per frame, so a frame never mixes two states of a record or a name.
    MirrorView v = view();
    applyBypassLock(*this, v);
    layoutControls(layout_, v, canvas->surfaceWidth(), canvas->surfaceHeight());
    registerControlRegions(layout_, regions_);
    pointerHandler_.setProgramRows(programRowsShown(canvas->surfaceHeight()));
    // A focused control that this frame does not show loses the focus.
    if (focus_ && !layout_[*focus_].shown) focus_.reset();
    if (focus_) layout_[*focus_].control.focused = true;
    drawPanel(*canvas, v, layout_, regions_, focus_);
    const FixedText<160> status = statusLineText(v);
    const bool statusChanged = !(status == status_);
    status_ = status;
    const bool controlsChanged = collectControls();
    if ((controlsChanged || statusChanged) && platform_.controlsChanged) platform_.controlsChanged();
}

bool Ui::collectControls() {
    previousControls_.swap(controls_);
    controls_.clear();
    for (const ControlId id : readingOrder()) {
        const ControlEntry& e = layout_[id];
        if (e.shown) controls_.push_back(e.control);
    }
    return controls_ != previousControls_;
}

bool Ui::activateControl(ControlId control) {
    if (toInt(control) < 0 || toInt(control) >= kControlIdCount) return false;
    const ControlEntry& e = layout_[control];
    return e.shown && pointerHandler_.activate(control, e.hit);
}

bool Ui::stepControl(ControlId control, int delta) {
    if (toInt(control) < 0 || toInt(control) >= kControlIdCount || delta == 0) return false;
    if (const auto arrows = spinArrows(control))
        return activateControl(delta > 0 ? arrows->up : arrows->down);
    const ControlEntry& e = layout_[control];
    return e.shown && pointerHandler_.stepFilter(control, delta, e.hit);
}

void Ui::renameProgramRow(ControlId row) {
    const ControlEntry& e = layout_[row];
    if (isProgramRow(row) && e.shown && e.control.enabled) renameProgram(e.control.number);
}

void Ui::renameProgram(int32_t program) {
    // Without a library there is nowhere to keep a name (the status line says why).
    if (!platform_.askText || libraryState.load() != LibraryState::Open || program < 0 ||
        program >= kProgramCount)
        return;
    const ProgramListEntry current = programNames()[static_cast<size_t>(program)];
    FixedText<48> title;
    title << "Name Program " << program;
    platform_.askText(title.view(), current.name.view(), [this, program](std::string_view text) {
        if (linkState.load() != LinkState::Connected) return;
        setRenameText(text);
        postCommand(Command{CommandKind::RenameProgram, program});
    });
}

void Ui::programRowMenu(ControlId row) {
    const ControlEntry& e = layout_[row];
    if (!e.shown || !e.control.enabled || !platform_.showContextMenu) return;
    const int32_t program = e.control.number;
    // The labels live in kept until the menu has them; the choice may come after this returns.
    const KeptBackupList kept = keptBackups();
    auto menu = std::make_shared<const ContextMenu>(programRowMenuFor(kept, !comparedWith().view().empty()));
    platform_.showContextMenu(menu->entries, [this, program, menu](int chosen) {
        if (chosen < 0 || static_cast<size_t>(chosen) >= menu->entries.size()) return;
        if (chosen == 0) {
            renameProgram(program);
            return;
        }
        if (static_cast<size_t>(chosen) >= kProgramRowTextEntries) {
            const Command command = menu->commands[static_cast<size_t>(chosen)];
            if (command.kind != CommandKind::None && linkState.load() == LinkState::Connected)
                postCommand(command);
            return;
        }
        if (!platform_.askText) return;
        const bool swap = chosen == 2;
        FixedText<48> title;
        title << (swap ? "Swap Program " : "Copy Program ") << program
              << (swap ? " With Program" : " To Program");
        platform_.askText(title.view(), "", [this, program, swap](std::string_view text) {
            const std::optional<int32_t> other = programNumber(text);
            if (!other || *other == program || linkState.load() != LinkState::Connected) return;
            postCommand(moveProgramsCommand(swap ? CommandKind::SwapPrograms : CommandKind::CopyProgram,
                                            program, *other));
        });
    });
}

void Ui::focusControl(ControlId control) {
    if (toInt(control) < 0 || toInt(control) >= kControlIdCount) return;
    if (focus_ == control) return;
    focus_ = control;
    platform_.repaint();
}

}  // namespace halvard
