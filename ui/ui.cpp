#include "ui/ui.hpp"

#include <cstdio>

namespace halvard {

namespace {

constexpr int kColumnWidth = 250;   // the left column
constexpr int kBottomBar = 21;      // height of the bottom bar
constexpr int kPictureWidth = 1200;
constexpr int kPictureHeight = 1000;

// A box of the top row: a pill, lit or dark, with its text centred in the first tw DIPs.
void topRowBox(Canvas& c, int x, int w, int tw, bool lit, std::string_view text) {
    c.fillRect(x, 7, w, 27, 13, lit ? kColorTextLight : kColorPanel);
    c.drawText(x, 4, tw, 33, lit ? kColorPanel : kColorTextLight, 1, kAlignCentre, kAlignMiddle, text, true);
}

}  // namespace

PictureLayout pictureLayout(int w, int h) {
    // Single precision throughout, as the placement rule is defined.
    const float sx = 1.0f / (static_cast<float>(kPictureWidth) / static_cast<float>(w - 300));
    const float sy = 1.0f / (static_cast<float>(kPictureHeight) / static_cast<float>(h - 150));
    float s = sy < sx ? sy : sx;
    if (s > 1.0f) s = 1.0f;
    const auto left = static_cast<float>(static_cast<int>((static_cast<float>(w - kColumnWidth) - s * kPictureWidth) * 0.5f +
                                                          kColumnWidth));
    const auto top = static_cast<float>(static_cast<int>((static_cast<float>(h - 90) - s * kPictureHeight) * 0.5f + 90));
    return {s, static_cast<int>(left / s), static_cast<int>(top / s)};
}

Ui::Ui(PlatformState& platform) : platform_(platform) {
    platform_.handler = [this](PlatformEvent event) { onEvent(event); };
}

Ui::~Ui() { platform_.handler = nullptr; }

void Ui::onEvent(PlatformEvent event) {
    switch (event) {
        case PlatformEvent::Paint:
            renderPanel();
            break;
        default:
            break;
    }
}

void Ui::renderPanel() {
    Canvas* canvas = platform_.canvas;
    if (!canvas) return;
    Canvas& c = *canvas;
    const int w = platform_.surfaceWidth;
    const int h = platform_.surfaceHeight;
    const MirrorView m = view();

    c.fillRect(0, 0, w, h, 0, kColorWindow);  // the only clearing of the surface
    renderLogo(c);
    c.fillRect(0, 98, kColumnWidth, h - 98, 0, kColorPanel);  // the left column
    c.fillRect(kColumnWidth, 41, 1, h - 41, 0, kColorRule);
    renderPicture(c, m, w, h);
    renderBottomBar(c, m, w, h);
    renderConnectionBox(c, m);
}

void Ui::renderLogo(Canvas& c) {
    c.fillRect(0, 0, kColumnWidth, 98, 0, kColorPanel);
    c.fillMask(60, 8, 130, 82, &assets::logoBadgeMask, kColorAccent);
    c.drawImage(60, 8, 130, 82, &assets::logoBadge);
}

void Ui::renderPicture(Canvas& c, const MirrorView& m, int w, int h) {
    const PictureLayout p = pictureLayout(w, h);
    const ProgramSettings& r = m.current;
    const int ch = r.channel != 0 ? 1 : 0;
    c.setScale(p.scale);
    c.drawImage(p.x0, p.y0, kPictureWidth, kPictureHeight, &assets::ampPhoto);
    // Overlays cut from the sprite pictures at the same place: the part (px, py, pw, ph).
    auto overlay = [&](const ImageAsset& sprites, int px, int py, int pw, int ph) {
        c.drawImagePart(px, py, pw, ph, p.x0 + px, p.y0 + py, pw, ph, &sprites);
    };
    for (int i = 0; i < 2; ++i) {  // the IR toggles; a choice of 2 (or anything else) shows the photo's own
        const int py = i == 0 ? 303 : 528;
        if (r.ir[i] == 0) overlay(assets::ampSpritesLeft, 593, py, 37, 34);
        if (r.ir[i] == 1) overlay(assets::ampSpritesLit, 593, py, 37, 34);
    }
    if (r.reverb[ch] != 0) overlay(assets::ampSpritesLit, 230, 307, 34, 31);
    if (r.tremolo[ch] != 0) overlay(assets::ampSpritesLit, 230, 532, 34, 31);
    if (r.bypass == 0) overlay(assets::ampSpritesLit, 936, r.channel == 0 ? 307 : 532, 34, 31);
    c.setScale(1.0f);
}

void Ui::renderBottomBar(Canvas& c, const MirrorView& m, int w, int h) {
    c.fillRect(0, h - kBottomBar, w, kBottomBar, 0, kColorAccent);
    c.drawText(w - 180, h - kBottomBar, 80, kBottomBar, kColorPoweredBy, 0, kAlignLeading, kAlignMiddle, "POWERED BY",
               true);
    c.fillMask(w - 105, h - 15, 93, 9, &assets::poweredByMark, kColorPanel);

    char version[48];
    std::snprintf(version, sizeof version, "FIRMWARE VERSION %d.%d.0", m.firmwareVersion >> 8, m.firmwareVersion & 0xff);
    auto status = [&](std::string_view text, int x, int width, int align) {
        c.drawText(x, h - kBottomBar, width, kBottomBar, kColorStatusText, 1, align, kAlignMiddle, text, true);
    };
    if (m.linkState == LinkState::Connected && m.irPanelSlot <= 0) {
        status(version, 10, 280, kAlignLeading);
        return;
    }
    // Not connected, busy, in error, or the IR panel is open: a veil, then the progress.
    if (m.irPanelSlot <= 0) {
        c.fillRect(0, 0, w, h - kBottomBar, 0, kColorDim);
    } else {
        c.fillRect(kColumnWidth, 0, w - kColumnWidth, h - kBottomBar, 0, kColorDim);
    }
    if (m.progress < 0) {
        if (m.linkState != LinkState::NoDevice) status(version, 10, 280, kAlignLeading);
    } else if (m.progress == kProgressStoring) {
        status("STORING...", 10, 80, kAlignLeading);
    } else if (m.progress == kProgressReading) {
        status("READING...", 10, 80, kAlignLeading);
    } else {
        char percent[16];
        std::snprintf(percent, sizeof percent, "%d%%", m.progress);
        status(percent, 10, 80, kAlignLeading);
        if (m.availableFirmware > m.firmwareVersion) {
            status("UPDATE IN PROGRESS... DO NOT POWER DOWN", 10, w - 10, kAlignCentre);
        }
    }
}

void Ui::renderConnectionBox(Canvas& c, const MirrorView& m) {
    const bool lit = m.linkState != LinkState::NoDevice;
    const std::string_view text = m.linkState == LinkState::NoDevice ? "NO DEVICE"
                                  : m.linkState == LinkState::Error  ? "ERROR"
                                                                     : "CONNECTED";
    topRowBox(c, 260, 120, 100, lit, text);
    c.fillMask(352, 9, 23, 23, &assets::iconConnection, lit ? kColorPanel : kColorTextDim);
}

}  // namespace halvard
