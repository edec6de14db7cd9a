#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "nurbs/geometry.h"
#include "nurbs/storage.h"
#include "nurbs/testing/ruvane_test_host.h"

namespace {

using namespace ruvane;

class Conventions : public sx::testing::CountingHostTest {};

TEST_F(Conventions, DivisionGuardExamples) {
    struct Case {
        double a, b;
        int expect;
    };
    // clang-format off
    const Case cases[] = {
        {1, 0, 1}, {0, 0, 1}, {0, 5, 0}, {0, -1e-300, 0},              // zeros
        {DBL_MAX, 1, 1}, {DBL_MAX / 2, 0.5, 1}, {DBL_MAX / 4, 1, 0},   // at and under the top
        {DBL_MIN, 1, 1}, {-2 * DBL_MIN, -2, 1}, {DBL_MIN, 0.5, 0},     // at and over the bottom
        {NAN, 1, 1}, {1, NAN, 1}, {INFINITY, 2, 1}, {1, -INFINITY, 1}, // not finite
        {1, 1e-310, 1}, {1e-310, 1, 1},                                // subnormal
    };
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(guard_div(c.a, c.b), c.expect) << c.a << " / " << c.b;
    }
    // Over the whole exponent range, against the quotient in wider arithmetic
    // (quotients within a millionth of a bound may go either way).
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    std::uniform_int_distribution<int> exponent(-1074, 1023);
    for (int k = 0; k < 20000; ++k) {
        const double a = std::ldexp(mantissa(rng), exponent(rng)) * (k % 2 ? -1 : 1);
        const double b = std::ldexp(mantissa(rng), exponent(rng)) * (k % 3 ? 1 : -1);
        const long double q = std::fabs(static_cast<long double>(a) / b);
        const long double lo = DBL_MIN, hi = DBL_MAX;
        if (std::fabs(q / lo - 1) < 1e-6L || std::fabs(q / hi - 1) < 1e-6L) continue;
        ASSERT_EQ(guard_div(a, b), q <= lo || q >= hi ? 1 : 0) << a << " / " << b;
    }
}

// Distances from one segment to many points (net lines, chords' samples):
// the nearest point of the segment in wider arithmetic, a segment shorter
// than the smallest tolerance taken as its middle, and a quotient that
// would underflow refused with code 11, as G_DISPAB refuses it.
TEST_F(Conventions, SegmentDistanceToTheNearestPointOfTheSegment) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> at(-3.0, 3.0);
    for (int k = 0; k < 2000; ++k) {
        const Point3 a{at(rng), at(rng), at(rng)}, b{at(rng), at(rng), at(rng)};
        const SegmentDistance segment(a, b);
        for (int i = 0; i < 5; ++i) {
            const Point3 p{at(rng), at(rng), at(rng)};
            long double ab[3] = {b.x - (long double)a.x, b.y - (long double)a.y,
                                 b.z - (long double)a.z};
            long double ap[3] = {p.x - (long double)a.x, p.y - (long double)a.y,
                                 p.z - (long double)a.z};
            const long double t = std::clamp((ab[0] * ap[0] + ab[1] * ap[1] + ab[2] * ap[2]) /
                                                 (ab[0] * ab[0] + ab[1] * ab[1] + ab[2] * ab[2]),
                                             0.0L, 1.0L);
            long double d2 = 0;
            for (int c = 0; c < 3; ++c) d2 += (ap[c] - t * ab[c]) * (ap[c] - t * ab[c]);
            double d = -1.0;
            ASSERT_EQ(segment.distance(p, &d), kOk);
            ASSERT_NEAR(d, std::sqrt(static_cast<double>(d2)), 1e-12 * (1 + d)) << k;
        }
    }
    double d = -1.0;
    const SegmentDistance dot({1, 1, 1}, {1 + 1e-9, 1, 1});
    ASSERT_EQ(dot.distance({1 - 1e-8, 1, 1}, &d), kOk);  // from the middle, not the end
    EXPECT_NEAR(d, 1.05e-8, 1e-15);
    const SegmentDistance vast({0, 0, 0}, {1e160, 0, 0});
    EXPECT_EQ(vast.distance({0.5e160, 1e-310, 0}, &d), kFail);  // 1e-310 across
    EXPECT_EQ(error_record().code, kErrDivision);
    const SegmentDistance unit({0, 0, 0}, {1, 0, 0});
    ASSERT_EQ(unit.distance({0.5, 1e-150, 0}, &d), kOk);
    EXPECT_EQ(d, 1e-150);
}

