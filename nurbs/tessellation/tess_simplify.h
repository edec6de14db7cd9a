// Vertex removal after triangulation: the cell grid leaves far more
// vertices than the surface tolerance needs on flat and gently curved
// parts, so vertices are collapsed into a neighbour while every triangle
// they change stays close to the surface.
#pragma once

#include <cstdint>

#include "nurbs/tessellation/tessellation.h"

namespace ruvane::tess {

// The point and first derivatives of each vertex, shared between the
// simplification and the caller's later normals so that no vertex is
// evaluated twice. state: -1 not yet evaluated, 0 the evaluation failed,
// 1 S, Su and Sv hold what N_SURDER gave at the vertex.
struct VertexDerivatives {
    Point3* S = nullptr;
    Point3* Su = nullptr;
    Point3* Sv = nullptr;
    std::int16_t* state = nullptr;  // null: nothing shared
};

struct SimplifyInput {
    const Surface* sur;  // reparametrised to the metric plane
    const double* u;     // vertex coordinates in the metric plane
    const double* v;
    int count;                // vertices
    double Lu, Lv;            // the domain is [0, Lu] x [0, Lv]
    double A;                 // surface tolerance
    const int* fixed_id;      // per vertex, -1 unless it must stay; may be null
    VertexDerivatives known;  // read and filled when its state is given
};

// Share of the surface tolerance a changed triangle may use, measured on its
// samples (which bound the distance of its edge middles and centroid).
constexpr double kSimplifyMargin = 0.8;

// Half-edge collapses, flattest vertex first, of interior vertices and of
// boundary vertices lying on the straight line of their two boundary
// neighbours (only along it, so the boundary keeps its shape). Vertices on
// the domain's bounds, fixed vertices and degenerate points stay. Rewrites
// `tris` without the removed triangles; *removed receives the number of
// vertices taken out. Returns 0 or kErrStorage.
int simplify_mesh(Scratch& s, const SimplifyInput& in, Table<Tri>& tris, int* removed);

}  // namespace ruvane::tess
