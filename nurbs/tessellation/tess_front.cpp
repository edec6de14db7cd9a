// N_TESSUR and its front end: trim curves split at corners, pieces along the
// domain edge recognised, the others turned into polylines by N_TESPTC, and
// the polygons moved to the metric plane, where a unit of length is roughly a
// unit of model length.
#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <utility>

#include "nurbs/tessellation/tess_fixed.h"
#include "nurbs/tessellation/tess_simplify.h"
#include "nurbs/tessellation/tessellation.h"

namespace ruvane {

namespace {

using tess::Loop;
using tess::LoopSet;
using tess::Scratch;
using tess::Table;

// Longest run of N_TESPTC's starting steps: the deviation test refines each
// interval anyway, so a finer start only costs time on long curves.
constexpr int kMaxStartSteps = 4096;
// Refinement steps of one interval before it is taken as it is.
constexpr int kMaxBisections = 200;
// Longest polyline of one trim curve piece, and the most deviation
// measurements spent on it: a piece that needs more (one that races far out
// of the domain and back) cannot be followed within the tolerance.
constexpr int kMaxPolylinePoints = 1 << 16;
constexpr int kMaxDeviations = 100000;
// Largest sine of the turn between the control polygon's legs at a join
// that still counts as smooth. Curves handed over as Bezier segments turn
// by up to some 5e-5 at their joins, where the legs are short; a chord
// across a turn of 1e-3 strays from it by well under a thousandth of its
// length, and the march measures every chord anyway.
constexpr double kSmoothTurn = 1e-3;

Point3 curve_point(const Curve& c, double t, bool* ok) {
    Point4 w;
    if (N_CUREVN(c, 1, t, &w) != kOk) {
        *ok = false;
        return {0, 0, 0};
    }
    return project_point(w);
}

double clamp(double x, double lo, double hi) { return std::fmin(std::fmax(x, lo), hi); }

// The area between a loop's chords and its curves in the metric plane
// (su and sv its scales), positive where the curve runs to the right of
// its chord: what the polygon leaves out of the region to its left.
struct ChordArea {
    double su = 1.0, sv = 1.0;
    double sum = 0.0;
    // The chord from q[0] to q[4] of a curve through q[1..3] at a quarter,
    // half and three quarters of its parameter: the polygon of the five
    // points takes 15/16 of a parabola's segment. One point half way took
    // 3/4 of it only when that point was the middle of the arc; on a chord
    // across the joins of a circle's arcs, where the parameter's speed
    // changes, it fell well short, and a plate's 400 holes came out 1%
    // smaller than their curves.
    void add(const double (&u)[5], const double (&v)[5]) {
        double twice = 0.0;
        for (int i = 0, j = 4; i < 5; j = i++)
            twice += (su * u[j]) * (sv * v[i]) - (su * u[i]) * (sv * v[j]);
        sum += (8.0 / 15.0) * twice;  // 16/15 of the polygon's area
    }
};

// Surface point at the (u, v) of a trim curve point, clamped into the domain.
bool surface_at(const Surface& sur, double u, double v, Point3* S) {
    u = clamp(u, sur.uknt->U[0], sur.uknt->U[sur.uknt->m]);
    v = clamp(v, sur.vknt->U[0], sur.vknt->U[sur.vknt->m]);
    if (!(u == u) || !(v == v)) return false;
    return N_SUREVN(sur, 1, u, v, S) == kOk;
}

// Samples of the interpolating cubic measured against the chord. Its
// control points stand some 4/3 as far off as the curve itself, so taking
// them as the deviation left every trim chord at about three quarters of
// its tolerance and gave a hole in a plate a sixth more points than it needs.
constexpr int kCubicSamples = 16;

// The Bernstein polynomials of degree 3 at k / kCubicSamples, the same for
// every cubic.
struct CubicWeights {
    double b[kCubicSamples + 1][4];
};

constexpr CubicWeights cubic_weights() {
    CubicWeights c{};
    for (int k = 0; k <= kCubicSamples; ++k) {
        const double s = static_cast<double>(k) / kCubicSamples, r = 1.0 - s;
        c.b[k][0] = r * r * r;
        c.b[k][1] = 3.0 * s * r * r;
        c.b[k][2] = 3.0 * s * s * r;
        c.b[k][3] = s * s * s;
    }
    return c;
}

constexpr CubicWeights kCubicWeights = cubic_weights();

using tess::larger;
using tess::smaller;

// Squared distance from p to the segment from a along ab, len2 = |ab|^2 (to
// a when the segment is a point). The deviation compares squares and takes
// one root of the farthest: the root keeps their order.
double segment_distance2(const Point3& p, const Point3& a, const Point3& ab, double len2) {
    const Point3 ap = vec_sub(p, a);
    const double f = len2 > 0.0 ? smaller(larger(vec_dot(ap, ab) / len2, 0.0), 1.0) : 0.0;
    const Point3 d = vec_sub(ap, vec_scale(ab, f));
    return vec_dot(d, d);
}

// Three systems of M_LUDCMP's factors a, solved as M_FORBAC solves each
// (the same operations in the same order) without its calls and checks of
// size; false where one of its divisions would be refused, and then
// nothing is reported.
bool solve_three(double* const (&a)[4], double (&x)[4], double (&y)[4], double (&z)[4]) {
    double* col[3] = {x, y, z};
    for (double* b : col)
        for (int i = 1; i < 4; ++i) {
            double sum = b[i];
            for (int j = 0; j < i; ++j) sum -= a[i][j] * b[j];
            b[i] = sum;
        }
    for (double* b : col)
        for (int i = 3; i >= 0; --i) {
            double sum = b[i];
            for (int j = i + 1; j < 4; ++j) sum -= a[i][j] * b[j];
            if (guard_div(sum, a[i][i]) != 0) return false;
            b[i] = sum / a[i][i];
        }
    return true;
}

// The cubic Bezier curve through S[0..3] at the chord-length shares of its
// legs (thirds where a leg is too short to divide by).
bool interpolating_cubic(const Point3 (&S)[4], Point3 (&Q)[4]) {
    const double c1 = vec_distance(S[1], S[0]), c2 = vec_distance(S[2], S[1]);
    const double c3 = vec_distance(S[3], S[2]);
    const double total = c1 + c2 + c3;
    double s1 = 1.0 / 3.0, s2 = 2.0 / 3.0;
    if (guard_div(c1, total) == 0 && guard_div(c1 + c2, total) == 0) {
        s1 = c1 / total;
        s2 = (c1 + c2) / total;
    }
    double rows[4][4] = {{1, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 1}};
    if (B_ALLBER(3, s1, rows[1]) != kOk || B_ALLBER(3, s2, rows[2]) != kOk) return false;
    double* a[4] = {rows[0], rows[1], rows[2], rows[3]};
    if (M_LUDCMP(a, 4) != kOk) return false;
    double x[4] = {S[0].x, S[1].x, S[2].x, S[3].x};
    double y[4] = {S[0].y, S[1].y, S[2].y, S[3].y};
    double z[4] = {S[0].z, S[1].z, S[2].z, S[3].z};
    if (!solve_three(a, x, y, z)) {
        // M_FORBAC again, one system after the other, for its report.
        for (int k = 0; k < 4; ++k) {
            x[k] = S[k].x;
            y[k] = S[k].y;
            z[k] = S[k].z;
        }
        if (M_FORBAC(a, 4, x) != kOk || M_FORBAC(a, 4, y) != kOk || M_FORBAC(a, 4, z) != kOk)
            return false;
    }
    for (int k = 0; k < 4; ++k) Q[k] = {x[k], y[k], z[k]};
    return true;
}

// The points and deviations of one piece already measured: the march tries
// several steps from each point, whose end starts the next step, and
// even_out measures the march's chords again. Points are kept by their
// parameter's bits, deviations by their interval's; a slot holds the last
// one that fell in it. Only evaluations that succeeded are kept, so a
// failure is met (and reported) where it was.
class PieceMemo {
public:
    PieceMemo(const Surface& surface, const Curve& curve) : sur(surface), piece(curve) {}

    const Surface& sur;
    const Curve& piece;

