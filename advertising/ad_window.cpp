#include "advertising/ad_window.h"

#include <algorithm>
#include <cmath>

#include "advertising/pixmill_api.h"
#include "platform/platform.h"

namespace ad {

namespace {

constexpr int32_t kMinimumWidth = 32;
constexpr int32_t kMinimumHeight = 24;
constexpr int32_t kMinimumStrip = 16;
constexpr int32_t kMaximumStrip = 32;
constexpr int32_t kTextMargin = 5;

uint32_t now() { return sx::platform().tick_count(); }

void delete_cached_bitmaps(AdWindow* w) {
    for (auto& entry : w->cache) surface_delete_bitmap(w->handle, &entry.second);
    w->cache.clear();
    w->current_bitmap = nullptr;
}

void draw_picture_layer(AdWindow* w) {
    const Canvas c = surface_layer(w->handle, Layer::picture, w->client_width, w->picture_height);
    if (!c.pixels) return;
    if (!w->current_bitmap) {
        fill_rect(c, 0, 0, c.width, c.height, w->background);
    } else {
        const int32_t sw = w->scaled_width, sh = w->scaled_height;
        const int32_t x = (w->client_width - sw) / 2, y = (w->picture_height - sh) / 2;
        copy_dib24(c, w->current_bitmap->dib(), x, y, sw, sh);
        fill_rect(c, 0, 0, c.width, y, w->background);
        fill_rect(c, 0, y + sh, c.width, w->picture_height, w->background);
        fill_rect(c, 0, 0, x, w->picture_height, w->background);
        fill_rect(c, x + sw, 0, w->client_width, w->picture_height, w->background);
    }
    surface_present(w->handle, Layer::picture, 0);
}

void draw_bar(const Canvas& c, const AdWindow* w) {
    const int32_t s = c.height, width = c.width;
    fill_rect(c, 0, 0, width, 1, w->bar_colour);
    fill_rect(c, 0, s - 1, width, s, w->bar_colour);
    fill_rect(c, 0, 0, 1, s, w->bar_colour);
    fill_rect(c, width - 1, 0, width, s, w->bar_colour);
    const int32_t g = bar_fill_width(width, w->progress);
    if (g > 0) fill_rect(c, 1, 1, g + 1, s - 1, w->bar_colour);
    if (width - g - 2 > 0) fill_rect(c, g + 1, 1, width - 1, s - 1, w->strip_colour);
}

void draw_message(AdWindow* w) {
    if (w->message.empty()) return;
    const int32_t s = w->strip_height;
    const int32_t char_height = s * 2 / 3;
    int tw = 0, th = 0;
    surface_measure_text(w->handle, w->message.c_str(), char_height, &tw, &th);
    const int32_t x = std::max(w->client_width / 2 - tw / 2, kTextMargin);
    const int32_t y = (s - th) / 2;
    surface_draw_text(w->handle, Layer::strip, w->message.c_str(), char_height, x, y,
                      w->text_colour);
}

void draw_strip(AdWindow* w) {
    const Canvas c = surface_layer(w->handle, Layer::strip, w->client_width, w->strip_height);
    if (!c.pixels) return;
    if (w->bar_shown) {
        draw_bar(c, w);
    } else {
        fill_rect(c, 0, 0, c.width, c.height, w->strip_colour);
    }
    draw_message(w);
    surface_present(w->handle, Layer::strip, w->picture_height);
}

void repaint(AdWindow* w, bool full) {
    if (!w->strip_enabled) {
        const Canvas c =
            surface_layer(w->handle, Layer::picture, w->client_width, w->client_height);
        if (!c.pixels) return;
        fill_rect(c, 0, 0, c.width, c.height, w->background);
        surface_present(w->handle, Layer::picture, 0);
        ++w->full_repaints;
        return;
    }
    if (full) {
        draw_picture_layer(w);
        ++w->full_repaints;
    } else {
        ++w->strip_repaints;
    }
    draw_strip(w);
}

// The cached bitmap of the current frame, made from the scaled pixels when
// it is not cached yet.
void ensure_bitmap(AdWindow* w) {
    auto found = w->cache.find(w->frame_index);
    if (found != w->cache.end()) {
        w->current_bitmap = &found->second;
        return;
    }
    w->current_bitmap = nullptr;
    if (!w->scaled_pixels) return;
    const int32_t sw = w->scaled_width, sh = w->scaled_height;
    const int32_t rounded = (sw + 3) / 4 * 4;
    FrameBitmap bitmap;
    if (!surface_create_bitmap(w->handle, rounded, sh, &bitmap)) return;
    const uint8_t* source = w->scaled_pixels.data();
    for (int32_t row = 0; row < sh; ++row) {
        uint8_t* target = bitmap.bits + static_cast<long>(row) * rounded * 3;
        const uint8_t* from = source + static_cast<long>(row) * sw * 3;
        for (int32_t i = 0; i < sw; ++i) {
            target[3 * i] = from[3 * i + 2];
            target[3 * i + 1] = from[3 * i + 1];
            target[3 * i + 2] = from[3 * i];
        }
    }
    try {
        w->current_bitmap = &w->cache.emplace(w->frame_index, bitmap).first->second;
    } catch (...) {
        surface_delete_bitmap(w->handle, &bitmap);
        throw;
    }
    w->scaled_pixels.reset();
}

// Scales the new current frame unless its bitmap is cached already.
void prepare_frame(AdWindow* w) {
    const AdFrame* f = w->current_frame;
    scaled_size(f->width, f->height, w->client_width, w->picture_height, &w->scaled_width,
                &w->scaled_height);
    if (w->cache.count(w->frame_index) != 0) return;
    w->scaled_pixels.reset();
    const PixmillEntries* px = pixmill();
    if (!px || w->scaled_width <= 0 || w->scaled_height <= 0) return;
    HostBuffer scaled(static_cast<std::size_t>(w->scaled_width) * w->scaled_height * 3);
    px->scale(f->width, f->height, f->pixels.data(), nullptr, w->scaled_width, w->scaled_height,
              scaled.data(), nullptr);
    w->scaled_pixels = std::move(scaled);
}

// Moves to the frame under the image's cursor; true when it is a new frame.
bool advance_frame(AdWindow* w) {
    AdImage* image = w->image;
    AdFrame* previous = w->current_frame;
    const std::size_t index = image->cursor;
    w->current_frame = &image->frames[index];
    w->frame_duration = w->current_frame->duration;
    w->frame_index = static_cast<int32_t>(index);
    image->cursor = (index + 1) % image->frames.size();
    return w->current_frame != previous;
}

}  // namespace

int32_t strip_height_for(int32_t client_height) {
    const int32_t s = static_cast<int32_t>(static_cast<float>(client_height) * 0.05f);
    return std::clamp(s, kMinimumStrip, kMaximumStrip);
}

bool strip_possible(int32_t client_width, int32_t client_height) {
    return client_width >= kMinimumWidth && client_height >= kMinimumHeight;
}

void scaled_size(int32_t frame_width, int32_t frame_height, int32_t area_width, int32_t area_height,
                 int32_t* width, int32_t* height) {
    const float across = static_cast<float>(area_width) / static_cast<float>(frame_width);
    const float down = static_cast<float>(area_height) / static_cast<float>(frame_height);
    const float scale = std::min(across, down) * 0.95f;
    *width = static_cast<int32_t>(static_cast<float>(frame_width) * scale);
    *height = static_cast<int32_t>(static_cast<float>(frame_height) * scale);
}

int32_t bar_fill_width(int32_t client_width, float progress) {
    return static_cast<int32_t>(static_cast<float>(client_width - 2) * progress);
}

AdWindow* ad_window_create(uint32_t parent) {
    AdWindow* w = host_new<AdWindow>();
    w->parent = parent;
    try {
        w->handle = surface_create(parent, w, &w->client_width, &w->client_height);
    } catch (...) {
        host_delete(w);
        throw;
    }
    if (!w->handle) {
        host_delete(w);
        return nullptr;
    }
    if (!strip_possible(w->client_width, w->client_height)) {
        w->strip_enabled = 0;
    } else {
        w->strip_height = strip_height_for(w->client_height);
        w->picture_height = w->client_height - w->strip_height;
    }
    return w;
}

void ad_window_destroy(AdWindow* w) {
    if (!w) return;
    delete_cached_bitmaps(w);
    surface_destroy(w->handle);
    free_ad_image(w->image);
    host_delete(w);
}

void ad_window_set_colours(AdWindow* w, Rgb background, const Rgb* text, const Rgb* bar,
                           const Rgb* strip) {
    w->background = background;
    if (text) w->text_colour = *text;
    if (bar) w->bar_colour = *bar;
    if (strip) w->strip_colour = *strip;
}

void ad_window_set_click_action(AdWindow* w, ClickFn click, void* argument) {
    w->click = click;
    w->click_argument = argument;
}

void ad_window_set_image(AdWindow* w, AdImage* image) {
    delete_cached_bitmaps(w);
    free_ad_image(w->image);
    w->current_frame = nullptr;
    w->frame_index = -1;
    w->image = image;
    w->scaled_pixels.reset();
    ad_window_set_progress(w, 0.0f);
}

void ad_window_set_progress(AdWindow* w, float p) {
    if (std::isnan(p)) p = w->progress;
    p = std::clamp(p, 0.0f, 1.0f);
    const bool changed = p != w->progress;
    w->progress = p;
    const uint32_t t = now();
    if (w->strip_enabled && w->image &&
        (!w->current_frame || t - w->frame_start > w->frame_duration)) {
        if (advance_frame(w)) {
            prepare_frame(w);
            w->frame_start = t;
            ensure_bitmap(w);
            repaint(w, true);
            return;
        }
    }
    if (!changed) return;
    ensure_bitmap(w);
    repaint(w, false);
}

void ad_window_set_message(AdWindow* w, const char* message) {
    if (w->message == message) return;
    w->message.assign(message);
    repaint(w, false);
}

void ad_window_paint(AdWindow* w) { repaint(w, true); }

void ad_window_clicked(AdWindow* w) {
    if (w->click) w->click(w->click_argument);
}

bool ad_window_shows_finger(const AdWindow* w, bool finger_loaded) {
    return finger_loaded && w->clickable;
}

}  // namespace ad
