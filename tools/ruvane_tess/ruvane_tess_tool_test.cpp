// The tool's reader and writers, and the shipped samples tessellated through
// the C interface with independent checks of the meshes they give.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "nurbs/ruvane_test_host.h"
#include "tools/ruvane_tess/loop_check.h"
#include "tools/ruvane_tess/mesh_writer.h"
#include "tools/ruvane_tess/surface_json.h"

namespace {

using ruvane_tess::Mesh;
using ruvane_tess::SurfaceData;

const char* kPlane = R"({
  "u_order": 2, "v_order": 2, "u_knots": [0, 0, 1, 1], "v_knots": [0, 0, 2, 2],
  "points": [[0, 0, 0], [4, 0, 0], [0, 2, 0], [4, 2, 0]],
  "outer_curves": [{"order": 2, "points": [[0.1, 0.1], [0.9, 0.1], [0.9, 1.9], [0.1, 1.9], [0.1, 0.1]],
                    "knots": [0, 0, 0.25, 0.5, 0.75, 1, 1]}],
  "inner_loops": [[{"order": 2, "points": [[0.4, 0.8, 0], [0.4, 1.2, 0], [0.6, 1.2, 0], [0.4, 0.8, 0]],
                    "weights": [1, 1, 1, 1], "knots": [0, 0, 0.3, 0.6, 1, 1]}]],
  "surface_tolerance": 0.01, "param_tolerance": 1e-5
})";

TEST(RuvaneTessReader, ReadsTheFieldsAndFillsDefaults) {
    SurfaceData s;
    std::string error;
    ASSERT_TRUE(ruvane_tess::read_surface_description(kPlane, s, error)) << error;
    EXPECT_EQ(s.u_order, 2);
    EXPECT_EQ(s.v_knots.size(), 4u);
    EXPECT_EQ(s.points.size(), 12u);
    EXPECT_EQ(s.weights, std::vector<double>(4, 1.0));
    ASSERT_EQ(s.outer.size(), 1u);
    EXPECT_EQ(s.outer[0].points.size(), 15u);  // [u, v] gets z = 0
    EXPECT_EQ(s.outer[0].points[2], 0.0);
    ASSERT_EQ(s.holes.size(), 1u);
    EXPECT_EQ(s.tolerances.surface, 0.01);
    EXPECT_EQ(s.tolerances.param, 1e-5);
    // Not given: a thousandth of the net's diagonal.
    EXPECT_NEAR(s.tolerances.trim, 1e-3 * std::sqrt(20.0), 1e-15);
    const ruvane_tess::SurfaceRecords r(s);
    EXPECT_EQ(r.get()->u_knot_count, 4);
    EXPECT_EQ(r.get()->outer_count, 1);
    EXPECT_EQ(r.get()->outer_curves[0].count, 5);
    EXPECT_EQ(r.get()->inner_count, 1);
    EXPECT_EQ(r.get()->inner_loops[0].count, 1);
}

