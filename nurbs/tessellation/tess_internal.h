// Internal tables of the trimmed-surface tessellator, shared by the front end
// (trim polygons in the metric plane), the subdivision (cells and the corner
// grid) and the triangulation (cell pieces and neighbour rings).
#pragma once

#include <cstdint>

#include "nurbs/tessellation/tess_scratch.h"

namespace ruvane {
struct Surface;
}

namespace ruvane::tess {

// A computed value rounded to double. Where the compiler keeps intermediates
// in wider registers (the x87 stack), one copy of a value may be rounded on
// its way through memory while another is not, and the same expression then
// compares unequal to itself; the triangulation's sector and side tests
// compare such values exactly.
inline double to_double(double x) {
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0
    volatile double y = x;
    return y;
#else
    return x;
#endif
}

// std::fmax and std::fmin as the library works them out (a NaN gives way to
// the other value; of two equal values the second), inline: without
// -ffast-math they are library calls, and the flatness test, the trim
// chords' deviation and the plane path's box tests ask for them by the
// thousand.
inline double larger(double a, double b) { return a > b || b != b ? a : b; }
inline double smaller(double a, double b) { return a < b || b != b ? a : b; }

// Buckets of a loop's segments (point i to point i + 1) over its box, so
// that a cell or a ray meets the few segments near it instead of all of
// them. Each segment sits in every bucket its box, padded, overlaps; points
// may later move by less than the pad without the index going stale.
struct SegmentIndex {
    int nu = 0, nv = 0;  // buckets along u and v; 0 when the loop has none
    double u0 = 0, v0 = 0, du = 1, dv = 1;
    Table<int> start;  // nu * nv + 1 offsets into items (v rows, u fastest)
    Table<int> items;  // segment numbers, ascending within a bucket
    int column(double u) const;
    int row(double v) const;
};

// One trim polygon in the metric plane. The last point is not repeated.
struct Loop {
    Table<double> u;
    Table<double> v;
    double umin = 0, umax = 0, vmin = 0, vmax = 0;
    int group = 0;
    bool outer = false;
    // Mesh vertex given to each point by the triangulation, -1 until then.
    Table<int> vertex;
    // A fixed loop is a boundary polyline the caller gave: its points are
    // the polygon as they are, and `id` holds the caller's number of each.
    bool fixed = false;
    Table<int> id;
    SegmentIndex index;
};

void update_box(Loop& loop);

// Builds the loop's segment index (long loops only; short ones are scanned)
// with segment boxes padded by `pad`. False on storage failure.
bool index_loop(Scratch& s, Loop& loop, double pad);

// Calls f(i) for every segment i whose padded box may meet the box
// [ua, ub] x [va, vb]: each at least once, some more than once; for a loop
// without an index, every segment once in order.
template <class F>
void for_segments_near(const Loop& loop, double ua, double ub, double va, double vb, F f) {
    const SegmentIndex& x = loop.index;
    if (x.nu == 0) {
        for (int i = 0; i < loop.u.size; ++i) f(i);
        return;
    }
    const int i0 = x.column(ua), i1 = x.column(ub), j0 = x.row(va), j1 = x.row(vb);
    for (int j = j0; j <= j1; ++j)
        for (int i = i0; i <= i1; ++i) {
            const int b = j * x.nu + i;
            for (int k = x.start[b]; k < x.start[b + 1]; ++k) f(x.items[k]);
        }
}

// The trim polygons of all boundary groups, outer loop of a group first.
struct LoopSet {
    Table<Loop> loops;
};

// A leaf cell of the subdivision: its box in the metric plane, its corners in
// the corner grid and its classification against the trim polygons.
struct Leaf {
    double ua, ub, va, vb;
    int i0, i1, j0, j1;
    int16_t code;
};

// What the subdivision hands to the triangulation.
struct CellGrid {
    Table<double> us;  // distinct u' of the corner grid, ascending
    Table<double> vs;  // distinct v' of the corner grid, ascending
    Table<int> index;  // us.size x vs.size vertex indices (u fastest), -1 when empty
    Table<Leaf> leaves;
    int at(int i, int j) const { return index[j * us.size + i]; }
};

// The vertex table the tessellator returns: metric-plane coordinates and,
// per vertex, its neighbours in counter-clockwise order. A list that starts
// with -1 marks a vertex outside the mesh. A vertex whose triangles form more
// than one fan around it lists the fans one after the other, separated by the
// vertex's own index, so that no pair of consecutive entries joins two fans.
struct VertexTable {
    Table<double> u;
    Table<double> v;
};

// Liang-Barsky: whether the segment PQ meets the closed box [ua, ub] x [va, vb];
// when it does, the box sides (0: u = ua, 1: u = ub, 2: v = va, 3: v = vb)
// that cut its start and its end, left alone where none does.
bool clip_to_box(double pu, double pv, double qu, double qv, double ua, double ub, double va,
                 double vb, int& side0, int& side1);

// Classification of the cell [ua, ub] x [va, vb] against the trim polygons
// with tolerance t: -1 outside, 0 crossed by a polygon, 1 inside, 2 holding a
// whole polygon, 3 crossed by one polygon while holding another.
int classify_cell(const LoopSet& set, double ua, double ub, double va, double vb, double t);

// Whether a point lies in the trimmed region: inside the outer loop of a
// boundary group and outside every hole of that group.
bool inside_region(const LoopSet& set, double u, double v);

// Triangle of the mesh, counter-clockwise in the metric plane.
struct Tri {
    int a, b, c;
};

// Cuts every leaf cell by the trim polygons and triangulates the pieces in
// the trimmed region. Grows `verts` by the new vertices (polygon points and
// crossings). `eps` is the coincidence distance. Returns 0, or the error code
// (11, 15, 17) after which the caller records the failure. `quads` false
// sends plain four-corner cells through the advancing front too (the same
// triangles, made the long way).
int triangulate_cells(Scratch& s, LoopSet& set, const CellGrid& grid, VertexTable& verts,
                      double eps, Table<Tri>& tris, bool quads = true);

// Builds the neighbour lists of every vertex from the triangles. Returns 0 or
// an error code (15 storage, 17 inconsistent structure).
struct Rings {
    Table<int> start;  // per vertex, offset of its list in `entries`
    Table<int> count;  // per vertex, number of consecutive pairs
    Table<int> entries;
};
int build_rings(Scratch& s, int vertex_count, const Table<Tri>& tris, Rings& rings);

// What the triangulation leaves on fixed loops between their points (where
// cell lines cross a fixed segment) is collapsed along the loop onto a
// neighbour; `left` lists the vertices that could not be.
struct FixedSettle {
    const ruvane::Surface* sur;  // reparametrised to the metric plane
    double A;                    // surface tolerance
    Table<int> left;
};

// Removes those vertices from `tris` (dropping the triangles that collapse)
// where every changed triangle keeps its orientation in the metric plane and
// stays within A of the surface. Returns 0 or an error code (15 storage).
int settle_fixed_loops(Scratch& s, FixedSettle& settle, LoopSet& set, const VertexTable& verts,
                       double eps, Table<Tri>& tris);

}  // namespace ruvane::tess
