#include "iges/iges_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <random>

#include "iges/testing/models.h"

namespace ruvane::iges {
namespace {

using testing::IgesBuilder;
using testing::line;
constexpr double kPi = 3.14159265358979323846;

std::string n(double v) { return IgesBuilder::num(v); }
std::string i(long v) { return IgesBuilder::integer(v); }

Model read(const IgesBuilder& b) {
    const std::string s = b.str();
    Model m;
    std::string why;
    EXPECT_TRUE(read_model(s.data(), s.size(), Limits{}, &m, &why)) << why;
    return m;
}

// A transformation (124) from the rows of [R | t].
int matrix(IgesBuilder* b, std::initializer_list<double> rows, int own = 0) {
    std::vector<std::string> p;
    for (const double v : rows) p.push_back(n(v));
    return b->add(124, p, 0, own);
}

// A flat bilinear patch in z = `z` whose parameters are x and y.
int plane(IgesBuilder* b, double lo, double hi, double z = 0, int transform = 0,
          const char* status = "00010000") {
    return b->add(128, {"1",   "1",   "1",   "1",   "0",   "0",   "1",   "0",   "0",   n(lo),
                        n(lo), n(hi), n(hi), n(lo), n(lo), n(hi), n(hi), "1.",  "1.",  "1.",
                        "1.",  n(lo), n(lo), n(z),  n(hi), n(lo), n(z),  n(lo), n(hi), n(z),
                        n(hi), n(hi), n(z),  n(lo), n(hi), n(lo), n(hi)},
                  0, transform, status);
}

// A trimmed surface whose outer loop is the parameter-space curve `curve`
// (and, when given, the model-space curve `model`).
int trimmed(IgesBuilder* b, int surface, int curve, int model = 0, int transform = 0,
            const char* status = "00000000") {
    const int on =
        b->add(142, {"0", i(surface), i(curve), i(model), model ? "2" : "1"}, 0, 0, "00010500");
    return b->add(144, {i(surface), "1", "0", i(on)}, 0, transform, status);
}

std::vector<Vec3> loop_points(const Face& f, size_t loop, int per_curve = 16) {
    std::vector<Vec3> pts;
    for (const TrimCurve& t : f.loops.at(loop))
        for (int k = 0; k <= per_curve; ++k)
            pts.push_back(point3(
                t.curve, t.curve.first() + (t.curve.last() - t.curve.first()) * k / per_curve));
    return pts;
}

// Every curve kind, as a parameter-space trim of a patch whose parameters
// are x and y: the loop's points lie on the analytic curve and start where
// the entity starts.
TEST(IgesCurves, EachKindLandsOnItsCurve) {
    struct Case {
        const char* name;
        std::function<int(IgesBuilder*)> add;
        std::function<double(double, double)> off;  // distance-like residual
        Vec3 start;
    };
    const double h = std::sqrt(0.5);
    const Case cases[] = {
        {"110 line",
         [](IgesBuilder* b) {
             return line(b, {1, 1, 0}, {9, 2, 0});
         },
         [](double x, double y) { return std::fabs((y - 1) - (x - 1) / 8); },
         {1, 1, 0}},
        {"100 quarter arc",
         [](IgesBuilder* b) {
             return b->add(100, {"0.", "5.", "5.", "8.", "5.", "5.", "8."});
         },
         [](double x, double y) {
             return std::fabs(std::hypot(x - 5, y - 5) - 3) + (x < 5 - 1e-9 || y < 5 - 1e-9);
         },
         {8, 5, 0}},
        {"100 full circle",
         [](IgesBuilder* b) {
             return b->add(100, {"0.", "5.", "5.", "5.", "7.", "5.", "7."});
         },
         [](double x, double y) { return std::fabs(std::hypot(x - 5, y - 5) - 2); },
         {5, 7, 0}},
        {"104 ellipse",
         [](IgesBuilder* b) {
             return b->add(
                 104, {n(1.0 / 16), "0.", n(0.25), "0.", "0.", "-1.", "0.", "4.", "0.", "0.", "2."},
                 1);
         },
         [](double x, double y) { return std::fabs(x * x / 16 + y * y / 4 - 1); },
         {4, 0, 0}},
        {"104 parabola",
         [](IgesBuilder* b) {
             return b->add(
                 104, {"0.25", "0.", "0.", "0.", "-1.", "0.", "0.", "-2.", "1.", "4.", "4."}, 3);
         },
         [](double x, double y) { return std::fabs(x * x / 4 - y) + (x < -2 - 1e-9); },
         {-2, 1, 0}},
        {"104 hyperbola",
         [](IgesBuilder* b) {
             return b->add(104,
                           {"1.", "0.", "-1.", "0.", "0.", "-1.", "0.", n(std::sqrt(2.0)), "-1.",
                            n(std::sqrt(5.0)), "2."},
                           2);
         },
         [](double x, double y) { return std::fabs(x * x - y * y - 1) + (x < 0); },
         {std::sqrt(2.0), -1, 0}},
        {"126 rational quarter circle",
         [h](IgesBuilder* b) {
             return b->add(126, {"2",  "2",  "1",  "0",  "0",  "0",  "0.", "0.", "0.", "1.",
                                 "1.", "1.", "1.", n(h), "1.", "3.", "0.", "0.", "3.", "3.",
                                 "0.", "0.", "3.", "0.", "0.", "1.", "0.", "0.", "1."});
         },
         [](double x, double y) { return std::fabs(std::hypot(x, y) - 3); },
         {3, 0, 0}},
        {"126 clipped to its V0..V1",
         [](IgesBuilder* b) {
             return b->add(126, {"1",  "1",  "0",  "0",  "1",  "0",  "0.", "0.", "1.",   "1.",
                                 "1.", "1.", "0.", "0.", "0.", "8.", "8.", "0.", "0.25", "0.5"});
         },
         [](double x, double y) { return std::fabs(x - y) + (x < 2 - 1e-9) + (x > 4 + 1e-9); },
         {2, 2, 0}},
        {"106 polyline",
         [](IgesBuilder* b) {
             return b->add(106, {"2", "3", "1.", "1.", "0.", "4.", "1.", "0.", "4.", "3.", "0."},
                           12);
         },
         [](double x, double y) {
             return std::min(std::fabs(y - 1) + (x < 1 - 1e-9), std::fabs(x - 4));
         },
         {1, 1, 0}},
        {"102 composite",
         [](IgesBuilder* b) {
             const int a = line(b, {2, 5, 0}, {5, 5, 0});
             const int c =
                 b->add(100, {"0.", "5.", "7.", "5.", "5.", "7.", "7."}, 0, 0, "00010500");
             return b->add(102, {"2", i(a), i(c)});
         },
         [](double x, double y) {
             return std::min(std::fabs(y - 5) + (x > 5 + 1e-9),
                             std::fabs(std::hypot(x - 5, y - 7) - 2));
         },
         {2, 5, 0}},
    };
    for (const Case& c : cases) {
        IgesBuilder b;
        const int s = plane(&b, -10, 10);
        trimmed(&b, s, c.add(&b));
        const Model m = read(b);
        ASSERT_EQ(m.faces.size(), 1u) << c.name << (m.skipped.empty() ? "" : m.skipped[0].reason);
        const std::vector<Vec3> pts = loop_points(m.faces[0], 0);
        for (const Vec3& p : pts)
            EXPECT_LT(c.off(p.x, p.y), 1e-9) << c.name << " " << p.x << "," << p.y;
        EXPECT_NEAR(pts[0].x, c.start.x, 1e-9) << c.name;
        EXPECT_NEAR(pts[0].y, c.start.y, 1e-9) << c.name;
    }
}

double radius(const Vec3& p) { return std::hypot(p.x, p.y); }

// Each surface kind against its definition, over the face's whole domain.
TEST(IgesSurfaces, EachKindIsItsSurface) {
    struct Case {
        const char* name;
        std::function<void(IgesBuilder*)> add;
        std::function<double(const Vec3&, double, double)> off;  // point, u, v in [0, 1]
    };
    const Case cases[] = {
        {"118 ruled, parametric",
         [](IgesBuilder* b) {
             const int a = line(b, {0, 0, 0}, {10, 0, 0});
             const int c = b->add(126, {"2",  "2",   "1",  "0",  "1",  "0",  "0.", "0.", "0.", "1.",
                                        "1.", "1.",  "1.", "1.", "1.", "0.", "5.", "0.", "5.", "5.",
                                        "4.", "10.", "5.", "0.", "0.", "1.", "0.", "0.", "0."},
                                  0, 0, "00010500");
             b->add(118, {i(a), i(c), "0", "0"}, 1);
         },
         [](const Vec3& p, double u, double v) {
             const Vec3 c2{10 * u, 5, 8 * u * (1 - u)};
             return std::fabs(p.x - 10 * u) + std::fabs(p.y - 5 * v) + std::fabs(p.z - v * c2.z);
         }},
        {"120 cone, half turn",
         [](IgesBuilder* b) {
             const int axis = line(b, {0, 0, 0}, {0, 0, 1});
             const int gen = line(b, {2, 0, 0}, {3, 0, 5});
             b->add(120, {i(axis), i(gen), "0.", n(kPi)});
         },
         [](const Vec3& p, double u, double) {
             return std::fabs(radius(p) - (2 + p.z / 5)) + std::fabs(p.z - 5 * u) + (p.y < -1e-9);
         }},
        {"120 sphere from an arc",
         [](IgesBuilder* b) {
             const int axis = line(b, {0, 0, 0}, {0, 0, 1});
             // The arc lies in the z = 0 plane of its own; rotated into xz.
             const int rot = matrix(b, {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0});
             const int gen =
                 b->add(100, {"0.", "0.", "0.", "0.", "-4.", "0.", "4."}, 0, rot, "00010500");
             b->add(120, {i(axis), i(gen), "0.", n(2 * kPi)});
         },
         [](const Vec3& p, double, double) {
             return std::fabs(std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z) - 4);
         }},
        {"122 tabulated arc",
         [](IgesBuilder* b) {
             const int d =
                 b->add(100, {"0.", "0.", "0.", "2.", "0.", "0.", "2."}, 0, 0, "00010500");
             b->add(122, {i(d), "2.", "0.", "7."});
         },
         [](const Vec3& p, double, double v) {
             return std::fabs(radius(p) - 2) + std::fabs(p.z - 7 * v) + (p.x < -1e-9) +
                    (p.y < -1e-9);
         }},
    };
    for (const Case& c : cases) {
        IgesBuilder b;
        c.add(&b);
        const Model m = read(b);
        ASSERT_EQ(m.faces.size(), 1u) << c.name << (m.skipped.empty() ? "" : m.skipped[0].reason);
        const HSurface& s = m.faces[0].surface;
        const double u0 = s.uk[s.du], u1 = s.uk[s.nu], v0 = s.vk[s.dv], v1 = s.vk[s.nv];
        for (int a = 0; a <= 10; ++a)
            for (int d = 0; d <= 10; ++d) {
                const Vec3 p = surface_point(s, u0 + (u1 - u0) * a / 10, v0 + (v1 - v0) * d / 10);
                EXPECT_LT(c.off(p, a / 10.0, d / 10.0), 1e-9) << c.name << " " << a << "," << d;
            }
        EXPECT_EQ(m.faces[0].loops.size(), 1u);
    }
}

// Parameter-space trims of surfaces whose IGES parameter is an angle land
// at that angle on the NURBS surface.
TEST(IgesSurfaces, AngleParametersOfRevolvedAndTabulatedSurfaces) {
    struct Case {
        const char* name;
        bool revolved;
        double at;          // the trim line's fixed parameter
        double want_angle;  // angle of the points on the surface
    };
    const Case cases[] = {{"120 at 0.5 rad", true, 0.5, 0.5},
                          {"120 at 2.5 rad", true, 2.5, 2.5},
                          {"122 at u 0.3", false, 0.3, 0.3 * kPi / 2}};
    for (const Case& c : cases) {
        IgesBuilder b;
        int s = 0, trim = 0;
        if (c.revolved) {
            const int axis = line(&b, {0, 0, 0}, {0, 0, 1});
            const int gen = line(&b, {2, 0, 0}, {2, 0, 5});
            s = b.add(120, {i(axis), i(gen), "0.", n(3)}, 0, 0, "00010000");
            trim = line(&b, {0, c.at, 0}, {1, c.at, 0});  // (t, angle) plane
        } else {
            const int d = b.add(100, {"0.", "0.", "0.", "2.", "0.", "0.", "2."}, 0, 0, "00010500");
            s = b.add(122, {i(d), "2.", "0.", "7."}, 0, 0, "00010000");
            trim = line(&b, {c.at, 0, 0}, {c.at, 1, 0});
        }
        trimmed(&b, s, trim);
        const Model m = read(b);
        ASSERT_EQ(m.faces.size(), 1u) << c.name;
        for (const Vec3& q : loop_points(m.faces[0], 0)) {
            const Vec3 p = surface_point(m.faces[0].surface, q.x, q.y);
            EXPECT_NEAR(std::atan2(p.y, p.x), c.want_angle, 1e-9) << c.name;
        }
    }
}

// Analytic surfaces trimmed by model-space curves round a half band on y >= 0
// (the lower parallel a mirrored arc): on the surface, turned outwards, and
// the loop on its half, not wrapped at the seam.
TEST(IgesSurfaces, AnalyticSurfacesTrimmedByModelCurves) {
    struct Case {
        int type;
        double radius, minor, angle;  // the entity's numbers
        double g1, g2;                // the band: heights, or latitudes / tube angles
        const char* ref_y;            // reference direction (1, y, 0): -1 puts the seam in the band
    };
    const Case cases[] = {{192, 3, 0, 0, 1, 4, "-1."},
                          {194, 3, 0, 30, -1, 2, "0."},
                          {196, 4, 0, 0, -0.5, 1.0, "-1."},
                          {198, 6, 2, 0, -2.0, 1.5, "0."}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const double slope = std::tan(c.angle * kPi / 180);
        const bool round = c.type == 196 || c.type == 198;
        const double centre = c.type == 198 ? c.radius : 0,
                     tube = c.type == 198 ? c.minor : c.radius;
        // Profile at angle 0: (distance from the axis, height).
        const auto rho = [&](double g) {
            return round ? centre + tube * std::cos(g) : c.radius + slope * g;
        };
        const auto z = [&](double g) { return round ? tube * std::sin(g) : g; };
        IgesBuilder b;
        const int at = b.add(116, {"0.", "0.", "0."}, 0, 0, "00010400");
        const int up = b.add(123, {"0.", "0.", "1."}, 0, 0, "00010400");
        const int ref = b.add(123, {"1.", c.ref_y, "0."}, 0, 0, "00010400");
        int s = 0;
        if (c.type == 192) s = b.add(192, {i(at), i(up), n(c.radius), i(ref)}, 1);
        if (c.type == 194) s = b.add(194, {i(at), i(up), n(c.radius), n(c.angle), i(ref)}, 1);
        if (c.type == 196) s = b.add(196, {i(at), n(c.radius), i(up), i(ref)}, 1);
        if (c.type == 198) s = b.add(198, {i(at), i(up), n(c.radius), n(c.minor), i(ref)}, 1);
        const int rot = matrix(&b, {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0});  // (x, y) onto (x, z)
        const int mirror = matrix(&b, {1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0});
        const auto side = [&](double sign, double from, double to) {
            if (!round) return line(&b, {sign * rho(from), 0, z(from)}, {sign * rho(to), 0, z(to)});
            // A profile arc in the xz-plane, counter-clockwise there.
            const double a0 = sign > 0 ? from : kPi - from, a1 = sign > 0 ? to : kPi - to;
            const double cx = sign * centre;
            return b.add(100,
                         {"0.", n(cx), "0.", n(cx + tube * std::cos(a0)), n(tube * std::sin(a0)),
                          n(cx + tube * std::cos(a1)), n(tube * std::sin(a1))},
                         0, rot, "00010500");
        };
        const int right = side(1, c.g1, c.g2);
        const int top =
            b.add(100, {n(z(c.g2)), "0.", "0.", n(rho(c.g2)), "0.", n(-rho(c.g2)), "0."}, 0, 0,
                  "00010500");
        const int left = side(-1, c.g2, c.g1);
        const int bottom =
            b.add(100, {n(-z(c.g1)), "0.", "0.", n(-rho(c.g1)), "0.", n(rho(c.g1)), "0."}, 0,
                  mirror, "00010500");
        const int loop = b.add(102, {"4", i(right), i(top), i(left), i(bottom)}, 0, 0, "00010500");
        const int on = b.add(142, {"0", i(s), "0", i(loop), "2"}, 0, 0, "00010500");
        b.add(144, {i(s), "1", "0", i(on)});
        const Model m = read(b);
        ASSERT_EQ(m.faces.size(), 1u) << (m.skipped.empty() ? "" : m.skipped[0].reason);
        const Face& f = m.faces[0];
        const auto off = [&](const Vec3& p) {
            const double r = std::hypot(p.x, p.y);
            if (round) return std::fabs(std::hypot(r - centre, p.z) - tube);
            return std::fabs(r - (c.radius + slope * p.z)) / std::sqrt(1 + slope * slope);
        };
        const HSurface& sf = f.surface;
        const double u0 = sf.uk[sf.du], u1 = sf.uk[sf.nu], v0 = sf.vk[sf.dv], v1 = sf.vk[sf.nv];
        const auto sub = [](const Vec3& a, const Vec3& b) {
            return Vec3{a.x - b.x, a.y - b.y, a.z - b.z};
        };
        for (int a = 0; a <= 8; ++a)
            for (int d = 0; d <= 8; ++d) {
                const double u = u0 + (u1 - u0) * a / 8, v = v0 + (v1 - v0) * d / 8;
                const Vec3 p = surface_point(sf, u, v);
                EXPECT_LT(off(p), 1e-9);
                const double r = std::hypot(p.x, p.y);
                if (a == 8 || d == 8 || r < 1e-6) continue;
                // (Su x Sv) . (away from the axis, or from the tube's centre circle) > 0
                const Vec3 su = sub(surface_point(sf, u + 1e-6, v), p),
                           sv = sub(surface_point(sf, u, v + 1e-6), p);
                const Vec3 out = round ? Vec3{p.x - centre * p.x / r, p.y - centre * p.y / r, p.z}
                                       : Vec3{p.x, p.y, 0};
                EXPECT_GT(out.x * (su.y * sv.z - su.z * sv.y) +
                              out.y * (su.z * sv.x - su.x * sv.z) +
                              out.z * (su.x * sv.y - su.y * sv.x),
                          0);
            }
        for (const Vec3& q : loop_points(f, 0)) {
            const Vec3 p = surface_point(sf, q.x, q.y);
            EXPECT_GT(p.y, -1e-9);
            const double g = round ? std::atan2(p.z, std::hypot(p.x, p.y) - centre) : p.z;
            EXPECT_GT(g, c.g1 - 1e-9);
            EXPECT_LT(g, c.g2 + 1e-9);
        }
    }
}

// Transformations: a surface's own (itself transformed) and its face's,
// applied in order, and the units on top.
TEST(IgesPlacement, TransformationsComposeAndUnitsScale) {
    struct Case {
        const char* name;
        int units;
        bool own, nested, face;
        Vec3 corner;  // where the patch's corner (1, 1, 0) lands
    };
    // own: translate by (1, 2, 3); nested: then rotate a quarter turn about
    // z; face: then translate by (0, 0, 10).
    const Case cases[] = {
        {"none", 2, false, false, false, {1, 1, 0}},
        {"own", 2, true, false, false, {2, 3, 3}},
        {"own, nested", 2, true, true, false, {-3, 2, 3}},
        {"own, nested, face", 2, true, true, true, {-3, 2, 13}},
        {"inches", 1, true, false, false, {2 * 25.4, 3 * 25.4, 3 * 25.4}},
    };
    for (const Case& c : cases) {
        IgesBuilder::Options o;
        o.units_flag = c.units;
        IgesBuilder b(o);
        int rot = 0, own = 0, up = 0;
        if (c.nested) rot = matrix(&b, {0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0});
        if (c.own) own = matrix(&b, {1, 0, 0, 1, 0, 1, 0, 2, 0, 0, 1, 3}, rot);
        if (c.face) up = matrix(&b, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 10});
        const int s = plane(&b, 1, 5, 0, own);
        // The outer loop given in both spaces: the model-space one must land
        // on the placed surface as well.
        const int pc = b.add(106, {"1", "4", "0.", "2.", "2.", "4.", "2.", "4.", "4.", "2.", "2."},
                             11, 0, "00010500");
        const int mc = b.add(106, {"1", "4", "0.", "2.", "2.", "4.", "2.", "4.", "4.", "2.", "2."},
                             11, own, "00010500");
        const int on = b.add(142, {"0", i(s), i(pc), i(mc), "1"}, 0, 0, "00010500");
        b.add(144, {i(s), "1", "0", i(on)}, 0, up);
        const Model m = read(b);
        ASSERT_EQ(m.faces.size(), 1u) << c.name;
        const Vec3 p = surface_point(m.faces[0].surface, 1, 1);
        EXPECT_NEAR(p.x, c.corner.x, 1e-9) << c.name;
        EXPECT_NEAR(p.y, c.corner.y, 1e-9) << c.name;
        EXPECT_NEAR(p.z, c.corner.z, 1e-9) << c.name;
        // The parameter-space loop is not scaled or moved.
        EXPECT_NEAR(loop_points(m.faces[0], 0)[0].x, 2, 1e-12) << c.name;
    }
}

