// The component library itself: the exports live in the core, which this
// library links whole. What stays here is the check that the records crossing
// the boundary keep the layout the player was built against.
#include <cstddef>

#include "include/ruvane.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(CurveDesc, order) == 0 && offsetof(CurveDesc, count) == 4);
static_assert(offsetof(CurveDesc, points) == 8 && offsetof(CurveDesc, weights) == 12);
static_assert(offsetof(CurveDesc, reserved) == 16 && offsetof(CurveDesc, knots) == 20);
static_assert(sizeof(CurveDesc) == 24);
static_assert(offsetof(TrimLoopDesc, count) == 0 && offsetof(TrimLoopDesc, curves) == 4);
static_assert(sizeof(TrimLoopDesc) == 8);
static_assert(offsetof(FixedLoopDesc, points) == 4 && sizeof(FixedLoopDesc) == 8);
static_assert(offsetof(TrimmedSurfaceDesc, u_order) == 0);
static_assert(offsetof(TrimmedSurfaceDesc, v_order) == 4);
static_assert(offsetof(TrimmedSurfaceDesc, u_knot_count) == 8);
static_assert(offsetof(TrimmedSurfaceDesc, v_knot_count) == 12);
static_assert(offsetof(TrimmedSurfaceDesc, u_knots) == 16);
static_assert(offsetof(TrimmedSurfaceDesc, v_knots) == 20);
static_assert(offsetof(TrimmedSurfaceDesc, reserved) == 24);
static_assert(offsetof(TrimmedSurfaceDesc, points) == 28);
static_assert(offsetof(TrimmedSurfaceDesc, weights) == 32);
static_assert(offsetof(TrimmedSurfaceDesc, outer_count) == 36);
static_assert(offsetof(TrimmedSurfaceDesc, outer_curves) == 40);
static_assert(offsetof(TrimmedSurfaceDesc, inner_count) == 44);
static_assert(offsetof(TrimmedSurfaceDesc, inner_loops) == 48);
static_assert(sizeof(TrimmedSurfaceDesc) == 52);
static_assert(offsetof(TessVertex, position) == 0 && offsetof(TessVertex, u) == 24);
static_assert(offsetof(TessVertex, v) == 32 && offsetof(TessVertex, reserved) == 40);
static_assert(offsetof(TessVertex, normal) == 48 && sizeof(TessVertex) == 72);
static_assert(offsetof(TessTriangle, vertex) == 0 && offsetof(TessTriangle, face_normal) == 216);
static_assert(sizeof(TessTriangle) == 240);
static_assert(sizeof(bool) == 1 && sizeof(int32_t) == 4 && sizeof(double) == 8);
#endif
