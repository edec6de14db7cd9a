#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "nurbs/nurbs.h"
#include "nurbs/testing/ruvane_test_host.h"
#include "nurbs/testing/ruvane_test_reference.h"

namespace {

using namespace ruvane;
using sx::testing::CurveData;

class Curves : public sx::testing::CountingHostTest {
protected:
    // Builds through N_IGS126 over [v0, v1].
    Status build(const CurveData& c, Curve* cur, double v0 = 0.0, double v1 = 1.0) {
        std::vector<Point3> pts;
        for (int i = 0; i < c.count(); ++i) {
            pts.push_back({c.points[3 * i], c.points[3 * i + 1], c.points[3 * i + 2]});
        }
        return N_IGS126(c.count() - 1, c.p, c.knots.data(), c.weights.data(), pts.data(), v0, v1,
                        cur, &pool_);
    }

    static Point3 eval(const Curve& cur, double u) {
        Point4 cw;
        EXPECT_EQ(N_CUREVN(cur, 1, u, &cw), kOk) << "u=" << u;
        return project_point(cw);
    }

    static void expect_near_ref(const Point3& got, const sx::testing::RefPoint& ref, double tol,
                                const std::string& what) {
        const Point3 want{static_cast<double>(ref.x), static_cast<double>(ref.y),
                          static_cast<double>(ref.z)};
        EXPECT_LE(vec_distance(got, want), tol) << what;
    }
};

// Random curves of every degree 1..7, clamped or not, rational or not, planar
// or not, over [0, 1] or clipped to a sub-range (sometimes ending on a knot),
// against the defining recursion in long double. Reversed, into a fresh
// record or in place, they run backwards: R(t) = C(1 - t).
TEST_F(Curves, RandomCurvesMatchIndependentEvaluation) {
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int p = 1; p <= 7; ++p) {
        for (int variant = 0; variant < 16; ++variant) {
            const bool clamped = variant & 1, rational = variant & 2, planar = variant & 4;
            const bool clip = variant & 8;
            for (int trial = 0; trial < 3; ++trial) {
                const CurveData c = sx::testing::random_curve(rng, p, clamped, rational, planar);
                double v0 = 0.0, v1 = 1.0;
                if (clip) {
                    v0 = unit(rng);
                    v1 = trial == 1 ? std::min(1.0, c.knots[p + 2]) : unit(rng);
                    if (v0 > v1) std::swap(v0, v1);
                    if (!(v0 < v1)) continue;
                }
                const std::string what = "p=" + std::to_string(p) +
                                         " variant=" + std::to_string(variant) + " trial " +
                                         std::to_string(trial);
                Curve cur;
                ASSERT_EQ(build(c, &cur, v0, v1), kOk)
                    << what << " " << error_record().code << error_record().routine;
                // After creation the curve is clamped on exactly [v0, v1].
                for (int i = 0; i <= p; ++i) {
                    ASSERT_EQ(cur.knt->U[i], v0) << what;
                    ASSERT_EQ(cur.knt->U[cur.knt->m - i], v1) << what;
                }
                EXPECT_EQ(cur.knt->m, cur.pol->n + p + 1);
                EXPECT_EQ(cur.pol->Pw[0].w == kNonRationalW, !rational);
                EXPECT_EQ(cur.pol->Pw[0].z == kPlanarZ, planar);
                const double tol = 1e-12 * std::max(1.0, sx::testing::max_abs(c.points));
                std::vector<double> params = {v0, v1};
                for (int k = 0; k < 12; ++k) params.push_back(v0 + (v1 - v0) * unit(rng));
                for (double k : c.knots) {
                    if (k > v0 && k < v1) params.push_back(k);
                }
                for (double u : params) {
                    const Point3 got = eval(cur, u);
                    expect_near_ref(got, sx::testing::reference_curve_point(c, u, u == v1), tol,
                                    what + " u=" + std::to_string(u));
                    EXPECT_TRUE(!planar || got.z == 0.0) << what;
                }
                if (clip) continue;
                Curve into;
                ASSERT_EQ(N_CURREV(&cur, &into, &pool_), kOk);
                ASSERT_EQ(N_CURREV(&cur, &cur, &pool_), kOk);
                for (int k = 0; k < 4; ++k) {
                    const double t = unit(rng);
                    const auto ref = sx::testing::reference_curve_point(c, 1.0 - t, false);
                    expect_near_ref(eval(into, t), ref, tol, "reversed " + what);
                    expect_near_ref(eval(cur, t), ref, tol, "reversed in place " + what);
                }
            }
        }
    }
}

