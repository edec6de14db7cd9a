// Test fixtures: trimmed surface descriptions built from plain vectors, the
// families of generated surfaces and trim loops, and an evaluator of NURBS
// surfaces written for the tests alone (Cox-de Boor on the caller's arrays).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "include/ruvane.h"
#include "nurbs/tessellation/tessellation.h"

namespace tess_fixtures {

constexpr double kPi = 3.14159265358979323846;

// Hands the tessellator's observer hooks to two plain functions.
class ForwardingObserver : public ruvane::TessObserver {
public:
    using LoopFn = void (*)(void*, int, bool, const double*, const double*, int);
    using MeshFn = void (*)(void*, const double*, const double*, int, int* const*, const int*);
    ForwardingObserver(LoopFn loop, MeshFn mesh, void* context)
        : loop_(loop), mesh_(mesh), context_(context) {}
    void on_loop(int loop, bool outer, const double* u, const double* v, int count) override {
        loop_(context_, loop, outer, u, v, count);
    }
    void on_mesh(const double* u, const double* v, int last, int* const* rings,
                 const int* counts) override {
        mesh_(context_, u, v, last, rings, counts);
    }

private:
    LoopFn loop_;
    MeshFn mesh_;
    void* context_;
};

// The driver as the export runs it (A surface, B trim, C parameter
// tolerance), watched by `observer`.
inline bool tessellate_observed(TriangleSink sink, const TrimmedSurfaceDesc* d, int32_t* status,
                                double A, double B, double C, void* user,
                                ruvane::TessObserver* observer) {
    ruvane::TessContext ctx;
    ctx.tol = {B, A, C};
    ctx.observer = observer;
    return ruvane::tessellate_surface(ctx, sink, d, status, user);
}

struct Curve {
    int order = 2;
    std::vector<double> points;  // x, y, z triples
    std::vector<double> weights;
    std::vector<double> knots;
};

using LoopCurves = std::vector<Curve>;

struct Surface {
    int u_order = 2, v_order = 2;
    std::vector<double> u_knots, v_knots;
    std::vector<double> points;  // (j * nu + i) * 3
    std::vector<double> weights;
    LoopCurves outer;
    std::vector<LoopCurves> holes;
    bool closed_u = false, closed_v = false;
    bool has_pole = false;
    bool outer_clockwise = false;
    std::string name;

