// Planes with fixed loops: meshed from their boundary alone, as flat,
// unfolded triangles turned as the general path turns them; anything the
// plane triangulation cannot do cleanly is meshed by the general path as if
// it did not exist.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>

#include "nurbs/tessellation/tess_fixtures.h"
#include "nurbs/tessellation/tess_planar.h"

namespace {

using namespace tess_fixtures;

// A surface of order 2 or 3 over [0, 1]^2 from its net (u fastest).
Surface net(int order, const std::vector<V3>& p, const std::vector<double>& w = {}) {
    Surface s;
    s.u_order = s.v_order = order;
    s.u_knots = s.v_knots =
        order == 2 ? std::vector<double>{0, 0, 1, 1} : std::vector<double>{0, 0, 0, 1, 1, 1};
    for (const V3& q : p) s.points.insert(s.points.end(), q.begin(), q.end());
    s.weights = w.empty() ? std::vector<double>(p.size(), 1.0) : w;
    s.outer = rectangle(0, 0, 1, 1, true);
    return s;
}

// A point of the plane through the origin spanned by (1, 0, 0.5) and (0, 0.6, 0.8).
V3 tilted(double x, double y) { return {x, 0.6 * y, 0.5 * x + 0.8 * y}; }

Surface affine() { return net(2, {tilted(0, 0), tilted(4, 0), tilted(0, 3), tilted(4, 3)}); }
Surface trapezoid() { return net(2, {tilted(0, 0), tilted(4, 0), tilted(1, 3), tilted(2.5, 3)}); }
Surface collapsed() { return net(2, {tilted(0, 0), tilted(4, 0), tilted(2, 3), tilted(2, 3)}); }
Surface rational() {
    std::vector<V3> p;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) p.push_back(tilted(2.0 * i + 0.3 * j, 1.5 * j));
    return net(3, p, {1, 2, 1, 2, 5, 2, 1, 2, 1});
}

using Meshed = FixedMeshed;

Meshed run(Surface s, const std::vector<Points>& loops, bool planar, double A = 0.01) {
    ruvane::TessContext ctx;
    ctx.tol = {A, A, 1e-6};
    ctx.planar = planar;
    return mesh_fixed(std::move(s), loops, ctx);
}

// Area of a loop of surface points (Newell's vector, evaluated independently).
double loop_area(const Eval& ev, const Points& p) {
    V3 sum{0, 0, 0};
    for (size_t i = 0, j = p.size() - 2; i < p.size(); j = i, i += 2)
        sum = sum + cross(ev.at(p[j], p[j + 1]), ev.at(p[i], p[i + 1]));
    return 0.5 * norm(sum);
}

// The boundary points of loops on the affine plane (outer first) and the
// area they enclose there.
std::pair<int, double> region(const std::vector<Points>& loops) {
    const Eval ev{affine()};
    int total = 0;
    double area = 0;
    for (size_t k = 0; k < loops.size(); ++k) {
        total += static_cast<int>(loops[k].size() / 2);
        area += (k == 0 ? 1 : -1) * loop_area(ev, loops[k]);
    }
    return {total, area};
}

double covered_area(const std::vector<TessTriangle>& tris) {
    double covered = 0;
    for (const TessTriangle& t : tris)
        covered += 0.5 * norm(cross(v3(t.vertex[1].position) - v3(t.vertex[0].position),
                                    v3(t.vertex[2].position) - v3(t.vertex[0].position)));
    return covered;
}

