#include "iges/model_mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <map>
#include <vector>

#include "iges/testing/models.h"

namespace ruvane::iges {
namespace {

using testing::IgesBuilder;

class ModelMeshTest : public ::testing::Test {
protected:
    void SetUp() override {
        ComponentServices table = {};
        table.table_version = 1;
        table.allocate = [](size_t size) { return std::malloc(size); };
        table.release = [](void* block) { std::free(block); };
        ASSERT_TRUE(component_client_init(&table));
    }
    void TearDown() override { component_client_shutdown(); }
};

Model read(const IgesBuilder& b) {
    const std::string s = b.str();
    Model m;
    std::string why;
    EXPECT_TRUE(read_model(s.data(), s.size(), Limits{}, &m, &why)) << why;
    return m;
}

double volume(const ModelMesh& mesh) {
    double v = 0;
    for (const auto& t : mesh.triangles) {
        const auto& a = mesh.vertices[static_cast<size_t>(t[0])];
        const auto& b = mesh.vertices[static_cast<size_t>(t[1])];
        const auto& c = mesh.vertices[static_cast<size_t>(t[2])];
        v += (a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
              a[2] * (b[0] * c[1] - b[1] * c[0])) /
             6;
    }
    return v;
}

// Closed solids give closed meshes: every edge used by exactly two
// triangles in opposite directions, the enclosed volume that of the solid
// (outward orientation), every vertex within D of the true surface.
TEST_F(ModelMeshTest, ClosedSolidsGiveWatertightMeshes) {
    struct Case {
        const char* name;
        std::function<void(IgesBuilder*)> make;
        size_t faces;
        double volume;
        double skin;  // bound of the solid's surface area
        std::function<double(const std::array<double, 3>&)> off;  // distance to the solid's skin
    };
    const double pi = 3.14159265358979323846;
    auto box_off = [](const std::array<double, 3>& p) {
        const double size[3] = {10, 6, 4};
        double best = 1e9;
        for (int k = 0; k < 3; ++k)
            best = std::min({best, std::fabs(p[static_cast<size_t>(k)]),
                             std::fabs(p[static_cast<size_t>(k)] - size[k])});
        return best;
    };
    auto sewn = [](unsigned turned) {
        return [turned](IgesBuilder* b) { testing::box_sewn(b, {10, 6, 4}, turned); };
    };
    const Case cases[] = {
        {"box, B-rep",
         [](IgesBuilder* b) {
             testing::box_brep(b, {10, 6, 4});
         },
         6, 240, 200, box_off},
        {"box, sewn", sewn(0), 6, 240, 200, box_off},
        {"box, sewn, three faces turned in", sewn(0x25), 6, 240, 200, box_off},
        {"box, sewn, every face turned in", sewn(0x3f), 6, 240, 200, box_off},
        {"plate with 3 x 2 holes, sewn",
         [](IgesBuilder* b) { testing::plate_sewn(b, 12, 8, 2, 3, 2, 1); }, 12,
         12 * 8 * 2 - 6 * pi * 2, 200,
         [](const std::array<double, 3>& p) {
             double best = std::min({std::fabs(p[0]), std::fabs(p[0] - 12), std::fabs(p[1]),
                                     std::fabs(p[1] - 8), std::fabs(p[2]), std::fabs(p[2] - 2)});
             for (int i = 0; i < 3; ++i)
                 for (int j = 0; j < 2; ++j)
                     best = std::min(best, std::fabs(std::hypot(p[0] - 12 * (i + 0.5) / 3,
                                                                p[1] - 8 * (j + 0.5) / 2) -
                                                     1));
             return best;
         }},
        {"plate with 10 x 6 holes, sewn",
         [](IgesBuilder* b) { testing::plate_sewn(b, 120, 80, 10, 10, 6, 3); }, 66,
         120 * 80 * 10 - 60 * pi * 9 * 10, 2 * 120 * 80 + 2 * 200 * 10 + 60 * 2 * pi * 3 * 10,
         [](const std::array<double, 3>& p) {
             double best = std::min({std::fabs(p[0]), std::fabs(p[0] - 120), std::fabs(p[1]),
                                     std::fabs(p[1] - 80), std::fabs(p[2]), std::fabs(p[2] - 10)});
             for (int i = 0; i < 10; ++i)
                 for (int j = 0; j < 6; ++j)
                     best = std::min(best, std::fabs(std::hypot(p[0] - 12 * (i + 0.5),
                                                                p[1] - 80 * (j + 0.5) / 6) -
                                                     3));
             return best;
         }},
        {"cylinder, B-rep", [](IgesBuilder* b) { testing::cylinder_brep(b, 3, 5); }, 3, pi * 9 * 5,
         200,
         [](const std::array<double, 3>& p) {
             const double r = std::hypot(p[0], p[1]);
             if (std::fabs(p[2]) < 1e-9 || std::fabs(p[2] - 5) < 1e-9)
                 return r <= 3 + 1e-9 ? 0.0 : r - 3;
             return std::fabs(r - 3);
         }},
    };
    for (const Case& c : cases) {
        IgesBuilder b;
        c.make(&b);
        const Model model = read(b);
        ASSERT_EQ(model.faces.size(), c.faces) << c.name;
        for (double D : {0.05, 0.005}) {
            MeshOptions o;
            o.deflection = D;
            ModelMesh mesh;
            ASSERT_TRUE(mesh_model(model, o, &mesh)) << c.name;
            for (const FaceOutcome& f : mesh.faces) {
                EXPECT_TRUE(f.failure.empty()) << c.name << ": " << f.failure;
                EXPECT_GT(f.triangles, 0u) << c.name;
            }
            const EdgeCheck e = check_edges(mesh);
            EXPECT_EQ(e.free, 0) << c.name << " at " << D;
            EXPECT_EQ(e.bad, 0) << c.name << " at " << D;
            EXPECT_EQ(mesh.unmatched_edges, 0) << c.name;
            // Every loop takes its shared edge points as a fixed boundary.
            EXPECT_EQ(mesh.curve_loops, 0) << c.name << " at " << D;
            EXPECT_GT(mesh.fixed_loops, 0) << c.name;
            // Vertices left between shared points, for the post-pass: rare.
            EXPECT_LE(mesh.left_vertices * 20, mesh.fixed_points) << c.name << " at " << D;
            std::printf("[ %s at %g: %zu triangles, %d loops fixed, %d of %d points left ]\n",
                        c.name, D, mesh.triangles.size(), mesh.fixed_loops, mesh.left_vertices,
                        mesh.fixed_points);
            // A polyhedron inscribed within D: its volume within the skin's
            // area times D of the solid's.
            EXPECT_NEAR(volume(mesh), c.volume, c.skin * D) << c.name << " at " << D;
            for (const auto& p : mesh.vertices) EXPECT_LE(c.off(p), D) << c.name;
        }
    }
}

// An edge gets as few chords as its sagitta allows: an arc of angle a and
// radius r needs n chords with r (1 - cos(a / 2n)) <= D, and at least
// a / 60 degrees of them (a coarse circle keeps six), a line one. The
// chords keep a margin of 3 % below D: no more chords than 0.97 D allows.
// Every chord's middle stays within 0.98 D of the curve and the ends are
// the curve's own.
TEST(EdgePolyline, ChordsFollowTheSagitta) {
    const double pi = 3.14159265358979323846;
    struct Case {
        const char* name;
        double radius, angle;  // angle 0: a straight line of length `radius`
        double D;
        int least_chords;
    };
    const Case cases[] = {
        {"quarter arc, coarse", 2, pi / 2, 0.5, 1},
        {"quarter arc kept at eight", 2, pi / 2, 0.5, 8},
        {"quarter arc, fine", 2, pi / 2, 1e-4, 1},
        {"half arc", 10, pi, 0.01, 1},
        {"circle, coarse", 1, 2 * pi, 0.9, 1},
        {"circle, fine", 5, 2 * pi, 1e-3, 1},
        {"arc of a small radius", 0.05, 1.2 * pi, 0.01, 1},
        {"circle kept at eight", 1, 2 * pi, 0.9, 8},
        {"line", 7, 0, 1e-6, 1},
        {"line asked for eight", 7, 0, 1e-6, 8},
    };
    for (const Case& c : cases) {
        auto at = [&c](double t) -> std::array<double, 3> {
            if (c.angle == 0) return {c.radius * t, 0.5 * c.radius * t, 1};
            return {c.radius * std::cos(c.angle * t), c.radius * std::sin(c.angle * t), 1};
        };
        const auto q = edge_polyline(at, c.D, c.least_chords);
        ASSERT_GE(q.size(), 2u) << c.name;
        EXPECT_EQ(q.front(), at(0)) << c.name;
        EXPECT_EQ(q.back(), at(1)) << c.name;
        auto fewest = [&](double sag) {
            if (c.angle == 0) return 1;
            const int by_sag =
                static_cast<int>(std::ceil(c.angle / (2 * std::acos(1 - sag / c.radius))));
            const int by_bend = static_cast<int>(std::ceil(c.angle * 3 / pi - 1e-9));
            return std::max({by_sag, by_bend, c.least_chords});
        };
        const int chords = static_cast<int>(q.size()) - 1;
        EXPECT_GE(chords, fewest(c.D)) << c.name;
        EXPECT_LE(chords, fewest(0.97 * c.D)) << c.name;
        if (c.angle == 0) continue;
        // A chord of the circle strays most at its middle.
        for (size_t k = 0; k + 1 < q.size(); ++k) {
            const double mx = (q[k][0] + q[k + 1][0]) / 2, my = (q[k][1] + q[k + 1][1]) / 2;
            EXPECT_LE(c.radius - std::hypot(mx, my), 0.98 * c.D) << c.name << " chord " << k;
        }
    }
}

// Curves whose bend changes along them (a chirp, a hairpin, a spiral, a
// bump, a kink): every chord stays within 0.98 D of the curve between its
// ends, looked at densely, not only at the points the splitting evaluated;
// each chord is measured against the points looked at under it, and one
// found beyond after the spread is halved until it keeps.
TEST(EdgePolyline, ChordsStayNearCurvesOfChangingBend) {
    using P3 = std::array<double, 3>;
    const double pi = 3.14159265358979323846;
    const std::function<P3(double)> curves[] = {
        [](double t) -> P3 { return {4 * t, 0.3 * std::sin(12 * t * t), 0}; },
        [&](double t) -> P3 {
            const double a = pi * t;
            return {std::cos(a) * (1 + 3 * std::fabs(t - 0.5)), 0.4 * std::sin(a), t};
        },
        [&](double t) -> P3 {
            const double a = 6 * pi * t, r = 0.2 + 2 * t;
            return {r * std::cos(a), r * std::sin(a), 0.1 * t};
        },
        // A narrow bump and a kink: the bend sits in a sliver of the
        // parameter that evenly spread points step over.
        [](double t) -> P3 {
            const double x = (t - 0.375) / 0.004;
            return {4 * t, 0.3 * std::exp(-x * x), 0};
        },
        [](double t) -> P3 { return {4 * t, std::fabs(t - 0.61), 0}; },
    };
    for (size_t c = 0; c < std::size(curves); ++c)
        for (double D : {0.05, 2e-3, 1e-4}) {
            // The parameter of each point the polyline can end a chord at.
            std::map<P3, double> where;
            auto at = [&](double t) {
                const P3 p = curves[c](t);
                where.emplace(p, t);
                return p;
            };
            const auto q = edge_polyline(at, D, 1);
            ASSERT_GE(q.size(), 2u);
            for (size_t k = 0; k + 1 < q.size(); ++k) {
                ASSERT_TRUE(where.count(q[k]) && where.count(q[k + 1]));
                const double t0 = where[q[k]], t1 = where[q[k + 1]];
                const P3 &a = q[k], &b = q[k + 1];
                for (int i = 1; i < 64; ++i) {
                    const P3 p = curves[c](t0 + (t1 - t0) * i / 64);
                    double ab2 = 0, f = 0;
                    for (int x = 0; x < 3; ++x) ab2 += (b[x] - a[x]) * (b[x] - a[x]);
                    for (int x = 0; x < 3; ++x) f += (p[x] - a[x]) * (b[x] - a[x]) / ab2;
                    f = std::clamp(f, 0.0, 1.0);
                    double d2 = 0;
                    for (int x = 0; x < 3; ++x) d2 += std::pow(p[x] - a[x] - f * (b[x] - a[x]), 2);
                    EXPECT_LE(std::sqrt(d2), 0.98 * D) << "curve " << c << ", D " << D << ", chord "
                                                       << k << " of " << q.size() - 1;
                }
            }
        }
}

// A curve that evaluates to NaN over a stretch (a zero weight) still ends
// in a few points: a chord that cannot be measured is not cut again and
// again, and the stretches that can be measured keep their bound.
TEST(EdgePolyline, StretchThatCannotBeMeasuredEndsFew) {
    using P3 = std::array<double, 3>;
    auto at = [](double t) -> P3 {
        if (t > 0.3 && t < 0.5) return {NAN, NAN, NAN};
        return {std::cos(3 * t), std::sin(3 * t), 0};
    };
    const double D = 1e-3;
    const auto q = edge_polyline(at, D, 1);
    ASSERT_GE(q.size(), 2u);
    EXPECT_LT(q.size(), 200u);
    EXPECT_EQ(q.front(), at(0));
    EXPECT_EQ(q.back(), at(1));
    for (size_t k = 0; k + 1 < q.size(); ++k) {
        const double mx = (q[k][0] + q[k + 1][0]) / 2, my = (q[k][1] + q[k + 1][1]) / 2;
        if (!std::isfinite(mx) || !std::isfinite(my)) continue;
        EXPECT_LE(1 - std::hypot(mx, my), 0.98 * D) << "chord " << k;
    }
}

// Edge ends paired through the grid land exactly where looking at every
// pair would put them: clusters straddling the grid's cubes, ends just
// inside and just beyond either distance, several equally near partners,
// far and non-finite coordinates.
TEST(PairEnds, MatchesLookingAtEveryPair) {
    using P3 = std::array<double, 3>;
    auto dist = [](const P3& a, const P3& b) {
        const double x = a[0] - b[0], y = a[1] - b[1], z = a[2] - b[2];
        return std::sqrt(x * x + y * y + z * z);
    };
    auto every_pair = [&](std::vector<P3> p, double tight, double tol) {
        const size_t n = p.size();
        std::vector<char> paired(n, 0);
        for (size_t i = 0; i < n; ++i)
            for (size_t j = 0; j < i; ++j)
                if (dist(p[i], p[j]) <= tight) {
                    p[i] = p[j];
                    paired[i] = paired[j] = 1;
                    break;
                }
        for (size_t i = 0; i < n; ++i) {
            if (paired[i]) continue;
            size_t best = i;
            for (size_t j = 0; j < n; ++j)
                if (j != i && dist(p[i], p[j]) <= tol &&
                    (best == i || dist(p[i], p[j]) < dist(p[i], p[best])))
                    best = j;
            if (best == i) continue;
            p[i] = p[best];
            paired[i] = paired[best] = 1;
        }
        return p;
    };
    std::srand(7);
    auto jitter = [](double size) { return size * (std::rand() / (RAND_MAX + 1.0) - 0.5); };
    struct Case {
        const char* name;
        double tight, tol;
        std::vector<P3> points;
    };
    std::vector<Case> cases;
    Case clusters{"clusters across cubes", 1e-5, 0.01, {}};
    for (int c = 0; c < 60; ++c) {
        const P3 centre{0.02 * (c % 7) - 1e-9, 0.02 * (c / 7) + 1e-9, 0.0};  // on cube faces
        for (int k = 0; k < 4; ++k)
            clusters.points.push_back({centre[0] + jitter(c % 3 == 0 ? 1e-5 : 0.03),
                                       centre[1] + jitter(c % 3 == 0 ? 1e-5 : 0.03),
                                       centre[2] + jitter(0.01)});
    }
    cases.push_back(clusters);
    cases.push_back({"at the distances",
                     0.25,
                     1.0,
                     {{0, 0, 0},
                      {0.25, 0, 0},
                      {0.5000001, 0, 0},
                      {1.5, 0, 0},
                      {2.5, 0, 0},
                      {2.5, 1.0, 0},
                      {2.5, -1.0, 0},
                      {4, 0, 0},
                      {5.0000001, 0, 0}}});
    // Pairs across a cube's face from well inside the cube (0.47 and 0.53
    // of the way across, cubes being twice the distance), along each axis,
    // within `tight` (cubes of 0.5) and, apart from everything else, within
    // `tol` only (cubes of 2).
    Case across{"across a face from inside a cube", 0.25, 1.0, {}};
    for (int axis = 0; axis < 3; ++axis) {
        const double base = 10.0 * (axis + 1);
        auto at = [&](double along) {
            P3 p{base, base, base};
            p[static_cast<size_t>(axis)] += along;
            return p;
        };
        across.points.push_back(at(0.235));  // 0.47 of its cube
        across.points.push_back(at(-0.01));  // 0.245 away, the cube below
        across.points.push_back(at(4.265));  // 0.53 of its cube
        across.points.push_back(at(4.51));   // 0.245 away, the cube above
        across.points.push_back(at(6.94));   // 0.47 of a cube of 2
        across.points.push_back(at(5.98));   // 0.96 away, the cube below
        across.points.push_back(at(9.06));   // 0.53 of a cube of 2
        across.points.push_back(at(10.02));  // 0.96 away, the cube above
    }
    cases.push_back(across);
    cases.push_back({"equally near",
                     0.0,
                     1.0,
                     {{0, 0, 0}, {0.5, 0, 0}, {-0.5, 0, 0}, {0, 0.5, 0}, {0, -0.5, 0}}});
    cases.push_back({"far and not finite",
                     1e-3,
                     1e-2,
                     {{1e300, 1e300, 0},
                      {1e300, 1e300, 0},
                      {-1e300, 0, 0},
                      {std::nan(""), 0, 0},
                      {std::nan(""), 0, 0},
                      {INFINITY, 0, 0},
                      {1e17, 0, 0},
                      {1e17 + 16, 0, 0},
                      {0, 0, 0},
                      {0.005, 0, 0}}});
    for (const Case& c : cases) {
        const std::vector<P3> want = every_pair(c.points, c.tight, c.tol);
        std::vector<P3> got = c.points;
        std::vector<P3*> ends;
        for (P3& p : got) ends.push_back(&p);
        pair_ends(ends, c.tight, c.tol);
        for (size_t i = 0; i < got.size(); ++i)
            for (int k = 0; k < 3; ++k) {
                const double w = want[i][static_cast<size_t>(k)];
                const double g = got[i][static_cast<size_t>(k)];
                EXPECT_TRUE(w == g || (std::isnan(w) && std::isnan(g)))
                    << c.name << " end " << i << " axis " << k << ": " << g << " for " << w;
            }
    }
}

// Faces meshed one by one, without the shared edges, leave the cracks the
// shared edges close: the check sees them.
TEST_F(ModelMeshTest, EdgeCheckSeesCracksAndMisorientation) {
    ModelMesh m;
    m.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 1}};
    m.triangles = {{0, 1, 2}, {1, 3, 2}};
    EXPECT_EQ(check_edges(m).free, 4);
    EXPECT_EQ(check_edges(m).bad, 0);
    m.triangles = {{0, 1, 2}, {2, 3, 1}};  // second turned the wrong way
    EXPECT_EQ(check_edges(m).bad, 1);
    m.triangles = {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {0, 3, 2}};  // a closed tetrahedron
    const EdgeCheck closed = check_edges(m);
    EXPECT_EQ(closed.free, 0);
    EXPECT_EQ(closed.bad, 0);
}

