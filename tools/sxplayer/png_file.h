// PNG files of RGB pictures, written through the platform's file functions
// so that a Windows path works in both builds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sxplayer {

// `rgb` holds width x height pixels, three bytes each, rows top-down.
bool write_png(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height);

}  // namespace sxplayer
