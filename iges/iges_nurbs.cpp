#include "iges/iges_nurbs.h"

#include <algorithm>
#include <cmath>

namespace ruvane::iges {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kKnotTie = 1e-11;

size_t at(int i, int dim) { return static_cast<size_t>(i) * static_cast<size_t>(dim); }

int multiplicity(const HCurve& c, double t) {
    return static_cast<int>(std::count(c.knots.begin(), c.knots.end(), t));
}

// Span k with knots[k] <= t < knots[k + 1], kept inside [degree, n - 1]
// for n control points. Inlined into the evaluators, which the mesher calls
// for every point it places and looks at.
[[gnu::always_inline]] inline int span_in(const double* knots, int degree, int n, double t) {
    int lo = degree, hi = n - 1;
    if (t >= knots[hi]) {
        while (hi > lo && knots[hi] >= knots[hi + 1]) --hi;
        return hi;
    }
    if (t <= knots[lo]) return lo;
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        if (t < knots[mid])
            hi = mid;
        else
            lo = mid;
    }
    return lo;
}

int span_of(const std::vector<double>& knots, int degree, int n, double t) {
    return span_in(knots.data(), degree, n, t);
}

int find_span(const HCurve& c, double t) { return span_of(c.knots, c.degree, c.count(), t); }

void blend(double* out, const double* a, const double* b, double alpha, int dim) {
    for (int d = 0; d < dim; ++d) out[d] = (1.0 - alpha) * a[d] + alpha * b[d];
}

// Every interior knot raised to full multiplicity and both ends clamped:
// the curve as Bezier pieces sharing their end points.
int to_bezier(HCurve* c) {
    clip(c, c->first(), c->last());
    std::vector<double> inner;
    for (int i = c->degree + 1; i < c->count(); ++i) {
        const double t = c->knots[static_cast<size_t>(i)];
        if (inner.empty() || inner.back() != t) inner.push_back(t);
    }
    for (double t : inner) {
        const int m = multiplicity(*c, t);
        if (m < c->degree) insert_knot(c, t, c->degree - m);
    }
    return static_cast<int>(inner.size()) + 1;
}

}  // namespace

double ParamMap::apply(double t) const {
    if (!angular || !(to > from) || segments < 1) return t;
    t = std::clamp(t, from, to);
    const double h = (to - from) / segments;
    double x = (t - from) / h;
    int k = static_cast<int>(std::floor(x));
    k = std::clamp(k, 0, segments - 1);
    const double f = x - k;
    const double delta = sweep / segments;
    const double phi = (f - 0.5) * delta;
    const double s = (std::tan(phi / 2) / std::tan(delta / 4) + 1.0) / 2.0;
    return from + (k + s) * h;
}

bool valid(const HCurve& c) {
    if (c.degree < 1 || c.dim < 1 || c.points.size() % static_cast<size_t>(c.dim) != 0)
        return false;
    const int n = c.count();
    if (n < c.degree + 1 || c.knots.size() != static_cast<size_t>(n + c.degree + 1)) return false;
    for (size_t i = 0; i < c.knots.size(); ++i) {
        if (!std::isfinite(c.knots[i])) return false;
        if (i > 0 && c.knots[i] < c.knots[i - 1]) return false;
    }
    for (double v : c.points)
        if (!std::isfinite(v)) return false;
    return c.last() > c.first();
}

void insert_knot(HCurve* c, double t, int times) {
    const int p = c->degree, dim = c->dim;
    for (int r = 0; r < times; ++r) {
        const int n = c->count();
        const int k = find_span(*c, t);
        std::vector<double> q(at(n + 1, dim));
        for (int i = 0; i <= k - p; ++i) std::copy_n(&c->points[at(i, dim)], dim, &q[at(i, dim)]);
        for (int i = k; i < n; ++i) std::copy_n(&c->points[at(i, dim)], dim, &q[at(i + 1, dim)]);
        for (int i = k - p + 1; i <= k; ++i) {
            const double a = c->knots[static_cast<size_t>(i)];
            const double span = c->knots[static_cast<size_t>(i + p)] - a;
            const double alpha = span > 0 ? (t - a) / span : 0.0;
            blend(&q[at(i, dim)], &c->points[at(i - 1, dim)], &c->points[at(i, dim)], alpha, dim);
        }
        c->points.swap(q);
        c->knots.insert(c->knots.begin() + k + 1, t);
    }
}

