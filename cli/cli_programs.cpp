// halvard-cli programs: the 128 programs with their names; naming, copying and swapping them.

#include <algorithm>
#include <cstdio>

#include "cli/cli_commands.hpp"
#include "cli/cli_output.hpp"
#include "cli/cli_session.hpp"
#include "util/hex.hpp"

namespace halvard::cli {
namespace {

int listPrograms(Session& s, const CliOptions& o, ProgramLibrary* library) {
    const std::optional<ProgramFile> file = readAllPrograms(s, o, "read");
    if (!file) return kExitFailed;
    const ProgramRecords records = recordsOfFile(*file);
    std::string error;
    if (library && !library->bindNames(records, true, error)) warn(error);
    const auto names = namesOf(library);
    Json list = Json::array();
    std::string text;
    for (int p = 0; p < kProgramCount; ++p) {
        const ProgramRecord& record = *records[static_cast<size_t>(p)];
        const ProgramName& name = names[static_cast<size_t>(p)];
        const ProgramSettings settings = settingsOfRecord(record);
        const bool stale = name.staleAgainst(record);
        Json settingsJson = Json::object();
        for (const NamedSetting& f : namedSettings(settings)) settingsJson[f.name] = f.value;
        list.push_back({{"program", p},
                        {"name", name.name.empty() ? Json(nullptr) : Json(name.name)},
                        {"stale", stale},
                        {"record", toHex(record)},
                        {"settings", settingsJson}});
        char number[8];
        std::snprintf(number, sizeof number, "%3d  ", p);
        text += number + paddedName(name.name) + (stale ? " ?  " : "    ") + programSummary(settings) + "\n";
    }
    return report(o, {{"programs", list}}, text);
}

int movePrograms(Session& s, const CliOptions& o, ProgramLibrary* library) {
    const int a = std::stoi(o.operands[0]), b = std::stoi(o.operands[1]);
    const bool swap = o.command == "programs swap";
    // What the amplifier holds is read first: to know whether the move changes a program, and kept
    // as the automatic backup, as before a restore.
    const std::optional<ProgramFile> now = readAllPrograms(s, o, "read");
    if (!now) return fail("nothing sent");
    const ProgramRecords records = recordsOfFile(*now);
    if (records[static_cast<size_t>(a)] != records[static_cast<size_t>(b)] && !o.yes) {
        return refuse((swap ? "programs " + std::to_string(a) + " and " + std::to_string(b)
                            : "program " + std::to_string(b)) +
                          " would change",
                      swap ? "swaps" : "copies");
    }
    const std::optional<AutomaticBackup> kept = keptBeforeWriting(s, *now, o, BackupReason::BeforeRestore);
    if (!kept) return kExitFailed;
    const ProgramMoveResult moved =
        swap ? swapPrograms(s.link, a, b, library) : copyProgram(s.link, a, b, library);
    // What was written before a failure: the programs sent (a swap writes A, then B).
    std::vector<int> written;
    for (int i = 0; i < moved.restore.sent; ++i) written.push_back(swap ? (i == 0 ? b : a) : b);
    if (moved.restore.result != ReplyResult::Ok) {
        const std::string why = stopReason(moved.restore.result, moved.restore.failedProgram);
        return written.empty() ? fail(why) : failedAfterChange(why, written, kept->id);
    }
    if (!moved.restore.mismatches.empty()) {
        const int program = moved.restore.mismatches.front().program;
        return failedAfterChange(
            program < 0 ? std::string("the global settings read back differ from what was written")
                        : "program " + std::to_string(program) + " read back differs from what was written",
            written, kept->id);
    }
    if (!moved.libraryError.empty()) warn(moved.libraryError + "; the names did not follow");
    char text[64];
    std::snprintf(
        text, sizeof text,
        swap ? "programs %d and %d swapped and verified\n" : "program %d copied to %d and verified\n", a, b);
    return report(
        o,
        {{"command", swap ? "swap" : "copy"}, {"programs", swap ? Json{a, b} : Json{b}}, {"verified", true}},
        text);
}

}  // namespace

int commandPrograms(const CliOptions& o) {
    return onAmplifier(o, [&](Session& s) {
        const std::unique_ptr<ProgramLibrary> library = libraryOrWarn(o, "no names");
        return listPrograms(s, o, library.get());
    });
}

int commandProgramsName(const CliOptions& o) {
    std::string error;
    const std::unique_ptr<ProgramLibrary> library = openLibrary(o, error);
    if (!library) return fail(error);
    const int program = std::stoi(o.operands[0]);
    const std::string text = o.operands.size() > 1 ? o.operands[1] : std::string();
    // Bound to the program's settings at the next read.
    if (!library->setName(program, text, std::nullopt, error)) return fail(error);
    return report(o, {{"program", program}, {"name", text.empty() ? Json(nullptr) : Json(text)}},
                  text.empty() ? "program " + std::to_string(program) + " has no name\n"
                               : "program " + std::to_string(program) + " is named \"" + text + "\"\n");
}

int commandProgramsMove(const CliOptions& o) {
    return onAmplifier(o, [&](Session& s) {
        const std::unique_ptr<ProgramLibrary> library = libraryOrWarn(o, "the names do not follow");
        return movePrograms(s, o, library.get());
    });
}

}  // namespace halvard::cli
