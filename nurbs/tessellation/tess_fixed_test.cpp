// Trim loops given as fixed boundary polylines: their points become mesh
// vertices, numbered as the caller gave them, and nothing else stays on them.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <set>

#include "nurbs/tessellation/mesh_check.h"
#include "nurbs/tessellation/tess_fixtures.h"
#include "nurbs/tessellation/tessellation.h"

namespace {

using namespace tess_fixtures;

// A biquadratic bump over [0, 1]^2, 4 wide, its middle raised by 2.
Surface bump() {
    Surface s;
    s.u_order = s.v_order = 3;
    s.u_knots = s.v_knots = {0, 0, 0, 1, 1, 1};
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            s.points.insert(s.points.end(), {2.0 * i, 2.0 * j, i == 1 && j == 1 ? 2.0 : 0.0});
    s.weights.assign(9, 1.0);
    s.outer = rectangle(0, 0, 1, 1, true);
    return s;
}

struct Fixed {
    Outcome r;
    int32_t left = -1;
};

// Holes that only the fixed loops describe come with no curves.
// Through the context (watched), or through the export.
Fixed tessellate_fixed(Surface s, const std::vector<Points>& loops, double A,
                       bool exported = false) {
    if (loops.size() > 1 + s.holes.size()) s.holes.resize(loops.size() - 1);
    sx::testing::install_counting_host();
    sx::testing::arm(0);
    Fixed f;
    Recorder watch(f.r);
    ruvane::TessContext ctx;
    ctx.tol = {A, A, 1e-6};
    ctx.observer = &watch;
    Desc d(s);
    std::vector<FixedLoopDesc> descs(1 + s.holes.size(), FixedLoopDesc{0, nullptr});
    for (size_t k = 0; k < loops.size(); ++k)
        descs[k] = {static_cast<int32_t>(loops[k].size() / 2),
                    loops[k].empty() ? nullptr : loops[k].data()};
    if (exported)
        f.r.result = ruvane_tesselate_fixed(collect, d.get(), descs.data(), &f.r.status, A, A, 1e-6,
                                            &f.r, &f.left);
    else
        f.r.result = ruvane::tessellate_surface(ctx, collect, d.get(), &f.r.status, &f.r,
                                                descs.data(), &f.left);
    EXPECT_EQ(sx::testing::counters().live, 0) << "host blocks left over";
    return f;
}

TEST(TessFixed, FixedLoopPointsAreTheOnlyVerticesOnTheLoop) {
    struct Case {
        const char* name;
        Surface s;
        std::vector<Points> fixed;  // outer, then holes; empty: from the curves
        double A;
    };
    Surface sphere_band = sphere(4);
    sphere_band.outer = rectangle(0, 0.1, 1, 0.9, true);
    Surface holed = bump();
    holed.holes.push_back(circle(0.3, 0.3, 0.1, 0.1, true, false));
    holed.holes.push_back(rectangle(0.6, 0.6, 0.8, 0.8, true));
    Surface flat = bump();
    flat.points[3 * 4 + 2] = 0;  // a plane: never subdivided
    const Case cases[] = {
        {"plane, long fixed outer loop", flat, {ring(0.5, 0.5, 0.45, 300)}, 0.01},
        {"bump, domain boundary and round hole fixed",
         bump(),
         {box(0, 0, 1, 1, 9), ring(0.5, 0.5, 0.2, 40)},
         0.002},
        {"bump, outer given clockwise inside the domain",
         bump(),
         {reversed(box(0.05, 0.1, 0.95, 0.9, 13))},
         0.004},
        {"bump, curve hole beside a fixed one",
         holed,
         {{}, {}, reversed(box(0.6, 0.6, 0.8, 0.8, 5))},
         0.002},
        {"sphere band, outer along the seam fixed", sphere_band, {box(0, 0.1, 1, 0.9, 24)}, 0.01},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Fixed f = tessellate_fixed(c.s, c.fixed, c.A);
        const Outcome& r = f.r;
        ASSERT_TRUE(r.result);
        ASSERT_EQ(r.tessellations, 1);
        EXPECT_EQ(r.status, 0);
        const Eval ev{c.s};
        const auto [lu, lv] = ev.lengths();
        const double tol = 1e-8 * std::max(lu, lv);
        EXPECT_EQ(mesh_check::check(r.raw, r.loops, lu, lv, tol), "");
        // Numbers of the fixed points, and which observed loops are fixed.
        int points = 0;
        std::vector<int> fixed_loops;
        for (size_t k = 0; k < c.fixed.size(); ++k) {
            points += static_cast<int>(c.fixed[k].size() / 2);
            if (!c.fixed[k].empty()) fixed_loops.push_back(static_cast<int>(k));
        }
        std::set<int> seen;
        std::set<std::pair<double, double>> left, loose_on_loop;
        const double u0 = c.s.u_knots.front(), u1 = c.s.u_knots.back();
        const double v0 = c.s.v_knots.front(), v1 = c.s.v_knots.back();
        double worst = 0;
        for (const TessTriangle& t : r.tris) {
            for (const TessVertex& x : t.vertex) {
                const int id = static_cast<int>(x.reserved);
                if (id > 0) seen.insert(id);
                if (id == -1) left.insert({x.u, x.v});
                if (id != 0) continue;
                for (int k : fixed_loops) {
                    const mesh_check::Poly& p = r.loops[static_cast<size_t>(k)];
                    for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
                        if (mesh_check::seg_distance({x.u, x.v}, p[j], p[i]) <= tol)
                            loose_on_loop.insert({x.u, x.v});
                }
            }
            // The surface at the centroid within A of the triangle's plane.
            const V3 a = v3(t.vertex[0].position), b = v3(t.vertex[1].position),
                     e = v3(t.vertex[2].position);
            const double cu = (t.vertex[0].u + t.vertex[1].u + t.vertex[2].u) / 3;
            const double cv = (t.vertex[0].v + t.vertex[1].v + t.vertex[2].v) / 3;
            const V3 p = ev.at(u0 + cu / lu * (u1 - u0), v0 + cv / lv * (v1 - v0));
            const V3 n = cross(b - a, e - a);
            if (norm(n) > 0) worst = std::max(worst, std::fabs(dot(p - a, n)) / norm(n));
        }
        EXPECT_EQ(static_cast<int>(seen.size()), points) << "fixed points without their vertex";
        EXPECT_TRUE(seen.empty() || (*seen.begin() == 1 && *seen.rbegin() == points));
        EXPECT_TRUE(loose_on_loop.empty())
            << loose_on_loop.size() << " unmarked vertices on a loop";
        EXPECT_EQ(static_cast<int>(left.size()), f.left);
        EXPECT_LE(worst, c.A * (1 + 1e-9));
        std::printf("[ %s: %zu triangles, %d vertices left on fixed loops ]\n", c.name,
                    r.tris.size(), f.left);
    }
}

TEST(TessFixed, ExportSetsTheStatusOfUnusableFixedLoops) {
    const Points two = {0.1, 0.1, 0.9, 0.9};
    Points nan = ring(0.5, 0.5, 0.2, 8);
    nan[5] = std::nan("");
    const struct {
        std::vector<Points> fixed;
        int32_t status;
    } cases[] = {{{two}, RUVANE_TESS_BAD_OUTER_CURVE},
                 {{{}, nan}, RUVANE_TESS_BAD_HOLE_CURVE},
                 {{box(0, 0, 1, 1, 2), two}, RUVANE_TESS_BAD_HOLE_CURVE},
                 {{box(0, 0, 1, 1, 2), ring(0.5, 0.5, 0.2, 8)}, RUVANE_TESS_OK}};
    Surface s = bump();
    s.holes.push_back(circle(0.5, 0.5, 0.2, 0.2, false, false));
    for (const auto& c : cases) {
        const Fixed f = tessellate_fixed(s, c.fixed, 0.01, true);
        EXPECT_TRUE(f.r.result);
        EXPECT_EQ(f.r.status, c.status);
        EXPECT_EQ(f.r.tris.empty(), c.status != RUVANE_TESS_OK);
    }
}

}  // namespace

