#pragma once
// A program's record: the 10 bytes of a settings write or reply that are the program's own (bytes
// 5..14), which the program library keeps and backups compare, and the settings they stand for.
// Pure functions; any thread.

#include <array>
#include <cstddef>
#include <cstdint>

#include "device/protocol/sysex.hpp"
#include "model/program_settings.hpp"

namespace halvard {

inline constexpr size_t kRecordFirstByte = 5;

using SettingsWriteMessage = std::array<uint8_t, kSettingsWriteBytes>;

// The settings write of a record to a program, with the two global bytes (4 and 15) it carries.
SettingsWriteMessage settingsWriteOf(int program, const std::array<uint8_t, 2>& globals,
                                     const ProgramRecord& record);
// Bytes 5..14 of a settings write or reply.
ProgramRecord recordOfWrite(const SettingsWriteMessage& write);
// The record a settings write of these settings carries.
ProgramRecord recordOfSettings(const ProgramSettings& settings);
// The settings a record holds (out-of-range filter positions as the decoder sets them).
ProgramSettings settingsOfRecord(const ProgramRecord& record);

}  // namespace halvard
