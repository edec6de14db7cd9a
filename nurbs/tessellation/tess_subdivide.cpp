// N_TESSUB: adaptive subdivision of the metric plane into cells whose piece of
// surface is flat within the surface tolerance, the corner grid of the cell
// vertices, and the seam partners of closed surfaces.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "include/ruvane.h"
#include "nurbs/tessellation/tess_lattice.h"
#include "nurbs/tessellation/tess_sample.h"
#include "nurbs/tessellation/tessellation.h"

namespace ruvane {

namespace {

using tess::CellGrid;
using tess::Leaf;
using tess::LoopSet;
using tess::Scratch;
using tess::Table;
using tess::VertexTable;

// Beyond this many cell corners the surface cannot be made flat within the
// tolerance in any reasonable memory: the subdivision gives up as if storage
// had run out, instead of working for hours.
constexpr int kMaxCorners = RUVANE_TESS_CORNER_LIMIT;
constexpr double kCoincide = 1e-7;  // control points closer than this are one point
// A flat cell holding more trim polygon points than this is split as well:
// triangulating one cell costs the square of the points in it, so a long
// loop through a few large cells would make the whole run quadratic. (At 96
// a plate's six holes, 97 points, were split for it, and the cut left two
// vertices on the plate's open edges that no collapse could take.)
constexpr int kMaxCellTrimPoints = 128;

struct Cell {
    double ua, ub, va, vb;
    int16_t code;
    // The cell's piece of surface, cut from its parent's piece (much smaller
    // than the whole net deep in the subdivision), in a block of its own
    // from the subdivision's scratch storage.
    bool has_piece;
    Surface piece;
    void* block;
    std::size_t block_bytes;
};

// A piece's block no cell holds any more, kept for the next cell's piece.
struct SpareBlock {
    void* block;
    std::size_t bytes;
};

// Whether the cell holds more than kMaxCellTrimPoints trim polygon points
// and is still large enough to be split for that.
bool crowded(const LoopSet& loops, const Cell& c, double smallest) {
    if (c.code == 1 || c.code == -1) return false;
    if (c.ub - c.ua < smallest && c.vb - c.va < smallest) return false;
    int n = 0;
    for (int k = 0; k < loops.loops.size; ++k) {
        const tess::Loop& l = loops.loops[k];
        if (l.umax < c.ua || l.umin > c.ub || l.vmax < c.va || l.vmin > c.vb) continue;
        for (int i = 0; i < l.u.size; ++i)
            if (l.u[i] >= c.ua && l.u[i] <= c.ub && l.v[i] >= c.va && l.v[i] <= c.vb &&
                ++n > kMaxCellTrimPoints)
                return true;
    }
    return false;
}

Point3 net_point(const ControlNet& net, int i, int j) { return project_point(net.Pw[i][j]); }

// A cell's control net with its points projected once: the flatness test
// reads each of them several times (plane, bends, spreads, edges).
struct NetPoints {
    const Point3* p;
    int n, m;
};

const Point3& net_point(const NetPoints& net, int i, int j) { return net.p[i * (net.m + 1) + j]; }

using tess::larger;
using tess::smaller;

// Closed-surface test of a control net: direction 1 compares the first and
// last points of every u row, direction 2 of every v column.
template <class Net>
bool net_closed(const Net& net, int direction) {
    if (direction == 1) {
        for (int j = 0; j <= net.m; ++j)
            if (vec_distance(net_point(net, 0, j), net_point(net, net.n, j)) > kCoincide)
                return false;
        return true;
    }
    for (int i = 0; i <= net.n; ++i)
        if (vec_distance(net_point(net, i, 0), net_point(net, i, net.m)) > kCoincide) return false;
    return true;
}

// Whether a curve's control polygon lies within A of the chord of its ends.
bool curve_straight(const Curve& cur, double A) {
    const int n = cur.pol->n;
    const SegmentDistance chord(project_point(cur.pol->Pw[0]), project_point(cur.pol->Pw[n]));
    for (int i = 1; i < n; ++i) {
        double d = 0.0;
        if (chord.distance(project_point(cur.pol->Pw[i]), &d) != kOk || d > A) return false;
    }
    return true;
}

struct Flatness {
    bool flat;
    int direction;            // 1: cut at constant v, 2: cut at constant u
    bool sized = false;       // the cut may aim at the size the tolerance asks for
    bool near_plane = false;  // off its plane, but within kNetSlack A of it
    bool turn = false;        // a cell closed round a full turn, cut across it
};

// The net's normal at inner point k of the line (i0, j0) + k (di, dj), which
// is a boundary line of the net: from the line's tangent there and the step
// into the net. `fallback` (the cell's mean normal) where either vanishes.
Point3 line_normal(const NetPoints& net, int i0, int j0, int di, int dj, int k,
                   const Point3& fallback) {
    const int i = i0 + k * di, j = j0 + k * dj;
    const int ii = di != 0 ? 0 : (i0 == 0 ? 1 : -1), jj = dj != 0 ? 0 : (j0 == 0 ? 1 : -1);
    const Point3 along = vec_sub(net_point(net, i + di, j + dj), net_point(net, i - di, j - dj));
    Point3 nrm = vec_cross(along, vec_sub(net_point(net, i + ii, j + jj), net_point(net, i, j)));
    return G_VECNIP(&nrm) == kOk ? nrm : fallback;
}

// How far the inner points of net line (i0, j0) + k (di, dj) stray from the
// chord of its ends, as a multiple of the allowed: A for the distance, `tol`
// for its part across the line within the surface, which is what a chord on
// the mesh boundary cuts off the face (`tol` 0: a line inside the mesh). "Within the surface" is
// taken at the line itself: against the cell's mean normal, a strongly curved cell would count part
// of the line's bend out of the surface as a bend across it.
double line_excess(const NetPoints& net, int i0, int j0, int di, int dj, int last, double A,
                   double tol, const Point3& mean) {
    const Point3 a = net_point(net, i0, j0), b = net_point(net, i0 + last * di, j0 + last * dj);
    const Point3 ab = vec_sub(b, a);
    const double len2 = vec_dot(ab, ab);
    const SegmentDistance chord(a, b);
    double worst = 0.0;
    for (int k = 1; k < last; ++k) {
        const Point3 p = net_point(net, i0 + k * di, j0 + k * dj);
        double d = 0.0;
        if (chord.distance(p, &d) != kOk) return DBL_MAX;
        worst = larger(worst, d / A);
        if (!(tol > 0.0) || tol >= A || !(len2 > 0.0)) continue;
        const double t = std::fmin(std::fmax(vec_dot(vec_sub(p, a), ab) / len2, 0.0), 1.0);
        const Point3 off = vec_sub(p, vec_add(a, vec_scale(ab, t)));
        const Point3 nrm = line_normal(net, i0, j0, di, dj, k, mean);
        const Point3 across = vec_sub(off, vec_scale(nrm, vec_dot(off, nrm)));
        worst = larger(worst, vec_length(across) / tol);
    }
    return worst;
}

// The inner control points of a curved piece lie two to four times as far
// from its corners' plane as the surface itself does (twice for a parabola,
// more where a cubic's inner points pull), so the net alone would ask for
// cells far smaller than the tolerance needs. A net within kNetSlack A is
// accepted when the surface, sampled on a 5 x 5 grid, keeps within
// kSampledShare A of the two triangles through the cell's corners; the rest
// of A is for what lies between the samples.
constexpr double kNetSlack = 4.0;
constexpr double kSampledShare = 0.9;

// The unit normals of a diagonal's two triangles (a, b, c) and (a, c, d). A
// triangle with no plane (two corners on a pole or an apex) takes its
// partner's: the pair is then that one triangle. False when neither has one.
// A pole's corners evaluated from different control points may lie a last
// bit apart: a triangle whose area is a rounding error of its partner's has
// no plane either (normalised, its normal pointed anywhere and a ball's pole
// cell failed against it).
constexpr double kNoPlane = 1e-9;

bool pair_planes(const Point3& a, const Point3& b, const Point3& c, const Point3& d, Point3 n[2]) {
    n[0] = vec_cross(vec_sub(b, a), vec_sub(c, a));
    n[1] = vec_cross(vec_sub(c, a), vec_sub(d, a));
    const double l0 = vec_length(n[0]), l1 = vec_length(n[1]);
    const bool first = l0 > kNoPlane * l1 && normalise_of_length(&n[0], l0) == kOk;
    const bool second = l1 > kNoPlane * l0 && normalise_of_length(&n[1], l1) == kOk;
    if (!first && !second) return false;
    if (!first) n[0] = n[1];
    if (!second) n[1] = n[0];
    return true;
}

// Whether the surface over the cell, sampled on a 5 x 5 grid, stays within
// `tol` of the planes of the two triangles through its corners, each sample
// against the triangle over its parameters, whichever diagonal the cell is
// cut along. Measured off the triangles' planes, not against the corners'
// bilinear patch at the same parameters: where the parameters run unevenly
// over the surface (a rational arc), or a side bends within the surface (a
// ring near the top of a torus, a parallel near a pole), the patch's point
// and the side's chord lie beside the surface point, along the surface, which
// is no departure from it; counting it asked for up to twice the cells in
// each direction. The net's band (at most kNetSlack A) keeps the cell close
// to one plane, so the planes' gap is the triangles' distance.
//
// A sample on a side that is part of the mesh boundary (`side` above 0: v =
// va, v = vb, u = ua, u = ub) is held as well to its distance from the
// chord's point at the same share of the side: there the chord is the edge
// of the mesh, what it cuts off is lost, and the sample's slide along the
// side is kept as the measure it always was (tested by the open faces'
// coverage).
bool surface_close(tess::PointCache& sample, double ua, double ub, double va, double vb, double tol,
                   const double side[4]) {
    // Lines 0 to 4 of the grid, then the cell's sides.
    int us[7], vs[7];
    for (int k = 0; k <= 4; ++k) {
        us[k] = sample.u_line(ua + 0.25 * k * (ub - ua));
        vs[k] = sample.v_line(va + 0.25 * k * (vb - va));
    }
    us[5] = sample.u_line(ua), us[6] = sample.u_line(ub);
    vs[5] = sample.v_line(va), vs[6] = sample.v_line(vb);
    Point3 c[4];
    const int ci[4] = {5, 6, 5, 6}, cj[4] = {5, 5, 6, 6};
    for (int k = 0; k < 4; ++k)
        if (!sample.at(us[ci[k]], vs[cj[k]], &c[k])) return false;
    // Diagonal c0-c3: (c0, c1, c3) below it, (c0, c3, c2) above; diagonal
    // c1-c2: (c1, c0, c2) below it, (c1, c2, c3) above.
    Point3 n03[2], n12[2];
    if (!pair_planes(c[0], c[1], c[3], c[2], n03) || !pair_planes(c[1], c[0], c[2], c[3], n12))
        return false;
    // Every sample must keep close, so the order does not change the
    // answer: those that stray farthest on a curved cell come first, so
    // that a cell that must be cut is found out after a few points; each
    // with the side it lies on (0: v = va, 1: v = vb, 2: u = ua, 3: u = ub;
    // -1 inside).
    static const int kOrder[21][3] = {
        {2, 2, -1}, {1, 1, -1}, {3, 3, -1}, {1, 3, -1}, {3, 1, -1}, {2, 1, -1}, {2, 3, -1},
        {1, 2, -1}, {3, 2, -1}, {2, 0, 0},  {2, 4, 1},  {0, 2, 2},  {4, 2, 3},  {1, 0, 0},
        {3, 0, 0},  {1, 4, 1},  {3, 4, 1},  {0, 1, 2},  {0, 3, 2},  {4, 1, 3},  {4, 3, 3}};
    for (const auto& ij : kOrder) {
        const int i = ij[0], j = ij[1], on = ij[2];
        Point3 S;
        if (!sample.at(us[i], vs[j], &S)) return false;
        const double across_03 = std::fabs(vec_dot(vec_sub(S, c[0]), n03[i >= j ? 0 : 1]));
        const double across_12 = std::fabs(vec_dot(vec_sub(S, c[1]), n12[i + j <= 4 ? 0 : 1]));
        if (!(larger(across_03, across_12) <= tol)) return false;
        // The chord of an open side the sample lies on, and its tolerance.
        if (on < 0 || !(side[on] > 0.0)) continue;
        static const int kEnds[4][2] = {{0, 1}, {2, 3}, {0, 2}, {1, 3}};
        const Point3 a = c[kEnds[on][0]], b = c[kEnds[on][1]];
        const double f = 0.25 * (on < 2 ? i : j);
        const Point3 at = vec_add(vec_scale(a, 1.0 - f), vec_scale(b, f));
        if (!(vec_distance(S, at) <= tol)) return false;
    }
    return true;
}

// A net closed onto itself: either the piece wraps round (cut it across the
// wrap), or it has collapsed onto a curve that must be straight. False when
// the net is closed in neither direction.
bool closed_flatness(const Surface& piece, const NetPoints& net, double A, PrivatePool& pool,
                     Flatness* out) {
    const int n = net.n, m = net.m;
    for (int direction = 1; direction <= 2; ++direction) {
        if (!net_closed(net, direction)) continue;
        for (int i = 0; i <= n; ++i)
            for (int j = 0; j <= m; ++j) {
                const bool apart = direction == 1
                                       ? (i > 0 && vec_distance(net_point(net, i - 1, j),
                                                                net_point(net, i, j)) > kCoincide)
                                       : (j > 0 && vec_distance(net_point(net, i, j - 1),
                                                                net_point(net, i, j)) > kCoincide);
                if (apart) {
                    *out = {false, direction == 1 ? 2 : 1};
                    out->turn = true;
                    return true;
                }
            }
        Curve iso;
        const double t = direction == 1 ? piece.uknt->U[0] : piece.vknt->U[0];
        if (N_TOOSCX(piece, direction, t, &iso, pool.get()) != kOk)
            *out = {false, direction};
        else if (curve_straight(iso, A))
            *out = {true, 0};
        else
            *out = {false, direction};
        return true;
    }
    return false;
}

// Corner normals from the two net edges meeting at each corner, oriented
// as (along u) x (along v).
void corner_normals(const NetPoints& net, Point3 normals[4]) {
    const int n = net.n, m = net.m;
    const Point3 c00 = net_point(net, 0, 0), cn0 = net_point(net, n, 0);
    const Point3 c0m = net_point(net, 0, m), cnm = net_point(net, n, m);
    normals[0] = vec_cross(vec_sub(net_point(net, 1, 0), c00), vec_sub(net_point(net, 0, 1), c00));
    normals[1] =
        vec_cross(vec_sub(cn0, net_point(net, n - 1, 0)), vec_sub(net_point(net, n, 1), cn0));
    normals[2] =
        vec_cross(vec_sub(net_point(net, 1, m), c0m), vec_sub(c0m, net_point(net, 0, m - 1)));
    normals[3] =
        vec_cross(vec_sub(cnm, net_point(net, n - 1, m)), vec_sub(cnm, net_point(net, n, m - 1)));
}

// The unit mean of four normals, each turned to the side of the longest.
bool mean_normal(const Point3 normals[4], Point3* out) {
    double length[4];
    for (int k = 0; k < 4; ++k) length[k] = vec_length(normals[k]);
    int ref = 0;
    for (int k = 1; k < 4; ++k)
        if (length[k] > length[ref]) ref = k;
    Point3 sum{0, 0, 0};
    for (int k = 0; k < 4; ++k) {
        Point3 nk = normals[k];
        if (vec_dot(nk, normals[ref]) < 0.0) nk = vec_scale(nk, -1.0);
        sum = vec_add(sum, vec_scale(nk, 0.25));
    }
    *out = sum;
    return G_VECNIP(out) == kOk;
}

// The cell's mean normal from the net's corner normals, or else from the
// surface's normals just inside the corners; false when neither gives one.
bool cell_normal(const Surface& sur, double ua, double ub, double va, double vb, Point3 normals[4],
                 Point3* normal) {
    if (mean_normal(normals, normal)) return true;
    const double du = 0.01 * (ub - ua), dv = 0.01 * (vb - va);
    const double us[4] = {ua + du, ub - du, ua + du, ub - du};
    const double vs[4] = {va + dv, va + dv, vb - dv, vb - dv};
    bool ok = true;
    for (int k = 0; k < 4 && ok; ++k) {
        Point3 S, Su, Sv;
        ok = N_SURNOR(sur, 1, us[k], vs[k], &S, &Su, &Sv, &normals[k]) == kOk;
    }
    return ok && mean_normal(normals, normal);
}

// No usable normal: the piece is flat only when it has shrunk to within A of
// a point; otherwise cut its longer side.
Flatness point_flatness(const NetPoints& net, const Point3& centre, double A) {
    const int n = net.n, m = net.m;
    double reach = 0.0, along_u = 0.0, along_v = 0.0;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= m; ++j) {
            reach = larger(reach, vec_distance(net_point(net, i, j), centre));
            if (i > 0)
                along_u =
                    larger(along_u, vec_distance(net_point(net, i - 1, j), net_point(net, i, j)));
            if (j > 0)
                along_v =
                    larger(along_v, vec_distance(net_point(net, i, j - 1), net_point(net, i, j)));
        }
    if (reach <= A) return {true, 0};
    return {false, along_u > along_v ? 2 : 1};
}

// The surface lies between the highest and the lowest control point over the
// plane, the triangles between the highest and the lowest corner (a twisted
// piece's corners stand off the plane): how far the two can be apart.
double off_plane(const NetPoints& net, const Point3& centre, const Point3& normal) {
    const int n = net.n, m = net.m;
    double lo = DBL_MAX, hi = -DBL_MAX, corner_lo = DBL_MAX, corner_hi = -DBL_MAX;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= m; ++j) {
            const double d = vec_dot(vec_sub(net_point(net, i, j), centre), normal);
            lo = smaller(lo, d);
            hi = larger(hi, d);
            if ((i == 0 || i == n) && (j == 0 || j == m)) {
                corner_lo = smaller(corner_lo, d);
                corner_hi = larger(corner_hi, d);
            }
        }
    return larger(hi - corner_lo, corner_hi - lo);
}

