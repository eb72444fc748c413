#include "model/device_mirror.hpp"

#include <algorithm>
#include <utility>

namespace halvard {

void SlotName::assign(std::string_view text) {
    const size_t n = std::min(text.size(), static_cast<size_t>(kSlotNameMaxBytes));
    std::copy_n(text.begin(), n, bytes.begin());
    bytes[n] = '\0';
}

ProgramSettings DeviceMirror::record(int p) const {
    if (p < 0 || p >= kProgramCount) return {};
    std::lock_guard lock(recordsMutex_);
    return programs_[static_cast<size_t>(p)];
}

void DeviceMirror::setRecord(int p, const ProgramSettings& settings) {
    editRecord(p, [&](ProgramSettings& r) { r = settings; });
}

SlotName DeviceMirror::slotName(int slot) const {
    if (slot < 0 || slot >= kUserIrSlotCount) return {};
    std::lock_guard lock(recordsMutex_);
    return userIrSlotNames_[static_cast<size_t>(slot)];
}

void DeviceMirror::setSlotName(int slot, const SlotName& name) {
    if (slot < 0 || slot >= kUserIrSlotCount) return;
    std::lock_guard lock(recordsMutex_);
    userIrSlotNames_[static_cast<size_t>(slot)] = name;
}

StatusLine DeviceMirror::statusLine() const {
    std::lock_guard lock(recordsMutex_);
    return status_;
}

void DeviceMirror::setStatusLine(std::string_view text) {
    std::lock_guard lock(recordsMutex_);
    status_.assign(text);
}

ProgramNameLine DeviceMirror::programName() const {
    std::lock_guard lock(recordsMutex_);
    return programName_;
}

void DeviceMirror::setProgramName(const ProgramNameLine& line) {
    std::lock_guard lock(recordsMutex_);
    programName_ = line;
}

ProgramNameTable DeviceMirror::programNames() const {
    std::lock_guard lock(recordsMutex_);
    return programNames_;
}

void DeviceMirror::setProgramNames(const ProgramNameTable& table) {
    std::lock_guard lock(recordsMutex_);
    programNames_ = table;
}

ComparisonLabel DeviceMirror::comparedWith() const {
    std::lock_guard lock(recordsMutex_);
    return comparedWith_;
}

void DeviceMirror::setComparedWith(std::string_view label) {
    std::lock_guard lock(recordsMutex_);
    comparedWith_.assign(label);
}

std::vector<CollectionRow> DeviceMirror::collectionRows() const {
    std::lock_guard lock(recordsMutex_);
    return collectionRows_;
}

void DeviceMirror::setCollectionRows(std::vector<CollectionRow> rows) {
    {
        std::lock_guard lock(recordsMutex_);
        collectionRows_ = std::move(rows);
    }
    collectionVersion.fetch_add(1);
}

std::string DeviceMirror::collectionText() const {
    std::lock_guard lock(recordsMutex_);
    return collectionText_;
}

void DeviceMirror::setCollectionText(std::string_view text) {
    std::lock_guard lock(recordsMutex_);
    collectionText_.assign(text);
}

std::vector<std::string> DeviceMirror::takeDroppedFiles() {
    std::lock_guard lock(recordsMutex_);
    return std::exchange(droppedFiles_, {});
}

void DeviceMirror::setDroppedFiles(std::vector<std::string> files) {
    std::lock_guard lock(recordsMutex_);
    droppedFiles_ = std::move(files);
}

LoadedEdit DeviceMirror::loadedEdit() const {
    std::lock_guard lock(recordsMutex_);
    return loadedEdit_;
}

void DeviceMirror::setLoadedEdit(const LoadedEdit& edit) {
    std::lock_guard lock(recordsMutex_);
    loadedEdit_ = edit;
}

ProgramNameText DeviceMirror::renameText() const {
    std::lock_guard lock(recordsMutex_);
    return renameText_;
}

void DeviceMirror::setRenameText(std::string_view text) {
    std::lock_guard lock(recordsMutex_);
    renameText_.assign(text);
}

KeptBackupList DeviceMirror::keptBackups() const {
    std::lock_guard lock(recordsMutex_);
    return keptBackups_;
}

void DeviceMirror::setKeptBackups(const KeptBackupList& list) {
    std::lock_guard lock(recordsMutex_);
    keptBackups_ = list;
}

MirrorView DeviceMirror::view() const {
    MirrorView v;
    v.linkState = linkState.load();
    v.progress = progress.load();
    v.firmwareVersion = firmwareVersion.load();
    v.availableFirmware = availableFirmware.load();
    v.program = program.load();
    v.midiChannel = midiChannel.load();
    v.bypassLock = bypassLock.load();
    v.mono = mono.load();
    v.irSlot = irSlot.load();
    v.reverbTails = reverbTails.load();
    v.irPanelSlot = irPanelSlot.load();
    v.ccListOpen = ccListOpen.load();
    v.factoryListOpen = factoryListOpen.load();
    v.factoryIrIndex = factoryIrIndex.load();
    v.auditionOn = auditionOn.load();
    v.portsSeen = portsSeen.load();
    v.portInUse = portInUse.load();
    v.libraryState = libraryState.load();
    v.programsOpen = programsOpen.load();
    v.collectionOpen = collectionOpen.load();
    v.programsTop = programsTop.load();
    std::lock_guard lock(recordsMutex_);
    if (v.program >= 0 && v.program < kProgramCount) v.current = programs_[static_cast<size_t>(v.program)];
    v.userIrSlotNames = userIrSlotNames_;
    v.status = status_;
    v.programName = programName_;
    if (v.programsOpen) {
        v.programNames = programNames_;
        v.programs = programs_;
        v.comparedWith = comparedWith_;
    }
    return v;
}

void DeviceMirror::resetDeviceMirror() {
    {
        std::lock_guard lock(recordsMutex_);
        programs_.fill(ProgramSettings{});
        userIrSlotNames_.fill(SlotName{});
        programName_ = {};
        comparedWith_ = {};
    }
    firmwareVersion = 0;
    availableFirmware = 0;
    midiChannel = 0;
    bypassLock = 0;
    mono = 0;
    program = 0;
    progress = kProgressNone;
    irPanelSlot = 0;
    ccListOpen = false;
    factoryListOpen = false;
    factoryIrIndex = 0;
    programsOpen = false;
    collectionOpen = false;
    outsideChanges.fetch_add(1);
}

}  // namespace halvard
