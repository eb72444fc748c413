// The program file: written and read back to the same record and texts; every refusal, naming its
// field; the .syx files read as one program.

#include "device/librarian/program_file.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "device/librarian/program_backup.hpp"
#include "test_files.hpp"
#include "util/files.hpp"

namespace halvard {
namespace {

using Json = nlohmann::ordered_json;

ProgramSettings sampleSettings() {
    ProgramSettings s;
    s.channel = 1;
    s.reverb[0] = 1;
    s.tremolo[1] = 1;
    s.ir[0] = 2;
    s.ir[1] = 1;
    s.hfComp[1] = 1;
    s.filterA[0] = 3;
    s.filterA[1] = 2;
    s.filterB[0] = 1;
    s.filterB[1] = 3;
    return s;
}

PortableProgram sample() {
    PortableProgram p;
    p.name = "Lead \xC3\xA9t\xC3\xA9";
    p.record = recordOfSettings(sampleSettings());
    p.irSlotNames = {"CLEAN 4X12", "V30 \xC3\x84"};
    p.tags = {"lead", "live"};
    p.notes = "Neck pickup.\nVolume on 7.";
    return p;
}

std::span<const uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string textOf(const PortableProgram& p) {
    std::string text, error;
    EXPECT_TRUE(portableProgramText(p, text, error)) << error;
    return text;
}

PortableProgramRead read(const Json& file) {
    const std::string text = file.dump();
    return readPortableProgram(bytesOf(text));
}

TEST(ProgramFileTest, WrittenAndReadAgainGivesTheSameRecordAndTexts) {
    // Every value of every setting, each on the sample's others.
    for (const SettingField& f : kSettingFields) {
        for (int v = f.min; v <= f.max; ++v) {
            PortableProgram p = sample();
            ProgramSettings s = sampleSettings();
            f.of(s) = static_cast<uint8_t>(v);
            p.record = recordOfSettings(s);
            const PortableProgramRead back = readPortableProgram(bytesOf(textOf(p)));
            ASSERT_TRUE(back.program) << f.name << " " << v << ": " << back.error;
            EXPECT_EQ(back.program->record, p.record) << f.name << " " << v;
        }
    }
    const PortableProgram p = sample();
    const PortableProgramRead back = readPortableProgram(bytesOf(textOf(p)));
    ASSERT_TRUE(back.program) << back.error;
    EXPECT_EQ(back.kind, PortableProgramKind::Json);
    EXPECT_EQ(back.program->name, p.name);
    EXPECT_EQ(back.program->irSlotNames, p.irSlotNames);
    EXPECT_EQ(back.program->tags, p.tags);
    EXPECT_EQ(back.program->notes, p.notes);

    // The settings by name, for other programs to read.
    const Json file = Json::parse(textOf(p));
    EXPECT_EQ(file["format"], "halvard-program");
    EXPECT_EQ(file["version"], 1);
    EXPECT_EQ(file["settings"]["irRhythm"], 2);
    EXPECT_EQ(file["settings"]["highpassLead"], 3);
    EXPECT_EQ(file["irSlotNames"]["rhythm"], "CLEAN 4X12");
}

TEST(ProgramFileTest, AFieldALaterVersionMayAddIsIgnored) {
    Json file = Json::parse(textOf(sample()));
    file["author"] = "someone";
    file["settings"]["delay"] = 300;
    file.erase("tags");
    file.erase("irSlotNames");
    const PortableProgramRead back = read(file);
    ASSERT_TRUE(back.program) << back.error;
    EXPECT_EQ(back.program->record, sample().record);
    EXPECT_TRUE(back.program->tags.empty());
}

TEST(ProgramFileTest, EveryRefusalNamesItsField) {
    const Json good = Json::parse(textOf(sample()));
    const struct {
        const char* what;
        void (*spoil)(Json&);
        const char* reason;
    } cases[] = {
        {"another format", [](Json& f) { f["format"] = "other"; }, "format: not a program file"},
        {"a later version", [](Json& f) { f["version"] = 2; }, "version: 2 is not known"},
        {"no version", [](Json& f) { f.erase("version"); }, "version: missing"},
        {"no name", [](Json& f) { f.erase("name"); }, "name: missing"},
        {"a name too long", [](Json& f) { f["name"] = std::string(25, 'x'); }, "name: a name has at most 24"},
        {"a control character", [](Json& f) { f["name"] = "a\tb"; }, "name: a name cannot hold control"},
        {"no settings", [](Json& f) { f.erase("settings"); }, "settings: missing"},
        {"a setting missing", [](Json& f) { f["settings"].erase("tremoloLead"); },
         "settings.tremoloLead: missing"},
        {"a setting out of range", [](Json& f) { f["settings"]["lowpassLead"] = 0; },
         "settings.lowpassLead: 0 is not in 1..3"},
        {"a setting far out of range", [](Json& f) { f["settings"]["irLead"] = 1ULL << 63; },
         "settings.irLead: 9223372036854775807 is not in 0..2"},
        {"a fraction", [](Json& f) { f["settings"]["channel"] = 0.5; },
         "settings.channel: not a whole number"},
        {"text for a number", [](Json& f) { f["settings"]["bypass"] = "1"; }, "settings.bypass: not a whole"},
        {"a tag with a comma", [](Json& f) { f["tags"][1] = "a,b"; }, "tags[1]: a tag cannot hold a comma"},
        {"tags not a list", [](Json& f) { f["tags"] = "live"; }, "tags: not a list"},
        {"notes not text", [](Json& f) { f["notes"] = 7; }, "notes: not text"},
        {"a slot name too long", [](Json& f) { f["irSlotNames"]["lead"] = std::string(65, 'X'); },
         "irSlotNames.lead: a slot name has at most 64"},
    };
    for (const auto& c : cases) {
        Json file = good;
        c.spoil(file);
        const PortableProgramRead r = read(file);
        EXPECT_FALSE(r.program) << c.what;
        EXPECT_NE(r.error.find(c.reason), std::string::npos) << c.what << ": " << r.error;
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << c.what << ": one line";
    }
    for (const char* text :
         {"", "{\"format\": \"halvard-program\",", "[1, 2]", "\xC3 not UTF-8", "{\"version\": 1e999}"}) {
        const PortableProgramRead r = readPortableProgram(bytesOf(text));
        EXPECT_FALSE(r.program) << text;
        EXPECT_EQ(r.error.rfind("not a program file", 0), 0u) << r.error;
    }
}

TEST(ProgramFileTest, NoFileIsWrittenThatCouldNotBeReadBack) {
    std::string text, error;
    PortableProgram p = sample();
    p.record[8] = 0x20;  // the rhythm channel's lowpass at 0
    EXPECT_FALSE(portableProgramText(p, text, error));
    EXPECT_EQ(error, "settings.lowpassRhythm is 0, not 1..3");
    p = sample();
    p.record[1] |= 0x40;  // a bit of the channel byte that no setting uses
    EXPECT_FALSE(portableProgramText(p, text, error));
    EXPECT_EQ(error, "settings.record byte 1 holds bits that no setting uses");
    p = sample();
    p.tags.push_back(" padded");
    EXPECT_FALSE(portableProgramText(p, text, error));
    EXPECT_NE(error.find("tags[2]"), std::string::npos) << error;
}

TEST(ProgramFileTest, SyxFilesAreReadAsOneProgram) {
    const ProgramRecord record = recordOfSettings(sampleSettings());
    const SettingsWriteMessage write = settingsWriteOf(9, {0x04, 0x01}, record);
    const std::vector<uint8_t> lone(write.begin(), write.end());
    PortableProgramRead r = readPortableProgram(std::span<const uint8_t>(lone));
    ASSERT_TRUE(r.program) << r.error;
    EXPECT_EQ(r.kind, PortableProgramKind::SettingsWrite);
    EXPECT_EQ(r.program->record, record);
    EXPECT_EQ(r.sourceProgram, 9);
    EXPECT_TRUE(r.program->name.empty());

    ProgramFile one;
    one.stored.push_back({9, write});
    r = readPortableProgram(std::span<const uint8_t>(programFileBytes(one)));
    ASSERT_TRUE(r.program) << "a write and its store: " << r.error;
    EXPECT_EQ(r.program->record, record);

    ProgramFile backup;
    for (int p = 0; p < kProgramCount; ++p) {
        ProgramSettings s = sampleSettings();
        s.ir[0] = static_cast<uint8_t>(p % 3);
        backup.stored.push_back({static_cast<uint8_t>(p), settingsWriteOf(p, {0, 0}, recordOfSettings(s))});
    }
    backup.stored[100].write[kRecordFirstByte] = 5;  // loop bypass 5: one bad program in the backup
    const std::vector<uint8_t> bytes = programFileBytes(backup);
    r = readPortableProgram(std::span<const uint8_t>(bytes), 40);
    ASSERT_TRUE(r.program) << r.error;
    EXPECT_EQ(r.kind, PortableProgramKind::Backup);
    EXPECT_EQ(r.program->record, recordOfWrite(backup.stored[40].write));
    EXPECT_EQ(r.sourceProgram, 40);

    r = readPortableProgram(std::span<const uint8_t>(bytes));
    EXPECT_EQ(r.error, "the .syx holds 128 programs: pick one");
    r = readPortableProgram(std::span<const uint8_t>(bytes), 100);
    EXPECT_EQ(r.error, "program 100: loopBypass is 5, not 0..1");
    r = readPortableProgram(std::span<const uint8_t>(programFileBytes(one)), 3);
    EXPECT_EQ(r.error, "program 3 is not in the .syx");
    const std::vector<uint8_t> junk = {0xF0, 0x00, 0x0B, 0xF7};
    r = readPortableProgram(std::span<const uint8_t>(junk));
    EXPECT_EQ(r.error.rfind("not a program's .syx: ", 0), 0u) << r.error;
}

TEST(ProgramFileTest, FilesAreImportedIntoTheCollectionAndExportedAgain) {
    test::TempDir dir;
    std::string error;
    auto library = ProgramLibrary::open(dir.path() / "library.sqlite3", error);
    ASSERT_TRUE(library) << error;
    const PortableProgram named = sample();
    ASSERT_TRUE(writePortableProgram(dir.path() / "a.halvard-program", named, error)) << error;
    const SettingsWriteMessage write = settingsWriteOf(9, {0, 0}, named.record);
    // A .syx without a name: the file's name, cut to 24 characters.
    const auto unnamed = dir.path() / "A sound with a long file name.syx";
    ASSERT_TRUE(writeFileReplacing(unnamed, write, error)) << error;
    ASSERT_TRUE(writeFileReplacing(dir.path() / "bad.syx", std::vector<uint8_t>{0xF0, 0xF7}, error));

    const CollectionImport imported = importProgramFiles(
        *library, {dir.path() / "a.halvard-program", unnamed, dir.path() / "bad.syx"}, std::nullopt, error);
    ASSERT_EQ(imported.ids.size(), 2u) << error;
    ASSERT_EQ(imported.refused.size(), 1u);
    EXPECT_EQ(imported.refused[0].rfind("bad.syx: not a program's .syx", 0), 0u) << imported.refused[0];

    const auto first = library->entry(imported.ids[0], error);
    ASSERT_TRUE(first) << error;
    EXPECT_EQ(first->name, named.name);
    EXPECT_EQ(first->tags, named.tags);
    EXPECT_EQ(first->irSlotNames, named.irSlotNames);
    EXPECT_EQ(first->sourceFile, "a.halvard-program");
    const auto second = library->entry(imported.ids[1], error);
    ASSERT_TRUE(second) << error;
    EXPECT_EQ(second->name, "A sound with a long file");
    EXPECT_EQ(second->sourceProgram, 9);
    EXPECT_EQ(second->record, named.record);

    // Exported again: the same program file.
    std::string again, text;
    ASSERT_TRUE(portableProgramText(portableProgramOf(*first), again, error)) << error;
    ASSERT_TRUE(portableProgramText(named, text, error));
    EXPECT_EQ(again, text);
}

}  // namespace
}  // namespace halvard
