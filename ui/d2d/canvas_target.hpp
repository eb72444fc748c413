#pragma once
// The Direct2D back end's drawing context: a render target whose user space is in DIPs (its DPI
// gives the device scale), and the process's Direct2D and DirectWrite factories.
//
// Everything here is used on the user-interface thread only (the factory is single-threaded), or
// on the one thread that draws offscreen in tests and benchmarks.

#include <d2d1.h>
#include <dwrite.h>

#include <cstdint>

namespace halvard {

struct CanvasTarget {
    ID2D1RenderTarget* renderTarget = nullptr;
    // Names this render target among all the process has made: device bitmaps made for one target
    // are never used with another, even one that later takes the same address.
    uint64_t generation = 0;
    // Set by the canvas when ending a frame reported a lost device: the owner releases the render
    // target and makes a new one (with a new generation) before the next frame.
    bool deviceLost = false;
};

// A generation for a new render target.
uint64_t nextCanvasTargetGeneration();

// The process's single-threaded Direct2D factory and shared DirectWrite factory, made on first use
// and kept for the life of the process. Null when the system has none.
ID2D1Factory* direct2dFactory();
IDWriteFactory* directWriteFactory();

}  // namespace halvard
