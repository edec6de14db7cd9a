// Trimmed surfaces built from plain vectors, the driver run with its observer
// hooks recorded, and an evaluator of NURBS surfaces written for the tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "include/ruvane.h"
#include "nurbs/tessellation/mesh_check.h"
#include "nurbs/tessellation/tessellation.h"
#include "nurbs/testing/ruvane_test_host.h"

namespace tess_fixtures {

constexpr double kPi = 3.14159265358979323846;

using V3 = std::array<double, 3>;
inline V3 v3(const double* p) { return {p[0], p[1], p[2]}; }
inline V3 operator-(const V3& a, const V3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline V3 operator+(const V3& a, const V3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
inline V3 operator*(double k, const V3& a) { return {k * a[0], k * a[1], k * a[2]}; }
inline double dot(const V3& a, const V3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline double norm(const V3& a) { return std::sqrt(dot(a, a)); }
inline V3 cross(const V3& a, const V3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
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
    bool outer_clockwise = false;
    std::string name;

    int nu() const { return static_cast<int>(u_knots.size()) - u_order; }
    int nv() const { return static_cast<int>(v_knots.size()) - v_order; }
};

template <class T>
int32_t count_of(const std::vector<T>& v) {
    return static_cast<int32_t>(v.size());
}

// The C record of a curve, pointing into it.
inline CurveDesc curve_desc(const Curve& c) {
    return {c.order, count_of(c.weights), c.points.data(), c.weights.data(), 0, c.knots.data()};
}

// The C records pointing into a Surface; keeps them alive together.
class Desc {
public:
    explicit Desc(const Surface& s) {
        for (const Curve& c : s.outer) outer_.push_back(curve_desc(c));
        for (const LoopCurves& h : s.holes) {
            holes_.emplace_back();
            for (const Curve& c : h) holes_.back().push_back(curve_desc(c));
            loops_.push_back({count_of(h), nullptr});
        }
        for (size_t k = 0; k < holes_.size(); ++k) loops_[k].curves = holes_[k].data();
        d_ = {s.u_order,
              s.v_order,
              count_of(s.u_knots),
              count_of(s.v_knots),
              s.u_knots.data(),
              s.v_knots.data(),
              0,
              s.points.data(),
              s.weights.data(),
              count_of(outer_),
              outer_.data(),
              count_of(loops_),
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
    Curve c{2, {}, std::vector<double>(p.size(), 1.0), {0}};
    for (size_t i = 0; i < p.size(); ++i) {
        c.points.insert(c.points.end(), {p[i].first, p[i].second, 0});
        c.knots.push_back(static_cast<double>(i) / (p.size() - 1));
    }
    c.knots.push_back(1);
    return c;
}

// Knots of a full circle made of four rational quadratic arcs, and its nine
// control points (x, y, weight) about the origin.
inline const std::vector<double> kCircleKnots = {0, 0, 0, .25, .25, .5, .5, .75, .75, 1, 1, 1};
constexpr double kS = 0.70710678118654752440;  // sqrt(1/2)
constexpr double kCircle[9][3] = {{1, 0, 1},    {1, 1, kS}, {0, 1, 1},   {-1, 1, kS}, {-1, 0, 1},
                                  {-1, -1, kS}, {0, -1, 1}, {1, -1, kS}, {1, 0, 1}};

// Full circle as one rational quadratic curve with double knots (four
// corners in the knot sense), or as four separate arcs.
inline LoopCurves circle(double cu, double cv, double ru, double rv, bool ccw, bool as_arcs) {
    Curve all{3, {}, {}, kCircleKnots};
    for (int k = 0; k < 9; ++k) {
        const double* c = kCircle[ccw ? k : 8 - k];
        all.points.insert(all.points.end(), {cu + ru * c[0], cv + rv * c[1], 0});
        all.weights.push_back(c[2]);
    }
    if (!as_arcs) return {all};
    LoopCurves arcs;
    for (int a = 0; a < 4; ++a) {
        const auto p = all.points.begin() + 6 * a;
        const auto w = all.weights.begin() + 2 * a;
        arcs.push_back(Curve{3, {p, p + 9}, {w, w + 3}, {0, 0, 0, 1, 1, 1}});
    }
    return arcs;
}

inline std::vector<double> clamped_knots(int count, int order) {
    std::vector<double> k(order, 0.0);
    for (int i = 1; i <= count - order; ++i)
        k.push_back(static_cast<double>(i) / (count - order + 1));
    k.insert(k.end(), order, 1.0);
    return k;
}

// A closed cubic B-spline through a star of control points (clamped, its
// first and last control points equal).
inline Curve star_spline(double cu, double cv, const std::vector<double>& radius, bool ccw) {
    const int n = static_cast<int>(radius.size());
    Curve c{4, {}, std::vector<double>(n + 1, 1.0), clamped_knots(n + 1, 4)};
    for (int k = 0; k <= n; ++k) {
        const double a = 2 * kPi * (ccw ? k % n : n - k % n) / n;
        c.points.insert(c.points.end(),
                        {cu + radius[k % n] * std::cos(a), cv + radius[k % n] * std::sin(a), 0});
    }
    return c;
}

// Four lines; clockwise ones start at (u1, v0).
inline LoopCurves rectangle(double u0, double v0, double u1, double v1, bool ccw) {
    if (!ccw) std::swap(u0, u1);
    return {line(u0, v0, u1, v0), line(u1, v0, u1, v1), line(u1, v1, u0, v1), line(u0, v1, u0, v0)};
}

// --- Surfaces ------------------------------------------------------------------

// A row of nine rational control points on a circle of radius r at height z,
// every weight times wz.
inline void circle_row(double r, double z, double wz, Surface& s) {
    for (const auto& c : kCircle) {
        s.points.insert(s.points.end(), {r * c[0], r * c[1], z});
        s.weights.push_back(c[2] * wz);
    }
}

// A half cylinder of radius r and length 6 (u around, v along), no loops yet.
inline Surface half_cylinder(double r) {
    Surface s;
    s.u_order = 3;
    s.v_order = 2;
    s.u_knots = {0, 0, 0, 0.5, 0.5, 1, 1, 1};
    s.v_knots = {0, 0, 1, 1};
    for (double z : {0.0, 6.0})
        for (int k = 0; k < 5; ++k) {
            s.points.insert(s.points.end(), {r * kCircle[k][0], r * kCircle[k][1], z});
            s.weights.push_back(kCircle[k][2]);
        }
    return s;
}

// A sphere of radius R about the origin: closed in u, poles at both ends of v.
inline Surface sphere(double R) {
    Surface s;
    s.u_order = s.v_order = 3;
    s.u_knots = kCircleKnots;
    s.v_knots = {0, 0, 0, .5, .5, 1, 1, 1};
    for (int k : {6, 7, 8, 1, 2})
        circle_row(R * kCircle[k][0], R * kCircle[k][1], kCircle[k][2], s);
    s.closed_u = true;
    s.name = "sphere with poles";
    return s;
}

inline double triangle_area(const TessTriangle& t) {
    const V3 p = v3(t.vertex[0].position);
    return 0.5 * norm(cross(v3(t.vertex[1].position) - p, v3(t.vertex[2].position) - p));
}

// The triangles' area carried onto the surface: each cut into 16, their
// corners moved to the nearest point of it, so that only what the mesh
// leaves uncovered (an open edge's chords) counts, not its sag.
template <class Nearest>
inline double carried_area(const std::vector<TessTriangle>& tris, Nearest nearest) {
    double covered = 0;
    for (const TessTriangle& t : tris) {
        V3 p[5][5];
        for (int i = 0; i <= 4; ++i)
            for (int j = 0; i + j <= 4; ++j)
                p[i][j] = nearest(((4.0 - i - j) / 4) * v3(t.vertex[0].position) +
                                  (i / 4.0) * v3(t.vertex[1].position) +
                                  (j / 4.0) * v3(t.vertex[2].position));
        for (int i = 0; i < 4; ++i)
            for (int j = 0; i + j < 4; ++j) {
                covered += 0.5 * norm(cross(p[i + 1][j] - p[i][j], p[i][j + 1] - p[i][j]));
                if (i + j < 3)
                    covered +=
                        0.5 * norm(cross(p[i][j + 1] - p[i + 1][j], p[i + 1][j + 1] - p[i + 1][j]));
            }
    }
    return covered;
}

// Distance from p to the segment ab in space.
inline double point_segment(const V3& p, const V3& a, const V3& b) {
    const V3 d = b - a;
    const double t = dot(d, d) > 0 ? std::clamp(dot(p - a, d) / dot(d, d), 0.0, 1.0) : 0.0;
    return norm(p - a - t * d);
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
        for (int j = 0; j <= last; ++j)
            for (int k = 0; rings[j][0] != -1 && k < counts[j]; ++k) {
                const int d = rings[j][k], e = rings[j][k + 1];
                if (j < d && j < e) r_.raw.tri.push_back({j, d, e});
            }
    }

private:
    Outcome& r_;
};

inline void collect(const TessTriangle* t, void* user) {
    static_cast<Outcome*>(user)->tris.push_back(*t);
}

// The driver as the export runs it (A surface, B trim, C parameter
// tolerance) on the counting host, which it must leave with no block live;
// without `rows`, a face that turns round an axis takes the cell lattice.
inline Outcome tessellate(const Surface& s, double A = 0.01, double B = 0.01, double C = 1e-6,
                          bool rows = true) {
    sx::testing::install_counting_host();
    sx::testing::arm(0);
    Outcome r;
    Recorder watch(r);
    ruvane::TessContext ctx;
    ctx.tol = {B, A, C};
    ctx.observer = &watch;
    ctx.rows = rows;
    Desc d(s);
    r.result = ruvane::tessellate_surface(ctx, collect, d.get(), &r.status, &r);
    EXPECT_EQ(sx::testing::counters().live, 0) << s.name << ": host blocks left over";
    return r;
}

using Points = std::vector<double>;  // (u, v) pairs of a fixed loop

// The same loop run the other way.
inline Points reversed(Points p) {
    for (size_t i = 0, j = p.size() - 2; i < j; i += 2, j -= 2) {
        std::swap(p[i], p[j]);
        std::swap(p[i + 1], p[j + 1]);
    }
    return p;
}

// The rectangle's boundary, n points a side, counter-clockwise from (u0, v0).
inline Points box(double u0, double v0, double u1, double v1, int n) {
    Points p;
    for (int side = 0; side < 4; ++side)
        for (int k = 0; k < n; ++k) {
            const double f = static_cast<double>(k) / n;
            const double u[] = {u0 + f * (u1 - u0), u1, u1 - f * (u1 - u0), u0};
            const double v[] = {v0, v0 + f * (v1 - v0), v1, v1 - f * (v1 - v0)};
            p.insert(p.end(), {u[side], v[side]});
        }
    return p;
}

// n points round (cu, cv), counter-clockwise unless `ccw` is false.
inline Points ring(double cu, double cv, double r, int n, bool ccw = true) {
    Points p;
    for (int k = 0; k < n; ++k) {
        const double a = (ccw ? 2 : -2) * kPi * k / n;
        p.insert(p.end(), {cu + r * std::cos(a), cv + r * std::sin(a)});
    }
    return p;
}

// A surface meshed through `ctx` (its tolerances and paths as the test
// set them) with every loop given as a fixed polyline, on the counting host,
// which it must leave with no block live; `left` the vertices left on them.
struct FixedMeshed {
    Outcome r;
    int32_t left = -1;
};

inline FixedMeshed mesh_fixed(Surface s, const std::vector<Points>& loops,
                              ruvane::TessContext ctx) {
    s.holes.resize(loops.size() - 1);
    sx::testing::install_counting_host();
    sx::testing::arm(0);
    FixedMeshed f;
    Desc d(s);
    std::vector<FixedLoopDesc> descs;
    for (const Points& p : loops) descs.push_back({static_cast<int32_t>(p.size() / 2), p.data()});
    f.r.result =
        ruvane::tessellate_surface(ctx, collect, d.get(), &f.r.status, &f.r, descs.data(), &f.left);
    EXPECT_EQ(sx::testing::counters().live, 0) << "host blocks left over";
    return f;
}

// The fixed-loop export on the counting host with its `fail_at`-th
// allocation refused (0: none); it must leave no block live either way.
inline Outcome fixed_refusing(const TrimmedSurfaceDesc* d, const FixedLoopDesc* loops,
                              long fail_at) {
    Outcome seen;
    int32_t left = -1;
    sx::testing::arm(fail_at);
    seen.result =
        ruvane_tesselate_fixed(collect, d, loops, &seen.status, 0.01, 0.01, 1e-6, &seen, &left);
    EXPECT_EQ(sx::testing::counters().live, 0) << "allocation " << fail_at;
    return seen;
}

// Two runs that must agree to the bit: the same triangles, corner by
// corner, at the same points with the same fixed-point marks.
inline void expect_same_mesh(const Outcome& a, const Outcome& b) {
    EXPECT_EQ(a.status, b.status);
    ASSERT_EQ(a.tris.size(), b.tris.size());
    for (size_t t = 0; t < a.tris.size(); ++t)
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(v3(a.tris[t].vertex[k].position), v3(b.tris[t].vertex[k].position));
            EXPECT_EQ(a.tris[t].vertex[k].reserved, b.tris[t].vertex[k].reserved);
        }
}

// The fixed-loop export with each of its allocations refused in turn (the
// counting host installed): the whole mesh, `expected` triangles, when
// nothing is refused, and a run that still delivers delivers all of it.
inline void every_refusal_clean(const TrimmedSurfaceDesc* d, const FixedLoopDesc* loops,
                                size_t expected) {
    const Outcome full = fixed_refusing(d, loops, 0);
    ASSERT_TRUE(full.result);
    ASSERT_EQ(full.tris.size(), expected);
    const long total = sx::testing::counters().calls;
    for (long k = 1; k <= total; ++k) {
        const Outcome seen = fixed_refusing(d, loops, k);
        if (!seen.tris.empty()) {
            EXPECT_EQ(seen.tris.size(), full.tris.size()) << "allocation " << k;
        }
    }
    sx::testing::arm(0);
}

// Independent evaluation of the surface at (u, v) in its own parameters.
struct Eval {
    const Surface& s;

    // The p + 1 basis functions that do not vanish at t; returns their span.
    static int basis(const std::vector<double>& U, int p, int n, double t, double* N) {
        int k = p;
        while (k < n && t >= U[k + 1]) ++k;
        double left[32], right[32];
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
        return k;
    }
    V3 at(double u, double v) const {
        const int p = s.u_order - 1, q = s.v_order - 1;
        double Nu[32], Nv[32], sum[4] = {0, 0, 0, 0};
        const int ku = basis(s.u_knots, p, s.nu() - 1, u, Nu);
        const int kv = basis(s.v_knots, q, s.nv() - 1, v, Nv);
        for (int a = 0; a <= p; ++a)
            for (int b = 0; b <= q; ++b) {
                const int k = (kv - q + b) * s.nu() + ku - p + a;
                const double f = Nu[a] * Nv[b] * s.weights[k];
                for (int c = 0; c < 3; ++c) sum[c] += f * s.points[3 * k + c];
                sum[3] += f;
            }
        return {sum[0] / sum[3], sum[1] / sum[3], sum[2] / sum[3]};
    }
    // Su x Sv by central differences inside the domain.
    V3 normal(double u, double v) const {
        const double u0 = s.u_knots.front(), u1 = s.u_knots.back();
        const double v0 = s.v_knots.front(), v1 = s.v_knots.back();
        const double hu = 1e-6 * (u1 - u0), hv = 1e-6 * (v1 - v0);
        return cross(at(std::min(u1, u + hu), v) - at(std::max(u0, u - hu), v),
                     at(u, std::min(v1, v + hv)) - at(u, std::max(v0, v - hv)));
    }
    // Mean control-polygon lengths along u and v: the metric-plane scales.
    std::pair<double, double> lengths() const {
        const int nu = s.nu(), nv = s.nv();
        auto pt = [&](int i, int j) { return v3(&s.points[3 * (j * nu + i)]); };
        double lu = 0, lv = 0;
        for (int j = 0; j < nv; ++j)
            for (int i = 0; i < nu; ++i) {
                if (i > 0) lu += norm(pt(i, j) - pt(i - 1, j)) / nv;
                if (j > 0) lv += norm(pt(i, j) - pt(i, j - 1)) / nu;
            }
        return {lu, lv};
    }
};

}  // namespace tess_fixtures
