#include "device/librarian/library_access.hpp"

#include <climits>
#include <cstdio>
#include <ctime>
#include <vector>

#include "device/librarian/kept_backups.hpp"
#include "util/local_time.hpp"

namespace halvard {
namespace {

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// "2026-12-07T11:55:03Z" (UTC, as the library keeps it) as local "2026-12-07 11:55"; "unknown time"
// when it does not read so (a damaged row).
std::string localTimeText(const std::string& utc) {
    constexpr const char* kUnknown = "unknown time";
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char zone = 0;
    const bool read =
        std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &zone) == 7;
    if (!read || zone != 'Z' || y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
        s > 60)
        return kUnknown;
    const auto at = static_cast<std::time_t>(daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s);
    const std::tm local = localTimeAt(at);
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) == 0) return kUnknown;
    return text;
}

std::string_view reasonLabel(BackupReason reason) {
    switch (reason) {
        case BackupReason::Menu:
            return "Backup";
        case BackupReason::Cli:
            return "Backup by halvard-cli";
        case BackupReason::BeforeFirmwareUpdate:
            return "Before a firmware update";
        case BackupReason::BeforeRestore:
            return "Before a restore";
    }
    return {};
}

}  // namespace

LibraryState libraryStateOf(LibraryRefusal refusal) {
    switch (refusal) {
        case LibraryRefusal::None:
            return LibraryState::Open;
        case LibraryRefusal::Locked:
            return LibraryState::Locked;
        case LibraryRefusal::ReadOnly:
            return LibraryState::ReadOnly;
        case LibraryRefusal::Damaged:
            return LibraryState::Damaged;
        case LibraryRefusal::Newer:
            return LibraryState::Newer;
        case LibraryRefusal::Foreign:
            return LibraryState::Foreign;
        case LibraryRefusal::Unavailable:
            break;
    }
    return LibraryState::Unavailable;
}

std::unique_ptr<ProgramLibrary> openWorkerLibrary(LinkContext& ctx, std::chrono::milliseconds busyWait) {
    std::unique_ptr<ProgramLibrary> owned;
    if (ctx.library == nullptr && !ctx.libraryPath.empty()) {
        std::string error;
        LibraryRefusal refusal = LibraryRefusal::None;
        owned = ProgramLibrary::open(ctx.libraryPath, error, &refusal, busyWait);
        ctx.library = owned.get();
        ctx.ui->libraryState = owned ? LibraryState::Open : libraryStateOf(refusal);
    } else if (ctx.library != nullptr) {
        ctx.ui->libraryState = LibraryState::Open;
    }
    publishKeptBackups(ctx);
    publishCollection(ctx);
    return owned;
}

std::string keptBackupLabel(const KeptBackupSummary& backup) {
    return keptBackupTime(backup) + " \u2014 " + std::string(reasonLabel(backup.reason));
}

std::string keptBackupTime(const KeptBackupSummary& backup) {
    return localTimeText(backup.takenAt);
}

void publishKeptBackups(LinkContext& ctx) {
    KeptBackupList list{};
    std::vector<KeptBackupSummary> kept;
    std::string error;
    if (ctx.library != nullptr && ctx.library->backups(kept, error)) {
        size_t n = 0;
        for (const KeptBackupSummary& b : kept) {
            if (n == list.size()) break;
            // The menu hands the id back in a command's 32 bits.
            if (b.id <= 0 || b.id > INT32_MAX) continue;
            list[n].id = static_cast<int32_t>(b.id);
            list[n].label.assign(keptBackupLabel(b));
            ++n;
        }
    }
    ctx.ui->setKeptBackups(list);
}

void publishCollection(LinkContext& ctx) {
    std::vector<CollectionEntry> entries;
    std::string error;
    std::vector<CollectionRow> rows;
    if (ctx.library != nullptr && ctx.library->entries(entries, error)) {
        rows.reserve(entries.size());
        for (const CollectionEntry& e : entries) {
            // The view hands the id back in a command's 32 bits (PlaceEntry: in 24 of them).
            if (e.id <= 0 || e.id >= (int64_t{1} << 24)) continue;
            CollectionRow row{e.id, e.name, {}, e.notes, settingsOfRecord(e.record)};
            row.settings.loaded = 1;
            for (const std::string& tag : e.tags) row.tags += (row.tags.empty() ? "" : ", ") + tag;
            rows.push_back(std::move(row));
        }
    }
    ctx.ui->setCollectionRows(std::move(rows));
    ctx.repaint();
}

void showProgramName(LinkContext& ctx) {
    DeviceMirror& ui = *ctx.ui;
    const int32_t p = ui.program;
    if (p < 0 || p >= kProgramCount) return;
    // (A mirror reset clears the name shown.)
    if (ctx.shownName.program == p && ctx.shownName.recordsVersion == ctx.recordsVersion &&
        ui.programName().program == p)
        return;
    ctx.shownName.program = p;
    ctx.shownName.recordsVersion = ctx.recordsVersion;
    const std::optional<ProgramRecord>& record = ctx.amplifierRecords[static_cast<size_t>(p)];

    // Without a library the list has no names, but a comparison still marks its rows.
    std::array<ProgramName, kProgramCount> names;
    std::string error;
    const bool named = ctx.library != nullptr && ctx.library->names(names, error);
    ProgramNameTable table{};
    for (size_t i = 0; i < names.size(); ++i) {
        const std::optional<ProgramRecord>& known = ctx.amplifierRecords[i];
        table[i].name.assign(names[i].name);
        table[i].stale = known && names[i].staleAgainst(*known);
        if (ctx.comparedWith) {
            const std::optional<ProgramRecord>& compared = (*ctx.comparedWith)[i];
            table[i].differs = compared && known && *compared != *known;
        }
    }
    ui.setProgramNames(table);

    ProgramNameLine line;
    line.program = p;
    if (named) {
        const ProgramName& name = names[static_cast<size_t>(p)];
        line.name.assign(name.name);
        line.stale = record && name.staleAgainst(*record);
        // Named while no record was known (halvard-cli without the amplifier): bound to this one.
        if (record && !name.name.empty() && !name.boundRecord) {
            ProgramRecords one{};
            one[static_cast<size_t>(p)] = record;
            ctx.library->bindNames(one, true, error);
        }
    }
    ui.setProgramName(line);
    ctx.repaint();
}

void renameProgram(LinkContext& ctx, int32_t program) {
    if (ctx.library == nullptr || program < 0 || program >= kProgramCount) return;
    const ProgramNameText text = ctx.ui->renameText();
    std::string error = checkProgramName(text.view());
    if (error.empty() && ctx.library->setName(program, text.view(),
                                              ctx.amplifierRecords[static_cast<size_t>(program)], error)) {
        ctx.shownName.program = -1;
        showProgramName(ctx);
        return;
    }
    ctx.ui->setStatusLine("NAME NOT KEPT: " + error);
    ctx.repaint();
}

void programStoredByEditor(LinkContext& ctx) {
    DeviceMirror& ui = *ctx.ui;
    const int32_t p = ui.program;
    const ProgramSettings settings = ui.record(p);
    if (p < 0 || p >= kProgramCount || settings.loaded == 0) return;
    const ProgramRecord record = recordOfSettings(settings);
    ctx.setAmplifierRecord(p, record);
    if (ctx.library == nullptr) return;
    ProgramRecords one{};
    one[static_cast<size_t>(p)] = record;
    std::string error;
    ctx.library->bindNames(one, false, error);
    ctx.shownName.program = -1;
    showProgramName(ctx);
}

}  // namespace halvard
