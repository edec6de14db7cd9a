// The comparison's measures against hand-computed values, and the face
// export against the face it came from.
#include <gtest/gtest.h>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepTools.hxx>
#include <BRep_Tool.hxx>
#include <GeomConvert.hxx>
#include <Geom_SphericalSurface.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Circ.hxx>
#include <gp_Pln.hxx>

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <tuple>

#include "bench/occt_export.h"
#include "bench/occt_measure.h"
#include "bench/occt_meshers.h"
#include "bench/occt_models.h"
#include "bench/occt_report.h"
#include "include/ruvane.h"

#define STB_IMAGE_IMPLEMENTATION
#include "stb_image.h"

namespace occt_bench {
namespace {

TEST(OcctMeasure, SurfaceDistanceOnARationalSphere) {
    const double r = 10;
    const Handle(Geom_Surface) sphere =
        GeomConvert::SurfaceToBSplineSurface(new Geom_SphericalSurface(gp_Ax3(), r));
    double u0, u1, v0, v1;
    sphere->Bounds(u0, u1, v0, v1);
    const SurfaceProbe probe(sphere, u0, u1, v0, v1);
    // Directions all round, the poles and the seam included; offsets either side.
    for (double lat : {-M_PI / 2, -1.2, -0.3, 0.0, 0.9, M_PI / 2 - 1e-4, M_PI / 2})
        for (double lon : {0.0, 1.0, 3.1, 6.2})
            for (double offset : {-0.5, -1e-3, 0.0, 2e-4, 1.5}) {
                const double k = r + offset;
                const gp_Pnt p(k * std::cos(lat) * std::cos(lon), k * std::cos(lat) * std::sin(lon),
                               k * std::sin(lat));
                EXPECT_NEAR(probe.distance(p), std::abs(offset), 1e-7)
                    << lat << " " << lon << " " << offset;
            }
}

TEST(OcctMeasure, DistanceToTheEdgesOfAFace) {
    // Disk of radius 5 in z = 0: the centre lies 5 from the round edge, a
    // point above the rim its height. Square [-5, 5]^2: straight edges.
    const TopoDS_Wire circle =
        BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(gp_Circ(gp_Ax2(), 5)).Edge()).Wire();
    const TopoDS_Face disk = BRepBuilderAPI_MakeFace(circle, true).Face();
    const TopoDS_Face square = BRepBuilderAPI_MakeFace(gp_Pln(), -5, 5, -5, 5).Face();
    const double chord = 1e-4;
    const EdgeProbe round(disk, chord);
    EXPECT_NEAR(round.distance(gp_Pnt(0, 0, 0)), 5, chord);
    EXPECT_NEAR(round.distance(gp_Pnt(0, 5, 3)), 3, chord);
    const EdgeProbe straight(square, chord);
    EXPECT_NEAR(straight.distance(gp_Pnt(1, 2, 0)), 3, 1e-12);
    EXPECT_NEAR(straight.distance(gp_Pnt(8, 9, 0)), 5, 1e-12);
}

TEST(OcctMeasure, HalfASquareShowsItsGap) {
    // The 10 x 10 face meshed with one triangle of two: deviation 0, the
    // open diagonal's midpoint (5, 5) lies 5 from the edges, half the area.
    const TopoDS_Face face = BRepBuilderAPI_MakeFace(gp_Pln(), 0, 10, 0, 10).Face();
    const SurfaceProbe surface(BRep_Tool::Surface(face), 0, 10, 0, 10);
    const EdgeProbe edges(face, 1e-3);
    Mesh mesh;
    mesh.nodes = {gp_Pnt(0, 0, 0), gp_Pnt(10, 0, 0), gp_Pnt(10, 10, 0), gp_Pnt(0, 10, 0)};
    mesh.triangles = {{0, 1, 2}};
    Quality q = measure(mesh, surface, edges);
    EXPECT_NEAR(q.deviation, 0, 1e-12);
    EXPECT_NEAR(q.boundary, 5, 1e-9);
    EXPECT_NEAR(q.area, 50, 1e-9);
    mesh.triangles.push_back({0, 2, 3});
    mesh.nodes[2].SetZ(0.25);  // lifted: its edges' midpoints sit 0.125 above
    q = measure(mesh, surface, edges);
    EXPECT_NEAR(q.deviation, 0.25, 1e-9);
    EXPECT_NEAR(q.boundary, 0.25, 1e-9);
}

TEST(OcctMeshers, WeldJoinsCornersThatShareTheirParameters) {
    // Two triangles of the unit square sharing the diagonal (0,0)-(1,1).
    const std::vector<double> corners = {
        0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0,  //
        0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 1, 0, 1, 0,
    };
    const Mesh mesh = weld(corners);
    ASSERT_EQ(mesh.nodes.size(), 4u);
    ASSERT_EQ(mesh.triangles.size(), 2u);
    EXPECT_EQ(open_edges(mesh).size(), 4u);
    EXPECT_EQ(mesh.nodes[mesh.triangles[1][2]].Y(), 1.0);
}

// What the boundary points alone demand: the unit square as two triangles
// (no inner vertex: 2), as a fan of four round its centre (one inner vertex:
// still 2), and a square ring of eight outer and four inner points with no
// vertex inside (8 + 4 + 2 * 2 - 4 = 12 triangles, all set by the points).
TEST(OcctMeasure, EdgeBoundTrianglesCountTwoPerInnerVertex) {
    Mesh square;
    square.nodes = {gp_Pnt(0, 0, 0), gp_Pnt(1, 0, 0), gp_Pnt(1, 1, 0), gp_Pnt(0, 1, 0)};
    square.triangles = {{0, 1, 2}, {0, 2, 3}};
    EXPECT_EQ(edge_bound_triangles(square), 2);
    Mesh fan = square;
    fan.nodes.emplace_back(0.5, 0.5, 0.1);
    fan.triangles = {{0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}};
    EXPECT_EQ(edge_bound_triangles(fan), 2);
    // Outer square 0..7 (corners and side middles of [0, 4]^2), inner
    // square 8..11 ([1, 3]^2), joined by a strip of 12 triangles.
    Mesh ring;
    const double outer[8][2] = {{0, 0}, {2, 0}, {4, 0}, {4, 2}, {4, 4}, {2, 4}, {0, 4}, {0, 2}};
    const double inner[4][2] = {{1, 1}, {3, 1}, {3, 3}, {1, 3}};
    for (const auto& p : outer) ring.nodes.emplace_back(p[0], p[1], 0);
    for (const auto& p : inner) ring.nodes.emplace_back(p[0], p[1], 0);
    for (int s = 0; s < 4; ++s) {
        const int o0 = 2 * s, o1 = 2 * s + 1, o2 = (2 * s + 2) % 8;
        const int i0 = 8 + s, i1 = 8 + (s + 1) % 4;
        ring.triangles.push_back({o0, o1, i0});
        ring.triangles.push_back({o1, i1, i0});
        ring.triangles.push_back({o1, o2, i1});
    }
    ASSERT_EQ(open_edges(ring).size(), 12u);
    EXPECT_EQ(edge_bound_triangles(ring), 12);
}

// Every exported face as the comparison runs it, on the plate with a round
// hole (top and bottom faces: 200 - 9 pi) and a sphere (64 pi): its loops are
// closed, run over [0, 1] and end on the face's vertices; both meshers cover
// the faces of known area.
TEST(OcctMeshers, ExportedFacesAndBothMeshers) {
    ComponentServices host{};
    host.table_version = 2;
    host.allocate = [](size_t n) { return std::malloc(n); };
    host.release = [](void* p) { std::free(p); };
    ASSERT_TRUE(component_client_init(&host));
    const TopoDS_Shape plate = BRepAlgoAPI_Cut(
        BRepPrimAPI_MakeBox(20, 10, 2).Shape(),
        BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(10, 5, -1), gp::DZ()), 3, 4).Shape());
    const double d = 0.08;
    int meshed = 0;
    for (const auto& [shape, area] :
         {std::pair{BRepBuilderAPI_NurbsConvert(plate).Shape(), 200 - 9 * M_PI},
          std::pair{BRepBuilderAPI_NurbsConvert(BRepPrimAPI_MakeSphere(4).Shape()).Shape(),
                    64 * M_PI}})
        for (TopExp_Explorer ex(shape, TopAbs_FACE); ex.More(); ex.Next()) {
            const TopoDS_Face face = TopoDS::Face(ex.Current());
            FaceRecord record;
            std::string why;
            ASSERT_TRUE(record.build(face, why)) << why;
            const TrimmedSurfaceDesc& desc = *record.get();
            std::vector<TrimLoopDesc> loops{{desc.outer_count, desc.outer_curves}};
            loops.insert(loops.end(), desc.inner_loops, desc.inner_loops + desc.inner_count);
            for (const TrimLoopDesc& loop : loops)
                for (int i = 0; i < loop.count; ++i) {
                    const CurveDesc& c = loop.curves[i];
                    const CurveDesc& next = loop.curves[(i + 1) % loop.count];
                    EXPECT_EQ(c.knots[c.order - 1], 0.0);
                    EXPECT_EQ(c.knots[c.count], 1.0);
                    EXPECT_EQ(c.points[3 * c.count - 3], next.points[0]);
                    EXPECT_EQ(c.points[3 * c.count - 2], next.points[1]);
                    const gp_Pnt end = record.surface()->Value(next.points[0], next.points[1]);
                    double nearest = 1e300;
                    for (TopExp_Explorer v(face, TopAbs_VERTEX); v.More(); v.Next())
                        nearest = std::min(
                            nearest, end.Distance(BRep_Tool::Pnt(TopoDS::Vertex(v.Current()))));
                    EXPECT_LT(nearest, 1e-6);
                }
            if (area < 200 && desc.inner_count != 1) continue;
            double u0, u1, v0, v1;
            BRepTools::UVBounds(face, u0, u1, v0, v1);
            const SurfaceProbe surface(BRep_Tool::Surface(face), u0, u1, v0, v1);
            const EdgeProbe edges(face, d / 50);
            for (int mesher = 0; mesher < 2; ++mesher) {
                Mesh mesh;
                const occt_bench::Run run = mesher == 0 ? mesh_with_ruvane(record, d, mesh)
                                                        : mesh_with_brepmesh(face, d, mesh);
                ASSERT_FALSE(run.failed) << mesher;
                const Quality q = measure(mesh, surface, edges);
                EXPECT_LE(q.deviation, 1.5 * d) << mesher;
                EXPECT_LE(q.boundary, d) << mesher;
                EXPECT_NEAR(q.area / area, 1, 0.01) << mesher;
                ++meshed;
            }
        }
    component_client_shutdown();
    EXPECT_EQ(meshed, 6);  // the hole shows in the top and the bottom face
}

