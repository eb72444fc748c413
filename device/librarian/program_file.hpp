#pragma once
// One program as a file of its own, to share a sound or keep it outside the amplifier: readable
// JSON with the program's name, every setting by name, the names of the user IR slots its IR choices
// pointed at when it was saved (for information), and optionally tags and notes.
//
//   {
//     "format": "halvard-program",
//     "version": 1,
//     "name": "Clean Crunch",
//     "settings": {"channel": 0, "bypass": 0, "loopBypass": 0, "reverbRhythm": 1, ...},
//     "irSlotNames": {"rhythm": "CLEAN 4X12", "lead": "V30 SM57"},
//     "tags": ["clean", "live"],
//     "notes": "Neck pickup, volume on 7."
//   }
//
// kSettingFields lists the 16 settings with their ranges. Reading checks every value and refuses
// the file (with one line naming the field) for another format, a version other than 1, a missing,
// mistyped or out-of-range setting, or a name, tag or notes the program library would refuse;
// fields it does not know are ignored, so that a later version may add some. A file written and read
// again gives the same record (the 10 bytes the program library keeps) and the same name.
//
// Also read as one program: a .syx holding one settings write (with or without the preset store
// after it), and one program picked out of a backup .syx of the librarian (program_backup.hpp).
//
// Pure functions but for the file reads and writes; any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/protocol/program_records.hpp"
#include "model/program_settings.hpp"
#include "program_library/program_library.hpp"

namespace halvard {

inline constexpr std::string_view kPortableProgramFormat = "halvard-program";
inline constexpr int kPortableProgramVersion = 1;
inline constexpr std::string_view kPortableProgramExtension = ".halvard-program";
// Larger files are refused unread (a program file is well under 2 KiB).
inline constexpr size_t kPortableProgramMaxBytes = 64 * 1024;

// One setting of a program: its name in the file (and in halvard-cli's output), its range, and
// where it lives in ProgramSettings.
struct SettingField {
    const char* name;
    int min;
    int max;
    uint8_t& (*of)(ProgramSettings&);
    uint8_t get(const ProgramSettings& s) const { return of(const_cast<ProgramSettings&>(s)); }
};
extern const std::array<SettingField, 16> kSettingFields;

// Empty when every setting of record is in its range and it holds no bits that no setting uses;
// else the reason, naming the first field that is not ("reverbLead is 2, not 0..1").
std::string checkRecord(const ProgramRecord& record);
// The settings a record holds, as they are (no defaults put in place of out-of-range values).
ProgramSettings settingsAsRecorded(const ProgramRecord& record);

// One program that has left the amplifier.
struct PortableProgram {
    std::string name;                        // UTF-8, as checkProgramName accepts; empty: none
    ProgramRecord record{};                  // as checkRecord accepts
    std::array<std::string, 2> irSlotNames;  // UTF-8: the rhythm and lead channel's slot; empty: unknown
    std::vector<std::string> tags;           // each as checkTag accepts
    std::string notes;                       // as checkNotes accepts
};

// The names of the slots a record's IR choices point at (rhythm: slot ir[0]; lead: slot 3 + ir[1])
// among the amplifier's six, in UTF-8; empty where the choice is out of range.
std::array<std::string, 2> irSlotNamesOf(const ProgramRecord& record,
                                         const std::array<SlotName, kUserIrSlotCount>& slots);

// The file's text. False with the reason when the program holds a value the reader would refuse
// (no file is written that cannot be read back).
bool portableProgramText(const PortableProgram& program, std::string& text, std::string& error);

enum class PortableProgramKind {
    Json,           // a program file
    SettingsWrite,  // a .syx of one settings write
    Backup,         // a .syx of the librarian: several programs, one of them picked
};

struct PortableProgramRead {
    std::optional<PortableProgram> program;  // absent: refused, and error says why
    std::string error;                       // one line, naming the field
    PortableProgramKind kind = PortableProgramKind::Json;
    int sourceProgram = -1;  // the program number a .syx wrote or stored it to; -1 for a program file
};

// The program in a file's bytes: a program file, or a .syx (bytes that begin with F0). pick names the
// program to take from a .syx that stores several; it is refused without one.
PortableProgramRead readPortableProgram(std::span<const uint8_t> bytes,
                                        std::optional<int> pick = std::nullopt);
// The same from a file on disk (at most kPortableProgramMaxBytes).
PortableProgramRead readPortableProgram(const std::filesystem::path& path,
                                        std::optional<int> pick = std::nullopt);
// Writes the program file (replacing path only once it is complete). False with the reason.
bool writePortableProgram(const std::filesystem::path& path, const PortableProgram& program,
                          std::string& error);

// ---- the collection ---------------------------------------------------------------------------

// The program file of a collection entry (its name, tags, notes, record and slot names).
PortableProgram portableProgramOf(const CollectionEntry& entry);

// The collection entry of a program read from file: its name (the file's name without its extension,
// cut to 24 characters, when the program has none), tags, notes, record and slot names, with the
// file (and the program a .syx held) as its source.
CollectionEntry collectionEntryOf(const PortableProgram& program, const std::filesystem::path& file,
                                  int sourceProgram = -1);

// Reads each file (picking program pick out of a .syx that stores several) and adds those it can
// read to the collection in one transaction. The ids added, in the order of the files; each file
// refused, with its reason ("name.syx: the .syx holds 128 programs: pick one"). Nothing is added when
// the library fails (error says why; the result's ids are then empty).
struct CollectionImport {
    std::vector<int64_t> ids;
    std::vector<std::string> refused;
};
CollectionImport importProgramFiles(ProgramLibrary& library, const std::vector<std::filesystem::path>& files,
                                    std::optional<int> pick, std::string& error);

}  // namespace halvard
