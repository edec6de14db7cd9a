// Faces that turn round an axis, meshed as zipped rings: every triangle
// near the surface, rows that take fewer points where they are short,
// meshes closed across their seams and poles, and every other face left to
// the general path as if the rows did not exist.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <set>

#include "nurbs/tessellation/tess_fixtures.h"
#include "nurbs/tessellation/tess_rows.h"

namespace {

using namespace tess_fixtures;

// A ring (torus) of radii R and r round the z axis: u round the axis, v
// round the tube from the outside, `turns` quarters of it (4: closed).
Surface ring_surface(double R, double r, int quarters) {
    Surface s;
    s.u_order = s.v_order = 3;
    s.u_knots = kCircleKnots;
    s.v_knots = {0, 0, 0};
    for (int q = 1; q < quarters; ++q) s.v_knots.insert(s.v_knots.end(), {q / 4.0, q / 4.0});
    s.v_knots.insert(s.v_knots.end(), {quarters / 4.0, quarters / 4.0, quarters / 4.0});
    for (int k = 0; k <= 2 * quarters; ++k)
        circle_row(R + r * kCircle[k][0], r * kCircle[k][1], kCircle[k][2], s);
    s.closed_u = true;
    s.closed_v = quarters == 4;
    s.outer = rectangle(0, 0, 1, quarters / 4.0, true);
    s.name = "ring";
    return s;
}

// How far the triangles' edge middles and centroids lie from the surface,
// given the distance of a point from it.
template <class Off>
double worst_off(const std::vector<TessTriangle>& tris, Off off) {
    double worst = 0;
    for (const TessTriangle& t : tris) {
        const V3 a = v3(t.vertex[0].position), b = v3(t.vertex[1].position),
                 c = v3(t.vertex[2].position);
        for (const V3& p : {0.5 * (a + b), 0.5 * (b + c), 0.5 * (c + a), (1.0 / 3) * (a + b + c)})
            worst = std::max(worst, off(p));
    }
    return worst;
}

// The nearest point of the ball of radius R about the origin, and of the
// ring of radii R and r round the z axis.
V3 on_ball(double R, const V3& x) { return (R / norm(x)) * x; }
V3 on_ring(double R, double r, const V3& x) {
    const double out = std::hypot(x[0], x[1]);
    const V3 centre{R * x[0] / out, R * x[1] / out, 0};
    return centre + (r / norm(x - centre)) * (x - centre);
}

// Per row (v of its vertices) the number of distinct u on it.
std::map<double, int> row_counts(const std::vector<TessTriangle>& tris) {
    std::map<double, std::set<double>> rows;
    for (const TessTriangle& t : tris)
        for (const TessVertex& x : t.vertex) rows[x.v].insert(x.u);
    std::map<double, int> n;
    for (const auto& [v, us] : rows) n[v] = static_cast<int>(us.size());
    return n;
}

// Whether the mesh, its vertices joined by position (within `near`) as a
// caller joins them, is closed: every edge between two triangles of some
// area, once each way. Triangles of no area (a pole's copies) join nothing.
std::string closed(const std::vector<TessTriangle>& tris, double near = 0) {
    std::vector<V3> id;
    const auto number = [&](const V3& p) {
        for (size_t k = 0; k < id.size(); ++k)
            if (norm(id[k] - p) <= near) return static_cast<int>(k);
        id.push_back(p);
        return static_cast<int>(id.size()) - 1;
    };
    std::map<std::pair<int, int>, int> edges;
    for (const TessTriangle& t : tris) {
        int k[3];
        for (int c = 0; c < 3; ++c) k[c] = number(v3(t.vertex[c].position));
        if (k[0] == k[1] || k[1] == k[2] || k[2] == k[0]) continue;
        for (int c = 0; c < 3; ++c) ++edges[{k[c], k[(c + 1) % 3]}];
    }
    for (const auto& [e, n] : edges)
        if (n != 1 || edges.count({e.second, e.first}) != 1 || edges.at({e.second, e.first}) != 1)
            return "edge " + std::to_string(e.first) + "-" + std::to_string(e.second) + " used " +
                   std::to_string(n) + " times";
    return "";
}

// A ball and a closed ring meshed alone: the mesh checks out in the
// parameter plane, keeps the surface within A, is closed across its seams
// and poles, takes fewer triangles than the cell lattice, and a ball's rows
// take fewer points toward its poles.
TEST(TessRows, BallsAndRingsMeshAsRowsOfTheirOwnCounts) {
    struct Case {
        Surface s;
        double A;
        double exact_area;
        std::function<V3(const V3&)> nearest;
    };
    const double R = 6, Rt = 7, rt = 2;
    auto ball_off = [&](const V3& p) { return on_ball(R, p); };
    auto ring_off = [&](const V3& p) { return on_ring(Rt, rt, p); };
    Surface ball = sphere(R);
    ball.outer = rectangle(0, 0, 1, 1, true);
    const Case cases[] = {{ball, 0.0121, 4 * kPi * R * R, ball_off},
                          {ball, 0.1, 4 * kPi * R * R, ball_off},
                          {ring_surface(Rt, rt, 4), 0.0121, 4 * kPi * kPi * Rt * rt, ring_off},
                          {ring_surface(Rt, rt, 4), 0.05, 4 * kPi * kPi * Rt * rt, ring_off}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.s.name + " A " + std::to_string(k.A));
        const Outcome rows = tessellate(k.s, k.A, k.A);
        const Outcome lattice = tessellate(k.s, k.A, k.A, 1e-6, false);
        ASSERT_TRUE(rows.result);
        ASSERT_EQ(rows.status, 0);
        const Eval ev{k.s};
        const auto [lu, lv] = ev.lengths();
        EXPECT_EQ(mesh_check::check(rows.raw, rows.loops, lu, lv, 1e-8 * std::max(lu, lv)), "");
        EXPECT_LE(worst_off(rows.tris, [&](const V3& p) { return norm(p - k.nearest(p)); }), k.A);
        EXPECT_EQ(closed(rows.tris), "");
        EXPECT_NEAR(carried_area(rows.tris, k.nearest) / k.exact_area, 1.0, 0.01);
        EXPECT_LT(rows.tris.size(), lattice.tris.size());
        if (!k.s.closed_v) {
            // The rows next to each pole take under half the widest row's
            // points, the pole itself its two copies.
            const std::map<double, int> n = row_counts(rows.tris);
            int widest = 0;
            for (const auto& [v, count] : n) widest = std::max(widest, count);
            ASSERT_GE(n.size(), 5u);
            EXPECT_EQ(n.begin()->second, 2);
            EXPECT_EQ(n.rbegin()->second, 2);
            EXPECT_LT(2 * std::next(n.begin())->second, widest);
            EXPECT_LT(2 * std::next(n.rbegin())->second, widest);
        }
    }
}