namespace {

// Storage refused at any allocation of a fixed-loop call (its polylines,
// the settling of the loops, the numbers handed back): no leak, no crash,
// and a mesh either whole or absent. Every allocation in turn: a step that
// takes one refusal in its stride (a lattice left unlaid) gives another
// mesh, and a sample of them can miss it.
TEST(TessFixed, StorageFailureAtAnyAllocationIsClean) {
    Surface s = bump();
    s.holes.resize(1);
    const Points outer = box(0, 0, 1, 1, 6), hole = ring(0.5, 0.5, 0.2, 24);
    const FixedLoopDesc loops[] = {{static_cast<int32_t>(outer.size() / 2), outer.data()},
                                   {static_cast<int32_t>(hole.size() / 2), hole.data()}};
    sx::testing::install_counting_host();
    Desc d(s);
    auto attempt = [&](long fail_at) { return fixed_refusing(d.get(), loops, fail_at); };
    const Outcome full = attempt(0);
    ASSERT_TRUE(full.result);
    ASSERT_FALSE(full.tris.empty());
    const long total = sx::testing::counters().calls;
    for (long k = 1; k <= total; ++k) {
        const Outcome seen = attempt(k);
        if (seen.result && seen.status == 0 && !seen.tris.empty()) {
            EXPECT_EQ(seen.tris.size(), full.tris.size()) << "allocation " << k;
        }
    }
    sx::testing::arm(0);
}

}  // namespace

