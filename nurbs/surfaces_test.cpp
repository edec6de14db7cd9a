#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "nurbs/nurbs.h"
#include "nurbs/testing/ruvane_test_host.h"
#include "nurbs/testing/ruvane_test_reference.h"

namespace {

using namespace ruvane;
using sx::testing::SurfaceData;

SurfaceData random_surface(std::mt19937& rng, int p, int q, bool clamped, bool rational,
                           bool planar, int more = 0) {
    std::uniform_real_distribution<double> coord(-5.0, 5.0);
    std::uniform_real_distribution<double> weight(0.3, 3.0);
    std::uniform_int_distribution<int> extra(0, 3);
    SurfaceData s;
    s.p = p;
    s.q = q;
    s.nu = p + 1 + extra(rng) + more;
    s.nv = q + 1 + extra(rng);
    s.uknots = sx::testing::random_knots(rng, s.nu, p, 0.0, 2.0, clamped);
    s.vknots = sx::testing::random_knots(rng, s.nv, q, -1.0, 1.0, clamped);
    for (int e = 0; e < s.nu * s.nv; ++e) {
        s.weights.push_back(rational ? weight(rng) : 1.0);
        s.points.push_back(coord(rng));
        s.points.push_back(coord(rng));
        s.points.push_back(planar ? 0.0 : coord(rng));
    }
    return s;
}

class Surfaces : public sx::testing::CountingHostTest {
protected:
    // Builds through N_IGS128 over [u0, u1] x [v0, v1] (default: the whole
    // domain), rows arranged as the routine takes them (first index along u).
    Status build(const SurfaceData& s, Surface* sur, double u0 = NAN, double u1 = NAN,
                 double v0 = NAN, double v1 = NAN) {
        std::vector<std::vector<Point3>> pts(s.nu, std::vector<Point3>(s.nv));
        std::vector<std::vector<double>> ws(s.nu, std::vector<double>(s.nv));
        std::vector<const Point3*> p_rows;
        std::vector<const double*> w_rows;
        for (int i = 0; i < s.nu; ++i) {
            for (int j = 0; j < s.nv; ++j) {
                const int e = j * s.nu + i;
                pts[i][j] = {s.points[3 * e], s.points[3 * e + 1], s.points[3 * e + 2]};
                ws[i][j] = s.weights[e];
            }
            p_rows.push_back(pts[i].data());
            w_rows.push_back(ws[i].data());
        }
        if (std::isnan(u0)) u0 = s.uknots[s.p], u1 = s.uknots[s.nu];
        if (std::isnan(v0)) v0 = s.vknots[s.q], v1 = s.vknots[s.nv];
        return N_IGS128(s.nu - 1, s.nv - 1, s.p, s.q, s.uknots.data(), s.vknots.data(),
                        w_rows.data(), p_rows.data(), u0, u1, v0, v1, sur, &pool_);
    }
    static Point3 at(const Surface& sur, double u, double v) {
        Point3 p;
        EXPECT_EQ(N_SUREVN(sur, 1, u, v, &p), kOk) << u << " " << v;
        return p;
    }
    static Point3 at(const Curve& cur, double t) {
        Point4 cw;
        EXPECT_EQ(N_CUREVN(cur, 1, t, &cw), kOk) << t;
        return project_point(cw);
    }
};

double scale_of(const SurfaceData& s) { return std::max(1.0, sx::testing::max_abs(s.points)); }

TEST_F(Surfaces, RandomSurfacesMatchIndependentEvaluation) {
    std::mt19937 rng(1206);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int p = 1; p <= 7; ++p) {
        for (int variant = 0; variant < 8; ++variant) {
            const int q = 1 + (p + variant) % 7;
            const bool clamped = variant & 1, rational = variant & 2;
            // Now and then a long net, whose clipping works beyond the
            // stack arrays.
            const int more = variant == 5 ? 40 + 8 * p : 0;
            const SurfaceData s = random_surface(rng, p, q, clamped, rational, variant & 4, more);
            SCOPED_TRACE(::testing::Message() << "p=" << p << " q=" << q << " variant=" << variant);
            // Sub-ranges exercise the clipping in both directions.
            const double u0 = clamped ? 0.0 : 0.25, u1 = clamped ? 2.0 : 1.75;
            const double v0 = -1.0, v1 = clamped ? 1.0 : 0.5;
            Surface sur;
            ASSERT_EQ(build(s, &sur, u0, u1, v0, v1), kOk)
                << error_record().code << error_record().routine;
            EXPECT_EQ(sur.uknt->U[0], u0);
            EXPECT_EQ(sur.vknt->U[sur.vknt->m], v1);
            EXPECT_EQ(sur.net->Pw[0][0].w == kNonRationalW, !rational);
            const double tol = 1e-12 * scale_of(s);
            for (int k = 0; k < 12; ++k) {  // the two corners, then anywhere
                const double u = k < 2 ? (k ? u1 : u0) : u0 + (u1 - u0) * unit(rng);
                const double v = k < 2 ? (k ? v1 : v0) : v0 + (v1 - v0) * unit(rng);
                const auto ref = sx::testing::reference_surface_point(s, u, v, u == u1, v == v1);
                const Point3 want{static_cast<double>(ref.x), static_cast<double>(ref.y),
                                  static_cast<double>(ref.z)};
                Point3 row0[2], row1[2];
                Point3* skl[2] = {row0, row1};
                ASSERT_EQ(N_SURDER(sur, 1, u, v, 1, 1, 1, skl), kOk);
                EXPECT_LE(vec_distance(at(sur, u, v), want), tol) << u << " " << v;
                EXPECT_LE(vec_distance(row0[0], want), tol) << u << " " << v;
            }
            // A piece (cut twice into one record, as the tessellator reuses
            // it) and the iso-curves at u = a1 and v = b0 reproduce the surface.
            const double a0 = (3 * u0 + u1) / 4, a1 = (u0 + 3 * u1) / 4;
            const double b0 = (3 * v0 + v1) / 4, b1 = (v0 + 3 * v1) / 4;
            Surface piece;
            Curve at_u, at_v;
            ASSERT_EQ(N_TOOSSG(sur, u0, a0, v0, b0, &piece, &pool_), kOk);
            ASSERT_EQ(N_TOOSSG(sur, a0, a1, b0, b1, &piece, &pool_), kOk);
            ASSERT_EQ(N_TOOSCX(sur, 1, a1, &at_u, &pool_), kOk);
            ASSERT_EQ(N_TOOSCX(sur, 2, b0, &at_v, &pool_), kOk);
            EXPECT_EQ(piece.uknt->U[0], a0);
            EXPECT_EQ(piece.vknt->U[piece.vknt->m], b1);
            for (int k = 0; k < 6; ++k) {
                const double u = a0 + (a1 - a0) * unit(rng), v = b0 + (b1 - b0) * unit(rng);
                EXPECT_LE(vec_distance(at(sur, u, v), at(piece, u, v)), tol);
                EXPECT_LE(vec_distance(at(sur, a1, v), at(at_u, v)), tol);
                EXPECT_LE(vec_distance(at(sur, u, b0), at(at_v, u)), tol);
            }
        }
    }
    Curve iso;
    EXPECT_EQ(N_TOOSCX(Surface{}, 3, 0.0, &iso, &pool_), kFail);
    EXPECT_EQ(error_record().code, 13);
}