    // curve_point at t and surface_at under it.
    bool point(double t, Point3* uv, Point3* S) {
        const std::uint64_t key = std::bit_cast<std::uint64_t>(t);
        const unsigned k = static_cast<unsigned>(slot(key) % kPoints);
        PointEntry& e = points_[k];
        if (used(point_used_, k) && e.key == key) {
            *uv = e.uv;
            *S = e.S;
            return true;
        }
        bool ok = true;
        *uv = curve_point(piece, t, &ok);
        if (!ok || !surface_at(sur, uv->x, uv->y, S)) return false;
        e = {key, *uv, *S};
        mark(point_used_, k);
        return true;
    }

    // curve_point at t, from the points kept where it is one of them.
    Point3 curve_at(double t, bool* ok) const {
        const std::uint64_t key = std::bit_cast<std::uint64_t>(t);
        const unsigned k = static_cast<unsigned>(slot(key) % kPoints);
        const PointEntry& e = points_[k];
        if (used(point_used_, k) && e.key == key) return e.uv;
        return curve_point(piece, t, ok);
    }

    bool find(double a, double b, double* dev) const {
        const std::uint64_t ka = std::bit_cast<std::uint64_t>(a);
        const std::uint64_t kb = std::bit_cast<std::uint64_t>(b);
        const unsigned k = chord_slot(ka, kb);
        const ChordEntry& e = chords_[k];
        if (!used(chord_used_, k) || e.a != ka || e.b != kb) return false;
        *dev = e.dev;
        return true;
    }

