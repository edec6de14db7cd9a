// The trim loops' segment index on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "nurbs/tessellation/tess_fixtures.h"
#include "nurbs/tessellation/tess_internal.h"

namespace {

using namespace ruvane::tess;
using tess_fixtures::kPi;

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
