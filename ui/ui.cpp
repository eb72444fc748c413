#include "ui/ui.hpp"

#include <algorithm>
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
                if (collectionOpen.load()) {
                    collectionRowMenu(*row);
                } else {
                    programRowMenu(*row);
                }
            } else {
                pointerHandler_.rightButtonDown();
            }
            break;
        case PlatformEvent::LeftDoubleClick:
            if (const auto row = pointerHandler_.programRowAt(pointer())) {
                if (collectionOpen.load()) {
                    loadCollectionRow(*row);
                } else {
                    renameProgramRow(*row);
                }
            }
            break;
        case PlatformEvent::DropFiles:
            dropFiles(std::move(platform_.droppedFiles));
            platform_.droppedFiles.clear();
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
    refreshCollection();
    const CollectionShown collection{shown_, filter_, collection_.size()};
    layoutControls(layout_, v, canvas->surfaceWidth(), canvas->surfaceHeight(), collection);
    registerControlRegions(layout_, regions_);
    pointerHandler_.setProgramRows(programRowsShown(canvas->surfaceHeight()));
    pointerHandler_.setListLength(v.collectionOpen ? static_cast<int32_t>(shown_.size()) : kProgramCount);
    // A focused control that this frame does not show loses the focus.
    if (focus_ && !layout_[*focus_].shown) focus_.reset();
    if (focus_) layout_[*focus_].control.focused = true;
    drawPanel(*canvas, v, layout_, regions_, focus_, collection);
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

void Ui::refreshCollection() {
    const uint32_t version = collectionVersion.load();
    if (version != seenCollection_) {
        seenCollection_ = version;
        collectionBefore_ = std::move(collection_);
        collection_ = collectionRows();
        filterChanged_ = true;
    }
    if (!filterChanged_) return;
    filterChanged_ = false;
    shown_.clear();
    for (const CollectionRow& row : collection_)
        if (matchesFilter(row, filter_)) shown_.push_back(&row);
}

void Ui::setFilter(std::string filter) {
    if (filter == filter_) return;
    filter_ = std::move(filter);
    filterChanged_ = true;
    programsTop.store(0);
    platform_.repaint();
}

const CollectionRow* Ui::collectionEntry(ControlId row) const {
    if (!isProgramRow(row) || !collectionOpen.load()) return nullptr;
    const ControlEntry& e = layout_[row];
    const auto at = static_cast<size_t>(e.control.number);
    if (!e.shown || !e.control.enabled || at >= shown_.size()) return nullptr;
    return shown_[at];
}

void Ui::postCollectionCommand(CommandKind kind, int64_t id, std::string_view text) {
    if (linkState.load() != LinkState::Connected) return;
    setCollectionText(text);
    postCommand(Command{kind, static_cast<int32_t>(id)});
}

void Ui::loadCollectionRow(ControlId row) {
    if (const CollectionRow* entry = collectionEntry(row))
        postCollectionCommand(CommandKind::LoadEntry, entry->id, {});
}

// Rename…, Tags… and Notes…: the text asked for, the entry's own offered.
void Ui::askForEntryText(ControlId row, CommandKind kind) {
    const CollectionRow* entry = collectionEntry(row);
    if (entry == nullptr || !platform_.askText) return;
    const int64_t id = entry->id;
    const std::string title = std::string(kind == CommandKind::RenameEntry    ? "Rename "
                                          : kind == CommandKind::SetEntryTags ? "Tags of "
                                                                              : "Notes of ") +
                              entry->name;
    const std::string& text = kind == CommandKind::RenameEntry    ? entry->name
                              : kind == CommandKind::SetEntryTags ? entry->tags
                                                                  : entry->notes;
    platform_.askText(title, text,
                      [this, id, kind](std::string_view typed) { postCollectionCommand(kind, id, typed); });
}

void Ui::collectionRowMenu(ControlId row) {
    const CollectionRow* entry = collectionEntry(row);
    if (entry == nullptr || !platform_.showContextMenu) return;
    static constexpr MenuEntry kEntries[] = {
        {"Load"},
        {"Place Into\u2026"},
        {"Rename\u2026"},
        {"Tags\u2026"},
        {"Notes\u2026"},
        {"Export\u2026"},
        {"Delete\u2026"},
        {""},
        {"Save Program to Collection\u2026"},
        {"Import Files\u2026"},
    };
    const int64_t id = entry->id;
    const std::string name = entry->name;
    platform_.showContextMenu(kEntries, [this, row, id, name](int chosen) {
        switch (chosen) {
            case 0:
                postCollectionCommand(CommandKind::LoadEntry, id, {});
                return;
            case 1:
                if (!platform_.askText) return;
                platform_.askText("Place " + name + " Into Program", "", [this, id](std::string_view text) {
                    const std::optional<int32_t> program = programNumber(text);
                    if (program && linkState.load() == LinkState::Connected)
                        postCommand(placeCommand(id, *program));
                });
                return;
            case 2:
                askForEntryText(row, CommandKind::RenameEntry);
                return;
            case 3:
                askForEntryText(row, CommandKind::SetEntryTags);
                return;
            case 4:
                askForEntryText(row, CommandKind::SetEntryNotes);
                return;
            case 5:
                postCollectionCommand(CommandKind::ExportEntry, id, {});
                return;
            case 6:
                postCollectionCommand(CommandKind::DeleteEntry, id, {});
                return;
            case 8:
                saveToCollection();
                return;
            case 9:
                if (linkState.load() == LinkState::Connected) postCommand(Command{CommandKind::ImportFiles});
                return;
            default:
                return;
        }
    });
}

void Ui::saveToCollection() {
    if (!platform_.askText || libraryState.load() != LibraryState::Open ||
        linkState.load() != LinkState::Connected)
        return;
    const ProgramNameLine name = programName();
    const int32_t current = program.load();
    FixedText<48> title;
    title << "Save Program " << current << " to Collection";
    platform_.askText(
        title.view(), name.program == current ? name.name.view() : std::string_view(),
        [this](std::string_view text) { postCollectionCommand(CommandKind::SaveToCollection, 0, text); });
}

void Ui::dropFiles(std::vector<std::string> files) {
    // While a command runs the drop waits for it, as a file dropped is not given again.
    const LinkState link = linkState.load();
    if (files.empty() || (link != LinkState::Connected && link != LinkState::Busy)) return;
    // A user IR slot's row: from its choice dot to its browse icon, at the height of its select icon.
    const DipPoint p = pointerToDip(pointer());
    int32_t slot = -1;
    for (int k = 0; k < kUserIrSlotCount; ++k) {
        const DipRect& select = layout_[ControlId::SlotSelect1 + k].control.rect;
        const DipRect& browse = layout_[ControlId::SlotBrowse1 + k].control.rect;
        const DipRect& dot =
            layout_[(k < 3 ? ControlId::RhythmIrChoice0 : ControlId::LeadIrChoice0) + k % 3].control.rect;
        const int32_t left = std::min(dot.x, select.x), right = browse.x + browse.width;
        if (layout_[ControlId::SlotSelect1 + k].shown && p.x >= left && p.x <= right && p.y >= select.y &&
            p.y <= select.y + select.height)
            slot = k;
    }
    setDroppedFiles(std::move(files));
    postCommand(Command{CommandKind::DropFiles, slot});
}

void Ui::focusControl(ControlId control) {
    if (toInt(control) < 0 || toInt(control) >= kControlIdCount) return;
    if (focus_ == control) return;
    focus_ = control;
    platform_.repaint();
}

}  // namespace halvard