// A quarter and half a ring, open along their circles: the chords of those
// edges cut off (outside) and add (inside) no more than a percent of the
// area together, and the surface stays within A.
TEST(TessRows, OpenEdgesKeepTheFaceArea) {
    const double R = 13, r = 3;
    for (const int quarters : {1, 2})
        for (const double A : {0.0763, 0.229, 0.6}) {
            SCOPED_TRACE(std::to_string(quarters) + " quarters, A " + std::to_string(A));
            const Surface s = ring_surface(R, r, quarters);
            const Outcome out = tessellate(s, A, A);
            ASSERT_EQ(out.status, 0);
            const Eval ev{s};
            const auto [lu, lv] = ev.lengths();
            EXPECT_EQ(mesh_check::check(out.raw, out.loops, lu, lv, 1e-8 * std::max(lu, lv)), "");
            const auto nearest = [&](const V3& p) { return on_ring(R, r, p); };
            // The tube from its outside over its top, and on to its inside.
            const double exact = 2 * kPi * r * (R * kPi * quarters / 2 + (quarters == 1 ? r : 0));
            EXPECT_NEAR(carried_area(out.tris, nearest) / exact, 1.0, 0.01);
            EXPECT_LE(worst_off(out.tris, [&](const V3& p) { return norm(p - nearest(p)); }), A);
        }
}