// The cut for a piece off its plane: across the net's rows or columns,
// whichever spread more over the plane on average.
int spread_direction(const NetPoints& net, const Point3& centre, const Point3& normal) {
    const int n = net.n, m = net.m;
    // The mean over the rows (along u) or the columns (along v) of how far the
    // points of one spread across the plane.
    auto mean_spread = [&](bool along_u) {
        const int lines = along_u ? m : n, points = along_u ? n : m;
        double spread = 0.0;
        for (int line = 0; line <= lines; ++line) {
            double lo = DBL_MAX, hi = -DBL_MAX;
            for (int k = 0; k <= points; ++k) {
                const Point3 p = along_u ? net_point(net, k, line) : net_point(net, line, k);
                const double d = vec_dot(vec_sub(p, centre), normal);
                lo = smaller(lo, d);
                hi = larger(hi, d);
            }
            spread += (hi - lo) / (lines + 1);
        }
        return spread;
    };
    const double spread_u = mean_spread(true), spread_v = mean_spread(false);
    return spread_u > spread_v ? 2 : 1;
}

// How far the inner control points of the net's rows (along u) or columns
// (along v) stray at most from the chords of their ends.
double net_bend(const NetPoints& net, bool along_u) {
    const int lines = along_u ? net.m : net.n, points = along_u ? net.n : net.m;
    auto at = [&](int line, int k) {
        return along_u ? net_point(net, k, line) : net_point(net, line, k);
    };
    double worst = 0.0;
    for (int line = 0; line <= lines; ++line) {
        const Point3 a = at(line, 0);
        const SegmentDistance chord(a, at(line, points));
        for (int k = 1; k < points; ++k) {
            double d = 0.0;
            if (chord.distance(at(line, k), &d) != kOk) d = vec_distance(at(line, k), a);
            worst = larger(worst, d);
        }
    }
    return worst;
}

