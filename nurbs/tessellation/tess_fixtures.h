// Test fixtures: trimmed surface descriptions built from plain vectors, trim
// loops and surfaces, the driver run with its observer hooks recorded, and an
// evaluator of NURBS surfaces written for the tests alone (Cox-de Boor on the
// caller's arrays).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "include/ruvane.h"
#include "nurbs/tessellation/mesh_check.h"
#include "nurbs/tessellation/tessellation.h"
#include "nurbs/testing/ruvane_test_host.h"

namespace tess_fixtures {

constexpr double kPi = 3.14159265358979323846;

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

// The C record of a curve, pointing into it.
inline CurveDesc curve_desc(const Curve& c) {
    return {
        c.order,       static_cast<int32_t>(c.weights.size()), c.points.data(), c.weights.data(), 0,
        c.knots.data()};
}

// The C records pointing into a Surface; keeps them alive together.
class Desc {
public:
    explicit Desc(const Surface& s) {
        for (const Curve& c : s.outer) outer_.push_back(curve_desc(c));
        for (const LoopCurves& h : s.holes) {
            holes_.emplace_back();
            for (const Curve& c : h) holes_.back().push_back(curve_desc(c));
        }
        for (const auto& h : holes_)
            loops_.push_back(TrimLoopDesc{static_cast<int32_t>(h.size()), h.data()});
        auto count = [](const auto& v) { return static_cast<int32_t>(v.size()); };
        d_ = {s.u_order,
              s.v_order,
              count(s.u_knots),
              count(s.v_knots),
              s.u_knots.data(),
              s.v_knots.data(),
              0,
              s.points.data(),
              s.weights.data(),
              count(outer_),
              outer_.data(),
              count(loops_),
              loops_.data()};
    }
    const TrimmedSurfaceDesc* get() const { return &d_; }
    TrimmedSurfaceDesc& edit() { return d_; }

private:
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

// Knots of a full circle made of four rational quadratic arcs.
inline const std::vector<double> kCircleKnots = {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1};

// A row of nine rational control points on a circle of radius r at height z,
// every weight times wz.
inline void circle_row(double r, double z, double wz, Surface& s) {
    const double s2 = std::sqrt(0.5);
    const double px[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, py[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
    const double w[9] = {1, s2, 1, s2, 1, s2, 1, s2, 1};
    for (int k = 0; k < 9; ++k) {
        s.points.insert(s.points.end(), {r * px[k], r * py[k], z});
        s.weights.push_back(w[k] * wz);
    }
}

// A sphere of radius R about the origin: closed in u, poles at both ends of v.
inline Surface sphere(double R) {
    Surface s;
    s.u_order = s.v_order = 3;
    s.u_knots = kCircleKnots;
    s.v_knots = {0, 0, 0, .5, .5, 1, 1, 1};
    const double s2 = std::sqrt(0.5);
    const double vr[5] = {0, 1, 1, 1, 0}, vz[5] = {-1, -1, 0, 1, 1}, vw[5] = {1, s2, 1, s2, 1};
    for (int j = 0; j < 5; ++j) circle_row(R * vr[j], R * vz[j], vw[j], s);
    s.closed_u = s.has_pole = true;
    return s;
}

inline double triangle_area(const TessTriangle& t) {
    const double *p = t.vertex[0].position, *q = t.vertex[1].position, *r = t.vertex[2].position;
    const double a[3] = {q[0] - p[0], q[1] - p[1], q[2] - p[2]};
    const double b[3] = {r[0] - p[0], r[1] - p[1], r[2] - p[2]};
    return 0.5 * std::hypot(a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                            a[0] * b[1] - a[1] * b[0]);
}

// Distance from p to the segment ab in space.
inline double point_segment(const std::array<double, 3>& p, const double* a, const double* b) {
    double d[3], e[3], t = 0, dd = 0;
    for (int c = 0; c < 3; ++c) {
        d[c] = b[c] - a[c];
        e[c] = p[c] - a[c];
        t += d[c] * e[c];
        dd += d[c] * d[c];
    }
    t = dd > 0 ? std::clamp(t / dd, 0.0, 1.0) : 0.0;
    return std::hypot(e[0] - t * d[0], e[1] - t * d[1], e[2] - t * d[2]);
}

// Case counts of the generated tests, raised through RUVANE_TESS_CASES.
inline int case_count(int fallback) {
    if (const char* e = std::getenv("RUVANE_TESS_CASES")) return std::max(1, std::atoi(e));
    return fallback;
}

// What one call of the driver produced, as its sink and observer saw it.
struct Outcome {
    bool result = false;
    int32_t status = -1;
    std::vector<TessTriangle> tris;       // delivered to the sink
    std::vector<mesh_check::Poly> loops;  // trim polygons in the metric plane
    mesh_check::Mesh raw;                 // every triangle of the vertex rings
    int tessellations = 0;                // successful N_TESSUR runs
};

class Recorder : public ruvane::TessObserver {
public:
    explicit Recorder(Outcome& r) : r_(r) {}
    void on_loop(int loop, bool, const double* u, const double* v, int count) override {
        if (loop == 0) r_.loops.clear();
        r_.loops.emplace_back();
        for (int i = 0; i < count; ++i) r_.loops.back().push_back({u[i], v[i]});
    }
    // The extraction rule, written again here: (j, d, e) from consecutive
    // ring entries, kept only from the smallest vertex.
    void on_mesh(const double* u, const double* v, int last, int* const* rings,
                 const int* counts) override {
        ++r_.tessellations;
        r_.raw = {};
        for (int k = 0; k <= last; ++k) r_.raw.vertex.push_back({u[k], v[k]});
        for (int j = 0; j <= last; ++j) {
            if (rings[j][0] == -1) continue;
            for (int k = 0; k < counts[j]; ++k) {
                const int d = rings[j][k], e = rings[j][k + 1];
                if (j < d && j < e) r_.raw.tri.push_back({j, d, e});
            }
        }
    }

private:
    Outcome& r_;
};

inline void collect(const TessTriangle* t, void* user) {
    static_cast<Outcome*>(user)->tris.push_back(*t);
}

// The driver as the export runs it (A surface, B trim, C parameter
// tolerance) on the counting host, which it must leave with no block live.
inline Outcome tessellate(const Surface& s, double A = 0.01, double B = 0.01, double C = 1e-6) {
    sx::testing::install_counting_host();
    sx::testing::arm(0);
    Outcome r;
    Recorder watch(r);
    ruvane::TessContext ctx;
    ctx.tol = {B, A, C};
    ctx.observer = &watch;
    Desc d(s);
    r.result = ruvane::tessellate_surface(ctx, collect, d.get(), &r.status, &r);
    EXPECT_EQ(sx::testing::counters().live, 0) << s.name << ": host blocks left over";
    return r;
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
