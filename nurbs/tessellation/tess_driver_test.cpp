// The driver and the front end on fixed examples: statuses, the tolerance
// limits, orientation and normal negation, skipped triangles at a pole, the
// polygons of boundary loops, snapping and corner splits, and storage
// failures at every allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>

#include "nurbs/tessellation/tess_driver.h"
#include "nurbs/tessellation/tess_fixtures.h"
#include "nurbs/tessellation/tessellation.h"
#include "nurbs/testing/ruvane_test_host.h"

namespace {

using namespace tess_fixtures;

// A flat rectangular patch [0, 4] x [0, 2] in z = 0 over parameters [0, 1]^2.
Surface flat_patch() {
    Surface s;
    s.u_order = s.v_order = 2;
    s.u_knots = {0, 0, 1, 1};
    s.v_knots = {0, 0, 1, 1};
    s.points = {0, 0, 0, 4, 0, 0, 0, 2, 0, 4, 2, 0};
    s.weights = {1, 1, 1, 1};
    return s;
}

// A curved patch, so that trim curves need real polygonisation.
Surface dome() {
    Surface s;
    s.u_order = s.v_order = 3;
    s.u_knots = {0, 0, 0, 1, 1, 1};
    s.v_knots = {0, 0, 0, 1, 1, 1};
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            s.points.insert(s.points.end(), {2.0 * i, 2.0 * j, (i == 1 && j == 1) ? 2.0 : 0.0});
    s.weights.assign(9, 1.0);
    return s;
}

TEST(TessDriver, ToleranceBelowTheMinimumEndsWithoutTriangles) {
    Surface s = dome();
    s.outer = circle(0.5, 0.5, 0.3, 0.3, true, false);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double denormal = std::numeric_limits<double>::denorm_min() * 1000;
    struct Case {
        double A, B, C;
        const char* routine;
    } cases[] = {
        {5e-8, 0.01, 1e-6, "N_TESSUB"},  {0.01, 5e-8, 1e-6, "N_TESPTC"},
        {nan, 0.01, 1e-6, "N_TESSUB"},   {-nan, 0.01, 1e-6, "N_TESSUB"},
        {inf, 0.01, 1e-6, "N_TESSUB"},   {0.0, 0.01, 1e-6, "N_TESSUB"},
        {-0.01, 0.01, 1e-6, "N_TESSUB"}, {denormal, 0.01, 1e-6, "N_TESSUB"},
        {0.01, nan, 1e-6, "N_TESPTC"},   {0.01, inf, 1e-6, "N_TESPTC"},
        {0.01, -0.0, 1e-6, "N_TESPTC"},  {0.01, 0.01, nan, "N_TESSUR"},
        {0.01, 0.01, inf, "N_TESSUR"},   {0.01, 0.01, 0.0, "N_TESSUR"},
        {0.01, 0.01, -1e-6, "N_TESSUR"}, {0.01, 0.01, denormal, "N_TESSUR"},
    };
    for (const Case& k : cases) {
        ruvane::set_error(0, "none");
        const Outcome c = tessellate(s, k.A, k.B, k.C);
        SCOPED_TRACE(::testing::Message() << k.A << " " << k.B << " " << k.C);
        EXPECT_TRUE(c.result && c.status == 0 && c.tris.empty() && c.tessellations == 0);
        char routine[9] = "x";
        EXPECT_EQ(ruvane_last_error(routine), 19);
        EXPECT_STREQ(routine, k.routine);
    }
    // At the minimum itself the tolerances are accepted.
    Surface flat = flat_patch();
    flat.outer = rectangle(0.1, 0.1, 0.9, 0.9, true);
    const Outcome ok = tessellate(flat, 1e-7, 1e-7);
    EXPECT_EQ(ok.tessellations, 1);
    EXPECT_EQ(ok.tris.size(), 2u);
}

// Surfaces with a degenerate point: where the tangents vanish the normal is
// the one approached from inside the face, and no triangle is lost.
struct PoleCase {
    const char* name;
    Surface s;
    double A;
    std::array<double, 3> pole;
};

std::vector<PoleCase> pole_cases() {
    const double s2 = std::sqrt(0.5);
    std::vector<PoleCase> out;
    Surface ball = sphere(4);
    ball.outer = rectangle(0, 0, 1, 1, true);
    out.push_back({"sphere", ball, 0.01, {0, 0, 4}});
    out.push_back({"sphere, south pole", ball, 0.01, {0, 0, -4}});
    {  // a cone: the whole v = 0 row is the apex
        Surface s;
        s.u_order = 3;
        s.v_order = 2;
        s.u_knots = {0, 0, 0, 1, 1, 1};
        s.v_knots = {0, 0, 1, 1};
        s.points = {0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 4, 3, 3, 4, 0, 3, 4};
        s.weights.assign(6, 1.0);
        s.outer = rectangle(0, 0, 1, 1, true);
        out.push_back({"cone apex", s, 0.02, {0, 0, 0}});
    }
    {  // the corner of a filleted box: a sphere octant, one edge collapsed
        Surface s;
        s.u_order = s.v_order = 3;
        s.u_knots = s.v_knots = {0, 0, 0, 1, 1, 1};
        const double cx[3] = {1, 1, 0}, cy[3] = {0, 1, 1}, w[3] = {1, s2, 1};
        const double r[3] = {1, 1, 0}, z[3] = {0, 1, 1};
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 3; ++i) {
                s.points.insert(s.points.end(), {2 * r[j] * cx[i], 2 * r[j] * cy[i], 2 * z[j]});
                s.weights.push_back(w[i] * w[j]);
            }
        s.outer = rectangle(0, 0, 1, 1, true);
        out.push_back({"filleted corner", s, 0.002, {0, 0, 2}});
    }
    {  // a triangle made as a bilinear quad with two corners at one point
        Surface s;
        s.u_knots = s.v_knots = {0, 0, 1, 1};
        s.points = {0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 2, 0};
        s.weights.assign(4, 1.0);
        s.outer = rectangle(0, 0, 1, 1, true);
        out.push_back({"degenerate quad", s, 0.01, {0, 2, 0}});
    }
    return out;
}

