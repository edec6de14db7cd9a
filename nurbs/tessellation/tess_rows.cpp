// Rings zipped to rings: a face that turns round an axis is meshed as closed
// rows of points across the direction that does not close, every row with
// its own point count, and each pair of neighbouring rows joined into a
// strip by choosing, step by step, the shorter diagonal in space.
#include "nurbs/tessellation/tess_rows.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "nurbs/nurbs.h"
#include "nurbs/tessellation/tess_fixed.h"

namespace ruvane::tess {

namespace {

// Samples along a ring for its length and the spread of its points.
constexpr int kRingSamples = 128;
// Chords along a ring sampled for a row's first count.
constexpr int kCountSamples = 32;
// Fine steps across the rings where the face chooses its own rows.
constexpr int kAcrossSteps = 256;
// Lines round the turn those steps are sampled on.
constexpr int kAcrossLines = 8;
// Share of the face's area the chords of its open edges may cut off.
constexpr double kOpenLoss = 0.006;
// A free row's fewest chords: each turns by at most 45 degrees round a full
// turn.
constexpr int kFewestChords = 8;
// How much a triangle turned away from the surface, or over in the
// parameter plane, asks its row to grow by (as a sample that strayed so
// many times its allowance).
constexpr double kFaceExcess = 1.25;
// Where a row ending on another's seam points takes its extra point near
// each end, in shares of its chords.
constexpr double kKink = 0.25;
// Most rows a face may take: each free row has at least kFewestChords + 1
// points, and the whole mesh at most kRowsMaxPoints.
constexpr int kRowsMaxRows = kRowsMaxPoints / (kFewestChords + 1);

// A count summed from square roots of sag over tolerance, rounded up (at
// least 1), or -1 when it is not finite or above `most`: a surface a file
// makes huge, or whose weights make it infinite, against a small tolerance
// asks for more than any mesh may hold, and the count must not overflow.
int bounded_count(double sum, int most) {
    if (!(sum - 1e-9 <= most)) return -1;
    return std::max(1, static_cast<int>(std::ceil(sum - 1e-9)));
}

// The face in (s, t): s round the turn, t across; both in the metric plane.
struct Frame {
    const Surface* sur = nullptr;
    SurfaceMeasures g{};
    int d = 0;  // 0: u closes (s is u'), 1: v closes (s is v')
    double Ls = 0.0, Lt = 0.0;
    int hint[2] = {-1, -1};