// The loop fixed as a model mesher fixes it (the seam's points, the poles'
// copies, a ring's second seam as a whole row): every given point is a
// vertex carrying its number, no other vertex lies on the loop, and the
// mesh, joined by position, is closed.
TEST(TessRows, FixedSeamsAndPolesCloseTheMesh) {
    struct Case {
        Surface s;
        Points loop;
        double A;
    };
    Surface ball = sphere(6);
    ball.outer = rectangle(0, 0, 1, 1, true);
    const Case cases[] = {{ball, box(0, 0, 1, 1, 27), 0.0121},
                          {ball, box(0, 0, 1, 1, 9), 0.05},
                          {ring_surface(7, 2, 4), box(0, 0, 1, 1, 31), 0.05}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.s.name);
        ruvane::TessContext ctx;
        ctx.tol = {k.A, k.A, 1e-6};
        FixedMeshed on = mesh_fixed(k.s, {k.loop}, ctx);
        ctx.rows = false;
        FixedMeshed off = mesh_fixed(k.s, {k.loop}, ctx);
        ASSERT_TRUE(on.r.result);
        ASSERT_EQ(on.r.status, 0);
        EXPECT_EQ(on.left, 0);
        EXPECT_LT(on.r.tris.size(), off.r.tris.size());
        const Eval ev{k.s};
        const auto [lu, lv] = ev.lengths();
        const auto at = [](double x, double bound) { return std::fabs(x - bound) <= 1e-9 * bound; };
        std::set<int> seen;
        for (const TessTriangle& t : on.r.tris)
            for (const TessVertex& x : t.vertex) {
                const bool on_loop = x.u == 0 || at(x.u, lu) || x.v == 0 || at(x.v, lv);
                EXPECT_EQ(on_loop, x.reserved > 0) << x.u << " " << x.v;
                if (x.reserved > 0) seen.insert(static_cast<int>(x.reserved) - 1);
            }
        EXPECT_EQ(seen.size(), k.loop.size() / 2);
        EXPECT_EQ(closed(on.r.tris, 1e-12 * k.A), "");
    }
}

// The sag ruvane_rows_seam names for a face the rows take (a ball, a closed
// ring; none for a band short of the poles or a ball with a hole) carries
// the rows: a ring whose two fixed seams are divided that finely meshes as
// one row per seam point, with no row between, in fewer triangles than the
// cell lattice.
TEST(TessRows, SeamsAtTheRowsSpacingCarryTheRows) {
    const double A = 0.05;
    Surface ball = sphere(4), band = sphere(4), holed = sphere(4);
    ball.outer = holed.outer = rectangle(0, 0, 1, 1, true);
    band.outer = rectangle(0, 0.1, 1, 0.9, true);
    holed.holes.push_back(circle(0.5, 0.5, 0.1, 0.1, false, false));
    Surface ring = ring_surface(7, 2, 4);
    sx::testing::install_counting_host();
    for (Surface* s : {&ball, &ring, &band, &holed}) {
        SCOPED_TRACE(s->name);
        const Desc d(*s);
        double sag = -1;
        const bool takes = ruvane_rows_seam(d.get(), A, &sag);
        EXPECT_EQ(takes, s == &ball || s == &ring);
        EXPECT_EQ(sag, takes ? ruvane::tess::kRowSpacing * ruvane::tess::kRowsMargin * A : -1.0);
    }
    // The ring's seams are circles of radius 2 (across the rows: u = 0, 1)
    // and 9 (a row: v = 0, 1); n even chords of a circle of radius r sag
    // r (1 - cos(pi / n)), a rational quarter's even steps in its parameter
    // a fifth more. The rows zipped to those seams refine the row with the
    // longer chords where a triangle strays: more points on the other only
    // slanted the triangle, and the face went to the lattice.
    for (double tol : {0.05, 0.01}) {
        SCOPED_TRACE(tol);
        const double sag = ruvane::tess::kRowSpacing * ruvane::tess::kRowsMargin * tol;
        const auto chords = [&](double r) {
            return static_cast<int>(std::ceil(kPi / std::acos(1 - sag / (1.2 * r))));
        };
        const int across = chords(2), along = chords(9);
        Points loop;
        for (int side = 0; side < 4; ++side) {
            const int n = side % 2 == 0 ? along : across;
            for (int k = 0; k < n; ++k) {
                const double f = static_cast<double>(k) / n;
                const double u[] = {f, 1, 1 - f, 0}, v[] = {0, f, 1, 1 - f};
                loop.insert(loop.end(), {u[side], v[side]});
            }
        }
        ruvane::TessContext ctx;
        ctx.tol = {tol, tol, 1e-6};
        const FixedMeshed on = mesh_fixed(ring, {loop}, ctx);
        ctx.rows = false;
        const FixedMeshed off = mesh_fixed(ring, {loop}, ctx);
        ASSERT_EQ(on.r.status, 0);
        EXPECT_LT(on.r.tris.size(), off.r.tris.size());
        // Rows by v, the two copies of a seam point a hair apart taken as one.
        int rows = 0;
        double last = -1;
        for (const auto& [v, n] : row_counts(on.r.tris)) {
            rows += v - last > 1e-6 ? 1 : 0;
            last = v;
        }
        EXPECT_EQ(rows, across + 1);
        EXPECT_EQ(closed(on.r.tris, 1e-12 * tol), "");
    }
}

