#include "transfer.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace halvard::emulator {

namespace {

std::string hexOffset(size_t offset) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%05zX", offset);
    return text;
}

uint32_t le32(std::span<const uint8_t> b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

uint16_t le16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

bool tagIs(std::span<const uint8_t> b, size_t at, const char* tag) {
    return std::memcmp(&b[at], tag, 4) == 0;
}

}  // namespace

ChunkAssembler::ChunkAssembler(size_t capacity) : buffer_(capacity, 0) {}

void ChunkAssembler::reset() {
    chunks_ = 0;
    error_.clear();
    std::fill(buffer_.begin(), buffer_.end(), uint8_t{0});
}

std::string ChunkAssembler::add(uint32_t offset, std::span<const uint8_t, kChunkBytes> data) {
    std::string note;
    if (offset == 0) {
        if (active()) note = "an unfinished transfer of " + std::to_string(chunks_) + " chunks was dropped";
        reset();
    }
    if (!error_.empty()) return note;  // the first fault stands until the next transfer starts

    const size_t expected = chunks_ * kChunkBytes;
    if (offset % kChunkBytes != 0) {
        error_ = "chunk at offset " + hexOffset(offset) + " is not on a 256-byte boundary";
    } else if (offset + kChunkBytes > buffer_.size()) {
        error_ = "chunk at offset " + hexOffset(offset) + " lies beyond the largest image";
    } else if (offset < expected) {
        error_ = "chunk at offset " + hexOffset(offset) + " repeated";
    } else if (offset > expected) {
        error_ = "chunk at offset " + hexOffset(expected) + " missing (next came " + hexOffset(offset) + ")";
    } else {
        std::copy(data.begin(), data.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(offset));
        ++chunks_;
    }
    return note;
}

std::string ChunkAssembler::check(size_t size, bool zeroPadding) const {
    if (!error_.empty()) return error_;
    if (size > buffer_.size()) return "stated size " + std::to_string(size) + " exceeds the largest image";
    const size_t needed = (size + kChunkBytes - 1) / kChunkBytes;
    if (chunks_ == 0) return "no chunks received";
    if (chunks_ < needed) {
        return "chunk at offset " + hexOffset(chunks_ * kChunkBytes) + " missing (" +
               std::to_string(chunks_) + " of " + std::to_string(needed) + " chunks received)";
    }
    if (chunks_ > needed) {
        return std::to_string(chunks_) + " chunks received for " + std::to_string(size) +
               " bytes (expected " + std::to_string(needed) + ")";
    }
    if (zeroPadding) {
        const auto end = buffer_.begin() + static_cast<std::ptrdiff_t>(needed * kChunkBytes);
        const auto stray = std::find_if(buffer_.begin() + static_cast<std::ptrdiff_t>(size), end,
                                        [](uint8_t b) { return b != 0; });
        if (stray != end) {
            return "padding after the image is not zero at offset " +
                   hexOffset(static_cast<size_t>(stray - buffer_.begin()));
        }
    }
    return {};
}

std::span<const uint8_t> ChunkAssembler::image(size_t size) const {
    return std::span<const uint8_t>(buffer_).first(std::min(size, buffer_.size()));
}

std::string checkIrWavImage(std::span<const uint8_t> b) {
    if (b.size() < 44) return "image of " + std::to_string(b.size()) + " bytes is shorter than a WAV header";
    if (!tagIs(b, 0, "RIFF") || !tagIs(b, 8, "WAVE")) return "not a RIFF/WAVE image";
    if (!tagIs(b, 12, "fmt ") || le32(b, 16) != 16) return "no 16-byte fmt chunk at offset 12";
    if (le16(b, 20) != 3) return "format tag " + std::to_string(le16(b, 20)) + ", not 3 (IEEE float)";
    if (le16(b, 22) != 1) return std::to_string(le16(b, 22)) + " channels, not 1";
    if (le32(b, 24) != 48000) return "sample rate " + std::to_string(le32(b, 24)) + ", not 48000";
    if (le32(b, 28) != 192000 || le16(b, 32) != 4)
        return "bytes per second or block align wrong for 32-bit mono";
    if (le16(b, 34) != 32) return std::to_string(le16(b, 34)) + " bits per sample, not 32";
    if (!tagIs(b, 36, "data")) return "no data chunk at offset 36";
    const uint32_t data = le32(b, 40);
    if (data % 4 != 0) return "data size " + std::to_string(data) + " is not whole samples";
    if (44 + static_cast<size_t>(data) != b.size()) {
        return "data size " + std::to_string(data) + " does not match the image of " +
               std::to_string(b.size()) + " bytes";
    }
    if (le32(b, 4) != 36 + data) return "RIFF size " + std::to_string(le32(b, 4)) + ", not 36 + data size";
    return {};
}

uint16_t firmwareImageVersion(std::span<const uint8_t> image) {
    if (image.size() < kFirmwareImageBytes) return 0;
    return static_cast<uint16_t>(image[131069] << 8 | image[131068]);
}

}  // namespace halvard::emulator