bool clip(HCurve* c, double a, double b) {
    const int p = c->degree, dim = c->dim;
    if (!(a < b) || a < c->first() || b > c->last()) return false;
    int m = multiplicity(*c, a);
    if (m < p) insert_knot(c, a, p - m), m = p;
    int mb = multiplicity(*c, b);
    if (mb < p) insert_knot(c, b, p - mb), mb = p;
    const size_t s =
        static_cast<size_t>(std::find(c->knots.begin(), c->knots.end(), a) - c->knots.begin());
    const int ps = m >= p + 1 ? static_cast<int>(s) : static_cast<int>(s) - 1;
    const size_t e = static_cast<size_t>(std::find(c->knots.rbegin(), c->knots.rend(), b).base() -
                                         c->knots.begin() - 1);
    const int pe = mb >= p + 1 ? static_cast<int>(e) - p - 1 : static_cast<int>(e) - p;
    if (ps < 0 || pe < ps + p) return false;
    std::vector<double> pts(c->points.begin() + static_cast<long>(at(ps, dim)),
                            c->points.begin() + static_cast<long>(at(pe + 1, dim)));
    std::vector<double> kn(c->knots.begin() + ps, c->knots.begin() + pe + p + 2);
    for (int i = 0; i <= p; ++i) {
        kn[static_cast<size_t>(i)] = a;
        kn[kn.size() - 1 - static_cast<size_t>(i)] = b;
    }
    c->points.swap(pts);
    c->knots.swap(kn);
    return true;
}

void elevate(HCurve* c, int degree) {
    const int dim = c->dim;
    while (c->degree < degree) {
        const int p = c->degree;
        const int pieces = to_bezier(c);
        std::vector<double> breaks;
        breaks.push_back(c->first());
        for (int i = p + 1; i < c->count(); i += p)
            breaks.push_back(c->knots[static_cast<size_t>(i)]);
        breaks.push_back(c->last());
        std::vector<double> q(at(pieces * (p + 1) + 1, dim));
        for (int s = 0; s < pieces; ++s) {
            const double* P = &c->points[at(s * p, dim)];
            double* Q = &q[at(s * (p + 1), dim)];
            std::copy_n(P, dim, Q);
            for (int i = 1; i <= p; ++i) {
                const double a = static_cast<double>(i) / (p + 1);
                blend(Q + at(i, dim), P + at(i, dim), P + at(i - 1, dim), a, dim);
            }
            std::copy_n(P + at(p, dim), dim, Q + at(p + 1, dim));
        }
        std::vector<double> kn;
        for (int i = 0; i <= p + 1; ++i) kn.push_back(breaks.front());
        for (size_t s = 1; s + 1 < breaks.size(); ++s)
            for (int i = 0; i <= p; ++i) kn.push_back(breaks[s]);
        for (int i = 0; i <= p + 1; ++i) kn.push_back(breaks.back());
        c->degree = p + 1;
        c->points.swap(q);
        c->knots.swap(kn);
    }
}

void remap(HCurve* c, double a, double b) {
    const double f = c->first(), l = c->last();
    const double scale = (b - a) / (l - f);
    for (double& k : c->knots) k = a + (k - f) * scale;
    // Exact ends whatever the rounding.
    c->knots[static_cast<size_t>(c->degree)] = a;
    c->knots[static_cast<size_t>(c->count())] = b;
}

void reverse(HCurve* c) {
    const double s = c->knots.front() + c->knots.back();
    std::reverse(c->knots.begin(), c->knots.end());
    for (double& k : c->knots) k = s - k;
    const int n = c->count(), dim = c->dim;
    for (int i = 0; i < n / 2; ++i)
        std::swap_ranges(&c->points[at(i, dim)], &c->points[at(i, dim)] + dim,
                         &c->points[at(n - 1 - i, dim)]);
}

