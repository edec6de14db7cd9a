// The cell triangulation on its own: random subdivisions (with hanging
// vertices) and trim polygons, checked by the independent mesh checker.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "nurbs/tessellation/tess_fixtures.h"
#include "nurbs/tessellation/tess_internal.h"

namespace {

using namespace ruvane::tess;
using mesh_check::P2;
using mesh_check::Poly;
using tess_fixtures::kPi;

struct Box {
    double ua, ub, va, vb;
};

// Splits the box at the middle, alternating directions, to the given depth
// where `keep_splitting` says so.
template <class F>
void subdivide(Box b, int depth, F keep_splitting, std::vector<Box>& out, bool along_u = true) {
    if (depth == 0 || !keep_splitting(depth)) return out.push_back(b);
    const double m = along_u ? 0.5 * (b.ua + b.ub) : 0.5 * (b.va + b.vb);
    subdivide(along_u ? Box{b.ua, m, b.va, b.vb} : Box{b.ua, b.ub, b.va, m}, depth - 1,
              keep_splitting, out, !along_u);
    subdivide(along_u ? Box{m, b.ub, b.va, b.vb} : Box{b.ua, b.ub, m, b.vb}, depth - 1,
              keep_splitting, out, !along_u);
}

// Triangulates the cells of [0, 8]^2 against the loops (the first one outer)
// and checks the mesh.
void expect_valid(const std::vector<Box>& cells, const std::vector<Poly>& loops, bool simple) {
    sx::testing::install_counting_host();
    sx::testing::arm(0);
    Scratch s;
    LoopSet set;
    for (size_t k = 0; k < loops.size(); ++k) {
        Loop l;
        for (const P2& p : loops[k]) ASSERT_TRUE(l.u.push(s, p.u) && l.v.push(s, p.v));
        l.outer = k == 0;
        update_box(l);
        ASSERT_TRUE(set.loops.push(s, l));
    }
    std::set<double> us, vs;
    for (const Box& b : cells) us.insert({b.ua, b.ub}), vs.insert({b.va, b.vb});
    CellGrid grid;
    for (double u : us) ASSERT_TRUE(grid.us.push(s, u));
    for (double v : vs) ASSERT_TRUE(grid.vs.push(s, v));
    ASSERT_TRUE(grid.index.resize(s, grid.us.size * grid.vs.size, -1));
    VertexTable verts;
    auto col = [&](double u) { return static_cast<int>(std::distance(us.begin(), us.find(u))); };
    auto row = [&](double v) { return static_cast<int>(std::distance(vs.begin(), vs.find(v))); };
    for (const Box& b : cells) {
        for (double u : {b.ua, b.ub})
            for (double v : {b.va, b.vb}) {
                int& slot = grid.index[row(v) * grid.us.size + col(u)];
                if (slot >= 0) continue;
                slot = verts.u.size;
                ASSERT_TRUE(verts.u.push(s, u) && verts.v.push(s, v));
            }
        Leaf leaf{b.ua, b.ub, b.va, b.vb, col(b.ua), col(b.ub), row(b.va), row(b.vb), 0};
        leaf.code = static_cast<int16_t>(classify_cell(set, b.ua, b.ub, b.va, b.vb, 1e-9));
        ASSERT_TRUE(grid.leaves.push(s, leaf));
    }
    Table<Tri> tris;
    ASSERT_EQ(triangulate_cells(s, set, grid, verts, 1e-9, tris), 0);
    mesh_check::Mesh mesh;
    for (int i = 0; i < verts.u.size; ++i) mesh.vertex.push_back({verts.u[i], verts.v[i]});
    for (int t = 0; t < tris.size; ++t) mesh.tri.push_back({tris[t].a, tris[t].b, tris[t].c});
    EXPECT_EQ(mesh_check::check(mesh, loops, {8, 8, 1e-7, 1e-6, simple}), "");
}

bool simple(const Poly& p) {
    const size_t n = p.size();
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i + 2; j < n - (i == 0); ++j) {
            const P2 a = p[i], b = p[(i + 1) % n], c = p[j], d = p[(j + 1) % n];
            if (mesh_check::cross(a, b, c) * mesh_check::cross(a, b, d) <= 0 &&
                mesh_check::cross(c, d, a) * mesh_check::cross(c, d, b) <= 0)
                return false;
        }
    return true;
}

