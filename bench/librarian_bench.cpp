// Backing up all programs (129 settings reads) and a verified restore (128 settings writes, 128
// preset stores and 128 read-backs) against the amplifier emulator, which answers at once, over the
// JACK server that JACK_DEFAULT_SERVER names. Every step is paced by one 5 ms poll interval, so the
// floors are 129 x 5 ms and 3 x 128 x 5 ms; the target is within 1.25 x of them. Prints the
// figures; asserts nothing.

#include <chrono>
#include <cstdio>

#include "device/librarian/program_backup.hpp"
#include "device/protocol/exchanges.hpp"
#include "emulator_link.hpp"

using namespace halvard;

namespace {

template <class Work>
double timed(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    bench::EmulatorLink rig;
    if (const int code = rig.open("librarian_bench"); code >= 0) return code;
    LinkContext& link = rig.link;

    constexpr double backupFloorMs = 129.0 * kPollIntervalMs;
    constexpr double restoreFloorMs = 3.0 * 128 * kPollIntervalMs;
    std::printf("backup: pacing floor 129 x %d ms = %.0f ms, target <= %.0f ms (1.25 x)\n", kPollIntervalMs,
                backupFloorMs, 1.25 * backupFloorMs);
    std::printf("verified restore: pacing floor 3 x 128 x %d ms = %.0f ms, target <= %.0f ms (1.25 x)\n",
                kPollIntervalMs, restoreFloorMs, 1.25 * restoreFloorMs);
    for (int run = 0; run < 3; ++run) {
        BackupResult backup;
        const double backupMs = timed([&] { backup = backupPrograms(link); });
        RestoreResult restore;
        const double restoreMs = timed([&] { restore = restorePrograms(link, backup.file, true); });
        std::printf("run %d: backup %s in %.0f ms = %.2f x; restore %s in %.0f ms = %.2f x\n", run + 1,
                    backup.result == ReplyResult::Ok ? "done" : "FAILED", backupMs, backupMs / backupFloorMs,
                    restore.result == ReplyResult::Ok && restore.mismatches.empty() ? "verified" : "FAILED",
                    restoreMs, restoreMs / restoreFloorMs);
    }
    return 0;
}