void make_compatible(HCurve* a, HCurve* b) {
    clip(a, a->first(), a->last());
    clip(b, b->first(), b->last());
    remap(a, 0, 1);
    remap(b, 0, 1);
    const int p = std::max(a->degree, b->degree);
    elevate(a, p);
    elevate(b, p);
    // Knots of both, ties within rounding taken as one value.
    std::vector<double> all(a->knots.begin() + p + 1, a->knots.end() - p - 1);
    all.insert(all.end(), b->knots.begin() + p + 1, b->knots.end() - p - 1);
    std::sort(all.begin(), all.end());
    std::vector<double> values;
    for (double t : all)
        if (values.empty() || t - values.back() > kKnotTie) values.push_back(t);
    for (HCurve* c : {a, b}) {
        for (double& k : c->knots)
            for (double v : values)
                if (std::fabs(k - v) <= kKnotTie) k = v;
    }
    for (double v : values) {
        const int want = std::max(multiplicity(*a, v), multiplicity(*b, v));
        for (HCurve* c : {a, b}) {
            const int m = multiplicity(*c, v);
            if (m < want) insert_knot(c, v, want - m);
        }
    }
}

HCurve join(std::vector<HCurve> pieces) {
    int p = 1;
    for (HCurve& c : pieces) {
        clip(&c, c.first(), c.last());
        p = std::max(p, c.degree);
    }
    HCurve out;
    out.degree = p;
    out.dim = pieces.empty() ? 4 : pieces[0].dim;
    const int dim = out.dim;
    for (size_t k = 0; k < pieces.size(); ++k) {
        HCurve& c = pieces[k];
        elevate(&c, p);
        remap(&c, static_cast<double>(k), static_cast<double>(k + 1));
        if (k == 0) {
            out.points = c.points;
            out.knots.assign(c.knots.begin(), c.knots.end() - 1);
            continue;
        }
        // Scale the piece's homogeneous points so that its first weight is
        // the previous piece's last: the curve is the same, and the joint
        // point is shared.
        const double w_end = out.points.back();
        const double w_start = c.points[static_cast<size_t>(dim - 1)];
        if (dim == 4 && w_start != 0 && w_end != 0) {
            const double s = w_end / w_start;
            for (double& v : c.points) v *= s;
        }
        out.points.insert(out.points.end(), c.points.begin() + dim, c.points.end());
        out.knots.insert(out.knots.end(), c.knots.begin() + p + 1, c.knots.end() - 1);
    }
    if (!pieces.empty()) out.knots.push_back(static_cast<double>(pieces.size()));
    return out;
}