TEST(RuvaneTessReader, RefusesInconsistentFiles) {
    struct Case {
        const char* from;
        const char* to;
        const char* reason;
    } cases[] = {
        {"\"u_order\": 2,", "", "missing \"u_order\""},
        {"\"u_order\": 2", "\"u_order\": 2.5", "u_order must be an integer"},
        {"\"u_order\": 2", "\"u_order\": 0", "between 1 and 64"},
        {"[4, 2, 0]]", "[4, 2, 0], [5, 5, 5]]", "points must hold"},
        {"[4, 2, 0]]", "[4, 2]]", "entries must be [x, y, z]"},
        {"\"u_knots\": [0, 0, 1, 1]", "\"u_knots\": [0, 0]", "u_knots needs more entries"},
        {"[0, 0, 0.25, 0.5, 0.75, 1, 1]", "[0, 0, 0.25, 0.5, 1, 1]",
         "as many knots as control points plus order"},
        {"\"weights\": [1, 1, 1, 1]", "\"weights\": [1, 1, 1]", "one weight per control point"},
        {"\"weights\": [1, 1, 1, 1]", "\"weights\": [1, 1, \"x\", 1]", "must be a number"},
        {"\"inner_loops\": [[", "\"inner_loops\": [7, [", "must be an array of curves"},
        {"\"outer_curves\": [{\"order\": 2,", "\"outer_curves\": [{", "lacks \"order\""},
        {"\"surface_tolerance\": 0.01", "\"surface_tolerance\": \"fine\"",
         "surface_tolerance must be a number"},
        {"{", "[", "not valid JSON"},
    };
    for (const Case& c : cases) {
        std::string text = kPlane;
        const size_t at = text.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.from;
        text.replace(at, std::strlen(c.from), c.to);
        SurfaceData s;
        std::string error;
        EXPECT_FALSE(ruvane_tess::read_surface_description(text, s, error)) << c.to;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    SurfaceData s;
    std::string error;
    EXPECT_FALSE(ruvane_tess::read_surface_description("[1, 2]", s, error));
    EXPECT_FALSE(ruvane_tess::read_surface_description("", s, error));
}

TessVertex vertex(double u, double v, double x, double y, double nz) {
    TessVertex t{};
    t.position[0] = x;
    t.position[1] = y;
    t.u = u;
    t.v = v;
    t.normal[2] = nz;
    return t;
}

TEST(RuvaneTessWriter, SharesVerticesAndTurnsNegatedFaces) {
    Mesh m;
    TessTriangle a{{vertex(0, 0, 0, 0, 1), vertex(1, 0, 1, 0, 1), vertex(0, 1, 0, 1, 1)},
                   {0, 0, 1}};
    TessTriangle b{{vertex(1, 0, 1, 0, 1), vertex(1, 1, 1, 1, 1), vertex(0, 1, 0, 1, 1)},
                   {0, 0, 1}};
    m.add(a);
    m.add(b);
    EXPECT_EQ(m.positions.size(), 4u);
    EXPECT_EQ(m.faces[1], (std::array<int, 3>{1, 3, 2}));
    Mesh flipped;
    a.face_normal[2] = -1;
    flipped.add(a);
    EXPECT_EQ(flipped.faces[0], (std::array<int, 3>{0, 2, 1}));
    EXPECT_EQ(flipped.normals[0][2], -1.0);

    std::ostringstream obj, ply;
    ruvane_tess::write_obj(m, obj);
    ruvane_tess::write_ply(m, ply);
    int v = 0, vn = 0, f = 0;
    std::istringstream lines(obj.str());
    for (std::string line; std::getline(lines, line);) {
        v += line.rfind("v ", 0) == 0;
        vn += line.rfind("vn ", 0) == 0;
        f += line.rfind("f ", 0) == 0;
    }
    EXPECT_EQ(v, 4);
    EXPECT_EQ(vn, 4);
    EXPECT_EQ(f, 2);
    EXPECT_NE(obj.str().find("f 2//2 4//4 3//3"), std::string::npos);
    EXPECT_NE(ply.str().find("element vertex 4\n"), std::string::npos);
    EXPECT_NE(ply.str().find("element face 2\n"), std::string::npos);
    EXPECT_NE(ply.str().find("\n3 1 3 2\n"), std::string::npos);
}

void collect(const TessTriangle* t, void* user) { static_cast<Mesh*>(user)->add(*t); }

double area_3d(const Mesh& m) {
    double area = 0;
    for (const auto& f : m.faces) {
        const auto &a = m.positions[f[0]], &b = m.positions[f[1]], &c = m.positions[f[2]];
        const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const double w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        area += 0.5 * std::sqrt(std::pow(u[1] * w[2] - u[2] * w[1], 2) +
                                std::pow(u[2] * w[0] - u[0] * w[2], 2) +
                                std::pow(u[0] * w[1] - u[1] * w[0], 2));
    }
    return area;
}

// Edges between faces after merging vertices by position: a closed surface
// has every edge twice.
std::map<std::pair<int, int>, int> edge_uses(const Mesh& m, double tol) {
    std::vector<int> rep(m.positions.size());
    for (size_t i = 0; i < m.positions.size(); ++i) {
        rep[i] = static_cast<int>(i);
        for (size_t j = 0; j < i; ++j)
            if (std::fabs(m.positions[i][0] - m.positions[j][0]) <= tol &&
                std::fabs(m.positions[i][1] - m.positions[j][1]) <= tol &&
                std::fabs(m.positions[i][2] - m.positions[j][2]) <= tol) {
                rep[i] = rep[j];
                break;
            }
    }
    std::map<std::pair<int, int>, int> uses;
    for (const auto& f : m.faces)
        for (int k = 0; k < 3; ++k) {
            const int a = rep[f[k]], b = rep[f[(k + 1) % 3]];
            if (a != b) ++uses[{std::min(a, b), std::max(a, b)}];
        }
    return uses;
}

TEST(RuvaneTessSamples, EachSampleGivesTheExpectedSurface) {
    ruvane_test::install_counting_host();
    const double pi = 3.14159265358979323846;
    struct Case {
        const char* file;
        double area;      // of the trimmed surface
        double area_tol;  // relative
        bool closed;
        int status;
    } cases[] = {
        {"planar_hole.json", 60.0 - pi * 2.5 * 1.5, 2e-3, false, 0},
        {"bicubic_bump.json", 0, 0, false, 0},
        {"cylinder.json", 0, 0, false, 0},
        {"torus.json", 4 * pi * pi * 6 * 2, 2e-3, true, 0},
        {"sphere_pole.json", 4 * pi * 16, 2e-3, false, 0},
    };
    for (const Case& c : cases) {
        std::ifstream in(std::string(RUVANE_TESS_SAMPLES) + "/" + c.file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        ASSERT_TRUE(in.good() || in.eof()) << c.file;
        SurfaceData s;
        std::string error;
        ASSERT_TRUE(ruvane_tess::read_surface_description(text.str(), s, error)) << c.file << error;
        const ruvane_tess::SurfaceRecords r(s);
        Mesh m;
        int32_t status = -1;
        ASSERT_TRUE(ruvane_tesselate_ruvane(collect, r.get(), &status, s.tolerances.surface,
                                            s.tolerances.trim, s.tolerances.param, &m));
        EXPECT_EQ(status, c.status) << c.file;
        EXPECT_GT(m.faces.size(), 20u) << c.file;
        EXPECT_EQ(ruvane_test::counters().live, 0) << c.file;
        if (c.area > 0) {
            EXPECT_NEAR(area_3d(m), c.area, c.area * c.area_tol) << c.file;
        }
        if (c.closed) {
            for (const auto& [e, n] : edge_uses(m, 1e-9)) EXPECT_EQ(n, 2) << c.file;
        }
    }
}

}  // namespace

namespace {

// Loops the library takes without a word, and the warnings the tool gives.
TEST(RuvaneTessLoops, WarnsAboutOpenAndSelfCrossingLoops) {
    ruvane_test::install_counting_host();
    auto line = [](double u0, double v0, double u1, double v1) {
        return ruvane_tess::CurveData{2, {u0, v0, 0, u1, v1, 0}, {1, 1}, {0, 0, 1, 1}};
    };
    using Loop = std::vector<ruvane_tess::CurveData>;
    const Loop square{line(0, 0, 1, 0), line(1, 0, 1, 1), line(1, 1, 0, 1), line(0, 1, 0, 0)};
    const Loop open{line(0, 0, 1, 0), line(1, 0, 1, 1), line(1, 1, 0, 1), line(0, 1, 0, 0.2)};
    const Loop bow{line(0, 0, 1, 1), line(1, 1, 1, 0), line(1, 0, 0, 1), line(0, 1, 0, 0)};
    // A 400-sided polygon with two neighbouring points swapped: a crossing.
    std::vector<std::pair<double, double>> ring;
    for (int k = 0; k < 400; ++k)
        ring.push_back(
            {std::cos(k * 3.14159265358979 / 200), std::sin(k * 3.14159265358979 / 200)});
    std::swap(ring[100], ring[101]);
    Loop spike;
    for (int k = 0; k < 400; ++k) {
        const auto [u0, v0] = ring[k];
        const auto [u1, v1] = ring[(k + 1) % 400];
        spike.push_back(line(u0, v0, u1, v1));
    }
    struct Case {
        const char* name;
        Loop outer;
        std::vector<Loop> holes;
        std::vector<std::string> starts;  // beginnings of the expected warnings
    } cases[] = {
        {"closed square", square, {}, {}},
        {"open outer loop", open, {}, {"the outer loop is open: curve 3 ends at (0, 0.2)"}},
        {"bow tie hole", square, {square, bow}, {"hole 1 crosses itself"}},
        {"long loop with a crossing", spike, {}, {"the outer loop crosses itself"}},
    };
    for (const Case& c : cases) {
        ruvane_tess::SurfaceData s;
        s.outer = c.outer;
        s.holes = c.holes;
        const std::vector<std::string> got = ruvane_tess::check_loops(s);
        ASSERT_EQ(got.size(), c.starts.size()) << c.name << (got.empty() ? "" : ": " + got[0]);
        for (size_t k = 0; k < got.size(); ++k)
            EXPECT_EQ(got[k].rfind(c.starts[k], 0), 0u) << c.name << ": " << got[k];
    }
    EXPECT_EQ(ruvane_test::counters().live, 0);
}

}  // namespace
