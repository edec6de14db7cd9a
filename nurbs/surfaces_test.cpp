#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "nurbs/basis.h"
#include "nurbs/nurbs.h"
#include "nurbs/tessellation/tess_lattice.h"
#include "nurbs/tessellation/tess_sample.h"
#include "nurbs/testing/ruvane_test_host.h"
#include "nurbs/testing/ruvane_test_reference.h"

namespace {

using namespace ruvane;
using sx::testing::SurfaceData;

SurfaceData random_surface(std::mt19937& rng, int p, int q, bool clamped, bool rational,
                           bool planar, int more = 0, int more_v = 0) {
    std::uniform_real_distribution<double> coord(-5.0, 5.0);
    std::uniform_real_distribution<double> weight(0.3, 3.0);
    std::uniform_int_distribution<int> extra(0, 3);
    SurfaceData s;
    s.p = p;
    s.q = q;
    s.nu = p + 1 + extra(rng) + more;
    s.nv = q + 1 + extra(rng) + more_v;
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

bool same_bits(const Point3& a, const Point3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ == 0 && !defined(__FMA__)
constexpr bool kPlainDoubles = true;
#else
constexpr bool kPlainDoubles = false;
#endif

// The surface point from its bases in the order meshes have always been
// computed in (each column of the net summed along u from its first point,
// then those sums along v), for nets without sentinels: the meshes' bits
// hang on this order.
Point3 point_in_order(const Surface& sur, const double* Nu, int su, const double* Nv, int sv) {
    Point4 r{0.0, 0.0, 0.0, 0.0};
    for (int j = 0; j <= sur.q; ++j) {
        Point4 c{0.0, 0.0, 0.0, 0.0};
        for (int i = 0; i <= sur.p; ++i) {
            const Point4& P = sur.net->Pw[su - sur.p + i][sv - sur.q + j];
            c.x += Nu[i] * P.x;
            c.y += Nu[i] * P.y;
            c.z += Nu[i] * P.z;
            c.w += Nu[i] * P.w;
        }
        r.x += Nv[j] * c.x;
        r.y += Nv[j] * c.y;
        r.z += Nv[j] * c.z;
        r.w += Nv[j] * c.w;
    }
    if (r.w == kNonRationalW) return {r.x, r.y, r.z};
    return {r.x / r.w, r.y / r.w, r.z / r.w};
}

// A piece cut into one joined block (as the subdivision's cells hold theirs)
// is the piece cut into pooled storage, to the bit, and the block's arrays
// stay inside it without overlapping.
TEST_F(Surfaces, PiecesInOneBlockMatchPooledPieces) {
    std::mt19937 rng(4711);
    for (int p = 1; p <= 5; ++p) {
        for (int variant = 0; variant < 4; ++variant) {
            const int q = 1 + (p + variant) % 5;
            const SurfaceData s = random_surface(rng, p, q, true, variant & 1, false, 6 * variant);
            SCOPED_TRACE(::testing::Message() << "p=" << p << " q=" << q << " variant=" << variant);
            Surface sur;
            ASSERT_EQ(build(s, &sur), kOk);
            const int n = sur.net->n, m = sur.net->m, mu = sur.uknt->m, mv = sur.vknt->m;
            const std::size_t bytes = surface_block_size(n, m, mu, mv);
            ASSERT_GT(bytes, 0u);
            // Filled with a pattern, so that a value left unset shows.
            std::vector<double> block(bytes / sizeof(double) + 1, 1e300);
            Surface joined;
            surface_in_block(block.data(), n, m, mu, mv, &joined);
            const auto* lo = reinterpret_cast<const unsigned char*>(block.data());
            auto inside = [&](const void* first, std::size_t size) {
                const auto* at = static_cast<const unsigned char*>(first);
                return at >= lo && at + size <= lo + bytes;
            };
            EXPECT_TRUE(inside(joined.net->Pw, (n + 1) * sizeof(Point4*)));
            EXPECT_TRUE(inside(joined.net->Pw[0], (n + 1) * (m + 1) * sizeof(Point4)));
            EXPECT_TRUE(inside(joined.uknt->U, (mu + 1) * sizeof(double)));
            EXPECT_TRUE(inside(joined.vknt->U, (mv + 1) * sizeof(double)));
            EXPECT_EQ(joined.net->cap_n, n);
            EXPECT_EQ(joined.vknt->cap, mv);
            EXPECT_EQ(joined.vknt->U[mv], 0.0);
            EXPECT_EQ(joined.net->Pw[n][m].w, 0.0);
            const double u0 = sur.uknt->U[0], u1 = sur.uknt->U[mu];
            const double v0 = sur.vknt->U[0], v1 = sur.vknt->U[mv];
            const double a = u0 + 0.3 * (u1 - u0), b = u0 + 0.8 * (u1 - u0);
            const double c = v0 + 0.1 * (v1 - v0), d = v0 + 0.55 * (v1 - v0);
            Surface pooled;
            ASSERT_EQ(N_TOOSSG(sur, a, b, c, d, &pooled, &pool_), kOk);
            ASSERT_EQ(N_TOOSSG(sur, a, b, c, d, &joined, nullptr), kOk);
            ASSERT_EQ(joined.net->n, pooled.net->n);
            ASSERT_EQ(joined.net->m, pooled.net->m);
            ASSERT_EQ(joined.uknt->m, pooled.uknt->m);
            ASSERT_EQ(joined.vknt->m, pooled.vknt->m);
            EXPECT_EQ(0, std::memcmp(joined.uknt->U, pooled.uknt->U,
                                     (pooled.uknt->m + 1) * sizeof(double)));
            EXPECT_EQ(0, std::memcmp(joined.vknt->U, pooled.vknt->U,
                                     (pooled.vknt->m + 1) * sizeof(double)));
            for (int i = 0; i <= pooled.net->n; ++i)
                EXPECT_EQ(0, std::memcmp(joined.net->Pw[i], pooled.net->Pw[i],
                                         (pooled.net->m + 1) * sizeof(Point4)))
                    << "row " << i;
        }
    }
    EXPECT_EQ(surface_block_size(-1, 2, 3, 3), 0u);
    EXPECT_EQ(surface_block_size(3, 3, 7, -1), 0u);
    EXPECT_EQ(surface_block_size(1 << 20, 1 << 20, 7, 7), 0u);  // beyond any 32-bit block
}

// Points on a grid of parameter lines, each line's basis found once, are
// N_SUREVN's to the bit in any order; a value outside the domain fails as
// N_SUREVN fails (code 6, its name), and so does N_KNTALB's own range check.
TEST_F(Surfaces, LineSamplesAreSurfacePointsBitForBit) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int p = 1; p <= 6; ++p) {
        const int q = 1 + (p * 2) % 6;
        const SurfaceData s = random_surface(rng, p, q, true, p % 2, false);
        SCOPED_TRACE(::testing::Message() << "p=" << p << " q=" << q);
        Surface sur;
        ASSERT_EQ(build(s, &sur), kOk);
        const double u0 = sur.uknt->U[0], u1 = sur.uknt->U[sur.uknt->m];
        const double v0 = sur.vknt->U[0], v1 = sur.vknt->U[sur.vknt->m];
        double us[6] = {u0, u1, 0, 0, 0, u1 + 1e-9}, vs[5] = {v0, v1, 0, 0, v0 - 1.0};
        for (int k = 2; k < 5; ++k) us[k] = u0 + (u1 - u0) * unit(rng);
        for (int k = 2; k < 4; ++k) vs[k] = v0 + (v1 - v0) * unit(rng);
        tess::LineBasis ub[6], vb[5];
        tess::LineSampler sample(sur, us, ub, vs, vb);
        std::vector<std::pair<int, int>> order;
        for (int i = 0; i < 6; ++i)
            for (int j = 0; j < 5; ++j) order.push_back({i, j});
        std::shuffle(order.begin(), order.end(), rng);
        for (const auto& [i, j] : order) {
            Point3 got{}, want{};
            const bool outside = i == 5 || j == 4;
            error_record() = ErrorRecord{0, ""};
            EXPECT_EQ(sample.at(i, j, &got), !outside) << i << " " << j;
            if (outside) {
                EXPECT_EQ(error_record().code, 6);
                EXPECT_STREQ(error_record().routine, "N_SUREVN");
                continue;
            }
            ASSERT_EQ(N_SUREVN(sur, 1, us[i], vs[j], &want), kOk);
            EXPECT_TRUE(same_bits(got, want)) << i << " " << j;
            // Plain double arithmetic only: x87's wider registers and fused
            // multiply-adds may round the two copies of the sums apart.
            if (!kPlainDoubles || sur.net->Pw[0][0].w == kNonRationalW) continue;
            EXPECT_TRUE(same_bits(got, point_in_order(sur, ub[i].N, ub[i].span, vb[j].N,
                                                      vb[j].span)))
                << i << " " << j;
        }
        // basis_in_range is N_KNTALB after the range check, to the bit.
        for (int k = 0; k < 5; ++k) {
            double N1[kMaxDegree + 1], N2[kMaxDegree + 1];
            int s1 = -1, s2 = -2;
            ASSERT_EQ(N_KNTALB(*sur.uknt, p, us[k], 1, N1, &s1), kOk);
            ASSERT_EQ(basis_in_range(*sur.uknt, p, us[k], 1, N2, &s2), kOk);
            EXPECT_EQ(s1, s2);
            EXPECT_EQ(0, std::memcmp(N1, N2, (p + 1) * sizeof(double)));
        }
    }
    KnotVector knots;
    double U[4] = {0.0, 0.0, 1.0, 1.0};
    knots.U = U;
    knots.m = 3;
    double N[kMaxDegree + 1];
    int span = 0;
    EXPECT_EQ(N_KNTALB(knots, 1, NAN, 1, N, &span), kFail);
    EXPECT_EQ(error_record().code, 6);
    EXPECT_STREQ(error_record().routine, "N_KNTALB");
    EXPECT_EQ(basis_in_range(knots, 2, 0.5, 1, N, &span), kFail);  // too few knots for p = 2
    EXPECT_STREQ(error_record().routine, "N_KNTALB");
}

// A lattice's grid of sampled lines gives N_SUREVN's points to the bit in
// both directions, with u lines across or along, where the degree in v
// keeps column sums and where it is too high for them; laid again along the
// same points with other lines across, it still does. A value outside the
// domain fails as N_SUREVN fails. Its storage is two blocks, reused when
// laid again and given back when it goes.
TEST_F(Surfaces, GridLinesAreSurfacePointsBitForBit) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const auto& [p, q] : {std::pair{3, 2}, {2, 3}, {1, 9}, {5, 1}}) {
        SurfaceData data = random_surface(rng, p, q, true, (p + q) % 2, false, 6, 6);
        for (double& x : data.vknots) x += 1.0;  // both domains from 0, as the lattice's are
        Surface sur;
        ASSERT_EQ(build(data, &sur), kOk);
        const KnotVector& U = *sur.uknt;
        const KnotVector& V = *sur.vknt;
        for (const int direction : {1, 2}) {
            SCOPED_TRACE(::testing::Message() << "p=" << p << " q=" << q << " d=" << direction);
            const KnotVector& across_knots = direction == 1 ? U : V;
            const KnotVector& along_knots = direction == 1 ? V : U;
            const double a0 = across_knots.U[0], a1 = across_knots.U[across_knots.m];
            const double b0 = along_knots.U[0], L = along_knots.U[along_knots.m] - b0;
            ASSERT_EQ(b0, 0.0);
            tess::Scratch scratch;
            const long live = sx::testing::counters().live;
            {
                tess::LineGrid grid;
                for (int round = 0; round < 2; ++round) {
                    constexpr int kAcross = 7;  // the last one outside the domain
                    double across[kAcross] = {a0, a1};
                    for (int i = 2; i + 1 < kAcross; ++i) across[i] = a0 + (a1 - a0) * unit(rng);
                    across[kAcross - 1] = a1 + 1.0;
                    const int M = 20;
                    const long calls = sx::testing::counters().calls;
                    ASSERT_TRUE(grid.lay(sur, direction, L, across, kAcross, M, scratch));
                    // Laid again at the same sizes, it asks the host nothing.
                    if (round == 1) {
                        EXPECT_EQ(sx::testing::counters().calls, calls);
                    }
                    EXPECT_EQ(sx::testing::counters().live, live + 2);
                    for (int n = 0; n < kAcross * (M + 1); ++n) {
                        // Every crossing once: in order along the lines, then out of
                        // order (37 is prime to 7 * 21).
                        const int mixed = round == 0 ? n : (n * 37) % (kAcross * (M + 1));
                        const int i = mixed % kAcross, k = mixed / kAcross;
                        const double along = k == 0 ? 0.0 : L * k / M;
                        const double u = direction == 1 ? across[i] : along;
                        const double v = direction == 1 ? along : across[i];
                        Point3 got{}, want{};
                        error_record() = ErrorRecord{0, ""};
                        const bool ok = grid.at(i, k, &got);
                        ASSERT_EQ(ok, i != kAcross - 1) << i << " " << k;
                        if (!ok) {
                            EXPECT_EQ(error_record().code, 6);
                            EXPECT_STREQ(error_record().routine, "N_SUREVN");
                            continue;
                        }
                        ASSERT_EQ(N_SUREVN(sur, 1, u, v, &want), kOk);
                        EXPECT_TRUE(same_bits(got, want)) << i << " " << k;
                    }
                }
            }
            EXPECT_EQ(sx::testing::counters().live, live);
        }
    }
    // Storage refused: the grid says so.
    const SurfaceData data = random_surface(rng, 3, 3, true, false, false);
    Surface sur;
    ASSERT_EQ(build(data, &sur), kOk);
    tess::Scratch scratch;
    tess::LineGrid grid;
    const double across[2] = {sur.uknt->U[0], sur.uknt->U[sur.uknt->m]};
    sx::testing::arm(2);
    EXPECT_FALSE(grid.lay(sur, 1, 1.0, across, 2, 8, scratch));
    sx::testing::arm(0);
}