// The cut for a piece off its plane. Where its rows bend beyond A and its
// columns hardly at all (or the other way round), across the bend: the
// mean plane of a ruled piece (a cone or cylinder strip half way round)
// may hold the rings flat and put all the spread along the straight
// generators. Otherwise by the spread over the plane.
int off_plane_direction(const NetPoints& net, const Point3& centre, const Point3& normal,
                        double A) {
    const double bend_u = net_bend(net, true), bend_v = net_bend(net, false);
    if (bend_u > A && bend_u > 4.0 * bend_v) return 2;
    if (bend_v > A && bend_v > 4.0 * bend_u) return 1;
    return spread_direction(net, centre, normal);
}

// Whether the net's boundary lines held finer than A (`side`, on open domain
// edges) keep their tolerance across the edge by their control points alone:
// then the sampled surface may stand in for the net inside the cell, since
// the samples measure the distance to the surface but not across the edge.
bool edge_sides_hold(const NetPoints& net, double A, const double side[4], const Point3& normal) {
    const int n = net.n, m = net.m;
    const int line[4][5] = {{0, 0, 1, 0, n}, {0, m, 1, 0, n}, {0, 0, 0, 1, m}, {n, 0, 0, 1, m}};
    for (int k = 0; k < 4; ++k) {
        if (side[k] <= 0.0 || side[k] >= A) continue;
        const int* l = line[k];
        if (line_excess(net, l[0], l[1], l[2], l[3], l[4], DBL_MAX, side[k], normal) > 1.0)
            return false;
    }
    return true;
}

// One cell's flatness test: what does not hang on the sides' tolerances is
// worked out once, and the surface samples are kept, so that a strip's
// second test with looser sides, and its area test, repeat none of the
// first test's work.
struct CellTest {
    NetPoints net;
    tess::PointCache& sample;
    double ua, ub, va, vb, A;
    bool decided = false;  // closed, or without a usable normal: `verdict` stands
    Flatness verdict{true, 0};
    Point3 centre{}, normal{};
    double off = 0.0;   // off_plane over the mean plane
    int direction = 0;  // off_plane_direction, once asked
};

// The side-free part of the test: closed nets, the mean plane, the net's
// band over it.
void prepare_test(const Surface& sur, const Surface& piece, PrivatePool& pool, CellTest& t) {
    if (closed_flatness(piece, t.net, t.A, pool, &t.verdict)) {
        t.decided = true;
        return;
    }
    const NetPoints& net = t.net;
    const int n = net.n, m = net.m;
    const Point3 c00 = net_point(net, 0, 0), cn0 = net_point(net, n, 0);
    const Point3 c0m = net_point(net, 0, m), cnm = net_point(net, n, m);
    t.centre = vec_scale(vec_add(vec_add(c00, cn0), vec_add(c0m, cnm)), 0.25);
    Point3 normals[4];
    corner_normals(net, normals);
    if (!cell_normal(sur, t.ua, t.ub, t.va, t.vb, normals, &t.normal)) {
        t.verdict = point_flatness(net, t.centre, t.A);
        t.decided = true;
        return;
    }
    // Plane test: the surface and its triangles must be within A of each other.
    t.off = off_plane(net, t.centre, t.normal);
}

