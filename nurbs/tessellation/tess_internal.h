// Internal tables of the trimmed-surface tessellator, shared by the front end
// (trim polygons in the metric plane), the subdivision (cells and the corner
// grid) and the triangulation (cell pieces and neighbour rings).
#pragma once

#include <cstdint>

#include "nurbs/tessellation/tess_scratch.h"

namespace ruvane::tess {

// One trim polygon in the metric plane. The last point is not repeated.
struct Loop {
    Table<double> u;
    Table<double> v;
    double umin = 0, umax = 0, vmin = 0, vmax = 0;
    int group = 0;
    bool outer = false;
    // Mesh vertex given to each point by the triangulation, -1 until then.
    Table<int> vertex;
};

void update_box(Loop& loop);

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
// (11, 15, 17) after which the caller records the failure.
int triangulate_cells(Scratch& s, LoopSet& set, const CellGrid& grid, VertexTable& verts,
                      double eps, Table<Tri>& tris);

// Builds the neighbour lists of every vertex from the triangles. Returns 0 or
// an error code (15 storage, 17 inconsistent structure).
struct Rings {
    Table<int> start;  // per vertex, offset of its list in `entries`
    Table<int> count;  // per vertex, number of consecutive pairs
    Table<int> entries;
};
int build_rings(Scratch& s, int vertex_count, const Table<Tri>& tris, Rings& rings);

}  // namespace ruvane::tess