// Lattices laid from samples kept between lays (both orders of two bending
// directions, saddle bands, another surface after) are the ones laid from
// fresh samples, to the bit: a kept grid or bend is taken only for the same
// surface, direction, length and band.
TEST_F(Surfaces, LatticesFromKeptSamplesAreTheFreshOnes) {
    std::mt19937 rng(7);
    const auto same_table = [](const tess::Table<double>& a, const tess::Table<double>& b) {
        return a.size == b.size &&
               (a.size == 0 || std::memcmp(a.data, b.data, a.size * sizeof(double)) == 0);
    };
    int laid = 0, bands = 0;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(::testing::Message() << "round " << round);
        Surface sur[2];
        for (Surface& one : sur) {
            SurfaceData d =
                random_surface(rng, 2 + round % 2, 2 + round / 3, true, round % 2, false, 2, 2);
            for (double& v : d.vknots) v += 1.0;  // the metric domain starts at 0
            ASSERT_EQ(build(d, &one), kOk);
        }
        const double Lu = 2.0, Lv = 2.0, edge[2] = {0.0, 0.0};
        tess::Scratch s;
        tess::LatticeSamples kept;
        // Surface 0: each direction, again in the other order, then a band;
        // then surface 1 the same way, on the same kept samples.
        struct Lay {
            int surface, direction;
            double from, to;
        };
        const Lay lays[] = {{0, 1, 0, 0},     {0, 2, 0, 0}, {0, 2, 0, 0},     {0, 1, 0, 0},
                            {0, 1, 0.5, 1.5}, {1, 1, 0, 0}, {1, 2, 0.5, 1.5}, {1, 2, 0, 0}};
        for (const Lay& lay : lays) {
            SCOPED_TRACE(::testing::Message() << "surface " << lay.surface << " direction "
                                              << lay.direction << " from " << lay.from);
            tess::Lattice fresh, reused;
            for (tess::Lattice* l : {&fresh, &reused}) {
                l->from = lay.from;
                l->to = lay.to;
                l->saddle = lay.to > lay.from;
            }
            reused.samples = &kept;
            const Surface& one = sur[lay.surface];
            ASSERT_TRUE(
                tess::lay_lattice(one, lay.direction, Lu, Lv, 1, 0.01, edge, 0.0, s, &fresh));
            ASSERT_TRUE(
                tess::lay_lattice(one, lay.direction, Lu, Lv, 1, 0.01, edge, 0.0, s, &reused));
            EXPECT_TRUE(same_table(fresh.lines, reused.lines));
            EXPECT_TRUE(same_table(fresh.expected, reused.expected));
            EXPECT_EQ(fresh.bent_across, reused.bent_across);
            EXPECT_EQ(std::memcmp(&fresh.share, &reused.share, sizeof(double)), 0);
            laid += fresh.lines.size > 0 ? 1 : 0;
            bands += fresh.lines.size > 0 && lay.to > lay.from ? 1 : 0;
        }
    }
    // The lays compared are real lattices, bands among them.
    EXPECT_GT(laid, 10);
    EXPECT_GT(bands, 2);
}

