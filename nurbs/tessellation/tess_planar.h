// A plane needs no inner vertex: its boundary polygons, triangulated in the
// plane itself, are its best mesh (n + 2h - 2 triangles for n boundary points
// and h holes, no deviation anywhere). Many curved faces of a model need
// none either (a cylinder between two circles): their boundary polygons,
// triangulated in the metric plane, are kept when every triangle stays
// near the surface.
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

// Share of the surface tolerance a curved face's boundary triangle may
// stray from the surface at its samples (as vertex removal allows), unless
// one of its edges is a fixed chord straying more.
constexpr double kBoundaryMargin = 0.8;
// The triangle's normal within about 45 degrees of the surface's at each corner.
constexpr double kBoundaryFacing = 0.7;
// Below this |Su x Sv| in the metric plane a corner is a pole or an apex:
// the boundary triangles then decline.
constexpr double kBoundaryDegenerate = 1e-6;

enum class Planar { kMeshed, kDeclined, kNoStorage };

struct PlanarMesh {
    Table<double> u, v;       // metric-plane coordinates, as the general path gives them
    Table<int> id;            // the caller's number of the fixed point
    Table<Point3> at;         // the surface point
    Table<int> first, count;  // per loop (outer first): its points
    Table<Tri> tris;          // counter-clockwise in the metric plane
    Point3 normal{};          // unit normal of the plane, on the side of Su x Sv
    SurfaceMeasures measures{};
    Table<Point3> normals;  // curved surfaces: the unit normal per point
    double bend = 0.0;      // and the bend at which an ear's worth halves
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

// The same for a curved surface (a plane declines): the loops triangulated
// in the metric plane, then every triangle held against the surface at the
// middles of its edges, its centroid and halfway from there to the edge
// middles. Each sample may stray kBoundaryMargin A, or as far as the middle
// of a fixed chord among the triangle's edges strays; the triangle's normal
// must face as the surface's does at each corner. The first failure
// declines, with nothing else changed.
Planar mesh_boundary(Scratch& s, const Surface& sur, const FixedLoops& fixed, double A, double C,
                     PlanarMesh& out);

// Maps the surface's knots onto the metric plane [0, Lu] x [0, Lv], as the
// general path does before it meshes.
void to_metric_plane(Surface& sur, const SurfaceMeasures& g);

}  // namespace ruvane::tess
