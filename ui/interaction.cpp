#include "ui/interaction.hpp"

#include <chrono>
#include <memory>
#include <thread>

#include "ir/factory_ir_image.hpp"

namespace halvard {
namespace {

constexpr int32_t kProgramMax = kProgramCount - 1;
constexpr int32_t kFactoryIndexMax = kFactoryIrCount - 1;
// Long enough for the device worker to take a posted command: four rounds of its 5 ms loop.
constexpr auto kPostPause = std::chrono::milliseconds(20);

uint8_t toggled(uint8_t v) {
    return v == 0 ? 1 : 0;
}
void toggle(std::atomic<int32_t>& v) {
    v.store(v.load() == 0 ? 1 : 0);
}
void toggle(std::atomic<bool>& v) {
    v.store(!v.load());
}

// Three-position filter switches: 1 -> 2 -> 3 -> 1; anything else starts over at 1. Backwards
// (direction < 0): 3 -> 2 -> 1 -> 3; anything else starts over at 3.
uint8_t cycled(uint8_t v, int direction) {
    if (direction < 0) return (v == 2 || v == 3) ? static_cast<uint8_t>(v - 1) : uint8_t{3};
    return (v == 1 || v == 2) ? static_cast<uint8_t>(v + 1) : uint8_t{1};
}

// Down from 0 wraps to max; a value above max (a corrupt report) also comes back to max.
int32_t stepDown(int32_t v, int32_t max) {
    return (v <= 0 || v > max) ? max : v - 1;
}
// Up from max or more wraps to 0.
int32_t stepUp(int32_t v, int32_t max) {
    return (v >= max || v < 0) ? 0 : v + 1;
}

// The entry of reverb[] / tremolo[] for the program's channel: any channel but rhythm (0) acts on
// the lead entry, so a corrupt channel value never reaches outside the record.
size_t effectChannel(const ProgramSettings& r) {
    return r.channel == 0 ? 0 : 1;
}

bool inRange(ControlId c, ControlId first, ControlId last) {
    return toInt(c) >= toInt(first) && toInt(c) <= toInt(last);
}

bool isFilter(ControlId c) {
    return inRange(c, ControlId::RhythmLowpass, ControlId::RhythmHighpass) ||
           inRange(c, ControlId::LeadLowpass, ControlId::LeadHighpass);
}

}  // namespace

void pauseAfterPostOnThisThread() {
    using Clock = std::chrono::steady_clock;
    const auto now = Clock::now();
    const auto until =
        (Clock::time_point::max() - now > kPostPause) ? now + kPostPause : Clock::time_point::max();
    std::this_thread::sleep_until(until);
}

DipPoint pointerToDip(const PointerInput& in) {
    const float s = in.dpi / 96.0f;
    return DipPoint{static_cast<int32_t>(static_cast<float>(in.pointerX) / s),
                    static_cast<int32_t>(static_cast<float>(in.pointerY) / s)};
}

// While the IR panel is open, the main area's controls right of the left column are dead; the
// left column and the panel's own controls stay live.
bool InputHandler::excludedByPanel(const HitRegion& r) const {
    return coveredByIrPanel(r.control, r.x, mirror_.irPanelSlot.load());
}

// The IR panel's controls keep their regions after the panel closes; they answer only while the
// panel is open, and the factory rows only while its list is open too.
bool InputHandler::inert(ControlId c) const {
    return inertInPanelState(c, mirror_.irPanelSlot.load(), mirror_.factoryListOpen.load(),
                             mirror_.programsOpen.load());
}

bool InputHandler::answers(ControlId c, const DipRect& hit) const {
    return mirror_.linkState.load() == LinkState::Connected &&
           !coveredByIrPanel(c, hit.x, mirror_.irPanelSlot.load()) && !inert(c);
}

void InputHandler::pointerMove(const PointerInput& in) {
    if (mirror_.linkState.load() != LinkState::Connected) return;
    const DipPoint p = pointerToDip(in);
    bool changed = false;
    for (HitRegion& r : regions_.regions()) {
        if (r.kind != RegionKind::PointerMove || excludedByPanel(r)) continue;
        const bool inside = !inert(r.control) && contains(r, p.x, p.y);
        if (inside != r.hovered) {
            r.hovered = inside;
            changed = true;
        }
    }
    if (changed) {
        host_.requestRepaint();
        host_.showArrowCursor();
    }
}

void InputHandler::leftButtonDown(const PointerInput& in) {
    if (mirror_.linkState.load() != LinkState::Connected) return;
    const DipPoint p = pointerToDip(in);
    // Of the overlay's rows only the one shown under the pointer acts: not a row below the list's
    // last (the window was taller when it was laid out), nor a second row sharing an edge. A press
    // outside them closes the overlay and does nothing else.
    const std::optional<ControlId> row = programRowAt(p);
    if (mirror_.programsOpen.load() && !row && !onOverlayTab(p)) {
        mirror_.programsOpen.store(false);
        host_.requestRepaint();
        return;
    }
    Press press = startPress();
    // Every region under the pointer acts, in list order. An action may change the panel state and
    // so the gates of the regions after it; each region is judged as the visit reaches it.
    for (const HitRegion& r : regions_.regions()) {
        if (r.kind != RegionKind::LeftButtonDown || excludedByPanel(r)) continue;
        if (!contains(r, p.x, p.y)) continue;
        if (isProgramRow(r.control) && r.control != row) continue;
        if (toInt(r.control) < 0 || toInt(r.control) >= kControlIdCount) continue;
        act(r.control, press);
    }
    finishPress(press, p);
}

bool InputHandler::activate(ControlId control, const DipRect& hit) {
    if (!actsOnPress(control) || !answers(control, hit)) return false;
    Press press = startPress();
    act(control, press);
    finishPress(press, {hit.x + hit.width / 2, hit.y + hit.height / 2});
    return true;
}

bool InputHandler::stepFilter(ControlId control, int delta, const DipRect& hit) {
    if (!isFilter(control) || delta == 0 || !answers(control, hit)) return false;
    Press press = startPress();
    act(control, press, delta);
    finishPress(press, {hit.x + hit.width / 2, hit.y + hit.height / 2});
    return true;
}

void InputHandler::finishPress(Press& press, DipPoint p) {
    if (mirror_.irPanelSlot.load() > 0) {
        if (mirror_.factoryListOpen.load() && press.keepList) {
            // Any press while the list is open closes it, a row press after selecting its row.
            mirror_.factoryListOpen.store(false);
            press.redraw = true;
        } else if (!press.redraw && (p.x - kLeftColumnWidth < 0 || p.x - kLeftColumnWidth > kIrPanelWidth)) {
            // A press left or right of the panel's column that changed nothing closes the panel.
            mirror_.irPanelSlot.store(0);
            press.redraw = true;
        }
    }
    if (press.settings) {
        keepEdit(press);
        postSettingsCommand();
    }
    if (press.redraw) host_.requestRepaint();
}

InputHandler::Press InputHandler::startPress() const {
    Press press;
    press.program = mirror_.program.load();
    press.before = captureSettings(mirror_, press.program);
    return press;
}

// A press that changed the program is no edit; nor is one on a program never read, whose read
// (the command that follows) replaces what it changed.
void InputHandler::keepEdit(const Press& press) {
    followOutsideChanges();
    const int32_t program = mirror_.program.load();
    if (program != press.program || mirror_.record(program).loaded == 0) return;
    const SettingsSnapshot after = captureSettings(mirror_, program);
    if (after != press.before) history_.record(program, press.before, after);
}

bool InputHandler::undo() {
    return applyStep(false);
}

bool InputHandler::redo() {
    return applyStep(true);
}

bool InputHandler::applyStep(bool forward) {
    if (mirror_.linkState.load() != LinkState::Connected) return false;
    followOutsideChanges();
    const int32_t program = mirror_.program.load();
    const std::optional<EditHistory::Step> step = forward ? history_.redo(program) : history_.undo(program);
    if (!step) return false;
    if (forward) {
        applySettingsChange(mirror_, program, step->before, step->after);
    } else {
        applySettingsChange(mirror_, program, step->after, step->before);
    }
    postSettingsCommand();
    host_.requestRepaint();
    return true;
}

void InputHandler::followOutsideChanges() {
    const uint32_t seen = mirror_.outsideChanges.load();
    if (seen != seenOutsideChanges_) {
        seenOutsideChanges_ = seen;
        history_.clear();
    }
    const LoadedEdit loaded = mirror_.loadedEdit();
    if (loaded.serial == seenLoadedEdit_) return;
    seenLoadedEdit_ = loaded.serial;
    const SettingsSnapshot before = captureSettings(mirror_, loaded.before);
    const SettingsSnapshot after = captureSettings(mirror_, loaded.after);
    if (before != after) history_.record(loaded.program, before, after);
}

std::optional<ControlId> InputHandler::programRowAt(const PointerInput& in) const {
    return programRowAt(pointerToDip(in));
}

std::optional<ControlId> InputHandler::programRowAt(DipPoint p) const {
    if (!mirror_.programsOpen.load()) return std::nullopt;
    const int32_t top = clampedListTop(mirror_.programsTop.load(), programRows_, listLength_);
    for (const HitRegion& r : regions_.regions()) {
        const int32_t index = toInt(r.control) - toInt(ControlId::ProgramRow0);
        if (r.kind == RegionKind::LeftButtonDown && isProgramRow(r.control) && index < programRows_ &&
            top + index < listLength_ && contains(r, p.x, p.y))
            return r.control;
    }
    return std::nullopt;
}

bool InputHandler::onOverlayTab(DipPoint p) const {
    for (const HitRegion& r : regions_.regions())
        if (r.kind == RegionKind::LeftButtonDown && ofOverlay(r.control) && !isProgramRow(r.control) &&
            contains(r, p.x, p.y))
            return true;
    return false;
}

void InputHandler::scrollPrograms(int32_t rows) {
    const int32_t top = clampedListTop(mirror_.programsTop.load(), programRows_, listLength_);
    mirror_.programsTop.store(clampedListTop(top + rows, programRows_, listLength_));
    host_.requestRepaint();
}

void InputHandler::wheel(const PointerInput& in, int32_t& wheelNotches) {
    if (mirror_.linkState.load() != LinkState::Connected) return;
    // Anywhere on the panel while the PROGRAMS overlay is open: three rows a notch, forward up.
    if (mirror_.programsOpen.load()) {
        const int32_t notches = wheelNotches;
        wheelNotches = 0;
        scrollPrograms(-3 * notches);
        return;
    }
    if (mirror_.irPanelSlot.load() > 0) return;
    const DipPoint p = pointerToDip(in);
    bool over = false;
    for (const HitRegion& r : regions_.regions()) {
        if (r.kind == RegionKind::Wheel && contains(r, p.x, p.y)) {
            over = true;
            break;
        }
    }
    // Outside the program box the notches stay, and the next turn over the box takes them all.
    if (!over) return;
    const int32_t notches = wheelNotches;
    wheelNotches = 0;
    // One program per event whatever the sum (the platform raises the event for whole notches).
    if (notches == 0) return;
    const int32_t program = mirror_.program.load();
    mirror_.program.store(notches < 0 ? stepDown(program, kProgramMax) : stepUp(program, kProgramMax));
    postSettingsCommand();
    host_.requestRepaint();
}

ContextMenu contextMenuFor(const KeptBackupList& kept) {
    ContextMenu menu;
    const auto add = [&](MenuEntry entry, Command command) {
        menu.entries.push_back(entry);
        menu.commands.push_back(command);
    };
    add({"Back Up All Programs\u2026"}, {CommandKind::BackupPrograms});
    add({"Restore Programs\u2026"}, {CommandKind::RestorePrograms});
    add({"Restore Kept Backup", 0, kept[0].id != 0}, {});
    for (const KeptBackupEntry& k : kept)
        if (k.id != 0) add({k.label.view(), 1}, {CommandKind::RestoreKeptBackup, k.id});
    menu.openBackupsFolder = menu.entries.size();
    add({"Open Backups Folder"}, {});
    add({""}, {});
    menu.saveToCollection = menu.entries.size();
    add({"Save Program to Collection\u2026"}, {});
    add({"Import Files\u2026"}, {CommandKind::ImportFiles});
    return menu;
}

ContextMenu programRowMenuFor(const KeptBackupList& kept, bool comparing) {
    ContextMenu menu;
    const auto add = [&](MenuEntry entry, Command command) {
        menu.entries.push_back(entry);
        menu.commands.push_back(command);
    };
    add({"Name\u2026"}, {});
    add({"Copy To\u2026"}, {});
    add({"Swap With\u2026"}, {});
    add({""}, {});
    add({"Compare With File\u2026"}, {CommandKind::CompareWithFile});
    add({"Compare With Kept Backup", 0, kept[0].id != 0}, {});
    for (const KeptBackupEntry& k : kept)
        if (k.id != 0) add({k.label.view(), 1}, {CommandKind::CompareWithKeptBackup, k.id});
    add({"Clear Comparison", 0, comparing}, {CommandKind::ClearComparison});
    menu.openBackupsFolder = menu.entries.size();  // none
    return menu;
}

void InputHandler::rightButtonDown() {
    if (mirror_.linkState.load() != LinkState::Connected) return;
    // The labels live in kept until the menu has them; the choice may come after this returns.
    const KeptBackupList kept = mirror_.keptBackups();
    auto menu = std::make_shared<const ContextMenu>(contextMenuFor(kept));
    host_.showContextMenu(menu->entries, [this, menu](int entry) { contextMenuChosen(*menu, entry); });
}

void InputHandler::contextMenuChosen(const ContextMenu& menu, int entry) {
    if (entry < 0 || static_cast<size_t>(entry) >= menu.entries.size()) return;
    if (static_cast<size_t>(entry) == menu.openBackupsFolder) {
        host_.openBackupsFolder();
        return;
    }
    if (static_cast<size_t>(entry) == menu.saveToCollection) {
        host_.saveProgramToCollection();
        return;
    }
    // The link may have gone busy or away while the menu was open.
    const Command command = menu.commands[static_cast<size_t>(entry)];
    if (mirror_.linkState.load() != LinkState::Connected || command.kind == CommandKind::None) return;
    postCommand(command);
    host_.requestRepaint();
}

void InputHandler::postCommand(Command command) {
    // A post replaces a command the worker has not taken yet: one still pending (the settings of an
    // edit made just before a store, say) is first given the pause to be taken.
    if (mirror_.command.load().kind != CommandKind::None) host_.pauseAfterPost();
    mirror_.postCommand(command);
    host_.pauseAfterPost();
    regions_.clearHovered();
}

// While audition is on, every change of the factory selection stores the new entry at once.
void InputHandler::auditionStep() {
    if (!mirror_.auditionOn.load()) return;
    host_.pauseAfterPost();
    mirror_.postCommand(CommandKind::UploadFactoryIr);
    host_.pauseAfterPost();
    regions_.clearHovered();
}

// A program never read from the amplifier is read before it is written.
void InputHandler::postSettingsCommand() {
    const bool loaded = mirror_.record(mirror_.program.load()).loaded != 0;
    if (loaded) mirror_.settingsUnsent.store(true);
    mirror_.postCommand(loaded ? CommandKind::SendSettings : CommandKind::ReadSettings);
}

void InputHandler::act(ControlId c, Press& press, int direction) {
    if (inert(c)) return;
    // Edits of the current program's record; every one of them is a settings change.
    const auto editCurrent = [&](auto&& edit) {
        mirror_.editRecord(mirror_.program.load(), edit);
        press.redraw = true;
        press.settings = true;
    };
    const auto settingsChanged = [&] {
        press.redraw = true;
        press.settings = true;
    };

    if (inRange(c, ControlId::RhythmIrChoice0, ControlId::RhythmIrChoice2)) {
        const auto choice = static_cast<uint8_t>(toInt(c) - toInt(ControlId::RhythmIrChoice0));
        editCurrent([choice](ProgramSettings& r) { r.ir[0] = choice; });
        return;
    }
    if (inRange(c, ControlId::LeadIrChoice0, ControlId::LeadIrChoice2)) {
        const auto choice = static_cast<uint8_t>(toInt(c) - toInt(ControlId::LeadIrChoice0));
        editCurrent([choice](ProgramSettings& r) { r.ir[1] = choice; });
        return;
    }
    if (inRange(c, ControlId::SlotSelect1, ControlId::SlotSelect6)) {
        mirror_.irSlot.store(toInt(c) - toInt(ControlId::SlotSelect1));
        settingsChanged();
        return;
    }
    if (inRange(c, ControlId::SlotImport1, ControlId::SlotImport6)) {
        postCommand(importIrCommand(toInt(c) - toInt(ControlId::SlotImport1)));
        return;
    }
    if (inRange(c, ControlId::FactoryRow0, ControlId::FactoryRow14)) {
        mirror_.factoryIrIndex.store(toInt(c) - toInt(ControlId::FactoryRow0));
        press.redraw = true;
        auditionStep();
        return;
    }
    if (c == ControlId::ProgramsTab || c == ControlId::CollectionTab) {
        const bool collection = c == ControlId::CollectionTab;
        if (mirror_.collectionOpen.exchange(collection) == collection) return;
        // The programs open with the current one in the middle of the rows, the collection at its top.
        mirror_.programsTop.store(
            collection ? 0 : clampedProgramsTop(mirror_.program.load() - programRows_ / 2, programRows_));
        press.redraw = true;
        return;
    }
    if (isProgramRow(c) && mirror_.collectionOpen.load()) {
        host_.collectionRowPressed(c);
        press.redraw = true;
        return;
    }
    if (isProgramRow(c)) {
        // Selects the row's program as the arrows do (the current one's row changes nothing); the
        // overlay stays open.
        const int32_t top = clampedProgramsTop(mirror_.programsTop.load(), programRows_);
        const int32_t chosen = std::min(top + toInt(c) - toInt(ControlId::ProgramRow0), kProgramMax);
        if (chosen == mirror_.program.load()) return;
        mirror_.program.store(chosen);
        settingsChanged();
        return;
    }
    if (c == ControlId::ProgramsOpener) {
        // Opens with the current program in the middle of its rows.
        mirror_.collectionOpen.store(false);
        mirror_.programsTop.store(
            clampedProgramsTop(mirror_.program.load() - programRows_ / 2, programRows_));
        mirror_.programsOpen.store(true);
        press.redraw = true;
        return;
    }
    if (inRange(c, ControlId::SlotBrowse1, ControlId::SlotBrowse6)) {
        const int32_t n = toInt(c) - toInt(ControlId::SlotBrowse1) + 1;
        mirror_.irPanelSlot.store(mirror_.irPanelSlot.load() == n ? 0 : n);
        press.redraw = true;
        return;
    }

    switch (c) {
        case ControlId::StorePresetButton:
            postCommand({CommandKind::StorePreset});
            return;
        case ControlId::MidiChannelDown:
            mirror_.midiChannel.store(stepDown(mirror_.midiChannel.load(), kMidiChannelMax));
            settingsChanged();
            return;
        case ControlId::MidiChannelUp:
            mirror_.midiChannel.store(stepUp(mirror_.midiChannel.load(), kMidiChannelMax));
            settingsChanged();
            return;
        case ControlId::ProgramDown:
            mirror_.program.store(stepDown(mirror_.program.load(), kProgramMax));
            settingsChanged();
            return;
        case ControlId::ProgramUp:
            mirror_.program.store(stepUp(mirror_.program.load(), kProgramMax));
            settingsChanged();
            return;
        case ControlId::BypassSwitch: {
            // While BYPASS LOCK is on the press can only clear bypass; the settings still go out.
            const bool locked = mirror_.bypassLock.load() != 0;
            editCurrent([locked](ProgramSettings& r) { r.bypass = locked ? 0 : toggled(r.bypass); });
            return;
        }
        case ControlId::ChannelSwitch:
            editCurrent([](ProgramSettings& r) { r.channel = r.channel == 0 ? 1 : 0; });
            return;
        case ControlId::ReverbSwitch:
            editCurrent([](ProgramSettings& r) {
                const size_t ch = effectChannel(r);
                r.reverb[ch] = toggled(r.reverb[ch]);
            });
            return;
        case ControlId::TremoloSwitch:
            editCurrent([](ProgramSettings& r) {
                const size_t ch = effectChannel(r);
                r.tremolo[ch] = toggled(r.tremolo[ch]);
            });
            return;
        case ControlId::IrBypassSwitch:
            editCurrent([](ProgramSettings& r) { r.irBypass = toggled(r.irBypass); });
            return;
        case ControlId::LoopBypassSwitch:
            editCurrent([](ProgramSettings& r) { r.loopBypass = toggled(r.loopBypass); });
            return;
        case ControlId::MonoButton:
            toggle(mirror_.mono);
            settingsChanged();
            return;
        case ControlId::BypassLockButton:
            toggle(mirror_.bypassLock);
            // The lock holds the program's bypass off, as every frame does (applyBypassLock); done
            // here as well, so that the settings sent, the edit kept and its undo cover both.
            if (mirror_.bypassLock.load() != 0)
                mirror_.editRecord(mirror_.program.load(), [](ProgramSettings& r) { r.bypass = 0; });
            settingsChanged();
            return;
        case ControlId::ReverbTailsButton:
            toggle(mirror_.reverbTails);
            settingsChanged();
            return;
        case ControlId::RhythmHfComp:
            editCurrent([](ProgramSettings& r) { r.hfComp[0] = toggled(r.hfComp[0]); });
            return;
        case ControlId::LeadHfComp:
            editCurrent([](ProgramSettings& r) { r.hfComp[1] = toggled(r.hfComp[1]); });
            return;
        case ControlId::RhythmLowpass:
            editCurrent([direction](ProgramSettings& r) { r.filterA[0] = cycled(r.filterA[0], direction); });
            return;
        case ControlId::LeadLowpass:
            editCurrent([direction](ProgramSettings& r) { r.filterA[1] = cycled(r.filterA[1], direction); });
            return;
        case ControlId::RhythmHighpass:
            editCurrent([direction](ProgramSettings& r) { r.filterB[0] = cycled(r.filterB[0], direction); });
            return;
        case ControlId::LeadHighpass:
            editCurrent([direction](ProgramSettings& r) { r.filterB[1] = cycled(r.filterB[1], direction); });
            return;
        case ControlId::FactoryPrev:
            mirror_.factoryIrIndex.store(stepDown(mirror_.factoryIrIndex.load(), kFactoryIndexMax));
            press.redraw = true;
            auditionStep();
            return;
        case ControlId::FactoryNext:
            mirror_.factoryIrIndex.store(stepUp(mirror_.factoryIrIndex.load(), kFactoryIndexMax));
            press.redraw = true;
            auditionStep();
            return;
        case ControlId::ExtractAllButton:
            postCommand({CommandKind::ExtractAll});
            return;
        case ControlId::SelectButton:
            postCommand({CommandKind::UploadFactoryIr});
            return;
        case ControlId::FactoryTitle: {
            const bool opens = !mirror_.factoryListOpen.load();
            mirror_.factoryListOpen.store(opens);
            press.redraw = true;
            if (opens) press.keepList = false;  // the press that opens the list leaves it open
            return;
        }
        case ControlId::AuditionSwitch:
            toggle(mirror_.auditionOn);
            press.redraw = true;
            return;
        case ControlId::CcListToggle:
            toggle(mirror_.ccListOpen);
            press.redraw = true;
            return;
        default:
            return;  // the program box answers the wheel only
    }
}

}  // namespace halvard
