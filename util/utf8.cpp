#include "util/utf8.hpp"

#include <cstdint>

namespace halvard {

size_t utf8CharLength(std::string_view text, size_t i) {
    const auto b = static_cast<uint8_t>(text[i]);
    const size_t length = b < 0x80                 ? 1
                          : b >= 0xC2 && b <= 0xDF ? 2
                          : b >= 0xE0 && b <= 0xEF ? 3
                          : b >= 0xF0 && b <= 0xF4 ? 4
                                                   : 0;
    if (length <= 1) return length;
    if (i + length > text.size()) return 0;
    // The second byte's range also rules out overlong forms, surrogates and code points past
    // U+10FFFF.
    const auto second = static_cast<uint8_t>(text[i + 1]);
    const uint8_t low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    const uint8_t high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if ((static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) return 0;
    return length;
}

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = utf8CharLength(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    return out;
}

std::string printableUtf8(std::string_view text) {
    const std::string valid = validUtf8(text);
    std::string out;
    out.reserve(valid.size());
    for (size_t i = 0; i < valid.size(); ++i) {
        const auto c = static_cast<unsigned char>(valid[i]);
        // C1 controls are U+0080..U+009F: C2 80..C2 9F.
        const bool c1 = c == 0xC2 && i + 1 < valid.size() && static_cast<unsigned char>(valid[i + 1]) < 0xA0;
        if (c < 0x20 || c == 0x7F || c1) {
            out += '?';
            i += c1 ? 1 : 0;
            continue;
        }
        out += valid[i];
    }
    return out;
}

std::string latin1ToUtf8(std::string_view latin1, bool printable) {
    std::string out;
    out.reserve(latin1.size());
    for (const char ch : latin1) {
        const auto c = static_cast<unsigned char>(ch);
        if (printable && (c < 0x20 || (c >= 0x7F && c < 0xA0))) {
            out += '?';
            continue;
        }
        char bytes[2];
        out.append(bytes, latin1CharToUtf8(c, bytes));
    }
    return out;
}

}  // namespace halvard