namespace {

// How often each directed mesh edge is run, vertices joined by position
// within `grain` (the caller's two copies of a seam point may differ in the
// last bit); triangles folded to a point or a line (at a pole) left out.
std::map<std::pair<int, int>, int> runs_by_position(const std::vector<TessTriangle>& tris,
                                                    double grain) {
    std::map<std::array<long long, 3>, int> id;
    std::map<std::pair<int, int>, int> runs;
    for (const TessTriangle& t : tris) {
        int k[3];
        for (int c = 0; c < 3; ++c) {
            std::array<long long, 3> key;
            for (int i = 0; i < 3; ++i) key[i] = std::llround(t.vertex[c].position[i] / grain);
            k[c] = id.emplace(key, static_cast<int>(id.size())).first->second;
        }
        if (k[0] == k[1] || k[1] == k[2] || k[2] == k[0]) continue;
        for (int c = 0; c < 3; ++c) ++runs[{k[c], k[(c + 1) % 3]}];
    }
    return runs;
}

// Mesh edges not run exactly once each way, joined as above.
int open_by_position(const std::vector<TessTriangle>& tris, double grain) {
    const auto runs = runs_by_position(tris, grain);
    int open = 0;
    for (const auto& [e, n] : runs) {
        const auto back = runs.find({e.second, e.first});
        open += n != 1 || back == runs.end() || back->second != 1;
    }
    return open;
}

// A ball meshed whole, its loop the domain's boundary with few or many
// points on the seam (a meridian the face runs up and down): the vertices
// the cells leave on the seam go or stay in pairs, a kept pair with one
// point, so that the triangles joined by position close across the seam,
// pole to pole. Where the seam's chords stray no more than A / 4 from
// the ball (the seam as dense as the cells need) every pair goes onto the
// copies of a seam point.
TEST(TessFixed, SeamVerticesSettleInPairsAndCloseTheBall) {
    for (const int per_side : {2, 3, 5, 33, 65}) {
        for (const double A : {0.05, 0.01, 0.002}) {
            const double chord = 6 * kPi / per_side, sag = chord * chord / (8 * 6);
            SCOPED_TRACE("seam points " + std::to_string(per_side) + ", A " + std::to_string(A));
            Surface s = sphere(6);
            s.outer = rectangle(0, 0, 1, 1, true);
            const Fixed f = tessellate_fixed(s, {box(0, 0, 1, 1, per_side)}, A);
            ASSERT_TRUE(f.r.result);
            ASSERT_FALSE(f.r.tris.empty());
            // Positions on each side of the seam, by v: the cells' own seam
            // vertices must agree exactly.
            std::map<double, std::array<double, 3>> low, high;
            double lu = 0;
            for (const TessTriangle& t : f.r.tris)
                for (const TessVertex& x : t.vertex) lu = std::max(lu, x.u);
            int kept = 0;
            for (const TessTriangle& t : f.r.tris)
                for (const TessVertex& x : t.vertex) {
                    const std::array<double, 3> p{x.position[0], x.position[1], x.position[2]};
                    if (x.reserved <= 0 && x.u == 0) low[x.v] = p;
                    if (x.reserved <= 0 && x.u == lu) high[x.v] = p;
                    kept += x.reserved == -1 && (x.u == 0 || x.u == lu);
                }
            EXPECT_EQ(low, high) << "seam vertices without their partner's point";
            if (sag <= A / 4) {
                EXPECT_EQ(kept, 0) << "cell vertices kept on a dense seam";
            }
            EXPECT_EQ(open_by_position(f.r.tris, 6e-9), 0) << "edges not run once each way";
        }
    }
}

// A torus (7 about its axis, tube 2) closed both ways, its loop the
// domain's boundary: two seams, one round the tube and one round the axis
// on the outer equator, crossing at the domain's corners. The mesh closes
// across both; with the loop's chords within A / 4 of the torus no cell
// vertex stays on either seam.
TEST(TessFixed, SeamPairsOnBothSeamsOfATorus) {
    Surface s;
    s.u_order = s.v_order = 3;
    s.u_knots = s.v_knots = kCircleKnots;
    for (const auto& c : kCircle) circle_row(7 + 2 * c[0], 2 * c[1], c[2], s);
    s.closed_u = s.closed_v = true;
    s.outer = rectangle(0, 0, 1, 1, true);
    for (const int per_side : {5, 64}) {
        for (const double A : {0.05, 0.02}) {
            SCOPED_TRACE("seam points " + std::to_string(per_side) + ", A " + std::to_string(A));
            const double chord = 2 * kPi * 9 / per_side, sag = chord * chord / (8 * 9);
            const Fixed f = tessellate_fixed(s, {box(0, 0, 1, 1, per_side)}, A);
            ASSERT_TRUE(f.r.result);
            ASSERT_EQ(f.r.status, 0);
            double lu = 0, lv = 0;
            for (const TessTriangle& t : f.r.tris)
                for (const TessVertex& x : t.vertex) lu = std::max(lu, x.u), lv = std::max(lv, x.v);
            int kept = 0;
            for (const TessTriangle& t : f.r.tris)
                for (const TessVertex& x : t.vertex)
                    kept += x.reserved == -1 && (x.u == 0 || x.u == lu || x.v == 0 || x.v == lv);
            if (sag <= A / 4) {
                EXPECT_EQ(kept, 0) << "cell vertices kept on a dense seam";
            }
            EXPECT_EQ(open_by_position(f.r.tris, 9e-9), 0) << "edges not run once each way";
        }
    }
}

}  // namespace

