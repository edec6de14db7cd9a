// The committed sample models: every file keeps each parameter within one
// line (as other readers need), reads without a skipped entity, every face
// meshes at a few deflections, and the closed solids give closed meshes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "iges/model_mesh.h"

namespace ruvane::iges {
namespace {

// The diagonal of the faces' control nets (a bound of the model's box).
double diagonal(const Model& m) {
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (const Face& f : m.faces)
        for (size_t i = 0; i + 3 < f.surface.points.size(); i += 4)
            for (size_t k = 0; k < 3; ++k) {
                const double x = f.surface.points[i + k] / f.surface.points[i + 3];
                lo[k] = std::min(lo[k], x);
                hi[k] = std::max(hi[k], x);
            }
    return std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
}

TEST(IgesSamples, ReadMeshedAndClosed) {
    struct Case {
        const char* file;
        size_t faces;
        bool closed;
    };
    // Narrow faces (chamfers and grooves one deflection wide, fillets and a
    // ring's tube of a smaller radius, small chamfer edges to sew, a
    // sphere's seam used there and back) are where coarse deflections
    // cracked.
    const Case cases[] = {
        {"box_brep.igs", 6, true},       {"box_sewn.igs", 6, true},
        {"cylinder_brep.igs", 3, true},  {"plate_12_holes.igs", 18, true},
        {"bracket_brep.igs", 25, true},  {"bracket_faces.igs", 25, true},
        {"turned_brep.igs", 23, true},   {"turned_faces.igs", 23, true},
        {"skin_faces.igs", 1, false},    {"pockets_brep.igs", 222, true},
        {"assembly_brep.igs", 28, true},
    };
    // Relative to the model's size.
    const double deflections[] = {3e-2, 1e-2, 3e-3, 1e-3};
    ComponentServices table = {};
    table.table_version = 1;
    table.allocate = [](size_t size) { return std::malloc(size); };
    table.release = [](void* block) { std::free(block); };
    ASSERT_TRUE(component_client_init(&table));
    for (const Case& c : cases) {
        std::ifstream in(std::string(IGES_SAMPLES) + "/" + c.file, std::ios::binary);
        ASSERT_TRUE(in) << c.file;
        std::stringstream text;
        text << in.rdbuf();
        const std::string data = text.str();
        // Parameter lines end at a delimiter (the file's are ',' and ';').
        for (size_t at = 0, end = 0; at < data.size(); at = end + 1) {
            end = std::min(data.find('\n', at), data.size());
            if (end - at < 73 || data[at + 72] != 'P') continue;
            const size_t last = data.find_last_not_of(' ', at + 63);
            EXPECT_TRUE(last >= at && (data[last] == ',' || data[last] == ';'))
                << c.file << ": " << data.substr(at, 80);
        }
        Model model;
        std::string why;
        ASSERT_TRUE(read_model(data.data(), data.size(), Limits{}, &model, &why)) << c.file << why;
        for (const Skipped& s : model.skipped)
            ADD_FAILURE() << c.file << ": entity " << s.entity << " skipped: " << s.reason;
        EXPECT_EQ(model.faces.size(), c.faces) << c.file;
        for (const double relative : deflections) {
            MeshOptions options;
            options.deflection = relative * diagonal(model);
            ModelMesh mesh;
            ASSERT_TRUE(mesh_model(model, options, &mesh)) << c.file;
            for (const FaceOutcome& f : mesh.faces)
                EXPECT_TRUE(f.failure.empty())
                    << c.file << " at " << relative << ": face " << f.entity << ": " << f.failure;
            if (!c.closed) continue;
            const EdgeCheck e = check_edges(mesh);
            EXPECT_EQ(e.free + e.bad, 0) << c.file << " at " << options.deflection << ": " << e.free
                                         << " free, " << e.bad << " misused edges";
            // Every boundary curve of a closed solid bounds two faces.
            EXPECT_EQ(mesh.unmatched_edges, 0) << c.file << " at " << relative;
        }
    }
    component_client_shutdown();
}

// The assembly's ball (centre (70, 20, 60), radius 6) and ring (axis z
// through (15, 20), radii 7 and 2) close over seams whose cell vertices
// settle in pairs; the triangles stretched so keep within the deflection at
// their centres and edge middles with room to spare (a pair's collapse held
// only to D at those points took the ring to 0.997 D).
TEST(IgesSamples, AssemblyBallAndRingWithinTheDeflection) {
    ComponentServices table = {};
    table.table_version = 1;
    table.allocate = [](size_t size) { return std::malloc(size); };
    table.release = [](void* block) { std::free(block); };
    ASSERT_TRUE(component_client_init(&table));
    std::ifstream in(std::string(IGES_SAMPLES) + "/assembly_brep.igs", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string data = text.str();
    Model model;
    std::string why;
    ASSERT_TRUE(read_model(data.data(), data.size(), Limits{}, &model, &why)) << why;
    using P = std::array<double, 3>;
    const auto ball = [](const P& p) {
        return std::fabs(std::hypot(p[0] - 70, p[1] - 20, p[2] - 60) - 6);
    };
    const auto ring = [](const P& p) {
        return std::fabs(std::hypot(std::hypot(p[0] - 15, p[1] - 20) - 7, p[2] - 20) - 2);
    };
    for (const double D : {0.1184, 0.02, 0.01184, 0.005}) {
        MeshOptions options;
        options.deflection = D;
        ModelMesh mesh;
        ASSERT_TRUE(mesh_model(model, options, &mesh));
        int measured = 0;
        for (const auto& distance : {+ball, +ring}) {
            double worst = 0;
            for (const auto& t : mesh.triangles) {
                P c[3];
                for (int k = 0; k < 3; ++k) c[k] = mesh.vertices[static_cast<size_t>(t[k])];
                if (distance(c[0]) > 1e-6 || distance(c[1]) > 1e-6 || distance(c[2]) > 1e-6)
                    continue;
                ++measured;
                for (int k = 0; k <= 3; ++k) {
                    P q;
                    for (int i = 0; i < 3; ++i)
                        q[i] = k == 3 ? (c[0][i] + c[1][i] + c[2][i]) / 3
                                      : (c[k][i] + c[(k + 1) % 3][i]) / 2;
                    worst = std::max(worst, distance(q));
                }
            }
            EXPECT_LE(worst, 0.98 * D) << "at D " << D;
        }
        EXPECT_GT(measured, 100) << "at D " << D;
        // The ring's seams are divided as its rows need, so it meshes as
        // rows round the z axis, one through each seam point, and each row
        // goes round with 8 points at least (the cell lattice left seam
        // points alone at their angle round the tube, between its rows).
        std::map<long, int> row;  // points per row, by its angle round the tube
        for (const P& p : mesh.vertices)
            if (ring(p) <= 1e-6) {
                const double across = std::hypot(p[0] - 15, p[1] - 20) - 7;
                const long angle = std::lround(1e4 * std::atan2(p[2] - 20, across));
                ++row[angle == -31416 ? 31416 : angle];  // -pi is pi
            }
        ASSERT_GT(row.size(), 4u) << "at D " << D;
        for (const auto& [angle, n] : row) EXPECT_GE(n, 8) << "at D " << D << ", " << angle;
    }
    component_client_shutdown();
}

// What the tessellator reads of a face description, as plain values.
std::vector<double> desc_values(const FaceDesc& d) {
    const TrimmedSurfaceDesc& t = d.desc;
    std::vector<double> v{double(t.u_order), double(t.v_order), double(t.u_knot_count),
                          double(t.v_knot_count)};
    v.insert(v.end(), t.u_knots, t.u_knots + t.u_knot_count);
    v.insert(v.end(), t.v_knots, t.v_knots + t.v_knot_count);
    const size_t net = d.weights.size();
    v.insert(v.end(), t.points, t.points + 3 * net);
    v.insert(v.end(), t.weights, t.weights + net);
    auto curves = [&](const CurveDesc* c, int n) {
        v.push_back(n);
        for (int i = 0; i < n; ++i) {
            v.insert(v.end(), {double(c[i].order), double(c[i].count)});
            v.insert(v.end(), c[i].points, c[i].points + 3 * c[i].count);
            v.insert(v.end(), c[i].weights, c[i].weights + c[i].count);
            v.insert(v.end(), c[i].knots, c[i].knots + c[i].count + c[i].order);
        }
    };
    curves(t.outer_curves, t.outer_count);
    v.push_back(t.inner_count);
    for (int h = 0; h < t.inner_count; ++h) curves(t.inner_loops[h].curves, t.inner_loops[h].count);
    return v;
}

// One description refilled face after face (as the mesher keeps it) says
// what a fresh one says, whether the face before had more loops and longer
// curves or fewer.
TEST(IgesSamples, FaceDescriptionRefilledAsFresh) {
    for (const char* file : {"plate_12_holes.igs", "bracket_faces.igs"}) {
        std::ifstream in(std::string(IGES_SAMPLES) + "/" + file, std::ios::binary);
        ASSERT_TRUE(in) << file;
        std::stringstream text;
        text << in.rdbuf();
        const std::string data = text.str();
        Model model;
        std::string why;
        ASSERT_TRUE(read_model(data.data(), data.size(), Limits{}, &model, &why)) << file << why;
        std::vector<size_t> order;
        for (size_t f = 0; f < model.faces.size(); ++f) order.push_back(f);
        for (size_t f = model.faces.size(); f-- > 0;) order.push_back(f);
        FaceDesc kept;
        for (size_t f : order) {
            FaceDesc fresh;
            face_desc(model.faces[f], &fresh);
            face_desc(model.faces[f], &kept);
            EXPECT_EQ(desc_values(kept), desc_values(fresh)) << file << " face " << f;
        }
    }
}

}  // namespace
}  // namespace ruvane::iges
