// Vertex removal after triangulation: over surface families the mesh stays
// conforming and within the surface tolerance, fixed loop points stay, and
// the triangle count drops.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <set>

#include "nurbs/tessellation/mesh_check.h"
#include "nurbs/tessellation/tess_fixtures.h"
#include "nurbs/tessellation/tess_simplify.h"
#include "nurbs/tessellation/tessellation.h"

namespace {

using namespace tess_fixtures;

// A biquadratic patch over [0, 1]^2, 4 wide, its middle control point at
// height h (0: a plane) and its corners raised by `corner` (a saddle when
// opposite corners go opposite ways).
Surface patch(double h, double twist = 0) {
    Surface s;
    s.u_order = s.v_order = 3;
    s.u_knots = s.v_knots = {0, 0, 0, 1, 1, 1};
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) {
            const double z = i == 1 && j == 1 ? h : (i - 1) * (j - 1) * twist;
            s.points.insert(s.points.end(), {2.0 * i, 2.0 * j, z});
        }
    s.weights.assign(9, 1.0);
    s.outer = rectangle(0, 0, 1, 1, true);
    return s;
}

// A half cylinder of radius r and length 6 (u around, v along).
Surface cylinder(double r) {
    Surface s = half_cylinder(r);
    s.outer = rectangle(0, 0, 1, 1, true);
    return s;
}

struct Meshed {
    Outcome r;
    int32_t left = -1;
};

Meshed mesh(Surface s, const std::vector<Points>& fixed, double A, bool simplify) {
    if (fixed.size() > 1 + s.holes.size()) s.holes.resize(fixed.size() - 1);
    sx::testing::install_counting_host();
    sx::testing::arm(0);
    Meshed f;
    Recorder watch(f.r);
    ruvane::TessContext ctx;
    ctx.tol = {A, A, 1e-6};
    ctx.observer = &watch;
    ctx.simplify = simplify;
    ctx.rows = false;  // vertex removal runs on the general path's meshes
    Desc d(s);
    std::vector<FixedLoopDesc> descs(1 + s.holes.size(), FixedLoopDesc{0, nullptr});
    for (size_t k = 0; k < fixed.size(); ++k)
        descs[k] = {static_cast<int32_t>(fixed[k].size() / 2),
                    fixed[k].empty() ? nullptr : fixed[k].data()};
    f.r.result = ruvane::tessellate_surface(ctx, collect, d.get(), &f.r.status, &f.r,
                                            fixed.empty() ? nullptr : descs.data(), &f.left);
    EXPECT_EQ(sx::testing::counters().live, 0) << "host blocks left over";
    return f;
}

// Distance from p to the triangle abc in space.
double to_triangle(const V3& p, const V3& a, const V3& b, const V3& c) {
    const V3 ab = b - a, ac = c - a, ap = p - a;
    const double d00 = dot(ab, ab), d01 = dot(ab, ac), d11 = dot(ac, ac);
    const double den = d00 * d11 - d01 * d01;
    if (den > 0) {
        const double v = (d11 * dot(ap, ab) - d01 * dot(ap, ac)) / den;
        const double w = (d00 * dot(ap, ac) - d01 * dot(ap, ab)) / den;
        if (v >= 0 && w >= 0 && v + w <= 1) return norm(ap - v * ab - w * ac);
    }
    return std::min({point_segment(p, a, b), point_segment(p, b, c), point_segment(p, c, a)});
}

