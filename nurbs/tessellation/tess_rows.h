// Faces that turn round an axis (a ball, a ring, a profile revolved a full
// turn) meshed as rings: closed rows of points at parameter values across
// the direction that does not close, each row with the point count it needs
// itself, neighbouring rows zipped into strips. A strip between closed rows
// of n and m chords takes n + m triangles and leaves no hanging point, so
// the short rows near a pole or on a ring's inner side cost only what they
// need, where the cell lattice gives every row the widest row's columns.
#pragma once

#include "nurbs/tessellation/tess_planar.h"

namespace ruvane::tess {

// Rounds of refinement (rows given more points) before the face declines.
constexpr int kRowsRounds = 16;
// Above this many points the face takes the general path.
constexpr int kRowsMaxPoints = 200000;
// Share of A a triangle's samples may stray from the surface.
constexpr double kRowsMargin = 0.9;
// Share of that the chords across the rows may sag: an equilateral
// triangle's centroid strays 4/3 of its edges' middles, and its height is
// 0.87 of its side (sag 0.75): 0.75 / (4/3).
constexpr double kRowSpacing = 0.5625;

struct RowsInput {
    const Surface* sur = nullptr;
    // Every loop fixed (the model mesher), or null: the face's own outer
    // loop, whose curves must then run along the domain's bounds.
    const FixedLoops* fixed = nullptr;
    Curve* const* outer = nullptr;
    int outer_last = -1;
    int holes = 0;
    double A = 0.0, B = 0.0, C = 0.0;  // surface, trim and parameter tolerances
};

// Meshes a surface closed in one parameter direction (or both) whose only
// loop is its domain's boundary (a side collapsed to a point is fine) as
// zipped rows. Every triangle is held to the surface as mesh_boundary holds
// its triangles; a strip that fails gets more points in its rows, a bounded
// number of times. kDeclined, with nothing else changed, for any other face
// or when the strips do not pass.
Planar mesh_rows(Scratch& s, const RowsInput& in, PlanarMesh& out);

// Whether mesh_rows would try the face as rows: the surface closes and is
// not flat and, without fixed loops, its own loop runs along the domain's
// bounds. A caller that fixes the face's loops gets rows that sit on its
// seam points when the seam's chords sag no more than kRowSpacing x
// kRowsMargin x A.
bool takes_rows(const RowsInput& in);

// Whether a face that chooses its own rows (no fixed loops) is one they pay
// on, its rings running along parameter direction d (0: u): a surface of
// revolution (a rational net) whose rings' control polygons differ in
// length by half or more, or shrink to a point (a pole). A cylinder's
// rings are all alike and the lattice is as sparse there, and a closed
// free-form face pays the rows' sampling only to decline as often as not:
// both keep the general path, without the rows' sampling.
bool rows_pay(const Surface& sur, int d);

}  // namespace ruvane::tess