// Random star-shaped outer loops (vertices often on grid lines, the loop
// sometimes cut by the domain edge) with random holes, and loops of random
// points that cross themselves (the mesh covers their even-odd region),
// over random subdivisions.
TEST(TessMesh, RandomPolygonsOverRandomSubdivisions) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int count = tess_fixtures::case_count(200);
    for (int n = 0; n < count; ++n) {
        SCOPED_TRACE("case " + std::to_string(n));
        std::vector<Box> cells;
        const double split_p = 0.55 + 0.4 * unit(rng);
        subdivide(
            {0, 8, 0, 8}, 2 + static_cast<int>(unit(rng) * 7),
            [&](int depth) { return depth > 5 || unit(rng) < split_p; }, cells);
        Poly outer;
        if (n % 4 == 3) {
            for (int i = 4 + static_cast<int>(unit(rng) * 12); i > 0; --i)
                outer.push_back({-1 + 10 * unit(rng), -1 + 10 * unit(rng)});
            expect_valid(cells, {outer}, false);
            if (::testing::Test::HasFailure()) break;
            continue;
        }
        const int pts = 8 + static_cast<int>(unit(rng) * 60);
        const double cu = 3.5 + unit(rng), cv = 3.5 + unit(rng);
        for (int i = 0; i < pts; ++i) {
            const double a = 2 * kPi * i / pts, r = 2.5 + 2.0 * unit(rng);
            double u = cu + r * std::cos(a), v = cv + r * std::sin(a);
            if (unit(rng) < 0.2) u = std::round(u * 2) / 2;
            if (unit(rng) < 0.2) v = std::round(v * 2) / 2;
            outer.push_back({u, v});
        }
        if (!simple(outer)) continue;  // snapping to grid lines may fold the star
        if (unit(rng) < 0.5) std::reverse(outer.begin(), outer.end());
        std::vector<Poly> loops{outer};
        for (int h = static_cast<int>(unit(rng) * 3); h > 0; --h) {
            const double hu = cu - 1 + 2 * unit(rng), hv = cv - 1 + 2 * unit(rng);
            const double gu = std::round(hu * 4) / 4, gv = std::round(hv * 4) / 4;
            Poly hole;
            if (unit(rng) < 0.5) {
                const double r = 0.2 + 0.3 * unit(rng);
                for (int i = 0; i < 5 + h * 7; ++i)
                    hole.push_back({hu + r * std::cos(2 * kPi * i / (5 + h * 7)),
                                    hv + r * std::sin(2 * kPi * i / (5 + h * 7))});
            } else {
                hole = {{gu, gv}, {gu + 0.5, gv}, {gu + 0.5, gv + 0.25}, {gu, gv + 0.25}};
            }
            if (unit(rng) < 0.5) std::reverse(hole.begin(), hole.end());
            // Holes apart from one another and inside the outer loop.
            bool ok = true;
            for (const P2& p : hole) {
                ok = ok && mesh_check::point_in({outer}, p);
                for (size_t k = 1; k < loops.size(); ++k)
                    ok = ok && !mesh_check::point_in({loops[k]}, p) &&
                         mesh_check::dist(p, loops[k][0]) > 1.2;
            }
            if (ok) loops.push_back(hole);
        }
        expect_valid(cells, loops, true);
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
            const double a = 2 * kPi * k / n, r = 0.4 + 0.08 * std::sin(17 * a);
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
            const double u = at(rng), v = at(rng), w = size(rng), h = size(rng);
            const bool in = inside_region(scanned, u, v);
            const int c = classify_cell(scanned, u, u + w, v, v + h, 1e-4);
            inside += in;
            crossed += c == 0;
            ASSERT_EQ(inside_region(indexed, u, v), in) << n << " at " << u << ", " << v;
            ASSERT_EQ(classify_cell(indexed, u, u + w, v, v + h, 1e-4), c) << n;
        }
        EXPECT_GT(inside, 300);  // both answers occur often
        EXPECT_GT(crossed, 300);
    }
}

}  // namespace