// A cone of many triangles round one apex (far more sides at a vertex than
// a face's own mesh has), open, capped, with one triangle turned, and with a
// triangle naming a vertex the mesh does not hold.
TEST_F(ModelMeshTest, EdgeCheckAroundAManySidedVertex) {
    constexpr int kRim = 40;
    ModelMesh m;
    m.vertices.assign(kRim + 1, {0, 0, 0});
    for (int i = 1; i <= kRim; ++i) m.triangles.push_back({0, i, i % kRim + 1});
    EXPECT_EQ(check_edges(m).free, kRim);
    EXPECT_EQ(check_edges(m).bad, 0);
    for (int i = 2; i < kRim; ++i) m.triangles.push_back({1, i + 1, i});  // the cap
    const EdgeCheck closed = check_edges(m);
    EXPECT_EQ(closed.free, 0);
    EXPECT_EQ(closed.bad, 0);
    ModelMesh turned = m;
    std::swap(turned.triangles[7][1], turned.triangles[7][2]);
    const EdgeCheck t = check_edges(turned);
    EXPECT_EQ(t.free, 0);
    EXPECT_EQ(t.bad, 3);  // each of its sides now run twice one way
    // 0 -> 1 twice and back once; 1 -> 99 and 99 -> 0 once each: the same
    // answer whether the mesh holds vertex 99 or not.
    m.triangles.push_back({0, 1, 99});
    for (size_t held : {m.vertices.size(), size_t{100}}) {
        m.vertices.resize(held, {0, 0, 0});
        const EdgeCheck e = check_edges(m);
        EXPECT_EQ(e.free, 2) << held;
        EXPECT_EQ(e.bad, 1) << held;
    }
}

