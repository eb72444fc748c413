#include "ir/ir_image.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <string>

#include "util/paths.hpp"

namespace halvard {
namespace {

void put32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

void put16(uint8_t* at, uint16_t v) {
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
}

void putTag(uint8_t* at, const char (&tag)[5]) {
    std::copy_n(tag, 4, at);
}

// Length in bytes of the UTF-8 sequence that starts at text[i], or 0 when it is not a valid one
// (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, or cut short).
size_t utf8SequenceLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    size_t length;
    uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

// The name field carries 7-bit text only (a byte of 0x80 or above would break the SysEx message), so
// each character outside ASCII becomes one "_".
std::string asciiUpperCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<uint8_t>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            ++i;
        } else {
            out += '_';
            i += std::max<size_t>(1, utf8SequenceLength(text, i));
        }
    }
    return out;
}

void cutAtLast(std::string& text, std::string_view marker) {
    const size_t at = text.rfind(marker);
    if (at != std::string::npos) text.resize(at);
}

IrName nameField(std::string_view text) {
    std::string name = asciiUpperCase(text);
    cutAtLast(name, ".");
    cutAtLast(name, ".WAVE");
    cutAtLast(name, ".WAV");
    IrName out;
    std::copy_n(name.begin(), std::min(name.size(), kIrNameBytes), out.field.begin());
    return out;
}

}  // namespace

std::optional<IrWavImage> buildIrWavImage(std::span<const float> samples) {
    constexpr uint64_t kMaxDataBytes = std::numeric_limits<uint32_t>::max() - 36;
    const uint64_t dataBytes = uint64_t{4} * samples.size();
    if (dataBytes > kMaxDataBytes) return std::nullopt;

    IrWavImage image(kIrWavHeaderBytes + dataBytes);
    uint8_t* h = image.data();
    putTag(h + 0, "RIFF");
    put32(h + 4, static_cast<uint32_t>(36 + dataBytes));
    putTag(h + 8, "WAVE");
    putTag(h + 12, "fmt ");
    put32(h + 16, 16);
    put16(h + 20, 3);  // IEEE float
    put16(h + 22, 1);  // mono
    put32(h + 24, kIrSampleRate);
    put32(h + 28, kIrSampleRate * 4);
    put16(h + 32, 4);
    put16(h + 34, 32);
    putTag(h + 36, "data");
    put32(h + 40, static_cast<uint32_t>(dataBytes));
    uint8_t* out = h + kIrWavHeaderBytes;
    for (float s : samples) {
        put32(out, std::bit_cast<uint32_t>(s));
        out += 4;
    }
    return image;
}

std::optional<IrWavImage> buildIrWavImage(const FactoryIrImage& image) {
    return buildIrWavImage(std::span<const float>(image.samples, static_cast<size_t>(image.frameCount())));
}

std::string_view IrName::text() const {
    const auto* bytes = reinterpret_cast<const char*>(field.data());
    return std::string_view(bytes, std::find(field.begin(), field.end(), 0) - field.begin());
}

IrName irNameFromFileName(std::string_view path) {
    return nameField(lastPathComponent(path));
}

IrName irNameFromLabel(std::string_view label) {
    return nameField(label);
}

}  // namespace halvard