// An interior knot of multiplicity p + 1 on a continuous curve is reduced to
// p without changing the shape; an end run longer than p + 1 is shortened and
// its dead control point dropped.
TEST_F(Curves, KnotCleaningKeepsShape) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int p = 1; p <= 5; ++p) {
        // 2p + 2 points; knots clamped at 0 and 1 with a run of p + 1 at 0.5.
        CurveData c{p, std::vector<double>(p + 1, 0.0), {}, {}};
        for (double k : {0.5, 1.0}) c.knots.insert(c.knots.end(), p + 1, k);
        for (int i = 0; i < 2 * p + 2; ++i) {
            // Continuous: the first point of the right piece is the last of the left.
            const double x = i == p + 1 ? c.points[3 * p] : unit(rng);
            const double w = i == p + 1 ? c.weights[p] : 0.5 + unit(rng);
            c.points.insert(c.points.end(), {x, 1.0, 1.0});
            c.weights.push_back(w);
        }
        Curve cur;
        ASSERT_EQ(build(c, &cur), kOk);
        EXPECT_EQ(cur.pol->n, 2 * p) << "one point fewer";
        EXPECT_EQ(std::count(cur.knt->U, cur.knt->U + cur.knt->m + 1, 0.5), p);
        for (int k = 0; k <= 20; ++k) {
            const double u = k / 20.0;
            expect_near_ref(eval(cur, u), sx::testing::reference_curve_point(c, u, u == 1.0), 1e-12,
                            "clean p=" + std::to_string(p));
        }
    }
    // End run of p + 2 at the start: the first point has no basis function.
    const CurveData c{
        2, {0, 0, 0, 0, 1, 1, 1}, {1, 1, 1, 1}, {99, 99, 99, 0, 0, 0, 1, 1, 0, 2, 0, 0}};
    Curve cur;
    ASSERT_EQ(build(c, &cur), kOk);
    EXPECT_EQ(cur.pol->n, 2);
    expect_near_ref(eval(cur, 0.5), sx::testing::reference_curve_point(c, 0.5, false), 1e-15,
                    "end run");
}

// Description checks are N_IGSVKB's for the knots (code 4), N_IGS126's for the
// rest.
TEST_F(Curves, InvalidDescriptionsAreRefusedWithTheirCode) {
    const std::vector<double> z6(6, 0.0), z9(9, 0.0);
    const double big = 1.5e308;
    std::vector<double> deg29_knots(30, 0.0);
    deg29_knots.resize(60, 1.0);
    const struct {
        const char* name;
        CurveData curve;
        int code;
    } cases[] = {
        {"degree 29", {29, deg29_knots, std::vector<double>(30, 1.0), std::vector<double>(90)}, 3},
        {"weight 0.00009", {2, {0, 0, 0, 1, 1, 1}, {1, 0.00009, 1}, z9}, 5},
        {"weight above 200", {1, {0, 0, 1, 1}, {1, 200.5}, z6}, 5},
        {"NaN weight", {1, {0, 0, 1, 1}, {1, NAN}, z6}, 5},
        {"decreasing knots", {2, {0, 0, 1, 0.5, 1, 1}, {1, 1, 1}, z9}, 4},
        {"knot[degree] above 0", {2, {0, 0, 0.1, 1, 1, 1}, {1, 1, 1}, z9}, 4},
        {"knot[count] below 1", {2, {0, 0, 0, 0.9, 1, 1}, {1, 1, 1}, z9}, 4},
        {"NaN knot", {1, {0, 0, NAN, 1}, {1, 1}, z6}, 4},
        {"knot span overflows", {2, {-big, -big, 0, big, big, big}, {1, 1, 1}, z9}, 4},
        {"infinite point", {1, {0, 0, 1, 1}, {1, 1}, {0, 0, 0, INFINITY, 0, 0}}, 5},
    };
    for (const auto& r : cases) {
        set_error(0, " ");
        Curve cur;
        EXPECT_EQ(build(r.curve, &cur), kFail) << r.name;
        EXPECT_EQ(error_record().code, r.code) << r.name;
        EXPECT_STREQ(error_record().routine, r.code == 4 ? "N_IGSVKB" : "N_IGS126") << r.name;
    }
}

