// halvard-cli ports and info: the MIDI ports, and what the amplifier reports of itself.

#include <cstdio>
#include <vector>

#include "cli/cli_commands.hpp"
#include "cli/cli_output.hpp"
#include "cli/cli_session.hpp"
#include "util/utf8.hpp"

namespace halvard::cli {

int commandPorts(const CliOptions& o) {
    const std::unique_ptr<MidiPorts> ports = makePorts(o.api, o.port);
    Json json = Json::object();
    std::string text;
    for (const PortDirection d : {PortDirection::Input, PortDirection::Output}) {
        const int match = findPort(*ports, d, o.port);
        const bool input = d == PortDirection::Input;
        text += input ? "inputs (messages come from these):\n" : "outputs (messages go to these):\n";
        Json list = Json::array();
        const int count = ports->portCount(d);
        if (count == 0) text += "  (none)\n";
        for (int i = 0; i < count; ++i) {
            const std::string name = ports->portName(d, i);
            list.push_back({{"index", i}, {"name", printableUtf8(name)}, {"amplifier", i == match}});
            text +=
                std::string(i == match ? "* " : "  ") + std::to_string(i) + "  " + printableUtf8(name) + "\n";
        }
        json[input ? "inputs" : "outputs"] = list;
    }
    return report(o, json, text);
}

namespace {

int printInfo(Session& s, const CliOptions& o) {
    DeviceMirror& m = s.mirror;
    if (const ReplyResult r = readFirmwareVersion(s.link); r != ReplyResult::Ok) return fail(stopReason(r));
    const int program = o.program.value_or(0);
    // The globals travel with program 0 only.
    for (const int p : program == 0 ? std::vector<int>{0} : std::vector<int>{0, program})
        if (const ReplyResult r = readProgramSettings(s.link, p); r != ReplyResult::Ok)
            return fail(stopReason(r, p));
    for (int slot = 0; slot < kUserIrSlotCount; ++slot)
        if (const ReplyResult r = readSlotName(s.link, slot); r != ReplyResult::Ok)
            return fail(stopReason(r));

    const ProgramSettings p = m.record(program);
    const struct {
        const char* name;
        int value;
    } globals[] = {{"midiChannel", m.midiChannel},
                   {"bypassLock", m.bypassLock},
                   {"reverbTails", m.reverbTails},
                   {"mono", m.mono},
                   {"irSlot", m.irSlot}};
    const struct {
        const char* name;
        int value;
    } fields[] = {
        {"channel", p.channel},          {"bypass", p.bypass},          {"loopBypass", p.loopBypass},
        {"reverbRhythm", p.reverb[0]},   {"reverbLead", p.reverb[1]},   {"tremoloRhythm", p.tremolo[0]},
        {"tremoloLead", p.tremolo[1]},   {"irRhythm", p.ir[0]},         {"irLead", p.ir[1]},
        {"irBypass", p.irBypass},        {"hfCompRhythm", p.hfComp[0]}, {"hfCompLead", p.hfComp[1]},
        {"lowpassRhythm", p.filterA[0]}, {"lowpassLead", p.filterA[1]}, {"highpassRhythm", p.filterB[0]},
        {"highpassLead", p.filterB[1]}};
    Json out = {{"firmware", versionText(m.firmwareVersion)}, {"program", program}};
    const auto object = [](const auto& list) {
        Json o = Json::object();
        for (const auto& f : list) o[f.name] = f.value;
        return o;
    };
    out["globals"] = object(globals);
    out["settings"] = object(fields);
    out["slots"] = Json::array();
    for (int slot = 0; slot < kUserIrSlotCount; ++slot)
        out["slots"].push_back(latin1ToUtf8(m.slotName(slot).view()));

    std::string text =
        "firmware  " + versionText(m.firmwareVersion) + "\nprogram   " + std::to_string(program) + "\n";
    char line[64];
    for (const auto& g : globals) {
        std::snprintf(line, sizeof line, "  %-15s %d\n", g.name, g.value);
        text += line;
    }
    for (const auto& f : fields) {
        std::snprintf(line, sizeof line, "  %-15s %d\n", f.name, f.value);
        text += line;
    }
    // The slots as the editor and its screen readers number them, 1..6.
    for (int slot = 0; slot < kUserIrSlotCount; ++slot) {
        const SlotName name = m.slotName(slot);
        text += "slot " + std::to_string(slot + 1) + "    " +
                (name.empty() ? std::string("(empty)") : latin1ToUtf8(name.view(), true)) + "\n";
    }
    return report(o, out, text);
}

}  // namespace

int commandInfo(const CliOptions& o) {
    return onAmplifier(o, [&](Session& s) { return printInfo(s, o); });
}

}  // namespace halvard::cli
