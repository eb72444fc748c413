// The collection's own work, without the MIDI exchanges around it, on a library file in the system's
// temporary folder: listing a collection of 10,000 entries, searching it (by a name's, a tag's and
// a note's text), and importing 1,000 program files (each read, checked and added, in one
// transaction). Prints the median and the slowest of the runs; targets: a listing or a search in at
// most 20 ms, the import in at most 2 s. Asserts nothing.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "device/librarian/program_file.hpp"
#include "program_library/program_library.hpp"

using namespace halvard;
namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 10000;
constexpr int kFiles = 1000;
constexpr int kRuns = 15;
constexpr int kImportRuns = 5;

const char* const kWords[] = {"Clean", "Crunch", "Lead", "Ambient", "Blues", "Metal", "Jazz", "Funk"};

CollectionEntry sampleEntry(int i) {
    CollectionEntry e;
    e.name = std::string(kWords[i % 8]) + " " + std::to_string(i);
    e.tags = {kWords[(i / 8) % 8], i % 3 ? "live" : "studio"};
    e.notes = i % 5 ? "" : "Neck pickup, volume on " + std::to_string(i % 10) + ".";
    ProgramSettings s;
    s.channel = static_cast<uint8_t>(i & 1);
    s.ir[0] = static_cast<uint8_t>(i % 3);
    s.filterA[0] = s.filterA[1] = 2;
    s.filterB[0] = s.filterB[1] = 1;
    e.record = recordOfSettings(s);
    e.irSlotNames = {"CLEAN 4X12", "V30 SM57"};
    e.source = EntrySource::Amplifier;
    e.sourceProgram = i % kProgramCount;
    return e;
}

// Wall-clock time, and the processor time beside it (std::clock: the process's on Linux; on Windows
// it is wall-clock time too), which tells the work from the waiting on a loaded machine.
struct Figures {
    std::vector<double> ms, cpu;
    std::clock_t cpuStart = 0;
    std::chrono::steady_clock::time_point start() {
        cpuStart = std::clock();
        return std::chrono::steady_clock::now();
    }
    void add(std::chrono::steady_clock::time_point start) {
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        cpu.push_back(1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
    }
    void print(const std::string& what) {
        std::sort(ms.begin(), ms.end());
        std::sort(cpu.begin(), cpu.end());
        std::printf("%-52s median %8.2f ms, slowest %8.2f ms, processor median %8.2f ms (%zu runs)\n",
                    what.c_str(), ms[ms.size() / 2], ms.back(), cpu[cpu.size() / 2], ms.size());
    }
};

}  // namespace

int main() {
    const fs::path dir = fs::temp_directory_path() /
                         ("halvard-collection-bench-" +
                          std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::remove_all(dir);
    fs::create_directories(dir / "files");
    std::string error;
    auto library = ProgramLibrary::open(dir / "library.sqlite3", error);
    if (!library) {
        std::fprintf(stderr, "collection_bench: %s\n", error.c_str());
        return 1;
    }
    std::vector<CollectionEntry> entries;
    for (int i = 0; i < kEntries; ++i) entries.push_back(sampleEntry(i));
    if (!library->addEntries(entries, error)) {
        std::fprintf(stderr, "collection_bench: %s\n", error.c_str());
        return 1;
    }
    std::vector<fs::path> files;
    for (int i = 0; i < kFiles; ++i) {
        files.push_back(dir / "files" / ("program-" + std::to_string(i) + ".halvard-program"));
        if (!writePortableProgram(files.back(), portableProgramOf(sampleEntry(i)), error)) {
            std::fprintf(stderr, "collection_bench: %s\n", error.c_str());
            return 1;
        }
    }
    std::printf("collection: %d entries, %d program files, in %s\n", kEntries, kFiles, dir.string().c_str());

    const char* const searches[] = {"crunch 1", "studio", "volume on 7"};
    Figures list, search[3], import;
    size_t listed = 0, found[3] = {};
    std::vector<CollectionEntry> out;
    for (int run = 0; run < kRuns; ++run) {
        auto start = list.start();
        library->entries(out, error);
        listed = out.size();
        list.add(start);
        for (size_t s = 0; s < 3; ++s) {
            start = search[s].start();
            library->entries(out, error, searches[s]);
            found[s] = out.size();
            search[s].add(start);
        }
    }
    size_t imported = 0;
    for (int run = 0; run < kImportRuns; ++run) {
        const auto start = import.start();
        imported = importProgramFiles(*library, files, std::nullopt, error).ids.size();
        import.add(start);
    }
    list.print("listing the collection (" + std::to_string(listed) + " entries)");
    for (size_t s = 0; s < 3; ++s)
        search[s].print("searching \"" + std::string(searches[s]) + "\" (" + std::to_string(found[s]) +
                        " found)");
    import.print("importing " + std::to_string(kFiles) + " program files (" + std::to_string(imported) +
                 " added)");
    if (!error.empty()) std::printf("last error: %s\n", error.c_str());
    library.reset();
    fs::remove_all(dir);
    return 0;
}