    int nu() const { return static_cast<int>(u_knots.size()) - u_order; }
    int nv() const { return static_cast<int>(v_knots.size()) - v_order; }
};

// The C records pointing into a Surface; keeps them alive together.
class Desc {
public:
    explicit Desc(const Surface& s) {
        for (const Curve& c : s.outer) outer_.push_back(curve(c));
        for (const LoopCurves& h : s.holes) {
            holes_.emplace_back();
            for (const Curve& c : h) holes_.back().push_back(curve(c));
        }
        for (const auto& h : holes_)
            loops_.push_back(TrimLoopDesc{static_cast<int32_t>(h.size()), h.data()});
        d_.u_order = s.u_order;
        d_.v_order = s.v_order;
        d_.u_knot_count = static_cast<int32_t>(s.u_knots.size());
        d_.v_knot_count = static_cast<int32_t>(s.v_knots.size());
        d_.u_knots = s.u_knots.data();
        d_.v_knots = s.v_knots.data();
        d_.reserved = 0;
        d_.points = s.points.data();
        d_.weights = s.weights.data();
        d_.outer_count = static_cast<int32_t>(outer_.size());
        d_.outer_curves = outer_.data();
        d_.inner_count = static_cast<int32_t>(loops_.size());
        d_.inner_loops = loops_.data();
    }
    const TrimmedSurfaceDesc* get() const { return &d_; }
    TrimmedSurfaceDesc& edit() { return d_; }

private:
    static CurveDesc curve(const Curve& c) {
        return CurveDesc{c.order,
                         static_cast<int32_t>(c.weights.size()),
                         c.points.data(),
                         c.weights.data(),
                         0,
                         c.knots.data()};
    }
    std::vector<CurveDesc> outer_;
    std::vector<std::vector<CurveDesc>> holes_;
    std::vector<TrimLoopDesc> loops_;
    TrimmedSurfaceDesc d_{};
};

// --- Trim curves in the parameter plane --------------------------------------

inline Curve line(double u0, double v0, double u1, double v1) {
    return Curve{2, {u0, v0, 0, u1, v1, 0}, {1, 1}, {0, 0, 1, 1}};
}

// One degree-1 curve through the points (each interior knot is a corner).
inline Curve polyline(const std::vector<std::pair<double, double>>& p) {
    Curve c;
    c.order = 2;
    const int n = static_cast<int>(p.size());
    for (auto [u, v] : p) {
        c.points.insert(c.points.end(), {u, v, 0});
        c.weights.push_back(1);
    }
    c.knots.push_back(0);
    for (int i = 0; i < n; ++i) c.knots.push_back(static_cast<double>(i) / (n - 1));
    c.knots.push_back(1);
    return c;
}

// Full circle as one rational quadratic curve with double knots (four
// corners in the knot sense), or as four separate arcs.
inline LoopCurves circle(double cu, double cv, double ru, double rv, bool ccw, bool as_arcs) {
    const double s = std::sqrt(0.5);
    const double px[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1};
    const double py[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
    const double w[9] = {1, s, 1, s, 1, s, 1, s, 1};
    std::vector<double> pts, ws;
    for (int k = 0; k < 9; ++k) {
        const int i = ccw ? k : 8 - k;
        pts.insert(pts.end(), {cu + ru * px[i], cv + rv * py[i], 0});
        ws.push_back(w[i]);
    }
    if (!as_arcs) return {Curve{3, pts, ws, {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1}}};
    LoopCurves arcs;
    for (int a = 0; a < 4; ++a)
        arcs.push_back(Curve{3,
                             std::vector<double>(pts.begin() + 6 * a, pts.begin() + 6 * a + 9),
                             std::vector<double>(ws.begin() + 2 * a, ws.begin() + 2 * a + 3),
                             {0, 0, 0, 1, 1, 1}});
    return arcs;
}

// A closed cubic B-spline through a star of control points (clamped, its
// first and last control points equal).
inline Curve star_spline(double cu, double cv, const std::vector<double>& radius, double su,
                         double sv, bool ccw) {
    const int n = static_cast<int>(radius.size());
    Curve c;
    c.order = 4;
    for (int k = 0; k <= n; ++k) {
        const int i = k % n;
        const double a = 2 * kPi * (ccw ? i : n - i) / n;
        c.points.insert(c.points.end(),
                        {cu + su * radius[i] * std::cos(a), cv + sv * radius[i] * std::sin(a), 0});
        c.weights.push_back(1);
    }
    const int count = n + 1;
    for (int k = 0; k < 4; ++k) c.knots.push_back(0);
    for (int k = 1; k < count - 3; ++k) c.knots.push_back(static_cast<double>(k) / (count - 3));
    for (int k = 0; k < 4; ++k) c.knots.push_back(1);
    return c;
}

inline LoopCurves rectangle(double u0, double v0, double u1, double v1, bool ccw) {
    LoopCurves l{line(u0, v0, u1, v0), line(u1, v0, u1, v1), line(u1, v1, u0, v1),
                 line(u0, v1, u0, v0)};
    if (ccw) return l;
    LoopCurves r;
    for (int i = 3; i >= 0; --i) {
        Curve c = l[i];
        std::swap(c.points[0], c.points[3]);
        std::swap(c.points[1], c.points[4]);
        r.push_back(c);
    }
    return r;
}

// --- Surfaces ------------------------------------------------------------------

inline std::vector<double> clamped_knots(int count, int order, double a, double b) {
    std::vector<double> k;
    for (int i = 0; i < order; ++i) k.push_back(a);
    const int inner = count - order;
    for (int i = 1; i <= inner; ++i) k.push_back(a + (b - a) * i / (inner + 1));
    for (int i = 0; i < order; ++i) k.push_back(b);
    return k;
}

// Independent evaluation of the surface at (u, v) in its own parameters.
struct Eval {
    const Surface& s;

    static int span(const std::vector<double>& U, int p, int n, double t) {
        if (t >= U[n + 1]) return n;
        int k = p;
        while (k < n && !(U[k] <= t && t < U[k + 1])) ++k;
        return k;
    }
    static void basis(const std::vector<double>& U, int p, int k, double t, double* N) {
        std::vector<double> left(p + 1), right(p + 1);
        N[0] = 1;
        for (int j = 1; j <= p; ++j) {
            left[j] = t - U[k + 1 - j];
            right[j] = U[k + j] - t;
            double saved = 0;
            for (int r = 0; r < j; ++r) {
                const double tmp = N[r] / (right[r + 1] + left[j - r]);
                N[r] = saved + right[r + 1] * tmp;
                saved = left[j - r] * tmp;
            }
            N[j] = saved;
        }
    }
    std::array<double, 3> at(double u, double v) const {
        const int p = s.u_order - 1, q = s.v_order - 1, nu = s.nu(), nv = s.nv();
        const int ku = span(s.u_knots, p, nu - 1, u), kv = span(s.v_knots, q, nv - 1, v);
        std::vector<double> Nu(p + 1), Nv(q + 1);
        basis(s.u_knots, p, ku, u, Nu.data());
        basis(s.v_knots, q, kv, v, Nv.data());
        double x = 0, y = 0, z = 0, w = 0;
        for (int a = 0; a <= p; ++a)
            for (int b = 0; b <= q; ++b) {
                const int i = ku - p + a, j = kv - q + b, k = j * nu + i;
                const double f = Nu[a] * Nv[b] * s.weights[k];
                x += f * s.points[3 * k];
                y += f * s.points[3 * k + 1];
                z += f * s.points[3 * k + 2];
                w += f;
            }
        return {x / w, y / w, z / w};
    }
    // Su x Sv by central differences inside the domain.
    std::array<double, 3> normal(double u, double v) const {
        const double u0 = s.u_knots.front(), u1 = s.u_knots.back();
        const double v0 = s.v_knots.front(), v1 = s.v_knots.back();
        const double hu = 1e-6 * (u1 - u0), hv = 1e-6 * (v1 - v0);
        const double ua = std::max(u0, u - hu), ub = std::min(u1, u + hu);
        const double va = std::max(v0, v - hv), vb = std::min(v1, v + hv);
        const auto pa = at(ua, v), pb = at(ub, v), qa = at(u, va), qb = at(u, vb);
        const double su[3] = {pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2]};
        const double sv[3] = {qb[0] - qa[0], qb[1] - qa[1], qb[2] - qa[2]};
        return {su[1] * sv[2] - su[2] * sv[1], su[2] * sv[0] - su[0] * sv[2],
                su[0] * sv[1] - su[1] * sv[0]};
    }
    // Mean control-polygon lengths along u and v: the metric-plane scales.
    std::pair<double, double> lengths() const {
        const int nu = s.nu(), nv = s.nv();
        auto pt = [&](int i, int j) {
            const int k = j * nu + i;
            return std::array<double, 3>{s.points[3 * k], s.points[3 * k + 1], s.points[3 * k + 2]};
        };
        auto dist = [](std::array<double, 3> a, std::array<double, 3> b) {
            return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                             (a[2] - b[2]) * (a[2] - b[2]));
        };
        double lu = 0, lv = 0;
        for (int j = 0; j < nv; ++j)
            for (int i = 1; i < nu; ++i) lu += dist(pt(i - 1, j), pt(i, j)) / nv;
        for (int i = 0; i < nu; ++i)
            for (int j = 1; j < nv; ++j) lv += dist(pt(i, j - 1), pt(i, j)) / nu;
        return {lu, lv};
    }
};

}  // namespace tess_fixtures
