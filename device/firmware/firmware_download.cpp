// What every firmware download back end shares: the image's version, the address and its cache-busting
// number.
#include "device/firmware/firmware_download.hpp"

#include <ctime>
#include <random>

namespace halvard {

uint16_t firmwareImageVersion(const FirmwareImage& image) {
    return static_cast<uint16_t>(image[kFirmwareImageBytes - 3] << 8 | image[kFirmwareImageBytes - 4]);
}

std::string_view compiledFirmwareBaseUrl() {
    return HALVARD_FIRMWARE_BASE_URL;
}

std::string firmwareImageUrl(std::string_view baseUrl, uint32_t cacheBust) {
    while (!baseUrl.empty() && baseUrl.back() == '/') baseUrl.remove_suffix(1);
    std::string url(baseUrl);
    url += "/fw/VDR.bin?v=";
    url += std::to_string(cacheBust);
    return url;
}

uint32_t firmwareCacheBustNumber() {
    // Seeded with the calendar time in seconds, like the C library's generator would be, but
    // without touching the process-wide rand() state from the worker thread.
    std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
    return static_cast<uint32_t>(generator());
}

}  // namespace halvard