// The largest distance of the surface at a triangle's edge middles and
// centroid from the mesh near it (the triangles sharing a vertex with it:
// beside a pole a long thin triangle's middle lies over its neighbour).
double deviation(const Surface& s, const std::vector<TessTriangle>& tris) {
    const Eval ev{s};
    const auto [lu, lv] = ev.lengths();
    const double u0 = s.u_knots.front(), u1 = s.u_knots.back();
    const double v0 = s.v_knots.front(), v1 = s.v_knots.back();
    std::map<std::pair<double, double>, std::vector<int>> around;
    for (size_t t = 0; t < tris.size(); ++t)
        for (const TessVertex& x : tris[t].vertex)
            around[{x.u, x.v}].push_back(static_cast<int>(t));
    double worst = 0;
    for (const TessTriangle& t : tris) {
        const TessVertex* x = t.vertex;
        std::set<int> near;
        for (int m = 0; m < 3; ++m)
            for (int o : around[{x[m].u, x[m].v}]) near.insert(o);
        for (int m = 0; m < 4; ++m) {
            double mu = (x[0].u + x[1].u + x[2].u) / 3, mv = (x[0].v + x[1].v + x[2].v) / 3;
            if (m < 3) {
                mu = (x[m].u + x[(m + 1) % 3].u) / 2;
                mv = (x[m].v + x[(m + 1) % 3].v) / 2;
            }
            const V3 p = ev.at(u0 + mu / lu * (u1 - u0), v0 + mv / lv * (v1 - v0));
            double d = HUGE_VAL;
            for (int o : near) {
                const TessVertex* y = tris[o].vertex;
                d = std::min(
                    d, to_triangle(p, v3(y[0].position), v3(y[1].position), v3(y[2].position)));
            }
            worst = std::max(worst, d);
        }
    }
    return worst;
}

TEST(TessSimplify, FewerTrianglesWithinToleranceOverSurfaceFamilies) {
    struct Case {
        const char* name;
        Surface s;
        std::vector<Points> fixed;  // outer, then holes; empty: from the curves
        double A;
        double most;  // simplified over unsimplified triangles, measured with room
    };
    Surface plane = patch(0);
    plane.outer = circle(0.5, 0.5, 0.45, 0.4, true, false);
    Surface holed = patch(1.5);
    holed.holes.push_back(circle(0.3, 0.3, 0.1, 0.1, true, false));
    holed.holes.push_back(rectangle(0.6, 0.6, 0.8, 0.8, true));
    Surface ball = sphere(15);
    ball.outer = rectangle(0, 0, 1, 1, true);
    const Case cases[] = {
        {"trimmed plane (nothing to remove)", plane, {}, 0.001, 1.0},
        {"dome", patch(2), {}, 0.002, 0.56},
        {"saddle", patch(0, 1.5), {}, 0.002, 0.96},
        {"half cylinder (all on the bounds)", cylinder(3), {}, 0.005, 1.0},
        // The cell grid already fits a sphere closely (cut across its bent
        // rows); the pass may take little, never add.
        {"sphere r 15", ball, {}, 0.052, 1.0},
        {"dome with two holes", holed, {}, 0.002, 0.5},
        {"dome, fixed outer and hole",
         patch(2),
         {ring(0.5, 0.5, 0.45, 120), ring(0.5, 0.5, 0.2, 40)},
         0.002,
         0.6},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const Meshed plain = mesh(k.s, k.fixed, k.A, false);
        const Meshed fewer = mesh(k.s, k.fixed, k.A, true);
        ASSERT_TRUE(plain.r.result && fewer.r.result);
        ASSERT_EQ(fewer.r.status, 0);
        ASSERT_EQ(fewer.r.tessellations, 1);
        const Eval ev{k.s};
        const auto [lu, lv] = ev.lengths();
        const double tol = 2e-8 * std::max(lu, lv);
        EXPECT_EQ(mesh_check::check(fewer.r.raw, fewer.r.loops, lu, lv, tol), "");
        EXPECT_EQ(fewer.r.tris.size(), fewer.r.raw.tri.size());
        const double worst = deviation(k.s, fewer.r.tris);
        EXPECT_LE(worst, k.A);
        // Every fixed point is still a vertex, and no more are left between.
        if (!k.fixed.empty()) {
            std::set<int> ids;
            for (const TessTriangle& t : fewer.r.tris)
                for (const TessVertex& x : t.vertex)
                    if (x.reserved > 0) ids.insert(static_cast<int>(x.reserved));
            size_t points = 0;
            for (const Points& p : k.fixed) points += p.size() / 2;
            EXPECT_EQ(ids.size(), points);
            EXPECT_LE(fewer.left, plain.left);
        }
        const double ratio =
            static_cast<double>(fewer.r.tris.size()) / static_cast<double>(plain.r.tris.size());
        std::printf("%-36s %6zu -> %6zu triangles, worst %.3f A\n", k.name, plain.r.tris.size(),
                    fewer.r.tris.size(), worst / k.A);
        EXPECT_LE(ratio, k.most);
    }
}