// The mesher keeps its working lists from one face to the next: a solid
// meshed after another comes out to the bit as it does alone, whichever of
// the two goes first (a list not emptied between faces, or a stale entry
// of a larger face before, would show in the later solid's triangles).
TEST_F(ModelMeshTest, SolidMeshesAloneAsAfterAnother) {
    using Build = std::function<void(IgesBuilder*)>;
    const Build plate = [](IgesBuilder* b) { testing::plate_sewn(b, 12, 8, 2, 3, 2, 1); };
    const Build cylinder = [](IgesBuilder* b) { testing::cylinder_brep(b, 0.5, 1); };
    using Corners = std::array<std::array<double, 3>, 3>;
    // The triangles of the faces whose entities are (or are not) in `of`,
    // in order, as corner positions.
    auto triangles = [](const ModelMesh& m, const std::vector<int>& of, bool in) {
        std::vector<Corners> out;
        for (size_t t = 0; t < m.triangles.size(); ++t) {
            const int e = m.faces[static_cast<size_t>(m.triangle_face[t])].entity;
            if ((std::find(of.begin(), of.end(), e) != of.end()) != in) continue;
            Corners c;
            for (size_t k = 0; k < 3; ++k)
                c[k] = m.vertices[static_cast<size_t>(m.triangles[t][k])];
            out.push_back(c);
        }
        return out;
    };
    for (double D : {0.05, 0.01}) {
        MeshOptions o;
        o.deflection = D;
        for (const auto& [first, second] : {std::pair{plate, cylinder}, {cylinder, plate}}) {
            IgesBuilder a, b, both;
            first(&a);
            second(&b);
            first(&both);
            second(&both);
            ModelMesh alone_a, alone_b, after;
            ASSERT_TRUE(mesh_model(read(a), o, &alone_a));
            ASSERT_TRUE(mesh_model(read(b), o, &alone_b));
            ASSERT_TRUE(mesh_model(read(both), o, &after));
            // The first solid's entities are numbered alike in both files.
            std::vector<int> firsts;
            for (const FaceOutcome& f : alone_a.faces) firsts.push_back(f.entity);
            const auto in_a = triangles(alone_a, {}, false);
            const auto in_b = triangles(alone_b, {}, false);
            ASSERT_FALSE(in_a.empty());
            ASSERT_FALSE(in_b.empty());
            EXPECT_TRUE(triangles(after, firsts, true) == in_a) << "first solid at " << D;
            EXPECT_TRUE(triangles(after, firsts, false) == in_b) << "second solid at " << D;
            EXPECT_EQ(check_edges(after).free, 0) << D;
        }
    }
}