// Area of the surface by the midpoint rule over its parameter domain, from
// the independent evaluator.
double true_area(const Surface& s) {
    const Eval e{s};
    const int n = 400;
    const double u0 = s.u_knots.front(), du = (s.u_knots.back() - u0) / n;
    const double v0 = s.v_knots.front(), dv = (s.v_knots.back() - v0) / n;
    double area = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const double u = u0 + (i + 0.5) * du, v = v0 + (j + 0.5) * dv;
            const auto a = e.at(u - 0.5 * du, v), b = e.at(u + 0.5 * du, v);
            const auto c = e.at(u, v - 0.5 * dv), d = e.at(u, v + 0.5 * dv);
            const double su[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
            const double sv[3] = {d[0] - c[0], d[1] - c[1], d[2] - c[2]};
            area += std::hypot(su[1] * sv[2] - su[2] * sv[1], su[2] * sv[0] - su[0] * sv[2],
                               su[0] * sv[1] - su[1] * sv[0]);
        }
    return area;
}

double angle_degrees(const double* a, const std::array<double, 3>& b) {
    const double d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    const double la = std::hypot(a[0], a[1], a[2]), lb = std::hypot(b[0], b[1], b[2]);
    return std::acos(std::clamp(d / (la * lb), -1.0, 1.0)) * 180 / kPi;
}

TEST(TessDriver, DegeneratePointsGetTheirLimitNormalAndKeepEveryTriangle) {
    for (const PoleCase& k : pole_cases()) {
        SCOPED_TRACE(k.name);
        const Outcome c = tessellate(k.s, k.A);
        ASSERT_TRUE(c.result);
        EXPECT_EQ(c.status, 0);
        EXPECT_EQ(c.tris.size(), c.raw.tri.size());
        double area = 0;
        int at_pole = 0;
        const Eval e{k.s};
        const auto [Lu, Lv] = e.lengths();
        const double u0 = k.s.u_knots.front(), su = (k.s.u_knots.back() - u0) / Lu;
        const double v0 = k.s.v_knots.front(), sv = (k.s.v_knots.back() - v0) / Lv;
        for (const TessTriangle& t : c.tris) {
            area += triangle_area(t);
            const double cu = (t.vertex[0].u + t.vertex[1].u + t.vertex[2].u) / 3;
            const double cv = (t.vertex[0].v + t.vertex[1].v + t.vertex[2].v) / 3;
            for (const TessVertex& v : t.vertex) {
                ASSERT_NEAR(std::hypot(v.normal[0], v.normal[1], v.normal[2]), 1.0, 1e-9);
                if (std::hypot(v.position[0] - k.pole[0], v.position[1] - k.pole[1],
                               v.position[2] - k.pole[2]) > 1e-9)
                    continue;
                ++at_pole;
                // The regular normal next to the pole, a hundredth of the way
                // towards the triangle's centroid.
                const double nu = v.u + 0.01 * (cu - v.u), nv = v.v + 0.01 * (cv - v.v);
                const auto regular = e.normal(u0 + nu * su, v0 + nv * sv);
                EXPECT_LT(angle_degrees(v.normal, regular), 2.0) << "at " << v.u;
            }
        }
        EXPECT_GE(at_pole, 2);
        const double expected = true_area(k.s);
        if (std::strncmp(k.name, "sphere", 6) == 0) {
            EXPECT_NEAR(expected, 4 * kPi * 16, 1e-3 * expected);  // the integration itself
        }
        EXPECT_NEAR(area, expected, 0.01 * expected);
    }
}

