// The trimmed-surface tessellator: trim polygons in the metric plane, adaptive
// subdivision of the surface, triangulation of the trimmed region.
#pragma once

#include "nurbs/nurbs.h"
#include "nurbs/tessellation/tess_internal.h"

namespace ruvane {

// Measures of the surface being tessellated, kept for the back end (the
// library runs one tessellation at a time).
struct TessGlobals {
    double u_min, u_max, v_min, v_max;  // parameter domain
    double Lu, Lv;                      // mean control-polygon lengths
    double Lu_max, Lv_max;              // their maxima
    double area;                        // Lu_max * Lv_max
    double su, sv;                      // metric-plane scales
    double c_prime;                     // param_tolerance * max(Lu, Lv)
};
extern TessGlobals g_tess;

// Test hook: called once per trim polygon as the triangulation receives it
// (metric plane, last point not repeated). Null by default.
using TessLoopObserver = void (*)(void* context, int loop, bool outer, const double* u,
                                  const double* v, int count);
void set_tess_loop_observer(TessLoopObserver observer, void* context);

// Test hook: called by the driver with the vertex table of every successful
// tessellation, before the triangles are evaluated. Null by default.
using TessMeshObserver = void (*)(void* context, const double* u, const double* v, int last,
                                  int* const* rings, const int* counts);
void set_tess_mesh_observer(TessMeshObserver observer, void* context);
void notify_mesh(const double* u, const double* v, int last, int* const* rings, const int* counts);

// The tessellator. Loops of one boundary group: `outer[g]` holds the curves
// of group g's outer loop (highest index outer_last[g]); `holes[g][h]` the
// curves of hole h (highest index hole_curve_last[g][h]); hole_last[g] is the
// highest hole index, -1 without holes. B, A, C are the trim, surface and
// parameter tolerances. The surface is reparametrised in place to the metric
// plane. Outputs live in `pool`: vertex coordinates u[0..*last], v[0..*last],
// per vertex its neighbour list rings[k] (counts[k] + 1 entries, -1 first for
// a vertex outside the mesh).
Status N_TESSUR(Surface* sur, Curve* const* const* outer, Curve* const* const* const* holes,
                int last_group, const int* outer_last, const int* hole_last,
                const int* const* hole_curve_last, double B, double A, double C, double** u,
                double** v, int* last, int*** rings, int** counts, Pool* pool);

// One trim curve piece to a polyline of (u, v) points in the parameter plane.
// The arrays live in `pool`; *count receives the number of points.
Status N_TESPTC(const Surface& sur, const Curve& piece, double B, double** u, double** v,
                int* count, Pool* pool);

// Back end: subdivides the (reparametrised) surface until each cell is flat
// within A, builds the corner grid and the seam partners.
Status N_TESSUB(Surface* sur, tess::LoopSet& loops, double A, double c_prime, tess::Scratch& s,
                tess::CellGrid& grid, tess::VertexTable& verts);

// Triangulates the leaf cells and writes the vertex table with its rings.
Status N_TESDEL(tess::Scratch& s, tess::LoopSet& loops, const tess::CellGrid& grid,
                tess::VertexTable& verts, double c_prime, tess::Rings& rings);

}  // namespace ruvane