// Faces the rows do not take (a band that stops short of the poles, a ball
// with a hole, a fixed loop with a point inside the domain) mesh exactly as
// with the rows switched off.
TEST(TessRows, OtherFacesAreLeftToTheGeneralPath) {
    Surface band = sphere(4);
    band.outer = rectangle(0, 0.1, 1, 0.9, true);
    Surface holed = sphere(4);
    holed.outer = rectangle(0, 0, 1, 1, true);
    holed.holes.push_back(circle(0.5, 0.5, 0.1, 0.1, false, false));
    for (const Surface& s : {band, holed}) {
        SCOPED_TRACE(s.name);
        expect_same_mesh(tessellate(s, 0.02, 0.02), tessellate(s, 0.02, 0.02, 1e-6, false));
    }
    Surface ball = sphere(4);
    ball.outer = rectangle(0, 0, 1, 1, true);
    Points dented = box(0, 0, 1, 1, 8);
    dented[2 * 12 + 0] = 0.9;  // a point of the side u = 1 moved inside
    ruvane::TessContext ctx;
    ctx.tol = {0.02, 0.02, 1e-6};
    const FixedMeshed on = mesh_fixed(ball, {dented}, ctx);
    ctx.rows = false;
    const FixedMeshed off = mesh_fixed(ball, {dented}, ctx);
    expect_same_mesh(on.r, off.r);
}