namespace {

// de Boor's triangle over the p + 1 points of span k, `dim` values each,
// in place in d; the point at t ends in the last slot. Points of four values
// (x w, y w, z w, w) go through de_boor_factors and de_boor_with instead,
// with the same arithmetic.
void de_boor(const std::vector<double>& knots, int p, int k, int dim, double t, double* d) {
    for (int r = 1; r <= p; ++r) {
        for (int j = p; j >= r; --j) {
            const double lo = knots[static_cast<size_t>(j + k - p)];
            const double hi = knots[static_cast<size_t>(j + 1 + k - r)];
            const double alpha = hi > lo ? (t - lo) / (hi - lo) : 0.0;
            double* out = &d[at(j, dim)];
            const double* a = &d[at(j - 1, dim)];
            for (int x = 0; x < dim; ++x) out[x] = (1.0 - alpha) * a[x] + alpha * out[x];
        }
    }
}

// The factors de Boor's triangle blends with at t in span k, in the order it
// uses them (p (p + 1) / 2 of them), and the same blends from them for
// points of four values: one evaluation's factors serve several rows of a
// net. P > 0 fixes the degree, so that the compiler lays the loops out.
template <int P>
[[gnu::always_inline]] inline void de_boor_factors_in(const double* knots, int p, int k, double t,
                                                      double* alpha) {
    const int q = P > 0 ? P : p;
#pragma GCC unroll 3
    for (int r = 1; r <= q; ++r)
#pragma GCC unroll 3
        for (int j = q; j >= r; --j) {
            const double lo = knots[j + k - q];
            const double hi = knots[j + 1 + k - r];
            *alpha++ = hi > lo ? (t - lo) / (hi - lo) : 0.0;
        }
}

[[gnu::always_inline]] inline void de_boor_factors(const std::vector<double>& knots, int p, int k,
                                                   double t, double* alpha) {
    de_boor_factors_in<0>(knots.data(), p, k, t, alpha);
}

template <int P>
[[gnu::always_inline]] inline void de_boor_with_in(const double* alpha, int p, double* d) {
    const int q = P > 0 ? P : p;
#pragma GCC unroll 3
    for (int r = 1; r <= q; ++r)
#pragma GCC unroll 3
        for (int j = q; j >= r; --j) {
            const double f = *alpha++;
            double* out = d + 4 * j;
            const double* a = out - 4;
#pragma GCC unroll 4
            for (int x = 0; x < 4; ++x) out[x] = (1.0 - f) * a[x] + f * out[x];
        }
}

// The usual degrees with their loops laid out by the compiler.
[[gnu::always_inline]] inline void de_boor_with(const double* alpha, int p, double* d) {
    switch (p) {
        case 1:
            return de_boor_with_in<1>(alpha, p, d);
        case 2:
            return de_boor_with_in<2>(alpha, p, d);
        case 3:
            return de_boor_with_in<3>(alpha, p, d);
        default:
            return de_boor_with_in<0>(alpha, p, d);
    }
}

// The p + 1 points of span k into d, `dim` values each.
void gather(const double* points, int p, int k, int dim, double* d) {
    if (dim == 4) {
        std::copy_n(points + at(k - p, 4), at(p + 1, 4), d);
        return;
    }
    for (int j = 0; j <= p; ++j) std::copy_n(&points[at(j + k - p, dim)], dim, &d[at(j, dim)]);
}

// Room for the de Boor points of the usual degrees without a heap block:
// the evaluators run for every boundary point the mesher places.
constexpr size_t kLocal = 64;

// Working values on the stack while they fit, on the heap beyond.
class Scratch {
public:
    explicit Scratch(size_t need) {
        if (need > kLocal) heap_.resize(need);
    }
    double* data() { return heap_.empty() ? local_ : heap_.data(); }

private:
    double local_[kLocal];
    std::vector<double> heap_;
};

// The point de Boor's triangle gives from the p + 1 points of four values
// at `src`, into out: the blends of de_boor_with with the same factors, on
// a copy held in registers for the usual degrees (1 to 3), as the mesher
// evaluates every boundary point it places many times over.
template <int P>
[[gnu::always_inline]] inline void point_at_in(const double* alpha, const double* src,
                                               double* out) {
    double d[4 * (P + 1)];
#pragma GCC unroll 16
    for (int i = 0; i < 4 * (P + 1); ++i) d[i] = src[i];
    de_boor_with_in<P>(alpha, P, d);
#pragma GCC unroll 4
    for (int x = 0; x < 4; ++x) out[x] = d[4 * P + x];
}

// A curve's point of four values at t (clamped to its range), degree P.
template <int P>
void curve_point_in(const HCurve& c, double t, double* out) {
    const double* knots = c.knots.data();
    const int n = static_cast<int>(c.points.size() / 4);
    t = std::clamp(t, knots[P], knots[n]);
    const int k = span_in(knots, P, n, t);
    double alpha[P * (P + 1) / 2];
    de_boor_factors_in<P>(knots, P, k, t, alpha);
    point_at_in<P>(alpha, c.points.data() + 4 * (k - P), out);
}

// surface_point for degrees 1 to 3 both ways: the rows the v span uses
// blended in u, then the column they give blended in v.
template <int PU, int PV>
Vec3 surface_point_in(const HSurface& s, double u, double v) {
    const double* uk = s.uk.data();
    const double* vk = s.vk.data();
    u = std::clamp(u, uk[PU], uk[s.nu]);
    v = std::clamp(v, vk[PV], vk[s.nv]);
    const int ku = span_in(uk, PU, s.nu, u), kv = span_in(vk, PV, s.nv, v);
    double au[PU * (PU + 1) / 2], av[PV * (PV + 1) / 2];
    de_boor_factors_in<PU>(uk, PU, ku, u, au);
    de_boor_factors_in<PV>(vk, PV, kv, v, av);
    double col[4 * (PV + 1)];
    const double* row =
        s.points.data() + 4 * (static_cast<size_t>(kv - PV) * static_cast<size_t>(s.nu) +
                               static_cast<size_t>(ku - PU));
#pragma GCC unroll 4
    for (int r = 0; r <= PV; ++r)
        point_at_in<PU>(au, row + 4 * static_cast<size_t>(r) * static_cast<size_t>(s.nu),
                        &col[4 * r]);
    double h[4];
    point_at_in<PV>(av, col, h);
    const double w = h[3] != 0 ? h[3] : 1.0;
    return {h[0] / w, h[1] / w, h[2] / w};
}

template <int PU>
Vec3 surface_point_u(const HSurface& s, double u, double v) {
    switch (s.dv) {
        case 1:
            return surface_point_in<PU, 1>(s, u, v);
        case 2:
            return surface_point_in<PU, 2>(s, u, v);
        default:
            return surface_point_in<PU, 3>(s, u, v);
    }
}

}  // namespace

