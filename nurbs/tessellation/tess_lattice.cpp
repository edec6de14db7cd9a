// Lattices of sized cut lines for N_TESSUB.
#include "nurbs/tessellation/tess_lattice.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "nurbs/tessellation/tess_sample.h"

namespace ruvane::tess {

namespace {

constexpr int kLinesAcross = 5;  // sampled lines of the surface, side to side
constexpr int kMaxLines = 8192;  // beyond this, cells are halved between lines
// A lattice is laid where halving would give this many times the pieces;
// around a full turn whose other direction needs no cut, its lines are
// whole cell columns and meet no boundary polyline split by halving (a
// cylinder's turn of 32 halved pieces where 29 do): a smaller saving pays.
constexpr double kSaving = 1.25;
constexpr double kStraightSaving = 1.05;
// How far above half of the budget the first of two bending directions
// may take its share to need a piece less.
constexpr double kShareGrowth = 1.15;
constexpr double kGrowRound = 1e-9;
constexpr int kMaxPeriods = 32;  // halving cuts made before a lattice is laid
// An edge line whose sag lies across the edge, within the surface, by no
// more than this share of it bends out of the surface only (a geodesic).
constexpr double kMostlyOut = 0.1;

// Samples along the sized direction: enough for every span of its knots.
int samples_along(const Surface& sur, int direction) {
    const KnotVector& k = direction == 1 ? *sur.vknt : *sur.uknt;
    int spans = 0;
    for (int i = 0; i < k.m; ++i) spans += k.U[i + 1] > k.U[i] ? 1 : 0;
    return std::min(512, std::max(64, 8 * spans));
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The samples kept for `sur`, emptied when they were another surface's.
LatticeSamples* kept_for(const Surface& sur, LatticeSamples* kept) {
    if (kept != nullptr && kept->sur != &sur) {
        kept->sur = &sur;
        kept->grid_count = kept->grid_next = kept->bend_count = 0;
    }
    return kept;
}

// The largest distance of the surface's lines along the other direction
// from the chords of their ends: what the other direction takes of the
// budget when it is not cut at all (nothing for a cylinder's generators).
// The lines' points come from their bases, found once per line (N_SUREVN's
// to the bit, asked in its order: each line's two ends, then its inside).
// False only when storage fails; *sampled is false when the surface cannot
// be evaluated there.
bool measure_bend(const Surface& sur, int direction, double L, double L_other, Scratch& s,
                  double* bend, bool* sampled) {
    constexpr int kSamples = 16;
    const int other = direction == 1 ? 2 : 1;
    *bend = 0.0;
    *sampled = false;
    double at[kLinesAcross];
    for (int i = 0; i < kLinesAcross; ++i) at[i] = L * i / (kLinesAcross - 1);
    LineGrid lines;
    if (!lines.lay(sur, other, L_other, at, kLinesAcross, kSamples, s)) return false;
    for (int i = 0; i < kLinesAcross; ++i) {
        Point3 a, b, S;
        if (!lines.at(i, 0, &a) || !lines.at(i, kSamples, &b)) return true;
        for (int k = 1; k < kSamples; ++k) {
            if (!lines.at(i, k, &S)) return true;
            double d = 0.0;
            if (G_DISPAB(S, a, b, &d) != kOk) d = vec_distance(S, a);
            *bend = std::fmax(*bend, d);
        }
    }
    *sampled = true;
    return true;
}

// measure_bend, taken from `kept` where measured there before (a surface
// that could not be sampled is tried again, its failure recorded again).
bool other_bend(const Surface& sur, int direction, double L, double L_other, Scratch& s,
                LatticeSamples* kept, double* bend, bool* sampled) {
    kept = kept_for(sur, kept);
    for (int k = 0; kept != nullptr && k < kept->bend_count; ++k) {
        const LatticeSamples::Bend& b = kept->bends[k];
        if (b.direction == direction && same_bits(b.L, L) && same_bits(b.L_other, L_other)) {
            *bend = b.bend;
            *sampled = true;
            return true;
        }
    }
    if (!measure_bend(sur, direction, L, L_other, s, bend, sampled)) return false;
    if (kept != nullptr && *sampled) {
        const int k = kept->bend_count < 2 ? kept->bend_count++ : direction - 1;
        kept->bends[k] = {direction, L, L_other, *bend};
    }
    return true;
}

// The surface on the sampled lines: grid[i * (M + 1) + k] is point k along
// line i across. False only when storage fails; *sampled is false when the
// surface cannot be evaluated there.
bool fresh_grid(const Surface& sur, int direction, double L, double from, double to, int M,
                Scratch& s, Table<Point3>& grid, bool* sampled) {
    *sampled = false;
    if (!grid.resize(s, kLinesAcross * (M + 1), Point3{0, 0, 0})) return false;
    double across[kLinesAcross];
    for (int i = 0; i < kLinesAcross; ++i) across[i] = from + (to - from) * i / (kLinesAcross - 1);
    LineGrid lines;
    if (!lines.lay(sur, direction, L, across, kLinesAcross, M, s)) return false;
    for (int i = 0; i < kLinesAcross; ++i)
        for (int k = 0; k <= M; ++k)
            if (!lines.at(i, k, &grid[i * (M + 1) + k])) return true;
    *sampled = true;
    return true;
}

bool copy_points(Scratch& s, const Table<Point3>& from, Table<Point3>& to) {
    to.clear();
    if (!to.reserve(s, from.size)) return false;
    std::memcpy(static_cast<void*>(to.data), from.data, sizeof(Point3) * from.size);
    to.size = from.size;
    return true;
}

// fresh_grid, copied from `kept` where sampled there before, and kept there
// when new and sampled if `keep` (a grid is sampled again only where both
// directions bend: copying every grid cost more than it saved elsewhere).
bool sample_grid(const Surface& sur, int direction, double L, double from, double to, int M,
                 Scratch& s, LatticeSamples* kept, bool keep, Table<Point3>& grid, bool* sampled) {
    kept = kept_for(sur, kept);
    const auto same = [&](const LatticeSamples::Grid& g) {
        return g.direction == direction && g.M == M && same_bits(g.L, L) &&
               same_bits(g.from, from) && same_bits(g.to, to);
    };
    for (int k = 0; kept != nullptr && k < kept->grid_count; ++k) {
        const LatticeSamples::Grid& g = kept->grids[k];
        if (!same(g)) continue;
        *sampled = true;
        return copy_points(s, g.points, grid);
    }
    if (!fresh_grid(sur, direction, L, from, to, M, s, grid, sampled)) return false;
    if (kept == nullptr || !keep || !*sampled) return true;
    const int k =
        kept->grid_count < LatticeSamples::kGrids ? kept->grid_count++ : kept->grid_next++;
    kept->grid_next %= LatticeSamples::kGrids;
    LatticeSamples::Grid& g = kept->grids[k];
    g.direction = 0;  // matches nothing until filled
    if (!copy_points(s, grid, g.points)) return false;
    g = {direction, M, L, from, to, g.points};
    return true;
}

// How far point k of line i stands off the chord of its two neighbours.
Point3 sag_at(const Table<Point3>& grid, int M, int i, int k) {
    const Point3* line = &grid[i * (M + 1)];
    return vec_sub(line[k], vec_scale(vec_add(line[k - 1], line[k + 1]), 0.5));
}

double triangle_area(const Point3& a, const Point3& b, const Point3& c) {
    return 0.5 * vec_length(vec_cross(vec_sub(b, a), vec_sub(c, a)));
}

// What a double step's sag `off` bends across the domain edge within the
// surface: without its parts along the line and off the surface.
double across_edge(const Point3& off, const Point3& tangent, const Point3& normal) {
    const Point3 t = vec_scale(tangent, 1.0 / std::fmax(vec_length(tangent), 1e-300));
    Point3 a = vec_sub(off, vec_scale(t, vec_dot(off, t)));
    a = vec_sub(a, vec_scale(normal, vec_dot(a, normal)));
    return vec_length(a);
}

// The share of edge line i's (the first or last sampled line) sag at step
// k that lies across the edge within the surface: about 0 for a line that
// bends out of the surface only. The direction across is the tangent of the
// parabola through the edge line and the next two (the chord to the next
// alone dips into a ball by half its turn).
double across_share(const Table<Point3>& grid, int M, int direction, int i, int k) {
    const auto at = [&](int line, int j) { return grid[line * (M + 1) + j]; };
    const Point3 off = sag_at(grid, M, i, k), tangent = vec_sub(at(i, k + 1), at(i, k - 1));
    const int one = i == 0 ? 1 : i - 1, two = i == 0 ? 2 : i - 2;
    Point3 step =
        vec_sub(vec_scale(at(one, k), 4.0), vec_add(at(two, k), vec_scale(at(i, k), 3.0)));
    if (i != 0) step = vec_scale(step, -1.0);
    Point3 normal = direction == 1 ? vec_cross(step, tangent) : vec_cross(tangent, step);
    const double sag = vec_length(off);
    if (!(sag > 0.0)) return 0.0;
    if (G_VECNIP(&normal) != kOk) return 1.0;
    return across_edge(off, tangent, normal) / sag;
}

// Pieces per sample step that a strip between the outermost sampled lines
// needs at step k (of M) to keep all but `share` of its area with two
// triangles each: a double step that keeps all but f holds sqrt(f / share)
// pieces, the loss growing with the square of a piece's length. f is
// measured against the sampled lines, whose own two steps leave out a
// quarter of what their double step does.
double strip_density(const Table<Point3>& grid, int M, int k, double share) {
    const auto at = [&](int i, int j) { return grid[i * (M + 1) + j]; };
    double fine = 0.0;
    for (int i = 0; i + 1 < kLinesAcross; ++i)
        for (int j = k - 1; j <= k; ++j)
            fine += triangle_area(at(i, j), at(i, j + 1), at(i + 1, j + 1)) +
                    triangle_area(at(i, j), at(i + 1, j + 1), at(i + 1, j));
    const Point3 a = at(0, k - 1), b = at(0, k + 1);
    const Point3 c = at(kLinesAcross - 1, k + 1), d = at(kLinesAcross - 1, k - 1);
    const double coarse = std::fmin(triangle_area(a, b, c) + triangle_area(a, c, d),
                                    triangle_area(b, c, d) + triangle_area(b, d, a));
    if (!(fine > 0.0)) return 0.0;
    const double lost = 4.0 / 3.0 * std::fmax(0.0, 1.0 - coarse / fine);
    return 0.5 * std::sqrt(lost / share);
}

// Of the budget shared by two directions, what the pieces of a lattice
// laid second may take at each of its M + 1 sample steps: what the other
// lattice's pieces, sampled at that step, leave (their sag off the surface
// normal there is known now, and where the other direction bends little,
// as along a revolved profile's parallels of small radius, most is left),
// and the whole budget where the two directions bend to opposite sides
// (a saddle: the triangles through a cell's corners then stand off its
// surface by the larger of the two sags, not their sum). Never below
// `share`, the half each took so far. At most kMaxSharePieces of the
// other lattice's pieces are sampled, spread over it, at some kShareSteps
// steps along (between two, the smaller share). False only when storage
// fails; where the surface cannot be sampled every step keeps `share`.
constexpr int kMaxSharePieces = 8;
constexpr int kShareSteps = 64;

bool local_shares(const Surface& sur, int direction, double L, int M, const Table<double>& other,
                  double share, double budget, Scratch& s, Table<double>& shares) {
    if (!shares.resize(s, M + 1, share)) return false;
    const int pieces = other.size - 1;
    if (pieces < 1) return true;
    // The steps measured: every `step`-th and the last inner one.
    const int step = std::max(1, M / kShareSteps), count = (M - 2) / step + 2;
    Table<double> left;
    if (!left.resize(s, count, budget)) return false;
    const auto measured = [&](int t) { return std::min(1 + t * step, M - 1); };
    const int stride = (pieces + kMaxSharePieces - 1) / kMaxSharePieces;
    LineGrid lines;
    // Each point is worked out once: the middle line's points serve the
    // steps on either side as well, and with every piece sampled a piece's
    // high end is the next one's low end (the same value, the same bits).
    Table<Point3> ends, middle;
    Table<char> have;
    if (!ends.resize(s, count, Point3{0, 0, 0}) || !middle.resize(s, M + 1, Point3{0, 0, 0}) ||
        !have.resize(s, M + 1, 0))
        return false;
    for (int j = 0; j < pieces; j += stride) {
        // The piece's ends and middle across.
        const double across[3] = {other[j], 0.5 * (other[j] + other[j + 1]), other[j + 1]};
        if (!lines.lay(sur, direction, L, across, 3, M, s)) return false;
        const bool low_known = stride == 1 && j > 0;
        for (int k = 0; k <= M; ++k) have[k] = 0;
        const auto on_middle = [&](int k, Point3* P) {
            if (!have[k] && !lines.at(1, k, &middle[k])) return false;
            have[k] = 1;
            *P = middle[k];
            return true;
        };
        for (int t = 0; t < count; ++t) {
            const int k = measured(t);
            Point3 a = ends[t], b, m, before, after;
            if ((!low_known && !lines.at(0, k, &a)) || !lines.at(2, k, &b) || !on_middle(k, &m) ||
                !on_middle(k - 1, &before) || !on_middle(k + 1, &after))
                return true;  // not sampled: the same share everywhere
            ends[t] = b;
            Point3 normal = vec_cross(vec_sub(b, a), vec_sub(after, before));
            double here = share;
            if (G_VECNIP(&normal) == kOk) {
                const double theirs = vec_dot(vec_sub(m, vec_scale(vec_add(a, b), 0.5)), normal);
                const double ours =
                    vec_dot(vec_sub(m, vec_scale(vec_add(before, after), 0.5)), normal);
                here = theirs * ours < 0.0 ? budget : budget - std::fabs(theirs);
            }
            left[t] = std::fmin(left[t], here);
        }
    }
    // Between two measured steps, the smaller of theirs.
    for (int t = 0; t < count; ++t) {
        shares[measured(t)] = std::fmax(share, left[t]);
        if (t + 1 < count)
            for (int k = measured(t) + 1; k < measured(t + 1); ++k)
                shares[k] = std::fmax(share, std::fmin(left[t], left[t + 1]));
    }
    shares[0] = shares[1];
    shares[M] = shares[M - 1];
    return true;
}

double span_density(const Table<double>& density, int from, int to) {
    double total = 0.0;
    for (int k = from; k < to; ++k) total += std::fmax(density[k], density[k + 1]);
    return total;
}

// The pieces the surface's lines along `direction` need for the sag of
// each to keep within `share`, as the lattice counts them (unrounded), or
// -1 when the surface cannot be sampled; false only when storage fails,
// which must fail the whole call rather than lay another lattice.
bool bend_pieces(const Surface& sur, int direction, double L, double L_other, double share,
                 Scratch& s, LatticeSamples* kept, double* total) {
    *total = -1.0;
    const int M = samples_along(sur, direction);
    Table<double> density;
    Table<Point3> grid;
    bool sampled = false;
    if (!density.resize(s, M + 1, 0.0) ||
        !sample_grid(sur, direction, L, 0.0, L_other, M, s, kept, true, grid, &sampled))
        return false;
    if (!sampled) return true;
    for (int i = 0; i < kLinesAcross; ++i)
        for (int k = 1; k < M; ++k)
            density[k] =
                std::fmax(density[k], 0.5 * std::sqrt(vec_length(sag_at(grid, M, i, k)) / share));
    density[0] = density[1];
    density[M] = density[M - 1];
    *total = span_density(density, 0, M);
    return true;
}

int span_pieces(const Table<double>& density, int from, int to) {
    const double total = span_density(density, from, to);
    return total < kMaxLines ? std::max(1, static_cast<int>(std::ceil(total))) : kMaxLines;
}

// The pieces halving leaves in steps [from, to]: a piece is halved while
// the density over it sums above one. Where the pieces must be shorter in
// places (a rational arc runs faster there), that is more than the next
// power of two of the sum: a cylinder whose 16 pieces of a turn would do
// got 22 of halving.
int halving_pieces(const Table<double>& density, int from, int to) {
    const double total = span_density(density, from, to);
    if (total <= 1.0) return 1;
    if (to - from < 2) {
        int halved = 1;
        while (halved < total && halved < kMaxLines) halved *= 2;
        return halved;
    }
    const int mid = (from + to) / 2;
    return halving_pieces(density, from, mid) + halving_pieces(density, mid, to);
}

// The bands of the lattice's pieces whose every sample step (those on
// their ends included) took the whole budget: saddles.
bool saddle_bands(const Table<double>& shares, double budget, double L, int M, Scratch& s,
                  Lattice* out) {
    const Table<double>& lines = out->lines;
    int k = 0;
    for (int j = 0; j + 1 < lines.size; ++j) {
        bool saddle = true;
        while (k < M && L * (k + 1) / M <= lines[j]) ++k;
        for (int i = k; i <= M && L * i / M <= lines[j + 1] + L / M && saddle; ++i)
            saddle = shares[i] >= budget;
        if (!saddle) continue;
        const int n = out->saddles.size;
        if (n > 0 && out->saddles[n - 1] == lines[j]) {
            out->saddles[n - 1] = lines[j + 1];
        } else if (!out->saddles.push(s, lines[j]) || !out->saddles.push(s, lines[j + 1])) {
            return false;
        }
    }
    return true;
}

// Whether the shares of each step take a piece (`fewer` + 1 pieces) off
// some span of the lattice, against the same share everywhere; if not,
// `density` is turned
// back to that share's (a lattice that is no coarser is laid as before: its
// lines moved to where the other direction leaves more cost a freeform
// patch 6 % more triangles). Where storage fails the shares stay.
bool local_saves(Table<double>& density, const Table<double>& shares, double share, int periods,
                 int per, int fewer, Scratch& s) {
    const int M = periods * per;
    Table<double> even;
    if (!even.resize(s, M + 1, 0.0)) return true;
    for (int k = 0; k <= M; ++k) even[k] = density[k] * std::sqrt(shares[k] / share);
    for (int p = 0; p < periods; ++p)
        if (span_pieces(density, p * per, (p + 1) * per) + fewer <
            span_pieces(even, p * per, (p + 1) * per))
            return true;
    for (int k = 0; k <= M; ++k) density[k] = even[k];
    return false;
}

// No lattice laid: the cells are expected to be halved into `halving[p]`
// even pieces of each of the `periods` spans.
bool expect_halving(double L, int periods, const int* halving, Scratch& s, Lattice* out) {
    out->expected.clear();
    if (!out->expected.push(s, 0.0)) return false;
    for (int p = 0; p < periods; ++p)
        for (int j = 1; j <= halving[p]; ++j)
            if (!out->expected.push(s, L * (p + static_cast<double>(j) / halving[p]) / periods))
                return false;
    return true;
}

}  // namespace

bool lay_lattice(const Surface& sur, int direction, double Lu, double Lv, int periods,
                 double budget, const double edge[2], double strip_share, Scratch& s,
                 Lattice* out) {
    out->tried = true;
    out->bent_across = false;
    out->local = false;
    out->periods = periods;
    out->lines.clear();
    out->expected.clear();
    out->saddles.clear();
    const double L = direction == 1 ? Lv : Lu, L_other = direction == 1 ? Lu : Lv;
    int per = std::max(4, samples_along(sur, direction) / periods);
    const int M = per * periods;
    double bend = 0.0;
    bool bent_sampled = false;
    if (!other_bend(sur, direction, L, L_other, s, out->samples, &bend, &bent_sampled))
        return false;
    if (!bent_sampled) return true;
    out->bent_across = bend >= 0.5 * budget;
    // Each direction's pieces get half the budget, unless the other one
    // bends so little that it needs no cut.
    double share = bend < 0.5 * budget ? budget - bend : 0.5 * budget;
    if (out->saddle) share = budget;
    // Laid second where both bend: what the first left.
    const bool second = out->other_share > 0.0 && bend >= 0.5 * budget && !out->saddle;
    if (second) share = std::fmin(share, budget - out->other_share);
    // Pieces per sample step: a double step whose middle sags by `sag` from
    // its chord holds sqrt(sag / share) pieces whose sag is `share`.
    Table<double> density, shares;
    if (!(share > 0.0)) return true;
    if (!density.resize(s, M + 1, 0.0)) return false;
    bool local = bend >= 0.5 * budget && !out->saddle && out->other != nullptr &&
                 out->other->expected.size >= 2;
    if (local) {
        if (!local_shares(sur, direction, L, M, out->other->expected, share, budget, s, shares))
            return false;
    } else if (!shares.resize(s, M + 1, share)) {
        return false;
    }
    Table<Point3> grid;
    bool sampled = false;
    const double to = out->to > out->from ? out->to : L_other;
    if (!sample_grid(sur, direction, L, out->from, to, M, s, out->samples, out->bent_across, grid,
                     &sampled))
        return false;
    if (!sampled) return true;
    const auto at = [&](int i, int k) { return grid[i * (M + 1) + k]; };
    // Where the lines' ends are open domain edges held finer, a share above
    // theirs cut off more of the face along them (a ring's quarter standing
    // on its inner edge kept 98.97 % of its area). Steps where both edge
    // lines bend out of the surface only keep their local share: a chord of
    // such a line cuts off nothing across the edge (a ball's corner patch
    // between two meridians, clamped, kept five rows where four hold).
    if (local && (edge[0] > 0.0 || edge[1] > 0.0)) {
        for (int k = 1; k < M; ++k) {
            const bool out_only =
                across_share(grid, M, direction, 0, k) <= kMostlyOut &&
                across_share(grid, M, direction, kLinesAcross - 1, k) <= kMostlyOut;
            if (out_only) continue;
            for (const double e : {edge[0], edge[1]})
                if (e > 0.0) shares[k] = std::fmin(shares[k], std::fmax(share, e));
        }
        shares[0] = shares[1];
        shares[M] = shares[M - 1];
    }
    // The net's points along a cut piece of an edge line stand twice as far
    // across the edge as the line itself where it is a quadratic (its middle
    // point), some 4/3 where it is a cubic, and the edge test measures
    // those: the edge lines' pieces are sized so that they pass it.
    const int degree = direction == 1 ? sur.q : sur.p;
    const double net_over = degree == 2 ? 2.0 : 4.0 / 3.0;
    // A strip whose cells reach from one open edge to the other passes
    // as well when its two triangles keep all but strip_share of its area
    // (and it is flat with its edges held to A alone): its pieces need
    // the fewer of what the edges and the area ask for.
    const bool strip = strip_share > 0.0 && bend < 0.5 * budget;
    for (int k = 1; k < M; ++k) {
        double edges = 0.0;
        for (int i = 0; i < kLinesAcross; ++i) {
            const Point3 here = at(i, k), tangent = vec_sub(at(i, k + 1), at(i, k - 1));
            const Point3 off = sag_at(grid, M, i, k);
            density[k] = std::fmax(density[k], 0.5 * std::sqrt(vec_length(off) / shares[k]));
            const int end = i == 0 ? 0 : i == kLinesAcross - 1 ? 1 : -1;
            if (!strip || end < 0 || !(edge[end] > 0.0) || !(edge[end] < share)) continue;
            const int beside = i == 0 ? 1 : kLinesAcross - 2;
            Point3 step = vec_sub(at(beside, k), here);
            if (beside < i) step = vec_scale(step, -1.0);
            Point3 normal = direction == 1 ? vec_cross(step, tangent) : vec_cross(tangent, step);
            if (G_VECNIP(&normal) != kOk) continue;
            edges = std::fmax(
                edges, 0.5 * std::sqrt(net_over * across_edge(off, tangent, normal) / edge[end]));
        }
        if (edges > 0.0) edges = std::fmin(edges, strip_density(grid, M, k, strip_share));
        density[k] = std::fmax(density[k], edges);
    }
    density[0] = density[1];
    density[M] = density[M - 1];
    // A full turn is laid in two halves (the halving cut of the closed cell
    // stays a line), unless the whole turn takes a piece less than the two
    // halves, each rounded up, do (a revolved profile's 28.6 columns, 30 in
    // halves of 14.3): then its lines run over the whole turn. The halves
    // still count for whether a lattice pays and what halving would give.
    bool whole_turn = false;
    if (out->closed && periods == 1 && M % 2 == 0) {
        const double total = span_density(density, 0, M);
        const double halves = std::ceil(span_density(density, 0, M / 2)) +
                              std::ceil(span_density(density, M / 2, M));
        whole_turn = std::ceil(total) < halves && out->bent_across && !out->other_closed;
        periods = 2;
        per = M / 2;
        out->periods = whole_turn ? 1 : 2;
    }
    // On a patch closed in neither direction whose other lattice is not
    // laid, a first lattice's grown share may take a piece off as well.
    const int grown = !second && !out->closed && !out->other_closed ? 1 : 0;
    // The shares found still tell where the saddles are.
    const bool shared = local;
    if (local && !local_saves(density, shares, share, periods, per, grown, s)) local = false;
    // Halving's lines meet the points of boundary polylines split by halving
    // too: a lattice only where it saves a fair share of the pieces halving
    // gives. Where the other direction needs no cut, cells reach across the
    // domain and halving follows the density along it alone; elsewhere it
    // is taken as the next power of two of the pieces, halving's cells
    // finding their own sizes from row to row.
    bool saves = false, near = true;
    int halving[kMaxPeriods];
    for (int p = 0; p < periods; ++p) {
        const int pieces = span_pieces(density, p * per, (p + 1) * per);
        int halved = 1;
        while (halved < pieces) halved *= 2;
        double saving = kSaving;
        // Halving's cells follow the bend along where the other direction
        // needs no cut, or takes a share of its own at each step.
        if (bend < 0.5 * budget || local) halved = halving_pieces(density, p * per, (p + 1) * per);
        if (bend < 0.5 * budget && out->closed) saving = kStraightSaving;
        saves = saves || halved > saving * pieces;
        near = near && halved <= pieces + 1;
        halving[p] = halved;
    }
    // Laid first where both bend: rounding the pieces up wastes up to a
    // whole row; a share a little above half takes the fewer pieces, and
    // the other direction, laid later, gets what is left.
    // Taken only where the two counts' product, as sampled, goes down, and
    // on a patch closed in neither direction: around a turn the rows find
    // their own counts, which the product does not foresee (a ring got 8%
    // more triangles). Where a grown share is within reach, such a first
    // lattice is laid even when halving gives no more pieces: its lines
    // follow the bend where halving's lie evenly (a ball's corner patch and
    // a patch of crowded knots got 5 to 7 % fewer triangles so; laid also
    // out of that reach, a shallow freeform patch got 5 % more).
    const bool first_of_two = !second && !local && !out->saddle && bend >= 0.5 * budget &&
                              !out->closed && !out->other_closed;
    // Laid first around a turn whose other direction bends too, even where
    // halving gives no more pieces: halving's even pieces of a rational arc
    // differ in angle, and the lattice laid second takes what the widest of
    // them leaves; lines spread by the bend give every piece about the same
    // sag and leave it more (a revolved profile's rows: 10 to 9 at 1e-2 of
    // the diagonal). Only where halving gives at most a piece more per span:
    // where it gives more, halving's cells passed at fewer pieces than
    // either count (a ring standing on a plane, whose parallels bend within
    // the surface at its rim, which the sampled sag counts: 144 triangles
    // became 172).
    const bool spread_turn =
        !second && !local && !out->saddle && bend >= 0.5 * budget && out->closed && near;
    saves = saves || out->saddle || spread_turn;
    if (!saves && !first_of_two) return expect_halving(L, periods, halving, s, out);
    if (first_of_two) {
        double grow = 1.0;
        int now = 0, fewer = 0;
        for (int p = 0; p < periods; ++p) {
            const double total = span_density(density, p * per, (p + 1) * per);
            // A hair above the ratio, so that the grown total rounds up to
            // its floor and not to one piece more.
            if (total >= 1.0)
                grow = std::fmax(grow, total / std::floor(total) * (1.0 + kGrowRound));
        }
        for (int p = 0; p < periods; ++p) {
            const double total = span_density(density, p * per, (p + 1) * per);
            now += std::max(1, static_cast<int>(std::ceil(total)));
            fewer += std::max(1, static_cast<int>(std::ceil(total / grow - 1e-9)));
        }
        double other = -1.0;
        const int other_direction = direction == 1 ? 2 : 1;
        if (grow * grow <= kShareGrowth && share * grow * grow < budget &&
            !bend_pieces(sur, other_direction, L_other, L, share, s, out->samples, &other))
            return false;
        if (other >= 0.0) {
            saves = true;
            const double left = std::sqrt(share / (budget - share * grow * grow));
            const double before = std::ceil(other), after = std::ceil(other * left);
            if (fewer * after < now * before) {
                for (int k = 0; k <= M; ++k) density[k] /= grow;
                share *= grow * grow;
            }
        }
    }
    if (!saves) return expect_halving(L, periods, halving, s, out);
    out->share = share;
    out->local = local;
    if (!out->lines.push(s, 0.0)) return false;
    if (whole_turn) {
        periods = 1;
        per = M;
    }
    for (int p = 0; p < periods; ++p) {
        const double total = span_density(density, p * per, (p + 1) * per);
        const int pieces = span_pieces(density, p * per, (p + 1) * per);
        if (out->lines.size + pieces > kMaxLines) {
            out->lines.clear();
            return true;
        }
        // The lines where the summed density reaches each piece's share.
        double summed = 0.0;
        int k = p * per;
        for (int j = 1; j < pieces; ++j) {
            const double goal = total * j / pieces;
            double step = std::fmax(density[k], density[k + 1]);
            while (summed + step < goal && k + 1 < (p + 1) * per) {
                summed += step;
                ++k;
                step = std::fmax(density[k], density[k + 1]);
            }
            const double f = step > 0.0 ? std::fmin(1.0, (goal - summed) / step) : 0.0;
            const double x = L * (k + f) / M;
            if (x > out->lines[out->lines.size - 1] && !out->lines.push(s, x)) return false;
        }
        // The ends of the spans as halving reaches them.
        const double end = p + 1 == periods ? L : L * (p + 1) / periods;
        if (!(end > out->lines[out->lines.size - 1])) --out->lines.size;
        if (!out->lines.push(s, end)) return false;
    }
    out->expected.clear();
    for (int k = 0; k < out->lines.size; ++k)
        if (!out->expected.push(s, out->lines[k])) return false;
    return !shared || saddle_bands(shares, budget, L, M, s, out);
}

bool lattice_cut(const Lattice& lattice, double lo, double hi, double* line) {
    const double* first = lattice.lines.data;
    const double* last = first + lattice.lines.size;
    const double* a = std::lower_bound(first, last, lo);
    const double* b = std::lower_bound(first, last, hi);
    if (a == last || b == last || *a != lo || *b != hi || b - a < 2) return false;
    *line = a[(b - a) / 2];
    return true;
}

bool lattice_inner(const Lattice& lattice, double lo, double hi, double* line) {
    const double* first = lattice.lines.data;
    const double* last = first + lattice.lines.size;
    const double* a = std::upper_bound(first, last, lo);
    const double* b = std::lower_bound(first, last, hi);
    if (a >= b) return false;
    const double middle = 0.5 * (lo + hi);
    const double* near = std::lower_bound(a, b, middle);
    if (near == b || (near != a && middle - near[-1] < *near - middle)) --near;
    *line = *near;
    return true;
}

bool lattice_piece(const Lattice& lattice, double lo, double hi) {
    const double* first = lattice.lines.data;
    const double* last = first + lattice.lines.size;
    const double* a = std::lower_bound(first, last, lo);
    return a != last && a + 1 != last && *a == lo && a[1] == hi;
}

}  // namespace ruvane::tess