// Faces meshed whole that choose their own rows take them only where the
// rows pay: a cylinder (every ring alike, the lattice as sparse) and a
// closed face that is no surface of revolution (a polynomial net, here
// rings widening from 4 to 12) mesh exactly as with the rows off; a cone
// whose rings widen as much takes them.
TEST(TessRows, FacesChoosingTheirRowsTakeThemWhereTheyPay) {
    auto turned = [](double r0, double r1, bool rational) {
        Surface s;
        s.u_order = 3;
        s.v_order = 2;
        s.u_knots = kCircleKnots;
        s.v_knots = {0, 0, 1, 1};
        circle_row(r0, 0, 1, s);
        circle_row(r1, 6, 1, s);
        // A polynomial net as exports write it: weights 1 to a rounding.
        if (!rational)
            for (size_t k = 0; k < s.weights.size(); ++k) s.weights[k] = k % 2 ? 1 + 2e-16 : 1 - 3e-16;
        s.closed_u = true;
        s.outer = rectangle(0, 0, 1, 1, true);
        return s;
    };
    for (const double A : {0.05, 0.01}) {
        SCOPED_TRACE("A " + std::to_string(A));
        expect_same_mesh(tessellate(turned(5, 5, true), A, A),
                         tessellate(turned(5, 5, true), A, A, 1e-6, false));
        expect_same_mesh(tessellate(turned(4, 12, false), A, A),
                         tessellate(turned(4, 12, false), A, A, 1e-6, false));
        const Outcome on = tessellate(turned(4, 12, true), A, A);
        const Outcome off = tessellate(turned(4, 12, true), A, A, 1e-6, false);
        ASSERT_EQ(on.status, 0);
        EXPECT_NE(on.tris.size(), off.tris.size()) << "the cone left to the lattice";
    }
    // The rule itself, on the nets (rings along u): a polynomial net whose
    // weights differ by rounding tried as rows would pay their sampling and
    // decline, which the meshes above cannot show.
    auto pays = [](const Surface& f) {
        const int nu = static_cast<int>(f.u_knots.size()) - f.u_order;
        const int nv = static_cast<int>(f.weights.size()) / nu;
        std::vector<ruvane::Point4> at(f.weights.size());
        std::vector<ruvane::Point4*> rows(static_cast<size_t>(nu));
        for (int i = 0; i < nu; ++i) {
            rows[static_cast<size_t>(i)] = &at[static_cast<size_t>(i * nv)];
            for (int j = 0; j < nv; ++j) {
                const size_t k = static_cast<size_t>(j * nu + i);
                const double w = f.weights[k];
                at[static_cast<size_t>(i * nv + j)] = {w * f.points[3 * k], w * f.points[3 * k + 1],
                                                       w * f.points[3 * k + 2], w};
            }
        }
        ruvane::ControlNet net;
        net.n = nu - 1;
        net.m = nv - 1;
        net.Pw = rows.data();
        ruvane::Surface sur;
        sur.net = &net;
        return ruvane::tess::rows_pay(sur, 0);
    };
    EXPECT_TRUE(pays(turned(4, 12, true)));
    EXPECT_TRUE(pays(turned(0, 12, true))) << "a cone with its apex";
    EXPECT_FALSE(pays(turned(5, 5, true))) << "a cylinder";
    EXPECT_FALSE(pays(turned(5, 7, true))) << "rings within half of each other";
    EXPECT_FALSE(pays(turned(4, 12, false))) << "weights apart by rounding only";
}

// Storage refused at any allocation of the row path: a clean failure, or
// the whole mesh.
TEST(TessRows, StorageFailureAtAnyAllocationIsClean) {
    Surface ball = sphere(0.4);  // a few rows at the export's tolerance of 0.01
    ball.outer = rectangle(0, 0, 1, 1, true);
    const Desc d(ball);
    const Points loop = box(0, 0, 1, 1, 5);
    const FixedLoopDesc desc{static_cast<int32_t>(loop.size() / 2), loop.data()};
    const Outcome full = fixed_refusing(d.get(), &desc, 0);
    every_refusal_clean(d.get(), &desc, full.tris.size());
}

// Counts a hostile file can blow up: a ball so large against the smallest
// tolerance that its rows would want millions of points each, and a ring
// whose weights make its size overflow to infinity. The rows decline before
// laying anything that large (the general path then meets its own corner
// limit or refuses), so both runs end as with the rows switched off and the
// rows ask for no block larger than the general path does.
TEST(TessRows, ExplodingCountsDeclineBeforeTheyAreLaid) {
    Surface huge = sphere(100);
    huge.outer = rectangle(0, 0, 1, 1, true);
    const Outcome off = tessellate(huge, 1e-7, 1e-7, 1e-6, false);
    const size_t general = sx::testing::counters().largest;
    const Outcome on = tessellate(huge, 1e-7, 1e-7, 1e-6, true);
    EXPECT_LE(sx::testing::counters().largest, general);
    EXPECT_EQ(on.result, off.result);
    EXPECT_EQ(on.status, off.status);
    EXPECT_EQ(on.tris.size(), off.tris.size());
}

