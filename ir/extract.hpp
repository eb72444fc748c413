#pragma once
// "EXTRACT ALL": the 15 factory IRs written as WAV files (the IR WAV image of ir/ir_image.hpp,
// 39980 bytes each) into a folder, at folder + "/" + label + ".wav". Existing files of those names
// are overwritten. Nothing is read from or sent to the amplifier. Called on the worker thread.

#include <string>

namespace halvard {

struct ExtractResult {
    int written = 0;           // files completely written
    bool imageFailed = false;  // an image could not be built: the caller returns linkState to Connected
};

// An empty folder (the dialog was cancelled) writes nothing. Each file is written through
// writeFileReplacing (util/files.hpp): under its name with ".partial" added, synced to the disk,
// then renamed over the file it replaces, so that a file left by a failure, a killed program or a
// power cut is never a truncated WAV under the label's name, and nothing but a regular file is
// ever opened there (a FIFO of that name would hang the worker). A file that cannot be written or
// put in place is removed and stops the extraction there: that entry and all later ones are
// skipped.
ExtractResult extractFactoryIrs(const std::string& folder);

}  // namespace halvard