// A face the tessellator cannot mesh is reported; the others are delivered.
TEST_F(ModelMeshTest, FailingFaceReportedRestDelivered) {
    IgesBuilder b;
    testing::box_sewn(&b, {10, 6, 4});
    // A face whose outer loop is a single point.
    const int s = testing::patch(&b, {20, 0, 0}, {21, 0, 0}, {20, 1, 0}, {21, 1, 0});
    const int dot = b.add(110, {"0.5", "0.5", "0.", "0.5", "0.5", "0."}, 0, 0, "00010500");
    const int on =
        b.add(142, {"0", testing::fmt_int(s), testing::fmt_int(dot), "0", "1"}, 0, 0, "00010500");
    b.add(144, {testing::fmt_int(s), "1", "0", testing::fmt_int(on)});
    const Model model = read(b);
    ASSERT_EQ(model.faces.size(), 7u);
    MeshOptions o;
    o.deflection = 0.01;
    size_t calls = 0;
    o.progress = [&](size_t done, size_t total) {
        EXPECT_EQ(done, ++calls);
        EXPECT_EQ(total, 7u);
    };
    ModelMesh mesh;
    ASSERT_TRUE(mesh_model(model, o, &mesh));
    EXPECT_EQ(calls, 7u);
    int failed = 0;
    for (const FaceOutcome& f : mesh.faces) failed += !f.failure.empty();
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(mesh.faces.back().failure.empty());
    EXPECT_EQ(check_edges(mesh).free, 0);
}

}  // namespace
}  // namespace ruvane::iges
