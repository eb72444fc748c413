#pragma once
// Bytes as hexadecimal text and back, as the command line, the emulator's control channel, the
// parse errors and the tests show them: upper-case digits, two a byte.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace halvard {

// "F0" for 0xF0.
std::string hexByte(uint8_t byte);
// "F0000BF7", or with spaced "F0 00 0B F7".
std::string toHex(std::span<const uint8_t> bytes, bool spaced = false);
// The bytes of hex text in either case; spaces and tabs may stand between bytes (not within one).
// Nothing for any other character or an odd digit at the end.
std::optional<std::vector<uint8_t>> fromHex(std::string_view text);

}  // namespace halvard
