#include "device/librarian/program_file.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

#include "device/librarian/program_backup.hpp"
#include "program_library/program_library.hpp"
#include "util/files.hpp"
#include "util/utf8.hpp"

// Sections: settings and records, writing, reading JSON, reading .syx, files.

namespace halvard {

// ---- settings and records ---------------------------------------------------------------------

const std::array<SettingField, 16> kSettingFields = {{
    {"channel", 0, 1, [](ProgramSettings& s) -> uint8_t& { return s.channel; }},
    {"bypass", 0, 1, [](ProgramSettings& s) -> uint8_t& { return s.bypass; }},
    {"loopBypass", 0, 1, [](ProgramSettings& s) -> uint8_t& { return s.loopBypass; }},
    {"reverbRhythm", 0, 1, [](ProgramSettings& s) -> uint8_t& { return s.reverb[0]; }},
    {"reverbLead", 0, 1, [](ProgramSettings& s) -> uint8_t& { return s.reverb[1]; }},
    {"tremoloRhythm", 0, 1, [](ProgramSettings& s) -> uint8_t& { return s.tremolo[0]; }},
    {"tremoloLead", 0, 1, [](ProgramSettings& s) -> uint8_t& { return s.tremolo[1]; }},
    {"irRhythm", 0, 2, [](ProgramSettings& s) -> uint8_t& { return s.ir[0]; }},
    {"irLead", 0, 2, [](ProgramSettings& s) -> uint8_t& { return s.ir[1]; }},
    {"irBypass", 0, 1, [](ProgramSettings& s) -> uint8_t& { return s.irBypass; }},
    {"hfCompRhythm", 0, 1, [](ProgramSettings& s) -> uint8_t& { return s.hfComp[0]; }},
    {"hfCompLead", 0, 1, [](ProgramSettings& s) -> uint8_t& { return s.hfComp[1]; }},
    {"lowpassRhythm", 1, 3, [](ProgramSettings& s) -> uint8_t& { return s.filterA[0]; }},
    {"lowpassLead", 1, 3, [](ProgramSettings& s) -> uint8_t& { return s.filterA[1]; }},
    {"highpassRhythm", 1, 3, [](ProgramSettings& s) -> uint8_t& { return s.filterB[0]; }},
    {"highpassLead", 1, 3, [](ProgramSettings& s) -> uint8_t& { return s.filterB[1]; }},
}};

namespace {

std::string range(const SettingField& f) {
    return std::to_string(f.min) + ".." + std::to_string(f.max);
}

}  // namespace

ProgramSettings settingsAsRecorded(const ProgramRecord& r) {
    // The fields as the settings reply carries them (program_records.hpp), without the decoder's
    // defaults for filter positions out of range: a record is checked as it is.
    ProgramSettings s;
    s.loopBypass = r[0];
    s.channel = r[1] & 0x0F;
    s.bypass = (r[1] >> 5) & 1;
    s.reverb[0] = r[2] & 0x0F;
    s.tremolo[0] = r[2] >> 4;
    s.reverb[1] = r[3] & 0x0F;
    s.tremolo[1] = r[3] >> 4;
    s.ir[0] = r[4];
    s.ir[1] = r[5];
    s.irBypass = r[6];
    s.hfComp[0] = r[7] & 0x0F;
    s.hfComp[1] = r[7] >> 4;
    s.filterA[0] = r[8] & 3;
    s.filterA[1] = (r[8] >> 4) & 3;
    s.filterB[0] = r[9] & 3;
    s.filterB[1] = (r[9] >> 4) & 3;
    return s;
}

std::string checkRecord(const ProgramRecord& record) {
    const ProgramSettings s = settingsAsRecorded(record);
    for (const SettingField& f : kSettingFields) {
        const int v = f.get(s);
        if (v < f.min || v > f.max)
            return std::string(f.name) + " is " + std::to_string(v) + ", not " + range(f);
    }
    const ProgramRecord again = recordOfSettings(s);
    for (size_t i = 0; i < record.size(); ++i)
        if (record[i] != again[i])
            return "record byte " + std::to_string(i) + " holds bits that no setting uses";
    return {};
}

std::array<std::string, 2> irSlotNamesOf(const ProgramRecord& record,
                                         const std::array<SlotName, kUserIrSlotCount>& slots) {
    const ProgramSettings s = settingsAsRecorded(record);
    std::array<std::string, 2> out;
    if (s.ir[0] < 3) out[0] = latin1ToUtf8(slots[s.ir[0]].view());
    if (s.ir[1] < 3) out[1] = latin1ToUtf8(slots[3 + s.ir[1]].view());
    return out;
}

// ---- writing ----------------------------------------------------------------------------------

namespace {

using Json = nlohmann::ordered_json;

// A slot name as the file may hold it: the amplifier's names are at most 64 characters.
std::string checkSlotName(std::string_view name) {
    return checkLibraryText(name, kSlotNameMaxBytes, "", "a slot name");
}

// Empty when the reader would take every field but the settings; else the reason.
std::string checkTexts(const PortableProgram& p) {
    if (std::string why = checkProgramName(p.name); !why.empty()) return "name: " + why;
    const char* channels[] = {"rhythm", "lead"};
    for (size_t c = 0; c < 2; ++c)
        if (std::string why = checkSlotName(p.irSlotNames[c]); !why.empty())
            return std::string("irSlotNames.") + channels[c] + ": " + why;
    for (size_t i = 0; i < p.tags.size(); ++i)
        if (std::string why = checkTag(p.tags[i]); !why.empty())
            return "tags[" + std::to_string(i) + "]: " + why;
    if (std::string why = checkNotes(p.notes); !why.empty()) return "notes: " + why;
    return {};
}

}  // namespace

bool portableProgramText(const PortableProgram& p, std::string& text, std::string& error) {
    if (std::string why = checkRecord(p.record); !why.empty()) {
        error = "settings." + why;
        return false;
    }
    if (std::string why = checkTexts(p); !why.empty()) {
        error = std::move(why);
        return false;
    }
    Json settings = Json::object();
    const ProgramSettings s = settingsAsRecorded(p.record);
    for (const SettingField& f : kSettingFields) settings[f.name] = f.get(s);
    Json out = {{"format", kPortableProgramFormat},
                {"version", kPortableProgramVersion},
                {"name", p.name},
                {"settings", settings}};
    out["irSlotNames"] = {{"rhythm", p.irSlotNames[0]}, {"lead", p.irSlotNames[1]}};
    if (!p.tags.empty()) out["tags"] = p.tags;
    if (!p.notes.empty()) out["notes"] = p.notes;
    text = out.dump(2) + "\n";
    return true;
}

// ---- reading JSON -----------------------------------------------------------------------------

namespace {

// A whole number within int64_t; none for anything else (text, a fraction, true).
std::optional<int64_t> wholeNumber(const Json& v) {
    if (v.is_number_unsigned()) {
        const uint64_t u = v.get<uint64_t>();
        return static_cast<int64_t>(std::min<uint64_t>(u, std::numeric_limits<int64_t>::max()));
    }
    if (v.is_number_integer()) return v.get<int64_t>();
    return std::nullopt;
}

// A text field: absent stays as it is (optional fields) or is refused; empty string is the reason.
std::string takeText(const Json& object, const char* key, const std::string& where, bool required,
                     std::string& out) {
    const auto it = object.find(key);
    if (it == object.end()) return required ? where + ": missing" : "";
    if (!it->is_string()) return where + ": not text";
    out = it->get<std::string>();
    return {};
}

std::string readJson(std::span<const uint8_t> bytes, PortableProgram& p) {
    Json file;
    try {
        file = Json::parse(bytes.begin(), bytes.end());
    } catch (const Json::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 1, column 2: ..." without its tag; a
        // number too large for a double is refused as out_of_range.406.
        const std::string what = e.what();
        const size_t tag = what.find("] ");
        return "not a program file: " + (tag == std::string::npos ? what : what.substr(tag + 2));
    }
    if (!file.is_object()) return "not a program file: not a JSON object";
    const auto format = file.find("format");
    if (format == file.end() || !format->is_string() || *format != kPortableProgramFormat)
        return "format: not a program file (\"format\" is not \"" + std::string(kPortableProgramFormat) +
               "\")";
    const auto version = file.find("version");
    if (version == file.end()) return "version: missing";
    const std::optional<int64_t> v = wholeNumber(*version);
    if (!v) return "version: not a whole number";
    if (*v != kPortableProgramVersion)
        return "version: " + std::to_string(*v) + " is not known (this program reads version " +
               std::to_string(kPortableProgramVersion) + ")";

    if (std::string why = takeText(file, "name", "name", true, p.name); !why.empty()) return why;
    if (std::string why = checkProgramName(p.name); !why.empty()) return "name: " + why;

    const auto settings = file.find("settings");
    if (settings == file.end()) return "settings: missing";
    if (!settings->is_object()) return "settings: not an object";
    ProgramSettings s;
    for (const SettingField& f : kSettingFields) {
        const std::string where = std::string("settings.") + f.name;
        const auto it = settings->find(f.name);
        if (it == settings->end()) return where + ": missing";
        const std::optional<int64_t> value = wholeNumber(*it);
        if (!value) return where + ": not a whole number";
        if (*value < f.min || *value > f.max)
            return where + ": " + std::to_string(*value) + " is not in " + range(f);
        f.of(s) = static_cast<uint8_t>(*value);
    }
    p.record = recordOfSettings(s);

    if (const auto names = file.find("irSlotNames"); names != file.end()) {
        if (!names->is_object()) return "irSlotNames: not an object";
        const char* channels[] = {"rhythm", "lead"};
        for (size_t c = 0; c < 2; ++c) {
            const std::string where = std::string("irSlotNames.") + channels[c];
            if (std::string why = takeText(*names, channels[c], where, false, p.irSlotNames[c]); !why.empty())
                return why;
            if (std::string why = checkSlotName(p.irSlotNames[c]); !why.empty()) return where + ": " + why;
        }
    }
    if (const auto tags = file.find("tags"); tags != file.end()) {
        if (!tags->is_array()) return "tags: not a list";
        for (size_t i = 0; i < tags->size(); ++i) {
            const std::string where = "tags[" + std::to_string(i) + "]";
            if (!(*tags)[i].is_string()) return where + ": not text";
            std::string tag = (*tags)[i].get<std::string>();
            if (std::string why = checkTag(tag); !why.empty()) return where + ": " + why;
            if (std::find(p.tags.begin(), p.tags.end(), tag) == p.tags.end())
                p.tags.push_back(std::move(tag));
        }
    }
    if (std::string why = takeText(file, "notes", "notes", false, p.notes); !why.empty()) return why;
    if (std::string why = checkNotes(p.notes); !why.empty()) return "notes: " + why;
    return {};
}

// ---- reading .syx -----------------------------------------------------------------------------

PortableProgramRead readSyx(std::span<const uint8_t> bytes, std::optional<int> pick) {
    PortableProgramRead out;
    out.kind = PortableProgramKind::SettingsWrite;
    SettingsWriteMessage write{};
    // One settings write alone: what a SysEx tool saves of one program (the backup file's rules
    // want it stored).
    const bool lone = bytes.size() == kSettingsWriteBytes && bytes[0] == kSysexStart && bytes[1] == 0x00 &&
                      bytes[2] == kCodeSettingsWrite && bytes.back() == kSysexEnd &&
                      std::all_of(bytes.begin() + 1, bytes.end() - 1, [](uint8_t b) { return b < 0x80; });
    if (lone) {
        std::copy(bytes.begin(), bytes.end(), write.begin());
    } else {
        const ParsedProgramFile parsed = parseProgramFile(bytes);
        if (parsed.error) {
            out.error = "not a program's .syx: " + parsed.error->reason + " (byte " +
                        std::to_string(parsed.error->offset) + ")";
            return out;
        }
        const std::vector<StoredProgram>& stored = parsed.file.stored;
        if (stored.size() > 1) out.kind = PortableProgramKind::Backup;
        if (stored.size() > 1 && !pick) {
            out.error = "the .syx holds " + std::to_string(stored.size()) + " programs: pick one";
            return out;
        }
        const auto it = !pick ? stored.begin()
                              : std::find_if(stored.begin(), stored.end(),
                                             [&](const auto& s) { return s.program == *pick; });
        if (it == stored.end()) {
            out.error = "program " + std::to_string(*pick) + " is not in the .syx";
            return out;
        }
        write = it->write;
    }
    out.sourceProgram = write[3];
    const ProgramRecord record = recordOfWrite(write);
    if (std::string why = checkRecord(record); !why.empty()) {
        out.error = "program " + std::to_string(write[3]) + ": " + why;
        return out;
    }
    out.program = PortableProgram{};
    out.program->record = record;
    return out;
}

}  // namespace

PortableProgramRead readPortableProgram(std::span<const uint8_t> bytes, std::optional<int> pick) {
    if (!bytes.empty() && bytes[0] == kSysexStart) return readSyx(bytes, pick);
    PortableProgramRead out;
    PortableProgram p;
    out.error = readJson(bytes, p);
    if (out.error.empty()) out.program = std::move(p);
    return out;
}

// ---- files ------------------------------------------------------------------------------------

PortableProgramRead readPortableProgram(const std::filesystem::path& path, std::optional<int> pick) {
    std::vector<uint8_t> bytes;
    PortableProgramRead out;
    if (!readWholeFile(path, kPortableProgramMaxBytes, bytes, out.error)) return out;
    return readPortableProgram(std::span<const uint8_t>(bytes), pick);
}

bool writePortableProgram(const std::filesystem::path& path, const PortableProgram& program,
                          std::string& error) {
    std::string text;
    if (!portableProgramText(program, text, error)) return false;
    return writeFileReplacing(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                              error);
}

// ---- the collection ---------------------------------------------------------------------------

namespace {

// A name made of a file's name: valid UTF-8, control characters as blanks, at most 24 characters.
std::string nameOfFile(const std::filesystem::path& file) {
    const std::u8string stem = file.stem().u8string();
    std::string name = validUtf8(std::string(stem.begin(), stem.end()));
    for (char& c : name)
        if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = ' ';
    size_t at = 0;
    for (int chars = 0; at < name.size() && chars < kProgramNameMaxChars; ++chars)
        at += std::max<size_t>(utf8CharLength(name, at), 1);
    name.resize(at);
    return checkProgramName(name).empty() && !name.empty() ? name : "Imported";
}

}  // namespace

PortableProgram portableProgramOf(const CollectionEntry& e) {
    return {e.name, e.record, e.irSlotNames, e.tags, e.notes};
}

CollectionEntry collectionEntryOf(const PortableProgram& p, const std::filesystem::path& file,
                                  int sourceProgram) {
    CollectionEntry e;
    e.name = p.name.empty() ? nameOfFile(file) : p.name;
    e.tags = p.tags;
    e.notes = p.notes;
    e.record = p.record;
    e.irSlotNames = p.irSlotNames;
    e.source = EntrySource::File;
    const std::u8string fileName = file.filename().u8string();
    e.sourceFile = validUtf8(std::string(fileName.begin(), fileName.end()));
    e.sourceProgram = sourceProgram;
    return e;
}

CollectionImport importProgramFiles(ProgramLibrary& library, const std::vector<std::filesystem::path>& files,
                                    std::optional<int> pick, std::string& error) {
    CollectionImport out;
    std::vector<CollectionEntry> entries;
    for (const std::filesystem::path& file : files) {
        const PortableProgramRead read = readPortableProgram(file, pick);
        if (!read.program) {
            const std::u8string name = file.filename().u8string();
            out.refused.push_back(validUtf8(std::string(name.begin(), name.end())) + ": " + read.error);
            continue;
        }
        entries.push_back(collectionEntryOf(*read.program, file, read.sourceProgram));
    }
    if (entries.empty()) return out;
    if (std::optional<std::vector<int64_t>> ids = library.addEntries(entries, error))
        out.ids = std::move(*ids);
    return out;
}

}  // namespace halvard