// Distance from p to the polyline q.
double polyline_distance(const std::array<double, 3>& p,
                         const std::vector<std::array<double, 3>>& q) {
    double best = 1e300;
    for (size_t k = 1; k < q.size(); ++k)
        best = std::min(best, point_segment(p, q[k - 1].data(), q[k].data()));
    return best;
}

TEST(TessDriver, TrimmedEdgeOfANonUniformFaceStaysWithinTheTrimToleranceIn3D) {
    // A bicubic face whose knots crowd at one end: a straight line in the
    // parameter plane runs there much faster on the part than elsewhere.
    Surface s;
    s.u_order = s.v_order = 4;
    s.u_knots = {0, 0, 0, 0, 0.44, 0.45, 0.46, 1, 1, 1, 1};
    s.v_knots = {0, 0, 0, 0, 0.02, 0.03, 1, 1, 1, 1};
    const int nu = 7, nv = 6;
    for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) {
            const double x = 10.0 * i / (nu - 1), y = 8.0 * j / (nv - 1);
            s.points.insert(s.points.end(), {x, y, 2.0 * std::sin(0.6 * x) * std::cos(0.5 * y)});
            s.weights.push_back(1.0);
        }
    s.outer = circle(0.45, 0.5, 0.42, 0.4, true, true);
    // The true edge: the trim circle's image, finely sampled.
    const Eval e{s};
    std::vector<std::array<double, 3>> edge;
    for (int k = 0; k <= 20000; ++k) {
        const double a = 2 * kPi * k / 20000;
        edge.push_back(e.at(0.45 + 0.42 * std::cos(a), 0.5 + 0.4 * std::sin(a)));
    }
    for (double D : {0.1, 0.01}) {
        const Outcome c = tessellate(s, D, D);
        ASSERT_EQ(c.status, 0);
        ASSERT_GT(c.tris.size(), 10u);
        // Boundary edges of the mesh: used by one triangle only.
        std::map<std::pair<std::array<double, 3>, std::array<double, 3>>, int> uses;
        auto P = [](const TessVertex& v) {
            return std::array<double, 3>{v.position[0], v.position[1], v.position[2]};
        };
        for (const TessTriangle& t : c.tris)
            for (int k = 0; k < 3; ++k) {
                auto a = P(t.vertex[k]), b = P(t.vertex[(k + 1) % 3]);
                if (b < a) std::swap(a, b);
                ++uses[{a, b}];
            }
        double worst = 0;
        int boundary = 0;
        for (const auto& [ab, n] : uses) {
            if (n != 1) continue;
            ++boundary;
            for (double f : {0.0, 0.25, 0.5, 0.75}) {
                std::array<double, 3> p;
                for (int q = 0; q < 3; ++q) p[q] = ab.first[q] + f * (ab.second[q] - ab.first[q]);
                worst = std::max(worst, polyline_distance(p, edge));
            }
        }
        EXPECT_GT(boundary, 20) << D;
        EXPECT_LE(worst, D) << "boundary strays " << worst / D << " D from the true edge";
    }
}

// A circular segment of radius 10 (arc from -45 to 45 degrees and its chord)
// as a planar patch whose v = 0 edge is the arc: the mesh boundary there is
// made of cell sides, not of a trim polygon.
Surface circular_segment() {
    Surface s;
    s.u_order = 3;
    s.u_knots = {0, 0, 0, 1, 1, 1};
    s.v_knots = {0, 0, 1, 1};
    const double h = 10 * std::sqrt(0.5);
    s.points = {h, -h, 0, 2 * h, 0, 0, h, h, 0, h, -h, 0, h, 0, 0, h, h, 0};
    s.weights = {1, std::sqrt(0.5), 1, 1, std::sqrt(0.5), 1};
    s.outer = rectangle(0, 0, 1, 1, true);
    return s;
}

