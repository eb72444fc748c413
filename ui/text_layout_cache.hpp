#pragma once
// For the canvas back ends: their laid-out texts kept between frames, looked up without allocating.
// A layout is reused while its text, format, box and settings stay the same. The box height matters
// only for a multi-line text cut to the box; it is 0 in every other key.
//
// Used on the canvas's thread only.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace halvard {

struct LayoutKeyView {
    std::string_view text;
    int font, width, height, hAlign;
    bool singleLine, trimmed;
};

struct LayoutKey {
    std::string text;
    int font, width, height, hAlign;
    bool singleLine, trimmed;
    explicit LayoutKey(const LayoutKeyView& k)
        : text(k.text),
          font(k.font),
          width(k.width),
          height(k.height),
          hAlign(k.hAlign),
          singleLine(k.singleLine),
          trimmed(k.trimmed) {}
    LayoutKeyView view() const { return {text, font, width, height, hAlign, singleLine, trimmed}; }
};

struct LayoutHash {
    using is_transparent = void;
    size_t operator()(const LayoutKeyView& k) const {
        size_t h = std::hash<std::string_view>{}(k.text);
        for (int v : {k.font, k.width, k.height, k.hAlign, int(k.singleLine), int(k.trimmed)}) {
            h ^= static_cast<size_t>(v) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        }
        return h;
    }
    size_t operator()(const LayoutKey& k) const { return (*this)(k.view()); }
};

struct LayoutEq {
    using is_transparent = void;
    static bool same(const LayoutKeyView& a, const LayoutKeyView& b) {
        return a.text == b.text && a.font == b.font && a.width == b.width && a.height == b.height &&
               a.hAlign == b.hAlign && a.singleLine == b.singleLine && a.trimmed == b.trimmed;
    }
    bool operator()(const LayoutKey& a, const LayoutKey& b) const { return same(a.view(), b.view()); }
    bool operator()(const LayoutKeyView& a, const LayoutKey& b) const { return same(a, b.view()); }
    bool operator()(const LayoutKey& a, const LayoutKeyView& b) const { return same(a.view(), b); }
};

// Entry: the back end's layout, with a `uint64_t lastUsed` frame number.
template <class Entry>
using LayoutMap = std::unordered_map<LayoutKey, Entry, LayoutHash, LayoutEq>;

inline constexpr uint64_t kLayoutIdleFrames = 600;  // a layout unused this long is dropped
inline constexpr size_t kLayoutCacheLimit = 4096;   // above this, everything unused this frame goes

// Where a laid-out text of the given height starts in the box (top, height): vAlign 0 centred, 1 top,
// any other value bottom.
inline double layoutTop(int vAlign, double boxTop, double boxHeight, double height) {
    return vAlign == 1   ? boxTop
           : vAlign == 0 ? boxTop + (boxHeight - height) / 2
                         : boxTop + boxHeight - height;
}

// Drops stale layouts every 64th frame, or at once when the cache is over its limit; release(entry)
// frees what an entry holds.
template <class Entry, class Release>
void sweepLayouts(LayoutMap<Entry>& layouts, uint64_t frame, Release release) {
    const bool full = layouts.size() > kLayoutCacheLimit;
    if (!full && frame % 64 != 0) return;
    for (auto it = layouts.begin(); it != layouts.end();) {
        const bool stale =
            full ? it->second.lastUsed != frame : it->second.lastUsed + kLayoutIdleFrames < frame;
        if (stale) {
            release(it->second);
            it = layouts.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace halvard