namespace {

// Loops of few points on a ball: long chords, the triangles along them
// already farther than A from the surface, many cell vertices to settle and
// many ears tried. The mesh stays whole (edges run once each way, nothing
// folded), keeps every fixed point, and marks exactly the vertices it left
// on the loop.
TEST(TessFixed, SparseLoopsOnABallSettleIntoAWholeMesh) {
    for (const int points : {2, 3, 5}) {
        for (const double A : {0.05, 0.01, 0.002}) {
            SCOPED_TRACE("points " + std::to_string(points) + ", A " + std::to_string(A));
            Surface s = sphere(4);
            s.outer = rectangle(0, 0.1, 1, 0.9, true);
            const Points loop = box(0.05, 0.15, 0.95, 0.85, points);
            const Fixed f = tessellate_fixed(s, {loop}, A);
            ASSERT_TRUE(f.r.result);
            ASSERT_EQ(f.r.status, 0);
            const Eval ev{s};
            const auto [lu, lv] = ev.lengths();
            EXPECT_EQ(mesh_check::check(f.r.raw, f.r.loops, lu, lv, 1e-8 * std::max(lu, lv)), "");
            std::set<int> ids;
            std::set<std::pair<double, double>> left;
            for (const TessTriangle& t : f.r.tris)
                for (const TessVertex& x : t.vertex) {
                    if (x.reserved > 0) ids.insert(static_cast<int>(x.reserved));
                    if (x.reserved == -1) left.insert({x.u, x.v});
                }
            EXPECT_EQ(static_cast<int>(ids.size()), static_cast<int>(loop.size() / 2));
            EXPECT_EQ(static_cast<int>(left.size()), f.left);
        }
    }
}

// The bump's sides are straight lines on the surface: a vertex the mesh
// puts on one between fixed points can go (collapsed along the side, or
// its star filled anew) without leaving the surface. With the fixed points
// a fifth of a side apart or nearer, none is left, whichever vertices'
// stars were filled anew before (a refilled star's triangle is then
// reachable twice from its vertices, and counts once).
TEST(TessFixed, StraightSidesOfDenseFixedLoopsKeepNoOtherVertex) {
    for (const int points : {5, 9, 17, 33}) {
        for (const double A : {0.05, 0.01, 0.002}) {
            SCOPED_TRACE("points " + std::to_string(points) + ", A " + std::to_string(A));
            const Surface s = bump();
            const Points loop = box(0, 0, 1, 1, points);
            const Fixed f = tessellate_fixed(s, {loop}, A);
            ASSERT_TRUE(f.r.result);
            ASSERT_EQ(f.r.status, 0);
            EXPECT_EQ(f.left, 0);
            int others = 0;
            for (const TessTriangle& t : f.r.tris)
                for (const TessVertex& x : t.vertex) others += x.reserved == -1;
            EXPECT_EQ(others, 0);
        }
    }
}

}  // namespace