TEST(TessDriver, SmallOrNarrowFacesAreCoveredWithinOnePercent) {
    // Chords within the tolerance of a curve whose radius is only 25
    // tolerances cut several percent off a disc or a narrow segment.
    Surface disc = flat_patch();
    disc.outer = circle(0.5, 0.5, 0.1, 0.2, true, true);  // radius 0.4 on the part
    const struct {
        Surface s;
        double area, D;
    } cases[] = {{disc, kPi * 0.16, 0.016}, {circular_segment(), 50 * (kPi / 2 - 1), 0.4}};
    for (const auto& k : cases) {
        const Outcome c = tessellate(k.s, k.D, k.D);
        ASSERT_EQ(c.status, 0);
        double area = 0;
        for (const TessTriangle& t : c.tris) area += triangle_area(t);
        EXPECT_NEAR(area, k.area, 0.01 * k.area);
    }
}

TEST(TessDriver, HolePolygonDoesNotDependOnTheParametrisation) {
    // One plane [0, 4] x [0, 2] with a hole of radius 0.3, over [0, 1]^2 and
    // over its own lengths: the hole is the same on the part, so is its polygon.
    Surface unit = flat_patch(), model = flat_patch();
    model.u_knots = {0, 0, 4, 4};
    model.v_knots = {0, 0, 2, 2};
    unit.outer = rectangle(0, 0, 1, 1, true);
    model.outer = rectangle(0, 0, 4, 2, true);
    unit.holes = {circle(0.5, 0.5, 0.075, 0.15, false, true)};
    model.holes = {circle(2, 1, 0.3, 0.3, false, true)};
    const Outcome a = tessellate(unit, 0.05, 0.05), b = tessellate(model, 0.05, 0.05);
    ASSERT_EQ(a.loops.size() + b.loops.size(), 4u);
    EXPECT_EQ(a.loops[1].size(), b.loops[1].size());
}

