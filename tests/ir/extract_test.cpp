#include "ir/extract.hpp"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <csignal>
#include <cstring>
#include <filesystem>

#include "ir/factory_catalogue.hpp"
#include "ir/wav_import.hpp"
#include "test_files.hpp"

namespace halvard {
namespace {

namespace fs = std::filesystem;

std::string fileOf(const test::TempDir& dir, int entry) {
    return dir.file(std::string(factoryIrCatalogue()[static_cast<size_t>(entry)].name) + ".wav");
}

TEST(ExtractFactoryIrs, WritesFifteenFilesNamedAfterTheLabels) {
    test::TempDir dir;
#ifndef _WIN32
    // A FIFO under a label's name, or under the name its file is written as first, is replaced,
    // never opened (which would wait for a reader).
    ASSERT_EQ(mkfifo(fileOf(dir, 2).c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((fileOf(dir, 3) + ".partial").c_str(), 0600), 0);
#endif
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first extraction" : "again, over the same files");
        const ExtractResult result = extractFactoryIrs(dir.path().string());
        EXPECT_EQ(result.written, 15);
        EXPECT_FALSE(result.imageFailed);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 15);
        for (int i = 0; i < kFactoryIrCount; ++i) {
            const std::vector<uint8_t> bytes = test::readBytes(fileOf(dir, i));
            ASSERT_EQ(bytes.size(), 39980u) << i;
            EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
            EXPECT_EQ(std::memcmp(bytes.data() + 44, kFactoryIrImages[i].samples, 39936), 0) << i;
        }
    }
}

TEST(ExtractFactoryIrs, CancelledDialogWritesNothing) {
    EXPECT_EQ(extractFactoryIrs("").written, 0);
}

TEST(ExtractFactoryIrs, AFileThatCannotBeCreatedStopsTheRest) {
    test::TempDir dir;
    fs::create_directory(fileOf(dir, 5));  // a folder where entry 5's file would go
    const ExtractResult result = extractFactoryIrs(dir.path().string());
    EXPECT_EQ(result.written, 5);
    EXPECT_FALSE(result.imageFailed) << "no state change for this failure";
    for (int i = 0; i < kFactoryIrCount; ++i) {
        EXPECT_EQ(fs::is_regular_file(fileOf(dir, i)), i < 5) << i;
    }
    EXPECT_EQ(extractFactoryIrs(dir.file("no such folder")).written, 0);
}

// A write that fails leaves no truncated WAV behind, and the extraction goes on.
// Paths are UTF-8 on every system; on Windows they must not be read in the ANSI code page.
TEST(ExtractFactoryIrs, FolderNamesAreUtf8) {
    test::TempDir dir;
    const fs::path folder = dir.path() / fs::path(u8"J\u00f6rg's IRs \u263a");
    ASSERT_TRUE(fs::create_directory(folder));
    const std::u8string name = folder.u8string();
    const std::string utf8(name.begin(), name.end());
    EXPECT_EQ(extractFactoryIrs(utf8).written, 15);
    EXPECT_TRUE(prepareIrFromWav(utf8 + "/" + std::string(factoryIrCatalogue()[0].name) + ".wav").ok());
}

#ifndef _WIN32
TEST(ExtractFactoryIrs, AFailedWriteRemovesThatFile) {
    test::TempDir dir;
    // A file size limit below a WAV's: every write fails part way (EFBIG, SIGXFSZ ignored).
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto signal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const ExtractResult result = extractFactoryIrs(dir.path().string());
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, signal);
    EXPECT_EQ(result.written, 0);
    EXPECT_TRUE(fs::is_empty(dir.path())) << "neither a truncated WAV nor a partial file is left";
}
#endif

}  // namespace
}  // namespace halvard
