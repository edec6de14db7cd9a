// The cell triangulation on its own: random subdivisions (with hanging
// vertices) and trim polygons, checked by the independent mesh checker.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <set>

#include "include/ruvane.h"
#include "nurbs/tessellation/mesh_check.h"
#include "nurbs/tessellation/tess_internal.h"
#include "nurbs/testing/ruvane_test_host.h"

namespace {

using namespace ruvane::tess;
using mesh_check::P2;
using mesh_check::Poly;

constexpr double kPi = 3.14159265358979323846;

// Case counts of the generated tests, raised through RUVANE_TESS_CASES.
int case_count(int fallback) {
    if (const char* e = std::getenv("RUVANE_TESS_CASES")) return std::max(1, std::atoi(e));
    return fallback;
}

struct Box {
    double ua, ub, va, vb;
};

// Quadtree-like subdivision: splits the box at the middle (alternating) to
// the given depth where `keep_splitting` says so.
template <class F>
void subdivide(Box b, int depth, F keep_splitting, std::vector<Box>& out, bool along_u = true) {
    if (depth == 0 || !keep_splitting(b, depth)) {
        out.push_back(b);
        return;
    }
    if (along_u) {
        const double m = 0.5 * (b.ua + b.ub);
        subdivide({b.ua, m, b.va, b.vb}, depth - 1, keep_splitting, out, !along_u);
        subdivide({m, b.ub, b.va, b.vb}, depth - 1, keep_splitting, out, !along_u);
    } else {
        const double m = 0.5 * (b.va + b.vb);
        subdivide({b.ua, b.ub, b.va, m}, depth - 1, keep_splitting, out, !along_u);
        subdivide({b.ua, b.ub, m, b.vb}, depth - 1, keep_splitting, out, !along_u);
    }
}

struct Result {
    int rc = -1;
    mesh_check::Mesh mesh;
    int ring_rc = -1;
    std::vector<std::array<int, 3>> from_rings;
};

Result run(const std::vector<Box>& cells, const std::vector<Poly>& loops, double eps = 1e-9) {
    sx::testing::install_counting_host();
    sx::testing::arm(0);
    Scratch s;
    LoopSet set;
    for (size_t k = 0; k < loops.size(); ++k) {
        Loop l;
        for (const P2& p : loops[k]) EXPECT_TRUE(l.u.push(s, p.u) && l.v.push(s, p.v));
        l.outer = k == 0;
        update_box(l);
        EXPECT_TRUE(set.loops.push(s, l));
    }
    std::set<double> us, vs;
    for (const Box& b : cells) {
        us.insert({b.ua, b.ub});
        vs.insert({b.va, b.vb});
    }
    CellGrid grid;
    for (double u : us) EXPECT_TRUE(grid.us.push(s, u));
    for (double v : vs) EXPECT_TRUE(grid.vs.push(s, v));
    EXPECT_TRUE(grid.index.resize(s, grid.us.size * grid.vs.size, -1));
    VertexTable verts;
    auto col = [&](double u) { return static_cast<int>(std::distance(us.begin(), us.find(u))); };
    auto row = [&](double v) { return static_cast<int>(std::distance(vs.begin(), vs.find(v))); };
    for (const Box& b : cells) {
        const double cu[2] = {b.ua, b.ub}, cv[2] = {b.va, b.vb};
        for (double u : cu)
            for (double v : cv) {
                int& slot = grid.index[row(v) * grid.us.size + col(u)];
                if (slot >= 0) continue;
                slot = verts.u.size;
                EXPECT_TRUE(verts.u.push(s, u) && verts.v.push(s, v));
            }
        Leaf leaf{b.ua, b.ub, b.va, b.vb, col(b.ua), col(b.ub), row(b.va), row(b.vb), 0};
        leaf.code = static_cast<int16_t>(classify_cell(set, b.ua, b.ub, b.va, b.vb, eps));
        EXPECT_TRUE(grid.leaves.push(s, leaf));
    }
    Table<Tri> tris;
    Result r;
    r.rc = triangulate_cells(s, set, grid, verts, eps, tris);
    for (int i = 0; i < verts.u.size; ++i) r.mesh.vertex.push_back({verts.u[i], verts.v[i]});
    for (int t = 0; t < tris.size; ++t) r.mesh.tri.push_back({tris[t].a, tris[t].b, tris[t].c});
    Rings rings;
    r.ring_rc = build_rings(s, verts.u.size, tris, rings);
    if (r.ring_rc == 0) {
        // The extraction rule of the driver: (j, d, e) from consecutive ring
        // entries, once, from the smallest vertex.
        for (int j = 0; j < verts.u.size; ++j) {
            const int* e = rings.entries.data + rings.start[j];
            if (e[0] == -1) continue;
            for (int k = 0; k < rings.count[j]; ++k)
                if (j < e[k] && j < e[k + 1]) r.from_rings.push_back({j, e[k], e[k + 1]});
        }
    }
    return r;
}

Poly circle(double cu, double cv, double r, int n) {
    Poly p;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * kPi * i / n;
        p.push_back({cu + r * std::cos(a), cv + r * std::sin(a)});
    }
    return p;
}

