// Properties of whole tessellations over many generated trimmed surfaces:
// planar patches, bicubic bumps, rational cylinders and tori (seams), surfaces
// with poles; trim loops of lines, arcs and splines in both orientations, with
// holes, along the domain edge, with corner knots, at several scales. Every
// result goes through the independent mesh checker and the surface checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "nurbs/tessellation/mesh_check.h"
#include "nurbs/tessellation/tess_fixtures.h"
#include "nurbs/tessellation/tessellation.h"
#include "nurbs/testing/ruvane_test_host.h"

namespace {

using namespace tess_fixtures;
using mesh_check::P2;
using mesh_check::Poly;

double dist3(const double* a, const std::array<double, 3>& b) {
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                     (a[2] - b[2]) * (a[2] - b[2]));
}

// Distance from P to the triangle ABC in space.
double point_triangle(const std::array<double, 3>& p, const double* a, const double* b,
                      const double* c) {
    auto sub = [](const double* x, const double* y) {
        return std::array<double, 3>{x[0] - y[0], x[1] - y[1], x[2] - y[2]};
    };
    auto dot = [](std::array<double, 3> x, std::array<double, 3> y) {
        return x[0] * y[0] + x[1] * y[1] + x[2] * y[2];
    };
    const auto ab = sub(b, a), ac = sub(c, a);
    const auto ap = std::array<double, 3>{p[0] - a[0], p[1] - a[1], p[2] - a[2]};
    // Closest point by barycentric projection, clamped through the edges.
    const double d00 = dot(ab, ab), d01 = dot(ab, ac), d11 = dot(ac, ac);
    const double d20 = dot(ap, ab), d21 = dot(ap, ac);
    const double den = d00 * d11 - d01 * d01;
    if (den > 0) {
        const double v = (d11 * d20 - d01 * d21) / den, w = (d00 * d21 - d01 * d20) / den;
        if (v >= 0 && w >= 0 && v + w <= 1) {
            const double q[3] = {a[0] + v * ab[0] + w * ac[0], a[1] + v * ab[1] + w * ac[1],
                                 a[2] + v * ab[2] + w * ac[2]};
            return dist3(q, p);
        }
    }
    return std::min({point_segment(p, a, b), point_segment(p, b, c), point_segment(p, c, a)});
}