// Normalising: a unit vector the same way, over the whole range of lengths
// whose inverse is a normal number; a vector whose inverse length would
// overflow (or is none) refused with code 17 and left as it was.
TEST_F(Conventions, NormalisingKeepsTheDirectionOrRefuses) {
    const double scales[] = {1.0, 3e-7, 1e-150, 1e150};
    for (double scale : scales) {
        const Point3 v{3 * scale, -4 * scale, 12 * scale};
        Point3 w = v;
        ASSERT_EQ(G_VECNIP(&w), kOk) << scale;
        EXPECT_NEAR(w.x, 3.0 / 13, 1e-15) << scale;
        EXPECT_NEAR(w.y, -4.0 / 13, 1e-15) << scale;
        EXPECT_NEAR(w.z, 12.0 / 13, 1e-15) << scale;
        Point3 known = v;
        ASSERT_EQ(normalise_of_length(&known, vec_length(v)), kOk);
        EXPECT_TRUE(known.x == w.x && known.y == w.y && known.z == w.z) << scale;
    }
    const Point3 refused[] = {{0, 0, 0}, {1e-310, 0, 0}, {INFINITY, 0, 0}, {NAN, 1, 1}};
    for (const Point3& v : refused) {
        Point3 w = v;
        error_record().code = 0;
        EXPECT_EQ(G_VECNIP(&w), kFail) << v.x;
        EXPECT_EQ(error_record().code, kErrDegenerate) << v.x;
        EXPECT_TRUE(std::memcmp(&w, &v, sizeof w) == 0) << v.x;
    }
}

TEST_F(Conventions, BernsteinPolynomials) {
    for (int n = 0; n <= 28; n += 3) {
        for (double t : {0.0, 0.2, 0.5, 0.9, 1.0}) {
            double values[29];
            ASSERT_EQ(B_ALLBER(n, t, values), kOk);
            for (int k = 0; k <= n; ++k) {
                long double binom = 1;
                for (int i = 1; i <= k; ++i) binom = binom * (n - k + i) / i;
                const long double ref =
                    binom * std::pow(static_cast<long double>(t), k) * std::pow(1.0L - t, n - k);
                EXPECT_NEAR(values[k], static_cast<double>(ref), 1e-14) << n << " " << k;
            }
        }
    }
    double values[4];
    EXPECT_EQ(B_ALLBER(3, 1.0000001, values), kFail);
    EXPECT_EQ(error_record().code, 6);
    EXPECT_STREQ(error_record().routine, "B_ALLBER");
}

