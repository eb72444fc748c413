#pragma once
// Fetching the amplifier's firmware image from the download server.
//
// The worker fetches through the FirmwareSource seam: HttpFirmwareSource in the program (over the
// platform's download back end: libcurl on Linux), a double in tests. Everything here runs on the worker
// thread; a download blocks it until the server answers, a time-out runs out or `quit` is set.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace halvard {

// The image is exactly 0x20000 bytes, and the transfer always sends all of it.
inline constexpr size_t kFirmwareImageBytes = 131072;

using FirmwareImage = std::array<uint8_t, kFirmwareImageBytes>;

// The image carries its version in its last four bytes: major in byte 131069, minor in byte 131068.
// Encoded as major * 256 + minor, like the version the amplifier reports.
uint16_t firmwareImageVersion(const FirmwareImage& image);

class FirmwareSource {
public:
    virtual ~FirmwareSource() = default;
    // Zero-fills image, then fetches it. True only when the whole image arrived; false on any failure,
    // and soon after quit is set.
    virtual bool downloadFirmwareImage(FirmwareImage& image, const std::atomic<bool>& quit) = 0;
};

// Bounds on one download, so that a dead network costs a sync seconds, not minutes.
struct DownloadLimits {
    long connectTimeoutMs = 5000;
    long totalTimeoutMs = 20000;
    long lowSpeedBytesPerSecond = 1024;  // slower than this for lowSpeedSeconds ends the download
    long lowSpeedSeconds = 5;
};

// The base address compiled in (CMake cache variable HALVARD_FIRMWARE_BASE_URL).
std::string_view compiledFirmwareBaseUrl();

// base + "/fw/VDR.bin?v=" + number; trailing slashes of base are dropped. The number only defeats
// caches between the editor and the server.
std::string firmwareImageUrl(std::string_view baseUrl, uint32_t cacheBust);

// A fresh number for firmwareImageUrl, without touching the process-wide rand() state.
uint32_t firmwareCacheBustNumber();

// The download back end (libcurl on Linux) provides the two functions below.

// https:// to any host; plain http:// only to a loopback address (127.0.0.0/8, ::1, localhost).
bool isPermittedFirmwareUrl(std::string_view url);

// Fetches base + "/fw/VDR.bin?v=<number>" into image, never past its end. True only when the server
// answered 2xx with exactly kFirmwareImageBytes bytes. A longer body counts as failed: its last
// bytes, not bytes 131068/131069, would carry the version of whatever it is.
bool downloadFirmwareImage(FirmwareImage& image, std::string_view baseUrl, const std::atomic<bool>& quit,
                           const DownloadLimits& limits = {});

class HttpFirmwareSource final : public FirmwareSource {
public:
    explicit HttpFirmwareSource(std::string baseUrl = std::string(compiledFirmwareBaseUrl()),
                                DownloadLimits limits = {})
        : baseUrl_(std::move(baseUrl)), limits_(limits) {}

    bool downloadFirmwareImage(FirmwareImage& image, const std::atomic<bool>& quit) override {
        return halvard::downloadFirmwareImage(image, baseUrl_, quit, limits_);
    }

private:
    std::string baseUrl_;
    DownloadLimits limits_;
};

}  // namespace halvard
