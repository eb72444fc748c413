#include "device/ir_commands.hpp"

namespace halvard {

// Not built yet: the commands are taken and cleared, and nothing else happens.
void runImportIrCommand(LinkContext&, int) {}
void runUploadFactoryIrCommand(LinkContext&) {}
void runExtractAllCommand(LinkContext&) {}

}  // namespace halvard
