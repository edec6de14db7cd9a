// What the ad window asks of the windowing system. Two implementations:
// surface_win32.cpp (a subclassed child window, DIB sections, GDI text) and
// surface_posix.cpp (the emulated screen with a TrueType rasteriser). Both
// draw nothing themselves beyond text: the rules live in ad_window.cpp.
#pragma once

#include <cstdint>

#include "advertising/canvas.h"

namespace ad {

struct AdWindow;
struct Surface;  // the platform's side of one ad window

// A cached frame: a 24-bit bottom-up bitmap whose width is a multiple of 4.
struct FrameBitmap {
    void* handle = nullptr;  // the bitmap object on Windows
    uint8_t* bits = nullptr;
    int width = 0;  // rounded
    int height = 0;
    Dib24 dib() const { return {bits, width, height, width * 3}; }
};

// The two off-screen layers: the picture area (or the whole client area when
// the strip is disabled) and the status strip.
enum class Layer { picture, strip };

// Creates the child window over the parent's client area and attaches
// `owner` to it. Null when the window cannot be made.
Surface* surface_create(uint32_t parent, AdWindow* owner, int* width, int* height);
void surface_destroy(Surface* surface);

bool surface_create_bitmap(Surface* surface, int width, int height, FrameBitmap* out);
void surface_delete_bitmap(Surface* surface, FrameBitmap* bitmap);

// The off-screen layer of that size, ready to be drawn on (pixels null on failure).
Canvas surface_layer(Surface* surface, Layer layer, int width, int height);
// The layer as last drawn, without changing it (empty when never drawn).
Canvas surface_current_layer(const Surface* surface, Layer layer);
// Copies the layer to the window with its top at row `y`.
void surface_present(Surface* surface, Layer layer, int y);

// Text of the message font: "Arial" at `char_height` pixels.
void surface_measure_text(Surface* surface, const char* text, int char_height, int* width,
                          int* height);
void surface_draw_text(Surface* surface, Layer layer, const char* text, int char_height, int x,
                       int y, Rgb colour);

}  // namespace ad
