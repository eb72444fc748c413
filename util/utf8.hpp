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

// text with every byte that is not part of a character replaced by U+FFFD.
std::string validUtf8(std::string_view text);

}  // namespace halvard
