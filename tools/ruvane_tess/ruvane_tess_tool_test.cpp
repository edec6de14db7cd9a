// The tool's surface reader and its mesh writers.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <sstream>

#include "nurbs/testing/ruvane_test_host.h"
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
    const TrimmedSurfaceDesc& d = *r.get();
    EXPECT_EQ(std::vector<int>({d.u_order, d.v_knot_count, d.outer_count, d.outer_curves[0].count,
                                d.inner_count, d.inner_loops[0].count}),
              std::vector<int>({2, 4, 1, 5, 1, 1}));
}

TEST(RuvaneTessWriter, SharesVerticesAndTurnsNegatedFaces) {
    auto vertex = [](double x, double y) {
        TessVertex t{};
        t.position[0] = t.u = x;
        t.position[1] = t.v = y;
        t.normal[2] = 1;
        return t;
    };
    const TessVertex p00 = vertex(0, 0), p10 = vertex(1, 0), p01 = vertex(0, 1);
    Mesh m;
    m.add({{p00, p10, p01}, {0, 0, 1}});
    m.add({{p10, vertex(1, 1), p01}, {0, 0, 1}});
    m.add({{p00, p10, p01}, {0, 0, -1}});  // negated: turned, on vertices of its own
    EXPECT_EQ(m.faces, (std::vector<std::array<int, 3>>{{0, 1, 2}, {1, 3, 2}, {4, 6, 5}}));
    ASSERT_EQ(m.normals.size(), 7u);
    EXPECT_EQ(m.normals[4][2], -1.0);
    std::ostringstream obj, ply;
    ruvane_tess::write_obj(m, obj);
    ruvane_tess::write_ply(m, ply);
    EXPECT_NE(obj.str().find("\nv 1 1 0\nv 0 0 0\n"), std::string::npos) << obj.str();
    EXPECT_NE(obj.str().find("\nf 2//2 4//4 3//3\nf 5//5 7//7 6//6\n"), std::string::npos);
    EXPECT_NE(ply.str().find("element vertex 7\n"), std::string::npos) << ply.str();
    EXPECT_NE(ply.str().find("\n3 1 3 2\n3 4 6 5\n"), std::string::npos);
}

// Loops the library takes without a word, and the warnings the tool gives.
TEST(RuvaneTessLoops, WarnsAboutOpenAndSelfCrossingLoops) {
    sx::testing::install_counting_host();
    auto line = [](double u0, double v0, double u1, double v1) {
        return ruvane_tess::CurveData{2, {u0, v0, 0, u1, v1, 0}, {1, 1}, {0, 0, 1, 1}};
    };
    using Loop = std::vector<ruvane_tess::CurveData>;
    const Loop square{line(0, 0, 1, 0), line(1, 0, 1, 1), line(1, 1, 0, 1), line(0, 1, 0, 0)};
    const Loop open{line(0, 0, 1, 0), line(1, 0, 1, 1), line(1, 1, 0, 1), line(0, 1, 0, 0.2)};
    const Loop bow{line(0, 0, 1, 1), line(1, 1, 1, 0), line(1, 0, 0, 1), line(0, 1, 0, 0)};
    // A 400-sided polygon with two neighbouring points swapped: a crossing.
    Loop spike;
    for (int k = 0; k < 400; ++k) {
        auto angle = [](int j) {
            return (j == 100 ? 101 : j == 101 ? 100 : j % 400) * 3.14159265358979 / 200;
        };
        spike.push_back(line(std::cos(angle(k)), std::sin(angle(k)), std::cos(angle(k + 1)),
                             std::sin(angle(k + 1))));
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
    EXPECT_EQ(sx::testing::counters().live, 0);
}

}  // namespace