    void metric(double s, double t, double* mu, double* mv) const {
        *mu = d == 0 ? s : t;
        *mv = d == 0 ? t : s;
    }
    void parameters(double s, double t, double* u, double* v) const {
        double mu, mv;
        metric(s, t, &mu, &mv);
        *u = smaller(mu == g.Lu ? g.u_max : g.u_min + mu / g.su, g.u_max);
        *v = smaller(mv == g.Lv ? g.v_max : g.v_min + mv / g.sv, g.v_max);
    }
    bool point(double s, double t, Point3* S) {
        double u, v;
        parameters(s, t, &u, &v);
        return surface_point_near(*sur, u, v, hint, S) == kOk;
    }
    // The point and unit normal (on the side of Su x Sv); *deg at a pole or
    // an apex, where the normal is left as it was.
    bool normal(double s, double t, Point3* S, Point3* n, char* deg) const {
        double u, v;
        parameters(s, t, &u, &v);
        Point3 row0[2], row1[2];
        Point3* skl[2] = {row0, row1};
        if (N_SURDER(*sur, 1, u, v, 1, 1, 1, skl) != kOk) return false;
        *S = row0[0];
        const Point3 c = vec_cross(vec_scale(row1[0], 1.0 / g.su), vec_scale(row0[1], 1.0 / g.sv));
        const double len = vec_length(c);
        if (!std::isfinite(len)) return false;
        *deg = len < kBoundaryDegenerate ? 1 : 0;
        if (!*deg) *n = vec_scale(c, 1.0 / len);
        return true;
    }
};

// One closed row: its points from s = 0 to s = Ls (the seam's two copies
// first and last).
struct Row {
    double t = 0.0;
    bool fixed = false;  // its points were given: never refined
    bool pole = false;
    int link = -1;    // a row whose points this one repeats (the second seam)
    int anchor = -1;  // a row whose two seam points this one ends on
    int floor = 1;    // fewest chords (a boundary row's trim rule)
    Table<double> ps, pt;
    Table<int> id;
    Table<Point3> at, nrm;
    Table<char> deg;
    Table<double> cum;              // the ring's lengths, as ring() samples them
    double seam_t[2] = {0.0, 0.0};  // the seam copies' t (given points)
    int seam_id[2] = {-1, -1};
    int chords() const { return ps.size - 1; }
};

struct Rows {
    Frame f;
    Table<Row> rows;
    double A = 0.0;
    double margin = 0.0;   // what a triangle's samples may stray
    double spacing = 0.0;  // what the chords across the rows may sag
    bool given = false;    // the rows stand on fixed loops' points
    bool refused = false;
    // Points laid in all rows so far. Rows only grow, and the mesh takes all
    // but two points of each row at most, so beyond kRowsMaxPoints plus two
    // per row the face declines before laying more.
    int laid = 0;
    bool more_points(int before, int after) {
        laid += after - before;
        return laid <= kRowsMaxPoints + 2 * rows.size;
    }
    bool room(bool got) {
        refused = refused || !got;
        return got;
    }
};

// The ring at t sampled: cumulative lengths at kRingSamples + 1 even steps.
bool ring(Frame& f, double t, double* cum) {
    Point3 last{};
    cum[0] = 0.0;
    for (int j = 0; j <= kRingSamples; ++j) {
        Point3 S;
        if (!f.point(f.Ls * j / kRingSamples, t, &S)) return false;
        if (j > 0) cum[j] = cum[j - 1] + vec_distance(S, last);
        last = S;
    }
    return true;
}

// The s at which the ring's length reaches `share` of its whole.
double spread(const Frame& f, const double* cum, double share) {
    const double want = share * cum[kRingSamples];
    int j = 0;
    while (j < kRingSamples - 1 && cum[j + 1] < want) ++j;
    const double piece = cum[j + 1] - cum[j];
    const double x = piece > 0.0 ? (want - cum[j]) / piece : 0.0;
    return f.Ls * (j + smaller(1.0, larger(0.0, x))) / kRingSamples;
}

// Evaluates the row's points.
bool evaluate(Scratch& s, Rows& r, Row& row) {
    const int n = row.ps.size;
    if (!r.room(row.at.resize(s, n, Point3{}) && row.nrm.resize(s, n, Point3{}) &&
                row.deg.resize(s, n, 0)))
        return false;
    for (int j = 0; j < n; ++j)
        if (!r.f.normal(row.ps[j], row.pt[j], &row.at[j], &row.nrm[j], &row.deg[j])) return false;
    return true;
}

// A free row of n chords, spread evenly along its length.
bool lay_row(Scratch& s, Rows& r, Row& row, int n) {
    // The ring's lengths, sampled once per row.
    if (row.cum.size == 0) {
        if (!r.room(row.cum.resize(s, kRingSamples + 1, 0.0))) return false;
        if (!ring(r.f, row.t, row.cum.data)) {
            row.cum.size = 0;
            return false;
        }
    }
    const double* cum = row.cum.data;
    row.ps.clear();
    row.pt.clear();
    row.id.clear();
    // A row ending on another row's seam points leaves them at a slant: a
    // point close to each end keeps the triangles on the seam's chord thin,
    // as that chord already strays as far as the strip may.
    const int kinks = row.anchor >= 0 ? 2 : 0;
    if (n > kRowsMaxPoints || !r.more_points(row.ps.size, n + 1 + kinks)) return false;
    const int points = n + 1 + kinks;
    if (!r.room(row.ps.reserve(s, points) && row.pt.reserve(s, points) &&
                row.id.reserve(s, points)))
        return false;
    for (int x = 0; x < points; ++x) {
        const int j = kinks == 0 || x == 0 ? x
                      : x == points - 1    ? n
                      : x == 1             ? -1
                      : x == points - 2    ? -2
                                           : x - 1;
        double share = double(j) / n;
        if (j == -1) share = kKink / n;
        if (j == -2) share = 1.0 - kKink / n;
        const double sj = j == 0 ? 0.0 : j == n ? r.f.Ls : spread(r.f, cum, share);
        const double tj = j == 0 ? row.seam_t[0] : j == n ? row.seam_t[1] : row.t;
        row.ps.push(s, sj);
        row.pt.push(s, tj);
        row.id.push(s, j == 0 ? row.seam_id[0] : j == n ? row.seam_id[1] : -1);
    }
    return evaluate(s, r, row);
}

// Which part of a chord's sag counts: all of it, or the part along the
// surface's normal (a ring's bend within the surface is no departure from
// it).
enum class Sag { kFull, kAcross };

// The fewest chords along the ring at t whose middles keep within `tol`
// of it, by the part of the sag asked for (from the sampled ring, as the
// lattice counts its pieces).
int ring_chords(Frame& f, double t, double tol, Sag part, bool* ok) {
    Point3 P[2 * kCountSamples + 1];
    for (int j = 0; j <= 2 * kCountSamples; ++j)
        if (!f.point(f.Ls * j / (2 * kCountSamples), t, &P[j])) *ok = false;
    double sum = 0.0;
    for (int j = 0; j < kCountSamples; ++j) {
        const Point3 off = vec_sub(P[2 * j + 1], vec_scale(vec_add(P[2 * j], P[2 * j + 2]), 0.5));
        double sag = vec_length(off);
        Point3 S, n;
        char deg = 0;
        if (part != Sag::kFull &&
            f.normal(f.Ls * (2 * j + 1) / (2 * kCountSamples), t, &S, &n, &deg) && !deg) {
            sag = std::fabs(vec_dot(off, n));
        }
        sum += std::sqrt(sag / tol);
    }
    const int n = bounded_count(sum, kRowsMaxPoints);
    if (n < 0) *ok = false;
    return std::max(1, n);
}

// What even chords along the open edge at t cut off the face, as c / n^2
// for n chords (c returned): a chord of length L where the edge bends
// within the surface by k cuts off k L^3 / 12, so n chords over the edge's
// length P cut (P / n)^2 / 12 times the edge's whole bend. The bend counts
// negative where the edge bulges into the face (a ring's inner circle):
// its chords add to the face there.
double open_cut(Frame& f, double t, bool* ok) {
    Point3 P[2 * kRingSamples + 1];
    for (int j = 0; j <= 2 * kRingSamples; ++j)
        if (!f.point(f.Ls * j / (2 * kRingSamples), t, &P[j])) *ok = false;
    const double inward = t == 0.0 ? 1.0 : -1.0;
    const double dt = 1e-3 * f.Lt * inward;
    double bend = 0.0, length = 0.0;
    for (int j = 0; j < kRingSamples; ++j) {
        const double sm = f.Ls * (2 * j + 1) / (2 * kRingSamples);
        const Point3 off = vec_sub(P[2 * j + 1], vec_scale(vec_add(P[2 * j], P[2 * j + 2]), 0.5));
        const double piece = vec_distance(P[2 * j], P[2 * j + 2]);
        Point3 S, n, in;
        char deg = 0;
        if (!f.normal(sm, t, &S, &n, &deg) || deg || !f.point(sm, t + dt, &in)) {
            *ok = false;
            continue;
        }
        const Point3 within = vec_sub(off, vec_scale(n, vec_dot(off, n)));
        const double sign = vec_dot(within, vec_sub(in, S)) < 0.0 ? 1.0 : -1.0;
        length += piece;
        if (piece > 0.0) bend += sign * 8.0 * vec_length(within) / piece;
    }
    return length * length * bend / 12.0;
}

// The face's area, from rings sampled across it.
double face_area(Frame& f) {
    constexpr int kSteps = 64;
    double area = 0.0;
    for (int i = 0; i < kSteps; ++i) {
        const double t0 = f.Lt * i / kSteps, t1 = f.Lt * (i + 1) / kSteps;
        double cum[kRingSamples + 1], step = 0.0;
        if (!ring(f, 0.5 * (t0 + t1), cum)) return 0.0;
        for (int l = 0; l < kAcrossLines; ++l) {
            Point3 a, b;
            const double sl = f.Ls * (l + 0.5) / kAcrossLines;
            if (!f.point(sl, t0, &a) || !f.point(sl, t1, &b)) return 0.0;
            step += vec_distance(a, b) / kAcrossLines;
        }
        area += cum[kRingSamples] * step;
    }
    return area;
}

// A triangle of the strips by row and place.
struct Corner {
    const Row* row;
    int j;
};

// Barycentric samples: the edge middles, the centroid and halfway from it
// to the edge middles.
struct Samples {
    double w[7][3];
    Samples() {
        for (int e = 0; e < 3; ++e)
            for (int k = 0; k < 3; ++k) {
                const double middle = k == e || k == (e + 1) % 3 ? 0.5 : 0.0;
                w[e][k] = middle;
                w[4 + e][k] = 0.5 * (middle + 1.0 / 3);
                w[3][k] = 1.0 / 3;
            }
    }
};

// Whether the triangle (counter-clockwise in (s, t)) faces as the surface
// does at its regular corners and keeps the surface, at its samples, within
// `allow` of its plane. Two copies of a pole among its corners make a
// triangle of no area in space: its neighbours cover it.
bool fits(Rows& r, const Corner* c, double allow, double* excess) {
    const Point3* P[3];
    double cs[3], ct[3];
    int pole = -1;
    for (int k = 0; k < 3; ++k) {
        P[k] = &c[k].row->at[c[k].j];
        cs[k] = c[k].row->ps[c[k].j];
        ct[k] = c[k].row->pt[c[k].j];
        if (c[k].row->pole) {
            if (pole >= 0) return true;  // two copies of a pole: no area in space
            pole = k;
        }
    }
    // A pole has no place round the turn: it stands where its triangle's
    // other corners are, so that the samples lie under the triangle.
    if (pole >= 0) cs[pole] = 0.5 * (cs[(pole + 1) % 3] + cs[(pole + 2) % 3]);
    const double st = (cs[1] - cs[0]) * (ct[2] - ct[0]) - (ct[1] - ct[0]) * (cs[2] - cs[0]);
    if (!(st > 0.0)) return false;
    Point3 n = vec_cross(vec_sub(*P[1], *P[0]), vec_sub(*P[2], *P[0]));
    if (r.f.d == 1) n = vec_scale(n, -1.0);  // (s, t) turns the other way from (u', v')
    const double len = vec_length(n);
    if (!(len > 0.0)) return false;
    for (int k = 0; k < 3; ++k)
        if (!c[k].row->deg[c[k].j] && !(vec_dot(n, c[k].row->nrm[c[k].j]) > kBoundaryFacing * len))
            return false;
    const Point3 unit = vec_scale(n, 1.0 / len);
    static const Samples samples;
    for (const auto& w : samples.w) {
        double s = 0.0, t = 0.0;
        for (int k = 0; k < 3; ++k) {
            s += w[k] * cs[k];
            t += w[k] * ct[k];
        }
        Point3 S;
        if (!r.f.point(s, t, &S)) return false;
        const double off = std::fabs(vec_dot(vec_sub(S, *P[0]), unit));
        if (!(off <= allow)) {
            *excess = off / allow;
            return false;
        }
    }
    return true;
}

// The stray of a fixed row's chord from point j to j + 1, else 0.
double chord_stray(Rows& r, const Row& row, int j) {
    if (!row.fixed || row.pole) return 0.0;
    Point3 S;
    if (!r.f.point(0.5 * (row.ps[j] + row.ps[j + 1]), 0.5 * (row.pt[j] + row.pt[j + 1]), &S))
        return -1.0;
    return vec_distance(S, vec_scale(vec_add(row.at[j], row.at[j + 1]), 0.5));
}

// Zips rows k and k + 1 (from s = 0 to s = Ls, taking the shorter diagonal
// in space, the one further behind along s on a tie) and calls emit on each
// triangle, counter-clockwise in (s, t); false as soon as emit is.
template <class Emit>
bool zip(const Row& a, const Row& b, bool shared, Emit emit) {
    int i = 0, j = 0;
    const int n = a.chords(), m = b.chords();
    if (shared) {
        // Both rows leave the same seam point: its first triangle spans
        // both rows' first chords, and the last ends on the far copy.
        const Corner c[3] = {Corner{&a, 0}, Corner{&a, 1}, Corner{&b, 1}};
        if (!emit(c, 0)) return false;
        i = j = 1;
    }
    // A row ending on the seam points of a row beyond the other one leaves
    // them at a slant toward it: its slanted chord's triangle comes first
    // (last at the far end), or it would overlap the next.
    const bool a_rises = !shared && a.pt[1] > a.pt[0], b_dips = !shared && b.pt[1] < b.pt[0];
    const bool a_ends = !shared && a.pt[n - 1] > a.pt[n], b_ends = !shared && b.pt[m - 1] < b.pt[m];
    while (i < n || j < m) {
        if (shared && i + j == n + m - 1) break;
        const bool wait_a = a_ends && i + 1 == n && j < m, wait_b = b_ends && j + 1 == m && i < n;
        bool up;  // true: the triangle's new corner is on row b
        if (i == n || j == m) {
            up = i == n;
        } else if (a.pole || b.pole) {
            // A pole's copies: the fan from the first copy over the first
            // half of the turn, the copies joined there, the fan from the
            // last copy over the second half; each triangle then turns as
            // the others in the parameter plane too.
            const double half = 0.5 * (a.pole ? a.ps[n] : b.ps[m]);
            up = a.pole ? b.ps[j] < half : !(a.ps[i] < half);
        } else if (i == 0 && j == 0 && (a_rises || b_dips)) {
            up = !a_rises;
        } else if (wait_a != wait_b) {
            up = wait_a;
        } else {
            const double da = vec_distance(a.at[i + 1], b.at[j]);
            const double db = vec_distance(a.at[i], b.at[j + 1]);
            const double tie = 1e-12 * (da + db);
            up = std::fabs(da - db) <= tie ? b.ps[j + 1] / b.ps[m] <= a.ps[i + 1] / a.ps[n]
                                           : db < da;
        }
        const Corner c[3] = {Corner{&a, i}, up ? Corner{&b, j + 1} : Corner{&a, i + 1},
                             up ? Corner{&b, j} : Corner{&b, j}};
        if (!emit(c, up ? -1 : i)) return false;
        if (up)
            ++j;
        else
            ++i;
    }
    return true;
}

// The row whose seam points row k ends on.
int seam_row(const Rows& r, int k) { return r.rows[k].anchor >= 0 ? r.rows[k].anchor : k; }

// How far the middle of the seam chord between two rows strays.
double seam_stray(Rows& r, const Row& a, const Row& b) {
    Point3 S;
    if (!r.f.point(0.0, 0.5 * (a.pt[0] + b.pt[0]), &S)) return -1.0;
    return vec_distance(S, vec_scale(vec_add(a.at[0], b.at[0]), 0.5));
}

// Whether the strip between rows k and k + 1 passes; *base receives the
// row of the first failing triangle's chord along a row, *excess how far
// its sample strayed over what it may (kFaceExcess for a triangle turned
// away or over).
bool strip_fits(Rows& r, int k, int* base, double* excess) {
    const Row &a = r.rows[k], &b = r.rows[k + 1];
    // Two poles next to each other: every triangle of the strip joins two
    // copies of one pole, and none of them covers the surface between.
    if (a.pole && b.pole) return false;
    const bool shared = seam_row(r, k) == seam_row(r, k + 1);
    // The seam's chord was chosen by the caller (or by the rows' spacing):
    // the two triangles on it cannot keep closer than it does.
    const double seam = shared ? 0.0 : seam_stray(r, a, b);
    if (!(seam >= 0.0)) return false;
    const int n = a.chords(), m = b.chords();
    return zip(a, b, shared, [&](const Corner* c, int on_a) {
        double allow = r.margin;
        // A fixed row's chord among the edges strays as the mesher chose.
        if (on_a >= 0) allow = larger(allow, chord_stray(r, a, on_a));
        if (c[1].row == &b && c[2].row == &b) allow = larger(allow, chord_stray(r, b, c[2].j));
        const bool first = c[0].j == 0 && c[2].j == 0;
        const bool last = (c[1].row == &a && c[1].j == n && c[2].j == m) ||
                          (c[1].row == &b && c[1].j == m && c[0].j == n);
        if (first || last) allow = larger(allow, seam);
        *base = on_a >= 0 ? k : k + 1;
        // The triangle stands on a chord of one row, its apex on the other:
        // where the apex's own chords are longer by a fifth, that row's
        // points lie too far apart, and more on the base row only slant the
        // triangle (a ring's rows on fixed seams at their spacing grew one
        // row to three times its neighbour's points and still failed). Rows
        // a face chooses itself start evenly matched: there the base row
        // takes the points (the other way cost a ball 0.7 % more).
        if (r.given) {
            const Row& x = on_a >= 0 ? a : b;
            const Corner apex = c[on_a >= 0 ? 2 : 0];
            const int jb = on_a >= 0 ? on_a : c[2].j;
            const double own = vec_distance(x.at[jb], x.at[jb + 1]);
            const Row& y = *apex.row;
            double other = 0.0;
            if (apex.j > 0) other = larger(other, vec_distance(y.at[apex.j - 1], y.at[apex.j]));
            if (apex.j < y.chords())
                other = larger(other, vec_distance(y.at[apex.j], y.at[apex.j + 1]));
            if (other > 1.2 * own) *base = on_a >= 0 ? k + 1 : k;
        }
        *excess = kFaceExcess;
        return fits(r, c, allow * (1.0 + 1e-9), excess);
    });
}

// Copies row k's points into the row linked with it.
bool mirror(Scratch& s, Rows& r, int k) {
    const Row& row = r.rows[k];
    for (int x = 0; x < r.rows.size; ++x)
        if (r.rows[x].link == k || (row.link == x)) {
            Row& other = r.rows[x];
            other.ps.clear();
            other.pt.clear();
            other.id.clear();
            for (int j = 0; j < row.ps.size; ++j)
                if (!r.room(other.ps.push(s, row.ps[j]) && other.pt.push(s, other.t) &&
                            other.id.push(s, -1)))
                    return false;
            if (!evaluate(s, r, other)) return false;
        }
    return true;
}

// Gives row k more points (and the row linked with it the same): a tenth
// more, or as many more as a chord's sag, growing with its square, asks
// for to come down by `excess`.
bool refine(Scratch& s, Rows& r, int k, double excess) {
    Row& row = r.rows[k];
    const int n = row.chords() - (row.anchor >= 0 ? 2 : 0);
    const double asked = std::ceil(n * std::sqrt(smaller(excess, 4.0)));
    const int more = std::max(n + std::max(1, n / 10), static_cast<int>(asked));
    return lay_row(s, r, row, more) && mirror(s, r, k);
}

// Which of the strip's rows takes more points: the one whose chord the
// failing triangle stands on, unless it is given, or for a triangle turned
// away (`turned`) the one with the longer chords; -1 when both are given.
int coarser(Rows& r, int k, int base, bool turned) {
    if (turned) {
        double chord[2];
        for (int x = 0; x < 2; ++x) {
            const Row& row = r.rows[k + x];
            chord[x] = 0.0;
            for (int j = 0; j < row.chords(); ++j)
                chord[x] += vec_distance(row.at[j], row.at[j + 1]) / row.chords();
        }
        base = chord[1] > chord[0] ? k + 1 : k;
    }
    for (int x : {base, base == k ? k + 1 : k})
        if (!r.rows[x].fixed) return x;
    return -1;
}

// Refines until every strip passes; false when one cannot.
bool settle(Scratch& s, Rows& r) {
    const int strips = r.rows.size - 1;
    Table<char> dirty;
    if (!r.room(dirty.resize(s, strips, 1))) return false;
    for (int round = 0; round < kRowsRounds; ++round) {
        bool clean = true;
        for (int k = 0; k < strips; ++k) {
            if (!dirty[k]) continue;
            int base = k;
            double excess = 1.0;
            if (strip_fits(r, k, &base, &excess)) {
                dirty[k] = 0;
                continue;
            }
            clean = false;
            const int x = coarser(r, k, base, excess == kFaceExcess);
            if (x < 0 || !refine(s, r, x, excess)) return false;
            for (int y = 0; y < r.rows.size; ++y)
                if (y == x || r.rows[y].link == x || r.rows[x].link == y) {
                    if (y > 0) dirty[y - 1] = 1;
                    if (y < strips) dirty[y] = 1;
                }
        }
        if (clean) return true;
    }
    return false;
}

// Lays every free row at its first count: the fewest chords that keep its
// bend out of the surface within the margin, no fewer than its floor; the
// check then adds points until its strips pass.
bool lay_free_rows(Scratch& s, Rows& r) {
    const int last = r.rows.size - 1;
    for (int k = 0; k <= last; ++k) {
        Row& row = r.rows[k];
        if (row.fixed || row.link >= 0) continue;
        bool ok = true;
        const int n = std::max(row.floor, ring_chords(r.f, row.t, r.margin, Sag::kAcross, &ok));
        if (!ok) return false;
        if (!lay_row(s, r, row, std::max(n, kFewestChords))) return false;
    }
    for (int k = 0; k <= last; ++k)
        if (r.rows[k].link >= 0 && !mirror(s, r, r.rows[k].link)) return false;
    return true;
}

// Whether the row at t collapses to one point (a pole, an apex).
bool collapses(Frame& f, double t) {
    Point3 a, b;
    if (!f.point(0.0, t, &a)) return false;
    const double size = 1e-9 * (f.g.Lu + f.g.Lv);
    for (int j = 1; j <= 4; ++j)
        if (!f.point(f.Ls * j / 5, t, &b) || !(vec_distance(a, b) <= size)) return false;
    return true;
}

// The direction the rows run round: the one that closes, or of two the
// one whose rings differ most in length (a ring's parallels, not its
// circles of equal size round the tube).
bool choose_turn(const Surface& sur, Frame& f) {
    const bool cu = net_closes(*sur.net, 1), cv = net_closes(*sur.net, 2);
    if (!cu && !cv) return false;
    f.sur = &sur;
    if (take_measures(sur, f.g) != kOk) return false;
    double spread_of[2] = {0.0, 0.0};
    for (int d = 0; d < 2; ++d) {
        if (!(d == 0 ? cu : cv)) continue;
        f.d = d;
        f.Ls = d == 0 ? f.g.Lu : f.g.Lv;
        f.Lt = d == 0 ? f.g.Lv : f.g.Lu;
        if (!(cu && cv)) break;
        double lo = 0.0, hi = 0.0;
        for (int k = 0; k <= 8; ++k) {
            double cum[kRingSamples + 1];
            if (!ring(f, f.Lt * k / 8, cum)) return false;
            const double len = cum[kRingSamples];
            lo = k == 0 ? len : smaller(lo, len);
            hi = k == 0 ? len : larger(hi, len);
        }
        spread_of[d] = hi > 0.0 ? (hi - lo) / hi : 0.0;
    }
    if (cu && cv) {
        f.d = spread_of[1] > spread_of[0] ? 1 : 0;
        f.Ls = f.d == 0 ? f.g.Lu : f.g.Lv;
        f.Lt = f.d == 0 ? f.g.Lv : f.g.Lu;
    }
    return true;
}

// Spreads rows across t so that the chords across them sag by `tol`: the
// sag's square root summed over fine steps sampled on lines round the
// turn, as the lattice counts its pieces. ts receives every row's t, the
// first 0 and the last Lt.
bool across(Scratch& s, Rows& r, double tol, Table<double>& ts) {
    Table<double> density;
    if (!r.room(density.resize(s, kAcrossSteps, 0.0))) return false;
    for (int l = 0; l < kAcrossLines; ++l) {
        const double sl = r.f.Ls * l / kAcrossLines;
        for (int i = 0; i < kAcrossSteps; ++i) {
            Point3 a, m, b;
            const double t0 = r.f.Lt * i / kAcrossSteps, t1 = r.f.Lt * (i + 1) / kAcrossSteps;
            if (!r.f.point(sl, t0, &a) || !r.f.point(sl, 0.5 * (t0 + t1), &m) ||
                !r.f.point(sl, t1, &b))
                return false;
            const double sag = vec_distance(m, vec_scale(vec_add(a, b), 0.5));
            density[i] = larger(density[i], std::sqrt(sag / tol));
        }
    }
    double total = 0.0;
    for (int i = 0; i < kAcrossSteps; ++i) total += density[i];
    const int K = bounded_count(total, kRowsMaxRows);
    if (K < 0) return false;
    if (!r.room(ts.resize(s, K + 1, 0.0))) return false;
    double run = 0.0;
    int i = 0;
    for (int k = 1; k < K; ++k) {
        const double want = total * k / K;
        while (i < kAcrossSteps - 1 && run + density[i] < want) run += density[i++];
        const double x = density[i] > 0.0 ? (want - run) / density[i] : 0.0;
        ts[k] = r.f.Lt * (i + smaller(1.0, larger(0.0, x))) / kAcrossSteps;
    }
    ts[K] = r.f.Lt;
    return true;
}

// A point of the fixed loop in (s, t), with its number.
struct Given {
    double s, t;
    int id;
};

// Copies given points into a fixed row.
bool fixed_row(Scratch& s, Rows& r, Row& row, const Given* p, int count) {
    row.fixed = true;
    row.t = p[0].t;
    for (int j = 0; j < count; ++j)
        if (!r.room(row.ps.push(s, p[j].s) && row.pt.push(s, p[j].t) && row.id.push(s, p[j].id)))
            return false;
    return evaluate(s, r, row);
}

// The rows from the fixed loop: its seam points (the same t on both seam
// bounds) set the rows, its points along t = 0 and t = Lt are the first and
// last rows. Declines a loop with any point elsewhere.
Planar rows_from_loop(Scratch& s, Rows& r, const FixedLoops& fixed, double C) {
    if (fixed.loops != 1 || fixed.count[0] < 3) return Planar::kDeclined;
    Loop loop;
    if (!build_fixed_loop(fixed.at(0), s, loop)) return Planar::kNoStorage;
    finish_fixed_loop(r.f.g, loop, C);
    const int n = loop.u.size;
    Table<Given> left, right, bottom, top;
    const double Ls = r.f.Ls, Lt = r.f.Lt;
    for (int k = 0; k < n; ++k) {
        const Given p{r.f.d == 0 ? loop.u[k] : loop.v[k], r.f.d == 0 ? loop.v[k] : loop.u[k],
                      loop.id[k]};
        bool placed = false;
        for (auto [on, side] : {std::pair{p.s == 0.0, &left}, std::pair{p.s == Ls, &right},
                                std::pair{p.t == 0.0, &bottom}, std::pair{p.t == Lt, &top}})
            if (on) {
                placed = true;
                if (!side->push(s, p)) return Planar::kNoStorage;
            }
        if (!placed) return Planar::kDeclined;
    }
    auto by_s = [](const Given& a, const Given& b) { return a.s < b.s; };
    auto by_t = [](const Given& a, const Given& b) { return a.t < b.t; };
    std::sort(left.data, left.data + left.size, by_t);
    std::sort(right.data, right.data + right.size, by_t);
    std::sort(bottom.data, bottom.data + bottom.size, by_s);
    std::sort(top.data, top.data + top.size, by_s);
    const int K = left.size - 1;
    if (K < 1 || right.size != left.size || bottom.size < 2 || top.size < 2 ||
        bottom.size + top.size + 2 * (K - 1) != n)
        return Planar::kDeclined;
    if (bottom[0].s != 0.0 || bottom[bottom.size - 1].s != Ls || top[0].s != 0.0 ||
        top[top.size - 1].s != Ls || left[0].t != 0.0 || left[K].t != Lt)
        return Planar::kDeclined;
    const double same = 1e-6 * Lt + 7.0 * C;
    for (int k = 1; k <= K; ++k)
        if (!(std::fabs(left[k].t - right[k].t) <= same) || !(left[k].t > left[k - 1].t))
            return Planar::kDeclined;
    // Each seam chord whose middle sags more than the rows' spacing allows
    // gets rows between its ends, each ending on the nearer of its points.
    Row row;
    for (int k = 0; k <= K; ++k) {
        const int own = r.rows.size;
        row = Row{};
        if (k == 0 || k == K) {
            const Table<Given>& side = k == 0 ? bottom : top;
            if (!fixed_row(s, r, row, side.data, side.size))
                return r.refused ? Planar::kNoStorage : Planar::kDeclined;
            row.pole = collapses(r.f, row.t);
        } else {
            row.t = left[k].t;
            row.seam_t[0] = left[k].t;
            row.seam_t[1] = right[k].t;
            row.seam_id[0] = left[k].id;
            row.seam_id[1] = right[k].id;
        }
        if (!r.room(r.rows.push(s, row))) return Planar::kNoStorage;
        if (k == K) break;
        Point3 a, b, m;
        const double t0 = left[k].t, t1 = left[k + 1].t;
        if (!r.f.point(0.0, t0, &a) || !r.f.point(0.0, t1, &b) ||
            !r.f.point(0.0, 0.5 * (t0 + t1), &m))
            return Planar::kDeclined;
        const double sag = vec_distance(m, vec_scale(vec_add(a, b), 0.5));
        int pieces = bounded_count(std::sqrt(sag / r.spacing), kRowsMaxPoints / 4);
        // The first and last rows are given: a row between cannot end on
        // their seam points, where their chords would leave it a fan.
        if (K == 1) pieces = 1;
        // Too many rows for the mesh (the check below, made before they are
        // laid out).
        if (pieces < 0 || r.rows.size + pieces - 1 > kRowsMaxPoints / 4) return Planar::kDeclined;
        for (int q = 1; q < pieces; ++q) {
            Row mid{};
            mid.t = t0 + (t1 - t0) * q / pieces;
            const bool lower = k == 0 ? false : k + 1 == K ? true : 2 * q <= pieces;
            mid.anchor = lower ? own : -2;
            const int from = lower ? k : k + 1;
            mid.seam_t[0] = left[from].t;
            mid.seam_t[1] = right[from].t;
            mid.seam_id[0] = left[from].id;
            mid.seam_id[1] = right[from].id;
            if (!r.room(r.rows.push(s, mid))) return Planar::kNoStorage;
        }
    }
    // Rows ending on the seam point above them: that row's number.
    for (int k = r.rows.size - 1, above = -1; k >= 0; --k) {
        if (r.rows[k].anchor == -2) r.rows[k].anchor = above;
        if (r.rows[k].anchor == -1) above = k;
    }
    if (r.rows.size > kRowsMaxPoints / 4) return Planar::kDeclined;
    // Rows between the seam's points double the rows the cell lattice lays
    // along them; only rows that shorten toward a pole win that back (a
    // ring's fixed seams took 6106 triangles as rows, 5476 as cells).
    if (r.rows.size > K + 1 && !r.rows[0].pole && !r.rows[r.rows.size - 1].pole)
        return Planar::kDeclined;
    if (!lay_free_rows(s, r)) return r.refused ? Planar::kNoStorage : Planar::kDeclined;
    return Planar::kMeshed;
}

// Whether every curve of the loop runs along a domain bound (by its
// control points), and the loop reaches all four.
bool natural_loop(const RowsInput& in, const Frame& f) {
    if (in.outer_last < 0 || in.holes > 0) return false;
    const SurfaceMeasures& g = f.g;
    const double eu = 1e-9 * (g.u_max - g.u_min), ev = 1e-9 * (g.v_max - g.v_min);
    bool seen[4] = {false, false, false, false};
    for (int c = 0; c <= in.outer_last; ++c) {
        const Polygon& pol = *in.outer[c]->pol;
        for (int i = 0; i <= pol.n; ++i) {
            const Point3 p = project_point(pol.Pw[i]);
            const bool on[4] = {std::fabs(p.x - g.u_min) <= eu, std::fabs(p.x - g.u_max) <= eu,
                                std::fabs(p.y - g.v_min) <= ev, std::fabs(p.y - g.v_max) <= ev};
            if (!(on[0] || on[1] || on[2] || on[3])) return false;
            for (int k = 0; k < 4; ++k) seen[k] = seen[k] || on[k];
        }
    }
    return seen[0] && seen[1] && seen[2] && seen[3];
}

// The rows of a face that chooses them: spread across t so that the chords
// across the rows sag by the rows' spacing (and keep the trim tolerance on
// the seam).
Planar rows_of_face(Scratch& s, Rows& r, double B) {
    Table<double> ts;
    if (!across(s, r, smaller(r.spacing, 0.9 * B), ts))
        return r.refused ? Planar::kNoStorage : Planar::kDeclined;
    const int K = ts.size - 1;
    if (!r.room(r.rows.resize(s, K + 1, Row{}))) return Planar::kNoStorage;
    for (int k = 0; k <= K; ++k) r.rows[k].t = ts[k];
    const bool closed_t = net_closes(*r.f.sur->net, r.f.d == 0 ? 2 : 1);
    // An open edge's chords cut the face's area off, or add to it.
    int open = 0;
    for (int k : {0, K}) {
        r.rows[k].pole = collapses(r.f, r.rows[k].t);
        if (!r.rows[k].pole && !closed_t) ++open;
    }
    bool ok = true;
    double cut[2] = {0.0, 0.0};
    for (int e = 0; e < 2; ++e) {
        Row& row = r.rows[e == 0 ? 0 : K];
        if (row.pole) continue;
        row.floor = ring_chords(r.f, row.t, 0.9 * B, Sag::kFull, &ok);
        if (!closed_t) cut[e] = open_cut(r.f, row.t, &ok);
    }
    // More chords on the edge that cuts or adds most, until what both change
    // together is within the face's budget.
    const double budget = open > 0 ? kOpenLoss * face_area(r.f) : 0.0;
    if (!ok || (open > 0 && !(budget > 0.0))) return Planar::kDeclined;
    for (int round = 0; round < 4 * kRowsRounds; ++round) {
        int *n0 = &r.rows[0].floor, *n1 = &r.rows[K].floor;
        const double c0 = cut[0] / (double(*n0) * *n0), c1 = cut[1] / (double(*n1) * *n1);
        if (std::fabs(c0 + c1) <= budget) break;
        int* more = std::fabs(c0) > std::fabs(c1) ? n0 : n1;
        *more += std::max(1, *more / 10);
    }
    for (int k = 1; k <= K; ++k) {
        r.rows[k].seam_t[0] = r.rows[k].seam_t[1] = r.rows[k].t;
        if (!(r.rows[k].t > r.rows[k - 1].t)) return Planar::kDeclined;
    }
    if (closed_t) r.rows[K].link = 0;
    for (int k : {0, K}) {
        Row& row = r.rows[k];
        if (!row.pole) continue;
        row.fixed = true;
        row.ps.clear();
        for (double sj : {0.0, r.f.Ls})
            if (!r.room(row.ps.push(s, sj) && row.pt.push(s, row.t) && row.id.push(s, -1)))
                return Planar::kNoStorage;
        if (!evaluate(s, r, row)) return r.refused ? Planar::kNoStorage : Planar::kDeclined;
    }
    if (!lay_free_rows(s, r)) return r.refused ? Planar::kNoStorage : Planar::kDeclined;
    return Planar::kMeshed;
}

// The mesh out of the rows: the boundary loop first (counter-clockwise in
// the metric plane), then the rows' inner points; the strips' triangles.
Planar assemble(Scratch& s, Rows& r, PlanarMesh& out) {
    const int K = r.rows.size - 1;
    Table<int> lr, lj;  // per vertex: its row and place
    auto add = [&](int k, int j) { return r.room(lr.push(s, k) && lj.push(s, j)); };
    for (int j = 0; j <= r.rows[0].chords(); ++j)
        if (!add(0, j)) return Planar::kNoStorage;
    for (int k = 1; k < K; ++k)
        if (r.rows[k].anchor < 0 && !add(k, r.rows[k].chords())) return Planar::kNoStorage;
    for (int j = r.rows[K].chords(); j >= 0; --j)
        if (!add(K, j)) return Planar::kNoStorage;
    for (int k = K - 1; k >= 1; --k)
        if (r.rows[k].anchor < 0 && !add(k, 0)) return Planar::kNoStorage;
    const int boundary = lr.size;
    if (r.f.d == 1) {
        std::reverse(lr.data, lr.data + boundary);
        std::reverse(lj.data, lj.data + boundary);
    }
    for (int k = 1; k < K; ++k)
        for (int j = 1; j < r.rows[k].chords(); ++j)
            if (!add(k, j)) return Planar::kNoStorage;
    if (lr.size > kRowsMaxPoints) return Planar::kDeclined;
    // Vertex numbers per (row, place); a row ending on another's seam
    // points takes that row's.
    Table<int> first;
    if (!r.room(first.resize(s, K + 2, 0))) return Planar::kNoStorage;
    for (int k = 0; k <= K; ++k) first[k + 1] = first[k] + r.rows[k].ps.size;
    Table<int> vertex;
    if (!r.room(vertex.resize(s, first[K + 1], -1))) return Planar::kNoStorage;
    for (int x = 0; x < lr.size; ++x) {
        const Row& row = r.rows[lr[x]];
        const int j = lj[x];
        vertex[first[lr[x]] + j] = x;
        double mu, mv;
        r.f.metric(row.ps[j], row.pt[j], &mu, &mv);
        if (!r.room(out.u.push(s, mu) && out.v.push(s, mv) && out.id.push(s, row.id[j]) &&
                    out.at.push(s, row.at[j])))
            return Planar::kNoStorage;
    }
    for (int k = 1; k < K; ++k) {
        const int a = r.rows[k].anchor;
        if (a < 0) continue;
        vertex[first[k]] = vertex[first[a]];
        vertex[first[k + 1] - 1] = vertex[first[a + 1] - 1];
    }
    if (!r.room(out.first.push(s, 0) && out.count.push(s, boundary))) return Planar::kNoStorage;
    for (int k = 0; k < K; ++k) {
        const bool shared = seam_row(r, k) == seam_row(r, k + 1);
        zip(r.rows[k], r.rows[k + 1], shared, [&](const Corner* c, int) {
            int v[3];
            for (int x = 0; x < 3; ++x) {
                const int row = c[x].row == &r.rows[k] ? k : k + 1;
                v[x] = vertex[first[row] + c[x].j];
            }
            const Tri t = r.f.d == 0 ? Tri{v[0], v[1], v[2]} : Tri{v[0], v[2], v[1]};
            return r.room(out.tris.push(s, t));
        });
        if (r.refused) return Planar::kNoStorage;
    }
    return Planar::kMeshed;
}

// The face is one mesh_rows tries: see takes_rows.
bool eligible(const RowsInput& in, Frame& f) {
    if (!choose_turn(*in.sur, f)) return false;
    Point3 n;
    if (plane_of_net(*in.sur, kPlanarShare * in.A, &n)) return false;
    return in.fixed || natural_loop(in, f);
}

}  // namespace

bool takes_rows(const RowsInput& in) {
    Frame f;
    return eligible(in, f);
}

bool rows_pay(const Surface& sur, int d) {
    const ControlNet& net = *sur.net;
    const int rings = d == 0 ? net.m : net.n, along = d == 0 ? net.n : net.m;
    // Weights that differ only by rounding (an exported polynomial net)
    // make no conic.
    const double w0 = net.Pw[0][0].w;
    bool rational = false;
    double shortest = 0.0, longest = 0.0;
    for (int j = 0; j <= rings; ++j) {
        double length = 0.0;
        for (int i = 0; i <= along; ++i) {
            const Point4& a = d == 0 ? net.Pw[i][j] : net.Pw[j][i];
            rational = rational || std::fabs(a.w - w0) > 1e-9 * std::fabs(w0);
            if (i == 0) continue;
            const Point4& b = d == 0 ? net.Pw[i - 1][j] : net.Pw[j][i - 1];
            length += vec_distance(project_point(a), project_point(b));
        }
        shortest = j == 0 ? length : smaller(shortest, length);
        longest = j == 0 ? length : larger(longest, length);
    }
    return rational && (!(shortest > 0.0) || longest >= 1.5 * shortest);
}

Planar mesh_rows(Scratch& s, const RowsInput& in, PlanarMesh& out) {
    Rows r;
    r.A = in.A;
    r.margin = kRowsMargin * in.A;
    r.spacing = kRowSpacing * r.margin;
    r.given = in.fixed != nullptr;
    if (!eligible(in, r.f)) return Planar::kDeclined;
    if (!in.fixed && !rows_pay(*in.sur, r.f.d)) return Planar::kDeclined;
    const Planar got = in.fixed ? rows_from_loop(s, r, *in.fixed, in.C) : rows_of_face(s, r, in.B);
    if (got != Planar::kMeshed) return got;
    if (!settle(s, r)) return r.refused ? Planar::kNoStorage : Planar::kDeclined;
    out.measures = r.f.g;
    return assemble(s, r, out);
}

}  // namespace ruvane::tess