// Shapes a file may hand the rows: rings whose inner circle shrinks to a
// point mid-face or at an edge, a ring whose tube crosses its axis (its rows
// fold through each other), a closed net of degree 1, a ball whose one
// ring of control points weighs next to nothing, one that closes only to
// 1e-7, and one whose poles are tiny rings rather than points. Each either
// meshes exactly as without the rows (declined) or gives a mesh that checks
// out in the parameter plane, is closed where the surface is and (for the
// rings, whose nearest points are known) keeps within A of the surface.
TEST(TessRows, HostileShapesDeclineOrMeshCleanly) {
    struct Case {
        Surface s;
        double A;
        std::function<V3(const V3&)> nearest;  // empty: not known
        bool whole;                            // closed both ways or with poles
    };
    std::vector<Case> cases;
    for (auto [R, r, q] : {std::tuple{2.0, 2.0, 4}, std::tuple{1.0, 2.0, 4}, std::tuple{2.0, 2.0, 2},
                           std::tuple{3.0, 1.0, 3}}) {
        Surface s = ring_surface(R, r, q);
        s.name = "ring " + std::to_string(R) + " " + std::to_string(r) + " " + std::to_string(q);
        cases.push_back({s, 0.02, [R = R, r = r](const V3& x) { return on_ring(R, r, x); }, q == 4});
    }
    Surface prism;  // a square tube of degree 1, closed round u
    prism.u_knots = {0, 0, 0.25, 0.5, 0.75, 1, 1};
    prism.v_knots = {0, 0, 1, 1};
    for (double z : {0.0, 3.0})
        for (auto [x, y] : {std::pair{1.0, 0.0}, {0.0, 1.0}, {-1.0, 0.0}, {0.0, -1.0}, {1.0, 0.0}}) {
            prism.points.insert(prism.points.end(), {x, y, z});
            prism.weights.push_back(1);
        }
    prism.closed_u = true;
    prism.outer = rectangle(0, 0, 1, 1, true);
    prism.name = "prism";
    cases.push_back({prism, 0.01, {}, false});
    Surface light = sphere(5);
    for (int k = 18; k < 27; ++k) light.weights[k] *= 1e-5;
    light.name = "light ring";
    Surface open_seam = sphere(5);
    for (int k = 8; k < 45; k += 9) open_seam.points[3 * k + 1] += 5e-7;
    open_seam.name = "seam open by 1e-7";
    Surface tiny_poles = sphere(5);
    for (int k = 0; k < 9; ++k)
        for (int row : {0, 4}) {
            tiny_poles.points[3 * (9 * row + k)] = 1e-9 * kCircle[k][0];
            tiny_poles.points[3 * (9 * row + k) + 1] = 1e-9 * kCircle[k][1];
        }
    tiny_poles.name = "tiny rings for poles";
    for (Surface* s : {&light, &open_seam, &tiny_poles}) {
        s->outer = rectangle(0, 0, 1, 1, true);
        cases.push_back({*s, 0.01, {}, false});
    }
    // A ball small against the tolerance: one strip from pole to pole would
    // be two triangles of no area.
    for (double R : {0.004, 0.02, 0.05}) {
        Surface small = sphere(R);
        small.outer = rectangle(0, 0, 1, 1, true);
        small.name = "small ball " + std::to_string(R);
        cases.push_back({small, 0.01, [R](const V3& x) { return on_ball(R, x); }, true});
    }
    for (const Case& k : cases) {
        SCOPED_TRACE(k.s.name);
        const Outcome on = tessellate(k.s, k.A, k.A);
        const Outcome off = tessellate(k.s, k.A, k.A, 1e-6, false);
        bool same = on.status == off.status && on.tris.size() == off.tris.size();
        for (size_t t = 0; same && t < on.tris.size(); ++t)
            for (int c = 0; c < 3; ++c)
                same = same && v3(on.tris[t].vertex[c].position) == v3(off.tris[t].vertex[c].position);
        if (same) continue;
        ASSERT_TRUE(on.result);
        EXPECT_EQ(on.status, 0);
        const Eval ev{k.s};
        const auto [lu, lv] = ev.lengths();
        EXPECT_EQ(mesh_check::check(on.raw, on.loops, lu, lv, 1e-8 * std::max(lu, lv)), "");
        if (k.whole) {
            EXPECT_EQ(closed(on.tris), "");
        }
        if (k.nearest) {
            EXPECT_LE(worst_off(on.tris, [&](const V3& p) { return norm(p - k.nearest(p)); }), k.A);
        }
    }
}