// The flatness test of a cell's piece of surface. `side` holds the
// tolerances of the net's boundary lines (v = va, v = vb, u = ua, u = ub):
// A inside the domain, finer where a line is part of the mesh boundary.
Flatness flatness(CellTest& t, const double side[4]) {
    if (t.decided) return t.verdict;
    const NetPoints& net = t.net;
    const int n = net.n, m = net.m;
    const double A = t.A;
    const Point3& normal = t.normal;
    // The net stands in for the surface where the sampled surface keeps
    // close to the cell's triangles.
    const auto sampled_close = [&] {
        return edge_sides_hold(net, A, side, normal) &&
               surface_close(t.sample, t.ua, t.ub, t.va, t.vb, kSampledShare * A, side);
    };
    const bool in_plane = t.off <= A;
    if (!in_plane && t.off <= kNetSlack * A && sampled_close()) return {true, 0};
    if (!in_plane) {
        if (t.direction == 0) t.direction = off_plane_direction(net, t.centre, normal, A);
        return {false, t.direction, true, t.off <= kNetSlack * A};
    }
    // Edge test: the boundary lines of the net must be straight within their
    // tolerances.
    const double over_u = larger(line_excess(net, 0, 0, 1, 0, n, A, side[0], normal),
                                 line_excess(net, 0, m, 1, 0, n, A, side[1], normal));
    const double over_v = larger(line_excess(net, 0, 0, 0, 1, m, A, side[2], normal),
                                 line_excess(net, n, 0, 0, 1, m, A, side[3], normal));
    if (over_u > 1.0 || over_v > 1.0) {
        if (over_u <= kNetSlack && over_v <= kNetSlack && sampled_close()) return {true, 0};
        return {false, over_u > over_v ? 2 : 1, true};
    }
    return {true, 0};
}

// Maps a knot vector linearly onto [0, L], the end runs exactly.
void map_knots(KnotVector& knt, int p, double L) {
    const double a = knt.U[0], b = knt.U[knt.m];
    if (a == 0.0 && b == L) return;
    const double scale = (L - 0.0) / (b - a);
    for (int i = 0; i <= knt.m; ++i) {
        if (i <= p)
            knt.U[i] = 0.0;
        else if (i >= knt.m - p)
            knt.U[i] = L;
        else
            knt.U[i] = scale * (knt.U[i] - a);
    }
}