// Points asked by value from caches that share one store of lines (as the
// cells of a subdivision do) are N_SUREVN's to the bit, whether the point,
// its lines or its u line's column sums were there before or not: values
// met again in other caches, v values far apart on one u line (the columns
// kept move), and degrees beyond the unrolled ones. A value outside the
// domain fails with N_SUREVN's record; a cache takes kLines values.
TEST_F(Surfaces, CachedSamplesAreSurfacePointsBitForBit) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int p = 1; p <= 6; ++p) {
        const int q = 1 + (p * 5) % 6;
        // Many columns, so that a u line's kept column sums move along it.
        const SurfaceData s = random_surface(rng, p, q, true, p % 2 == 0, false, 2, 20);
        SCOPED_TRACE(::testing::Message() << "p=" << p << " q=" << q);
        Surface sur;
        ASSERT_EQ(build(s, &sur), kOk);
        const double u0 = sur.uknt->U[0], u1 = sur.uknt->U[sur.uknt->m];
        const double v0 = sur.vknt->U[0], v1 = sur.vknt->U[sur.vknt->m];
        // A few shared values (a cell's sides), the rest fresh per cache.
        const double shared_u[3] = {u0, u1, u0 + 0.5 * (u1 - u0)};
        const double shared_v[3] = {v0, v1, v0 + 0.25 * (v1 - v0)};
        tess::Scratch scratch;
        tess::LineStores store;
        for (int cell = 0; cell < 6; ++cell) {
            tess::PointCache cache(sur, scratch, store);
            for (int k = 0; k < 40; ++k) {
                const double u = k % 3 == 0 ? shared_u[k % 9 / 3] : u0 + (u1 - u0) * unit(rng);
                const double v = k % 2 == 0 ? shared_v[k % 6 / 2] : v0 + (v1 - v0) * unit(rng);
                const int i = cache.u_line(u), j = cache.v_line(v);
                if (i < 0 || j < 0) break;  // a fresh cache per batch of lines
                Point3 got{}, want{};
                ASSERT_TRUE(cache.at(i, j, &got)) << u << " " << v;
                ASSERT_EQ(N_SUREVN(sur, 1, u, v, &want), kOk);
                EXPECT_TRUE(same_bits(got, want)) << cell << " " << k;
                EXPECT_TRUE(cache.at(i, j, &got));  // kept
                EXPECT_TRUE(same_bits(got, want)) << cell << " " << k << " again";
            }
            const int outside = cache.v_line(v1 + 1.0);
            Point3 none{};
            error_record() = ErrorRecord{0, ""};
            if (outside >= 0) {
                EXPECT_FALSE(cache.at(cache.u_line(u0), outside, &none));
                EXPECT_EQ(error_record().code, 6);
                EXPECT_STREQ(error_record().routine, "N_SUREVN");
            }
        }
    }
    SurfaceData s = random_surface(rng, 2, 2, true, false, false);
    Surface sur;
    ASSERT_EQ(build(s, &sur), kOk);
    tess::Scratch scratch;
    tess::LineStores store;
    tess::PointCache cache(sur, scratch, store);
    for (int k = 0; k < tess::PointCache::kLines; ++k) EXPECT_EQ(cache.u_line(0.01 * k), k);
    EXPECT_EQ(cache.u_line(0.05), 5);  // the same value, the same line
    EXPECT_EQ(cache.u_line(0.99), -1);
    Point3 none{};
    EXPECT_FALSE(cache.at(-1, 0, &none));
    // Values in any order: the largest asked again is its line, one above
    // it a new line, one below found among the others by its bits.
    tess::PointCache order(sur, scratch, store);
    const double asked[] = {0.5, 0.25, 0.75, 0.75, 0.5, 0.9, 0.25, 0.6, 0.9, -0.0, 0.0};
    const int line[] = {0, 1, 2, 2, 0, 3, 1, 4, 3, 5, 6};
    const int backwards[] = {0, 1, 2, 3, 4, 2, 5, 6, 6, 4, 5};  // the values from the last
    for (int k = 0; k < 11; ++k) {
        EXPECT_EQ(order.v_line(asked[k]), line[k]) << k;
        EXPECT_EQ(order.u_line(asked[10 - k]), backwards[k]) << k;
    }
}

