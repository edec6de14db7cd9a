// The loop orientation test of the tessellation driver.
#pragma once

#include "include/ruvane.h"

namespace ruvane {

// True for a loop that runs clockwise in the (u, v) plane (or a degenerate
// one), false for a counter-clockwise loop; judged at the control point with
// the smallest x (then y) from its nearest distinct neighbours. An empty
// loop, or one whose points all lie within 1e-6 of that point, gives true.
bool loop_orientation(const CurveDesc* curves, int count);

// Null when the three tolerances of a tessellation can be used (surface and
// trim tolerance finite and at least 1e-7, parameter tolerance finite,
// positive and not denormal; NaN never), else the routine that refuses the
// first bad one.
const char* refused_tolerance(double surface, double trim, double param);

}  // namespace ruvane
