#pragma once
// What the editor sends, built by hand for the emulator's tests (deliberately not with the editor's
// own builders: these tests check the emulator, and the emulator checks the editor).

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace halvard::emulator::testing {

using Bytes = std::vector<uint8_t>;

// F0 00, the payload, F7.
inline Bytes sysex(std::initializer_list<uint8_t> payload) {
    Bytes m{0xF0, 0x00};
    for (const uint8_t b : payload) m.push_back(b);
    m.push_back(0xF7);
    return m;
}

// The requests of one full sync for program p, in order: the version, the program, the six slot
// names.
inline std::vector<Bytes> syncConversation(uint8_t p) {
    std::vector<Bytes> m{sysex({0x0B}), sysex({0x02, p})};
    for (uint8_t s = 0; s < 6; ++s) m.push_back(sysex({0x04, s}));
    return m;
}

// A 44-byte IEEE-float mono 48 kHz WAV header followed by n samples of a ramp.
inline Bytes irImage(uint32_t n) {
    const uint32_t data = 4 * n;
    Bytes b(44 + data, 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    std::memcpy(&b[0], "RIFF", 4);
    put32(4, 36 + data);
    std::memcpy(&b[8], "WAVEfmt ", 8);
    put32(16, 16);
    b[20] = 3;  // IEEE float
    b[22] = 1;  // mono
    put32(24, 48000);
    put32(28, 192000);
    b[32] = 4;
    b[34] = 32;
    std::memcpy(&b[36], "data", 4);
    put32(40, data);
    for (uint32_t i = 0; i < n; ++i) {
        const float v = 0.5f - static_cast<float>(i) / static_cast<float>(n + 1);
        std::memcpy(&b[44 + 4 * i], &v, 4);
    }
    return b;
}

inline void pushNibbles(Bytes& m, uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) m.push_back(static_cast<uint8_t>((value >> (4 * i)) & 0x0F));
}

// One chunk of image at offset: F0 00 08 (or 07 for firmware), the offset nibbles, 512 data nibbles, F7.
inline Bytes chunk(const Bytes& image, uint32_t offset, bool firmware = false) {
    Bytes m{0xF0, 0x00, static_cast<uint8_t>(firmware ? 0x07 : 0x08)};
    pushNibbles(m, offset, firmware ? 6 : 4);
    for (uint32_t j = 0; j < 256; ++j) {
        const uint8_t byte = offset + j < image.size() ? image[offset + j] : 0;
        m.push_back(byte >> 4);
        m.push_back(byte & 0x0F);
    }
    m.push_back(0xF7);
    return m;
}

inline Bytes store(uint8_t target, uint16_t size, const std::string& name) {
    Bytes m{0xF0, 0x00, 0x09, target};
    pushNibbles(m, size, 4);
    for (size_t i = 0; i < 64; ++i) m.push_back(i < name.size() ? static_cast<uint8_t>(name[i]) : 0);
    m.push_back(0xF7);
    return m;
}

// The whole transfer of an image: every chunk, then the store.
inline std::vector<Bytes> irTransfer(const Bytes& image, uint8_t slot, const std::string& name) {
    std::vector<Bytes> messages;
    for (uint32_t o = 0; o < image.size(); o += 256) messages.push_back(chunk(image, o));
    messages.push_back(store(slot, static_cast<uint16_t>(image.size()), name));
    return messages;
}

inline Bytes firmwareImage(uint8_t major, uint8_t minor) {
    Bytes b(131072);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    b[131069] = major;
    b[131068] = minor;
    return b;
}

inline std::vector<Bytes> firmwareTransfer(const Bytes& image) {
    std::vector<Bytes> messages;
    for (uint32_t o = 0; o < image.size(); o += 256) messages.push_back(chunk(image, o, true));
    messages.push_back(store(0x10, 0xFFFF, "VDR.bin"));
    return messages;
}

}  // namespace halvard::emulator::testing