// The parts like real ones are what they claim: valid shapes with the faces
// their descriptions count, every face written as a surface description.
TEST(OcctModels, PartsAreValidAndEveryFaceExports) {
    const std::map<std::string, int> faces = {{"forged_tool", 37},
                                              {"pocketed_box", 37},
                                              {"thin_sheet", 35},
                                              {"shallow_freeform", 1},
                                              {"small_trimmed", 1}};
    int seen = 0;
    for (const Model& model : make_models(false)) {
        const auto it = faces.find(model.name);
        if (it == faces.end()) continue;
        ++seen;
        SCOPED_TRACE(model.name);
        EXPECT_TRUE(BRepCheck_Analyzer(model.shape).IsValid());
        int count = 0;
        const TopoDS_Shape nurbs = BRepBuilderAPI_NurbsConvert(model.shape, true).Shape();
        for (TopExp_Explorer ex(nurbs, TopAbs_FACE); ex.More(); ex.Next(), ++count) {
            FaceRecord record;
            std::string why;
            EXPECT_TRUE(record.build(TopoDS::Face(ex.Current()), why)) << count << ": " << why;
        }
        EXPECT_EQ(count, it->second);
    }
    EXPECT_EQ(seen, static_cast<int>(faces.size()));
}

// A picture shows the open boundary in red: a mesh with none shows no red.
TEST(OcctMeshers, PictureMarksTheOpenBoundary) {
    Mesh open, closed;
    open.nodes = {gp_Pnt(0, 0, 0), gp_Pnt(1, 0, 0), gp_Pnt(0, 1, 0), gp_Pnt(1, 1, 0)};
    open.triangles = {{0, 1, 3}, {0, 3, 2}};
    closed.nodes = {gp_Pnt(0, 0, 0), gp_Pnt(1, 0, 0), gp_Pnt(0, 1, 0), gp_Pnt(0, 0, 1)};
    closed.triangles = {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {0, 3, 2}};
    const std::string path = testing::TempDir() + "occt_picture_test.png";
    for (const auto& [left, right, red] :
         {std::tuple{&open, &open, true}, std::tuple{&closed, &closed, false}}) {
        ASSERT_TRUE(draw_side_by_side(*left, *right, path));
        int w = 0, h = 0, channels = 0;
        unsigned char* rgb = stbi_load(path.c_str(), &w, &h, &channels, 3);
        ASSERT_NE(rgb, nullptr);
        int reds = 0;
        for (int k = 0; k < w * h; ++k) reds += rgb[3 * k] > 150 && rgb[3 * k + 1] < 80;
        stbi_image_free(rgb);
        EXPECT_EQ(reds > 0, red);
    }
}