    void keep(double a, double b, double dev) {
        const std::uint64_t ka = std::bit_cast<std::uint64_t>(a);
        const std::uint64_t kb = std::bit_cast<std::uint64_t>(b);
        const unsigned k = chord_slot(ka, kb);
        chords_[k] = {ka, kb, dev};
        mark(chord_used_, k);
    }

private:
    static constexpr unsigned kPoints = 128, kChords = 1024;
    // An entry is read once its bit is set. Only the bits are cleared up
    // front: clearing a mark in every entry wrote all 40 KB of the tables
    // (640 cache lines, ten fresh stack pages in a first call) for every
    // piece, of which a small one fills a few dozen entries.
    struct PointEntry {
        std::uint64_t key;
        Point3 uv, S;
    };
    struct ChordEntry {
        std::uint64_t a, b;
        double dev;
    };
    static bool used(const std::uint64_t* bits, unsigned k) {
        return (bits[k / 64] >> (k % 64)) & 1u;
    }
    static void mark(std::uint64_t* bits, unsigned k) {
        bits[k / 64] |= std::uint64_t{1} << (k % 64);
    }
    static std::uint64_t slot(std::uint64_t x) {
        x ^= x >> 33;
        x *= 0xff51afd7ed558ccdULL;
        return x ^ (x >> 33);
    }
    static unsigned chord_slot(std::uint64_t a, std::uint64_t b) {
        return static_cast<unsigned>(slot(a ^ slot(b)) % kChords);
    }
    std::uint64_t point_used_[kPoints / 64] = {};
    std::uint64_t chord_used_[kChords / 64] = {};
    PointEntry points_[kPoints];
    ChordEntry chords_[kChords];
};

// Deviation of the surface image of the piece on [t0, t1] from its chord,
// through the cubic Bezier curve that interpolates four samples (ends and
// thirds of the parameter): the farthest of the cubic's points from the
// chord, or, when farther, of the surface under the chord in the parameter
// plane (at its quarters: a grid line that crosses the chord puts a mesh
// vertex there, and where the surface's parameter runs unevenly its image
// bends away from the curve off the middle) from the cubic. The curve's own
// point half way along the parameter checks the cubic: how far it lies from
// the cubic is added, since a curve the cubic does not follow (a trim
// across crowded surface knots) may stray from the chord by that much more
// between the samples. `lift` receives how far the chord in space stands off
// the surface under the parameter chord (at its quarters): a triangle edge
// along the chord stands off the surface so.
bool deviation(PieceMemo& memo, double t0, double t1, double* dev, double* lift) {
    const double ts[5] = {t0, (2.0 * t0 + t1) / 3.0, (t0 + 2.0 * t1) / 3.0, t1, 0.5 * (t0 + t1)};
    Point3 uv[5], S[4], probe[4];
    for (int k = 0; k < 5; ++k) {
        if (k == 0 || k == 3) {
            // The ends: a step's start is measured with every try.
            if (!memo.point(ts[k], &uv[k], &S[k])) return false;
            continue;
        }
        bool ok = true;
        uv[k] = curve_point(memo.piece, ts[k], &ok);
        if (!ok || !surface_at(memo.sur, uv[k].x, uv[k].y, k < 4 ? &S[k] : &probe[0])) return false;
    }
    // probe[0]: the curve half way; probe[1..3]: the surface under the
    // parameter chord's quarters.
    for (int k = 1; k <= 3; ++k) {
        const double f = 0.25 * k;
        if (!surface_at(memo.sur, uv[0].x + f * (uv[3].x - uv[0].x),
                        uv[0].y + f * (uv[3].y - uv[0].y), &probe[k]))
            return false;
    }
    Point3 Q[4];
    if (!interpolating_cubic(S, Q)) return false;
    Point3 B[kCubicSamples + 1];
    for (int k = 0; k <= kCubicSamples; ++k) {
        const double* b = kCubicWeights.b[k];
        B[k] = vec_add(vec_add(vec_scale(Q[0], b[0]), vec_scale(Q[1], b[1])),
                       vec_add(vec_scale(Q[2], b[2]), vec_scale(Q[3], b[3])));
    }
    const Point3 chord = vec_sub(S[3], S[0]);
    const double chord2 = vec_dot(chord, chord);
    double off2 = 0.0;
    for (int k = 1; k < kCubicSamples; ++k)
        off2 = larger(off2, segment_distance2(B[k], S[0], chord, chord2));
    // Each probe against the cubic near its nearest sample.
    double away[4];
    for (int i = 0; i < 4; ++i) {
        int near = 0;
        double best = 0.0;
        for (int k = 0; k <= kCubicSamples; ++k) {
            const Point3 d = vec_sub(probe[i], B[k]);
            const double d2 = vec_dot(d, d);
            if (k == 0 || d2 < best) {
                best = d2;
                near = k;
            }
        }
        for (int k = std::max(near - 1, 0); k < std::min(near + 1, kCubicSamples); ++k) {
            const Point3 leg = vec_sub(B[k + 1], B[k]);
            best = smaller(best, segment_distance2(probe[i], B[k], leg, vec_dot(leg, leg)));
        }
        away[i] = std::sqrt(best);
    }
    *dev = larger(std::sqrt(off2), larger(away[1], larger(away[2], away[3]))) + 2.0 * away[0];
    *lift = 0.0;
    for (int k = 1; k <= 3; ++k)
        *lift = larger(*lift, vec_distance(probe[k], vec_add(S[0], vec_scale(chord, 0.25 * k))));
    return *dev == *dev && *lift == *lift;
}

// The piece of the curve over control points a..b and parameters
// [start, t_end], or null on failure. The knots strictly inside
// (start, t_end) are found by bisection in the sorted vector: a scan of all
// knots per piece made curves with many corners quadratic.
Curve* corner_piece(const Curve& cur, int a, int b, double start, double t_end, Pool* pool) {
    const int p = cur.p, m = cur.knt->m;
    const double* U = cur.knt->U;
    const double* lo = std::upper_bound(U, U + m + 1, start);
    const double* hi = std::lower_bound(lo, U + m + 1, t_end);
    const int interior = static_cast<int>(hi - lo);
    const int pts = b - a + 1;
    const int knots = 2 * (p + 1) + interior;
    if (knots != pts + p + 1) {
        set_error(kErrDegenerate, "N_TESSUR");
        return nullptr;
    }
    Curve* c = S_GETCUR(pts - 1, knots - 1, p, pool);
    if (!c) return nullptr;
    for (int i = 0; i < pts; ++i) c->pol->Pw[i] = cur.pol->Pw[a + i];
    int x = 0;
    for (int i = 0; i <= p; ++i) c->knt->U[x++] = start;
    for (const double* k = lo; k < hi; ++k) c->knt->U[x++] = *k;
    for (int i = 0; i <= p; ++i) c->knt->U[x++] = t_end;
    return c;
}

// True when control points a..b lie along one bound of the domain, within C
// (a span that may be a piece along a domain edge).
bool along_bound(const Curve& cur, int a, int b, const SurfaceMeasures& g, double C) {
    const double bound[4] = {g.u_min, g.u_max, g.v_min, g.v_max};
    for (int side = 0; side < 4; ++side) {
        bool all = true;
        for (int i = a; i <= b && all; ++i) {
            const Point3 q = project_point(cur.pol->Pw[i]);
            all = std::fabs((side < 2 ? q.x : q.y) - bound[side]) <= C;
        }
        if (all) return true;
    }
    return false;
}

// A knot of multiplicity p at index k where the curve turns on smoothly: it
// passes through point k - 1 in the same direction on both sides. The arcs
// of a circle join so, and so do the pieces of a curve handed over as
// Bezier segments; such a run is polygonised as one piece, so that its
// chords come out even instead of each segment ending in a short remnant
// (a circle cut into 38 segments got a point at every join). A span along
// a domain bound keeps its joins, since a piece along a domain edge must
// stay a piece of its own.
bool smooth_join(const Curve& cur, int k, const SurfaceMeasures& g, double C) {
    const int p = cur.p, j = k - 1;
    if (p < 2 || j - p < 0 || j + p > cur.pol->n) return false;
    if (along_bound(cur, j - p, j, g, C) || along_bound(cur, j, j + p, g, C)) return false;
    const Point3 a = project_point(cur.pol->Pw[j - 1]), q = project_point(cur.pol->Pw[j]);
    const Point3 b = project_point(cur.pol->Pw[j + 1]);
    const double ux = q.x - a.x, uy = q.y - a.y, vx = b.x - q.x, vy = b.y - q.y;
    const double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
    if (!(lu > 0.0) || !(lv > 0.0)) return false;
    const double cross = (ux * vy - uy * vx) / (lu * lv), dot = (ux * vx + uy * vy) / (lu * lv);
    return dot > 0.0 && std::fabs(cross) <= kSmoothTurn;
}

// Splits a curve at every interior knot whose multiplicity reaches the
// degree (a corner), but for smooth joins away from the domain's bounds.
// Pieces get their own points and clamped knots.
Status split_corners(const Curve& cur, const SurfaceMeasures& g, double C, Pool* pool,
                     Curve*** pieces, int* count) {
    const int p = cur.p, n = cur.pol->n, m = cur.knt->m;
    const double* U = cur.knt->U;
    auto corner = [&](int k, int s) { return s > p || (s == p && !smooth_join(cur, k, g, C)); };
    // Count corners first.
    int corners = 0;
    for (int k = p + 1; k <= m - p - 1;) {
        int s = 1;
        while (k + s <= m - p - 1 && U[k + s] == U[k]) ++s;
        if (corner(k, s)) ++corners;
        k += s;
    }
    Curve** list = S_GETCUA(corners, pool);
    if (!list) return kFail;
    if (corners == 0) {
        list[0] = const_cast<Curve*>(&cur);
        *pieces = list;
        *count = 1;
        return kOk;
    }
    int first_point = 0, made = 0;
    double start = U[0];
    auto make = [&](int a, int b, double t_end) {
        Curve* c = corner_piece(cur, a, b, start, t_end, pool);
        if (!c) return false;
        list[made++] = c;
        return true;
    };
    for (int k = p + 1; k <= m - p - 1;) {
        int s = 1;
        while (k + s <= m - p - 1 && U[k + s] == U[k]) ++s;
        if (corner(k, s)) {
            if (!make(first_point, k - 1, U[k])) return kFail;
            first_point = k - 1 + (s - p);
            start = U[k];
        }
        k += s;
    }
    if (!make(first_point, n, U[m])) return kFail;
    *pieces = list;
    *count = made;
    return kOk;
}

struct EdgeInfo {
    int side = 0;  // 0: not on an edge; 1 u_min, 2 u_max, 3 v_min, 4 v_max
    bool start_corner = false;
    bool end_corner = false;
};

EdgeInfo edge_test(const SurfaceMeasures& g, const Curve& piece, double C) {
    EdgeInfo e;
    const int n = piece.pol->n;
    const Point3 a = project_point(piece.pol->Pw[0]);
    const Point3 b = project_point(piece.pol->Pw[n]);
    const Point3 a2{a.x, a.y, 0}, b2{b.x, b.y, 0};
    for (int i = 1; i < n; ++i) {
        const Point3 q = project_point(piece.pol->Pw[i]);
        double d = 0.0;
        if (G_DISQAB({q.x, q.y, 0}, a2, b2, &d) != kOk || d > C) return e;
    }
    const double bound[5] = {0, g.u_min, g.u_max, g.v_min, g.v_max};
    // Corner (u, v) at which a counter-clockwise walk along each side starts
    // and ends: side 1 runs down from corner 3, side 2 up from corner 2,
    // side 3 right from corner 1, side 4 left from corner 4.
    const double start_u[5] = {0, g.u_min, g.u_max, g.u_min, g.u_max};
    const double start_v[5] = {0, g.v_max, g.v_min, g.v_min, g.v_max};
    const double end_u[5] = {0, g.u_min, g.u_max, g.u_max, g.u_min};
    const double end_v[5] = {0, g.v_min, g.v_max, g.v_min, g.v_max};
    for (int side = 1; side <= 4; ++side) {
        const bool along_u = side <= 2;  // side fixes u
        const double ca = along_u ? a.x : a.y, cb = along_u ? b.x : b.y;
        if (std::fabs(ca - bound[side]) > C || std::fabs(cb - bound[side]) > C) continue;
        e.side = side;
        e.start_corner = std::hypot(a.x - start_u[side], a.y - start_v[side]) <= C;
        e.end_corner = std::hypot(b.x - end_u[side], b.y - end_v[side]) <= C;
    }
    return e;
}

// Moves (u, v) outward by X across side `side`.
void push_out(int side, double X, double* u, double* v) {
    switch (side) {
        case 1:
            *u -= X;
            break;
        case 2:
            *u += X;
            break;
        case 3:
            *v -= X;
            break;
        case 4:
            *v += X;
            break;
    }
}

// The side next to `side` at its end corner.
int next_side(int side) {
    static const int next[5] = {0, 3, 4, 2, 1};
    return next[side];
}

// How far (u, v) lies outside the domain across `side` (negative inside).
double outside_by(const SurfaceMeasures& g, int side, double u, double v) {
    switch (side) {
        case 1:
            return g.u_min - u;
        case 2:
            return u - g.u_max;
        case 3:
            return g.v_min - v;
        default:
            return v - g.v_max;
    }
}

double polygon_length(const Curve& c) {
    double len = 0.0;
    for (int i = 1; i <= c.pol->n; ++i)
        len += vec_distance(project_point(c.pol->Pw[i - 1]), project_point(c.pol->Pw[i]));
    return len;
}

struct Builder {
    Scratch& s;
    Loop& loop;
    bool push(double u, double v) { return loop.u.push(s, u) && loop.v.push(s, v); }
    int size() const { return loop.u.size; }
    void drop(int k) {
        loop.u.size -= k;
        loop.v.size -= k;
    }
};

Status no_storage() {
    set_error(kErrStorage, "N_TESSUR");
    return kFail;
}

// The loop's first point: the start of its first piece, or for an outer loop
// that starts at a domain corner, a point diagonally out of that corner.
bool push_start(Builder& out, const EdgeInfo& e, const Point3& a, bool outer, double X) {
    double u = a.x, v = a.y;
    if (outer && e.side != 0 && e.start_corner) {
        // Diagonally out of the corner the walk starts from.
        push_out(e.side, X, &u, &v);
        push_out(next_side(next_side(next_side(e.side))), X, &u, &v);
    }
    return out.push(u, v);
}

// A piece along a domain edge becomes its two ends pushed out across that
// edge. Returns false on storage failure.
bool push_edge_piece(const SurfaceMeasures& g, Builder& out, Loop& loop, const EdgeInfo& e,
                     const Point3& a, const Point3& b, double X, double C) {
    double su = a.x, sv = a.y;
    push_out(e.side, X, &su, &sv);
    // A previous piece on the same edge ended here: continue its run.
    const int n = out.size();
    if (n >= 2 && loop.u[n - 2] == su && loop.v[n - 2] == sv) out.drop(2);
    const int m = out.size();
    if (m == 0 || outside_by(g, e.side, loop.u[m - 1], loop.v[m - 1]) <= C)
        if (!out.push(su, sv)) return false;
    double eu = b.x, ev = b.y;
    push_out(e.side, X, &eu, &ev);
    if (e.end_corner) push_out(next_side(e.side), X, &eu, &ev);
    if (!out.push(eu, ev)) return false;
    if (!e.end_corner && !out.push(b.x, b.y)) return false;
    return true;
}

Status polygonise(const Surface& sur, const Curve& piece, double B, double lift, double scale,
                  double** u, double** v, int* count, Pool* pool, ChordArea* area);

// A piece inside the domain adds its polygon after its first point; when the
// loop's last piece gives a single point, the end of that piece replaces
// the point that closes the loop instead.
Status push_curve_piece(const Surface& sur, const Curve& piece, bool last_piece, double B,
                        double lift, double scale, Builder& out, Loop& loop, Pool* pool,
                        ChordArea* area) {
    double* pu = nullptr;
    double* pv = nullptr;
    int pts = 0;
    if (polygonise(sur, piece, B, lift, scale, &pu, &pv, &pts, pool, area) != kOk) return kFail;
    if (pts == 1 && last_piece) {
        bool ok = true;
        const Point3 endp = curve_point(piece, piece.knt->U[piece.knt->m], &ok);
        if (!ok || out.size() <= 3) {
            set_error(kErrDegenerate, "N_TESSUR");
            return kFail;
        }
        loop.u[out.size() - 1] = endp.x;
        loop.v[out.size() - 1] = endp.y;
        return kOk;
    }
    for (int i = 1; i < pts; ++i)
        if (!out.push(pu[i], pv[i])) return no_storage();
    return kOk;
}

// Builds one loop's polygon in the parameter plane.
Status build_loop(const SurfaceMeasures& g, const Surface& sur, Curve* const* curves,
                  int last_curve, bool outer, double B, double lift, double scale, double C,
                  Scratch& s, Loop& loop, Pool* pool, ChordArea* area) {
    Builder out{s, loop};
    const double X = 30.0 * C;
    bool started = false;
    for (int c = 0; c <= last_curve; ++c) {
        Curve** pieces = nullptr;
        int count = 0;
        if (split_corners(*curves[c], g, C, pool, &pieces, &count) != kOk) return kFail;
        int first = 0;
        if (outer && c == 0 && count > 1 && polygon_length(*pieces[0]) <= 0.1 * C) first = 1;
        for (int k = first; k < count; ++k) {
            const Curve& piece = *pieces[k];
            const bool last_piece = c == last_curve && k == count - 1;
            const EdgeInfo e = edge_test(g, piece, C);
            const Point3 a = project_point(piece.pol->Pw[0]);
            const Point3 b = project_point(piece.pol->Pw[piece.pol->n]);
            if (!started) {
                if (!push_start(out, e, a, outer, X)) return no_storage();
                started = true;
            }
            if (e.side != 0) {
                if (!push_edge_piece(g, out, loop, e, a, b, X, C)) return no_storage();
                continue;
            }
            if (push_curve_piece(sur, piece, last_piece, B, lift, scale, out, loop, pool, area) !=
                kOk)
                return kFail;
        }
    }
    return kOk;
}

// Runs lying exactly on a bound between two points outside across it are
// moved onto the mean of those two neighbours.
void straighten_runs(const SurfaceMeasures& g, Loop& loop) {
    const int n = loop.u.size;
    for (int b = 0; b < 4 && n >= 3; ++b) {
        Table<double>& x = b < 2 ? loop.u : loop.v;
        const double bound = b == 0 ? g.u_min : b == 1 ? g.u_max : b == 2 ? g.v_min : g.v_max;
        auto outside = [&](double y) { return (b % 2 == 0) ? y < bound : y > bound; };
        for (int i = 0; i < n;) {
            if (x[i] != bound) {
                ++i;
                continue;
            }
            int j = i;
            while (j + 1 < n && x[j + 1] == bound) ++j;
            const int before = (i - 1 + n) % n, after = (j + 1) % n;
            if (j - i + 1 < n && outside(x[before]) && outside(x[after])) {
                const double mean = (x[before] + x[after]) * 0.5;
                for (int k = i; k <= j; ++k) x[k] = mean;
            }
            i = j + 1;
        }
    }
}

// Snap, straighten, map to the metric plane and clamp one polygon.
void finish_loop(const SurfaceMeasures& g, Loop& loop, double C, double c_prime) {
    const int n = loop.u.size;
    const double snap = 7.0 * C;
    for (int i = 0; i < n; ++i) {
        if (std::fabs(loop.u[i] - g.u_min) <= snap) loop.u[i] = g.u_min;
        if (std::fabs(loop.u[i] - g.u_max) <= snap) loop.u[i] = g.u_max;
        if (std::fabs(loop.v[i] - g.v_min) <= snap) loop.v[i] = g.v_min;
        if (std::fabs(loop.v[i] - g.v_max) <= snap) loop.v[i] = g.v_max;
    }
    straighten_runs(g, loop);
    const double mg = 0.001 * c_prime;
    for (int i = 0; i < n; ++i) {
        double u = g.su * (loop.u[i] - g.u_min);
        double v = g.sv * (loop.v[i] - g.v_min);
        if (u < 0.0)
            u = -3.1 * c_prime;
        else if (u > g.Lu + mg)
            u = g.Lu + 3.1 * c_prime;
        if (v < 0.0)
            v = -3.1 * c_prime;
        else if (v > g.Lv + mg)
            v = g.Lv + 3.1 * c_prime;
        loop.u[i] = u;
        loop.v[i] = v;
    }
    // Repeated points (the closing one included) carry no edge.
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        if (kept > 0 && loop.u[i] == loop.u[kept - 1] && loop.v[i] == loop.v[kept - 1]) continue;
        loop.u[kept] = loop.u[i];
        loop.v[kept] = loop.v[i];
        ++kept;
    }
    while (kept > 1 && loop.u[kept - 1] == loop.u[0] && loop.v[kept - 1] == loop.v[0]) --kept;
    loop.u.size = loop.v.size = kept;
    tess::update_box(loop);
}

}  // namespace