namespace {

// evaluate for any degree and dimension, apart from the usual cases so that
// they do not carry its frame.
[[gnu::noinline]] void evaluate_any(const HCurve& c, double t, double* out) {
    const int p = c.degree, dim = c.dim;
    t = std::clamp(t, c.first(), c.last());
    const int k = find_span(c, t);
    const size_t blends = static_cast<size_t>(p) * static_cast<size_t>(p + 1) / 2;
    const size_t need = at(p + 1, dim) + (dim == 4 ? blends : 0);
    Scratch scratch(need);
    double* d = scratch.data();
    gather(c.points.data(), p, k, dim, d);
    if (dim == 4) {
        double* alpha = d + at(p + 1, 4);
        de_boor_factors(c.knots, p, k, t, alpha);
        de_boor_with(alpha, p, d);
    } else {
        de_boor(c.knots, p, k, dim, t, d);
    }
    for (int x = 0; x < dim; ++x) out[x] = d[at(p, dim) + static_cast<size_t>(x)];
}

// The homogeneous point of four values: true when the usual case gave it.
[[gnu::always_inline]] inline bool evaluate_usual(const HCurve& c, double t, double* out) {
    if (c.dim != 4) return false;
    switch (c.degree) {
        case 1:
            curve_point_in<1>(c, t, out);
            return true;
        case 2:
            curve_point_in<2>(c, t, out);
            return true;
        case 3:
            curve_point_in<3>(c, t, out);
            return true;
        default:
            return false;
    }
}

}  // namespace

void evaluate(const HCurve& c, double t, double* out) {
    if (!evaluate_usual(c, t, out)) evaluate_any(c, t, out);
}

Vec3 point3(const HCurve& c, double t) {
    double h[4] = {0, 0, 0, 1};
    if (!evaluate_usual(c, t, h)) evaluate_any(c, t, h);
    const double w = h[3] != 0 ? h[3] : 1.0;
    return {h[0] / w, h[1] / w, h[2] / w};
}

HCurve arc(double cx, double cy, double z, double radius, double a0, double a1, ParamMap* map) {
    const double sweep = a1 - a0;
    int n = static_cast<int>(std::ceil(sweep / (kPi / 2) - 1e-9));
    n = std::max(n, 1);
    const double delta = sweep / n;
    const double w = std::cos(delta / 2);
    HCurve c;
    c.degree = 2;
    c.dim = 4;
    for (int k = 0; k <= n; ++k) {
        const double a = a0 + k * delta;
        c.points.insert(c.points.end(),
                        {cx + radius * std::cos(a), cy + radius * std::sin(a), z, 1.0});
        if (k == n) break;
        const double m = a + delta / 2, r = radius / w;
        c.points.insert(c.points.end(),
                        {(cx + r * std::cos(m)) * w, (cy + r * std::sin(m)) * w, z * w, w});
    }
    const double h = (a1 - a0) / n;
    c.knots = {a0, a0, a0};
    for (int k = 1; k < n; ++k) c.knots.insert(c.knots.end(), 2, a0 + k * h);
    c.knots.insert(c.knots.end(), {a1, a1, a1});
    if (map) *map = ParamMap{true, a0, a1, sweep, n};
    return c;
}

