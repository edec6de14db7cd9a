// A plane needs no inner vertex: its boundary polygons, triangulated in the
// plane itself, are its best mesh (n + 2h - 2 triangles for n boundary points
// and h holes, no deviation anywhere).
#pragma once

#include "nurbs/geometry.h"
#include "nurbs/tessellation/tessellation.h"

namespace ruvane::tess {

// Above this many boundary points a plane takes the general path: the
// triangulation below costs the square of the point count.
constexpr int kPlanarMaxPoints = 2500;

// The share of the surface tolerance within which every control point must
// lie in one plane.
constexpr double kPlanarShare = 1e-3;

enum class Planar { kMeshed, kDeclined, kNoStorage };

struct PlanarMesh {
    Table<double> u, v;       // metric-plane coordinates, as the general path gives them
    Table<int> id;            // the caller's number of the fixed point
    Table<Point3> at;         // the surface point
    Table<int> first, count;  // per loop (outer first): its points
    Table<Tri> tris;          // counter-clockwise in the metric plane
    Point3 normal{};          // unit normal of the plane, on the side of Su x Sv
};

// Whether every control point (weights positive) lies within `tol` of one
// plane; *n then receives its unit normal on the side of Su x Sv.
bool plane_of_net(const Surface& sur, double tol, Point3* n);

// Triangulates the fixed loops of a planar surface (every loop fixed, the
// outer one counter-clockwise and the holes clockwise in the parameter
// plane) in the plane. kDeclined, with nothing else changed, for anything
// it cannot do cleanly: the general path then meshes the face.
Planar mesh_planar(Scratch& s, const Surface& sur, const FixedLoops& fixed, double A, double C,
                   PlanarMesh& out);

}  // namespace ruvane::tess
