// A download back end that downloads nothing: every address is refused and every download fails, so
// the worker goes on without a firmware image, as when the server cannot be reached.
// STUB: the Windows build's back end until the WinHTTP one replaces it.

#include "device/firmware_download.hpp"

namespace halvard {

bool isPermittedFirmwareUrl(std::string_view) {
    return false;
}

bool downloadFirmwareImage(FirmwareImage& image, std::string_view, const std::atomic<bool>&,
                           const DownloadLimits&) {
    image.fill(0);
    return false;
}

}  // namespace halvard