// A block leaves the pool only from its own list, once; every allocator
// leaves the pool as it was when any of its host calls fails.
TEST_F(Conventions, PoolReleaseAndAllocatorFailures) {
    long& live = sx::testing::counters().live;
    Pool empty;
    pool_release_all(&empty);
    double* a = S_GETR1D(9, &pool_);
    double* b = S_GETR1D(9, &pool_);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(live, 2);  // each block with its node
    pool_release_block(&pool_, kListR1D, a);
    pool_release_block(&pool_, kListR1D, a);      // not in the pool any more
    pool_release_block(&pool_, kListR2DRows, b);  // wrong list: left alone
    EXPECT_EQ(live, 1);
    pool_release_block(&pool_, b);
    EXPECT_EQ(live, 0);
    struct Alloc {
        const char* name;
        void* (*call)(Pool*);
    } allocs[] = {
        {"S_GETR1D", [](Pool* p) -> void* { return S_GETR1D(5, p); }},
        {"S_GETR2D", [](Pool* p) -> void* { return S_GETR2D(5, 2, p); }},
        {"S_GETC2D", [](Pool* p) -> void* { return S_GETC2D(2, 5, p); }},
        {"S_GETI2P", [](Pool* p) -> void* { return S_GETI2P(2, 5, p); }},
        {"S_GETKNT", [](Pool* p) -> void* { return S_GETKNT(5, p); }},
        {"S_GETPOL", [](Pool* p) -> void* { return S_GETPOL(5, p); }},
        {"S_GETNET", [](Pool* p) -> void* { return S_GETNET(5, 3, p); }},
        {"S_GETCUR", [](Pool* p) -> void* { return S_GETCUR(5, 8, 2, p); }},
        {"S_GETSUR", [](Pool* p) -> void* { return S_GETSUR(3, 3, 1, 1, 5, 5, p); }},
    };
    for (const Alloc& a : allocs) {
        sx::testing::arm(0);
        ASSERT_NE(a.call(&pool_), nullptr) << a.name;
        const long needed = sx::testing::counters().calls;
        pool_release_all(&pool_);
        pool_release_all(&pool_);
        ASSERT_EQ(live, 0) << a.name;
        for (long n = 1; n <= needed; ++n) {
            SCOPED_TRACE(::testing::Message() << a.name << " failing call " << n);
            sx::testing::arm(n);
            set_error(0, " ");
            EXPECT_EQ(a.call(&pool_), nullptr);
            EXPECT_EQ(error_record().code, 15);
            EXPECT_STREQ(error_record().routine, a.name);
            EXPECT_EQ(live, 0);
            for (PoolNode* head : pool_.head) EXPECT_EQ(head, nullptr);
        }
    }
    // Negative and absurd sizes never reach the host.
    sx::testing::arm(0);
    EXPECT_EQ(S_GETR1D(-2, &pool_), nullptr);
    EXPECT_EQ(S_GETR2D(INT_MAX, INT_MAX, &pool_), nullptr);
    EXPECT_EQ(S_GETC1D(INT_MAX - 1, &pool_), nullptr);
    EXPECT_EQ(sx::testing::counters().calls, 0);
    EXPECT_STREQ(error_record().routine, "S_GETC1D");
}

TEST_F(Conventions, OrderedSetKeepsSortedDistinctValues) {
    std::mt19937 rng(6);
    std::uniform_real_distribution<double> unit(0.0, 10.0);
    OrderedSet set;
    ASSERT_EQ(ordered_set_init(&set, 0.0, 10.0, 7, &pool_), kOk);
    std::vector<double> inserted;
    for (int k = 0; k < 300; ++k) {
        double x =
            k % 3 == 0 && !inserted.empty() ? inserted[k % inserted.size()] + 1e-13 : unit(rng);
        if (k == 5) x = 10.0;
        if (k == 6) x = 0.0;
        if (k == 7) x = 10.0 / 7.0;  // a bucket border
        ASSERT_EQ(M_UPRHAS(&set, x), kOk);
        inserted.push_back(x);
    }
    std::sort(inserted.begin(), inserted.end());
    std::vector<double> distinct;
    for (double x : inserted) {
        if (distinct.empty() || x - distinct.back() > 1e-12) distinct.push_back(x);
    }
    ASSERT_EQ(set.count, static_cast<int>(distinct.size()));
    std::vector<double> values(set.count);
    ordered_set_values(set, values.data());
    for (size_t i = 0; i < values.size(); ++i) EXPECT_NEAR(values[i], distinct[i], 1e-12);
    EXPECT_EQ(M_UPRHAS(&set, 10.5), kFail);
    EXPECT_EQ(error_record().code, 14);
    EXPECT_STREQ(error_record().routine, "M_UPRHAS");
}

}  // namespace