TEST(TessDriver, BoundaryLoopBecomesFourPointsOutsideTheDomain) {
    const double L = (4.0 + 2.0 * std::sqrt(8.0) + 4.0) / 3.0;  // the dome's Lu = Lv
    Surface s = dome();
    s.outer = rectangle(0, 0, 1, 1, true);
    const double C = 1e-4;
    const Outcome c = tessellate(s, 0.01, 0.01, C);
    EXPECT_EQ(c.status, 0);
    ASSERT_EQ(c.loops.size(), 1u);
    const double x = 3.1 * C * L;  // 3.1 C', C' = C * max(Lu, Lv)
    const mesh_check::Poly expected{{-x, -x}, {L + x, -x}, {L + x, L + x}, {-x, L + x}};
    ASSERT_EQ(c.loops[0].size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_LT(std::hypot(c.loops[0][i].u - expected[i].u, c.loops[0][i].v - expected[i].v),
                  1e-12);
}

// Orientation in general is checked through the face normals of the
// generated families; these are the corner cases.
TEST(TessDriver, OrientationTest) {
    auto loop = [](std::vector<std::pair<double, double>> p) { return LoopCurves{polyline(p)}; };
    struct Case {
        const char* name;
        LoopCurves curves;
        bool clockwise;
    } cases[] = {
        {"counter-clockwise square", loop({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}), false},
        {"clockwise square", loop({{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}}), true},
        {"counter-clockwise, leftmost point repeated across curves",
         {line(0, 0, 0, 0), line(0, 0, 1, 0), line(1, 0, 1, 1), line(1, 1, 0, 1), line(0, 1, 0, 0)},
         false},
        {"all points within 1e-6", loop({{0, 0}, {5e-7, 0}, {5e-7, 5e-7}, {0, 0}}), true},
        {"empty", {}, true},
    };
    for (const Case& k : cases) {
        std::vector<CurveDesc> d;
        for (const Curve& c : k.curves) d.push_back(curve_desc(c));
        EXPECT_EQ(ruvane::loop_orientation(d.data(), static_cast<int>(d.size())), k.clockwise)
            << k.name;
    }
}

TEST(TessDriver, RejectedDescriptionsSetTheirStatus) {
    Surface good = dome();
    good.outer = circle(0.5, 0.5, 0.3, 0.3, true, false);
    good.holes.push_back(circle(0.5, 0.5, 0.1, 0.1, false, false));
    struct Case {
        const char* name;
        void (*spoil)(Surface&);
        int status;  // -1: any, but never a crash nor a triangle
    } cases[] = {
        {"surface degree 29", [](Surface& s) { s.u_order = 30; }, 1},
        {"surface weight below 1e-4", [](Surface& s) { s.weights[4] = 9e-5; }, 1},
        {"surface knots decreasing", [](Surface& s) { s.u_knots = {0, 0, 0, 1, 0.5, 1}; }, 1},
        {"too few surface knots",
         [](Surface& s) {
             s.v_knots = {0, 0, 1};
         },
         1},
        {"outer curve knots not covering [0, 1]", [](Surface& s) { s.outer[0].knots.back() = 0.9; },
         2},
        {"outer curve weight 0", [](Surface& s) { s.outer[0].weights[1] = 0; }, 2},
        {"hole curve degree 0", [](Surface& s) { s.holes[0][0].order = 1; }, 3},
        {"hole curve knots not covering [0, 1]",
         [](Surface& s) { s.holes[0][0].knots.front() = 0.1; }, 3},
        {"not a number in the net", [](Surface& s) { s.points[12] = std::nan(""); }, -1},
    };
    for (const Case& k : cases) {
        Surface s = good;
        k.spoil(s);
        const Outcome c = tessellate(s);
        EXPECT_TRUE(c.result) << k.name;
        EXPECT_TRUE(k.status < 0 || c.status == k.status) << k.name << ": status " << c.status;
        EXPECT_TRUE(c.tris.empty()) << k.name;
    }
    // Counts that would make the driver read far past the caller's arrays
    // are refused before any read, as is a null description.
    auto refused = [&](void (*spoil)(TrimmedSurfaceDesc&, int32_t), int32_t bad) {
        Desc d(good);
        spoil(d.edit(), bad);
        int32_t st = -1;
        EXPECT_TRUE(ruvane_tesselate_ruvane(collect, d.get(), &st, 0.01, 0.01, 1e-6, nullptr));
        EXPECT_EQ(st, 1) << bad;
    };
    for (int32_t bad : {INT32_MIN, -1, 0, 1, INT32_MAX}) {
        refused([](TrimmedSurfaceDesc& d, int32_t n) { d.u_order = n; }, bad);
        refused([](TrimmedSurfaceDesc& d, int32_t n) { d.v_knot_count = n; }, bad);
    }
    refused([](TrimmedSurfaceDesc& d, int32_t n) { d.u_knot_count = d.v_knot_count = n; }, 1 << 20);
    int32_t status = -1;
    EXPECT_TRUE(ruvane_tesselate_ruvane(collect, nullptr, &status, 0.01, 0.01, 1e-6, nullptr));
    EXPECT_EQ(status, 1);
    Desc d(good);
    EXPECT_TRUE(ruvane_tesselate_ruvane(nullptr, d.get(), nullptr, 0.01, 0.01, 1e-6, nullptr));
}

TEST(TessDriver, StorageFailureAtAnyAllocationIsCleanAndReported) {
    Surface s = dome();
    s.outer = circle(0.5, 0.5, 0.4, 0.4, true, true);
    s.holes.push_back(rectangle(0.4, 0.4, 0.6, 0.6, false));
    sx::testing::install_counting_host();
    Desc d(s);
    auto attempt = [&](long fail_at, Outcome& seen) {
        sx::testing::arm(fail_at);
        seen.result =
            ruvane_tesselate_ruvane(collect, d.get(), &seen.status, 0.05, 0.05, 1e-6, &seen);
        EXPECT_EQ(sx::testing::counters().live, 0) << "allocation " << fail_at;
    };
    Outcome full;
    attempt(0, full);
    ASSERT_TRUE(full.result);
    const long total = sx::testing::counters().calls;
    ASSERT_GT(total, 50);
    // The first allocation is the driver's own copy of the knots.
    Outcome none;
    attempt(1, none);
    EXPECT_FALSE(none.result);
    EXPECT_EQ(none.status, 0);
    // Failing any later allocation: no crash, no leak, and never a partial
    // mesh from an attempt that failed.
    const long stride = std::max(1L, total / 400);
    for (long k = 2; k <= total; k += stride) {
        Outcome seen;
        attempt(k, seen);
        const bool failed = !seen.result || (seen.status >= 1 && seen.status <= 4);
        if (failed || (seen.status == 0 && !seen.tris.empty())) {
            EXPECT_EQ(seen.tris.size(), failed ? 0 : full.tris.size()) << "allocation " << k;
        }
    }
    sx::testing::arm(0);
}

}  // namespace