// Index of x among sorted distinct values, within the zero test; -1 if none.
int find_value(const double* values, int count, double x) {
    int lo = 0, hi = count - 1;
    while (lo <= hi) {
        // Interpolation guess, kept inside [lo, hi].
        int mid = (lo + hi) / 2;
        if (values[hi] > values[lo]) {
            const double f = (x - values[lo]) / (values[hi] - values[lo]);
            if (f >= 0.0 && f <= 1.0) mid = lo + static_cast<int>(f * (hi - lo));
        }
        if (std::fabs(values[mid] - x) <= kZeroTest) return mid;
        if (values[mid] < x)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    for (int k = lo - 1; k <= lo + 1; ++k)
        if (k >= 0 && k < count && std::fabs(values[k] - x) <= kZeroTest) return k;
    return -1;
}

// find_value remembered by the value's bits: the cell corners and the
// leaves ask for the same few values over and over. Without its table (a
// few lookups, where laying it out costs more than it saves; no storage)
// or once the table is half full, each value is searched afresh, to the
// same index.
class ValueLookup {
public:
    ValueLookup(Scratch& s, const double* values, int count, int lookups)
        : values_(values), count_(count) {
        if (lookups < 4 * count || lookups < 256) return;
        int slots = 64;
        while (slots < 4 * count && slots < (1 << 20)) slots *= 2;
        if (!keys_.resize(s, slots, 0) || !index_.resize(s, slots, -1)) index_.size = 0;
    }
    int find(double x) {
        if (index_.size == 0 || 2 * used_ >= index_.size) return find_value(values_, count_, x);
        uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        const unsigned mask = static_cast<unsigned>(index_.size - 1);
        unsigned h = tess::value_hash(bits) & mask;
        for (; index_[h] >= 0; h = (h + 1) & mask)
            if (keys_[h] == bits) return index_[h];
        const int k = find_value(values_, count_, x);
        if (k < 0) return k;
        keys_[h] = bits;
        index_[h] = k;
        ++used_;
        return k;
    }

private:
    const double* values_;
    int count_;
    Table<uint64_t> keys_;
    Table<int> index_;  // -1 where empty
    int used_ = 0;
};

// Truncation, not floor: the same for r >= 0, and below 0 both give 12;
// floor would be a libm import bound on every face's first call for this
// alone.
int initial_vertex_capacity(double r) {
    const long q = static_cast<long>(r / 4.0);
    if (q <= 5) return 12;
    if (q < 20000) return static_cast<int>(2 * q);
    return static_cast<int>(q);
}

Status storage_failed() {
    set_error(kErrStorage, "N_TESSUB");
    return kFail;
}

// A cell that spans the domain from one open edge to the opposite one (a
// narrow strip): there the chords of both edges bound the mesh, and what
// the strip loses is its chords' shortfall along it, whatever its width.
// Whether the cell's two triangles (either diagonal) keep all but `share`
// of the area of the surface over it, sampled on a 9 x 9 grid.
constexpr double kStripAreaShare = 0.006;

bool strip_area_kept(tess::PointCache& sample, double ua, double ub, double va, double vb,
                     double share) {
    constexpr int kN = 8;
    double us[kN + 1], vs[kN + 1];
    for (int k = 0; k <= kN; ++k) {
        us[k] = ua + (ub - ua) * k / kN;
        vs[k] = va + (vb - va) * k / kN;
    }
    us[kN] = ub, vs[kN] = vb;
    int ui[kN + 1], vj[kN + 1];
    for (int k = 0; k <= kN; ++k) ui[k] = sample.u_line(us[k]), vj[k] = sample.v_line(vs[k]);
    Point3 g[kN + 1][kN + 1];
    for (int i = 0; i <= kN; ++i)
        for (int j = 0; j <= kN; ++j)
            if (!sample.at(ui[i], vj[j], &g[i][j])) return false;
    const auto tri = [](const Point3& a, const Point3& b, const Point3& c) {
        return 0.5 * vec_length(vec_cross(vec_sub(b, a), vec_sub(c, a)));
    };
    double fine = 0.0;
    for (int i = 0; i < kN; ++i)
        for (int j = 0; j < kN; ++j)
            fine += tri(g[i][j], g[i + 1][j], g[i + 1][j + 1]) +
                    tri(g[i][j], g[i + 1][j + 1], g[i][j + 1]);
    const Point3 &c0 = g[0][0], &c1 = g[kN][0], &c2 = g[0][kN], &c3 = g[kN][kN];
    const double coarse =
        std::fmin(tri(c0, c1, c3) + tri(c0, c3, c2), tri(c1, c2, c0) + tri(c1, c3, c2));
    return fine > 0.0 && coarse >= (1.0 - share) * fine;
}

// A cell flat within A whose only fault is a side on an open domain edge
// bending beyond the edge tolerance gets points of its own on that side
// (as a trim polygon has), instead of being cut through: each such cut
// laid a whole column of cells and vertices through the face (a ring's
// rim took four times the columns its rows need). At most this many
// pieces a side.
constexpr int kMaxEdgePieces = 16;

// The fewest equal parameter pieces of the side from (u0, v0) to (u1, v1)
// whose chords keep the surface, sampled at eighths of each piece, within
// `tol`; 0 when more than kMaxEdgePieces would be needed or the surface
// cannot be evaluated.
int edge_pieces(const Surface& sur, double u0, double v0, double u1, double v1, double tol) {
    constexpr int kSteps = 8;
    const auto at = [&](double t, Point3* S) {
        return N_SUREVN(sur, 1, u0 + t * (u1 - u0), v0 + t * (v1 - v0), S) == kOk;
    };
    for (int n = 2; n <= kMaxEdgePieces; ++n) {
        bool holds = true;
        for (int p = 0; p < n && holds; ++p) {
            Point3 a, b, S;
            if (!at(static_cast<double>(p) / n, &a) || !at(static_cast<double>(p + 1) / n, &b))
                return 0;
            const SegmentDistance chord(a, b);
            for (int k = 1; k < kSteps && holds; ++k) {
                if (!at((p + static_cast<double>(k) / kSteps) / n, &S)) return 0;
                double d = 0.0;
                holds = chord.distance(S, &d) == kOk && d <= tol;
            }
        }
        if (holds) return n;
    }
    return 0;
}

// Side k of a cell (v = va, v = vb, u = ua, u = ub) from (e[0], e[1]) to
// (e[2], e[3]).
void side_ends(const double ua, const double ub, const double va, const double vb, int k,
               double e[4]) {
    const double ends[4][4] = {
        {ua, va, ub, va}, {ua, vb, ub, vb}, {ua, va, ua, vb}, {ub, va, ub, vb}};
    for (int i = 0; i < 4; ++i) e[i] = ends[k][i];
}

// Bands of saddle rows (or columns) that get a lattice of their own.
constexpr int kMaxBands = 8;

// The bands of saddle rows (or columns) that got a lattice of their own:
// `direction` is their lattices' (0: none).
struct Bands {
    tess::Lattice at[kMaxBands];
    int count = 0, direction = 0;
};

// The subdivision's working state, shared by its steps.
struct Division {
    const Surface& sur;
    LoopSet& loops;
    Scratch& s;
    Table<double>& raw_u;  // corners in creation order
    Table<double>& raw_v;
    Table<Cell>& stack;
    Table<Cell>& leaves;
    double A, c_prime, Lu, Lv;
    double margin = 0.0, edge = 0.0;
    bool closed_u = false, closed_v = false;
    tess::Lattice lattice_u{}, lattice_v{};  // lines of sized cuts, laid at the first
    Table<SpareBlock> spare{};               // blocks of finished cells' pieces
    Table<Point3> net_points{};              // the cell's net projected, room made by cut
    tess::LineStores lines{};                // the sampled lines' bases and column sums
    Bands bands{};                           // lattices of bands of saddle rows
    tess::LatticeSamples lattice_samples{};  // what the lattices sampled, for the next ones
};

// The cell's net projected into the subdivision's table (cut has made room).
NetPoints project_net(Division& d, const ControlNet& net) {
    Point3* p = d.net_points.data;
    for (int i = 0; i <= net.n; ++i)
        for (int j = 0; j <= net.m; ++j) p[i * (net.m + 1) + j] = net_point(net, i, j);
    return NetPoints{p, net.n, net.m};
}

// A block of at least `bytes` for a piece: a spare one when one is large
// enough (pieces shrink down the subdivision, so one mostly is), else a new
// one. The scratch storage releases them all when the tessellation ends.
void* piece_block(Division& d, std::size_t bytes, std::size_t* got) {
    for (int k = d.spare.size - 1; k >= 0; --k) {
        if (d.spare[k].bytes < bytes) continue;
        const SpareBlock found = d.spare[k];
        d.spare[k] = d.spare[d.spare.size - 1];
        --d.spare.size;
        *got = found.bytes;
        return found.block;
    }
    *got = bytes;
    return d.s.get(bytes);
}

// Keeps a finished cell's block for the next piece (when the list cannot
// grow, the block simply waits for the end of the tessellation).
struct CellBlock {
    Division& d;
    Cell& cell;
    ~CellBlock() {
        if (cell.block != nullptr) d.spare.push(d.s, SpareBlock{cell.block, cell.block_bytes});
        cell.block = nullptr;
        cell.has_piece = false;
    }
};

bool add_corner(Division& d, double u, double v) {
    return d.raw_u.push(d.s, u) && d.raw_v.push(d.s, v);
}

int16_t classify(const Division& d, double ua, double ub, double va, double vb) {
    return static_cast<int16_t>(tess::classify_cell(d.loops, ua, ub, va, vb, d.c_prime));
}

// Lays out a block for a new cell's piece, unless it will never be tested:
// room for a copy of the parent's piece. False when storage runs out.
bool lay_piece(Division& d, Cell& c, const Surface& from) {
    c.has_piece = false;
    c.piece = Surface{};
    c.block = nullptr;
    c.block_bytes = 0;
    if (c.code == -1 || c.ub - c.ua < kZeroTest || c.vb - c.va < kZeroTest) return true;
    const int n = from.net->n, m = from.net->m, mu = from.uknt->m, mv = from.vknt->m;
    const std::size_t bytes = surface_block_size(n, m, mu, mv);
    c.block = bytes == 0 ? nullptr : piece_block(d, bytes, &c.block_bytes);
    if (c.block == nullptr) return storage_failed() == kOk;
    c.has_piece = true;
    surface_in_block(c.block, n, m, mu, mv, &c.piece);
    return true;
}

// Room to project the cell's net when it is settled.
bool net_room(Division& d, const Cell& c) {
    if (!c.has_piece) return true;
    const ControlNet& net = *c.piece.net;
    if (!d.net_points.reserve(d.s, (net.n + 1) * (net.m + 1))) return storage_failed() == kOk;
    return true;
}

// Gives a new cell its piece: N_TOOSSG into a block laid out for a copy of
// the parent's piece.
bool cut(Division& d, Cell& c, const Surface& from) {
    if (!lay_piece(d, c, from)) return false;
    if (c.has_piece && N_TOOSSG(from, c.ua, c.ub, c.va, c.vb, &c.piece, nullptr) != kOk)
        return false;
    return net_room(d, c);
}

// Gives the two halves of cell c, cut at `line` across `direction`, their
// pieces; where both need one, the knots at the cut are inserted once.
bool cut_halves(Division& d, const Cell& c, int direction, double line, Cell& a, Cell& b) {
    if (!lay_piece(d, b, c.piece) || !lay_piece(d, a, c.piece)) return false;
    if (a.has_piece && b.has_piece) {
        if (segment_halves(c.piece, c.ua, c.ub, c.va, c.vb, direction == 1 ? 2 : 1, line, &a.piece,
                           &b.piece) != kOk)
            return false;
    } else {
        for (Cell* h : {&b, &a})
            if (h->has_piece &&
                N_TOOSSG(c.piece, h->ua, h->ub, h->va, h->vb, &h->piece, nullptr) != kOk)
                return false;
    }
    return net_room(d, a) && net_room(d, b);
}

// Whether the cell needs no further cut; otherwise f.direction says where.
// `edge_split[k]` (side k as in `side` below) is set to the pieces a side on
// an open domain edge is to be split into when that is all the cell needs.
bool settle_cell(Division& d, const Cell& c, Flatness& f, int edge_split[4]) {
    for (int k = 0; k < 4; ++k) edge_split[k] = 0;
    bool final_cell = !c.has_piece;
    if (!final_cell) {
        PrivatePool scratch;
        tess::PointCache sample(d.sur, d.s, d.lines);
        CellTest t{project_net(d, *c.piece.net), sample, c.ua, c.ub, c.va, c.vb, d.A};
        prepare_test(d.sur, c.piece, scratch, t);
        // A cell side on an open edge of the domain is where the mesh
        // ends: it is held to the trim tolerance, as the trim polygons are.
        const double A = d.A, edge = d.edge;
        // 0 for a side inside the domain.
        const double side[4] = {
            !d.closed_v && c.va == 0.0 ? edge : 0.0, !d.closed_v && c.vb == d.Lv ? edge : 0.0,
            !d.closed_u && c.ua == 0.0 ? edge : 0.0, !d.closed_u && c.ub == d.Lu ? edge : 0.0};
        f = flatness(t, side);
        final_cell = f.flat;
        // Across a strip, the opposite edges' chords are held to A, and the
        // strip to its area.
        const bool across_v = side[0] > 0.0 && side[1] > 0.0 && side[0] < A;
        const bool across_u = side[2] > 0.0 && side[3] > 0.0 && side[2] < A;
        if (!final_cell && (across_v || across_u)) {
            const double loose[4] = {across_v ? A : side[0], across_v ? A : side[1],
                                     across_u ? A : side[2], across_u ? A : side[3]};
            const Flatness g = flatness(t, loose);
            if (g.flat && strip_area_kept(sample, c.ua, c.ub, c.va, c.vb, kStripAreaShare)) {
                f = g;
                final_cell = true;
            }
        } else if (!final_cell) {
            bool held = false;
            double loose[4];
            for (int k = 0; k < 4; ++k) {
                held = held || (side[k] > 0.0 && side[k] < A);
                loose[k] = side[k] < A ? 0.0 : side[k];
            }
            if (held && flatness(t, loose).flat) {
                bool all = true;
                for (int k = 0; k < 4 && all; ++k) {
                    if (!(side[k] > 0.0 && side[k] < A)) continue;
                    double e[4];
                    side_ends(c.ua, c.ub, c.va, c.vb, k, e);
                    edge_split[k] = edge_pieces(d.sur, e[0], e[1], e[2], e[3], side[k]);
                    all = edge_split[k] > 0;
                }
                final_cell = all;
                if (!all)
                    for (int k = 0; k < 4; ++k) edge_split[k] = 0;
            }
        }
        if (final_cell && crowded(d.loops, c, 2.0 * d.margin)) {
            final_cell = false;
            for (int k = 0; k < 4; ++k) edge_split[k] = 0;
            f.direction = c.ub - c.ua > c.vb - c.va ? 2 : 1;  // across the longer side
        }
    }
    return final_cell;
}

// Cut line, kept 20 C' away from the nearest extreme of a trim loop so that
// cells do not end a hair's breadth from a loop.
double cut_line(const Division& d, const Cell& c, bool at_v, double line) {
    const double margin = d.margin;
    const double lo = at_v ? c.va : c.ua, hi = at_v ? c.vb : c.ub;
    if (0.5 * (hi - lo) > margin) {
        double best = at_v ? d.Lv : d.Lu;
        double nearest = 0.0;
        bool nearest_is_min = false, found = false;
        for (int k = 0; k < d.loops.loops.size; ++k) {
            const tess::Loop& l = d.loops.loops[k];
            const double ext[2] = {at_v ? l.vmin : l.umin, at_v ? l.vmax : l.umax};
            for (int e = 0; e < 2; ++e) {
                const double dist = std::fabs(ext[e] - line);
                if (dist < best) {
                    best = dist;
                    nearest = ext[e];
                    nearest_is_min = e == 0;
                    found = true;
                }
            }
        }
        // Compared as stored: a position that is above the edge only
        // in a wider register would make one half the whole cell again.
        const double below = tess::to_double(nearest - margin);
        const double above = tess::to_double(nearest + margin);
        if (found && best < margin) {
            if (nearest_is_min && below > lo)
                line = below;
            else if (!nearest_is_min && above < hi)
                line = above;
        }
    }
    return line;
}

// Lays the lattice of `direction` (1: lines at constant v) for a cell that
// spans [lo, hi] in it; false only when storage fails.
bool lay_direction(Division& d, int direction, double lo, double hi) {
    const bool at_v = direction == 1;
    tess::Lattice& lattice = at_v ? d.lattice_v : d.lattice_u;
    // The halving cuts made so far (as far as this cell's) stay lines.
    const double L = at_v ? d.Lv : d.Lu;
    int periods = 1;
    while (periods < 32 && L / periods > hi - lo) periods *= 2;
    if (L / periods != hi - lo || lo != std::floor(lo / (hi - lo)) * (hi - lo)) periods = 1;
    // The lines at the other direction's ends where they are open
    // domain edges: held to the edge tolerance, and a strip between
    // them to its area.
    const bool open = at_v ? !d.closed_u : !d.closed_v;
    const double edge[2] = {open ? d.edge : 0.0, open ? d.edge : 0.0};
    const double strip = open && d.edge < d.A ? kStripAreaShare : 0.0;
    lattice.closed = at_v ? d.closed_v : d.closed_u;
    lattice.other_closed = at_v ? d.closed_u : d.closed_v;
    const tess::Lattice& other = at_v ? d.lattice_u : d.lattice_v;
    lattice.other_share = other.share;
    lattice.other = other.tried ? &other : nullptr;
    lattice.samples = &d.lattice_samples;
    if (!tess::lay_lattice(d.sur, direction, d.Lu, d.Lv, periods, kSampledShare * d.A, edge, strip,
                           d.s, &lattice))
        return false;
    return true;
}

// Lattices of their own for bands of saddle rows (or columns): where the
// lattice laid second found every sampled step of some of its pieces a
// saddle, the first direction's pieces there may take the whole budget as
// well, and so need fewer lines than the lattice laid for the whole domain.
// Where the two lattices meet, a band's cells carry their neighbours'
// corners on their sides; a band is kept only where the cells it saves
// outnumber twice its pieces, what its two borders add. *saved: the cells
// the kept bands save, net of that; false only when storage fails.
bool lay_bands(Division& d, const tess::Lattice& first, int first_direction,
               const tess::Lattice& second, Bands& out, double* saved) {
    const Table<double>& rows = second.lines;
    const int whole = first.expected.size - 1;
    *saved = 0.0;
    out.count = 0;
    for (int k = 0; k + 1 < second.saddles.size && out.count < kMaxBands; k += 2) {
        tess::Lattice& band = out.at[out.count];
        band = tess::Lattice{};
        band.from = second.saddles[k];
        band.to = second.saddles[k + 1];
        band.saddle = true;
        band.closed = first.closed;
        band.other_closed = first.other_closed;
        band.samples = &d.lattice_samples;
        const double none[2] = {0.0, 0.0};
        if (!tess::lay_lattice(d.sur, first_direction, d.Lu, d.Lv, first.periods,
                               kSampledShare * d.A, none, 0.0, d.s, &band))
            return false;
        const int pieces = band.lines.size - 1;
        int inside = 0;
        for (int j = 0; j + 1 < rows.size; ++j)
            inside += rows[j] >= band.from && rows[j + 1] <= band.to ? 1 : 0;
        if (pieces < 1 || inside * (whole - pieces) <= 2 * pieces) continue;
        *saved += inside * (whole - pieces) - 2 * pieces;
        ++out.count;
    }
    out.direction = out.count > 0 ? first_direction : 0;
    return true;
}

// Pieces of the two lattices' expected cuts, multiplied, less what bands
// of saddle rows save: about the cells they lead to (0 when either could
// not be sampled); false only when storage fails.
bool expected_cells(Division& d, const tess::Lattice& first, int first_direction,
                    const tess::Lattice& second, Bands& bands, double* cells) {
    double saved = 0.0;
    if (!lay_bands(d, first, first_direction, second, bands, &saved)) return false;
    *cells = 0.0;
    if (first.expected.size >= 2 && second.expected.size >= 2)
        *cells = static_cast<double>(first.expected.size - 1) * (second.expected.size - 1) - saved;
    return true;
}

// The first sized cut in `direction` of cell c lays its lattice. When the
// other direction has none yet, both are laid now: a lattice laid second
// gives each of its pieces what the first one's leave there, so the order
// matters (along a revolved profile, the rows take what the parallels of
// small radius leave, and its saddle rows get columns of their own; the
// parallels gain nothing from the profile's rows; on a ball's corner patch
// the rows take what the short parallels near its pole leave). Where both
// directions bend, both orders are tried and the one expecting fewer cells
// kept, this direction first on a tie.
bool lay_lattices(Division& d, const Cell& c, int direction) {
    const int other_direction = direction == 1 ? 2 : 1;
    tess::Lattice& lattice = direction == 1 ? d.lattice_v : d.lattice_u;
    tess::Lattice& other = direction == 1 ? d.lattice_u : d.lattice_v;
    const auto lay = [&](int dir) {
        return dir == 1 ? lay_direction(d, 1, c.va, c.vb) : lay_direction(d, 2, c.ua, c.ub);
    };
    if (other.tried) return lay(direction);
    // Where the other direction bends little, it takes no share of this
    // one's budget: it is laid when it is first cut, if ever.
    if (!lay(direction)) return false;
    if (!lattice.bent_across) return true;
    if (!lay(other_direction)) return false;
    const tess::Lattice first = lattice, second = other;
    double before = 0.0, after = 0.0;
    if (!expected_cells(d, first, direction, second, d.bands, &before)) return false;
    if (!second.bent_across) return true;  // nor this one of the other's: one order
    lattice = tess::Lattice{};
    other = tess::Lattice{};
    Bands bands;
    if (!lay(other_direction) || !lay(direction) ||
        !expected_cells(d, other, other_direction, lattice, bands, &after))
        return false;
    if (after > 0.0 && after < before) {
        d.bands = bands;
    } else {
        lattice = first;
        other = second;
    }
    lattice.other = other.other = nullptr;
    return true;
}

// Where a cell off its plane is cut. Halving alone leaves cells anywhere
// between the size the tolerance allows and half of it in each direction
// (a ball got twice the rows it needs). So the first such cut in a
// direction lays a lattice of lines sized from the surface's bend over the
// whole domain, and such cuts of cells whose sides are lattice lines take
// the line half way between them: neighbouring cells still share their
// corners. Other cuts halve. (Bands of saddle rows have lattices of their
// own, below.)
// A sized cut across the band direction of a cell reaching over a band's
// border is made at that border first, across the other direction (it is a
// line of the other lattice): the cells on either side then take their
// own lattice's lines. Not where the border must give way to a trim loop.
bool sized_line(Division& d, const Cell& c, const Flatness& f, int* direction, double* line) {
    *direction = f.direction;
    const bool at_v = f.direction == 1;
    const double lo = at_v ? c.va : c.ua, hi = at_v ? c.vb : c.ub;
    *line = 0.5 * (lo + hi);
    if (!f.sized && !f.turn) return true;
    tess::Lattice& lattice = at_v ? d.lattice_v : d.lattice_u;
    if (!lattice.tried && !lay_lattices(d, c, f.direction)) return false;
    // A full turn is halved unless its lattice was laid over the whole turn
    // (the halves would each round their pieces up): then at its middle
    // line by count.
    if (f.turn) {
        if (lattice.periods == 1 && !tess::lattice_cut(lattice, lo, hi, line)) *line = 0.5 * (lo + hi);
        return true;
    }
    const tess::Lattice* use = &lattice;
    const double across_lo = at_v ? c.ua : c.va, across_hi = at_v ? c.ub : c.vb;
    for (int b = 0; b < d.bands.count && f.direction == d.bands.direction; ++b) {
        const tess::Lattice& band = d.bands.at[b];
        if (across_lo >= band.from && across_hi <= band.to) {
            use = &band;
            break;
        }
        for (const double border : {band.from, band.to}) {
            if (across_lo < border && border < across_hi &&
                cut_line(d, c, !at_v, border) == border) {
                *direction = at_v ? 2 : 1;
                *line = border;
                return true;
            }
        }
    }
    if (tess::lattice_cut(*use, lo, hi, line)) return true;
    // Round a turn laid whole, the turn's first cut is at the middle line of
    // its lattice, which a band's lattice need not have: a band's cell
    // there is cut at the band's line nearest its middle (halved, it got
    // half again as many columns as the band's).
    if (use != &lattice && lattice.periods == 1 && tess::lattice_inner(*use, lo, hi, line))
        return true;
    if (!tess::lattice_piece(*use, lo, hi)) return true;
    // A cell that is one piece of its lattice in this direction but spans
    // several of the other lattice's is cut along the other's line where
    // the two were sized so that a piece of each is flat; halving the piece
    // adds a row across the whole face. So on a lattice laid second with
    // shares of its own over a net near its plane (a ball's corner patch
    // whose four rows take what its short parallels leave near the pole got
    // a fifth so), and where the other lattice goes round a turn (halved
    // across its row, such a cell of a revolved profile made two cells where
    // the column's cut makes one, and a short row of vertices of its own).
    // Done so on every patch closed in neither direction, it cost a patch
    // of crowded rational knots a quarter more triangles.
    const tess::Lattice& other = at_v ? d.lattice_u : d.lattice_v;
    const bool own_shares = d.bands.count == 0 && use == &lattice && lattice.local && f.near_plane;
    double across = 0.0;
    if ((own_shares || other.closed) && tess::lattice_cut(other, across_lo, across_hi, &across) &&
        cut_line(d, c, !at_v, across) == across) {
        *direction = at_v ? 2 : 1;
        *line = across;
    }
    return true;
}

// Splits cell c in two across `direction`, recording the new corners.
Status split_cell(Division& d, const Cell& c, const Flatness& f) {
    int direction = f.direction;
    double sized = 0.0;
    if (!sized_line(d, c, f, &direction, &sized)) return storage_failed();
    const bool at_v = direction == 1;
    const double line = cut_line(d, c, at_v, sized);
    Cell a = c, b = c;
    if (at_v) {
        a.vb = line;
        b.va = line;
        if (!add_corner(d, c.ua, line) || !add_corner(d, c.ub, line)) return storage_failed();
    } else {
        a.ub = line;
        b.ua = line;
        if (!add_corner(d, line, c.va) || !add_corner(d, line, c.vb)) return storage_failed();
    }
    a.code = classify(d, a.ua, a.ub, a.va, a.vb);
    b.code = classify(d, b.ua, b.ub, b.va, b.vb);
    // On failure the children's blocks stay with the scratch storage.
    if (!cut_halves(d, c, direction, line, a, b)) return kFail;
    if (!d.stack.push(d.s, b) || !d.stack.push(d.s, a)) return storage_failed();
    return kOk;
}

// Takes cells off the stack until every one is flat or outside.
Status subdivide(Division& d, bool* split_any) {
    while (d.stack.size > 0) {
        Cell c = d.stack[--d.stack.size];
        CellBlock owned{d, c};
        Flatness f{true, 0};
        int edge_split[4];
        if (settle_cell(d, c, f, edge_split)) {
            for (int k = 0; k < 4; ++k) {
                double e[4];
                side_ends(c.ua, c.ub, c.va, c.vb, k, e);
                for (int p = 1; p < edge_split[k]; ++p) {
                    const double t = static_cast<double>(p) / edge_split[k];
                    if (!add_corner(d, e[0] + t * (e[2] - e[0]), e[1] + t * (e[3] - e[1])))
                        return storage_failed();
                }
            }
            Cell leaf = c;
            leaf.has_piece = false;  // the piece goes with the cell's block
            leaf.block = nullptr;
            if (!d.leaves.push(d.s, leaf)) return storage_failed();
            continue;
        }
        if (d.raw_u.size > kMaxCorners) {
            // Not storage: the surface tolerance asks for more cells than a
            // mesh can sensibly hold. Its own code lets the caller say so.
            set_error(kErrCapacity, "N_TESSUB");
            return kFail;
        }
        *split_any = true;
        const Status st = split_cell(d, c, f);
        if (st != kOk) return st;
    }
    return kOk;
}

// The sorted distinct corner positions along u and v.
Status corner_values(const Table<double>& raw_u, const Table<double>& raw_v, double Lu, double Lv,
                     int buckets, Scratch& s, CellGrid& grid) {
    PrivatePool sets;
    OrderedSet su, sv;
    if (ordered_set_init(&su, 0.0, Lu, buckets, sets.get()) != kOk ||
        ordered_set_init(&sv, 0.0, Lv, buckets, sets.get()) != kOk)
        return kFail;
    for (int k = 0; k < raw_u.size; ++k)
        if (M_UPRHAS(&su, raw_u[k]) != kOk || M_UPRHAS(&sv, raw_v[k]) != kOk) return kFail;
    if (!grid.us.resize(s, su.count, 0.0) || !grid.vs.resize(s, sv.count, 0.0))
        return storage_failed();
    ordered_set_values(su, grid.us.data);
    ordered_set_values(sv, grid.vs.data);
    return kOk;
}

// The dense index of the corner grid and one vertex per distinct corner, in
// creation order.
Status number_corners(const Table<double>& raw_u, const Table<double>& raw_v, Scratch& s,
                      CellGrid& grid, VertexTable& verts) {
    const int nu = grid.us.size, nv = grid.vs.size;
    // The grid is dense: beyond this it would not fit a 32-bit process.
    if (static_cast<long long>(nu) * nv > (1LL << 24)) return storage_failed();
    if (!grid.index.resize(s, nu * nv, -1)) return storage_failed();
    verts.u.clear();
    verts.v.clear();
    if (!verts.u.reserve(s, raw_u.size) || !verts.v.reserve(s, raw_u.size)) return storage_failed();
    ValueLookup find_u(s, grid.us.data, nu, raw_u.size), find_v(s, grid.vs.data, nv, raw_u.size);
    for (int k = 0; k < raw_u.size; ++k) {
        const int i = find_u.find(raw_u[k]);
        const int j = find_v.find(raw_v[k]);
        if (i < 0 || j < 0) {
            set_error(kErrDivision, "N_TESSUB");
            return kFail;
        }
        int& slot = grid.index[j * nu + i];
        if (slot >= 0) continue;
        slot = verts.u.size;
        if (!verts.u.push(s, grid.us[i]) || !verts.v.push(s, grid.vs[j])) return storage_failed();
    }
    return kOk;
}

// Seam partners of closed surfaces: the same v (or u) on both sides.
Status add_seam_partners(bool closed_u, bool closed_v, Scratch& s, CellGrid& grid,
                         VertexTable& verts) {
    const int nu = grid.us.size, nv = grid.vs.size;
    auto add_partner = [&](int i, int j) {
        int& slot = grid.index[j * nu + i];
        if (slot >= 0) return true;
        slot = verts.u.size;
        return verts.u.push(s, grid.us[i]) && verts.v.push(s, grid.vs[j]);
    };
    if (closed_u)
        for (int j = 0; j < nv; ++j) {
            const bool left = grid.index[j * nu] >= 0, right = grid.index[j * nu + nu - 1] >= 0;
            if (left != right && !add_partner(left ? nu - 1 : 0, j)) return storage_failed();
        }
    if (closed_v)
        for (int i = 0; i < nu; ++i) {
            const bool low = grid.index[i] >= 0, high = grid.index[(nv - 1) * nu + i] >= 0;
            if (low != high && !add_partner(i, low ? nv - 1 : 0)) return storage_failed();
        }
    return kOk;
}

// The flat cells as grid leaves, row by row from each lower-left corner.
Status collect_leaves(const Table<Cell>& leaves, Scratch& s, CellGrid& grid) {
    const int nu = grid.us.size, nv = grid.vs.size;
    grid.leaves.clear();
    if (!grid.leaves.reserve(s, leaves.size)) return storage_failed();
    ValueLookup find_u(s, grid.us.data, nu, 2 * leaves.size),
        find_v(s, grid.vs.data, nv, 2 * leaves.size);
    for (int k = 0; k < leaves.size; ++k) {
        const Cell& c = leaves[k];
        const int i0 = find_u.find(c.ua), i1 = find_u.find(c.ub);
        const int j0 = find_v.find(c.va), j1 = find_v.find(c.vb);
        Leaf leaf{c.ua, c.ub, c.va, c.vb, i0, i1, j0, j1, c.code};
        if (leaf.i0 < 0 || leaf.i1 < 0 || leaf.j0 < 0 || leaf.j1 < 0) {
            set_error(kErrDivision, "N_TESSUB");
            return kFail;
        }
        // The grid's values are the boxes from here on, so neighbouring cells
        // agree exactly on shared sides.
        leaf.ua = grid.us[leaf.i0];
        leaf.ub = grid.us[leaf.i1];
        leaf.va = grid.vs[leaf.j0];
        leaf.vb = grid.vs[leaf.j1];
        if (leaf.i0 == leaf.i1 || leaf.j0 == leaf.j1) continue;  // thinner than the zero test
        grid.leaves.push(s, leaf);
    }
    std::sort(
        grid.leaves.data, grid.leaves.data + grid.leaves.size,
        [](const Leaf& a, const Leaf& b) { return a.j0 != b.j0 ? a.j0 < b.j0 : a.i0 < b.i0; });
    return kOk;
}

// One cell: the polygons are cut to the domain and thinned instead.
void clip_loops_to_domain(LoopSet& loops, double Lu, double Lv, double c_prime, CellGrid& grid) {
    if (grid.leaves.size == 1) grid.leaves[0].code = 2;
    for (int k = 0; k < loops.loops.size; ++k) {
        tess::Loop& l = loops.loops[k];
        for (int i = 0; i < l.u.size; ++i) {
            l.u[i] = std::fmin(std::fmax(l.u[i], 0.0), Lu);
            l.v[i] = std::fmin(std::fmax(l.v[i], 0.0), Lv);
        }
        // A fixed loop keeps every point it was given.
        for (int i = 1; i < l.u.size && l.u.size > 3 && !l.fixed;) {
            const double du = l.u[i] - l.u[i - 1], dv = l.v[i] - l.v[i - 1];
            if (du * du + dv * dv <= c_prime * c_prime) {
                for (int x = i + 1; x < l.u.size; ++x) {
                    l.u[x - 1] = l.u[x];
                    l.v[x - 1] = l.v[x];
                }
                --l.u.size;
                --l.v.size;
            } else {
                ++i;
            }
        }
        tess::update_box(l);
        l.index.nu = l.index.nv = 0;  // numbering changed: scan instead
    }
}

}  // namespace