// A pole is a whole domain edge with one point in space, and the cell grid
// leaves a copy of it wherever a column line meets that edge, each cell on
// the edge a triangle of no area. The removal joins the copies between the
// edge's two domain corners into those, so each pole keeps the one triangle
// of no area on the edge between them; in space the mesh is otherwise that
// of the collapses elsewhere, within A.
TEST(TessSimplify, PoleCopiesJoinUntilOneFlatTriangleIsLeftPerPole) {
    struct Case {
        const char* name;
        Surface s;
        double A;
        int poles;
    };
    Surface ball = sphere(15);
    ball.outer = rectangle(0, 0, 1, 1, true);
    Surface corner = sphere(3);  // the quarter from a pole to the equator
    corner.outer = rectangle(0, 0, 0.25, 0.5, true);
    const Case cases[] = {{"sphere r 15", ball, 0.052, 2},
                          {"sphere r 15, finer", ball, 0.01, 2},
                          {"ball's corner", corner, 0.0949, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const Meshed plain = mesh(k.s, {}, k.A, false);
        const Meshed fewer = mesh(k.s, {}, k.A, true);
        ASSERT_TRUE(plain.r.result && fewer.r.result);
        ASSERT_EQ(fewer.r.status, 0);
        const Eval ev{k.s};
        const auto [lu, lv] = ev.lengths();
        EXPECT_EQ(mesh_check::check(fewer.r.raw, fewer.r.loops, lu, lv, 2e-8 * std::max(lu, lv)),
                  "");
        EXPECT_LE(deviation(k.s, fewer.r.tris), k.A);
        auto flat = [&](const std::vector<TessTriangle>& tris) {
            int n = 0;
            for (const TessTriangle& t : tris) n += triangle_area(t) < 1e-12 * k.A * k.A;
            return n;
        };
        // The grid leaves more, or the case does not show the joining.
        EXPECT_GT(flat(plain.r.tris), k.poles);
        EXPECT_EQ(flat(fewer.r.tris), k.poles);
    }
}

// The normals after the removal reuse the points and derivatives it
// evaluated: a kept vertex carries, bit for bit, the point and normal it has
// in the mesh made without removal (where the driver evaluates every vertex
// itself), seam vertices of a closed surface included. At a degenerate
// vertex each triangle has its own normal, so only the point is compared.
TEST(TessSimplify, KeptVerticesCarryThePointAndNormalOfTheUnremovedMesh) {
    struct Case {
        const char* name;
        Surface s;
        double A;
    };
    Surface ball = sphere(15);
    ball.outer = rectangle(0, 0, 1, 1, true);
    // A hole, so that removal has vertices to take: the whole ball's cells
    // are sized to the tolerance and leave it none.
    ball.holes.push_back(circle(0.5, 0.5, 0.1, 0.1, false, true));
    const Case cases[] = {{"dome", patch(2), 0.002},
                          {"saddle", patch(0, 1.5), 0.002},
                          {"sphere r 15 with a hole, seam and poles", ball, 0.052}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const Meshed plain = mesh(k.s, {}, k.A, false);
        const Meshed fewer = mesh(k.s, {}, k.A, true);
        ASSERT_TRUE(plain.r.result && fewer.r.result);
        ASSERT_LT(fewer.r.tris.size(), plain.r.tris.size());
        std::map<std::pair<double, double>, std::vector<const TessVertex*>> before;
        for (const TessTriangle& t : plain.r.tris)
            for (const TessVertex& x : t.vertex) before[{x.u, x.v}].push_back(&x);
        int compared = 0;
        for (const TessTriangle& t : fewer.r.tris)
            for (const TessVertex& x : t.vertex) {
                const auto at = before.find({x.u, x.v});
                ASSERT_NE(at, before.end()) << "a vertex the unremoved mesh does not have";
                const std::vector<const TessVertex*>& was = at->second;
                const bool one_normal =
                    std::all_of(was.begin(), was.end(), [&](const TessVertex* y) {
                        return std::equal(y->normal, y->normal + 3, was[0]->normal);
                    });
                for (int c = 0; c < 3; ++c) {
                    EXPECT_EQ(x.position[c], was[0]->position[c]);
                    if (one_normal) {
                        EXPECT_EQ(x.normal[c], was[0]->normal[c]);
                    }
                }
                compared += one_normal;
            }
        EXPECT_GT(compared, 0);
    }
}

// A biquadratic patch over the metric plane [0, 4]^2 as the removal takes
// it, its middle control point at height h (0: a plane).
struct MetricPatch {
    explicit MetricPatch(double h) {
        for (int i = 0; i < 3; ++i) {
            rows[i] = &points[3 * i];
            for (int j = 0; j < 3; ++j)
                rows[i][j] = {2.0 * i, 2.0 * j, i == 1 && j == 1 ? h : 0.0, ruvane::kNonRationalW};
        }
    }
    MetricPatch(const MetricPatch&) = delete;
    MetricPatch& operator=(const MetricPatch&) = delete;
    double knots[6] = {0, 0, 0, 4, 4, 4};
    ruvane::Point4 points[9];
    ruvane::Point4* rows[3];
    ruvane::KnotVector uk{5, knots, 5}, vk{5, knots, 5};
    ruvane::ControlNet net{2, 2, rows, 2, 2};
    ruvane::Surface sur{&net, 2, 2, &uk, &vk};
};

// The removal and the turns of diagonals visit vertices and edges by
// position, never by number: a grid mesh of a dome numbered and listed in
// another order (corners rotated too) comes out as the same triangles.
TEST(TessSimplify, ResultDoesNotHangOnHowTheMeshIsNumbered) {
    using namespace ruvane;
    using tess::Tri;
    sx::testing::install_counting_host();
    sx::testing::arm(0);
    // A dome 0.5 high.
    const MetricPatch dome(2.0);
    const ruvane::Surface& sur = dome.sur;
    constexpr int n = 17;
    std::vector<double> u, v;
    std::vector<Tri> grid;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            u.push_back(4.0 * i / (n - 1));
            v.push_back(4.0 * j / (n - 1));
            if (i + 1 < n && j + 1 < n) {
                const int a = j * n + i;
                grid.push_back({a, a + 1, a + n + 1});
                grid.push_back({a, a + n + 1, a + n});
            }
        }
    // The triangles left, as corner positions from the smallest one on.
    using Corners = std::array<std::pair<double, double>, 3>;
    auto simplify = [&](const std::vector<int>& id, const std::vector<Tri>& list) {
        std::vector<double> pu(n * n), pv(n * n);
        for (int k = 0; k < n * n; ++k) pu[id[k]] = u[k], pv[id[k]] = v[k];
        tess::Scratch s;
        tess::Table<Tri> tris;
        for (const Tri& t : list) EXPECT_TRUE(tris.push(s, t));
        tess::SimplifyInput in{&sur, pu.data(), pv.data(), n * n, 4.0, 4.0, 0.004, nullptr, {}};
        int removed = 0;
        EXPECT_EQ(tess::simplify_mesh(s, in, tris, &removed), 0);
        EXPECT_GT(removed, n);
        std::vector<Corners> out;
        for (int t = 0; t < tris.size; ++t) {
            Corners c{{{pu[tris[t].a], pv[tris[t].a]},
                       {pu[tris[t].b], pv[tris[t].b]},
                       {pu[tris[t].c], pv[tris[t].c]}}};
            std::rotate(c.begin(), std::min_element(c.begin(), c.end()), c.end());
            out.push_back(c);
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    std::vector<int> same(n * n);
    for (int k = 0; k < n * n; ++k) same[k] = k;
    const std::vector<Corners> first = simplify(same, grid);
    ASSERT_LT(first.size(), grid.size());
    std::mt19937 rng(11);
    for (int round = 0; round < 3; ++round) {
        std::vector<int> id = same;
        std::shuffle(id.begin(), id.end(), rng);
        std::vector<Tri> list;
        for (const Tri& t : grid) {
            const Tri r{id[t.a], id[t.b], id[t.c]};
            const int turn = static_cast<int>(rng() % 3);
            list.push_back(turn == 0 ? r : turn == 1 ? Tri{r.b, r.c, r.a} : Tri{r.c, r.a, r.b});
        }
        std::shuffle(list.begin(), list.end(), rng);
        EXPECT_EQ(simplify(id, list), first) << "round " << round;
    }
}

// On a plane every vertex may go but those that shape the domain: the
// corners, and a vertex where two parts of the mesh touch (its fan is two
// chains, and moving it would tear them apart or fold one onto the other).
TEST(TessSimplify, CornersAndTouchingPointsStayOnAPlane) {
    namespace tess = ruvane::tess;
    using tess::Tri;
    const MetricPatch plane(0.0);
    sx::testing::install_counting_host();
    sx::testing::arm(0);
    // Two 4 x 4 squares of cells, [0, 2]^2 and [2, 4]^2: they share (2, 2)
    // alone. Cells are split along alternating diagonals.
    constexpr int n = 9;
    std::vector<double> u, v;
    tess::Scratch s;
    tess::Table<Tri> tris;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) u.push_back(0.5 * i), v.push_back(0.5 * j);
    for (int j = 0; j + 1 < n; ++j)
        for (int i = 0; i + 1 < n; ++i) {
            if ((i < 4) != (j < 4)) continue;
            const int a = j * n + i;
            const bool flip = (i + j) % 2 == 1;
            ASSERT_TRUE(tris.push(s, flip ? Tri{a, a + 1, a + n} : Tri{a, a + 1, a + n + 1}));
            ASSERT_TRUE(
                tris.push(s, flip ? Tri{a + 1, a + n + 1, a + n} : Tri{a, a + n + 1, a + n}));
        }
    const int before = tris.size;
    tess::SimplifyInput in{&plane.sur, u.data(), v.data(), n * n, 4.0, 4.0, 0.01, nullptr, {}};
    int removed = 0;
    ASSERT_EQ(tess::simplify_mesh(s, in, tris, &removed), 0);
    EXPECT_GT(removed, 30);
    EXPECT_LT(tris.size, before / 4);
    std::set<int> used;
    double area = 0.0;
    for (int t = 0; t < tris.size; ++t) {
        const Tri& r = tris[t];
        const double twice =
            (u[r.b] - u[r.a]) * (v[r.c] - v[r.a]) - (v[r.b] - v[r.a]) * (u[r.c] - u[r.a]);
        EXPECT_GT(twice, 0.0) << "triangle " << t << " turned or flat";
        area += 0.5 * twice;
        used.insert({r.a, r.b, r.c});
    }
    EXPECT_NEAR(area, 8.0, 1e-12);
    for (int corner : {0, 4, 4 * n, 4 * n + 4, 4 * n + 8, 8 * n + 4, 8 * n + 8})
        EXPECT_TRUE(used.count(corner)) << "corner (" << u[corner] << ", " << v[corner] << ") went";
}

}  // namespace
