#include "advertising/canvas.h"

#include <algorithm>

namespace ad {

void fill_rect(const Canvas& canvas, int left, int top, int right, int bottom, Rgb colour) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, canvas.width);
    bottom = std::min(bottom, canvas.height);
    const uint32_t value = pixel_of(colour);
    for (int y = top; y < bottom; ++y) {
        uint32_t* row = canvas.pixels + static_cast<long>(y) * canvas.stride;
        std::fill(row + left, row + std::max(left, right), value);
    }
}

void copy_dib24(const Canvas& canvas, const Dib24& picture, int x, int y, int width, int height) {
    width = std::min(width, picture.width);
    height = std::min(height, picture.height);
    for (int row = 0; row < height; ++row) {
        const int cy = y + row;
        if (cy < 0 || cy >= canvas.height) continue;
        const uint8_t* source =
            picture.bits + static_cast<long>(picture.height - 1 - row) * picture.stride;
        uint32_t* target = canvas.pixels + static_cast<long>(cy) * canvas.stride;
        for (int column = 0; column < width; ++column) {
            const int cx = x + column;
            if (cx < 0 || cx >= canvas.width) continue;
            const uint8_t* p = source + column * 3;
            target[cx] = (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
        }
    }
}

}  // namespace ad