Status N_TESSUB(const SurfaceMeasures& g, Surface* sur, LoopSet& loops, double A, double c_prime,
                Scratch& s, CellGrid& grid, VertexTable& verts) {
    if (A < kMinTolerance) {
        set_error(kErrTolerance, "N_TESSUB");
        return kFail;
    }
    const double Lu = g.Lu, Lv = g.Lv;
    map_knots(*sur->uknt, sur->p, Lu);
    map_knots(*sur->vknt, sur->q, Lv);

    double r = g.area / A;
    if (!(r <= 500000.0)) r = 500000.0;
    // The estimate is for a face of cells A across; a nearly flat face needs
    // a handful of corners, and a large first reservation spreads a small
    // face's data over heap pages it never fills. The tables double when
    // they must.
    const int vertex_cap = std::min(initial_vertex_capacity(r), 256);
    // The pending cells of a depth-first split are few; the stack grows when
    // it must (a cell holds a pool, so a large first reservation is pages of
    // the host's heap a small face never uses).
    const int stack_cap = 8;
    // r is an area over a positive tolerance, at most 500000: truncation
    // is floor here (and below 0 the root is not a number either way).
    const int buckets = std::max(20, static_cast<int>(4.0 * std::sqrt(r)));

    Table<double> raw_u, raw_v;
    Table<Cell> stack;
    Table<Cell> leaves;
    Division d{*sur, loops, s, raw_u, raw_v, stack, leaves, A, c_prime, Lu, Lv};
    if (!raw_u.reserve(s, vertex_cap) || !raw_v.reserve(s, vertex_cap) ||
        !stack.reserve(s, stack_cap))
        return storage_failed();
    if (!add_corner(d, 0, 0) || !add_corner(d, Lu, 0) || !add_corner(d, 0, Lv) ||
        !add_corner(d, Lu, Lv))
        return storage_failed();
    {
        Cell root{0, Lu, 0, Lv, classify(d, 0, Lu, 0, Lv), false, Surface{}, nullptr, 0};
        if (!cut(d, root, *sur)) return kFail;
        if (!stack.push(s, root)) return storage_failed();
    }

    d.margin = 20.0 * c_prime;
    d.closed_u = net_closed(*sur->net, 1);
    d.closed_v = net_closed(*sur->net, 2);
    d.edge = g.edge_tolerance > 0.0 ? std::fmin(A, g.edge_tolerance) : A;
    bool split_any = false;
    Status st = subdivide(d, &split_any);
    if (st == kOk) st = corner_values(raw_u, raw_v, Lu, Lv, buckets, s, grid);
    if (st == kOk) st = number_corners(raw_u, raw_v, s, grid, verts);
    if (st == kOk) st = add_seam_partners(d.closed_u, d.closed_v, s, grid, verts);
    if (st == kOk) st = collect_leaves(leaves, s, grid);
    if (st != kOk) return st;
    if (!split_any) clip_loops_to_domain(loops, Lu, Lv, c_prime, grid);
    return kOk;
}

}  // namespace ruvane