// A model-space trim without a parameter-space curve is mapped onto the
// surface: exactly on planes, by projection elsewhere.
TEST(IgesPlacement, ModelSpaceTrimsLandOnTheSurface) {
    IgesBuilder b;
    const int axis = line(&b, {0, 0, 0}, {0, 0, 1});
    const int gen = line(&b, {3, 0, 0}, {3, 0, 6});
    const int cyl = b.add(120, {i(axis), i(gen), "0.", n(2 * kPi)}, 0, 0, "00010000");
    // A circle at height 2 and one at 5 on the cylinder, as model curves.
    const int lift = matrix(&b, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 2});
    const int circle = b.add(100, {"0.", "0.", "0.", "3.", "0.", "3.", "0."}, 0, lift, "00010500");
    const int on = b.add(142, {"0", i(cyl), "0", i(circle), "2"}, 0, 0, "00010500");
    b.add(144, {i(cyl), "1", "0", i(on)});
    const int flat = plane(&b, 0, 10, 1);
    const int ring = b.add(100, {"1.", "5.", "5.", "7.", "5.", "7.", "5."}, 0, 0, "00010500");
    const int on2 = b.add(142, {"0", i(flat), "0", i(ring), "2"}, 0, 0, "00010500");
    b.add(144, {i(flat), "1", "0", i(on2)});
    const Model m = read(b);
    ASSERT_EQ(m.faces.size(), 2u);
    for (const Face& f : m.faces) {
        const bool exact = f.surface.du == 1 && f.surface.dv == 1;
        EXPECT_EQ(f.loops[0][0].approximated, !exact);
        for (const Vec3& q : loop_points(f, 0, 64)) {
            const Vec3 p = surface_point(f.surface, q.x, q.y);
            if (exact)
                EXPECT_NEAR(std::hypot(p.x - 5, p.y - 5), 2, 1e-9);
            else
                EXPECT_NEAR(p.z, 2, 1e-6);
        }
    }
}

