// NURBS curves and surfaces: construction (IGES argument order), knot spans and
// basis functions, evaluation, reversal, derivatives and normals, and the tools
// the tessellator uses (segments, iso-curves, component access).
//
// `side` 1 takes knot spans closed on the left, 2 closed on the right.
#pragma once

#include "nurbs/conventions.h"
#include "nurbs/geometry.h"
#include "nurbs/storage.h"

namespace ruvane {

// Curve from highest point index K, degree M, knots T[0..K+M+1], weights
// W[0..K], points P[0..K], clipped to [V0, V1] and knot-cleaned.
Status N_IGS126(int K, int M, const double* T, const double* W, const Point3* P, double V0,
                double V1, Curve* cur, Pool* pool);
// Surface from highest indices K1 (u), K2 (v), degrees M1, M2, knots S[0..K1+M1+1]
// and T[0..K2+M2+1], weights W[i][j] and points P[i][j] (i along u), clipped to
// [U0, U1] x [V0, V1] and knot-cleaned.
Status N_IGS128(int K1, int K2, int M1, int M2, const double* S, const double* T,
                const double* const* W, const Point3* const* P, double U0, double U1, double V0,
                double V1, Surface* sur, Pool* pool);
// Knot vector T[0..m] of degree p valid for [V0, V1] (code 4).
Status N_IGSVKB(const double* T, int m, int p, double V0, double V1);
// Clamps a curve / surface to the given range by knot insertion (shape kept).
Status N_IGSCCP(Curve* cur, double V0, double V1);
Status N_IGSSCP(Surface* sur, double U0, double U1, double V0, double V1);
// Reduces interior knot multiplicities above the degree to the degree, and end
// runs to degree + 1.
Status N_IGSCSK(Curve* cur);
Status N_IGSSSK(Surface* sur);

// Span index of u (code 6 outside the knots, 13 for an unknown side).
Status N_KNTFSP(const KnotVector& knt, int p, double u, int side, int* span);
// Span index and multiplicity of u among the knots.
Status N_KNTFSM(const KnotVector& knt, int p, double u, int side, int* span, int* multiplicity);
// The p + 1 non-zero basis functions N[0..p] at u and their span.
Status N_KNTALB(const KnotVector& knt, int p, double u, int side, double* N, int* span);
// Basis functions and their derivatives up to order nd: ders[k * (p + 1) + r]
// is the k-th derivative of N[span - p + r].
Status N_KNTABD(const KnotVector& knt, int p, double u, int side, int nd, double* ders, int* span);
// Derivatives of the rational basis functions of one surface span:
// R[((k * (g + 1) + l) * (p + 1) + i) * (q + 1) + j] = d^(k+l) R_ij / du^k dv^l for
// the span-local indices i, j, from the plain derivatives du (f+1 rows of p+1),
// dv (g+1 rows of q+1) and the local weights w[i * (q + 1) + j]. Entries with
// k + l > f are skipped when `triangular`.
Status N_KNTASD(int p, int q, int f, int g, bool triangular, const double* du, const double* dv,
                const double* w, double* R);

// Curve point Cw(u), homogeneous (project with project_point).
Status N_CUREVN(const Curve& cur, int side, double u, Point4* Cw);
// Reverses a clamped curve into `dst` (which may be `src`; in place needs no storage).
Status N_CURREV(const Curve* src, Curve* dst, Pool* pool);

// Partial derivatives S_kl for k <= f, l <= g into skl[k][l]; with selector 1
// and f == g only k + l <= f are formed.
Status N_SURDER(const Surface& sur, int side, double u, double v, int f, int g, int selector,
                Point3** skl);
// Surface point (projected) without derivatives.
Status N_SUREVN(const Surface& sur, int side, double u, double v, Point3* S);
// N_SUREVN (side 1) for many points close to one another: where u (v) lies
// strictly inside the span in hint[0] (hint[1]) the span search is skipped,
// and each hint becomes the span found. The same point, checks and records
// as N_SUREVN; hints start at -1.
Status surface_point_near(const Surface& sur, double u, double v, int hint[2], Point3* S);
// The point of N_SUREVN from the basis functions N_KNTALB gave at u (span
// su) and at v (span sv): for many points on few parameter lines.
Point3 surface_point_of_basis(const Surface& sur, const double* Nu, int su, const double* Nv,
                              int sv);
// The same point in two steps, for many points on one u parameter line:
// first the sums of the net's columns j_first .. j_first + count - 1 over
// the u basis (span su), then for each point the sums of its v span's
// columns (sums[0] for column sv - q) over its v basis. Each point is
// surface_point_of_basis's to the bit.
struct ColumnSum {
    double x, y, z, w;
};
void surface_column_sums(const Surface& sur, const double* Nu, int su, int j_first, int count,
                         ColumnSum* out);
Point3 surface_point_of_sums(const Surface& sur, const ColumnSum* sums, const double* Nv);
// Point, unit tangents and unit normal; code 17 at degenerate points.
Status N_SURNOR(const Surface& sur, int side, double u, double v, Point3* S, Point3* Su, Point3* Sv,
                Point3* normal);

// Segment of a curve on [a, b] as a new clamped curve in `dst` (fresh or reused).
Status N_TOOCCP(const Curve& src, double a, double b, Curve* dst, Pool* pool);
// Piece of a surface on [u0, u1] x [v0, v1] in `dst` (code 14 for a bad rectangle).
Status N_TOOSSG(const Surface& src, double u0, double u1, double v0, double v1, Surface* dst,
                Pool* pool);
// The two segments N_TOOSSG gives of src over [u0, u1] x [v0, v1] cut at t
// across `direction` (1: at u = t, 2: at v = t), `lo` below t and `hi`
// above, to the bit; the knots at t are inserted once for both.
Status segment_halves(const Surface& src, double u0, double u1, double v0, double v1, int direction,
                      double t, Surface* lo, Surface* hi);
// Iso-curve: direction 1 fixes u = t (a curve along v), direction 2 fixes v = t.
Status N_TOOSCX(const Surface& src, int direction, double t, Curve* dst, Pool* pool);

// Component access.
Status U_CURCMP(const Curve& cur, int* n, int* p, int* m, Point4** Pw, double** U);
Status U_SURCMP(const Surface& sur, int* n, int* m, int* p, int* q, double** U, double** V,
                Point4*** Pw);
// The control points of a parameter-plane curve (x = u, y = v), clamped into
// the surface's domain and mapped onto the surface: out[0..n] (code 7).
Status U_MAPCPL(const Surface& sur, const Curve& cur, Point3* out);

}  // namespace ruvane
