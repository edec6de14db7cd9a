// Properties of whole tessellations over generated trimmed surfaces (planes,
// bumps, tori, spheres; loops of lines, arcs and splines, with holes, at
// several scales), through the independent mesh checker and surface checks.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "nurbs/tessellation/mesh_check.h"
#include "nurbs/tessellation/tess_fixtures.h"
#include "nurbs/tessellation/tessellation.h"
#include "tools/ruvane_tess/surface_json.h"

namespace {

using namespace tess_fixtures;

// Distance from p to the triangle abc in space.
double point_triangle(const V3& p, const V3& a, const V3& b, const V3& c) {
    const V3 ab = b - a, ac = c - a, ap = p - a;
    // Closest point by barycentric projection, clamped through the edges.
    const double d00 = dot(ab, ab), d01 = dot(ab, ac), d11 = dot(ac, ac);
    const double den = d00 * d11 - d01 * d01;
    if (den > 0) {
        const double v = (d11 * dot(ap, ab) - d01 * dot(ap, ac)) / den;
        const double w = (d00 * dot(ap, ac) - d01 * dot(ap, ab)) / den;
        if (v >= 0 && w >= 0 && v + w <= 1) return norm(ap - v * ab - w * ac);
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
    EXPECT_EQ(r.status, 0);
    ASSERT_FALSE(r.loops.empty());
    const Eval ev{s};
    const auto [lu, lv] = ev.lengths();
    // Points may move by a hundredth of C' onto cell lines.
    const double tol = std::max(1e-9, 0.02 * C) * std::max(lu, lv);
    EXPECT_EQ(mesh_check::check(r.raw, r.loops, lu, lv, tol), "");  // outer loop, then holes
    EXPECT_EQ(r.tris.size(), r.raw.tri.size()) << "triangles delivered of those made";

    // The surface and its normal at metric-plane coordinates.
    const double u0 = s.u_knots.front(), u1 = s.u_knots.back();
    const double v0 = s.v_knots.front(), v1 = s.v_knots.back();
    auto at = [&](double mu, double mv) {
        return ev.at(u0 + mu / lu * (u1 - u0), v0 + mv / lv * (v1 - v0));
    };
    auto normal = [&](double mu, double mv) {
        return ev.normal(u0 + mu / lu * (u1 - u0), v0 + mv / lv * (v1 - v0));
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
        bool degenerate = false;  // touching a pole, where the normal is not defined
        for (int k = 0; k < 3; ++k) {
            for (int o : around[{x[k].u, x[k].v}]) near.insert(o);
            far += norm(v3(x[k].position) - at(x[k].u, x[k].v)) > 1e-9 * size;
            degenerate = degenerate || norm(normal(x[k].u, x[k].v)) < 1e-16 * size * size;
        }
        // The surface at the edge midpoints and the centroid within A of the mesh.
        const double cu = (x[0].u + x[1].u + x[2].u) / 3, cv = (x[0].v + x[1].v + x[2].v) / 3;
        for (int k = 0; k < 4; ++k) {
            const V3 p = k == 3
                             ? at(cu, cv)
                             : at((x[k].u + x[(k + 1) % 3].u) / 2, (x[k].v + x[(k + 1) % 3].v) / 2);
            double d = 1e300;
            for (int o : near) {
                const TessVertex* y = r.tris[o].vertex;
                d = std::min(
                    d, point_triangle(p, v3(y[0].position), v3(y[1].position), v3(y[2].position)));
            }
            worst = std::max(worst, d);
        }
        // Face normal against the surface normal: negated exactly when the
        // outer loop was given clockwise.
        const V3 n = normal(cu, cv);
        const double d = dot(v3(t.face_normal), n);
        flipped += !degenerate && norm(n) > 0 && (s.outer_clockwise ? -d : d) <= 0;
    }
    EXPECT_EQ(far, 0) << "vertices off the surface";
    EXPECT_LE(worst, A + 1e-9 * size) << "surface farther than A from its triangles";
    EXPECT_EQ(flipped, 0) << "face normals against the negation rule";

    // Closed directions: the same vertices on both sides of the seam.
    if (s.outer.size() != 4 || !s.holes.empty()) return;
    std::vector<char> used(r.raw.vertex.size(), 0);
    for (const auto& t : r.raw.tri)
        for (int k : t) used[k] = 1;
    for (int along_u = 0; along_u < 2; ++along_u) {
        if (!(along_u ? s.closed_u : s.closed_v)) continue;
        const double end = along_u ? lu : lv;
        std::set<double> lo, hi;
        for (size_t k = 0; k < used.size(); ++k) {
            const double side = along_u ? r.raw.vertex[k].u : r.raw.vertex[k].v;
            const double other = along_u ? r.raw.vertex[k].v : r.raw.vertex[k].u;
            if (used[k] && std::fabs(side) <= 1e-9 * end) lo.insert(other);
            if (used[k] && std::fabs(side - end) <= 1e-9 * end) hi.insert(other);
        }
        EXPECT_EQ(lo, hi) << "crack at the "
                          << "vu"[along_u] << " seam";
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
        s.u_knots = s.v_knots = clamped_knots(2, 2);
        const V3 a{uniform(3, 10), uniform(-2, 2), uniform(-2, 2)};
        V3 b{uniform(-2, 2), uniform(3, 10), uniform(-2, 2)};
        if (coin()) b = b - (dot(a, b) / dot(a, a)) * a;  // rectangular: the exact-line shortcut
        const V3 o{uniform(-5, 5), uniform(-5, 5), uniform(-1, 1)};
        for (const V3& p : {o, o + a, o + b, o + a + b})
            s.points.insert(s.points.end(), {scale * p[0], scale * p[1], scale * p[2]});
        s.weights.assign(4, 1.0);
        return s;
    }

    Surface bump(double scale) {
        Surface s;
        s.name = "bicubic bump";
        s.u_order = s.v_order = 4;
        s.u_knots = s.v_knots = clamped_knots(6, 4);
        const double h = uniform(0.5, 4);
        for (int j = 0; j < 6; ++j)
            for (int i = 0; i < 6; ++i) {
                const double z = i > 0 && i < 5 && j > 0 && j < 5 ? h * uniform(-1, 1) : 0;
                s.points.insert(s.points.end(), {2.0 * i * scale, 1.6 * j * scale, z * scale});
                s.weights.push_back(coin() ? 1.0 : uniform(0.5, 2.0));
            }
        return s;
    }

    Surface torus(double scale) {
        Surface s;
        s.name = "torus";
        s.u_order = s.v_order = 3;
        s.closed_u = s.closed_v = true;
        const double R = uniform(4, 8) * scale, r = uniform(0.5, 3) * scale;
        for (const auto& c : kCircle) circle_row(R + r * c[0], r * c[1], c[2], s);  // tube circles
        s.u_knots = s.v_knots = kCircleKnots;
        return s;
    }

    Surface sphere(double scale) { return tess_fixtures::sphere(uniform(1, 6) * scale); }

    // Trim loops, built in the unit square and mapped onto a random domain.
    void trim(Surface& s, int variant, double pscale) {
        static const char* const kNames[5] = {"boundary", "circle", "spline", "edge-running",
                                              "holed boundary"};
        s.name = s.name + ", " + kNames[variant] + " loop";
        const bool ccw = coin();
        s.outer_clockwise = !ccw;
        const double cu = uniform(0.4, 0.6), cv = uniform(0.4, 0.6);
        if (variant == 0 || variant == 4) s.outer = rectangle(0, 0, 1, 1, ccw);
        if (variant == 1)  // one curve with corner knots or four arcs
            s.outer = circle(cu, cv, uniform(0.2, 0.38), uniform(0.2, 0.38), ccw, coin());
        if (variant == 2) {
            std::vector<double> radius(5 + static_cast<int>(uniform(0, 8)));
            for (double& r : radius) r = uniform(0.25, 0.45);
            s.outer = {star_spline(0.5, 0.5, radius, ccw)};
        }
        if (variant == 3) {  // touching and running along the domain edge
            const double a = uniform(0.1, 0.4), b = uniform(0.55, 0.9);
            std::vector<std::pair<double, double>> p{
                {a, 0}, {b, 0}, {1, uniform(0.3, 0.7)}, {b, 1}, {0, uniform(0.5, 0.9)}, {a, 0}};
            if (!ccw) std::reverse(p.begin(), p.end());
            s.outer = {polyline(p)};
        }
        // Holes well inside the outer loop: at the centre of a circle, or up
        // to three in the boundary loop.
        const int holes =
            variant == 4 ? 1 + static_cast<int>(uniform(0, 3)) : variant == 1 && coin();
        for (int h = 0; h < holes; ++h) {
            const double x = variant == 1 ? cu : 0.25 + 0.25 * h,
                         y = variant == 1 ? cv : uniform(0.3, 0.7);
            const double r = variant == 4 ? 0.08 : 0.03;
            s.holes.push_back(coin() ? circle(x, y, r, r, coin(), coin())
                                     : rectangle(x - r, y - r, x + r, y + r, coin()));
        }
        if (holes > 0) s.name += ", holes";
        const double u0 = uniform(-3, 3) * pscale, v0 = uniform(-3, 3) * pscale;
        const double du = uniform(0.5, 4) * pscale, dv = uniform(0.5, 4) * pscale;
        for (double& k : s.u_knots) k = u0 + du * k;
        for (double& k : s.v_knots) k = v0 + dv * k;
        std::vector<LoopCurves*> loops{&s.outer};
        for (LoopCurves& h : s.holes) loops.push_back(&h);
        for (LoopCurves* l : loops)
            for (Curve& c : *l)
                for (size_t k = 0; k < c.points.size(); k += 3) {
                    c.points[k] = u0 + du * c.points[k];
                    c.points[k + 1] = v0 + dv * c.points[k + 1];
                }
    }
};

constexpr Surface (Gen::*kFamilies[4])(double) = {&Gen::planar, &Gen::bump, &Gen::torus,
                                                  &Gen::sphere};

TEST(TessSurfaces, GeneratedFamiliesKeepEveryProperty) {
    Gen g{std::mt19937(2026)};
    const double scales[3] = {1.0, 1e-3, 1e4};
    for (int n = 0; n < 60; ++n) {
        const double scale = scales[(n / 4) % 3];
        Surface s = (g.*kFamilies[n % 4])(scale);
        // Closed surfaces mostly keep their whole domain (seams), sometimes
        // a circle or a spline loop.
        static const int closed_variants[4] = {0, 4, 1, 2};
        const int variant = s.closed_u || s.closed_v
                                ? closed_variants[static_cast<int>(g.uniform(0, 4)) % 4]
                                : static_cast<int>(g.uniform(0, 5)) % 5;
        g.trim(s, variant, (n / 12) % 2 ? 1.0 : 100.0);
        s.name += " #" + std::to_string(n) + " scale " + std::to_string(scale);
        const double size = 10 * scale, A = 2e-3 * size, B = 2e-3 * size;
        const double C = 1e-6 * (s.u_knots.back() - s.u_knots.front());
        check_result(s, tessellate(s, A, B, C), A, C, size);
        if (::testing::Test::HasFailure()) break;
    }
}

// A ruvane-tess sample file as a test surface, its tolerances in `tol`.
Surface tool_sample(const std::string& name, ruvane_tess::Tolerances* tol) {
    Surface s;
    s.name = name;
    std::ifstream in(std::string(RUVANE_TESS_SAMPLES) + "/" + name + ".json", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    ruvane_tess::SurfaceData d;
    std::string error;
    EXPECT_TRUE(ruvane_tess::read_surface_description(text.str(), d, error))
        << name << ": " << error;
    const auto curve = [](const ruvane_tess::CurveData& c) {
        return Curve{c.order, c.points, c.weights, c.knots};
    };
    s.u_order = d.u_order;
    s.v_order = d.v_order;
    s.u_knots = d.u_knots;
    s.v_knots = d.v_knots;
    s.points = d.points;
    s.weights = d.weights;
    for (const auto& c : d.outer) s.outer.push_back(curve(c));
    for (const auto& h : d.holes) {
        s.holes.emplace_back();
        for (const auto& c : h) s.holes.back().push_back(curve(c));
    }
    // The outer loop's turn, from its control polygons (the face normals
    // are negated for a clockwise loop).
    double area = 0;
    for (const Curve& c : s.outer)
        for (size_t k = 3; k < c.points.size(); k += 3)
            area += c.points[k - 3] * c.points[k + 1] - c.points[k] * c.points[k - 2];
    s.outer_clockwise = area < 0;
    *tol = d.tolerances;
    return s;
}

// The ruvane-tess samples at their own tolerances and at a third and a tenth
// of them (the meshes scripts/mesh_fingerprint.sh sums): however the economy
// rules change their triangle counts, every property holds.
TEST(TessSurfaces, ToolSamplesKeepEveryPropertyAtEachTolerance) {
    for (const char* name : {"bicubic_bump", "cylinder", "planar_hole", "sphere_pole", "torus"}) {
        ruvane_tess::Tolerances tol;
        const Surface s = tool_sample(name, &tol);
        if (::testing::Test::HasFailure()) return;
        double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
        for (size_t k = 0; k < s.points.size(); ++k) {
            lo[k % 3] = std::min(lo[k % 3], s.points[k]);
            hi[k % 3] = std::max(hi[k % 3], s.points[k]);
        }
        const double size = norm(V3{hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
        for (double f : {1.0, 1.0 / 3.0, 0.1}) {
            SCOPED_TRACE("tolerance factor " + std::to_string(f));
            const double A = tol.surface * f, B = tol.trim * f;
            check_result(s, tessellate(s, A, B, tol.param), A, tol.param, size);
        }
    }
}

}  // namespace

namespace {

// A cone strip round the z axis from radius r0 at z = 0 to r1 at `height`,
// closed in u, its whole domain trimmed open.
Surface cone_strip(double r0, double r1, double height, const std::string& name) {
    Surface s;
    s.u_order = 3;
    s.u_knots = kCircleKnots;
    s.v_knots = {0, 0, 1, 1};
    circle_row(r0, 0, 1, s);
    circle_row(r1, height, 1, s);
    s.closed_u = true;
    s.outer = rectangle(0, 0, 1, 1, true);
    s.name = name + " " + std::to_string(r0) + " to " + std::to_string(r1);
    return s;
}

// Narrow strips of cones, as chamfers and turned faces give: straight along
// v, so one row of cells around, each as long as a chord of sagitta A on the
// outer circle allows. Cells halve, so there are fewer than twice N such
// chords around and two triangles in each: 4 N, doubled for a second row.
TEST(TessSurfaces, NarrowConeStripsGetOneRowOfCells) {
    struct Case {
        double r0, r1, height, A;
    } cases[] = {{13, 14, 1, 0.01}, {13, 14, 1, 0.001}, {30, 30.5, 2, 0.005}, {5, 8, 1, 0.01}};
    for (const Case& k : cases) {
        const Surface s = cone_strip(k.r0, k.r1, k.height, "cone strip");
        const double size = k.r1, C = 1e-6;
        const Outcome r = tessellate(s, k.A, k.A, C);
        check_result(s, r, k.A, C, size);
        const double chords = kPi / std::acos(1 - k.A / k.r1);
        EXPECT_LE(static_cast<double>(r.tris.size()), 8 * chords) << s.name;
    }
}

// A strip much narrower than the tolerance's chords are long: its open
// edges need no chords finer than the area it must keep asks for. A turn of
// n chords keeps sin(t/2)/(t/2), about 1 - t^2/24 of the area for
// t = 2 pi / n: 1% for 13 chords. Halving cells gives at most twice that,
// two triangles each; the strip's area stays within 1%.
TEST(TessSurfaces, NarrowConeStripsKeepTheirAreaWithFewChords) {
    struct Case {
        double r0, r1, height, A;
    } cases[] = {{13, 13.3, 0.2, 0.05}, {13, 13.3, 0.2, 0.02}, {40, 40.5, 0.3, 0.1}};
    for (const Case& k : cases) {
        const Surface s = cone_strip(k.r0, k.r1, k.height, "narrow strip");
        const double C = 1e-6;
        const Outcome r = tessellate(s, k.A, k.A, C);
        check_result(s, r, k.A, C, k.r1);
        const double by_area = 2 * kPi / std::sqrt(24 * 0.01);
        const double by_sagitta = kPi / std::acos(1 - k.A / k.r1);
        const double chords = std::max(by_area, by_sagitta);
        EXPECT_LE(static_cast<double>(r.tris.size()), 4 * chords) << s.name;
        double area = 0;
        for (const TessTriangle& t : r.tris) area += triangle_area(t);
        const double slant = std::hypot(k.r1 - k.r0, k.height);
        const double exact = kPi * (k.r0 + k.r1) * slant;
        EXPECT_NEAR(area / exact, 1.0, 0.01) << s.name;
    }
}

// A chamfer: a quarter of a cone strip, one rational quadratic span
// around, open on every side, narrow for its length. Its cells reach from
// one open edge to the other and are held to the area their two triangles
// keep (all but 0.6%), which asks for fewer pieces than the chords of its
// edges alone. Where the first cut laid as many lines as A asks for (three)
// and the strip rule halved the rest, each arc got twelve chords; sized at
// once, a lattice gives at most a quarter more pieces than the area asks
// for (halving's own count where that is no more), two triangles each.
TEST(TessSurfaces, ChamferArcsGetTheChordsTheirOpenEdgesAskFor) {
    const double r0 = 6, r1 = 4.5, height = 1.5;
    Surface s;
    s.u_order = 3;
    s.u_knots = {0, 0, 0, 1, 1, 1};
    s.v_knots = {0, 0, 1, 1};
    for (const auto& [r, z] : {std::pair{r0, 0.0}, std::pair{r1, height}})
        for (int k = 0; k < 3; ++k) {
            s.points.insert(s.points.end(), {r * kCircle[k][0], r * kCircle[k][1], z});
            s.weights.push_back(kCircle[k][2]);
        }
    s.outer = rectangle(0, 0, 1, 1, true);
    s.name = "chamfer";
    const double A = 0.29, C = 1e-6;
    const Outcome r = tessellate(s, A, A, C);
    check_result(s, r, A, C, r0);
    double area = 0;
    for (const TessTriangle& t : r.tris) area += triangle_area(t);
    const double slant = std::hypot(r0 - r1, height);
    const double exact = 0.25 * kPi * (r0 + r1) * slant;
    EXPECT_NEAR(area / exact, 1.0, 0.01);
    // The fewest pieces around whose planar trapezoids (between the chords
    // of both rings) keep all but 0.6% of their piece of cone.
    int pieces = 1;
    for (;; ++pieces) {
        const double t = 0.5 * kPi / pieces;
        const double between = std::hypot((r0 - r1) * std::cos(t / 2), height);
        const double kept = (r0 + r1) * std::sin(t / 2) * between;
        if (kept >= (1 - 0.006) * 0.5 * t * (r0 + r1) * slant) break;
    }
    EXPECT_LE(static_cast<double>(r.tris.size()), 2 * std::ceil(1.25 * pieces)) << pieces;
}

// A full cylinder of three rational arcs of 120 degrees (weight 1/2), whose
// parameter runs about twice as fast in an arc's middle as at its ends.
// Halving the cells of one turn into 16 left the middle ones too long, and
// halving those again gave 22 where an even 16 keep within A: the lattice
// is laid when it saves a quarter of what halving really gives, not of the
// next power of two. At most a quarter more chords than the fewest.
TEST(TessSurfaces, CylindersOfFastArcsGetTheirChordsLaidEvenly) {
    const double r = 4, height = 14, A = 0.098, C = 1e-6;
    Surface s;
    s.u_order = 3;
    s.u_knots = {0, 0, 0, 1. / 3, 1. / 3, 2. / 3, 2. / 3, 1, 1, 1};
    s.v_knots = {0, 0, 1, 1};
    for (const double z : {0.0, height})
        for (int k = 0; k <= 6; ++k) {
            const double at = kPi * k / 3, out = k % 2 == 0 ? r : 2 * r;
            s.points.insert(s.points.end(), {out * std::cos(at), out * std::sin(at), z});
            s.weights.push_back(k % 2 == 0 ? 1.0 : 0.5);
        }
    s.closed_u = true;
    s.outer = rectangle(0, 0, 1, 1, true);
    s.name = "cylinder of three arcs";
    const Outcome res = tessellate(s, A, A, C);
    check_result(s, res, A, C, height);
    const double fewest = std::ceil(kPi / std::acos(1 - A / r));
    EXPECT_LE(static_cast<double>(res.tris.size()), 2 * std::ceil(1.25 * fewest)) << fewest;
}

// Full cylinders of four quarter arcs where a turn needs somewhat fewer
// chords than a power of two: halving gave 32 cells where 26 or 28 keep
// within A, 64 where 52 do. Around a full turn whose other direction needs
// no cut, a lattice is laid as soon as it saves a twentieth of halving's
// pieces, so the turn gets at most a tenth more chords than the fewest.
TEST(TessSurfaces, FullCylindersGetNoPowerOfTwoOfChords) {
    const double r = 4, height = 10, C = 1e-6;
    for (const double A : {0.0075, 0.026, 0.03, 0.112}) {
        const Surface s = cone_strip(r, r, height, "cylinder A " + std::to_string(A));
        const Outcome res = tessellate(s, A, A, C);
        check_result(s, res, A, C, height);
        const double fewest = std::ceil(kPi / std::acos(1 - A / r));
        EXPECT_LE(static_cast<double>(res.tris.size()), 2 * std::ceil(1.1 * fewest))
            << s.name << ", fewest " << fewest;
    }
}

// A ball's octant with its pole, as a filleted box's corner: both
// directions bend alike, and each direction's pieces rounded up to whole
// ones from half the budget left a row or column the other's share would
// have spared (37 triangles where 32 keep within A at the coarser
// tolerance, 55 where 52 at the finer). The first lattice takes a share a
// little above half where that needs a piece less and the two counts'
// product goes down: together within 1.75 times the ideal grid's (the
// rounding gave 1.84).
// A ball's octant of radius R with its pole at v = 0, the pole's three
// control points moved by (i - 1) x `pole_off` across each other.
Surface ball_corner(double R, double pole_off = 0.0) {
    Surface s;
    s.u_order = s.v_order = 3;
    s.u_knots = s.v_knots = {0, 0, 0, 1, 1, 1};
    for (int k : {6, 7, 8})
        for (int i = 0; i < 3; ++i) {
            const double r = R * kCircle[k][0];
            const double off = k == 6 ? (i - 1) * pole_off : 0.0;
            s.points.insert(s.points.end(),
                            {r * kCircle[i][0] + off, r * kCircle[i][1] - off, R * kCircle[k][1]});
            s.weights.push_back(kCircle[i][2] * kCircle[k][2]);
        }
    s.outer = rectangle(0, 0, 1, 1, true);
    return s;
}

TEST(TessSurfaces, BallCornersTakeTheRoundingFromOneDirection) {
    const double R = 4, C = 1e-6;
    double triangles = 0, ideal = 0;
    for (const double A : {0.17, 0.1}) {
        Surface s = ball_corner(R);
        s.name = "ball corner A " + std::to_string(A);
        const Outcome out = tessellate(s, A, A, C);
        check_result(s, out, A, C, R);
        triangles += static_cast<double>(out.tris.size());
        ideal += kPi * R / (4 * A);
    }
    EXPECT_LE(triangles, 1.75 * ideal) << "ideal " << ideal;
}

}  // namespace

namespace {

// Balls and rings get about the cells their curvature asks for. The fewest
// grid cells within A of a surface whose principal curvatures k1, k2 have
// the same sign have sides 2 sqrt(A / k) (each direction's chord sagging by
// A / 2), two triangles each: sqrt(k1 k2) / (2 A) triangles per unit of area;
// where they differ in sign a side may sag by A alone: half as many. Halving
// cells and measuring the surface against the corners' bilinear patch at
// equal parameters gave 2 to 2.2 times that on balls and 2.6 to 3 on rings;
// the bounds leave room for rows that cannot coarsen towards a pole or the
// top of a ring without a cut line their neighbours lack.
TEST(TessSurfaces, BallsAndRingsGetAboutTheCellsTheirCurvatureAsksFor) {
    struct Case {
        double R, r, A;  // r = 0: a ball of radius R
    } cases[] = {{6, 0, 0.0121}, {6, 0, 0.121}, {7, 2, 0.0121}, {7, 2, 0.121}, {40, 3, 0.05}};
    for (const Case& k : cases) {
        Surface s;
        double ideal = 0;
        if (k.r == 0) {
            s = sphere(k.R);
            ideal = 4 * kPi * k.R * k.R / k.R / (2 * k.A);
        } else {
            s.u_order = s.v_order = 3;
            s.closed_u = s.closed_v = true;
            for (const auto& c : kCircle) circle_row(k.R + k.r * c[0], k.r * c[1], c[2], s);
            s.u_knots = s.v_knots = kCircleKnots;
            s.name = "torus";
            // Round the tube: K = cos t / (r (R + r cos t)), dA = r (R + r cos t) dt dphi.
            const int steps = 2000;
            for (int i = 0; i < steps; ++i) {
                const double t = 2 * kPi * (i + 0.5) / steps, c = std::cos(t);
                const double per =
                    std::sqrt(std::fabs(c) * k.r * (k.R + k.r * c)) * 2 * kPi * (2 * kPi / steps);
                ideal += per / (c > 0 ? 2 * k.A : 4 * k.A);
            }
        }
        s.outer = rectangle(0, 0, 1, 1, true);
        s.name +=
            " R " + std::to_string(k.R) + " r " + std::to_string(k.r) + " A " + std::to_string(k.A);
        const double size = k.R + k.r, C = 1e-6;
        const Outcome out = tessellate(s, k.A, k.A, C);
        check_result(s, out, k.A, C, size);
        EXPECT_LE(static_cast<double>(out.tris.size()), (k.r == 0 ? 1.8 : 1.9) * ideal)
            << s.name << ", ideal " << ideal;
    }
}

}  // namespace

namespace {

// A ring's rim where the ring stands on a plane: along the rim the ring is
// flat across and its parallels bend within the surface only, so only the
// rim's chords (held to the finer tolerance of an open edge, for the face's
// area) ask for short pieces there. Cutting the rim's cells for them laid a
// column through the whole tube for each chord; the rim now takes points
// of its own and the rows beside it keep the columns their own bend asks
// for: where the tube needs fewer than the rim, the grid line next to the
// rim carries fewer vertices than the rim (at A = 0.076 both had 65).
TEST(TessSurfaces, RingRimsTakeTheirChordsWithoutCuttingThroughTheTube) {
    const double R = 18, r = 3, C = 1e-6;
    for (const double A : {0.23, 0.076}) {
        Surface s;
        s.u_order = s.v_order = 3;
        s.closed_u = true;
        s.u_knots = kCircleKnots;
        s.v_knots = {0, 0, 0, 1, 1, 1};
        for (int k : {6, 7, 8})
            circle_row(R + r * kCircle[k][0], r * kCircle[k][1], kCircle[k][2], s);
        s.outer = rectangle(0, 0, 1, 1, true);
        s.name = "ring rim A " + std::to_string(A);
        // The cell lattice's rule: the zipped rows stay out of it.
        const Outcome out = tessellate(s, A, A, C, false);
        check_result(s, out, A, C, R + r);
        std::map<double, std::set<double>> rows;  // v -> the u of its vertices
        for (const TessTriangle& t : out.tris)
            for (const TessVertex& x : t.vertex) rows[x.v].insert(x.u);
        ASSERT_GE(rows.size(), 3u) << s.name;
        const auto rim = rows.begin(), next = std::next(rim);
        EXPECT_LT(next->second.size(), rim->second.size()) << s.name;
    }
}

// A ball's corner patch as a model hands it over: its pole's control
// points a last bit apart. The pole cell's triangle with two corners on the
// pole then has a normal made of rounding, and measured against it the
// cell was cut again and again (112 triangles where the exact pole gets
// 102): it has no plane, as on the exact pole, and the patch meshes alike.
// Halving gave it 8 rows and 8 columns, as many as the lattice's rounded
// counts, and no lattice was laid (1.75 times the ideal grid's triangles,
// as in the test above); the first lattice is now laid with a grown share
// and its rows follow the bend: 7 rows, within 1.72 times.
TEST(TessSurfaces, BallCornersWithAPoleALastBitApartMeshAsTheExactPole) {
    const double R = 4, A = 0.054, C = 1e-6;
    size_t triangles[2] = {0, 0};
    for (const bool apart : {false, true}) {
        // The pole's points off by a few units of their last bit.
        Surface s = ball_corner(R, apart ? 4e-16 * R : 0.0);
        s.name = apart ? "ball corner, pole apart" : "ball corner, exact pole";
        const Outcome out = tessellate(s, A, A, C);
        check_result(s, out, A, C, R);
        triangles[apart] = out.tris.size();
    }
    EXPECT_EQ(triangles[1], triangles[0]);
    const double ideal = kPi * R / (4 * A);
    EXPECT_LE(static_cast<double>(triangles[0]), 1.72 * ideal) << "ideal " << ideal;
}

}  // namespace

namespace {

// A ring of tube radius r about a circle of radius R, u round the axis and
// v round the tube (v = 0 outside).
Surface ring(double R, double r) {
    Surface s;
    s.u_order = s.v_order = 3;
    s.closed_u = s.closed_v = true;
    for (const auto& c : kCircle) circle_row(R + r * c[0], r * c[1], c[2], s);
    s.u_knots = s.v_knots = kCircleKnots;
    s.outer = rectangle(0, 0, 1, 1, true);
    s.name = "ring R " + std::to_string(R) + " r " + std::to_string(r);
    return s;
}

// How far the surface sags, half way along v, from the chord of each piece
// between two neighbouring rows of vertices on the line u = 0, the largest
// over the pieces, against `A`.
double largest_row_sag(const Surface& s, const Outcome& out, double A) {
    const Eval ev{s};
    const double lv = ev.lengths().second;
    const double v0 = s.v_knots.front(), v1 = s.v_knots.back(), u0 = s.u_knots.front();
    std::set<double> rows;
    for (const TessTriangle& t : out.tris)
        for (const TessVertex& x : t.vertex)
            if (x.u == 0.0) rows.insert(x.v);
    const auto at = [&](double mv) { return ev.at(u0, v0 + mv / lv * (v1 - v0)); };
    double largest = 0;
    for (auto a = rows.begin(), b = std::next(a); b != rows.end(); ++a, ++b)
        largest = std::max(largest, point_segment(at(0.5 * (*a + *b)), at(*a), at(*b)) / A);
    return largest;
}

// Where a direction's pieces bend less, the other direction's take what
// they leave of the budget: on a ball the parallels near a pole are short
// and bend little, and the rows along the meridians there may sag by more
// than the half each direction took everywhere (at most 0.45 A, the rows
// then as many as at the equator).
TEST(TessSurfaces, RowsTakeWhatTheParallelsLeave) {
    const double C = 1e-6;
    for (const double A : {0.0121, 0.05, 0.121}) {
        Surface s = sphere(6);
        s.outer = rectangle(0, 0, 1, 1, true);
        s.name += " A " + std::to_string(A);
        // The cell lattice's rule: the zipped rows stay out of it.
        const Outcome out = tessellate(s, A, A, C, false);
        check_result(s, out, A, C, 6);
        EXPECT_GT(largest_row_sag(s, out, A), 0.55) << s.name;
    }
}

// A ring's quarter from the bottom of its tube (v = 0) to the inside, round
// the axis in three arcs of 120 degrees (u), as a model has it.
Surface ring_quarter(double R, double r) {
    Surface s;
    s.u_order = s.v_order = 3;
    s.closed_u = true;
    s.u_knots = {0, 0, 0, 1. / 3, 1. / 3, 2. / 3, 2. / 3, 1, 1, 1};
    s.v_knots = {0, 0, 0, 1, 1, 1};
    for (int k : {6, 5, 4}) {
        const double rho = R + r * kCircle[k][0], z = r * kCircle[k][1], wz = kCircle[k][2];
        for (int i = 0; i <= 6; ++i) {
            const double angle = kPi * i / 3, out = i % 2 == 0 ? rho : 2 * rho;
            s.points.insert(s.points.end(), {out * std::cos(angle), out * std::sin(angle), z});
            s.weights.push_back((i % 2 == 0 ? 1.0 : 0.5) * wz);
        }
    }
    s.outer = rectangle(0, 0, 1, 1, true);
    return s;
}

// A ring's quarter from the bottom of its tube to the inside (a saddle,
// open along both circles), as a bracket's fillet: the parallels there may
// take the whole budget, but not more than the open edges' finer tolerance
// allows, or their chords cut off more of the face (its mesh, carried onto
// the surface, covered 98.97 % of it at A = 0.076).
TEST(TessSurfaces, SaddleStripsKeepTheirAreaAlongOpenEdges) {
    const double R = 13, r = 3, C = 1e-6;
    for (const double A : {0.0763, 0.229}) {
        Surface s = ring_quarter(R, r);
        s.name = "ring quarter A " + std::to_string(A);
        const Outcome out = tessellate(s, A, A, C);
        check_result(s, out, A, C, R + r);
        // Each triangle cut into 16, their corners carried to the nearest
        // point of the ring: chords inside the face hardly count, its
        // edges' do.
        const auto nearest = [&](const V3& x) {
            const double out = std::hypot(x[0], x[1]);
            const V3 centre{R * x[0] / out, R * x[1] / out, 0};
            const V3 off = x - centre;
            return centre + (r / norm(off)) * off;
        };
        const double covered = carried_area(out.tris, nearest);
        const double exact = 2 * kPi * r * (R * kPi / 2 - r);
        EXPECT_NEAR(covered / exact, 1.0, 0.01) << s.name;
    }
}

// On a ring's inner side the two directions bend to opposite sides (a
// saddle): the triangles through a cell's corners stand off the surface by
// the larger of its two sags, not their sum, so each takes the whole
// budget, and the rows there get columns of their own, fewer than the
// outer side's rows (on a ring of 40 whose tube is 3 across, half the outer
// side's columns ask too much of the inner rows, which had as many as the
// outer ones). The inner side gets within 2.2 times the ideal grid's
// triangles there (a side of 2 sqrt(2 A / k) each way); laid at the half
// budget and the outer side's columns, it got 2.4 to 3.5 times.
TEST(TessSurfaces, RingsTakeTheWholeBudgetOnTheirSaddleSide) {
    struct Case {
        double R, r, A;
    } cases[] = {{7, 2, 0.0121}, {40, 3, 0.05}, {40, 3, 0.01}, {10, 4, 0.03}};
    for (const Case& k : cases) {
        Surface s = ring(k.R, k.r);
        s.name += " A " + std::to_string(k.A);
        const double C = 1e-6;
        const Outcome out = tessellate(s, k.A, k.A, C);
        check_result(s, out, k.A, C, k.R + k.r);
        // Round the tube's inner half: |K| dA = |cos t| dt dphi.
        double ideal = 0;
        const int steps = 1000;
        for (int i = 0; i < steps; ++i) {
            const double t = kPi * (0.5 + (i + 0.5) / steps), c = std::cos(t);
            ideal += std::sqrt(-c * k.r * (k.R + k.r * c)) * 2 * kPi * (kPi / steps) / (4 * k.A);
        }
        double inner = 0;
        // Rows well outside and well inside: v -> the u of their vertices.
        std::map<double, std::set<double>> rows[2];
        for (const TessTriangle& t : out.tris) {
            V3 centre{0, 0, 0};
            for (const TessVertex& x : t.vertex) {
                centre = centre + (1.0 / 3) * v3(x.position);
                const double from_axis = std::hypot(x.position[0], x.position[1]);
                if (std::fabs(from_axis - k.R) > 0.5 * k.r) rows[from_axis < k.R][x.v].insert(x.u);
            }
            inner += std::hypot(centre[0], centre[1]) < k.R ? 1 : 0;
        }
        EXPECT_LE(inner, 2.2 * ideal) << s.name << ", ideal " << ideal;
        size_t most[2] = {0, 0};
        for (int side = 0; side < 2; ++side)
            for (const auto& [v, us] : rows[side]) most[side] = std::max(most[side], us.size());
        EXPECT_LT(most[1], most[0]) << s.name;
    }
}

}  // namespace

namespace {

// A ball's corner patch as a filleted slab has it (radius 3, at tolerances
// about its meridians' finer edge tolerance apart): its parallels near the
// pole are short and leave the rows there most of the budget, as on a
// whole ball. Three rules let the rows take it: the row lattice is laid
// second where that expects fewer cells (a patch closed in neither
// direction was laid in one order only); its edge lines, meridians held to
// the open edges' finer tolerance, bend out of the surface only, which
// cuts off nothing across the edge, so their steps keep the share (it was
// clamped to the half); and a cell one row high that two columns of the
// other lattice span is cut along their line, not across its row (halving
// the row laid a fifth one). At 1e-3 of the slab's diagonal the patch went
// from 5 rows (42 triangles) to 4 (36).
TEST(TessSurfaces, BallCornersGiveTheirPoleRowsWhatTheParallelsLeave) {
    const double R = 3, C = 1e-6;
    for (const double A : {0.0949, 0.06}) {
        Surface s = ball_corner(R);
        s.name = "ball corner r 3 A " + std::to_string(A);
        const Outcome out = tessellate(s, A, A, C);
        check_result(s, out, A, C, R);
        // Rows along the meridians sagging by more than the half budget
        // each direction takes where both bend (0.40 and 0.44 A when
        // clamped), and within 1.5 times the ideal grid's triangles (1.69
        // and 1.60 times with 5 rows).
        EXPECT_GT(largest_row_sag(s, out, A), 0.6) << s.name;
        const double ideal = kPi * R / (4 * A);
        EXPECT_LE(static_cast<double>(out.tris.size()), 1.5 * ideal)
            << s.name << ", ideal " << ideal;
    }
}

}  // namespace

namespace {

// A spline profile (radius 5 to 16) revolved a full turn in three rational
// arcs of 120 degrees, as a model hands it over: u round the axis, v along
// the profile.
Surface revolved_profile() {
    const double profile[8][2] = {{10, 0},
                                  {13.4122, 2.6412},
                                  {16.1453, 9.2190},
                                  {4.9810, 19.4735},
                                  {15.7265, 31.6403},
                                  {5.9259, 38.7404},
                                  {6.5645, 43.7903},
                                  {8, 46}};
    Surface s;
    s.u_order = 3;
    s.v_order = 4;
    s.closed_u = true;
    s.u_knots = {0, 0, 0, 1. / 3, 1. / 3, 2. / 3, 2. / 3, 1, 1, 1};
    s.v_knots = {0, 0, 0, 0, 0.1795, 0.4404, 0.6886, 0.8779, 1, 1, 1, 1};
    for (const auto& [rho, z] : profile)
        for (int i = 0; i <= 6; ++i) {
            const double angle = kPi * i / 3, out = i % 2 == 0 ? rho : 2 * rho;
            s.points.insert(s.points.end(), {out * std::cos(angle), out * std::sin(angle), z});
            s.weights.push_back(i % 2 == 0 ? 1.0 : 0.5);
        }
    s.outer = rectangle(0, 0, 1, 1, true);
    return s;
}

// Of the rows of vertices by v, one of the full grid's: a row with the
// most vertices among the commonest counts (a band's border row carries
// the corners of both sides' columns and may have more).
const std::set<double>* grid_row(const std::map<double, std::set<double>>& rows) {
    std::map<size_t, int> counts;
    for (const auto& [v, row] : rows) ++counts[row.size()];
    int most = 0;
    for (const auto& [size, count] : counts) most = std::max(most, count);
    size_t size = 0;
    for (const auto& [n, count] : counts)
        if (count == most) size = n;
    for (const auto& [v, row] : rows)
        if (row.size() == size) return &row;
    return &rows.begin()->second;
}

// Around a turn whose profile bends too, the columns are laid first and the
// rows take what they leave at each step. Halving's even pieces of the
// rational arcs differ in angle (the widest 1.26 to 1.3 times the
// narrowest), and the rows took what the widest left everywhere; the
// columns' lattice spreads them by the bend, evenly round the axis (within
// 1.08), and the rows get more (at A = 0.609, 10 rows became 9 and 300
// triangles 288).
// A closed cell round the full turn is cut first; its two halves, each
// rounding its columns up, took a column more than the whole turn needs
// where the halves each need a little over a whole count (28.6 columns, 30
// in two halves of 14.3 at A = 0.183). There the columns' lattice is laid
// over the whole turn and the turn's first cut goes at its middle line, not
// at the half turn; a saddle band at the narrow top keeps columns of its
// own, its cells cut at its own lines (cut at the halves of the turn's
// middle line, it took 24 columns where 16 hold). 950 triangles became
// 930. At A = 0.609 the whole turn needs 15.7 columns, no fewer than the
// halves' 8 and 8: the half turn stays a line.
TEST(TessSurfaces, ColumnsRoundATurnAreSpreadEvenlyBeforeTheRows) {
    const double C = 1e-6;
    for (const double A : {0.609, 0.183}) {
        Surface s = revolved_profile();
        s.name = "revolved profile A " + std::to_string(A);
        // The cell lattice's rule: the zipped rows stay out of it.
        const Outcome out = tessellate(s, A, A, C, false);
        check_result(s, out, A, C, 30);
        // The angles round the axis of the vertices of each row (v).
        // and their metric positions along the turn.
        std::map<double, std::set<double>> rows, along;
        for (const TessTriangle& t : out.tris)
            for (const TessVertex& x : t.vertex) {
                rows[x.v].insert(std::atan2(x.position[1], x.position[0]));
                along[x.v].insert(x.u);
            }
        // The columns of a full grid row.
        const std::set<double>* full = grid_row(rows);
        ASSERT_GE(full->size(), 8u) << s.name;
        // The turn runs from 0 to Lu, the profile to Lv.
        const std::set<double>* line = grid_row(along);
        const double Lu = *line->rbegin(), Lv = along.rbegin()->first;
        const auto half = line->lower_bound(0.5 * Lu * (1 - 1e-12));
        const bool halved = half != line->end() && *half <= 0.5 * Lu * (1 + 1e-12);
        EXPECT_EQ(halved, A > 0.5) << s.name << ", " << line->size() - 1 << " columns";
        // At A = 0.183 the top rows (a saddle band, radius 6.7 to 8) keep
        // to far fewer columns than the full rows.
        size_t top = 0;
        for (auto r = along.rbegin(); r != along.rend() && r->first > 0.9 * Lv; ++r)
            top = std::max(top, r->second.size());
        if (A < 0.5) {
            EXPECT_LT(3 * top, 2 * line->size()) << s.name;
        }
        double widest = 0, narrowest = 2 * kPi;
        for (auto a = full->begin(), b = std::next(a); b != full->end(); ++a, ++b) {
            widest = std::max(widest, *b - *a);
            narrowest = std::min(narrowest, *b - *a);
        }
        EXPECT_LT(widest, 1.15 * narrowest) << s.name;
        // Every row of vertices runs round the whole turn: a cell one
        // row high but two columns wide, cut across its row by halving,
        // left a short row of its own (two cells where one cut at the
        // columns' line gives one).
        for (const auto& [v, angles] : rows)
            EXPECT_GT(4 * angles.size(), full->size()) << s.name << ", row at v " << v;
    }
}

}  // namespace
