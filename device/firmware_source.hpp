#pragma once
// Where the worker's sync fetches the newest firmware image from (the maker's download server in
// the program, a test double in tests). The worker owns the image buffer.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

namespace halvard {

inline constexpr size_t kFirmwareImageBytes = 131072;
using FirmwareImage = std::array<uint8_t, kFirmwareImageBytes>;

class FirmwareSource {
public:
    virtual ~FirmwareSource() = default;

    // Fills image (zero-filled by the caller) with the newest firmware image. True only when a
    // whole image arrived. Called on the worker thread; it blocks for at most the source's own
    // time-outs and should return promptly once quit is set.
    virtual bool downloadFirmwareImage(std::span<uint8_t, kFirmwareImageBytes> image,
                                       const std::atomic<bool>& quit) = 0;
};

// The version an image carries in its last bytes: byte 131,069 is the major number, byte 131,068
// the minor; major * 256 + minor, the encoding of firmwareVersion.
constexpr uint16_t firmwareImageVersion(std::span<const uint8_t, kFirmwareImageBytes> image) {
    return static_cast<uint16_t>(image[kFirmwareImageBytes - 3] * 256 + image[kFirmwareImageBytes - 4]);
}

}  // namespace halvard
