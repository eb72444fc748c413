#pragma once
// The worker's IR commands (ImportIr, UploadFactoryIr, ExtractAll). The worker has taken and
// cleared the command before it calls one of these; each handler owns every step from there
// (linkState Busy and a repaint where the command shows one, the file or folder dialog, the
// transfer or the extraction, the closing repaint). Worker thread only.

#include "device/link/link_context.hpp"

namespace halvard {

// ImportIr: ask for a WAV file and import it into user slot slot, 0..5.
void runImportIrCommand(LinkContext& ctx, int slot);
// UploadFactoryIr: store factory IR factoryIrIndex into user slot irPanelSlot - 1.
void runUploadFactoryIrCommand(LinkContext& ctx);
// ExtractAll: ask for a folder and write the factory IRs there as WAV files.
void runExtractAllCommand(LinkContext& ctx);

}  // namespace halvard