// A subdivision's line store numbers its values in the order they come,
// finds each again by its bits (0 and -0 apart), keeps its records where
// they were while its blocks grow, and asks the host for blocks that
// double from eight lines.
TEST_F(Surfaces, LineStoreKeepsLinesWhereTheyAre) {
    tess::Scratch scratch;
    tess::LineStore store;
    std::vector<tess::Line*> where;
    const long calls = sx::testing::counters().calls;
    for (int k = 0; k < 200; ++k) {
        const double x = k == 1 ? -0.0 : 0.37 * k;
        ASSERT_EQ(store.find(scratch, x), k);
        where.push_back(&store[k]);
        // The slots, the table of blocks, a block; the ninth line a block more.
        if (k == 7 || k == 8) {
            EXPECT_EQ(sx::testing::counters().calls - calls, k - 4) << k;
        }
    }
    for (int k = 199; k >= 0; --k) {
        const double x = k == 1 ? -0.0 : 0.37 * k;
        EXPECT_EQ(store.find(scratch, x), k);
        EXPECT_EQ(&store[k], where[k]) << k;
        EXPECT_EQ(0, std::memcmp(&store[k].value, &x, sizeof x)) << k;
    }
}

// Points asked with span hints are N_SUREVN's to the bit, whatever the hint
// says: points in one span after another, points on knots and at the ends
// of the domain (a span's left end is not inside it: the ends take
// N_KNTALB's shortcut there), and points outside, refused with N_SUREVN's
// record.
TEST_F(Surfaces, HintedPointsAreSurfacePointsBitForBit) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int p = 1; p <= 5; ++p) {
        const int q = 1 + (p + 2) % 5;
        SCOPED_TRACE(::testing::Message() << "p=" << p << " q=" << q);
        const SurfaceData s = random_surface(rng, p, q, p % 2 == 1, p % 3 == 0, false, 3, 3);
        Surface sur;
        ASSERT_EQ(build(s, &sur), kOk);
        const KnotVector &U = *sur.uknt, &V = *sur.vknt;
        std::vector<double> us, vs;
        for (int k = p; k <= U.m - p; ++k) us.push_back(U.U[k]);
        for (int k = q; k <= V.m - q; ++k) vs.push_back(V.U[k]);
        for (int k = 0; k < 60; ++k) {
            us.push_back(U.U[p] + (U.U[U.m - p] - U.U[p]) * unit(rng));
            vs.push_back(V.U[q] + (V.U[V.m - q] - V.U[q]) * unit(rng));
        }
        int hint[2] = {-1, -1};
        for (int pass = 0; pass < 2; ++pass)
            for (double u : us)
                for (double v : vs) {
                    Point3 got{}, want{};
                    ASSERT_EQ(N_SUREVN(sur, 1, u, v, &want), kOk);
                    ASSERT_EQ(surface_point_near(sur, u, v, hint, &got), kOk);
                    ASSERT_TRUE(same_bits(got, want)) << u << " " << v << " pass " << pass;
                }
        Point3 none{};
        error_record() = ErrorRecord{0, ""};
        EXPECT_EQ(surface_point_near(sur, U.U[U.m - p] + 1.0, vs[0], hint, &none), kFail);
        EXPECT_EQ(error_record().code, 6);
        EXPECT_STREQ(error_record().routine, "N_SUREVN");
    }
}