TEST(OcctReport, GoalsAndTotals) {
    const double d = 0.1;
    struct Case {
        occt_bench::Run run;
        bool meets;
    } cases[] = {
        {{false, 0, 1, 10, 0.1, 0.1, 0.9901}, true},  // at the limits
        {{false, 0, 1, 10, 0.1001, 0, 1}, false},     // deviation over
        {{false, 0, 1, 10, 0, 0.1001, 1}, false},     // boundary over
        {{false, 0, 1, 10, 0, 0, 0.9899}, false},     // a gap
        {{false, 0, 1, 10, 0, 0, 1.0101}, false},     // an overlap
        {{true, 5, 1, 10, 0, 0, 1}, false},           // status 5
    };
    for (const Case& c : cases) EXPECT_EQ(meets_goals(c.run, d), c.meets) << c.run.deviation;

    // Two faces: 3 + 1 ms against 4 + 4 ms, 30 + 10 against 50 + 50 triangles.
    Report report;
    report.models = {"m"};
    report.descriptions = {"two faces"};
    report.diagonals = {10};
    report.factors[0] = report.factors[1] = report.factors[2] = 0.01;
    for (int k = 0; k < 2; ++k) {
        FaceResult f;
        f.model = "m";
        for (int t = 0; t < 3; ++t) {
            f.tolerance[t] = d;
            f.ruvane[t] = {false, 0, k ? 1.0 : 3.0, k ? 10 : 30, 0, 0, 1};
            f.occt[t] = f.original[t] = {false, 0, 4, 50, 0, 0, 1};
        }
        report.faces.push_back(f);
    }
    std::ostringstream out;
    write_markdown(report, out);
    EXPECT_NE(out.str().find("| 0.01 | 2 | 4.0 / 8.0 | **0.50** | 40 / 100 | **0.40** |"),
              std::string::npos)
        << out.str();
}

