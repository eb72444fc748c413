#include "device/ir_transfer/ir_commands.hpp"

#include "device/ir_transfer/ir_transfer.hpp"
#include "device/link/file_dialogs.hpp"
#include "ir/extract.hpp"

namespace halvard {

// The WAV dialog opens with linkState Busy, so the panel ignores the pointer while it is open.
void runImportIrCommand(LinkContext& ctx, int slot) {
    ctx.ui->linkState = LinkState::Busy;
    ctx.repaint();
    const std::string path = showFileDialog(ctx, DialogMode::WaveFile);
    importWavIntoSlot(ctx, path, slot);
    ctx.repaint();
}

void runUploadFactoryIrCommand(LinkContext& ctx) {
    ctx.ui->linkState = LinkState::Busy;
    ctx.repaint();
    storeFactoryIrInSlot(ctx);
    ctx.repaint();
}

// No Busy state here: the panel stays live while the folder dialog is open and the files are
// written; a command posted meanwhile waits for the next pass.
void runExtractAllCommand(LinkContext& ctx) {
    const std::string folder = showFileDialog(ctx, DialogMode::Folder);
    if (extractFactoryIrs(folder).imageFailed) ctx.ui->linkState = LinkState::Connected;
    ctx.repaint();
}

}  // namespace halvard