// The point and first derivatives of a surface, rational or not (the
// triangular table of first order, which has kernels of its own up to
// degree 5) are those of the full square table to the bit, on knots and between them;
// where the weights sum to zero both fail with N_KNTASD's record. (x87's
// wider registers and fused multiply-adds may round the two apart: there
// they agree to rounding.)
TEST_F(Surfaces, FirstDerivativesAreTheFullTableBitForBit) {
    const auto same = [](const Point3& a, const Point3& b) {
        if (kPlainDoubles) return same_bits(a, b);
        const double size = std::max({1.0, std::fabs(b.x), std::fabs(b.y), std::fabs(b.z)});
        return vec_distance(a, b) <= 1e-12 * size;
    };
    std::mt19937 rng(1208);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int p = 1; p <= 6; ++p) {
        for (int variant = 0; variant < 4; ++variant) {
            const int q = 1 + (p + variant) % 6;
            SCOPED_TRACE(::testing::Message() << "p=" << p << " q=" << q << " variant=" << variant);
            const SurfaceData s =
                random_surface(rng, p, q, variant != 1, variant != 3, variant == 2, 2, 2);
            Surface sur;
            ASSERT_EQ(build(s, &sur), kOk);
            const KnotVector &U = *sur.uknt, &V = *sur.vknt;
            for (int k = 0; k < 40; ++k) {
                const double u = k < 8 ? U.U[std::min(p + k, U.m - p)]
                                       : U.U[p] + (U.U[U.m - p] - U.U[p]) * unit(rng);
                const double v = k < 8 ? V.U[std::min(q + k, V.m - q)]
                                       : V.U[q] + (V.U[V.m - q] - V.U[q]) * unit(rng);
                for (int side : {1, 2}) {
                    // Left limits only inside the domain.
                    if (side == 2 && !(u > U.U[p] && v > V.U[q])) continue;
                    Point3 t0[2], t1[2], f0[2], f1[2];
                    Point3* tri[2] = {t0, t1};
                    Point3* full[2] = {f0, f1};
                    ASSERT_EQ(N_SURDER(sur, side, u, v, 1, 1, 1, tri), kOk)
                        << side << " " << u << " " << v << " " << error_record().code;
                    ASSERT_EQ(N_SURDER(sur, side, u, v, 1, 1, 0, full), kOk);
                    EXPECT_TRUE(same(t0[0], f0[0])) << u << " " << v;
                    EXPECT_TRUE(same(t0[1], f0[1])) << u << " " << v;
                    EXPECT_TRUE(same(t1[0], f1[0])) << u << " " << v;
                }
            }
        }
    }
    // A bilinear patch whose weights, turned negative at two corners after
    // it is built, cancel at its middle.
    SurfaceData s;
    s.p = s.q = 1;
    s.nu = s.nv = 2;
    s.uknots = {0.0, 0.0, 1.0, 1.0};
    s.vknots = {0.0, 0.0, 1.0, 1.0};
    s.weights = {1.0, 2.0, 2.0, 3.0};
    s.points = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 1};
    Surface sur;
    ASSERT_EQ(build(s, &sur), kOk);
    for (Point4* corner : {&sur.net->Pw[0][1], &sur.net->Pw[1][0]})
        *corner = {-corner->x, -corner->y, -corner->z, -corner->w};
    for (int selector : {1, 0}) {
        Point3 r0[2], r1[2];
        Point3* skl[2] = {r0, r1};
        error_record() = ErrorRecord{0, ""};
        EXPECT_EQ(N_SURDER(sur, 1, 0.5, 0.5, 1, 1, selector, skl), kFail) << selector;
        EXPECT_EQ(error_record().code, kErrRational) << selector;
        EXPECT_STREQ(error_record().routine, "N_KNTASD");
        EXPECT_EQ(N_SURDER(sur, 1, 0.25, 0.5, 1, 1, selector, skl), kOk) << selector;
    }
}

