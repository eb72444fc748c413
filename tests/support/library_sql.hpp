#pragma once
// Runs SQL on a program library's file with SQLite itself, past the library's own code: to write
// what another program or a damaged disk could leave there.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

namespace halvard {

inline void librarySql(const std::filesystem::path& file, const char* text) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.string().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, text, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

}  // namespace halvard
