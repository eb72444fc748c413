// halvard-cli ir: a WAV file or a factory IR into a user IR slot; the factory IRs as WAV files.

#include <cstdio>
#include <filesystem>

#include "cli/cli_commands.hpp"
#include "cli/cli_output.hpp"
#include "cli/cli_session.hpp"
#include "device/ir_transfer/ir_transfer.hpp"
#include "ir/extract.hpp"
#include "ir/factory_catalogue.hpp"
#include "ir/wav_import.hpp"
#include "util/paths.hpp"

namespace halvard::cli {
namespace {

// slot: 1..6, as the user gives and sees it.
int irResult(const CliOptions& o, IrTransferResult r, int slot, const Json& json, const std::string& what) {
    const std::string partly = "; user IR slot " + std::to_string(slot) + " may hold part of it";
    switch (r) {
        case IrTransferResult::Stored:
            return report(o, json, what + " stored in user IR slot " + std::to_string(slot) + "\n");
        case IrTransferResult::Failed:
            std::fprintf(stderr, "halvard-cli: the amplifier stopped acknowledging the transfer%s\n",
                         partly.c_str());
            return kExitPartial;
        case IrTransferResult::Abandoned:
            std::fprintf(stderr, "halvard-cli: interrupted%s\n", partly.c_str());
            return kExitPartial;
        case IrTransferResult::NotSent:
            break;
    }
    return fail("the amplifier's ports closed; nothing was sent");
}

int listFactoryIrs(const CliOptions& o) {
    Json list = Json::array();
    std::string text;
    for (int i = 0; i < kFactoryIrCount; ++i) {
        const FactoryIrEntry& entry = factoryIrCatalogue()[static_cast<size_t>(i)];
        list.push_back({{"index", i}, {"name", entry.name}, {"main", entry.isMain != 0}});
        text += (i < 10 ? " " : "") + std::to_string(i) + "  " + std::string(factoryIrDisplayName(i)) + "\n";
    }
    return report(o, {{"factoryIrs", list}}, text);
}

}  // namespace

int commandIrImport(const CliOptions& o) {
    const int slot = std::stoi(o.operands[0]);
    // The file is checked before the amplifier is looked for.
    const IrImport ir = prepareIrFromWav(o.operands[1]);
    if (!ir.ok()) return fail(o.operands[1] + ": not imported: " + wavImportReason(ir) + "; nothing sent");
    return onAmplifier(o, [&](Session& s) {
        ProgressDisplay progress("IR");
        s.progress = &progress;
        const std::string name(irNameFromFileName(o.operands[1]).text());
        return irResult(o, sendIrImage(s.link, ir.image, slot - 1, name), slot,
                        {{"slot", slot}, {"name", name}, {"file", o.operands[1]}}, "IR \"" + name + "\"");
    });
}

int commandIrFactory(const CliOptions& o) {
    if (o.list) return listFactoryIrs(o);
    const int slot = std::stoi(o.operands[0]);
    const int index = std::stoi(o.operands[1]);
    return onAmplifier(o, [&](Session& s) {
        s.mirror.irPanelSlot = slot;
        s.mirror.factoryIrIndex = index;
        ProgressDisplay progress("IR");
        s.progress = &progress;
        const std::string name(factoryIrCatalogue()[static_cast<size_t>(index)].name);
        return irResult(o, storeFactoryIrInSlot(s.link), slot,
                        {{"slot", slot}, {"index", index}, {"name", name}}, "factory IR \"" + name + "\"");
    });
}

int commandIrExtract(const CliOptions& o) {
    std::error_code ec;
    std::filesystem::create_directories(pathFromUtf8(o.operands[0]), ec);
    const ExtractResult r = extractFactoryIrs(o.operands[0]);
    if (r.written != kFactoryIrCount)
        return fail("only " + std::to_string(r.written) + " of 15 files could be written into " +
                    o.operands[0]);
    return report(o, {{"directory", o.operands[0]}, {"written", r.written}},
                  "15 factory IRs written into " + o.operands[0] + "\n");
}

}  // namespace halvard::cli