namespace {

// A line on a flat rectangular bilinear patch is exact as its control
// points: true with the polyline made, false when the shortcut does not apply.
bool bilinear_line(const Surface& sur, const Curve& piece, double** u, double** v, int* count,
                   Pool* pool, bool* failed) {
    const int n = piece.pol->n;
    if (piece.p != 1 || sur.net->n != 1 || sur.net->m != 1) return false;
    const Point3 o = project_point(sur.net->Pw[0][0]);
    const Point3 eu = vec_sub(project_point(sur.net->Pw[1][0]), o);
    const Point3 ev = vec_sub(project_point(sur.net->Pw[0][1]), o);
    const double dot = vec_dot(eu, ev), len = vec_length(eu) * vec_length(ev);
    if (guard_div(dot, len) != 0 || !(std::fabs(dot / len) < 0.002)) return false;
    double* pu = S_GETR1D(n, pool);
    double* pv = S_GETR1D(n, pool);
    if (!pu || !pv) {
        *failed = true;
        return true;
    }
    for (int i = 0; i <= n; ++i) {
        const Point3 q = project_point(piece.pol->Pw[i]);
        pu[i] = q.x;
        pv[i] = q.y;
    }
    *u = pu;
    *v = pv;
    *count = n + 1;
    return true;
}

// The working tolerance: B, reduced for pieces small on the surface to a
// tenth of their size there, so that a small hole keeps its shape. Both are
// lengths on the surface: weighing B by the parameter range over the net's
// length instead would make a hole's polygon depend on how its surface
// happens to be parametrised (a hundred times finer on a plane in model
// units than on the same plane over [0, 1]). How much of a face the chords
// may cut off is the coverage tolerance's business.
constexpr double kPieceShare = 0.1;

// Size of the box of mapped[a..b].
double box_size(const Point3* mapped, int a, int b) {
    Point3 lo = mapped[a], hi = mapped[a];
    for (int i = a + 1; i <= b; ++i) {
        lo = {std::fmin(lo.x, mapped[i].x), std::fmin(lo.y, mapped[i].y),
              std::fmin(lo.z, mapped[i].z)};
        hi = {std::fmax(hi.x, mapped[i].x), std::fmax(hi.y, mapped[i].y),
              std::fmax(hi.z, mapped[i].z)};
    }
    return vec_distance(lo, hi);
}

// The size is the largest of the segments a piece joins smoothly (those
// between its knots of multiplicity p): a circle's arcs as when each was a
// piece of its own, and a curve handed over as many short Bezier segments
// not held to a tenth of its shortest one.
bool working_tolerance(const Surface& sur, const Curve& piece, double B, double scale, double* w) {
    const int n = piece.pol->n, p = piece.p, m = piece.knt->m;
    const double* U = piece.knt->U;
    double d = 0.0;
    {
        PrivatePool scratch;
        Point3* mapped = S_GETP1D(n, scratch.get());
        if (!mapped || U_MAPCPL(sur, piece, mapped) != kOk) return false;
        int first = 0;
        d = 0.0;
        for (int k = p + 1; k <= m - p - 1;) {
            int s = 1;
            while (k + s <= m - p - 1 && U[k + s] == U[k]) ++s;
            if (s >= p && p >= 2) {
                d = std::fmax(d, box_size(mapped, first, k - 1));
                first = k - 1;
            }
            k += s;
        }
        d = std::fmax(d, box_size(mapped, first, n));
    }
    *w = scale * std::fmin(B, kPieceShare * d);
    if (!(*w >= kMinTolerance)) *w = kMinTolerance;
    return true;
}

// Length of the piece on the surface, from p samples per knot span.
bool surface_length(const Surface& sur, const Curve& piece, double* length) {
    const int p = piece.p;
    bool ok = true;
    Point3 prev_uv = curve_point(piece, piece.knt->U[0], &ok);
    Point3 prev;
    if (!ok || !surface_at(sur, prev_uv.x, prev_uv.y, &prev)) return false;
    *length = 0.0;
    for (int i = p; i < piece.knt->m - p; ++i) {
        const double a = piece.knt->U[i], b = piece.knt->U[i + 1];
        if (!(b > a)) continue;
        for (int k = 1; k <= p; ++k) {
            const Point3 uv = curve_point(piece, a + (b - a) * k / p, &ok);
            Point3 S;
            if (!ok || !surface_at(sur, uv.x, uv.y, &S)) return false;
            *length += vec_distance(prev, S);
            prev = S;
        }
    }
    return true;
}

// Deviation of [a, b], or the chord's lift off the surface weighed against
// its own limit where that is larger; when it cannot be computed, the
// distance of the end images stands in, and a tiny interval that still fails is an error. Each
// call uses up one of `budget`, a deviation found in the memo too.
struct Measure {
    PieceMemo& memo;
    int budget;
    // w over the most a chord may stand off the surface (0: no such limit).
    double lift_weight;

