// A picture of the tessellated scene for people: a small software
// rasteriser with a depth buffer, Lambert shading with a little ambient
// light and a soft highlight, seen from a fixed three-quarter view above the
// front right, fitted to the scene's bounds.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/sxplayer/scene.h"

namespace sxplayer {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // rows top-down
};

// z is up in the scene. An empty scene gives the backdrop alone.
Picture render_scene(const Scene& scene, int width, int height);

}  // namespace sxplayer
