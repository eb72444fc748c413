// writeFileReplacing: a writer killed at any point of a write leaves the old file or the whole new
// one under the name, and the next write goes through whatever the killed one left.

#include "util/files.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>

#include "test_files.hpp"

namespace halvard {
namespace {

#ifndef _WIN32
TEST(WriteFileReplacing, AKillAtAnyPointLeavesTheOldFileOrTheWholeNewOne) {
    test::TempDir dir;
    const std::filesystem::path path = dir.path() / "backup.syx";
    const std::vector<uint8_t> first(512 * 1024, 0xAA), second(1024 * 1024 + 17, 0x55);
    std::string error;
    ASSERT_TRUE(writeFileReplacing(path, first, error)) << error;
    for (int round = 0; round < 30; ++round) {
        int done[2];
        ASSERT_EQ(pipe(done), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Writes the two files in turn for ever, saying after each that it is done.
            close(done[0]);
            for (int n = 0;; ++n) {
                std::string ignored;
                writeFileReplacing(path, n % 2 ? first : second, ignored);
                if (write(done[1], "w", 1) != 1) _exit(1);
            }
        }
        close(done[1]);
        // Killed while writing its (round % 4 + 1)th file: at whatever step it has reached then.
        char c;
        for (int n = 0; n <= round % 4; ++n) ASSERT_EQ(read(done[0], &c, 1), 1);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(done[0]);
        std::vector<uint8_t> found;
        ASSERT_TRUE(readWholeFile(path, 4 * 1024 * 1024, found, error)) << error;
        ASSERT_TRUE(found == first || found == second)
            << "round " << round << ": " << found.size() << " bytes";
    }
    ASSERT_TRUE(writeFileReplacing(path, first, error)) << "over what a killed write left: " << error;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "backup.syx.partial"));
}
#endif

}  // namespace
}  // namespace halvard
