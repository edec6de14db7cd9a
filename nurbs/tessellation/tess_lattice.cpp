// Lattices of sized cut lines for N_TESSUB.
#include "nurbs/tessellation/tess_lattice.h"

#include "nurbs/tessellation/tess_sample.h"

#include <algorithm>
#include <cmath>

namespace ruvane::tess {

namespace {

constexpr int kLinesAcross = 5;  // sampled lines of the surface, side to side
constexpr int kMaxLines = 8192;  // beyond this, cells are halved between lines
// A lattice is laid where halving would give this many times the pieces.
constexpr double kSaving = 1.25;

// Surface point at position `along` of the sized direction and `across`
// of the other, both in the metric plane.
bool sample(const Surface& sur, int direction, double along, double across, Point3* S) {
    const double u = direction == 1 ? across : along, v = direction == 1 ? along : across;
    return N_SUREVN(sur, 1, u, v, S) == kOk;
}

// Samples along the sized direction: enough for every span of its knots.
int samples_along(const Surface& sur, int direction) {
    const KnotVector& k = direction == 1 ? *sur.vknt : *sur.uknt;
    int spans = 0;
    for (int i = 0; i < k.m; ++i) spans += k.U[i + 1] > k.U[i] ? 1 : 0;
    return std::min(512, std::max(64, 8 * spans));
}

// The largest distance of the surface's lines along the other direction
// from the chords of their ends: what the other direction takes of the
// budget when it is not cut at all (nothing for a cylinder's generators).
bool other_bend(const Surface& sur, int direction, double L, double L_other, double* bend) {
    constexpr int kSamples = 16;
    const int other = direction == 1 ? 2 : 1;
    *bend = 0.0;
    for (int i = 0; i < kLinesAcross; ++i) {
        Point3 a, b, S;
        const double at = L * i / (kLinesAcross - 1);
        if (!sample(sur, other, 0.0, at, &a) || !sample(sur, other, L_other, at, &b)) return false;
        for (int k = 1; k < kSamples; ++k) {
            if (!sample(sur, other, L_other * k / kSamples, at, &S)) return false;
            double d = 0.0;
            if (G_DISPAB(S, a, b, &d) != kOk) d = vec_distance(S, a);
            *bend = std::fmax(*bend, d);
        }
    }
    return true;
}

// The sampled lines of lay_lattice: kLinesAcross lines across the sized
// direction, M + 1 points along each, every line's basis found once.
class SampledLines {
public:
    bool lay(const Surface& sur, int direction, double L, double L_other, int M, Scratch& s) {
        sur_ = &sur;
        direction_ = direction;
        for (int i = 0; i < kLinesAcross; ++i) across_[i] = L_other * i / (kLinesAcross - 1);
        if (!along_.resize(s, M + 1, 0.0) || !along_basis_.resize(s, M + 1, LineBasis{}))
            return false;
        // As the points were once asked one by one: 0, L / M, L * (k + 1) / M.
        for (int k = 1; k <= M; ++k) along_[k] = L * k / M;
        return true;
    }
    // The point at position k along line i.
    bool at(int i, int k, Point3* S) {
        if (direction_ == 1)
            return LineSampler(*sur_, across_, across_basis_, along_.data, along_basis_.data)
                .at(i, k, S);
        return LineSampler(*sur_, along_.data, along_basis_.data, across_, across_basis_)
            .at(k, i, S);
    }

private:
    const Surface* sur_ = nullptr;
    int direction_ = 1;
    double across_[kLinesAcross];
    LineBasis across_basis_[kLinesAcross];
    Table<double> along_;
    Table<LineBasis> along_basis_;
};

double span_density(const Table<double>& density, int from, int to) {
    double total = 0.0;
    for (int k = from; k < to; ++k) total += std::fmax(density[k], density[k + 1]);
    return total;
}

int span_pieces(const Table<double>& density, int from, int to) {
    const double total = span_density(density, from, to);
    return total < kMaxLines ? std::max(1, static_cast<int>(std::ceil(total))) : kMaxLines;
}

}  // namespace

bool lay_lattice(const Surface& sur, int direction, double Lu, double Lv, int periods,
                 double budget, Scratch& s, Lattice* out) {
    out->tried = true;
    out->lines.clear();
    const double L = direction == 1 ? Lv : Lu, L_other = direction == 1 ? Lu : Lv;
    const int per = std::max(4, samples_along(sur, direction) / periods);
    const int M = per * periods;
    double bend = 0.0;
    if (!other_bend(sur, direction, L, L_other, &bend)) return true;
    // Each direction's pieces get half the budget, unless the other one
    // bends so little that it needs no cut.
    const double share = bend < 0.5 * budget ? budget - bend : 0.5 * budget;
    // Pieces per sample step: a double step whose middle sags by `sag` from
    // its chord holds sqrt(sag / share) pieces whose sag is `share`.
    Table<double> density;
    if (!(share > 0.0)) return true;
    if (!density.resize(s, M + 1, 0.0)) return false;
    SampledLines lines;
    if (!lines.lay(sur, direction, L, L_other, M, s)) return false;
    for (int i = 0; i < kLinesAcross; ++i) {
        Point3 prev, here, next;
        if (!lines.at(i, 0, &prev) || !lines.at(i, 1, &here)) return true;
        for (int k = 1; k < M; ++k) {
            if (!lines.at(i, k + 1, &next)) return true;
            const double sag = vec_distance(here, vec_scale(vec_add(prev, next), 0.5));
            density[k] = std::fmax(density[k], 0.5 * std::sqrt(sag / share));
            prev = here;
            here = next;
        }
    }
    density[0] = density[1];
    density[M] = density[M - 1];
    // Halving gives the next power of two of the pieces a span needs, and
    // its lines meet the points of boundary polylines split by halving too:
    // a lattice only where it saves a fair share of them.
    bool saves = false;
    for (int p = 0; p < periods; ++p) {
        const int pieces = span_pieces(density, p * per, (p + 1) * per);
        int halved = 1;
        while (halved < pieces) halved *= 2;
        saves = saves || halved > kSaving * pieces;
    }
    if (!saves) return true;
    if (!out->lines.push(s, 0.0)) return false;
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
    return true;
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

}  // namespace ruvane::tess