namespace {

// Directed edges run more than once the same way, vertices joined by
// position as in open_by_position (free edges are not counted: a face
// with an open rim).
int doubled_by_position(const std::vector<TessTriangle>& tris, double grain) {
    int doubled = 0;
    for (const auto& [e, n] : runs_by_position(tris, grain)) doubled += n > 1;
    return doubled;
}

// A cone of radius 5 and height 4 about z, closed in u, its apex at v = 0
// (`apex_first`) or at v = 1.
Surface cone(bool apex_first) {
    Surface s;
    s.u_order = 3;
    s.v_order = 2;
    s.u_knots = kCircleKnots;
    s.v_knots = {0, 0, 1, 1};
    circle_row(apex_first ? 0 : 5, apex_first ? 4 : 0, 1, s);
    circle_row(apex_first ? 5 : 0, apex_first ? 0 : 4, 1, s);
    s.closed_u = true;
    return s;
}

// A side collapsed to one point (a ball's pole, a cone's apex) carrying
// many fixed points beside a side of many points (a seam, or a meridian
// two faces share): the cells fan out from the pole's points to the next
// side's, each such triangle along that side's curve; joined by position,
// the faces on either side of it doubled each other's edges. Whichever
// way the loop runs, the pole's points fan out to inner vertices instead:
// the whole ball closes, two half balls meshed apart close together, and
// no cone edge is run twice the same way.
TEST(TessFixed, PolesOfManyFixedPointsFanOutToInnerVertices) {
    for (const int per_side : {65, 129}) {
        for (const double A : {0.2, 0.05, 0.01}) {
            for (const bool turned : {false, true}) {
                auto loop = [&](double u0, double u1) {
                    const Points p = box(u0, 0, u1, 1, per_side);
                    return turned ? reversed(p) : p;
                };
                SCOPED_TRACE("points " + std::to_string(per_side) + ", A " + std::to_string(A) +
                             (turned ? ", clockwise" : ""));
                Surface ball = sphere(6);
                ball.outer = rectangle(0, 0, 1, 1, true);
                const Fixed whole = tessellate_fixed(ball, {loop(0, 1)}, A);
                ASSERT_FALSE(whole.r.tris.empty());
                EXPECT_EQ(open_by_position(whole.r.tris, 6e-9), 0) << "whole ball";
                std::vector<TessTriangle> halves;
                for (const double u0 : {0.0, 0.5}) {
                    Surface half = sphere(6);
                    half.outer = rectangle(u0, 0, u0 + 0.5, 1, true);
                    const Fixed f = tessellate_fixed(half, {loop(u0, u0 + 0.5)}, A);
                    ASSERT_FALSE(f.r.tris.empty());
                    halves.insert(halves.end(), f.r.tris.begin(), f.r.tris.end());
                }
                EXPECT_EQ(open_by_position(halves, 6e-9), 0) << "two half balls";
                for (const bool apex_first : {true, false}) {
                    Surface c = cone(apex_first);
                    c.outer = rectangle(0, 0, 1, 1, true);
                    const Fixed f = tessellate_fixed(c, {loop(0, 1)}, A);
                    ASSERT_FALSE(f.r.tris.empty());
                    EXPECT_EQ(doubled_by_position(f.r.tris, 6e-9), 0)
                        << "cone, apex at v = " << (apex_first ? 0 : 1);
                }
            }
        }
    }
}

}  // namespace

