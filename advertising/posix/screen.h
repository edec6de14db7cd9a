// The emulated screen of the native build: windows are numbered pixel
// buffers (0x00RRGGBB, rows top-down) in a parent/child tree, and text is
// rasterised from a TrueType file. It stands where the windowing system
// stands on Windows, so the host (which creates the applet window) and the
// ad library (which creates its child) share one instance in the process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sxscreen {

// A new window of the given client size at (x, y) of `parent` (0: top level).
// Returns its number, 0 when the parent does not exist or the size is negative.
uint32_t create_window(uint32_t parent, int x, int y, int width, int height);
void destroy_window(uint32_t window);  // children go with it
bool window_exists(uint32_t window);
bool client_size(uint32_t window, int* width, int* height);
// The window's own pixels, width x height; null for an unknown window.
uint32_t* window_pixels(uint32_t window);
std::vector<uint32_t> children(uint32_t window);

// The window as the user sees it: its pixels with its children drawn over them.
std::vector<uint32_t> capture(uint32_t window, int* width, int* height);

// Text in the sans-serif face whose em is `char_height` pixels, as a
// character height given to the windowing system is.
bool measure_text(const char* text, int char_height, int* width, int* height);
// Draws with a transparent background; the top of the text cell is at y.
void draw_text(uint32_t* pixels, int width, int height, int stride, const char* text,
               int char_height, int x, int y, uint32_t colour);

// Writes pixels as an RGB PNG file.
bool save_png(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height);

}  // namespace sxscreen