    bool operator()(double a, double b, double* dev) {
        if (--budget < 0) return false;
        if (memo.find(a, b, dev)) return true;
        double lift = 0.0;
        if (deviation(memo, a, b, dev, &lift)) {
            *dev = std::fmax(*dev, lift * lift_weight);
            memo.keep(a, b, *dev);
            return true;
        }
        bool fine = true;
        const Point3 ua = curve_point(memo.piece, a, &fine), ub = curve_point(memo.piece, b, &fine);
        Point3 Sa, Sb;
        if (!fine || !surface_at(memo.sur, ua.x, ua.y, &Sa) ||
            !surface_at(memo.sur, ub.x, ub.y, &Sb))
            return false;
        *dev = vec_distance(Sa, Sb);
        memo.keep(a, b, *dev);
        return true;
    }
};

// The end t1 of the step from t0, whose deviation lies between h and w
// where the parameter allows; q (the step's length, the next step's first
// guess) and smallest (the finest correction made) carry over from step to
// step. A deviation grows with the square of the chord's length, so each
// guess scales the last by the square root of how far its deviation is
// from the middle of the band, kept inside the lengths already found too
// short and too long (halving between them when it is not): two or three
// measurements a step, where halving a band as narrow as this took six or
// more. False when a deviation is unavailable.
bool find_step(Measure& measure, double t0, double t_end, double w, double h, double range,
               double& q, double& smallest, double& t1) {
    const double aim = 0.5 * (h + w);
    double lo = 0.0, hi = t_end - t0, len = std::fmin(q, hi);
    bool too_long = false;  // whether hi is known to stray beyond w
    for (int it = 0; it < kMaxBisections; ++it) {
        t1 = len < t_end - t0 ? t0 + len : t_end;
        double dev = 0.0;
        if (!measure(t0, t1, &dev)) return false;
        if (dev >= w) {
            hi = len;
            too_long = true;
        } else {
            lo = len;
            if (dev >= h || t1 == t_end) break;
        }
        if (!(hi - lo > range * 1e-15) || it + 1 == kMaxBisections) {
            // As fine as the parameter allows: the longest step found within.
            if (lo > 0.0 && t1 - t0 > lo) t1 = t0 + lo;
            break;
        }
        double next = len * clamp(dev > 0.0 ? std::sqrt(aim / dev) : 4.0, 0.25, 4.0);
        if (!too_long)
            next = std::fmin(next, hi);
        else if (!(next > lo && next < hi))
            next = 0.5 * (lo + hi);
        smallest = std::fmin(smallest, std::fabs(next - len));
        len = next;
    }
    q = t1 - t0;
    return true;
}

// Walks along the piece from its first knot, appending the end of each
// interval whose deviation lies between 0.9 w and w (its parameter to pt):
// chords that nearly reach the tolerance, so that few are left for even_out
// to save where its estimate of their spread falls short (along a curve
// whose bend changes, a blob's lobes). N is the number of starting steps.
Status march(PieceMemo& memo, double w, double lift_weight, int N, Scratch& s, Table<double>& pu,
             Table<double>& pv, Table<double>& pt) {
    const Surface& sur = memo.sur;
    const Curve& piece = memo.piece;
    const double t_first = piece.knt->U[0], t_end = piece.knt->U[piece.knt->m];
    const double h = 0.9 * w;
    auto no_storage = [] {
        set_error(kErrStorage, "N_TESPTC");
        return kFail;
    };
    auto unavailable = [] {
        set_error(kErrDivision, "N_TESPTC");
        return kFail;
    };
    bool ok = true;
    const Point3 first = curve_point(piece, t_first, &ok);
    if (!ok) return kFail;
    const double du_lo = sur.uknt->U[0], du_hi = sur.uknt->U[sur.uknt->m];
    const double dv_lo = sur.vknt->U[0], dv_hi = sur.vknt->U[sur.vknt->m];
    if (!pu.push(s, clamp(first.x, du_lo, du_hi)) || !pv.push(s, clamp(first.y, dv_lo, dv_hi)) ||
        !pt.push(s, t_first))
        return no_storage();
    const double range = t_end - t_first;
    double t0 = t_first, q = range / N, smallest = q;
    Measure measure{memo, kMaxDeviations, lift_weight};
    while (t0 < t_end) {
        double t1 = t0;
        if (!find_step(measure, t0, t_end, w, h, range, q, smallest, t1)) return unavailable();
        if (!(t1 > t0)) t1 = std::fmin(t0 + smallest, t_end);
        if (t_end - t1 <= 0.01 * smallest) t1 = t_end;
        const Point3 at = memo.curve_at(t1, &ok);
        if (!ok) return kFail;
        const double cu = clamp(at.x, du_lo, du_hi), cv = clamp(at.y, dv_lo, dv_hi);
        const int last = pu.size - 1;
        if (t1 != t_end && std::fabs(cu - pu[last]) < kZeroTest &&
            std::fabs(cv - pv[last]) < kZeroTest) {
            t0 = t1;
            continue;
        }
        if (!pu.push(s, cu) || !pv.push(s, cv) || !pt.push(s, t1)) return no_storage();
        // An interval that never meets the tolerance (a surface that cannot
        // be evaluated sensibly along the curve) would crawl at the finest
        // step; such a curve cannot be polygonised.
        if (pu.size > kMaxPolylinePoints) return unavailable();
        t0 = t1;
    }
    return kOk;
}

// Where the running sum of `weight` (one per interval of pt) reaches each of
// k equal parts: the k + 1 ends of k intervals, into `out`.
bool spread(const Table<double>& pt, const Table<double>& weight, double total, int k, Scratch& s,
            Table<double>& out) {
    out.clear();
    if (!out.push(s, pt[0])) return false;
    int i = 0;
    double before = 0.0;  // the sum over the intervals ahead of i
    for (int j = 1; j < k; ++j) {
        const double target = total * j / k;
        while (i < weight.size - 1 && before + weight[i] <= target) before += weight[i++];
        const double f = weight[i] > 0.0 ? clamp((target - before) / weight[i], 0.0, 1.0) : 0.5;
        if (!out.push(s, pt[i] + f * (pt[i + 1] - pt[i]))) return false;
    }
    return out.push(s, pt[pt.size - 1]);
}

// Measures sqrt(dev / w) of each interval of pt into `weight`, their sum
// into `total`; false when a deviation is unavailable.
bool chord_weights(Measure& measure, const Table<double>& pt, double w, Scratch& s,
                   Table<double>& weight, double* total, bool* stored) {
    weight.clear();
    *total = 0.0;
    for (int i = 0; i + 1 < pt.size; ++i) {
        double dev = 0.0;
        if (!measure(pt[i], pt[i + 1], &dev)) return false;
        if (!weight.push(s, std::sqrt(std::fmax(dev, 0.0) / w))) {
            *stored = false;
            return false;
        }
        *total += weight[i];
    }
    return true;
}

// The parameters of a and b together, sorted, each once.
bool merge_points(const Table<double>& a, const Table<double>& b, Scratch& s, Table<double>& out) {
    out.clear();
    if (!out.reserve(s, a.size + b.size)) return false;
    int i = 0, j = 0;
    while (i < a.size || j < b.size) {
        const double t = j >= b.size || (i < a.size && a[i] <= b[j]) ? a[i++] : b[j++];
        if (out.size == 0 || t > out[out.size - 1]) out.push(s, t);
    }
    return true;
}

// Rounds of a count's spread measured on finer intervals before the count
// is raised.
constexpr int kSpreadRounds = 3;

// The fewest chords within w, spread evenly over the piece. The march's
// chords fall short of w by up to a tenth and its last one takes what is
// left (with a band from w / 2, a long arc got 10 to 15% more chords than
// it needs). A chord's deviation grows with the square of its length, so
// sqrt(dev / w) is the share of a full chord that each of the march's
// spans; their sum, rounded up, is the count to try, its ends where the
// running sum reaches each equal part. That share is taken as even within
// each span, which it is not where the parameter's speed or the curvature
// changes along the piece: a chord came out beyond w, and raising the count
// by one left a blob's holes with the march's own points, a fifth more than
// they need, and a plate's holes of three rational arcs one more. So a spread
// that fails is measured again on the march's points and its own together,
// whose finer spans place the same count better, up to kSpreadRounds times
// for the first count; a larger one is spread once over the finest spans
// found, raised by one up to the march's own (pt is then left as it was).
Status even_out(PieceMemo& memo, double w, double lift_weight, Scratch& s, Table<double>& pt) {
    const int n = pt.size - 1;
    if (n < 2) return kOk;
    Table<double> base, weight, trial, finer;
    bool stored = true;
    auto no_storage = [] {
        set_error(kErrStorage, "N_TESPTC");
        return kFail;
    };
    if (!base.reserve(s, n + 1) || !trial.reserve(s, n + 1)) return no_storage();
    for (int i = 0; i <= n; ++i) base.push(s, pt[i]);
    Measure measure{memo, kMaxDeviations, lift_weight};
    double total = 0.0;
    if (!chord_weights(measure, base, w, s, weight, &total, &stored))
        return stored ? kOk : no_storage();  // the march's points stand
    const int first = std::max(1, static_cast<int>(std::ceil(total)));
    for (int k = first; k < n; ++k) {
        for (int round = 0; round < (k == first ? kSpreadRounds : 1); ++round) {
            if (!spread(base, weight, total, k, s, trial)) return no_storage();
            bool within = true;
            for (int j = 0; j < k && within; ++j) {
                double dev = 0.0;
                if (!(trial[j + 1] > trial[j]) || !measure(trial[j], trial[j + 1], &dev))
                    return kOk;
                within = dev < w;
            }
            if (within) {
                pt.clear();
                for (int j = 0; j <= k; ++j) pt.push(s, trial[j]);
                return kOk;
            }
            if (k != first || round + 1 == kSpreadRounds || base.size > 4 * (n + 1)) break;
            if (!merge_points(base, trial, s, finer)) return no_storage();
            std::swap(base, finer);
            if (!chord_weights(measure, base, w, s, weight, &total, &stored))
                return stored ? kOk : no_storage();
        }
    }
    return kOk;
}

// The polyline through the piece's points at pt, clamped into the domain
// (but for its last point, which is the piece's end as it is), without
// points that repeat their predecessor; the area its chords leave out goes
// to `area` when given.
Status points_at(const PieceMemo& memo, const Table<double>& pt, Scratch& s, Table<double>& pu,
                 Table<double>& pv, ChordArea* area) {
    const Surface& sur = memo.sur;
    const Curve& piece = memo.piece;
    const double du_lo = sur.uknt->U[0], du_hi = sur.uknt->U[sur.uknt->m];
    const double dv_lo = sur.vknt->U[0], dv_hi = sur.vknt->U[sur.vknt->m];
    pu.clear();
    pv.clear();
    bool ok = true;
    for (int i = 0; i < pt.size; ++i) {
        const bool end = i == pt.size - 1;
        const Point3 q = memo.curve_at(pt[i], &ok);
        if (!ok) return kFail;
        const double cu = end ? q.x : clamp(q.x, du_lo, du_hi);
        const double cv = end ? q.y : clamp(q.y, dv_lo, dv_hi);
        const int last = pu.size - 1;
        if (i > 0 && !end && std::fabs(cu - pu[last]) < kZeroTest &&
            std::fabs(cv - pv[last]) < kZeroTest)
            continue;
        if (i > 0 && area) {
            double au[5] = {pu[last], 0, 0, 0, clamp(cu, du_lo, du_hi)};
            double av[5] = {pv[last], 0, 0, 0, clamp(cv, dv_lo, dv_hi)};
            for (int k = 1; k <= 3; ++k) {
                const Point3 m =
                    curve_point(piece, pt[i - 1] + 0.25 * k * (pt[i] - pt[i - 1]), &ok);
                if (!ok) return kFail;
                au[k] = clamp(m.x, du_lo, du_hi);
                av[k] = clamp(m.y, dv_lo, dv_hi);
            }
            area->add(au, av);
        }
        if (!pu.push(s, cu) || !pv.push(s, cv)) {
            set_error(kErrStorage, "N_TESPTC");
            return kFail;
        }
    }
    return kOk;
}

// N_TESPTC, adding the area its chords leave out to `area` when given;
// chords also stand off the surface by less than `lift` when that is
// positive.
Status polygonise(const Surface& sur, const Curve& piece, double B, double lift, double scale,
                  double** u, double** v, int* count, Pool* pool, ChordArea* area) {
    if (!(B >= kMinTolerance)) {
        set_error(kErrTolerance, "N_TESPTC");
        return kFail;
    }
    bool failed = false;
    if (bilinear_line(sur, piece, u, v, count, pool, &failed)) return failed ? kFail : kOk;
    double w = B, length = 0.0;
    if (!working_tolerance(sur, piece, B, scale, &w)) return kFail;
    if (!surface_length(sur, piece, &length)) {
        set_error(kErrDivision, "N_TESPTC");
        return kFail;
    }
    double steps = std::floor(length / std::sqrt(w));
    if (!(steps >= 1.0)) steps = 1.0;
    if (steps > kMaxStartSteps) steps = kMaxStartSteps;
    const int N = static_cast<int>(steps);
    const int R = N < 10 ? 3 * N : 2 * N;
    Scratch s;
    Table<double> pu, pv, pt;
    if (!pu.reserve(s, R + 1) || !pv.reserve(s, R + 1) || !pt.reserve(s, R + 1)) {
        set_error(kErrStorage, "N_TESPTC");
        return kFail;
    }
    const double lift_weight = lift > 0.0 ? w / lift : 0.0;
    PieceMemo memo(sur, piece);
    if (march(memo, w, lift_weight, N, s, pu, pv, pt) != kOk) return kFail;
    // Ends exactly at the piece's last point.
    pt[pt.size - 1] = piece.knt->U[piece.knt->m];
    if (pt.size == 1 && !pt.push(s, pt[0])) {
        set_error(kErrStorage, "N_TESPTC");
        return kFail;
    }
    if (even_out(memo, w, lift_weight, s, pt) != kOk || points_at(memo, pt, s, pu, pv, area) != kOk)
        return kFail;
    double* ru = S_GETR1D(pu.size - 1, pool);
    double* rv = S_GETR1D(pu.size - 1, pool);
    if (!ru || !rv) return kFail;
    for (int i = 0; i < pu.size; ++i) {
        ru[i] = pu[i];
        rv[i] = pv[i];
    }
    *u = ru;
    *v = rv;
    *count = pu.size;
    return kOk;
}

}  // namespace