// Status flags: blanked faces are left out, subordinate surfaces are not
// faces of their own, and a surface a face trims never appears twice.
TEST(IgesStatus, BlankedAndSubordinateEntities) {
    struct Case {
        const char* face_status;
        const char* surface_status;
        size_t faces;
        int blanked;
    };
    const Case cases[] = {
        {"00000000", "00010000", 1, 0},  // the usual
        {"00000000", "00000000", 1, 0},  // surface flagged independent by mistake
        {"01000000", "00010000", 0, 1},  // blanked face: nothing, surface not meshed alone
        {"00010000", "00010000", 0, 0},  // face itself subordinate (of something we skip)
        {"00020000", "00010000", 1, 0},  // logically dependent faces are still geometry
    };
    for (const Case& c : cases) {
        IgesBuilder b;
        const int s = plane(&b, 0, 1, 0, 0, c.surface_status);
        const int l = line(&b, {0, 0, 0}, {1, 1, 0});
        trimmed(&b, s, l, 0, 0, c.face_status);
        const Model m = read(b);
        EXPECT_EQ(m.faces.size(), c.faces) << c.face_status << " " << c.surface_status;
        EXPECT_EQ(m.blanked, c.blanked) << c.face_status;
    }
    IgesBuilder b;
    plane(&b, 0, 1, 0, 0, "00000000");  // a loose surface is a face of its own
    plane(&b, 0, 1, 0, 0, "01000000");
    const Model m = read(b);
    EXPECT_EQ(m.faces.size(), 1u);
    EXPECT_EQ(m.blanked, 1);
}

