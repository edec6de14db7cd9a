#include <gtest/gtest.h>

#include <cfloat>
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
// or not, against the defining recursion in long double.
TEST_F(Curves, RandomCurvesMatchIndependentEvaluation) {
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int checked = 0;
    for (int p = 1; p <= 7; ++p) {
        for (int variant = 0; variant < 8; ++variant) {
            const bool clamped = variant & 1;
            const bool rational = variant & 2;
            const bool planar = variant & 4;
            for (int trial = 0; trial < 6; ++trial) {
                const CurveData c = sx::testing::random_curve(rng, p, clamped, rational, planar);
                Curve cur;
                ASSERT_EQ(build(c, &cur), kOk) << error_record().code << error_record().routine;
                // After creation the curve is clamped on exactly [0, 1].
                ASSERT_EQ(cur.knt->U[0], 0.0);
                ASSERT_EQ(cur.knt->U[cur.knt->m], 1.0);
                EXPECT_EQ(cur.knt->m, cur.pol->n + p + 1);
                EXPECT_EQ(cur.pol->Pw[0].w == kNonRationalW, !rational);
                EXPECT_EQ(cur.pol->Pw[0].z == kPlanarZ, planar);
                const double tol = 1e-12 * std::max(1.0, sx::testing::max_abs(c.points));
                std::vector<double> params = {0.0, 1.0};
                for (int k = 0; k < 12; ++k) params.push_back(unit(rng));
                for (double k : c.knots) {
                    if (k > 0.0 && k < 1.0) params.push_back(k);
                }
                for (double u : params) {
                    const Point3 got = eval(cur, u);
                    const auto ref = sx::testing::reference_curve_point(c, u, u == 1.0);
                    expect_near_ref(got, ref, tol,
                                    "p=" + std::to_string(p) + " variant=" +
                                        std::to_string(variant) + " u=" + std::to_string(u));
                    if (planar) {
                        EXPECT_EQ(got.z, 0.0);
                    }
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(checked, 5000);
}

// Clipping to a sub-range keeps the shape there and clamps the knots exactly.
TEST_F(Curves, ClippedCurveEqualsOriginalOnKeptRange) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int p = 1; p <= 7; ++p) {
        for (int trial = 0; trial < 8; ++trial) {
            const CurveData c =
                sx::testing::random_curve(rng, p, trial % 2 == 0, trial % 3 == 0, false);
            double v0 = unit(rng), v1 = unit(rng);
            if (v0 > v1) std::swap(v0, v1);
            if (trial == 1) v1 = c.knots[p + 2];  // ends exactly on an existing knot
            if (!(v0 < v1)) continue;
            Curve cur;
            ASSERT_EQ(build(c, &cur, v0, v1), kOk);
            for (int i = 0; i <= p; ++i) {
                EXPECT_EQ(cur.knt->U[i], v0);
                EXPECT_EQ(cur.knt->U[cur.knt->m - i], v1);
            }
            const double tol = 1e-12 * sx::testing::max_abs(c.points);
            for (int k = 0; k <= 10; ++k) {
                const double u = k == 10 ? v1 : v0 + (v1 - v0) * k / 10.0;
                expect_near_ref(eval(cur, u), sx::testing::reference_curve_point(c, u, u == v1),
                                tol, "clip p=" + std::to_string(p));
            }
            // The clipped curve starts and ends on control points.
            const Point3 first = project_point(cur.pol->Pw[0]);
            const Point3 start = eval(cur, v0);
            EXPECT_NEAR(first.x, start.x, tol);
            EXPECT_NEAR(first.y, start.y, tol);
        }
    }
}

// The reversed curve runs the other way: R(t) = C(a + b - t), in place or
// into a fresh record, for random curves.
TEST_F(Curves, ReversedCurveRunsBackwards) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int p = 1; p <= 7; ++p) {
        const CurveData c = sx::testing::random_curve(rng, p, p % 2 == 0, p % 3 != 0, false);
        Curve cur;
        ASSERT_EQ(build(c, &cur), kOk);
        Curve into;
        ASSERT_EQ(N_CURREV(&cur, &into, &pool_), kOk);
        ASSERT_EQ(N_CURREV(&cur, &cur, &pool_), kOk);
        const double tol = 1e-12 * sx::testing::max_abs(c.points);
        for (int k = 0; k < 10; ++k) {
            const double t = unit(rng);
            const auto ref = sx::testing::reference_curve_point(c, 1.0 - t, false);
            expect_near_ref(eval(into, t), ref, tol, "reversed p=" + std::to_string(p));
            expect_near_ref(eval(cur, t), ref, tol, "in place p=" + std::to_string(p));
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
        CurveData c = sx::testing::random_curve(rng, p, true, p % 2 == 0, false);
        // Put a run of p + 1 knots at 0.5 after the first p + 1 interior points.
        std::vector<double> knots(p + 1, 0.0);
        for (int i = 0; i <= p; ++i) knots.push_back(0.5);
        for (int i = 0; i <= p; ++i) knots.push_back(1.0);
        const int count = static_cast<int>(knots.size()) - p - 1;  // 2p + 2 points
        c.knots = knots;
        c.weights.resize(count, 1.0);
        c.points.resize(3 * count, 1.0);
        for (int i = 0; i < count; ++i) {
            c.points[3 * i] = unit(rng);
            c.weights[i] = 0.5 + unit(rng);
        }
        // Continuity: the last point of the left piece equals the first of the right.
        const int e = p + 1;
        for (int k = 0; k < 3; ++k) c.points[3 * e + k] = c.points[3 * (e - 1) + k];
        c.weights[e] = c.weights[e - 1];
        Curve cur;
        ASSERT_EQ(build(c, &cur), kOk);
        EXPECT_EQ(cur.pol->n, count - 2) << "one point fewer";
        int run = 0;
        for (int i = 0; i <= cur.knt->m; ++i) run += cur.knt->U[i] == 0.5;
        EXPECT_EQ(run, p);
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
    EXPECT_EQ(cur.knt->m, 5);
    const Point3 mid = eval(cur, 0.5);
    EXPECT_DOUBLE_EQ(mid.x, 1.0);
    EXPECT_DOUBLE_EQ(mid.y, 0.5);
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
    const int p = 2;
    struct Case {
        double u;
        int side;
        int span;
    } cases[] = {
        {1.0, 1, 5}, {0.0, 2, 2}, {0.0, 1, 2}, {0.25, 1, 3}, {0.25, 2, 2}, {0.5, 1, 5},
        {0.5, 2, 3}, {0.3, 1, 3}, {0.3, 2, 3}, {0.75, 1, 5}, {1.0, 2, 5},
    };
    for (const Case& c : cases) {
        int span = -1;
        ASSERT_EQ(N_KNTFSP(knt, p, c.u, c.side, &span), kOk) << c.u;
        EXPECT_EQ(span, c.span) << "u=" << c.u << " side=" << c.side;
        // Whatever the side, the span brackets u.
        EXPECT_LE(U[span], c.u);
        EXPECT_GE(U[span + 1], c.u);
        EXPECT_LT(U[span], U[span + 1]);
    }
    int span = 0;
    EXPECT_EQ(N_KNTFSP(knt, p, 0.5, 3, &span), kFail);
    EXPECT_EQ(error_record().code, 13);
    EXPECT_STREQ(error_record().routine, "N_KNTFSP");
    EXPECT_EQ(N_KNTFSP(knt, p, 1.5, 1, &span), kFail);
    EXPECT_EQ(error_record().code, 6);
    EXPECT_EQ(N_KNTFSP(knt, p, NAN, 1, &span), kFail);
    EXPECT_EQ(error_record().code, 6);
    // Outside the valid domain of an unclamped vector: refused, not looped on.
    double V[] = {-2, -1, 0, 1, 2, 3};
    const KnotVector uniform{5, V, 5};
    EXPECT_EQ(N_KNTFSP(uniform, 2, -0.5, 1, &span), kFail);
    EXPECT_EQ(N_KNTFSP(uniform, 2, 0.0, 1, &span), kOk);
    EXPECT_EQ(span, 2);
}

}  // namespace