namespace {

// Triangles of the delivered mesh, in the parameter plane, that are
// folded (not counter-clockwise, or without area) or repeat an edge one
// way; vertices joined by their (u, v).
int folded_or_repeated(const std::vector<TessTriangle>& tris) {
    std::map<std::pair<double, double>, int> id;
    std::map<std::pair<int, int>, int> runs;
    int bad = 0;
    for (const TessTriangle& t : tris) {
        int k[3];
        for (int c = 0; c < 3; ++c)
            k[c] = id.emplace(std::pair{t.vertex[c].u, t.vertex[c].v}, static_cast<int>(id.size()))
                       .first->second;
        const mesh_check::P2 a{t.vertex[0].u, t.vertex[0].v}, b{t.vertex[1].u, t.vertex[1].v},
            c{t.vertex[2].u, t.vertex[2].v};
        bad += !(mesh_check::cross(a, b, c) > 0);
        for (int e = 0; e < 3; ++e) bad += ++runs[{k[e], k[(e + 1) % 3]}] == 2;
    }
    return bad;
}

// Fixed loops as a hostile file could give them: too few points, points
// repeated, all one point, crossing or touching themselves or each other,
// outside the domain, on a line, non-finite or huge coordinates. On a
// curved face (the boundary-only path, then the cells) and a flat one (the
// plane's triangulation), through the export and the context: a clean
// refusal (a loop's status, no triangles) or a mesh without a folded or
// repeated triangle, never a crash.
TEST(TessFixed, HostileFixedLoopsAreRefusedOrMeshedCleanly) {
    const double nan = std::nan(""), inf = INFINITY;
    auto doubled = [](const Points& p) {
        Points out;
        for (size_t i = 0; i < p.size(); i += 2)
            out.insert(out.end(), {p[i], p[i + 1], p[i], p[i + 1]});
        return out;
    };
    auto with = [](Points p, size_t at, double x) {
        p[at] = x;
        return p;
    };
    const struct {
        const char* name;
        std::vector<Points> fixed;  // outer, then holes
        // The region is the outer loop less the holes, each loop simple:
        // the mesh must then fill it exactly.
        bool simple = false;
    } cases[] = {
        {"one point", {{0.5, 0.5}}},
        {"three equal points", {{0.5, 0.5, 0.5, 0.5, 0.5, 0.5}}},
        {"every point twice", {doubled(box(0, 0, 1, 1, 5))}, true},
        {"running clockwise", {reversed(box(0.1, 0.1, 0.9, 0.9, 5))}, true},
        {"a point repeated ten thousand times", {Points(20000, 0.25)}},
        {"figure of eight", {{0.1, 0.1, 0.9, 0.9, 0.9, 0.1, 0.1, 0.9}}},
        {"touching itself at a point",
         {{0.1, 0.1, 0.5, 0.5, 0.9, 0.1, 0.9, 0.9, 0.5, 0.5, 0.1, 0.9}},
         true},
        {"on a line", {{0.1, 0.1, 0.5, 0.5, 0.9, 0.9}}},
        {"wholly outside the domain", {{2, 2, 3, 2, 3, 3, 2, 3}}},
        {"straddling the domain", {box(-0.5, -0.5, 0.5, 0.5, 4)}, true},
        {"a NaN", {with(box(0, 0, 1, 1, 3), 4, nan)}},
        {"an infinity", {with(box(0, 0, 1, 1, 3), 7, inf)}},
        {"huge coordinates", {with(with(box(0, 0, 1, 1, 3), 2, 1e300), 9, -1e300)}, true},
        {"a loop a millionth of a millionth wide", {box(0.5, 0.5, 0.5 + 1e-12, 0.5 + 1e-12, 3)}},
        {"hole crossing the outer loop",
         {box(0.2, 0.2, 0.8, 0.8, 4), box(0.6, 0.6, 0.95, 0.95, 4)}},
        {"hole touching the outer loop",
         {box(0.2, 0.2, 0.8, 0.8, 4), box(0.5, 0.2, 0.7, 0.4, 4)},
         true},
        {"hole on the outer loop",
         {box(0.2, 0.2, 0.8, 0.8, 4), reversed(box(0.2, 0.2, 0.8, 0.8, 4))}},
        {"holes crossing each other",
         {box(0, 0, 1, 1, 4), ring(0.4, 0.5, 0.2, 12, false), ring(0.6, 0.5, 0.2, 12, false)}},
        {"hole running the outer loop's way", {box(0, 0, 1, 1, 4), ring(0.5, 0.5, 0.2, 12)}, true},
        {"hole outside the outer loop",
         {box(0.1, 0.1, 0.4, 0.4, 4), ring(0.7, 0.7, 0.1, 12, false)}},
    };
    Surface curved = bump();
    Surface flat = bump();
    flat.points[3 * 4 + 2] = 0;
    for (const auto& c : cases) {
        for (const Surface* s : {&curved, &flat}) {
            for (const bool exported : {false, true}) {
                SCOPED_TRACE(std::string(c.name) + (s == &flat ? ", flat" : ", curved") +
                             (exported ? ", export" : ""));
                const Fixed f = tessellate_fixed(*s, c.fixed, 0.01, exported);
                EXPECT_TRUE(f.r.result);
                if (f.r.status != RUVANE_TESS_OK) {
                    EXPECT_TRUE(f.r.tris.empty());
                    continue;
                }
                EXPECT_EQ(folded_or_repeated(f.r.tris), 0);
                if (c.simple && !exported) {
                    const Eval ev{*s};
                    const auto [lu, lv] = ev.lengths();
                    EXPECT_EQ(
                        mesh_check::check(f.r.raw, f.r.loops, lu, lv, 1e-8 * std::max(lu, lv)), "");
                }
            }
        }
    }
}

}  // namespace