// A face on an analytic surface about the z-axis (the numbers after its
// point and axis given), bounded by the circle of radius 2 at z = 0.
int analytic_face(IgesBuilder* b, int type, const std::vector<std::string>& numbers,
                  int transform = 0) {
    const int at = b->add(116, {"0.", "0.", "0."}, 0, 0, "00010400");
    const int up = b->add(123, {"0.", "0.", "1."}, 0, 0, "00010400");
    std::vector<std::string> p = {i(at), i(up)};
    p.insert(p.end(), numbers.begin(), numbers.end());
    const int s = b->add(type, p, 0, 0, "00010000");
    const int circle = b->add(100, {"0.", "0.", "0.", "2.", "0.", "2.", "0."}, 0, 0, "00010500");
    const int on = b->add(142, {"0", i(s), "0", i(circle), "2"}, 0, 0, "00010500");
    return b->add(144, {i(s), "1", "0", i(on)}, 0, transform);
}

// A broken or unknown entity is skipped and named; the good face beside it
// is still delivered.
TEST(IgesBroken, SkippedCountedNamedNeverFatal) {
    struct Case {
        const char* name;
        std::function<int(IgesBuilder*)> add;  // returns the entity that must be named
        const char* reason;
    };
    const Case cases[] = {
        {"unknown type",
         [](IgesBuilder* b) {
             return b->add(999, {"1.", "2."});
         },
         "unsupported entity type 999"},
        {"weight zero",
         [](IgesBuilder* b) {
             const int s = plane(b, 0, 1);
             const int c = b->add(126, {"1",  "1",  "0",  "0",  "1",  "0",  "0.", "0.", "1.", "1.",
                                        "0.", "1.", "0.", "0.", "0.", "1.", "1.", "0.", "0.", "1."},
                                  0, 0, "00010500");
             return trimmed(b, s, c);
         },
         "weight"},
        {"decreasing knots",
         [](IgesBuilder* b) {
             const int s = plane(b, 0, 1);
             const int c = b->add(126, {"1",  "1",  "0",  "0",  "1",  "0",  "0.", "1.", "0.", "1.",
                                        "1.", "1.", "0.", "0.", "0.", "1.", "1.", "0.", "0.", "1."},
                                  0, 0, "00010500");
             return trimmed(b, s, c);
         },
         "knots"},
        {"pointer to nothing", [](IgesBuilder* b) { return trimmed(b, plane(b, 0, 1), 9999); },
         "pointer 9999"},
        {"composite holding itself",
         [](IgesBuilder* b) {
             const int s = plane(b, 0, 1);
             const int self = b->next();
             b->add(102, {"1", i(self)}, 0, 0, "00010500");
             return trimmed(b, s, self);
         },
         "nested too deep"},
        {"transformation cycle",
         [](IgesBuilder* b) {
             const int t = b->next();  // a transformation transformed by itself
             matrix(b, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}, t);
             const int s = plane(b, 0, 1, 0, t);
             return trimmed(b, s, line(b, {0, 0, 0}, {1, 1, 0}));
         },
         "nested too deep"},
        {"surface degree 40",
         [](IgesBuilder* b) {
             return b->add(128, {"40", "1", "40", "1", "0", "0", "0", "0", "0"});
         },
         "degrees"},
        // 65536 x 65536 points: 2^32, which wraps to 0 in 32-bit arithmetic.
        {"surface net of 2^32 points",
         [](IgesBuilder* b) {
             return b->add(128, {"65535", "65535", "1", "1", "0", "0", "0", "0", "0"});
         },
         "too large"},
        {"short parameter record",
         [](IgesBuilder* b) {
             return b->add(128, {"1", "1", "1", "1", "0", "0", "1", "0", "0", "0.", "0."});
         },
         "too few parameters"},
        {"huge point count",
         [](IgesBuilder* b) {
             const int s = plane(b, 0, 1);
             const int c =
                 b->add(126, {"500000000", "3", "0", "0", "1", "0", "0."}, 0, 0, "00010500");
             return trimmed(b, s, c);
         },
         "B-spline curve"},
        {"surface of revolution about a circle",
         [](IgesBuilder* b) {
             const int c =
                 b->add(100, {"0.", "0.", "0.", "1.", "0.", "1.", "0."}, 0, 0, "00010500");
             const int g = line(b, {2, 0, 0}, {2, 0, 1});
             return b->add(120, {i(c), i(g), "0.", "1."});
         },
         "axis"},
        {"cone of semi-angle 90 degrees",
         [](IgesBuilder* b) {
             return analytic_face(b, 194, {"2.", "90."});
         },
         "semi-angle"},
        {"torus tube wider than its ring",
         [](IgesBuilder* b) {
             return analytic_face(b, 198, {"2.", "3."});
         },
         "torus radii"},
        {"cylinder flattened by its face's transformation",
         [](IgesBuilder* b) {
             const int flat = matrix(b, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
             return analytic_face(b, 192, {"2."}, flat);
         },
         "flattened"},
    };
    for (const Case& c : cases) {
        IgesBuilder b;
        const int good_surface = plane(&b, 0, 2);
        trimmed(&b, good_surface, line(&b, {0, 0, 0}, {2, 2, 0}));
        const int bad = c.add(&b);
        const Model m = read(b);
        EXPECT_EQ(m.faces.size(), 1u) << c.name;
        ASSERT_EQ(m.skipped.size(), 1u) << c.name;
        EXPECT_EQ(m.skipped[0].entity, bad) << c.name;
        EXPECT_NE(m.skipped[0].reason.find(c.reason), std::string::npos)
            << c.name << ": " << m.skipped[0].reason;
    }
}

