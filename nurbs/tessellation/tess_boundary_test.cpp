// Curved faces with every loop fixed: meshed from their boundary points alone
// when each triangle stays near the surface (0.8 A, or as far as a fixed
// chord among its edges strays); otherwise meshed by the general path as if
// the short path did not exist.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "nurbs/tessellation/tess_fixtures.h"
#include "nurbs/tessellation/tess_planar.h"

namespace {

using namespace tess_fixtures;

using Meshed = FixedMeshed;

Meshed run(Surface s, const std::vector<Points>& loops, bool boundary, double A,
           bool simplify = false) {
    ruvane::TessContext ctx;
    ctx.tol = {A, A, 1e-6};
    ctx.boundary = boundary;
    ctx.simplify = simplify;
    return mesh_fixed(std::move(s), loops, ctx);
}

// A strip of a surface between v0 and v1, n chords along the arc at v0 and
// m (n unless given) along the one at v1, the sides at u = 0 and 1 one
// chord each.
Points strip(double v0, double v1, int n, int m = 0) {
    if (m == 0) m = n;
    Points p;
    for (int k = 0; k <= n; ++k) p.insert(p.end(), {static_cast<double>(k) / n, v0});
    for (int k = 0; k <= m; ++k) p.insert(p.end(), {1.0 - static_cast<double>(k) / m, v1});
    return p;
}

// A biquadratic dome over [0, 4]^2 of height h at its middle control point.
Surface dome(double h) {
    Surface s;
    s.u_order = s.v_order = 3;
    s.u_knots = s.v_knots = {0, 0, 0, 1, 1, 1};
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            s.points.insert(s.points.end(), {2.0 * i, 2.0 * j, i == 1 && j == 1 ? h : 0.0});
    s.weights.assign(9, 1.0);
    s.outer = rectangle(0, 0, 1, 1, true);
    return s;
}

// Every loop point in its own parameters, by its number.
std::vector<std::pair<double, double>> numbered(const std::vector<Points>& loops) {
    std::vector<std::pair<double, double>> at;
    for (const Points& l : loops)
        for (size_t i = 0; i < l.size(); i += 2) at.push_back({l[i], l[i + 1]});
    return at;
}

// How far the middle of the chord from point a to point b strays from the
// surface, evaluated apart from the tessellator.
double stray(const Eval& ev, std::pair<double, double> a, std::pair<double, double> b) {
    const V3 mid = 0.5 * (ev.at(a.first, a.second) + ev.at(b.first, b.second));
    return norm(ev.at(0.5 * (a.first + b.first), 0.5 * (a.second + b.second)) - mid);
}

// Checks a short-path mesh: every vertex a fixed point carrying its number
// and its place, the normal the surface's, n + 2h - 2 triangles turned as
// the metric plane turns, and the seven samples of each triangle within the
// larger of 0.8 A and the strays of its fixed chords. Returns the largest
// stray over its allowance.
double check_mesh(const Surface& s, const std::vector<Points>& loops, const Meshed& m, double A) {
    const Eval ev{s};
    const auto at = numbered(loops);
    const int n = static_cast<int>(at.size()), h = static_cast<int>(loops.size()) - 1;
    EXPECT_TRUE(m.r.result);
    EXPECT_EQ(m.r.status, 0);
    EXPECT_EQ(m.left, 0);
    EXPECT_EQ(static_cast<int>(m.r.tris.size()), n + 2 * h - 2);
    // Consecutive points of one loop: its fixed chords.
    std::vector<int> next(static_cast<size_t>(n));
    for (int k = 0, first = 0; k <= h; first += static_cast<int>(loops[k].size() / 2), ++k)
        for (int i = 0, c = static_cast<int>(loops[k].size() / 2); i < c; ++i)
            next[static_cast<size_t>(first + i)] = first + (i + 1) % c;
    auto chord = [&](int a, int b) {
        return next[static_cast<size_t>(a)] == b || next[static_cast<size_t>(b)] == a
                   ? stray(ev, at[static_cast<size_t>(a)], at[static_cast<size_t>(b)])
                   : 0.0;
    };
    double worst = 0.0;
    for (const TessTriangle& t : m.r.tris) {
        int id[3];
        for (int c = 0; c < 3; ++c) {
            const TessVertex& q = t.vertex[c];
            id[c] = static_cast<int>(q.reserved) - 1;
            EXPECT_TRUE(id[c] >= 0 && id[c] < n) << q.reserved;
            if (id[c] < 0 || id[c] >= n) return HUGE_VAL;
            const auto [u, v] = at[static_cast<size_t>(id[c])];
            EXPECT_LT(norm(v3(q.position) - ev.at(u, v)), 1e-9);
            const V3 want = ev.normal(u, v);
            EXPECT_GT(dot(v3(q.normal), want), 0.99999 * norm(want));
        }
        const TessVertex *a = &t.vertex[0], *b = &t.vertex[1], *e = &t.vertex[2];
        EXPECT_GT((b->u - a->u) * (e->v - a->v) - (b->v - a->v) * (e->u - a->u), 0.0);
        const double allow =
            std::max({0.8 * A, chord(id[0], id[1]), chord(id[1], id[2]), chord(id[2], id[0])});
        static const double kW[7][3] = {{0.5, 0.5, 0},
                                        {0, 0.5, 0.5},
                                        {0.5, 0, 0.5},
                                        {1.0 / 3, 1.0 / 3, 1.0 / 3},
                                        {5. / 12, 5. / 12, 1. / 6},
                                        {1. / 6, 5. / 12, 5. / 12},
                                        {5. / 12, 1. / 6, 5. / 12}};
        for (const auto& w : kW) {
            double u = 0, v = 0;
            V3 p{0, 0, 0};
            for (int c = 0; c < 3; ++c) {
                u += w[c] * at[static_cast<size_t>(id[c])].first;
                v += w[c] * at[static_cast<size_t>(id[c])].second;
                p = p + w[c] * v3(t.vertex[c].position);
            }
            worst = std::max(worst, norm(ev.at(u, v) - p) / allow);
        }
    }
    EXPECT_LE(worst, 1.0 + 1e-6);
    return worst;
}

// The short path's own answer on the surface and loops (their points
// numbered in order), apart from the driver.
ruvane::tess::Planar short_path(const Surface& f, const std::vector<Points>& loops, double A) {
    using namespace ruvane;
    const int nu = f.nu(), nv = f.nv();
    std::vector<Point4> pts(static_cast<size_t>(nu * nv));
    std::vector<Point4*> rows(static_cast<size_t>(nu));
    for (int i = 0; i < nu; ++i) {
        rows[static_cast<size_t>(i)] = &pts[static_cast<size_t>(i * nv)];
        for (int j = 0; j < nv; ++j) {
            const size_t k = static_cast<size_t>(j * nu + i);
            const double w = f.weights[k];
            rows[static_cast<size_t>(i)][j] = {w * f.points[3 * k], w * f.points[3 * k + 1],
                                               w * f.points[3 * k + 2], w};
        }
    }
    std::vector<double> uk = f.u_knots, vk = f.v_knots;
    KnotVector ku{static_cast<int>(uk.size()) - 1, uk.data(), static_cast<int>(uk.size()) - 1};
    KnotVector kv{static_cast<int>(vk.size()) - 1, vk.data(), static_cast<int>(vk.size()) - 1};
    ControlNet net{nu - 1, nv - 1, rows.data(), nu - 1, nv - 1};
    const ruvane::Surface sur{&net, static_cast<std::int16_t>(f.u_order - 1),
                              static_cast<std::int16_t>(f.v_order - 1), &ku, &kv};
    std::vector<std::vector<double>> u, v;
    std::vector<std::vector<int>> id;
    int next = 0;
    for (const Points& l : loops) {
        u.emplace_back(), v.emplace_back(), id.emplace_back();
        for (size_t i = 0; i < l.size(); i += 2) {
            u.back().push_back(l[i]);
            v.back().push_back(l[i + 1]);
            id.back().push_back(next++);
        }
    }
    std::vector<double*> pu, pv;
    std::vector<int*> pid;
    std::vector<int> count;
    for (size_t k = 0; k < loops.size(); ++k) {
        pu.push_back(u[k].data()), pv.push_back(v[k].data()), pid.push_back(id[k].data());
        count.push_back(static_cast<int>(u[k].size()));
    }
    FixedLoops fixed;
    fixed.u = pu.data(), fixed.v = pv.data(), fixed.id = pid.data(), fixed.count = count.data();
    fixed.loops = static_cast<int>(loops.size());
    sx::testing::install_counting_host();
    tess::Scratch s;
    tess::PlanarMesh m;
    return tess::mesh_boundary(s, sur, fixed, A, 1e-6, m);
}

bool all_fixed(const Meshed& m) {
    for (const TessTriangle& t : m.r.tris)
        for (const TessVertex& q : t.vertex)
            if (!(q.reserved >= 1.0)) return false;
    return !m.r.tris.empty();
}

TEST(TessBoundary, CurvedFacesThatNeedNoInnerVertexAreMeshedFromTheirLoops) {
    const struct {
        const char* name;
        Surface s;
        std::vector<Points> loops;
    } cases[] = {
        {"cylinder strip between two fixed arcs", half_cylinder(1.0), {strip(0.2, 0.5, 24)}},
        // Cut by their shape alone, the ears of a long strip ran ahead along
        // one arc: their cuts joined points far apart around.
        {"long cylinder strip, arcs of 24 and 17 chords",
         half_cylinder(1.0),
         {strip(0, 1, 24, 17)}},
        {"gentle dome with two holes",
         dome(0.02),
         {box(0, 0, 1, 1, 6), ring(0.3, 0.4, 0.12, 12, false), ring(0.7, 0.6, 0.15, 9, false)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const double A = 0.01;
        EXPECT_EQ(short_path(c.s, c.loops, A), ruvane::tess::Planar::kMeshed);
        const Meshed m = run(c.s, c.loops, true, A);
        ASSERT_TRUE(all_fixed(m));
        check_mesh(c.s, c.loops, m, A);
    }
}

// Arcs whose chords stray up to 0.9 A: a triangle across a cylinder strip
// has an edge as long around as a chord, which strays as far, beyond 0.8 A;
// the chord it stands on lets it. A band of a ball between two such arcs
// strays further across than its chords and is declined.
TEST(TessBoundary, AFixedChordsOwnStrayIsAllowedToItsTriangleAndNoMore) {
    const struct {
        const char* name;
        Surface s;
        Points loop;
        bool taken;
    } cases[] = {
        {"cylinder strip", half_cylinder(1.0), strip(0.2, 0.4, 8), true},
        {"band of a ball", sphere(1.0), strip(0.4, 0.6, 16), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Eval ev{c.s};
        const auto at = numbered({c.loop});
        const size_t arc = at.size() / 2;
        double sag = 0.0;
        for (size_t k = 0; k + 1 < arc; ++k) sag = std::max(sag, stray(ev, at[k], at[k + 1]));
        const double A = sag / 0.9;
        EXPECT_EQ(short_path(c.s, {c.loop}, A) == ruvane::tess::Planar::kMeshed, c.taken);
        if (c.taken) {
            const Meshed m = run(c.s, {c.loop}, true, A);
            ASSERT_TRUE(all_fixed(m));
            EXPECT_GT(check_mesh(c.s, {c.loop}, m, A), 0.8 / 0.9 * 0.99);
        }
    }
}

// A cap of a ball needs inner vertices, a pipe narrower than the tolerance
// triangles that face its way, and a strip may have more points than the
// short path takes: the mesh is the general path's, to the last bit.
TEST(TessBoundary, WhatTheBoundaryCannotTakeIsMeshedAsByTheGeneralPath) {
    const struct {
        const char* name;
        Surface s;
        std::vector<Points> loops;
        double A;
    } cases[] = {
        {"ball cap", sphere(1.0), {box(0.05, 0.3, 0.45, 0.7, 4)}, 0.01},
        // Within the tolerance everywhere, but its triangles stand across
        // the surface.
        {"half pipe narrower than the tolerance", half_cylinder(0.004), {strip(0, 1, 1)}, 0.01},
        {"too many points",
         half_cylinder(1.0),
         {strip(0.2, 0.5, ruvane::tess::kPlanarMaxPoints / 2)},
         0.01},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(short_path(c.s, c.loops, c.A), ruvane::tess::Planar::kDeclined);
        const Meshed b = run(c.s, c.loops, true, c.A, true),
                     g = run(c.s, c.loops, false, c.A, true);
        ASSERT_TRUE(b.r.result && g.r.result);
        EXPECT_EQ(b.left, g.left);
        expect_same_mesh(b.r, g.r);
    }
}

}  // namespace

namespace {

// Storage refused at any allocation of a curved face's call: no leak, and
// a mesh either whole or absent.
TEST(TessBoundary, StorageFailureAtAnyAllocationIsClean) {
    Surface s = half_cylinder(1.0);
    s.outer = rectangle(0, 0, 1, 1, true);
    const Points outer = strip(0.2, 0.5, 12);
    ASSERT_EQ(short_path(s, {outer}, 0.01), ruvane::tess::Planar::kMeshed);
    const FixedLoopDesc loops[] = {{static_cast<int32_t>(outer.size() / 2), outer.data()}};
    sx::testing::install_counting_host();
    Desc d(s);
    every_refusal_clean(d.get(), loops, 24u);
}

}  // namespace