// Fixed loops a model file may give the rows: one or two points a side,
// a point given twice, the loop run backwards, two seam points swapped in
// the loop's order, and a ring's seam points that miss each other by a
// little. Each either meshes exactly as without the rows, or keeps every
// given point as a vertex carrying its number, leaves none over, checks out
// in the parameter plane and closes across the seams and poles.
TEST(TessRows, HostileFixedLoopsDeclineOrMeshCleanly) {
    Surface ball = sphere(6);
    ball.outer = rectangle(0, 0, 1, 1, true);
    const Surface tube = ring_surface(7, 2, 4);
    struct Case {
        const Surface* s;
        Points loop;
        std::string name;
    };
    std::vector<Case> cases;
    for (int n : {1, 2, 3})
        cases.push_back({&ball, box(0, 0, 1, 1, n), "sides of " + std::to_string(n)});
    for (int n : {1, 2})
        cases.push_back({&tube, box(0, 0, 1, 1, n), "ring sides of " + std::to_string(n)});
    Points twice = box(0, 0, 1, 1, 9);
    twice.insert(twice.begin() + 2 * 12, {twice[2 * 12], twice[2 * 12 + 1]});
    cases.push_back({&ball, twice, "a seam point twice"});
    cases.push_back({&ball, reversed(box(0, 0, 1, 1, 9)), "backwards"});
    Points swapped = box(0, 0, 1, 1, 9);
    std::swap(swapped[2 * 11 + 1], swapped[2 * 13 + 1]);
    cases.push_back({&ball, swapped, "seam points out of order"});
    Points missed = box(0, 0, 1, 1, 9);
    for (int k = 10; k < 18; ++k) missed[2 * k + 1] += 2e-7;
    cases.push_back({&ball, missed, "seam points missing each other"});
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ruvane::TessContext ctx;
        ctx.tol = {0.02, 0.02, 1e-6};
        const FixedMeshed on = mesh_fixed(*k.s, {k.loop}, ctx);
        ctx.rows = false;
        const FixedMeshed off = mesh_fixed(*k.s, {k.loop}, ctx);
        bool same = on.r.status == off.r.status && on.r.tris.size() == off.r.tris.size();
        for (size_t t = 0; same && t < on.r.tris.size(); ++t)
            for (int c = 0; c < 3; ++c)
                same = same && v3(on.r.tris[t].vertex[c].position) == v3(off.r.tris[t].vertex[c].position);
        if (same) continue;
        ASSERT_TRUE(on.r.result);
        EXPECT_EQ(on.r.status, 0);
        EXPECT_EQ(on.left, 0);
        const Eval ev{*k.s};
        const auto [lu, lv] = ev.lengths();
        EXPECT_EQ(mesh_check::check(on.r.raw, on.r.loops, lu, lv, 1e-8 * std::max(lu, lv)), "");
        std::set<int> seen;
        for (const TessTriangle& t : on.r.tris)
            for (const TessVertex& x : t.vertex)
                if (x.reserved > 0) seen.insert(static_cast<int>(x.reserved) - 1);
        EXPECT_EQ(seen.size(), k.loop.size() / 2);
        EXPECT_EQ(closed(on.r.tris, 1e-9), "");
        const auto nearest = [&](const V3& p) {
            return k.s == &ball ? on_ball(6, p) : on_ring(7, 2, p);
        };
        EXPECT_LE(worst_off(on.r.tris, [&](const V3& p) { return norm(p - nearest(p)); }), 0.02);
    }
}

}  // namespace