// A closed box as a B-rep solid (186, 514, 510, 508, 504, 502): every face
// read, every edge shared by exactly two faces in opposite directions, and
// each trim curve lying on its model edge.
TEST(IgesBrep, BoxEdgesAreSharedOppositely) {
    IgesBuilder b;
    const testing::BoxShape box{{10, 6, 4}};
    std::vector<std::pair<int, int>> edges;
    const int edge_list = testing::box_brep(&b, box.size, &edges);
    ASSERT_EQ(edges.size(), 12u);
    const Model m = read(b);
    EXPECT_TRUE(m.skipped.empty()) << m.skipped[0].reason;
    ASSERT_EQ(m.faces.size(), 6u);
    EXPECT_EQ(m.solids, 1);
    EXPECT_EQ(m.shells, 1);
    std::map<int, std::vector<bool>> uses;
    for (const Face& f : m.faces) {
        EXPECT_FALSE(f.reversed);
        ASSERT_EQ(f.loops.size(), 1u);
        for (const TrimCurve& t : f.loops[0]) {
            EXPECT_EQ(t.edge_list, edge_list);
            uses[t.edge_index].push_back(t.edge_reversed);
            EXPECT_FALSE(t.approximated);
            const auto [a, c] = edges.at(static_cast<size_t>(t.edge_index - 1));
            for (const bool end : {false, true}) {
                const Vec3 uv = point3(t.curve, end ? t.curve.last() : t.curve.first());
                const Vec3 p = surface_point(f.surface, uv.x, uv.y);
                const testing::Point want = box.corner(end != t.edge_reversed ? c : a);
                EXPECT_NEAR(p.x, want[0], 1e-9);
                EXPECT_NEAR(p.y, want[1], 1e-9);
                EXPECT_NEAR(p.z, want[2], 1e-9);
            }
        }
    }
    ASSERT_EQ(uses.size(), 12u);
    for (const auto& [index, dirs] : uses) {
        ASSERT_EQ(dirs.size(), 2u) << index;
        EXPECT_NE(dirs[0], dirs[1]) << index;
    }
    EXPECT_EQ(m.edges.size(), 12u);
}