// Every property a result must have. `size` is the model size.
void check_result(const Surface& s, const Outcome& r, double A, double C, double size) {
    SCOPED_TRACE(s.name);
    ASSERT_TRUE(r.result);
    ASSERT_EQ(r.tessellations, 1) << "no tessellation succeeded (status " << r.status
                                  << ", last error " << ruvane::error_record().code << " in "
                                  << ruvane::error_record().routine << ")";
    EXPECT_TRUE(r.status == 0 || (s.has_pole && r.status == 5)) << r.status;
    ASSERT_FALSE(r.loops.empty());
    const Eval ev{s};
    const auto [lu, lv] = ev.lengths();
    mesh_check::Options o;
    o.lu = lu;
    o.lv = lv;
    // Points may move by a hundredth of C' onto cell lines.
    o.tol = std::max(1e-9 * std::max(lu, lv), 0.02 * C * std::max(lu, lv));
    EXPECT_EQ(mesh_check::check(r.raw, r.loops, o), "");  // outer loop first, then holes
    EXPECT_GT(r.raw.tri.size(), 0u);
    // Delivered triangles: all raw ones unless a vertex could not be evaluated.
    EXPECT_TRUE(r.status == 0 ? r.tris.size() == r.raw.tri.size()
                              : r.tris.size() < r.raw.tri.size())
        << r.tris.size() << " of " << r.raw.tri.size() << " triangles delivered";

    const double u0 = s.u_knots.front(), u1 = s.u_knots.back();
    const double v0 = s.v_knots.front(), v1 = s.v_knots.back();
    auto param = [&](double mu, double mv) {
        return std::pair<double, double>{u0 + mu / lu * (u1 - u0), v0 + mv / lv * (v1 - v0)};
    };
    // Triangles around each vertex, to measure the distance from a surface
    // sample to the mesh near it (a cell beside a pole maps one of its
    // triangles onto a line, and the surface there lies on the other).
    std::map<std::pair<double, double>, std::vector<int>> around;
    for (size_t t = 0; t < r.tris.size(); ++t)
        for (const TessVertex& x : r.tris[t].vertex)
            around[{x.u, x.v}].push_back(static_cast<int>(t));
    int far = 0, flipped = 0;
    double worst = 0;
    for (const TessTriangle& t : r.tris) {
        const TessVertex* x = t.vertex;
        std::set<int> near;
        for (int k = 0; k < 3; ++k)
            for (int o : around[{x[k].u, x[k].v}]) near.insert(o);
        // Vertices lie on the surface.
        for (int k = 0; k < 3; ++k) {
            const auto [pu, pv] = param(x[k].u, x[k].v);
            if (dist3(x[k].position, ev.at(pu, pv)) > 1e-9 * size) ++far;
        }
        // Surface within a small multiple of A of the triangle.
        const double cu[4] = {(x[0].u + x[1].u + x[2].u) / 3, (x[0].u + x[1].u) / 2,
                              (x[1].u + x[2].u) / 2, (x[2].u + x[0].u) / 2};
        const double cv[4] = {(x[0].v + x[1].v + x[2].v) / 3, (x[0].v + x[1].v) / 2,
                              (x[1].v + x[2].v) / 2, (x[2].v + x[0].v) / 2};
        for (int k = 0; k < 4; ++k) {
            const auto [pu, pv] = param(cu[k], cv[k]);
            double d = 1e300;
            for (int o : near) {
                const TessVertex* y = r.tris[o].vertex;
                d = std::min(
                    d, point_triangle(ev.at(pu, pv), y[0].position, y[1].position, y[2].position));
            }
            worst = std::max(worst, d);
        }
        // Face normal against the surface normal: negated exactly when the
        // outer loop was given clockwise. Triangles touching a pole, where
        // the normal is not defined, are left out.
        bool degenerate = false;
        for (int k = 0; k < 3; ++k) {
            const auto [qu, qv] = param(x[k].u, x[k].v);
            const auto nk = ev.normal(qu, qv);
            degenerate = degenerate || std::hypot(nk[0], nk[1], nk[2]) < 1e-16 * size * size;
        }
        const auto [pu, pv] = param(cu[0], cv[0]);
        const auto n = ev.normal(pu, pv);
        const double dot =
            t.face_normal[0] * n[0] + t.face_normal[1] * n[1] + t.face_normal[2] * n[2];
        if (!degenerate && std::hypot(n[0], n[1], n[2]) > 0 &&
            (s.outer_clockwise ? -dot : dot) <= 0)
            ++flipped;
    }
    EXPECT_EQ(far, 0) << "vertices off the surface";
    EXPECT_LE(worst, A + 1e-9 * size) << "surface farther than A from its triangles";
    EXPECT_EQ(flipped, 0) << "face normals against the negation rule";

    // Closed directions: the same vertices on both sides of the seam.
    auto seam = [&](bool along_u) {
        std::set<double> lo, hi;
        std::vector<char> used(r.raw.vertex.size(), 0);
        for (const auto& t : r.raw.tri)
            for (int k : t) used[k] = 1;
        const double end = along_u ? lu : lv;
        for (size_t k = 0; k < r.raw.vertex.size(); ++k) {
            if (!used[k]) continue;
            const double side = along_u ? r.raw.vertex[k].u : r.raw.vertex[k].v;
            const double other = along_u ? r.raw.vertex[k].v : r.raw.vertex[k].u;
            if (std::fabs(side) <= 1e-9 * end) lo.insert(other);
            if (std::fabs(side - end) <= 1e-9 * end) hi.insert(other);
        }
        EXPECT_EQ(lo, hi) << "crack at the " << (along_u ? "u" : "v") << " seam";
        // Both sides map to the same points of the closed surface.
        for (double o : lo) {
            const auto a = along_u ? param(0, o) : param(o, 0);
            const auto b = along_u ? param(end, o) : param(o, end);
            const auto pa = ev.at(a.first, a.second);
            EXPECT_LT(dist3(pa.data(), ev.at(b.first, b.second)), 1e-6 * size);
        }
    };
    if (s.outer.size() == 4 && s.holes.empty()) {
        if (s.closed_u) seam(true);
        if (s.closed_v) seam(false);
    }
}

// --- Families -------------------------------------------------------------------

