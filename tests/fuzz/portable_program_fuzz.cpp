// Feeds arbitrary bytes to the program file reader (JSON, or a .syx of one or several programs): a
// refusal is one line; a program it accepts is one the writer takes, and what the writer makes of it
// reads back as the same program.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "device/librarian/program_file.hpp"

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace halvard;
    const std::span<const uint8_t> bytes(data, size);
    // A .syx that stores several programs is read with one picked, by the input's length.
    const std::optional<int> pick = static_cast<int>(size % 129);
    const PortableProgramRead read = readPortableProgram(bytes, pick);
    if (!read.program) {
        require(!read.error.empty() && read.error.find('\n') == std::string::npos);
        return 0;
    }
    std::string text, error;
    require(portableProgramText(*read.program, text, error));
    const PortableProgramRead again =
        readPortableProgram(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    require(again.program.has_value());
    require(again.program->record == read.program->record && again.program->name == read.program->name);
    require(again.program->tags == read.program->tags && again.program->notes == read.program->notes);
    require(again.program->irSlotNames == read.program->irSlotNames);
    return 0;
}