// The two halves of a cut are N_TOOSSG's segments to the bit, across u and
// across v, where the cut falls inside a span, on a knot or near one end,
// from a piece clamped to the box already (the knots at the cut inserted
// once for both, the halves worked straight from the piece), from one
// Bezier patch of it, or from the whole surface (not clamped to the box);
// where the cut lies outside the box, it fails as N_TOOSSG fails.
TEST_F(Surfaces, HalvesAreTheSegmentsBitForBit) {
    std::mt19937 rng(77);
    auto same_surface = [](const Surface& a, const Surface& b) {
        if (a.p != b.p || a.q != b.q || a.net->n != b.net->n || a.net->m != b.net->m ||
            a.uknt->m != b.uknt->m || a.vknt->m != b.vknt->m)
            return false;
        if (std::memcmp(a.uknt->U, b.uknt->U, (a.uknt->m + 1) * sizeof(double)) != 0 ||
            std::memcmp(a.vknt->U, b.vknt->U, (a.vknt->m + 1) * sizeof(double)) != 0)
            return false;
        for (int i = 0; i <= a.net->n; ++i)
            if (std::memcmp(a.net->Pw[i], b.net->Pw[i], (a.net->m + 1) * sizeof(Point4)) != 0)
                return false;
        return true;
    };
    for (int p = 1; p <= 5; ++p) {
        for (int variant = 0; variant < 4; ++variant) {
            const int q = 1 + (p + variant) % 5;
            const SurfaceData s = random_surface(rng, p, q, true, variant & 1, false, 4, 4);
            Surface whole, piece, patch;
            ASSERT_EQ(build(s, &whole), kOk);
            const double U0 = whole.uknt->U[0], U1 = whole.uknt->U[whole.uknt->m];
            const double V0 = whole.vknt->U[0], V1 = whole.vknt->U[whole.vknt->m];
            const double piece_box[4] = {U0 + 0.1 * (U1 - U0), U0 + 0.9 * (U1 - U0),
                                         V0 + 0.2 * (V1 - V0), V1};
            ASSERT_EQ(N_TOOSSG(whole, piece_box[0], piece_box[1], piece_box[2], piece_box[3],
                               &piece, &pool_),
                      kOk);
            // The first span of the piece both ways.
            const double patch_box[4] = {piece.uknt->U[p], piece.uknt->U[p + 1], piece.vknt->U[q],
                                         piece.vknt->U[q + 1]};
            ASSERT_EQ(N_TOOSSG(piece, patch_box[0], patch_box[1], patch_box[2], patch_box[3],
                               &patch, &pool_),
                      kOk);
            ASSERT_EQ(patch.uknt->m, 2 * p + 1);
            ASSERT_EQ(patch.vknt->m, 2 * q + 1);
            const std::pair<const Surface*, const double*> sources[] = {
                {&piece, piece_box}, {&patch, patch_box}, {&whole, piece_box}};
            for (const auto& [src, box] : sources) {
                for (int direction = 1; direction <= 2; ++direction) {
                    const double lo = box[2 * direction - 2], hi = box[2 * direction - 1];
                    const KnotVector& K = direction == 1 ? *src->uknt : *src->vknt;
                    for (const double t : {0.5 * (lo + hi), K.U[K.m / 2], lo + 1e-9 * (hi - lo),
                                           hi - 0.01 * (hi - lo), hi + 0.1}) {
                        SCOPED_TRACE(::testing::Message()
                                     << "p=" << p << " q=" << q << " variant=" << variant
                                     << " source="
                                     << (src == &piece   ? "piece"
                                         : src == &patch ? "patch"
                                                         : "whole")
                                     << " direction=" << direction << " t=" << t);
                        double lo_box[4] = {box[0], box[1], box[2], box[3]};
                        double hi_box[4] = {box[0], box[1], box[2], box[3]};
                        lo_box[2 * direction - 1] = t;
                        hi_box[2 * direction - 2] = t;
                        Surface want_lo, want_hi, got_lo, got_hi;
                        const bool want = N_TOOSSG(*src, lo_box[0], lo_box[1], lo_box[2], lo_box[3],
                                                   &want_lo, &pool_) == kOk &&
                                          N_TOOSSG(*src, hi_box[0], hi_box[1], hi_box[2], hi_box[3],
                                                   &want_hi, &pool_) == kOk;
                        // The halves in blocks laid out for copies of the source,
                        // as the subdivision gives them.
                        const int n = src->net->n, m = src->net->m;
                        const int mu = src->uknt->m, mv = src->vknt->m;
                        const std::size_t bytes = surface_block_size(n, m, mu, mv);
                        std::vector<double> block_lo(bytes / sizeof(double) + 1, 1e300);
                        std::vector<double> block_hi(bytes / sizeof(double) + 1, -1e300);
                        surface_in_block(block_lo.data(), n, m, mu, mv, &got_lo);
                        surface_in_block(block_hi.data(), n, m, mu, mv, &got_hi);
                        const Status got = segment_halves(*src, box[0], box[1], box[2], box[3],
                                                          direction, t, &got_lo, &got_hi);
                        ASSERT_EQ(got == kOk, want);
                        if (!want) {
                            EXPECT_EQ(error_record().code, kErrOrderedSet);
                            continue;
                        }
                        EXPECT_TRUE(same_surface(got_lo, want_lo));
                        EXPECT_TRUE(same_surface(got_hi, want_hi));
                    }
                }
            }
        }
    }
}