Status N_TESPTC(const Surface& sur, const Curve& piece, double B, double** u, double** v,
                int* count, Pool* pool) {
    return polygonise(sur, piece, B, 0.0, 1.0, u, v, count, pool, nullptr);
}

namespace {

// A chord of sagitta s cuts about 2/3 s of area off per unit of its length,
// and a cell side's control points stand about 4/3 as far off as the side
// itself, so sides along open domain edges whose control points keep within
// t across them lose at most t P / 2 of the face, P their length. For a
// narrow strip that can be several percent; this share of area over outline
// holds the loss to one percent even when every side is at its limit.
constexpr double kCoverageShare = 0.02;
// What the trim polygons may leave out of the face, or add to it, in all,
// as a share of its area: less than the percent allowed, since the estimate
// takes each chord's curve as a parabola in a plane that is only roughly
// true to length. A hole's chords add what an outer loop's take away.
constexpr double kTrimAreaShare = 0.007;
// The same on a flat parallelogram patch: there the metric plane is the
// part's plane, the estimate is the area the chords cut off or add, and cell
// sides along open domain edges are straight, so nothing else takes a share
// of the percent.
constexpr double kFlatTrimAreaShare = 0.0085;
// Rounds of finer polygons for that share: the chords' sagittas fall short
// of the tolerance by varying amounts, so one round may not be enough.
constexpr int kCoverageRounds = 3;
// The finest that share may make the trim tolerance, relative to the one
// asked for: a sliver of a face should not cost a polygon of thousands.
constexpr double kMaxTightening = 1.0 / 25.0;

// The trim loops as N_TESSUR receives them.
struct TrimInput {
    Curve* const* const* outer;
    Curve* const* const* const* holes;
    int last_group;
    const int* outer_last;
    const int* hole_last;
    const int* const* hole_curve_last;
    const FixedLoops* fixed;  // null when no loop is fixed
};

// Every trim polygon, polygonised with tolerance B, moved to the metric
// plane and indexed.
// `left_out` receives per loop the area its chords leave out (ChordArea).
Status make_polygons(SurfaceMeasures& g, const Surface& sur, const TrimInput& in, double B,
                     double lift, double scale, double C, Scratch& s, LoopSet& loops,
                     Table<double>& left_out, Pool* pool) {
    auto no_storage = [] {
        set_error(kErrStorage, "N_TESSUR");
        return kFail;
    };
    loops.loops.size = 0;
    left_out.clear();
    for (int grp = 0; grp <= in.last_group; ++grp) {
        for (int h = -1; h <= in.hole_last[grp]; ++h) {
            Loop loop;
            loop.group = grp;
            loop.outer = h < 0;
            if (!loop.u.reserve(s, 22) || !loop.v.reserve(s, 22)) return no_storage();
            const FixedLoop fx = grp == 0 && in.fixed ? in.fixed->at(h + 1) : FixedLoop{};
            if (fx.count > 0) {
                // A fixed polygon is never refined, so it leaves nothing to weigh.
                if (!tess::build_fixed_loop(fx, s, loop) || !loops.loops.push(s, loop) ||
                    !left_out.push(s, 0.0))
                    return no_storage();
                continue;
            }
            ChordArea area{g.su, g.sv, 0.0};
            const Status st = h < 0
                                  ? build_loop(g, sur, in.outer[grp], in.outer_last[grp], true, B,
                                               lift, scale, C, s, loop, pool, &area)
                                  : build_loop(g, sur, in.holes[grp][h], in.hole_curve_last[grp][h],
                                               false, B, lift, scale, C, s, loop, pool, &area);
            if (st != kOk) return kFail;
            if (!loops.loops.push(s, loop) || !left_out.push(s, area.sum)) return no_storage();
        }
    }
    g.c_prime = C * std::fmax(g.Lu, g.Lv);
    // Padded for the snapping of points onto grid lines (a hundredth of C')
    // that the triangulation does later.
    const double pad = std::fmax(g.c_prime, 1e-12 * std::fmax(g.Lu, g.Lv));
    for (int k = 0; k < loops.loops.size; ++k) {
        if (loops.loops[k].fixed)
            tess::finish_fixed_loop(g, loops.loops[k], C);
        else
            finish_loop(g, loops.loops[k], C, g.c_prime);
        if (loops.loops[k].outer && loops.loops[k].u.size < 3) {
            set_error(kErrDegenerate, "N_TESSUR");
            return kFail;
        }
        if (!tess::index_loop(s, loops.loops[k], pad)) return no_storage();
    }
    return kOk;
}

// The area of the trimmed region in the metric plane and the share of it that
// the chords of its polygons leave out (negative when they add).
struct RegionArea {
    double area = 0.0, left_out = 0.0;
};

RegionArea region_area(const LoopSet& loops, const Table<double>& left_out) {
    RegionArea r;
    for (int k = 0; k < loops.loops.size; ++k) {
        const Loop& l = loops.loops[k];
        double twice = 0.0;
        for (int i = 0, j = l.u.size - 1; i < l.u.size; j = i++)
            twice += l.u[j] * l.v[i] - l.u[i] * l.v[j];
        const double sign = l.outer ? 1.0 : -1.0;
        r.area += sign * 0.5 * std::fabs(twice);
        // A loop's chords leave out of the region to its left what they leave
        // out of the loop's inside when it runs counter-clockwise.
        r.left_out += sign * (twice < 0.0 ? -1.0 : 1.0) * left_out[k];
    }
    return r;
}

// How far the polygons' chords change the face's area, as a share of
// kTrimAreaShare (kFlatTrimAreaShare on a flat face): 1 or less is within.
double coverage_excess(const LoopSet& loops, const Table<double>& left_out, bool flat) {
    const RegionArea r = region_area(loops, left_out);
    if (!(r.area > 0.0)) return 0.0;
    const double allowed = flat ? kFlatTrimAreaShare : kTrimAreaShare;
    return std::fabs(r.left_out) / r.area / allowed;
}

// A factor found within is loosened no further once its polygons change
// the area by this share of the allowed change or more.
constexpr double kCoverageNear = 0.97;

// The tolerance of cell sides on open domain edges under which they lose
// at most about one percent of the face's area (metric plane, where a unit
// is roughly a unit of model length); B itself when that is finer.
double edge_coverage_tolerance(const LoopSet& loops, double B) {
    double area = 0.0, outline = 0.0;
    for (int k = 0; k < loops.loops.size; ++k) {
        const Loop& l = loops.loops[k];
        double twice = 0.0;
        for (int i = 0, j = l.u.size - 1; i < l.u.size; j = i++) {
            twice += l.u[j] * l.v[i] - l.u[i] * l.v[j];
            outline += std::hypot(l.u[i] - l.u[j], l.v[i] - l.v[j]);
        }
        area += (l.outer ? 0.5 : -0.5) * std::fabs(twice);
    }
    if (!(area > 0.0) || !(outline > 0.0)) return B;
    return std::fmin(B, std::fmax(kCoverageShare * area / outline, kMaxTightening * B));
}

// A patch of one bilinear piece, of equal weights, whose corners make a
// parallelogram: a plane mapped affinely.
bool flat_parallelogram(const Surface& sur) {
    const ControlNet& net = *sur.net;
    if (net.n != 1 || net.m != 1) return false;
    const double w = net.Pw[0][0].w;
    if (!(w > 0.0 || w == kNonRationalW) || net.Pw[1][0].w != w || net.Pw[0][1].w != w ||
        net.Pw[1][1].w != w)
        return false;
    const Point3 o = project_point(net.Pw[0][0]), a = project_point(net.Pw[1][0]);
    const Point3 b = project_point(net.Pw[0][1]), c = project_point(net.Pw[1][1]);
    const Point3 twist = vec_sub(vec_add(o, c), vec_add(a, b));
    const double size = vec_distance(o, c) + vec_distance(a, b);
    return vec_length(twist) <= 1e-9 * size;
}

// Polygons again with every piece's working tolerance scaled (the pieces
// held to a tenth of their size too: scaling the trim tolerance alone left a
// plate's small holes as coarse as they were) until their chords change the
// face's area by no more than allowed. The change grows about in proportion
// to the factor, so each round aims at the allowed change from the last; a
// factor found within is loosened towards it as well, since from a coarse
// first polygon (a wavy loop in eleven points) the proportion overshot and
// left a small face with a third more points than its area asks for. The
// finest factor is kMaxTightening; the loosest one found within is kept.
Status cover(SurfaceMeasures& g, const Surface& sur, const TrimInput& in, double B, double lift,
             double C, Scratch& s, LoopSet& loops, Table<double>& left_out, Pool* pool) {
    const bool flat = flat_parallelogram(sur);
    double scale = 1.0, within = 0.0, beyond = 2.0;  // loosest within, finest beyond
    double excess = coverage_excess(loops, left_out, flat);
    for (int round = 0; round < kCoverageRounds; ++round) {
        if (excess <= 1.0) {
            within = scale;
            if (scale == 1.0 || excess >= kCoverageNear) return kOk;
        } else {
            beyond = scale;
        }
        double next = std::fmax(scale / std::fmax(excess, 1e-9), kMaxTightening);
        next = std::fmin(next, 1.0);
        if (!(next > within && next < beyond)) next = 0.5 * (within + beyond);
        if (within == 0.0 && !(next < scale)) return kOk;  // as fine as allowed
        scale = next;
        if (make_polygons(g, sur, in, B, lift, scale, C, s, loops, left_out, pool) != kOk)
            return kFail;
        excess = coverage_excess(loops, left_out, flat);
    }
    if (excess <= 1.0 || within == 0.0 || within == scale) return kOk;
    return make_polygons(g, sur, in, B, lift, within, C, s, loops, left_out, pool);
}

// Nothing of the mesh may stray outside the outer polygon's box.
bool within_outer_box(const SurfaceMeasures& g, const LoopSet& loops,
                      const tess::VertexTable& verts, const tess::Rings& r) {
    const Loop& o = loops.loops[0];
    const double e = 1.2 * g.c_prime;
    for (int k = 0; k < verts.u.size; ++k) {
        if (r.entries[r.start[k]] == -1) continue;
        if (verts.u[k] < o.umin - e || verts.u[k] > o.umax + e || verts.v[k] < o.vmin - e ||
            verts.v[k] > o.vmax + e)
            return false;
    }
    return true;
}

// Copies the vertex table and the neighbour rings into the caller's pool.
Status hand_over(const tess::VertexTable& verts, const tess::Rings& r, double** u, double** v,
                 int* last, int*** rings, int** counts, Pool* pool) {
    const int count = verts.u.size;
    double* ou = S_GETR1D(count - 1, pool);
    double* ov = S_GETR1D(count - 1, pool);
    int** lists = S_GETI1P(count - 1, pool);
    int* cnt = S_GETI1D(count - 1, pool);
    int* entries = S_GETI1D(r.entries.size - 1, pool);
    if (!ou || !ov || !lists || !cnt || !entries) return kFail;
    for (int k = 0; k < r.entries.size; ++k) entries[k] = r.entries[k];
    for (int k = 0; k < count; ++k) {
        ou[k] = verts.u[k];
        ov[k] = verts.v[k];
        lists[k] = entries + r.start[k];
        cnt[k] = r.count[k];
    }
    *u = ou;
    *v = ov;
    *last = count - 1;
    *rings = lists;
    *counts = cnt;
    return kOk;
}

}  // namespace