TEST_F(Curves, SpanSearchEndsAndSides) {
    double U[] = {0, 0, 0, 0.25, 0.5, 0.5, 1, 1, 1};
    const KnotVector knt{8, U, 8};
    struct Case {
        double u;
        int side;
        int span;  // -1: refused with `code`
        int code;
    } cases[] = {
        {1.0, 1, 5, 0}, {0.0, 2, 2, 0},   {0.0, 1, 2, 0},  {0.25, 1, 3, 0}, {0.25, 2, 2, 0},
        {0.5, 1, 5, 0}, {0.5, 2, 3, 0},   {0.3, 1, 3, 0},  {0.3, 2, 3, 0},  {0.75, 1, 5, 0},
        {1.0, 2, 5, 0}, {0.5, 3, -1, 13}, {1.5, 1, -1, 6}, {NAN, 1, -1, 6},
    };
    for (const Case& c : cases) {
        int span = -1;
        set_error(0, " ");
        EXPECT_EQ(N_KNTFSP(knt, 2, c.u, c.side, &span), c.span < 0 ? kFail : kOk) << c.u;
        EXPECT_EQ(c.span < 0 ? error_record().code : span, c.span < 0 ? c.code : c.span)
            << "u=" << c.u << " side=" << c.side;
    }
    EXPECT_STREQ(error_record().routine, "N_KNTFSP");
    int span = 0;
    // Outside the valid domain of an unclamped vector: refused, not looped on.
    double V[] = {-2, -1, 0, 1, 2, 3};
    const KnotVector uniform{5, V, 5};
    EXPECT_EQ(N_KNTFSP(uniform, 2, -0.5, 1, &span), kFail);
    EXPECT_EQ(N_KNTFSP(uniform, 2, 0.0, 1, &span), kOk);
    EXPECT_EQ(span, 2);
}

// The k-th derivative of basis function i of degree p at u, straight from
// the recursive definitions (Cox-de Boor for the values, the derivative of
// that recursion for the rest; 0/0 taken as 0). `side` 1 takes the knot
// intervals closed below, 2 closed above, as the span search does.
double plain_basis(const std::vector<double>& U, int i, int p, int k, double u, int side) {
    if (k == 0 && p == 0) {
        return side == 1 ? (U[i] <= u && u < U[i + 1] ? 1.0 : 0.0)
                         : (U[i] < u && u <= U[i + 1] ? 1.0 : 0.0);
    }
    if (k > p) return 0.0;
    const double d0 = U[i + p] - U[i];
    const double d1 = U[i + p + 1] - U[i + 1];
    if (k == 0) {
        const double a = d0 > 0 ? (u - U[i]) / d0 * plain_basis(U, i, p - 1, 0, u, side) : 0.0;
        const double b =
            d1 > 0 ? (U[i + p + 1] - u) / d1 * plain_basis(U, i + 1, p - 1, 0, u, side) : 0.0;
        return a + b;
    }
    const double a = d0 > 0 ? plain_basis(U, i, p - 1, k - 1, u, side) / d0 : 0.0;
    const double b = d1 > 0 ? plain_basis(U, i + 1, p - 1, k - 1, u, side) / d1 : 0.0;
    return p * (a - b);
}

