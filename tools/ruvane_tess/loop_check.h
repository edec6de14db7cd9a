// Checks of the trim loops the library accepts without a word: a loop whose
// curves do not join up, and a loop that crosses itself. The library still
// tessellates such input (its result is then unspecified), so the tool warns.
#pragma once

#include <string>
#include <vector>

#include "tools/ruvane_tess/surface_json.h"

namespace ruvane_tess {

// One warning line per open or self-crossing loop ("outer loop", "hole 3").
// Curves are sampled through the component's curve services, so the host
// table must be installed.
std::vector<std::string> check_loops(const SurfaceData& surface);

}  // namespace ruvane_tess