struct Gen {
    std::mt19937 rng;
    double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); }
    bool coin() { return uniform(0, 1) < 0.5; }

    Surface planar(double scale) {
        Surface s;
        s.name = "planar patch";
        s.u_order = s.v_order = 2;
        const double ox = uniform(-5, 5) * scale, oy = uniform(-5, 5) * scale;
        const double a[3] = {uniform(3, 10) * scale, uniform(-2, 2) * scale,
                             uniform(-2, 2) * scale};
        double b[3] = {uniform(-2, 2) * scale, uniform(3, 10) * scale, uniform(-2, 2) * scale};
        if (coin()) {  // rectangular: the exact-line shortcut applies
            const double k = (a[0] * b[0] + a[1] * b[1] + a[2] * b[2]) /
                             (a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
            for (int i = 0; i < 3; ++i) b[i] -= k * a[i];
        }
        const double o[3] = {ox, oy, uniform(-1, 1) * scale};
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 2; ++i)
                for (int c = 0; c < 3; ++c) s.points.push_back(o[c] + i * a[c] + j * b[c]);
        s.weights.assign(4, 1.0);
        s.u_knots = s.v_knots = clamped_knots(2, 2, 0, 1);
        return s;
    }

    Surface bump(double scale) {
        Surface s;
        s.name = "bicubic bump";
        s.u_order = s.v_order = 4;
        const int n = 6;
        const double h = uniform(0.5, 4);
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const double x = 10.0 * i / (n - 1), y = 8.0 * j / (n - 1);
                const double z =
                    (i > 0 && i < n - 1 && j > 0 && j < n - 1) ? h * uniform(-1, 1) : 0;
                s.points.insert(s.points.end(), {x * scale, y * scale, z * scale});
                s.weights.push_back(coin() ? 1.0 : uniform(0.5, 2.0));
            }
        s.u_knots = s.v_knots = clamped_knots(6, 4, 0, 1);
        return s;
    }

    Surface cylinder(double scale) {
        Surface s;
        s.name = "rational cylinder";
        s.u_order = 3;
        s.v_order = 2;
        s.closed_u = true;
        const double r = uniform(1, 5) * scale, h = uniform(2, 12) * scale;
        circle_row(r, 0, 1, s);
        circle_row(r, h, 1, s);
        s.u_knots = kCircleKnots;
        s.v_knots = clamped_knots(2, 2, 0, 1);
        return s;
    }

    Surface torus(double scale) {
        Surface s;
        s.name = "torus";
        s.u_order = s.v_order = 3;
        s.closed_u = s.closed_v = true;
        const double R = uniform(4, 8) * scale, r = uniform(0.5, 3) * scale;
        const double s2 = std::sqrt(0.5);
        const double cx[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, cy[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
        const double w[9] = {1, s2, 1, s2, 1, s2, 1, s2, 1};
        for (int j = 0; j < 9; ++j) circle_row(R + r * cx[j], r * cy[j], w[j], s);  // tube circles
        s.u_knots = s.v_knots = kCircleKnots;
        return s;
    }

    Surface sphere_with_poles(double scale) {
        Surface s = sphere(uniform(1, 6) * scale);
        s.name = "sphere with poles";
        return s;
    }

    // Moves the surface's knots from [0, 1] onto a random parameter domain.
    void knots_for(Surface& s, double pscale) {
        const double u0 = uniform(-3, 3) * pscale, v0 = uniform(-3, 3) * pscale;
        const double du = uniform(0.5, 4) * pscale, dv = uniform(0.5, 4) * pscale;
        for (double& k : s.u_knots) k = u0 + du * k;
        for (double& k : s.v_knots) k = v0 + dv * k;
    }

    // Trim loops, built in the unit square and mapped onto the domain.
    void trim(Surface& s, int variant) {
        const double u0 = s.u_knots.front(), u1 = s.u_knots.back();
        const double v0 = s.v_knots.front(), v1 = s.v_knots.back();
        auto mu = [&](double x) { return u0 + x * (u1 - u0); };
        auto mv = [&](double y) { return v0 + y * (v1 - v0); };
        auto map_loop = [&](LoopCurves l) {
            for (Curve& c : l)
                for (size_t k = 0; k < c.points.size(); k += 3) {
                    c.points[k] = mu(c.points[k]);
                    c.points[k + 1] = mv(c.points[k + 1]);
                }
            return l;
        };
        const bool ccw = coin();
        s.outer_clockwise = !ccw;
        double centre_u = 0.5, centre_v = 0.5;
        switch (variant) {
            case 0:  // the domain boundary
                s.outer = map_loop(rectangle(0, 0, 1, 1, ccw));
                s.name += ", boundary loop";
                break;
            case 1:  // circle, as one curve with corner knots or as arcs
                centre_u = uniform(0.4, 0.6);
                centre_v = uniform(0.4, 0.6);
                s.outer = map_loop(circle(centre_u, centre_v, uniform(0.2, 0.38),
                                          uniform(0.2, 0.38), ccw, coin()));
                s.name += ", circle loop";
                break;
            case 2: {  // spline star
                std::vector<double> radius;
                const int n = 5 + static_cast<int>(uniform(0, 8));
                for (int i = 0; i < n; ++i) radius.push_back(uniform(0.25, 0.45));
                s.outer = map_loop({star_spline(0.5, 0.5, radius, 1, 1, ccw)});
                s.name += ", spline loop";
                break;
            }
            case 3: {  // polyline touching and running along the domain edge
                const double a = uniform(0.1, 0.4), b = uniform(0.55, 0.9);
                std::vector<std::pair<double, double>> p{
                    {a, 0}, {b, 0}, {1, uniform(0.3, 0.7)}, {b, 1}, {0, uniform(0.5, 0.9)}, {a, 0}};
                if (!ccw) std::reverse(p.begin(), p.end());
                s.outer = map_loop({polyline(p)});
                s.name += ", loop along the edge";
                break;
            }
            default:  // boundary with holes
                s.outer = map_loop(rectangle(0, 0, 1, 1, ccw));
                s.name += ", boundary loop with holes";
                break;
        }
        if (variant >= 4 || (variant == 1 && coin())) {
            const int holes = 1 + static_cast<int>(uniform(0, 3));
            for (int h = 0; h < holes; ++h) {
                // Holes well inside the outer loop: at its centre for a circle.
                double cx = 0.25 + 0.25 * h, cy = uniform(0.3, 0.7);
                const double r = variant >= 4 ? 0.08 : 0.03;
                if (variant == 1) {
                    if (h > 0) break;
                    cx = centre_u;
                    cy = centre_v;
                }
                if (coin())
                    s.holes.push_back(map_loop(circle(cx, cy, r, r, coin(), coin())));
                else
                    s.holes.push_back(map_loop(rectangle(cx - r, cy - r, cx + r, cy + r, coin())));
            }
            s.name += ", holes";
        }
    }
};

constexpr Surface (Gen::*kFamilies[5])(double) = {&Gen::planar, &Gen::bump, &Gen::cylinder,
                                                  &Gen::torus, &Gen::sphere_with_poles};

TEST(TessSurfaces, GeneratedFamiliesKeepEveryProperty) {
    Gen g{std::mt19937(2026)};
    const int count = case_count(60);
    const double scales[3] = {1.0, 1e-3, 1e4};
    for (int n = 0; n < count; ++n) {
        const double scale = scales[(n / 5) % 3];
        const double pscale = (n / 15) % 2 ? 1.0 : 100.0;
        Surface s = (g.*kFamilies[n % 5])(scale);
        g.knots_for(s, pscale);
        const bool closed = s.closed_u || s.closed_v;
        // Closed surfaces mostly keep their whole domain (seams), sometimes
        // a circle or a spline loop.
        static const int closed_variants[4] = {0, 4, 1, 2};
        const int variant = closed ? closed_variants[static_cast<int>(g.uniform(0, 4)) % 4]
                                   : static_cast<int>(g.uniform(0, 5)) % 5;
        g.trim(s, variant);
        s.name += " #" + std::to_string(n) + " scale " + std::to_string(scale);
        const double size = 10 * scale;
        const double A = 2e-3 * size, B = 2e-3 * size;
        const double C = 1e-6 * (s.u_knots.back() - s.u_knots.front());
        const Outcome r = tessellate(s, A, B, C);
        check_result(s, r, A, C, size);
        if (::testing::Test::HasFatalFailure() || ::testing::Test::HasFailure()) break;
    }
}

}  // namespace