// Wider x87 registers and fused multiply-adds may round two ways of the
// same steps apart in their last bits: bits are compared on plain doubles.
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ == 0 && !defined(__FMA__)
constexpr bool kPlainDoubles = true;
#else
constexpr bool kPlainDoubles = false;
#endif

// Every degree up to 5 (1 to 3 take their own fixed-degree path), every
// order of derivative to one past the degree (all zero there), on knot
// vectors with repeated interior knots, inside spans and at interior knots
// from either side. The first derivatives asked alone (degrees 2 and 3 take
// their own path for them) are the full table's first rows, to the bit on
// plain doubles.
TEST_F(Curves, BasisDerivativesMatchThePlainRecursion) {
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> step(0, 3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int p = 1; p <= 5; ++p) {
        for (int trial = 0; trial < 12; ++trial) {
            // Clamped: p + 1 zeros, interior knots with gaps 0 (repeats, at
            // most p in a row) to 3 quarters, p + 1 copies of the end.
            std::vector<double> U(static_cast<size_t>(p + 1), 0.0);
            double x = 0.0;
            int run = 0;
            for (int n = 0; n < 6; ++n) {
                int g = step(rng);
                if (g == 0 && run >= p - 1) g = 1;
                run = g == 0 ? run + 1 : 0;
                x += 0.25 * g;
                if (x == 0.0) x = 0.25;
                U.push_back(x);
            }
            const double end = x + 0.25 + 0.25 * step(rng);
            for (int n = 0; n <= p; ++n) U.push_back(end);
            const KnotVector knt{static_cast<int>(U.size()) - 1, U.data(),
                                 static_cast<int>(U.size()) - 1};
            std::vector<double> at;
            for (int n = 0; n < 8; ++n) at.push_back(end * unit(rng));
            for (size_t n = static_cast<size_t>(p + 1); n + p + 1 < U.size(); ++n)
                at.push_back(U[n]);
            for (double u : at) {
                for (int side = 1; side <= 2; ++side) {
                    if (side == 2 && u == 0.0) continue;
                    const int nd = p + 1;
                    std::vector<double> ders(static_cast<size_t>((nd + 1) * (p + 1)), -7.0);
                    int span = -1;
                    ASSERT_EQ(N_KNTABD(knt, p, u, side, nd, ders.data(), &span), kOk);
                    std::vector<double> first(static_cast<size_t>(2 * (p + 1)), -7.0);
                    int first_span = -1;
                    ASSERT_EQ(N_KNTABD(knt, p, u, side, 1, first.data(), &first_span), kOk);
                    EXPECT_EQ(first_span, span);
                    if (kPlainDoubles) {
                        EXPECT_EQ(
                            std::memcmp(first.data(), ders.data(), first.size() * sizeof(double)),
                            0)
                            << "p=" << p << " u=" << u << " side=" << side;
                    }
                    for (size_t k = 0; !kPlainDoubles && k < first.size(); ++k)
                        EXPECT_NEAR(first[k], ders[k], 1e-12 * (1.0 + std::fabs(ders[k])))
                            << "p=" << p << " u=" << u << " side=" << side << " k=" << k;
                    for (int k = 0; k <= nd; ++k) {
                        for (int r = 0; r <= p; ++r) {
                            const double want = plain_basis(U, span - p + r, p, k, u, side);
                            const double got = ders[static_cast<size_t>(k * (p + 1) + r)];
                            EXPECT_NEAR(got, want, 1e-9 * (1.0 + std::fabs(want)))
                                << "p=" << p << " u=" << u << " side=" << side << " k=" << k
                                << " r=" << r;
                        }
                    }
                }
            }
        }
    }
}

}  // namespace
