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

// An empty folder (the dialog was cancelled) writes nothing. A file that cannot be created stops
// the extraction there: that entry and all later ones are skipped. A file whose write or close
// fails is removed, so that no truncated WAV is left behind, and the next entry is written.
ExtractResult extractFactoryIrs(const std::string& folder);

}  // namespace halvard
