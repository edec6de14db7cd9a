// Trim loops given as fixed boundary polylines: their polygons and the
// numbers of the mesh vertices that carry their points.
#pragma once

#include "nurbs/tessellation/tessellation.h"

namespace ruvane::tess {

// Whether the net's first and last rows (direction 1: the first and last
// points of every row along u; 2: of every column along v) are one within
// 1e-7: the surface closes over its bounds in that direction.
bool net_closes(const ControlNet& net, int direction);

// The loop's polygon is the given points, in the parameter plane.
bool build_fixed_loop(const FixedLoop& in, Scratch& s, Loop& loop);

// Moves a fixed loop to the metric plane: points clamped into the domain,
// within 7 C of a domain bound put on it, repeated points dropped.
void finish_fixed_loop(const SurfaceMeasures& g, Loop& loop, double C);

// Per mesh vertex: the number of the fixed point it carries, -1 for none,
// -2 for a vertex left on a fixed loop. Null on storage failure.
int* fixed_vertex_ids(const LoopSet& set, const FixedSettle& settle, int vertex_count, Pool* pool);

}  // namespace ruvane::tess