// The first calls come from ruvane-first-call's table, one row per model.
TEST(OcctReport, FirstCallColumnAndTriangleGoal) {
    Report report;
    report.models = {"m"};
    report.descriptions = {"one face"};
    report.diagonals = {10};
    report.factors[0] = report.factors[1] = report.factors[2] = 0.01;
    FaceResult f;
    f.model = "m";
    for (int t = 0; t < 3; ++t) {
        f.tolerance[t] = 0.1;
        f.ruvane[t] = {false, 0, 1, 70, 0, 0, 1, 30};  // 30 of them set by the boundary
        f.occt[t] = f.original[t] = {false, 0, 4, 50, 0, 0, 1};
    }
    report.faces.push_back(f);
    for (auto& sums : report.first_call_ms) {
        std::istringstream table(
            "| faces of | faces | first / warm calls, ms | ratio |\n|---|---|---|---|\n"
            "| m | 1 | 2.50 / 2.00 | **1.25** |\n| all | 1 | 2.50 / 2.00 | **1.25** |\n");
        read_first_calls(table, sums);
        EXPECT_EQ(sums.size(), 2u);
    }
    std::ostringstream out;
    write_markdown(report, out);
    const std::string text = out.str();
    EXPECT_NE(text.find("| 0.01 | 1 | 1.0 / 4.0 | **0.25** | 2.5 | 70 / 50 | **1.40** |"),
              std::string::npos)
        << text;
    EXPECT_NE(
        text.find(
            "missed (1 of 1 models above: m 1.40 (0.60 set by the boundary points)); faces above "
            "1.0: 1."),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("| m | 0 |  | 0 | 0.01 | 70 / 50 | 1.40 |"), std::string::npos) << text;
}

}  // namespace
}  // namespace occt_bench
