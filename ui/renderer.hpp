#pragma once
// The panel renderer: one complete frame from a consistent view of the device mirror, drawn with
// the canvas primitives, each control from its entry in the frame's control table.
//
// Called on the user-interface thread only, inside an open canvas frame. It keeps nothing between
// frames and allocates nothing.

#include <optional>

#include "model/device_mirror.hpp"
#include "ui/hit_regions.hpp"
#include "ui/panel_controls.hpp"

namespace halvard {

class Canvas;

// Draws the whole panel for `view` on the canvas's surface (its size in DIPs), with the IR panel
// on top when it is open, and the keyboard's focus ring around `focus` while that control acts.
// `layout` is the control table of this view and surface (layoutControls); the hover highlights are
// read from `regions`. The caller has applied BYPASS LOCK to the view (applyBypassLock).
// While the COLLECTION view is open its rows draw the entries of `collection`.
void drawPanel(Canvas& canvas, const MirrorView& view, const PanelLayout& layout, const HitRegions& regions,
               std::optional<ControlId> focus = std::nullopt, const CollectionShown& collection = {});

// While BYPASS LOCK is on, the current program's bypass is held at 0: clears it in the view the
// frame draws and in the mirror (only when it is set, so an idle frame takes no lock for it).
void applyBypassLock(DeviceMirror& mirror, MirrorView& view);

// Where the amplifier picture goes in a surface of W x H DIPs: centred right of the left column
// and below the top rows, scaled by `scale` (never above 1). x0, y0 are in the coordinates that
// the scale multiplies, so the picture is drawn with setScale(scale) at (x0, y0, 1200, 1000).
// A surface with no room for the picture gives scale 0, and no picture is drawn.
struct PictureLayout {
    float scale;
    int x0;
    int y0;
};
PictureLayout pictureLayout(int surfaceWidth, int surfaceHeight);

}  // namespace halvard