// A net stored with the sentinels (unweighted points, two-dimensional
// points) evaluates as its plain coordinates, on every degree's path.
TEST_F(Surfaces, SentinelNetsEvaluateAsTheirCoordinates) {
    for (int p = 1; p <= 5; ++p) {
        const int q = 6 - p;
        SCOPED_TRACE(::testing::Message() << "p=" << p << " q=" << q);
        std::vector<double> U(2 * (p + 1), 0.0), V(2 * (q + 1), 0.0);
        for (int k = p + 1; k < 2 * (p + 1); ++k) U[k] = 1.0;
        for (int k = q + 1; k < 2 * (q + 1); ++k) V[k] = 1.0;
        std::vector<Point4> points((p + 1) * (q + 1));
        std::vector<Point4*> rows(p + 1);
        // A plane in x and y over the parameters: a Bezier net with evenly
        // spaced points reproduces (u, v) exactly enough.
        for (int i = 0; i <= p; ++i) {
            rows[i] = &points[i * (q + 1)];
            for (int j = 0; j <= q; ++j)
                rows[i][j] = {double(i) / p, 2.0 * j / q, kPlanarZ, kNonRationalW};
        }
        KnotVector uk{2 * p + 1, U.data(), 2 * p + 1}, vk{2 * q + 1, V.data(), 2 * q + 1};
        ControlNet net{p, q, rows.data(), p, q};
        Surface sur{&net, static_cast<std::int16_t>(p), static_cast<std::int16_t>(q), &uk, &vk};
        for (const double u : {0.0, 0.3, 1.0})
            for (const double v : {0.0, 0.6, 1.0}) {
                const Point3 S = at(sur, u, v);
                EXPECT_NEAR(S.x, u, 1e-14);
                EXPECT_NEAR(S.y, 2.0 * v, 1e-14);
                EXPECT_EQ(S.z, 0.0);
            }
        // One weighted point among unweighted ones still counts as unweighted.
        rows[0][0].w = 2.0;
        EXPECT_EQ(at(sur, 0.0, 0.0).z, 0.0);
        EXPECT_NEAR(at(sur, 0.5, 0.5).x, 0.5, 1e-14);
    }
}

