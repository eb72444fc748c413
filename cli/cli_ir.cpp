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

int irResult(IrTransferResult r) {
    switch (r) {
        case IrTransferResult::Stored:
            std::printf("IR stored\n");
            return kExitDone;
        case IrTransferResult::Failed:
            return fail("the amplifier stopped acknowledging the transfer");
        case IrTransferResult::Abandoned:
            return fail("interrupted");
        case IrTransferResult::NotSent:
            break;
    }
    return fail("nothing was sent");
}

}  // namespace

int commandIrImport(const CliOptions& o) {
    return onAmplifier(o, [&](Session& s) {
        const IrImport ir = prepareIrFromWav(o.operands[1]);
        if (!ir.ok()) return fail(o.operands[1] + ": not a WAV file this program can import");
        ProgressDisplay progress("IR");
        s.progress = &progress;
        return irResult(sendIrImage(s.link, ir.image, std::stoi(o.operands[0]),
                                    irNameFromFileName(o.operands[1]).text()));
    });
}

int commandIrFactory(const CliOptions& o) {
    return onAmplifier(o, [&](Session& s) {
        s.mirror.irPanelSlot = std::stoi(o.operands[0]) + 1;
        s.mirror.factoryIrIndex = std::stoi(o.operands[1]);
        ProgressDisplay progress("IR");
        s.progress = &progress;
        return irResult(storeFactoryIrInSlot(s.link));
    });
}

int commandIrExtract(const CliOptions& o) {
    std::error_code ec;
    std::filesystem::create_directories(pathFromUtf8(o.operands[0]), ec);
    const ExtractResult r = extractFactoryIrs(o.operands[0]);
    if (r.written != kFactoryIrCount)
        return fail("only " + std::to_string(r.written) + " of 15 files could be written into " +
                    o.operands[0]);
    std::printf("15 factory IRs written into %s\n", o.operands[0].c_str());
    return kExitDone;
}

}  // namespace halvard::cli