Poly rect(double u0, double v0, double u1, double v1) {
    return {{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}};
}

std::vector<std::array<int, 3>> canonical(std::vector<std::array<int, 3>> t) {
    for (auto& x : t) std::rotate(x.begin(), std::min_element(x.begin(), x.end()), x.end());
    std::sort(t.begin(), t.end());
    return t;
}

// Valid over the domain [0, 8]^2, and the rings give back exactly the
// triangles.
void expect_valid(const Result& r, const std::vector<Poly>& loops, const std::string& name,
                  bool simple_loops = true) {
    ASSERT_EQ(r.rc, 0) << name;
    ASSERT_EQ(r.ring_rc, 0) << name;
    const mesh_check::Options o{8, 8, 1e-7, 1e-6, simple_loops};
    EXPECT_EQ(mesh_check::check(r.mesh, loops, o), "") << name;
    EXPECT_EQ(canonical(r.from_rings), canonical(r.mesh.tri)) << name;
}

bool simple(const Poly& p) {
    const size_t n = p.size();
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i + 1; j < n; ++j) {
            if (j == i + 1 || (i == 0 && j == n - 1)) continue;
            const P2 a = p[i], b = p[(i + 1) % n], c = p[j], d = p[(j + 1) % n];
            const double d1 = mesh_check::cross(a, b, c), d2 = mesh_check::cross(a, b, d);
            const double d3 = mesh_check::cross(c, d, a), d4 = mesh_check::cross(c, d, b);
            if (d1 * d2 <= 0 && d3 * d4 <= 0) return false;
        }
    return true;
}

// Random star-shaped outer loops with random holes over random subdivisions.
TEST(TessMesh, RandomPolygonsOverRandomSubdivisions) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int count = case_count(150);
    for (int n = 0; n < count; ++n) {
        std::vector<Box> cells;
        const double split_p = 0.55 + 0.4 * unit(rng);
        subdivide(
            {0, 8, 0, 8}, 2 + static_cast<int>(unit(rng) * 7),
            [&](Box, int depth) { return depth > 5 || unit(rng) < split_p; }, cells);
        std::vector<Poly> loops;
        Poly outer;
        const int pts = 8 + static_cast<int>(unit(rng) * 60);
        const double cu = 3.5 + unit(rng), cv = 3.5 + unit(rng);
        for (int i = 0; i < pts; ++i) {
            const double a = 2 * kPi * i / pts;
            // Radius may leave the domain: the loop is then cut by its edge.
            const double r = 2.5 + 2.0 * unit(rng);
            double u = cu + r * std::cos(a), v = cv + r * std::sin(a);
            if (unit(rng) < 0.2) u = std::round(u * 2) / 2;  // on grid lines
            if (unit(rng) < 0.2) v = std::round(v * 2) / 2;
            outer.push_back({u, v});
        }
        if (!simple(outer)) continue;  // snapping to grid lines may fold the star
        if (unit(rng) < 0.5) std::reverse(outer.begin(), outer.end());
        loops.push_back(outer);
        const int holes = static_cast<int>(unit(rng) * 3);
        for (int h = 0; h < holes; ++h) {
            const double hu = cu - 1 + 2 * unit(rng), hv = cv - 1 + 2 * unit(rng);
            Poly hole = unit(rng) < 0.5
                            ? circle(hu, hv, 0.2 + 0.3 * unit(rng), 5 + h * 7)
                            : rect(std::round(hu * 4) / 4, std::round(hv * 4) / 4,
                                   std::round(hu * 4) / 4 + 0.5, std::round(hv * 4) / 4 + 0.25);
            if (unit(rng) < 0.5) std::reverse(hole.begin(), hole.end());
            // Keep holes apart from one another and inside the outer loop.
            bool ok = mesh_check::point_in({outer}, hole[0]);
            for (const P2& p : hole) ok = ok && mesh_check::point_in({outer}, p);
            for (size_t k = 1; k < loops.size() && ok; ++k)
                for (const P2& p : hole)
                    ok = ok && !mesh_check::point_in({loops[k]}, p) &&
                         std::hypot(p.u - loops[k][0].u, p.v - loops[k][0].v) > 1.2;
            if (ok) loops.push_back(hole);
        }
        expect_valid(run(cells, loops), loops, "random case " + std::to_string(n));
        if (::testing::Test::HasFailure()) break;
    }
}