// Domain, net measures and metric-plane scales of the surface.
Status take_measures(const Surface& sur, SurfaceMeasures& g) {
    const ControlNet& net = *sur.net;
    g.u_min = sur.uknt->U[0];
    g.u_max = sur.uknt->U[sur.uknt->m];
    g.v_min = sur.vknt->U[0];
    g.v_max = sur.vknt->U[sur.vknt->m];
    g.Lu = g.Lv = g.Lu_max = g.Lv_max = 0.0;
    for (int j = 0; j <= net.m; ++j) {
        double len = 0.0;
        for (int i = 1; i <= net.n; ++i)
            len += vec_distance(project_point(net.Pw[i - 1][j]), project_point(net.Pw[i][j]));
        g.Lu += len / (net.m + 1);
        g.Lu_max = std::fmax(g.Lu_max, len);
    }
    for (int i = 0; i <= net.n; ++i) {
        double len = 0.0;
        for (int j = 1; j <= net.m; ++j)
            len += vec_distance(project_point(net.Pw[i][j - 1]), project_point(net.Pw[i][j]));
        g.Lv += len / (net.n + 1);
        g.Lv_max = std::fmax(g.Lv_max, len);
    }
    g.area = g.Lu_max * g.Lv_max;
    if (guard_div(g.Lu, g.u_max - g.u_min) != 0 || guard_div(g.Lv, g.v_max - g.v_min) != 0 ||
        !(g.Lu > 0.0) || !(g.Lv > 0.0)) {
        set_error(kErrDivision, "N_TESSUR");
        return kFail;
    }
    g.su = g.Lu / (g.u_max - g.u_min);
    g.sv = g.Lv / (g.v_max - g.v_min);
    return kOk;
}