// A surface clipped along u has, row by row, the points of its rows' curves
// clipped alone (the curves' clipping works each row by itself), to the
// bit in plain double arithmetic; the same along v. Long nets take the work arrays beyond the
// stack.
TEST_F(Surfaces, ClippedRowsAreTheirCurvesClipped) {
    std::mt19937 rng(2024);
    for (int p = 1; p <= 6; ++p) {
        for (int variant = 0; variant < 4; ++variant) {
            const int q = 1 + (p + variant) % 4;
            const SurfaceData s =
                random_surface(rng, p, q, true, variant & 1, false, variant == 3 ? 60 : 3);
            SCOPED_TRACE(::testing::Message() << "p=" << p << " q=" << q << " variant=" << variant);
            Surface sur;
            ASSERT_EQ(build(s, &sur), kOk);
            const ControlNet& net = *sur.net;
            for (int direction = 1; direction <= 2; ++direction) {
                const KnotVector& along = direction == 1 ? *sur.uknt : *sur.vknt;
                const KnotVector& other = direction == 1 ? *sur.vknt : *sur.uknt;
                const int deg = direction == 1 ? sur.p : sur.q;
                const int count = direction == 1 ? net.n : net.m;
                const double lo = along.U[0], hi = along.U[along.m];
                // A knot as one end, so that a multiplicity counts too.
                const double a = along.m > 2 * deg + 1 ? along.U[deg + 1] : lo + 0.3 * (hi - lo);
                const double b = lo + 0.81 * (hi - lo);
                if (!(a < b)) continue;
                Surface piece;
                ASSERT_EQ(direction == 1
                              ? N_TOOSSG(sur, a, b, other.U[0], other.U[other.m], &piece, &pool_)
                              : N_TOOSSG(sur, other.U[0], other.U[other.m], a, b, &piece, &pool_),
                          kOk);
                const int rows = direction == 1 ? net.m : net.n;
                for (int r = 0; r <= rows; ++r) {
                    Curve* row = S_GETCUR(count, along.m, deg, &pool_);
                    ASSERT_NE(row, nullptr);
                    for (int i = 0; i <= along.m; ++i) row->knt->U[i] = along.U[i];
                    for (int i = 0; i <= count; ++i)
                        row->pol->Pw[i] = direction == 1 ? net.Pw[i][r] : net.Pw[r][i];
                    Curve cut;
                    ASSERT_EQ(N_TOOCCP(*row, a, b, &cut, &pool_), kOk);
                    const int got = direction == 1 ? piece.net->n : piece.net->m;
                    ASSERT_EQ(got, cut.pol->n) << "row " << r;
                    for (int i = 0; i <= got; ++i) {
                        const Point4& P =
                            direction == 1 ? piece.net->Pw[i][r] : piece.net->Pw[r][i];
                        const Point4& Q = cut.pol->Pw[i];
                        // Wider registers may keep a ratio the plan stores.
                        if (kPlainDoubles)
                            EXPECT_EQ(0, std::memcmp(&P, &Q, sizeof P))
                                << "direction " << direction << " row " << r << " point " << i;
                        else
                            EXPECT_LE(std::fabs(P.x - Q.x) + std::fabs(P.y - Q.y) +
                                          std::fabs(P.z - Q.z) + std::fabs(P.w - Q.w),
                                      1e-12 * scale_of(s))
                                << "direction " << direction << " row " << r << " point " << i;
                    }
                    const KnotVector& knots = direction == 1 ? *piece.uknt : *piece.vknt;
                    ASSERT_EQ(knots.m, cut.knt->m);
                    EXPECT_EQ(0, std::memcmp(knots.U, cut.knt->U, (knots.m + 1) * sizeof(double)));
                }
            }
        }
    }
}

// Knot runs beyond the degree (an interior knot p + 1 times, an end run
// longer than p + 1) are cleaned out of a surface as out of each of its
// rows' curves, to the bit; a vector without such runs is left alone.
TEST_F(Surfaces, SurfaceKnotsAreCleanedAsTheirRowsCurves) {
    std::mt19937 rng(31);
    for (int p = 1; p <= 4; ++p) {
        for (int variant = 0; variant < 3; ++variant) {
            SurfaceData s = random_surface(rng, p, 2, true, false, false, 2 * p + 2);
            // variant 0: an interior run of p + 1; 1: of p + 2 and a long
            // start run; 2: nothing to clean.
            const int at = s.p + 2, run = variant == 0 ? p + 1 : variant == 1 ? p + 2 : 1;
            for (int k = 1; k < run; ++k) s.uknots[at + k] = s.uknots[at];
            if (variant == 1) s.uknots[s.p + 1] = s.uknots[0];
            std::sort(s.uknots.begin(), s.uknots.end());
            SCOPED_TRACE(::testing::Message() << "p=" << p << " variant=" << variant);
            Surface sur;
            ASSERT_EQ(build(s, &sur, s.uknots[0], s.uknots.back()), kOk);
            for (int j = 0; j < s.nv; ++j) {
                std::vector<Point3> pts(s.nu);
                std::vector<double> w(s.nu, 1.0);
                for (int i = 0; i < s.nu; ++i) {
                    const int e = j * s.nu + i;
                    pts[i] = {s.points[3 * e], s.points[3 * e + 1], s.points[3 * e + 2]};
                }
                Curve row;
                ASSERT_EQ(N_IGS126(s.nu - 1, s.p, s.uknots.data(), w.data(), pts.data(),
                                   s.uknots[0], s.uknots.back(), &row, &pool_),
                          kOk);
                ASSERT_EQ(sur.net->n, row.pol->n);
                ASSERT_EQ(sur.uknt->m, row.knt->m);
                EXPECT_EQ(0,
                          std::memcmp(sur.uknt->U, row.knt->U, (row.knt->m + 1) * sizeof(double)));
                for (int i = 0; i <= row.pol->n; ++i)
                    EXPECT_EQ(0, std::memcmp(&sur.net->Pw[i][j], &row.pol->Pw[i], sizeof(Point4)))
                        << "row " << j << " point " << i;
            }
            // Cleaned: no interior run beyond p, no end run beyond p + 1.
            const KnotVector& U = *sur.uknt;
            for (int k = 0, h = 1; k < U.m; ++k, h = U.U[k] == U.U[k - 1] ? h + 1 : 1) {
                const bool end = U.U[k] == U.U[0] || U.U[k] == U.U[U.m];
                EXPECT_LE(h, end ? p + 1 : p) << "knot " << k;
            }
            if (variant < 2) {
                EXPECT_LT(sur.net->n, s.nu - 1);
            }
        }
    }
}

}  // namespace