HCurve line(const Vec3& a, const Vec3& b) {
    HCurve c;
    c.degree = 1;
    c.dim = 4;
    c.knots = {0, 0, 1, 1};
    c.points = {a.x, a.y, a.z, 1, b.x, b.y, b.z, 1};
    return c;
}

HCurve along_u(const HSurface& s) {
    HCurve c;
    c.degree = s.du;
    c.dim = 4 * s.nv;
    c.knots = s.uk;
    c.points.resize(s.points.size());
    for (int i = 0; i < s.nu; ++i)
        for (int j = 0; j < s.nv; ++j)
            std::copy_n(&s.points[at(j * s.nu + i, 4)], 4, &c.points[at(i * s.nv + j, 4)]);
    return c;
}

HCurve along_v(const HSurface& s) {
    HCurve c;
    c.degree = s.dv;
    c.dim = 4 * s.nu;
    c.knots = s.vk;
    c.points = s.points;
    return c;
}

void from_u(const HCurve& c, HSurface* s) {
    s->du = c.degree;
    s->uk = c.knots;
    s->nu = c.count();
    s->points.resize(c.points.size());
    for (int i = 0; i < s->nu; ++i)
        for (int j = 0; j < s->nv; ++j)
            std::copy_n(&c.points[at(i * s->nv + j, 4)], 4, &s->points[at(j * s->nu + i, 4)]);
}

void from_v(const HCurve& c, HSurface* s) {
    s->dv = c.degree;
    s->vk = c.knots;
    s->nv = c.count();
    s->points = c.points;
}

// The net's rows in u first, then the column they give in v, as a curve
// along u whose points are whole rows would: only the dv + 1 rows the
// v span uses are worked out, with the same arithmetic.
Vec3 surface_point(const HSurface& s, double u, double v) {
    const int pu = s.du, pv = s.dv;
    if (pu >= 1 && pu <= 3 && pv >= 1 && pv <= 3) {
        switch (pu) {
            case 1:
                return surface_point_u<1>(s, u, v);
            case 2:
                return surface_point_u<2>(s, u, v);
            default:
                return surface_point_u<3>(s, u, v);
        }
    }
    const double u0 = s.uk[static_cast<size_t>(pu)], u1 = s.uk[static_cast<size_t>(s.nu)];
    const double v0 = s.vk[static_cast<size_t>(pv)], v1 = s.vk[static_cast<size_t>(s.nv)];
    u = std::clamp(u, u0, u1);
    v = std::clamp(v, v0, v1);
    const int ku = span_of(s.uk, pu, s.nu, u), kv = span_of(s.vk, pv, s.nv, v);
    const size_t blends =
        static_cast<size_t>(std::max(pu, pv)) * static_cast<size_t>(std::max(pu, pv) + 1) / 2;
    const size_t need = at(pu + 1, 4) + at(pv + 1, 4) + blends;
    Scratch scratch(need);
    double* du = scratch.data();
    double* dv = du + at(pu + 1, 4);
    // Every row blends with the same factors in u: worked out once.
    double* alpha = dv + at(pv + 1, 4);
    de_boor_factors(s.uk, pu, ku, u, alpha);
    for (int r = 0; r <= pv; ++r) {
        const int j = r + kv - pv;
        gather(&s.points[at(j * s.nu, 4)], pu, ku, 4, du);
        de_boor_with(alpha, pu, du);
        for (int x = 0; x < 4; ++x)
            dv[at(r, 4) + static_cast<size_t>(x)] = du[at(pu, 4) + static_cast<size_t>(x)];
    }
    de_boor_factors(s.vk, pv, kv, v, alpha);
    de_boor_with(alpha, pv, dv);
    const double* h = &dv[at(pv, 4)];
    const double w = h[3] != 0 ? h[3] : 1.0;
    return {h[0] / w, h[1] / w, h[2] / w};
}

}  // namespace ruvane::iges
