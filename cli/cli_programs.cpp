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
    for (int p = 0; p < kProgramCount; ++p) {
        const ProgramRecord& record = *records[static_cast<size_t>(p)];
        const ProgramName& name = names[static_cast<size_t>(p)];
        const ProgramSettings settings = settingsOfRecord(record);
        const bool stale = name.staleAgainst(record);
        if (o.json) {
            Json settingsJson = Json::object();
            for (const NamedSetting& f : namedSettings(settings)) settingsJson[f.name] = f.value;
            list.push_back({{"program", p},
                            {"name", name.name.empty() ? Json(nullptr) : Json(name.name)},
                            {"stale", stale},
                            {"record", toHex(record)},
                            {"settings", settingsJson}});
            continue;
        }
        std::printf("%3d  %s %c  %s\n", p, paddedName(name.name).c_str(), stale ? '?' : ' ',
                    programSummary(settings).c_str());
    }
    if (o.json) printJson({{"programs", list}});
    return kExitDone;
}

int movePrograms(Session& s, const CliOptions& o, ProgramLibrary* library) {
    const int a = std::stoi(o.operands[0]), b = std::stoi(o.operands[1]);
    const bool swap = o.command == "programs swap";
    const ProgramMoveResult moved =
        swap ? swapPrograms(s.link, a, b, library) : copyProgram(s.link, a, b, library);
    if (moved.restore.result != ReplyResult::Ok)
        return fail(stopReason(moved.restore.result, moved.restore.failedProgram));
    if (!moved.restore.mismatches.empty()) {
        const int program = moved.restore.mismatches.front().program;
        return fail(program < 0
                        ? std::string("the global settings read back differ from what was written")
                        : "program " + std::to_string(program) + " read back differs from what was written");
    }
    if (!moved.libraryError.empty()) warn(moved.libraryError + "; the names did not follow");
    std::printf(swap ? "programs %d and %d swapped and verified\n" : "program %d copied to %d and verified\n",
                a, b);
    return kExitDone;
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
    std::printf(text.empty() ? "program %d has no name\n" : "program %d is named \"%s\"\n", program,
                text.c_str());
    return kExitDone;
}

int commandProgramsMove(const CliOptions& o) {
    return onAmplifier(o, [&](Session& s) {
        const std::unique_ptr<ProgramLibrary> library = libraryOrWarn(o, "the names do not follow");
        return movePrograms(s, o, library.get());
    });
}

}  // namespace halvard::cli
