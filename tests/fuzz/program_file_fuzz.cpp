// Feeds arbitrary bytes to the program file check: a refused file names an offset within it; an
// accepted one stores each program at most once and is the file its parts write back, byte for byte.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "device/librarian/program_backup.hpp"
#include "fuzz_require.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace halvard;
    const std::span<const uint8_t> bytes(data, size);
    const ParsedProgramFile parsed = parseProgramFile(bytes);
    if (parsed.error) {
        require(parsed.error->offset <= size);
        require(parsed.file.stored.empty());
        return 0;
    }
    std::array<bool, kProgramCount> seen{};
    for (const StoredProgram& s : parsed.file.stored) {
        require(s.program < kProgramCount && !seen[s.program]);
        seen[s.program] = true;
    }
    const std::vector<uint8_t> written = programFileBytes(parsed.file);
    require(written.size() == size && std::equal(written.begin(), written.end(), bytes.begin()));
    return 0;
}