// First and second derivatives against central differences of the points
// and of the first derivatives (the points are checked independently above).
TEST_F(Surfaces, DerivativesMatchFiniteDifferences) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<double> unit(0.1, 0.9);
    using Table = std::array<std::array<Point3, 3>, 3>;  // [k][l]: k times along u, l along v
    auto derivatives = [](const Surface& sur, double u, double v, Table& d) {
        Point3* rows[3] = {d[0].data(), d[1].data(), d[2].data()};
        ASSERT_EQ(N_SURDER(sur, 1, u, v, 2, 2, 0, rows), kOk);
    };
    for (int p = 1; p <= 5; ++p) {
        for (int rational = 0; rational < 2; ++rational) {
            const SurfaceData s = random_surface(rng, p, 1 + (p % 4), true, rational, false);
            Surface sur;
            ASSERT_EQ(build(s, &sur), kOk);
            for (int k = 0; k < 5; ++k) {
                const double u = 2 * unit(rng), v = -1 + 2 * unit(rng), h = 1e-5;
                Table d, a, b;
                derivatives(sur, u, v, d);
                const double tol =
                    1e-5 * scale_of(s) * (1 + vec_length(d[1][0]) + vec_length(d[0][1]));
                for (int dir = 0; dir < 2; ++dir) {
                    derivatives(sur, u + (dir == 0) * h, v + (dir == 1) * h, a);
                    derivatives(sur, u - (dir == 0) * h, v - (dir == 1) * h, b);
                    auto diff = [&](int i, int j) {
                        return vec_scale(vec_sub(a[i][j], b[i][j]), 0.5 / h);
                    };
                    const int i = dir == 0, j = dir == 1;
                    SCOPED_TRACE(::testing::Message() << "p=" << p << " along "
                                                      << "uv"[dir]);
                    EXPECT_LE(vec_distance(diff(0, 0), d[i][j]), tol);
                    EXPECT_LE(vec_distance(diff(i, j), d[2 * i][2 * j]), 1e3 * tol);
                    EXPECT_LE(vec_distance(diff(j, i), d[1][1]), 1e3 * tol);
                }
            }
        }
    }
}

}  // namespace
