// The ad window on the emulated screen: a child window whose pixels the
// layers are copied into, as BitBlt copies them on Windows.
#include <cstring>

#include "advertising/host_memory.h"
#include "advertising/posix/screen.h"
#include "advertising/surface.h"

namespace ad {

struct Surface {
    uint32_t window = 0;
    HostBuffer layers[2];
    Canvas canvases[2];
};

namespace {
int slot(Layer layer) { return layer == Layer::picture ? 0 : 1; }
}  // namespace

Surface* surface_create(uint32_t parent, AdWindow*, int* width, int* height) {
    int w = 0, h = 0;
    if (!sxscreen::client_size(parent, &w, &h)) return nullptr;
    Surface* s = host_new<Surface>();
    s->window = sxscreen::create_window(parent, 0, 0, w, h);
    if (!s->window) {
        host_delete(s);
        return nullptr;
    }
    *width = w;
    *height = h;
    return s;
}

void surface_destroy(Surface* s) {
    if (!s) return;
    sxscreen::destroy_window(s->window);
    host_delete(s);
}

bool surface_create_bitmap(Surface*, int width, int height, FrameBitmap* out) {
    HostBuffer bits(static_cast<std::size_t>(width) * height * 3);
    out->bits = bits.data();
    out->handle = new (host_allocate(sizeof(HostBuffer))) HostBuffer(std::move(bits));
    out->width = width;
    out->height = height;
    return true;
}

void surface_delete_bitmap(Surface*, FrameBitmap* bitmap) {
    host_delete(static_cast<HostBuffer*>(bitmap->handle));
    *bitmap = FrameBitmap{};
}

Canvas surface_current_layer(const Surface* s, Layer layer) { return s->canvases[slot(layer)]; }

Canvas surface_layer(Surface* s, Layer layer, int width, int height) {
    Canvas& c = s->canvases[slot(layer)];
    if (c.width != width || c.height != height || !c.pixels) {
        HostBuffer memory(static_cast<std::size_t>(width) * height * 4 + 4);
        s->layers[slot(layer)] = std::move(memory);
        c = Canvas{reinterpret_cast<uint32_t*>(s->layers[slot(layer)].data()), width, height,
                   width};
    }
    return c;
}

void surface_present(Surface* s, Layer layer, int y) {
    const Canvas& c = s->canvases[slot(layer)];
    int w = 0, h = 0;
    uint32_t* target = sxscreen::window_pixels(s->window);
    if (!target || !c.pixels || !sxscreen::client_size(s->window, &w, &h)) return;
    for (int row = 0; row < c.height && y + row < h; ++row) {
        if (y + row < 0) continue;
        const int count = c.width < w ? c.width : w;
        std::memcpy(target + static_cast<long>(y + row) * w, c.pixels + row * c.stride,
                    static_cast<std::size_t>(count) * 4);
    }
}

void surface_measure_text(Surface*, const char* text, int char_height, int* width, int* height) {
    sxscreen::measure_text(text, char_height, width, height);
}

void surface_draw_text(Surface* s, Layer layer, const char* text, int char_height, int x, int y,
                       Rgb colour) {
    const Canvas& c = s->canvases[slot(layer)];
    if (!c.pixels) return;
    sxscreen::draw_text(c.pixels, c.width, c.height, c.stride, text, char_height, x, y,
                        pixel_of(colour));
}

}  // namespace ad
