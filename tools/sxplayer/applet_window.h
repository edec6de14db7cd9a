// The player's applet window, which the ad becomes a child of: a real
// top-level window on Windows, a window of the emulated screen natively.
#pragma once

#include <cstdint>
#include <vector>

namespace sxplayer {

// 0 when the window cannot be made.
uint32_t create_applet_window(int width, int height);
void destroy_applet_window(uint32_t window);

// Runs the message loop, calling `tick` every `period_ms` milliseconds
// until it returns false.
using TickFn = bool (*)(void* argument);
void run_timer_loop(uint32_t window, uint32_t period_ms, TickFn tick, void* argument);

// The window's client area as shown, children included (0x00RRGGBB, top-down).
bool capture_window(uint32_t window, std::vector<uint32_t>* pixels, int* width, int* height);
int child_window_count(uint32_t window);

}  // namespace sxplayer