Status N_TESSUR(TessContext& ctx, Surface* sur, Curve* const* const* outer,
                Curve* const* const* const* holes, int last_group, const int* outer_last,
                const int* hole_last, const int* const* hole_curve_last, double** u, double** v,
                int* last, int*** rings, int** counts, Pool* pool) {
    PrivatePool priv;
    Scratch s;
    const double A = ctx.tol.surface, B = ctx.tol.trim;
    double C = ctx.tol.parameter;
    if (!(C >= 0.0)) C = 0.0;
    SurfaceMeasures& g = ctx.measures;
    if (take_measures(*sur, g) != kOk) return kFail;
    const TrimInput in{outer, holes, last_group, outer_last, hole_last, hole_curve_last, ctx.fixed};
    LoopSet loops;
    Table<double> left_out;
    // A chord is an edge of the triangles along it: held, off the surface, to
    // the margin vertex removal keeps, so that the vertices the cell grid
    // leaves on it can go (at the trim tolerance's full depth a cylinder's
    // trim chords kept them all and its triangles nearly doubled).
    const double lift = tess::kSimplifyMargin * A;
    if (make_polygons(g, *sur, in, B, lift, 1.0, C, s, loops, left_out, priv.get()) != kOk)
        return kFail;
    // A face small or narrow for its outline needs finer cell sides along its
    // open domain edges, and finer polygons where their chords leave out or
    // add too much of it, to be covered.
    g.edge_tolerance = edge_coverage_tolerance(loops, B);
    if (cover(g, *sur, in, B, lift, C, s, loops, left_out, priv.get()) != kOk) return kFail;

    tess::CellGrid grid;
    tess::VertexTable verts;
    if (N_TESSUB(g, sur, loops, A, g.c_prime, s, grid, verts) != kOk) return kFail;
    if (ctx.observer)
        for (int k = 0; k < loops.loops.size; ++k)
            ctx.observer->on_loop(k, loops.loops[k].outer, loops.loops[k].u.data,
                                  loops.loops[k].v.data, loops.loops[k].u.size);
    tess::Rings r;
    tess::FixedSettle settle{sur, A, {}};
    if (N_TESDEL(g, s, loops, grid, verts, g.c_prime, r, ctx.fixed ? &settle : nullptr) != kOk)
        return kFail;
    if (verts.u.size == 0 || (last_group == 0 && !within_outer_box(g, loops, verts, r))) {
        set_error(kErrDegenerate, "N_TESSUR");
        return kFail;
    }
    if (ctx.fixed) {
        ctx.fixed->vertex_id = tess::fixed_vertex_ids(loops, settle, verts.u.size, pool);
        ctx.fixed->left = settle.left.size;
        if (!ctx.fixed->vertex_id) return no_storage();
    }
    return hand_over(verts, r, u, v, last, rings, counts, pool);
}

}  // namespace ruvane