TEST(TessPlanar, PlaneMeshedFromItsBoundaryAloneTurnedAsTheGeneralPath) {
    struct Case {
        const char* name;
        Surface s;
        std::vector<Points> loops;  // outer, then holes
    };
    const Case cases[] = {
        {"affine plane, two holes",
         affine(),
         {box(0.05, 0.05, 0.95, 0.95, 7), ring(0.3, 0.3, 0.15, 16, false),
          ring(0.7, 0.6, 0.2, 24, false)}},
        {"outer given clockwise",
         affine(),
         {reversed(box(0.1, 0.2, 0.9, 0.8, 5)), ring(0.5, 0.5, 0.1, 9)}},
        {"trapezoidal bilinear net",
         trapezoid(),
         {box(0, 0, 1, 1, 6), ring(0.4, 0.5, 0.2, 12, false), box(0.7, 0.3, 0.9, 0.8, 2)}},
        {"rational net", rational(), {ring(0.5, 0.5, 0.45, 40), ring(0.5, 0.5, 0.3, 30, false)}},
        {"net with a collapsed side", collapsed(), {box(0.1, 0.1, 0.9, 0.7, 4)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Meshed p = run(c.s, c.loops, true), g = run(c.s, c.loops, false);
        ASSERT_TRUE(p.r.result && g.r.result);
        ASSERT_EQ(p.r.status, 0);
        ASSERT_FALSE(g.r.tris.empty());
        int n = 0;
        for (const Points& l : c.loops) n += static_cast<int>(l.size() / 2);
        const int h = static_cast<int>(c.loops.size()) - 1;
        EXPECT_EQ(static_cast<int>(p.r.tris.size()), n + 2 * h - 2);
        EXPECT_EQ(p.left, 0);

        const Eval ev{c.s};
        double area = loop_area(ev, c.loops[0]);
        for (int k = 1; k <= h; ++k) area -= loop_area(ev, c.loops[static_cast<size_t>(k)]);
        const TessTriangle& ref = g.r.tris[0];
        const V3 n_ref = v3(ref.vertex[0].normal), f_ref = v3(ref.face_normal);
        double covered = 0;
        std::set<int> ids;
        for (const TessTriangle& t : p.r.tris) {
            const TessVertex *a = &t.vertex[0], *b = &t.vertex[1], *e = &t.vertex[2];
            // Counter-clockwise in the metric plane, as every general-path triangle.
            EXPECT_GT((b->u - a->u) * (e->v - a->v) - (b->v - a->v) * (e->u - a->u), 0.0);
            const V3 x =
                cross(v3(b->position) - v3(a->position), v3(e->position) - v3(a->position));
            covered += 0.5 * norm(x);
            // Unfolded: every triangle's winding along the surface normal.
            EXPECT_GT(dot(x, n_ref), 0.999 * norm(x));
            EXPECT_GT(dot(v3(t.face_normal), f_ref), 0.999999);
            for (const TessVertex& q : t.vertex) {
                EXPECT_GT(dot(v3(q.normal), n_ref), 0.999999);
                // The vertex of fixed point k carries k + 1 and the point itself.
                const int id = static_cast<int>(q.reserved) - 1;
                ASSERT_TRUE(id >= 0 && id < n) << q.reserved;
                ids.insert(id);
                int loop = 0, at = id;
                while (at >= static_cast<int>(c.loops[static_cast<size_t>(loop)].size() / 2))
                    at -= static_cast<int>(c.loops[static_cast<size_t>(loop++)].size() / 2);
                const Points& l = c.loops[static_cast<size_t>(loop)];
                const V3 want =
                    ev.at(l[2 * static_cast<size_t>(at)], l[2 * static_cast<size_t>(at) + 1]);
                EXPECT_LT(norm(v3(q.position) - want), 1e-9);
            }
        }
        EXPECT_EQ(static_cast<int>(ids.size()), n);
        // Exactly the region: no overlap, no gap.
        EXPECT_NEAR(covered, area, 1e-9 * area);
        std::printf("[ %s: %zu triangles, general path %zu ]\n", c.name, p.r.tris.size(),
                    g.r.tris.size());
    }
}

// Jagged outlines of up to 300 points with up to four holes of 3 to 32: on an
// affine plane every one is taken, and its triangles cover exactly the region.
TEST(TessPlanar, JaggedOutlinesWithHolesAreCoveredExactly) {
    unsigned seed = 12345;
    auto rnd = [&] {
        seed = seed * 1103515245u + 12345u;
        return ((seed >> 8) & 0xffff) / 65536.0;
    };
    for (int it = 0; it < 60; ++it) {
        const int n = 8 + static_cast<int>(rnd() * 300), h = static_cast<int>(rnd() * 5);
        std::vector<Points> loops(1);
        for (int k = 0; k < n; ++k) {
            const double a = 2 * kPi * k / n, r = 0.3 + 0.15 * rnd();
            loops[0].insert(loops[0].end(), {0.5 + r * std::cos(a), 0.5 + r * std::sin(a)});
        }
        for (int k = 0; k < h; ++k)
            loops.push_back(ring(0.5 + 0.15 * std::cos(2 * kPi * k / h),
                                 0.5 + 0.15 * std::sin(2 * kPi * k / h), 0.04 + 0.02 * rnd(),
                                 3 + static_cast<int>(rnd() * 30), false));
        const Meshed p = run(affine(), loops, true);
        const auto [total, area] = region(loops);
        const double covered = covered_area(p.r.tris);
        EXPECT_EQ(static_cast<int>(p.r.tris.size()), total + 2 * h - 2) << "outline " << it;
        EXPECT_NEAR(covered, area, 1e-9 * area) << "outline " << it;
    }
}

// Combs of long thin teeth with many points along their sides, and needle
// holes between them: ears there are long slivers whose sides pass within a
// hair of far-off points, the cases where an ear looking only at the points
// near it could miss one inside it. Every outline is taken, and no triangle
// holds another boundary point or overlaps another.
TEST(TessPlanar, CombsAndNeedlesAreCutWithoutAPointInsideAnEar) {
    for (int teeth : {3, 8, 21}) {
        for (int per_side : {1, 6, 25}) {
            SCOPED_TRACE(testing::Message() << teeth << " teeth, " << per_side << " per side");
            const double pitch = 0.9 / teeth, width = 0.35 * pitch;
            Points outer;
            auto side = [&](double u0, double v0, double u1, double v1) {
                for (int k = 0; k < per_side; ++k) {
                    const double f = static_cast<double>(k) / per_side;
                    outer.insert(outer.end(), {u0 + f * (u1 - u0), v0 + f * (v1 - v0)});
                }
            };
            side(0.05, 0.05, 0.95, 0.05);
            for (int t = teeth - 1; t >= 0; --t) {
                const double right = 0.05 + (t + 1) * pitch, left = right - width;
                side(right, t + 1 == teeth ? 0.05 : 0.2, right, 0.95);
                side(right, 0.95, left, 0.95);
                side(left, 0.95, left, 0.2);
                if (t > 0) side(left, 0.2, right - pitch, 0.2);
            }
            side(0.05 + pitch - width, 0.2, 0.05, 0.2);
            side(0.05, 0.2, 0.05, 0.05);
            std::vector<Points> loops{outer};
            // Needle holes in the comb's back, under the first teeth.
            for (int t = 0; t + 1 < teeth && t < 3; ++t) {
                const double u = 0.05 + (t + 1) * pitch - 0.5 * width;
                loops.push_back({u, 0.12, u + 0.004, 0.1201, u + 0.3 * pitch, 0.12});
            }
            const Meshed p = run(affine(), loops, true);
            ASSERT_TRUE(p.r.result);
            const auto [total, area] = region(loops);
            const int h = static_cast<int>(loops.size()) - 1;
            ASSERT_EQ(static_cast<int>(p.r.tris.size()), total + 2 * h - 2);
            // Every vertex is a boundary point: their places in the metric plane.
            std::set<std::pair<double, double>> all;
            for (const TessTriangle& t : p.r.tris)
                for (const TessVertex& q : t.vertex) all.insert({q.u, q.v});
            ASSERT_EQ(static_cast<int>(all.size()), total);
            for (const TessTriangle& t : p.r.tris) {
                const TessVertex *a = &t.vertex[0], *b = &t.vertex[1], *c = &t.vertex[2];
                auto turn = [](const TessVertex* x, const TessVertex* y, double u, double v) {
                    return (y->u - x->u) * (v - x->v) - (y->v - x->v) * (u - x->u);
                };
                for (const auto& [u, v] : all) {
                    // Strictly inside by more than rounding: a boundary point in an ear.
                    const double e = 1e-12;
                    EXPECT_FALSE(turn(a, b, u, v) > e && turn(b, c, u, v) > e &&
                                 turn(c, a, u, v) > e)
                        << "point " << u << "," << v << " inside a triangle";
                }
            }
            EXPECT_NEAR(covered_area(p.r.tris), area, 1e-9 * area);
        }
    }
}

TEST(TessPlanar, WhatThePlaneCannotTakeIsMeshedAsByTheGeneralPath) {
    Surface almost = affine();
    almost.points[3 * 3 + 1] += 0.6 * 10 * ruvane::tess::kPlanarShare * 0.01;
    almost.points[3 * 3 + 2] -= 0.8 * 10 * ruvane::tess::kPlanarShare * 0.01;
    Surface bump = rational();
    bump.points[3 * 4 + 2] += 0.5;
    const Points outer = box(0.1, 0.1, 0.9, 0.9, 5);
    const Points crossing = {0.2, 0.2, 0.8, 0.8, 0.8, 0.2, 0.3, 0.6};
    const struct {
        const char* name;
        Surface s;
        std::vector<Points> loops;
    } cases[] = {
        {"self-crossing outer", affine(), {crossing}},
        {"hole across the outer loop", affine(), {outer, ring(0.85, 0.5, 0.1, 12, false)}},
        {"hole outside the outer loop",
         affine(),
         {box(0.5, 0.1, 0.9, 0.9, 3), ring(0.25, 0.5, 0.1, 8, false)}},
        {"holes crossing each other",
         affine(),
         {outer, ring(0.4, 0.5, 0.15, 12, false), ring(0.55, 0.5, 0.15, 12, false)}},
        {"too many points", affine(), {ring(0.5, 0.5, 0.45, ruvane::tess::kPlanarMaxPoints + 1)}},
        {"bent net", bump, {outer}},
        {"plane off by ten allowances", almost, {outer}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Meshed p = run(c.s, c.loops, true), g = run(c.s, c.loops, false);
        EXPECT_EQ(p.r.result, g.r.result);
        EXPECT_EQ(p.left, g.left);
        expect_same_mesh(p.r, g.r);
        std::printf("[ %s: %zu triangles ]\n", c.name, p.r.tris.size());
    }
}

}  // namespace

namespace {

// Storage refused at any allocation of a plane's call: no leak, and a mesh
// either whole (every boundary point, n + 2h - 2 triangles) or absent.
TEST(TessPlanar, StorageFailureAtAnyAllocationIsClean) {
    Surface s = affine();
    s.holes.resize(2);
    const Points outer = box(0, 0, 1, 1, 6), a = ring(0.3, 0.5, 0.15, 12, false),
                 b = ring(0.7, 0.5, 0.15, 9, false);
    const FixedLoopDesc loops[] = {{static_cast<int32_t>(outer.size() / 2), outer.data()},
                                   {static_cast<int32_t>(a.size() / 2), a.data()},
                                   {static_cast<int32_t>(b.size() / 2), b.data()}};
    sx::testing::install_counting_host();
    Desc d(s);
    every_refusal_clean(d.get(), loops, 24u + 12 + 9 + 2);
}

}  // namespace
