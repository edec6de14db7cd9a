// The ad window: a picture centred in the upper area and a status strip with
// a progress bar and a message along the bottom. Layout, scaling, frame
// timing and every drawing rule are here; surface.h supplies the window.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "advertising/ad_image.h"
#include "advertising/canvas.h"
#include "advertising/host_memory.h"
#include "advertising/surface.h"

namespace ad {

using ClickFn = void (*)(void* argument);
using BitmapCache = std::map<int32_t, FrameBitmap, std::less<int32_t>,
                             HostAllocator<std::pair<const int32_t, FrameBitmap>>>;

struct AdWindow {
    Surface* handle = nullptr;
    uint8_t clickable = 0;
    uint8_t bar_shown = 0;
    uint8_t strip_enabled = 1;
    ClickFn click = nullptr;
    void* click_argument = nullptr;
    int32_t x = 0, y = 0;
    uint32_t parent = 0;
    Rgb background{255, 255, 255};
    Rgb bar_colour{205, 241, 0};
    Rgb strip_colour{192, 192, 192};
    Rgb text_colour{0, 0, 0};
    HostText message;
    int32_t client_width = 0, client_height = 0;
    int32_t scaled_width = 0, scaled_height = 0;
    int32_t picture_height = 0;
    int32_t strip_height = 0;
    AdImage* image = nullptr;
    AdFrame* current_frame = nullptr;
    HostBuffer scaled_pixels;
    int32_t frame_index = -1;
    uint32_t frame_start = 0;
    uint32_t frame_duration = 0;
    float progress = 0.0f;
    FrameBitmap* current_bitmap = nullptr;
    BitmapCache cache;
    // Kept for tests and the demo: how often each kind of repaint ran.
    uint32_t full_repaints = 0;
    uint32_t strip_repaints = 0;
};

// Pure layout rules.
int32_t strip_height_for(int32_t client_height);
bool strip_possible(int32_t client_width, int32_t client_height);
void scaled_size(int32_t frame_width, int32_t frame_height, int32_t area_width, int32_t area_height,
                 int32_t* width, int32_t* height);
int32_t bar_fill_width(int32_t client_width, float progress);

// Null when the window cannot be created; throws std::bad_alloc.
AdWindow* ad_window_create(uint32_t parent);
void ad_window_destroy(AdWindow* window);

void ad_window_set_colours(AdWindow* window, Rgb background, const Rgb* text, const Rgb* bar,
                           const Rgb* strip);
void ad_window_set_click_action(AdWindow* window, ClickFn click, void* argument);
// Takes ownership of `image` (may be null).
void ad_window_set_image(AdWindow* window, AdImage* image);
void ad_window_set_progress(AdWindow* window, float progress);
void ad_window_set_message(AdWindow* window, const char* message);

// Window events.
void ad_window_paint(AdWindow* window);  // full repaint
void ad_window_clicked(AdWindow* window);
bool ad_window_shows_finger(const AdWindow* window, bool finger_loaded);

}  // namespace ad
