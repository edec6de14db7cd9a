// The trimmed-surface tessellator: trim polygons in the metric plane, adaptive
// subdivision of the surface, triangulation of the trimmed region.
#pragma once

#include "include/ruvane.h"
#include "nurbs/nurbs.h"
#include "nurbs/tessellation/tess_internal.h"

namespace ruvane {

// Measures of the surface being tessellated, found by the front end and read
// by the back end.
struct SurfaceMeasures {
    double u_min, u_max, v_min, v_max;  // parameter domain
    double Lu, Lv;                      // mean control-polygon lengths
    double Lu_max, Lv_max;              // their maxima
    double area;                        // Lu_max * Lv_max
    double su, sv;                      // metric-plane scales
    double c_prime;                     // param_tolerance * max(Lu, Lv)
    // Chord tolerance of the mesh boundary: the trim tolerance, made finer
    // where the face is small or narrow for its outline; 0 for none.
    double edge_tolerance;
};

// The surface's domain, net measures and metric-plane scales (all of
// SurfaceMeasures up to `area`, and `su`, `sv`); fails, with the error
// recorded, where the scales do not exist.
Status take_measures(const Surface& sur, SurfaceMeasures& g);

// The three tolerances of a tessellation: trim polygons, surface flatness,
// and the parameter-plane distance used in multiples for coincidence.
struct Tolerances {
    double trim;
    double surface;
    double parameter;
};

// Watches a tessellation from inside (tests, tools). Every hook is optional.
class TessObserver {
public:
    virtual ~TessObserver() = default;
    // Once per trim polygon as the triangulation receives it (metric plane,
    // last point not repeated).
    virtual void on_loop(int /*loop*/, bool /*outer*/, const double* /*u*/, const double* /*v*/,
                         int /*count*/) {}
    // The vertex table of every successful tessellation, before the driver
    // evaluates the triangles.
    virtual void on_mesh(const double* /*u*/, const double* /*v*/, int /*last*/,
                         int* const* /*rings*/, const int* /*counts*/) {}
};

// Trim loops given as fixed polylines in the parameter plane, already turned
// as the tessellator wants them (outer counter-clockwise, holes clockwise).
struct FixedLoop {
    const double* u = nullptr;
    const double* v = nullptr;
    const int* id = nullptr;  // the caller's number of each point
    int count = 0;            // 0: the loop is polygonised from its curves
};

struct FixedLoops {
    // Per loop of the group (outer, then holes): its points and their
    // numbers; count 0 for a loop polygonised from its curves.
    double** u = nullptr;
    double** v = nullptr;
    int** id = nullptr;
    int* count = nullptr;
    int loops = 0;
    // After a successful N_TESSUR, per mesh vertex (in its pool): the number
    // of the fixed point it is, -1 for none, -2 for a vertex left on a fixed
    // loop between two of its points; `left` counts the latter.
    int* vertex_id = nullptr;
    int left = 0;
    FixedLoop at(int k) const {
        if (k >= loops || count[k] == 0) return {};
        return {u[k], v[k], id[k], count[k]};
    }
};

// Everything one tessellation call shares between its stages; one per call,
// so nothing of it outlives the call or is seen by another.
struct TessContext {
    Tolerances tol{};
    SurfaceMeasures measures{};
    TessObserver* observer = nullptr;
    FixedLoops* fixed = nullptr;  // none unless the caller fixed some loops
    bool simplify = true;         // remove the vertices the tolerance does not need
    bool planar = true;           // mesh planes with fixed loops from their boundary alone
    bool boundary = true;         // and curved faces whose boundary triangles fit the surface
    bool rows = true;             // mesh faces that turn round an axis as zipped rings
};

// The driver behind the exported entry point, with an explicit context.
// With `fixed` (one entry per loop: outer, then holes), the loops whose
// entry has points are taken as those polylines; *left receives the number
// of vertices the mesh had to keep on them between their points.
bool tessellate_surface(TessContext& ctx, TriangleSink sink, const TrimmedSurfaceDesc* surface,
                        int32_t* status, void* user, const FixedLoopDesc* fixed = nullptr,
                        int32_t* left = nullptr);

// The tessellator. Loops of one boundary group: `outer[g]` holds the curves
// of group g's outer loop (highest index outer_last[g]); `holes[g][h]` the
// curves of hole h (highest index hole_curve_last[g][h]); hole_last[g] is the
// highest hole index, -1 without holes. The tolerances come from `ctx`,
// which also receives the surface's measures. The surface is reparametrised
// in place to the metric plane. Outputs live in `pool`: vertex coordinates
// u[0..*last], v[0..*last], per vertex its neighbour list rings[k]
// (counts[k] + 1 entries, -1 first for a vertex outside the mesh).
Status N_TESSUR(TessContext& ctx, Surface* sur, Curve* const* const* outer,
                Curve* const* const* const* holes, int last_group, const int* outer_last,
                const int* hole_last, const int* const* hole_curve_last, double** u, double** v,
                int* last, int*** rings, int** counts, Pool* pool);

// One trim curve piece to a polyline of (u, v) points in the parameter plane.
// The arrays live in `pool`; *count receives the number of points.
Status N_TESPTC(const Surface& sur, const Curve& piece, double B, double** u, double** v,
                int* count, Pool* pool);

// Back end: subdivides the (reparametrised) surface until each cell is flat
// within A, builds the corner grid and the seam partners.
Status N_TESSUB(const SurfaceMeasures& g, Surface* sur, tess::LoopSet& loops, double A,
                double c_prime, tess::Scratch& s, tess::CellGrid& grid, tess::VertexTable& verts);

// Triangulates the leaf cells and writes the vertex table with its rings.
Status N_TESDEL(const SurfaceMeasures& g, tess::Scratch& s, tess::LoopSet& loops,
                const tess::CellGrid& grid, tess::VertexTable& verts, double c_prime,
                tess::Rings& rings, tess::FixedSettle* settle = nullptr);

}  // namespace ruvane
