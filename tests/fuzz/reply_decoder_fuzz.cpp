// Feeds arbitrary bytes to the reply decoder and applies the result to a mirror, then checks that
// a settings write built from whatever the mirror now holds is still a well-formed message.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "device/protocol/exchanges.hpp"
#include "device/protocol/sysex.hpp"
#include "fuzz_require.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace halvard;
    static DeviceMirror mirror;
    LinkContext ctx;
    ctx.ui = &mirror;

    const Reply reply = decodeReply(std::span<const uint8_t>(data, size));
    if (const auto* s = std::get_if<SettingsReply>(&reply)) require(s->program <= 127);
    if (const auto* n = std::get_if<SlotNameReply>(&reply)) require(n->slot < kUserIrSlotCount);
    applyReply(ctx, reply);

    const int program = mirror.program;
    require(program >= 0 && program < kProgramCount);
    const SettingsGlobals globals{mirror.midiChannel, mirror.bypassLock, mirror.reverbTails, mirror.mono,
                                  mirror.irSlot};
    std::array<uint8_t, kSettingsWriteBytes> out{};
    require(buildSettingsWrite(out, program, globals, mirror.record(program)) == kSettingsWriteBytes);
    for (size_t i = 1; i + 1 < out.size(); ++i) require(out[i] < 0x80);
    return 0;
}
