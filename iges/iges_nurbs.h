// Exact NURBS constructions for the IGES reader: curves and surfaces as
// homogeneous control points (x w, y w, z w, w), knot insertion, clipping,
// degree elevation, the circle and conic arcs, and evaluation.
#pragma once

#include <cstddef>
#include <vector>

namespace ruvane::iges {

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

// A NURBS curve of any dimension (4 for a rational 3D curve; a surface
// direction is a curve whose points are whole rows of the net).
struct HCurve {
    int degree = 1;
    int dim = 4;
    std::vector<double> knots;   // count + degree + 1
    std::vector<double> points;  // count * dim
    int count() const { return dim > 0 ? static_cast<int>(points.size()) / dim : 0; }
    double first() const { return knots[static_cast<size_t>(degree)]; }
    double last() const { return knots[static_cast<size_t>(count())]; }
};

// A rational surface; point (i, j) is entry j * nu + i (u runs fastest).
struct HSurface {
    int du = 1, dv = 1;
    int nu = 0, nv = 0;
    std::vector<double> uk, vk;
    std::vector<double> points;  // nu * nv * 4, homogeneous
};

// How a parameter of the IGES parameter space becomes the NURBS parameter:
// the identity, or an arc's angle, which the rational arc of `segments`
// equal pieces over [from, to] runs through with the tangent of half the
// angle (exact, monotone).
struct ParamMap {
    bool angular = false;
    double from = 0, to = 1;
    double sweep = 0;  // total angle of the arc
    int segments = 1;
    double apply(double t) const;
};

// Knot vector well formed: non-decreasing, clamped ends not required,
// finite, count matching. False for anything else.
bool valid(const HCurve& c);

void insert_knot(HCurve* c, double t, int times);
// The piece over [a, b] (inside the curve's range), clamped at both ends.
bool clip(HCurve* c, double a, double b);
// Same shape with the degree raised to `degree` (more knots, C0 at the
// old knots; exact).
void elevate(HCurve* c, int degree);
// Reparametrises affinely onto [a, b].
void remap(HCurve* c, double a, double b);
void reverse(HCurve* c);
// Same degree, same knots, shapes unchanged (both remapped to [0, 1]).
void make_compatible(HCurve* a, HCurve* b);
// Pieces joined end to start into one curve over [0, pieces], each piece
// remapped onto [k, k + 1]; degrees raised to the highest.
HCurve join(std::vector<HCurve> pieces);
// Homogeneous point at t (dim values).
void evaluate(const HCurve& c, double t, double* out);
Vec3 point3(const HCurve& c, double t);

// The counter-clockwise arc in the plane z = 0 around `center` of `radius`
// from angle a0 to a1 (a1 > a0, at most 2 pi), knots from a0 to a1.
HCurve arc(double cx, double cy, double z, double radius, double a0, double a1, ParamMap* map);
HCurve line(const Vec3& a, const Vec3& b);

// Rows of a surface as a curve along u (each point is a column of nv points)
// and back; the same along v.
HCurve along_u(const HSurface& s);
HCurve along_v(const HSurface& s);
void from_u(const HCurve& c, HSurface* s);
void from_v(const HCurve& c, HSurface* s);
Vec3 surface_point(const HSurface& s, double u, double v);

}  // namespace ruvane::iges
