#include "device/protocol/program_records.hpp"

#include <algorithm>
#include <variant>

namespace halvard {

SettingsWriteMessage settingsWriteOf(int program, const std::array<uint8_t, 2>& globals,
                                     const ProgramRecord& record) {
    SettingsWriteMessage w{};
    w[0] = kSysexStart;
    w[1] = 0x00;
    w[2] = kCodeSettingsWrite;
    w[3] = static_cast<uint8_t>(program);
    w[4] = globals[0];
    std::copy(record.begin(), record.end(), w.begin() + kRecordFirstByte);
    w[kRecordFirstByte + kProgramRecordBytes] = globals[1];
    w[kSettingsWriteBytes - 1] = kSysexEnd;
    return w;
}

ProgramRecord recordOfWrite(const SettingsWriteMessage& write) {
    ProgramRecord r;
    std::copy_n(write.begin() + kRecordFirstByte, kProgramRecordBytes, r.begin());
    return r;
}

ProgramRecord recordOfSettings(const ProgramSettings& settings) {
    SettingsWriteMessage write{};
    buildSettingsWrite(write, 0, SettingsGlobals{}, settings);
    return recordOfWrite(write);
}

ProgramSettings settingsOfRecord(const ProgramRecord& record) {
    // As the settings reply of a program other than 0, which the decoder reads without globals.
    std::array<uint8_t, kSettingsWriteBytes> reply = settingsWriteOf(1, {0, 0}, record);
    reply[2] = kCodeSettings;
    const Reply decoded = decodeReply(reply);
    const auto* settings = std::get_if<SettingsReply>(&decoded);
    return settings ? settings->settings : ProgramSettings{};
}

}  // namespace halvard
