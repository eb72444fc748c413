#pragma once
// A folder of the bench's own for the real editor's program library and settings (XDG_DATA_HOME
// and XDG_CONFIG_HOME), so that a bench never reads or writes the user's; removed at the end.

#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace halvard::bench {

class PrivateHome {
public:
    PrivateHome() {
        std::error_code ignored;
        std::filesystem::create_directories(path_, ignored);
    }
    ~PrivateHome() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    PrivateHome(const PrivateHome&) = delete;
    PrivateHome& operator=(const PrivateHome&) = delete;

    // The environment entries that point the editor at it, before any of the caller's own.
    std::vector<std::string> env(std::vector<std::string> more = {}) const {
        more.insert(more.begin(), {"XDG_DATA_HOME=" + path_.string(), "XDG_CONFIG_HOME=" + path_.string()});
        return more;
    }

private:
    std::filesystem::path path_ =
        std::filesystem::temp_directory_path() / ("halvard-bench-" + std::to_string(getpid()));
};

}  // namespace halvard::bench