// A whole sphere in one face whose loop runs down the seam, through the south
// pole (a vertex, not an edge), up the seam and through the north pole: the
// loop takes the whole turn at the poles.
TEST(IgesBrep, SphereLoopThroughItsPoles) {
    IgesBuilder b;
    const double r = 5;
    const int centre = b.add(116, {"0.", "0.", "0."}, 0, 0, "00010400");
    const int up = b.add(123, {"0.", "0.", "1."}, 0, 0, "00010400");
    const int ref = b.add(123, {"1.", "0.", "0."}, 0, 0, "00010400");
    const int sphere = b.add(196, {i(centre), n(r), i(up), i(ref)}, 1, 0, "00010000");
    const int rot = matrix(&b, {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0});
    // The seam: the meridian at angle 0 from the south pole to the north.
    const int seam = b.add(100, {"0.", "0.", "0.", "0.", n(-r), "0.", n(r)}, 0, rot, "00010500");
    const int poles = b.add(502, {"2", "0.", "0.", n(r), "0.", "0.", n(-r)}, 1, 0, "00010000");
    const int edges = b.add(504, {"1", i(seam), i(poles), "2", i(poles), "1"}, 1, 0, "00010000");
    const int loop =
        b.add(508, {"4", "1",      i(poles), "1", "1", "0", "0",      i(edges), "1", "0", "0",
                    "1", i(poles), "2",      "1", "0", "0", i(edges), "1",      "1", "0"},
              1, 0, "00010000");
    const int face = b.add(510, {i(sphere), "1", "1", i(loop)}, 1, 0, "00010000");
    const int shell = b.add(514, {"1", i(face), "1"}, 1, 0, "00010000");
    b.add(186, {i(shell), "1", "0"});
    const Model m = read(b);
    ASSERT_EQ(m.faces.size(), 1u) << (m.skipped.empty() ? "" : m.skipped[0].reason);
    const Face& f = m.faces[0];
    const HSurface& s = f.surface;
    const double u0 = s.uk[s.du], u1 = s.uk[s.nu];
    double lo = u1, hi = u0;
    for (const Vec3& q : loop_points(f, 0)) lo = std::min(lo, q.x), hi = std::max(hi, q.x);
    EXPECT_NEAR(lo, u0, 1e-9);
    EXPECT_NEAR(hi, u1, 1e-9);
    // The surface goes once round: both ends on the seam, the middle opposite.
    const double v = (s.vk[s.dv] + s.vk[s.nv]) / 2;
    for (const double t : {0.0, 0.5, 1.0})
        EXPECT_NEAR(surface_point(s, u0 + (u1 - u0) * t, v).x, t == 0.5 ? -r : r, 1e-9) << t;
}

