// A 32-bit pixel buffer, rows top-down, each pixel 0x00RRGGBB (the byte order
// of a 32-bit DIB). On Windows it is the memory of a DIB section, natively a
// plain buffer; every rule of the ad window draws through these routines.
#pragma once

#include <cstdint>

namespace ad {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

inline uint32_t pixel_of(Rgb c) { return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b; }

struct Canvas {
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // pixels per row
    uint32_t at(int x, int y) const { return pixels[y * stride + x]; }
};

// Fills columns [left, right) and rows [top, bottom), clipped to the canvas.
void fill_rect(const Canvas& canvas, int left, int top, int right, int bottom, Rgb colour);

// A 24-bit picture as a DIB stores it: rows bottom-up, blue-green-red, each
// row `stride` bytes.
struct Dib24 {
    const uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
};

// Copies `width` x `height` pixels of the picture (its displayed top-left
// corner) to (x, y) of the canvas, clipped.
void copy_dib24(const Canvas& canvas, const Dib24& picture, int x, int y, int width, int height);

}  // namespace ad
