// The program library's own work, without the MIDI exchanges around it, on a library file in the
// system's temporary folder that already holds a few years' use (all 128 programs named, 200 kept
// backups): listing the 128 programs with their names, recording a backup (one transaction, synced
// to the disk, the pruning included), and comparing a kept backup with the amplifier's records (read
// back from the file, every program differing). Prints the median and the slowest of the runs;
// target: each well under 50 ms. Asserts nothing.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "device/librarian/kept_backups.hpp"
#include "program_library/program_library.hpp"

using namespace halvard;
namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 25;
constexpr int kKeptBefore = 200;

KeptBackup sampleBackup(uint8_t salt) {
    KeptBackup b;
    b.summary.reason = salt % 2 ? BackupReason::BeforeRestore : BackupReason::Menu;
    b.summary.firmware = "1.7";
    b.globals = {0x04, 0x08};
    for (int p = 0; p < kProgramCount; ++p) {
        for (size_t i = 0; i < kProgramRecordBytes; ++i)
            b.records[static_cast<size_t>(p)][i] = static_cast<uint8_t>((p + i + salt) & 0x0F);
        b.names[static_cast<size_t>(p)] = "Program " + std::to_string(p);
    }
    return b;
}

struct Figures {
    std::vector<double> ms;
    void add(std::chrono::steady_clock::time_point start) {
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    void print(const char* what) {
        std::sort(ms.begin(), ms.end());
        std::printf("%-48s median %6.2f ms, slowest %6.2f ms (%zu runs)\n", what, ms[ms.size() / 2],
                    ms.back(), ms.size());
    }
};

}  // namespace

int main() {
    const fs::path dir = fs::temp_directory_path() /
                         ("halvard-library-bench-" +
                          std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::remove_all(dir);
    std::string error;
    auto library = ProgramLibrary::open(dir / "library.sqlite3", error);
    if (!library) {
        std::fprintf(stderr, "program_library_bench: %s\n", error.c_str());
        return 1;
    }
    for (int p = 0; p < kProgramCount; ++p)
        library->setName(p, "Program " + std::to_string(p), std::nullopt, error);
    for (int i = 0; i < kKeptBefore; ++i) library->recordBackup(sampleBackup(static_cast<uint8_t>(i)), error);
    std::vector<KeptBackupSummary> kept;
    library->backups(kept, error);
    std::printf("library: %d programs named, %zu backups kept, in %s\n", kProgramCount, kept.size(),
                dir.string().c_str());

    // What the amplifier holds: every record other than the kept backup's.
    ProgramRecords now;
    for (int p = 0; p < kProgramCount; ++p) {
        ProgramRecord r{};
        r.fill(static_cast<uint8_t>(0x40 + p % 16));
        now[static_cast<size_t>(p)] = r;
    }

    Figures list, record, compare;
    size_t listed = 0, differing = 0;
    for (int run = 0; run < kRuns; ++run) {
        auto start = std::chrono::steady_clock::now();
        std::array<ProgramName, kProgramCount> names;
        library->names(names, error);
        listed = static_cast<size_t>(
            std::count_if(names.begin(), names.end(), [](const ProgramName& n) { return !n.name.empty(); }));
        list.add(start);

        start = std::chrono::steady_clock::now();
        library->recordBackup(sampleBackup(static_cast<uint8_t>(run)), error);
        record.add(start);

        start = std::chrono::steady_clock::now();
        const std::optional<KeptBackup> backup = library->backup(kept[static_cast<size_t>(run)].id, error);
        if (backup) differing = compareWithFile(now, programFileOf(*backup)).size();
        compare.add(start);
    }
    list.print(("listing the 128 programs' names (" + std::to_string(listed) + " named)").c_str());
    record.print("recording a backup (synced, pruned)");
    compare.print(("comparing a kept backup (" + std::to_string(differing) + " programs differ)").c_str());
    if (!error.empty()) std::printf("last error: %s\n", error.c_str());
    library.reset();
    fs::remove_all(dir);
    return 0;
}
