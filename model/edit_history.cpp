#include "model/edit_history.hpp"

namespace halvard {

namespace {

constexpr size_t kRecordFields = 16;

template <class Record, class Field>
std::array<Field*, kRecordFields> recordFields(Record& r) {
    return {&r.loopBypass, &r.channel,    &r.bypass,     &r.reverb[0], &r.reverb[1], &r.tremolo[0],
            &r.tremolo[1], &r.ir[0],      &r.ir[1],      &r.irBypass,  &r.hfComp[0], &r.hfComp[1],
            &r.filterA[0], &r.filterA[1], &r.filterB[0], &r.filterB[1]};
}

template <class Mirror, class Field>
std::array<Field*, SettingsSnapshot::kFields - kRecordFields> globalFields(Mirror& m) {
    return {&m.midiChannel, &m.bypassLock, &m.mono, &m.irSlot, &m.reverbTails};
}

}  // namespace

SettingsSnapshot captureSettings(const DeviceMirror& mirror, int program) {
    return captureSettings(mirror, mirror.record(program));
}

SettingsSnapshot captureSettings(const DeviceMirror& mirror, const ProgramSettings& record) {
    SettingsSnapshot s;
    const auto fields = recordFields<const ProgramSettings, const uint8_t>(record);
    for (size_t i = 0; i < kRecordFields; ++i) s.values[i] = *fields[i];
    const auto globals = globalFields<const DeviceMirror, const std::atomic<int32_t>>(mirror);
    for (size_t i = 0; i < globals.size(); ++i) s.values[kRecordFields + i] = globals[i]->load();
    return s;
}

void applySettingsChange(DeviceMirror& mirror, int program, const SettingsSnapshot& from,
                         const SettingsSnapshot& to) {
    mirror.editRecord(program, [&](ProgramSettings& r) {
        const auto fields = recordFields<ProgramSettings, uint8_t>(r);
        for (size_t i = 0; i < kRecordFields; ++i)
            if (from.values[i] != to.values[i]) *fields[i] = static_cast<uint8_t>(to.values[i]);
    });
    const auto globals = globalFields<DeviceMirror, std::atomic<int32_t>>(mirror);
    for (size_t i = 0; i < globals.size(); ++i) {
        const size_t at = kRecordFields + i;
        if (from.values[at] != to.values[at]) globals[i]->store(to.values[at]);
    }
}

EditHistory::Lists* EditHistory::listsOf(int program) {
    if (program < 0 || program >= kProgramCount) return nullptr;
    return &programs_[static_cast<size_t>(program)];
}

void EditHistory::record(int program, const SettingsSnapshot& before, const SettingsSnapshot& after) {
    Lists* lists = listsOf(program);
    if (lists == nullptr) return;
    lists->undone.clear();
    lists->done.push_back({before, after});
    if (lists->done.size() > kDepth) lists->done.erase(lists->done.begin());
}

std::optional<EditHistory::Step> EditHistory::undo(int program) {
    Lists* lists = listsOf(program);
    if (lists == nullptr || lists->done.empty()) return std::nullopt;
    const Step step = lists->done.back();
    lists->done.pop_back();
    lists->undone.push_back(step);
    return step;
}

std::optional<EditHistory::Step> EditHistory::redo(int program) {
    Lists* lists = listsOf(program);
    if (lists == nullptr || lists->undone.empty()) return std::nullopt;
    const Step step = lists->undone.back();
    lists->undone.pop_back();
    lists->done.push_back(step);
    return step;
}

void EditHistory::clear() {
    for (Lists& lists : programs_) {
        lists.done.clear();
        lists.undone.clear();
    }
}

size_t EditHistory::undoDepth(int program) const {
    return program >= 0 && program < kProgramCount ? programs_[static_cast<size_t>(program)].done.size() : 0;
}

}  // namespace halvard
