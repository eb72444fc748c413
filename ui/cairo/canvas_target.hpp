#pragma once
// The Cairo back end's drawing context: a cairo context whose user space is in DIPs (GTK gives the
// window's so, with the scale factor as the surface's device scale).

#include <cairo.h>

namespace halvard {

struct CanvasTarget {
    cairo_t* cr = nullptr;
};

}  // namespace halvard
