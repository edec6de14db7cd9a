#include "advertising/posix/screen.h"
#include "platform/platform.h"
#include "tools/sxplayer/applet_window.h"

namespace sxplayer {

uint32_t create_applet_window(int width, int height) {
    const uint32_t window = sxscreen::create_window(0, 0, 0, width, height);
    if (uint32_t* pixels = sxscreen::window_pixels(window)) {
        for (int i = 0; i < width * height; ++i) pixels[i] = 0x404040;  // the applet's backdrop
    }
    return window;
}

void destroy_applet_window(uint32_t window) { sxscreen::destroy_window(window); }

void run_timer_loop(uint32_t, uint32_t period_ms, TickFn tick, void* argument) {
    while (tick(argument)) sx::platform().sleep_ms(period_ms);
}

bool capture_window(uint32_t window, std::vector<uint32_t>* pixels, int* width, int* height) {
    *pixels = sxscreen::capture(window, width, height);
    return !pixels->empty();
}

int child_window_count(uint32_t window) {
    return static_cast<int>(sxscreen::children(window).size());
}

}  // namespace sxplayer