// Loops of random points cross themselves: the mesh must still be valid,
// covering the even-odd region of the single loop.
TEST(TessMesh, SelfIntersectingLoopsStillGiveAValidMesh) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int count = case_count(60);
    for (int n = 0; n < count; ++n) {
        std::vector<Box> cells;
        subdivide(
            {0, 8, 0, 8}, 6, [&](Box, int) { return unit(rng) < 0.7; }, cells);
        Poly loop;
        const int pts = 4 + static_cast<int>(unit(rng) * 12);
        for (int i = 0; i < pts; ++i) loop.push_back({-1 + 10 * unit(rng), -1 + 10 * unit(rng)});
        expect_valid(run(cells, {loop}), {loop}, "crossing loop " + std::to_string(n), false);
        if (::testing::Test::HasFailure()) break;
    }
}

// The segment index is only a shortcut: with it, the region test and the
// cell classification give what a scan of every segment gives.
TEST(TessMesh, SegmentIndexAnswersAsTheFullScan) {
    sx::testing::install_counting_host();
    sx::testing::arm(0);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> at(-0.2, 1.2), size(0.001, 0.3);
    for (int n : {64, 300, 2000}) {
        Scratch s;
        LoopSet scanned, indexed;
        Loop outer, hole;
        for (int k = 0; k < n; ++k) {  // a wavy star and a small hole, both long
            const double a = 2 * 3.14159265358979323846 * k / n;
            const double r = 0.4 + 0.08 * std::sin(17 * a);
            ASSERT_TRUE(outer.u.push(s, 0.5 + r * std::cos(a)) &&
                        outer.v.push(s, 0.5 + r * std::sin(a)));
            ASSERT_TRUE(hole.u.push(s, 0.5 + 0.1 * std::cos(-a)) &&
                        hole.v.push(s, 0.5 + 0.1 * std::sin(-a)));
        }
        outer.outer = true;
        update_box(outer);
        update_box(hole);
        ASSERT_TRUE(scanned.loops.push(s, outer) && scanned.loops.push(s, hole));
        ASSERT_TRUE(index_loop(s, outer, 1e-6) && index_loop(s, hole, 1e-6));
        EXPECT_GT(outer.index.nu, 0);
        ASSERT_TRUE(indexed.loops.push(s, outer) && indexed.loops.push(s, hole));
        int inside = 0, crossed = 0;
        for (int t = 0; t < 3000; ++t) {
            const double u = at(rng), v = at(rng);
            const bool in = inside_region(scanned, u, v);
            inside += in;
            ASSERT_EQ(inside_region(indexed, u, v), in) << n << " at " << u << ", " << v;
            const double w = size(rng), h = size(rng);
            const int c = classify_cell(scanned, u, u + w, v, v + h, 1e-4);
            crossed += c == 0;
            ASSERT_EQ(classify_cell(indexed, u, u + w, v, v + h, 1e-4), c) << n;
        }
        EXPECT_GT(inside, 300);  // both answers occur often
        EXPECT_GT(crossed, 300);
    }
}

}  // namespace