// Hostile files: every truncation and random damage of a good file reads
// without a crash or a hang; a long chain of composites stops at the depth
// limit.
TEST(IgesHostile, DamagedFilesAndDeepNesting) {
    IgesBuilder b;
    const int s = plane(&b, -10, 10);
    trimmed(&b, s, b.add(100, {"0.", "5.", "5.", "8.", "5.", "5.", "8."}, 0, 0, "00010500"));
    const std::string good = b.str();
    std::mt19937 rng(7);
    for (size_t cut = 0; cut < good.size(); cut += 13) {
        Model m;
        std::string why;
        read_model(good.data(), cut, Limits{}, &m, &why);
    }
    for (int k = 0; k < 300; ++k) {
        std::string bad = good;
        for (int j = 0; j < 4; ++j) bad[rng() % bad.size()] = "0123456789,;H-.ED \n"[rng() % 19];
        Model m;
        std::string why;
        read_model(bad.data(), bad.size(), Limits{}, &m, &why);
    }
    IgesBuilder deep;
    const int surface = plane(&deep, 0, 1);
    int prev = line(&deep, {0, 0, 0}, {1, 1, 0});
    for (int k = 0; k < 5000; ++k) prev = deep.add(102, {"1", i(prev)}, 0, 0, "00010500");
    trimmed(&deep, surface, prev);
    const Model m = read(deep);
    EXPECT_TRUE(m.faces.empty());
    ASSERT_EQ(m.skipped.size(), 1u);
    EXPECT_NE(m.skipped[0].reason.find("nested too deep"), std::string::npos);
}

}  // namespace
}  // namespace ruvane::iges
