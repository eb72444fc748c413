#pragma once
// The user's edits, for undo and redo: each a change of the values one press made, kept with the
// program it was made on. Undoing writes back only the fields the edit changed, so an edit of a
// global made on one program does not take back a later one made on another.
//
// Threads: used on the user-interface thread only (the pointer handling owns one).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/device_mirror.hpp"

namespace halvard {

// The values a user edits, one number per field: the program's record (its 16 fields, `loaded`
// aside) and the five globals.
struct SettingsSnapshot {
    static constexpr size_t kFields = 21;
    std::array<int32_t, kFields> values{};
    bool operator==(const SettingsSnapshot&) const = default;
};

SettingsSnapshot captureSettings(const DeviceMirror& mirror, int program);
// The same with another record than the program's (the globals the mirror's).
SettingsSnapshot captureSettings(const DeviceMirror& mirror, const ProgramSettings& record);
// Writes the fields in which `from` and `to` differ, with their values in `to`; the others keep
// what the mirror holds now.
void applySettingsChange(DeviceMirror& mirror, int program, const SettingsSnapshot& from,
                         const SettingsSnapshot& to);

class EditHistory {
public:
    static constexpr size_t kDepth = 100;  // steps kept per program; the oldest go first

    struct Step {
        SettingsSnapshot before;
        SettingsSnapshot after;
    };

    // A new edit on the program: the steps undone there can no longer be redone.
    void record(int program, const SettingsSnapshot& before, const SettingsSnapshot& after);
    // The program's latest edit, moved to its redo list; nullopt when there is none.
    std::optional<Step> undo(int program);
    // The program's latest undone edit, moved back; nullopt when there is none.
    std::optional<Step> redo(int program);
    void clear();
    size_t undoDepth(int program) const;

private:
    struct Lists {
        std::vector<Step> done;  // oldest first
        std::vector<Step> undone;
    };
    Lists* listsOf(int program);

    std::array<Lists, kProgramCount> programs_;
};

}  // namespace halvard
