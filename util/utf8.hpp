#pragma once
// UTF-8 as the program checks and shows it: the names it keeps must be UTF-8, and text from
// elsewhere (a file name in another encoding, say) is made UTF-8 before a window or a screen reader
// is given it.

#include <cstddef>
#include <string>
#include <string_view>

namespace halvard {

// The length of the character that starts at text[i] (1 to 4 bytes), or 0 when the bytes there are
// not one: a stray continuation byte, an overlong form, a surrogate, a code point past U+10FFFF, or
// a character cut short by the end.
size_t utf8CharLength(std::string_view text, size_t i);

// How many bytes of UTF-8 text fit into maxBytes: all of it, or as many as end before a whole
// character, never inside one.
inline size_t utf8BytesThatFit(std::string_view text, size_t maxBytes) {
    size_t n = text.size() < maxBytes ? text.size() : maxBytes;
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}

// text with every byte that is not part of a character replaced by U+FFFD.
std::string validUtf8(std::string_view text);

// The same for a terminal, by latin1ToUtf8's printable rule: control characters (C0, DEL and C1)
// become '?' as well. For names any local program may choose (a MIDI port's).
std::string printableUtf8(std::string_view text);

// A Latin-1 character (as the amplifier's slot names are) in UTF-8: its one or two bytes in out, and
// their count.
inline size_t latin1CharToUtf8(unsigned char c, char (&out)[2]) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
}

// Latin-1 text in UTF-8. printable: for a terminal, control characters (C0, DEL and C1) become '?',
// so that a name cannot move the cursor or retitle the window.
std::string latin1ToUtf8(std::string_view latin1, bool printable = false);

}  // namespace halvard
