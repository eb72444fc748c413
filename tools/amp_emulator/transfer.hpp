#pragma once
// Reassembly of the chunked transfers (IR images and firmware images) and the checks the amplifier
// makes before it stores one.
//
// A transfer is a run of 256-byte chunks at offsets 0, 256, 512, ... in that order, closed by a
// store message. A chunk at offset 0 always starts a new transfer (the editor starts over after a
// failed one without telling the amplifier); any other offset must be the one after the previous
// chunk, else the transfer has a missing or repeated chunk and its store is refused.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "amp_protocol.hpp"

namespace halvard::emulator {

class ChunkAssembler {
public:
    explicit ChunkAssembler(size_t capacity);

    // Takes one chunk. Returns a note when it discards an unfinished transfer (a new one started).
    std::string add(uint32_t offset, std::span<const uint8_t, kChunkBytes> data);

    // Checks the transfer against the size its store message states: every chunk from offset 0 up
    // to the size there, once and in order, and nothing beyond. Empty when it is complete, else why not.
    // zeroPadding: the bytes after the size in the last chunk must be 0x00 (IR chunks are padded so).
    std::string check(size_t size, bool zeroPadding) const;

    // The first size bytes received (valid after a successful check).
    std::span<const uint8_t> image(size_t size) const;

    void reset();
    bool active() const { return chunks_ > 0 || !error_.empty(); }
    size_t chunks() const { return chunks_; }

private:
    std::vector<uint8_t> buffer_;
    size_t chunks_ = 0;  // chunks of the current transfer, in order
    std::string error_;  // the first sequence fault of the current transfer
};

// Checks an IR image: a 44-byte RIFF/WAVE header for IEEE float, mono, 48000 Hz, 32 bits, with
// consistent size fields and nothing after the samples. Empty when valid, else why not.
std::string checkIrWavImage(std::span<const uint8_t> image);

// The version a firmware image carries in its last bytes: byte 131069 major, byte 131068 minor.
uint16_t firmwareImageVersion(std::span<const uint8_t> image);

}  // namespace halvard::emulator
