// iges-compare: the same IGES models read and meshed by ruvane (iges/ and
// the model mesher) and by OpenCASCADE (IGESControl_Reader,
// BRepMesh_IncrementalMesh) at the same linear deflection D, measured the
// same way: reading and meshing time (processor time), triangles, free or
// misoriented mesh edges, and the largest distance of sampled mesh points
// (triangle centroids and edge midpoints) to the surface of the face the
// triangle belongs to (OpenCASCADE's surface for its mesh, ruvane's own
// surface, as an OpenCASCADE B-spline, for ruvane's).
//
//   iges-compare WORKDIR REPORT.md
#include <BRepBndLib.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GeomAPI_ProjectPointOnSurf.hxx>
#include <Geom_BSplineSurface.hxx>
#include <IGESControl_Reader.hxx>
#include <Poly_Triangulation.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColStd_Array2OfReal.hxx>
#include <TColgp_Array2OfPnt.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "iges/model_mesh.h"
#include "iges/testing/models.h"

namespace {

using ruvane::iges::testing::IgesBuilder;
using Tri = std::array<int, 3>;
using P3 = std::array<double, 3>;

double cpu_ms() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct Measure {
    double read_ms = 0, mesh_ms = 0;
    size_t triangles = 0;
    int open = 0;  // free or misoriented edges
    double deviation = 0;
    int faces = 0, failed = 0;
};

// Directed-edge check on a welded mesh: edges not used once each way.
int open_edges(const std::vector<Tri>& tris) {
    std::map<std::pair<int, int>, int> d;
    for (const Tri& t : tris)
        for (int i = 0; i < 3; ++i) ++d[{t[i], t[(i + 1) % 3]}];
    int open = 0;
    for (const auto& [e, n] : d) {
        if (e.first > e.second && d.count({e.second, e.first})) continue;
        auto back = d.find({e.second, e.first});
        open += !(n == 1 && back != d.end() && back->second == 1);
    }
    return open;
}

// The sample points of one triangle: centroid and edge midpoints.
std::array<gp_Pnt, 4> probes(const P3& a, const P3& b, const P3& c) {
    return {gp_Pnt((a[0] + b[0] + c[0]) / 3, (a[1] + b[1] + c[1]) / 3, (a[2] + b[2] + c[2]) / 3),
            gp_Pnt((a[0] + b[0]) / 2, (a[1] + b[1]) / 2, (a[2] + b[2]) / 2),
            gp_Pnt((b[0] + c[0]) / 2, (b[1] + c[1]) / 2, (b[2] + c[2]) / 2),
            gp_Pnt((c[0] + a[0]) / 2, (c[1] + a[1]) / 2, (c[2] + a[2]) / 2)};
}

double distance(const Handle(Geom_Surface) & s, const gp_Pnt& p) {
    GeomAPI_ProjectPointOnSurf proj(p, s);
    return proj.NbPoints() > 0 ? proj.LowerDistance() : 0.0;
}

// ruvane's surface of a face as an OpenCASCADE B-spline (the same net,
// weights and knots), to measure against.
Handle(Geom_Surface) as_occt(const ruvane::iges::HSurface& s) {
    TColgp_Array2OfPnt poles(1, s.nu, 1, s.nv);
    TColStd_Array2OfReal weights(1, s.nu, 1, s.nv);
    for (int j = 0; j < s.nv; ++j)
        for (int i = 0; i < s.nu; ++i) {
            const double* h = &s.points[(static_cast<size_t>(j) * s.nu + i) * 4];
            poles(i + 1, j + 1) = gp_Pnt(h[0] / h[3], h[1] / h[3], h[2] / h[3]);
            weights(i + 1, j + 1) = h[3];
        }
    auto knots = [](const std::vector<double>& k, std::vector<double>* values,
                    std::vector<int>* mults) {
        for (double x : k) {
            if (!values->empty() && values->back() == x)
                ++mults->back();
            else
                values->push_back(x), mults->push_back(1);
        }
    };
    std::vector<double> uv, vv;
    std::vector<int> um, vm;
    knots(s.uk, &uv, &um);
    knots(s.vk, &vv, &vm);
    TColStd_Array1OfReal uk(1, static_cast<int>(uv.size())), vk(1, static_cast<int>(vv.size()));
    TColStd_Array1OfInteger umul(1, static_cast<int>(um.size())),
        vmul(1, static_cast<int>(vm.size()));
    for (size_t i = 0; i < uv.size(); ++i)
        uk(static_cast<int>(i) + 1) = uv[i], umul(static_cast<int>(i) + 1) = um[i];
    for (size_t i = 0; i < vv.size(); ++i)
        vk(static_cast<int>(i) + 1) = vv[i], vmul(static_cast<int>(i) + 1) = vm[i];
    return new Geom_BSplineSurface(poles, weights, uk, vk, umul, vmul, s.du, s.dv);
}

Measure run_ruvane(const std::string& text, double D, ruvane::iges::ModelMesh* mesh) {
    Measure m;
    const double t0 = cpu_ms();
    ruvane::iges::Model model;
    std::string why;
    ruvane::iges::read_model(text.data(), text.size(), ruvane::iges::Limits{}, &model, &why);
    const double t1 = cpu_ms();
    ruvane::iges::MeshOptions o;
    o.deflection = D;
    ruvane::iges::mesh_model(model, o, mesh);
    const double t2 = cpu_ms();
    m.read_ms = t1 - t0;
    m.mesh_ms = t2 - t1;
    m.triangles = mesh->triangles.size();
    m.open = open_edges(mesh->triangles);
    m.faces = static_cast<int>(mesh->faces.size());
    for (const auto& f : mesh->faces) m.failed += !f.failure.empty();
    return m;
}

Measure run_occt(const std::string& path, double D, TopoDS_Shape* shape, std::vector<P3>* verts,
                 std::vector<Tri>* tris) {
    Measure m;
    const double t0 = cpu_ms();
    IGESControl_Reader reader;
    reader.ReadFile(path.c_str());
    reader.TransferRoots();
    *shape = reader.OneShape();
    const double t1 = cpu_ms();
    BRepMesh_IncrementalMesh mesher(*shape, D, false, 0.5, false);
    const double t2 = cpu_ms();
    m.read_ms = t1 - t0;
    m.mesh_ms = t2 - t1;
    std::map<P3, int> index;
    for (TopExp_Explorer ex(*shape, TopAbs_FACE); ex.More(); ex.Next()) {
        const TopoDS_Face face = TopoDS::Face(ex.Current());
        ++m.faces;
        TopLoc_Location loc;
        const Handle(Poly_Triangulation) tri = BRep_Tool::Triangulation(face, loc);
        if (tri.IsNull()) {
            ++m.failed;
            continue;
        }
        const gp_Trsf tr = loc.Transformation();
        std::vector<int> ids(static_cast<size_t>(tri->NbNodes()) + 1);
        for (int i = 1; i <= tri->NbNodes(); ++i) {
            const gp_Pnt p = tri->Node(i).Transformed(tr);
            auto [it, fresh] =
                index.emplace(P3{p.X(), p.Y(), p.Z()}, static_cast<int>(verts->size()));
            if (fresh) verts->push_back(it->first);
            ids[static_cast<size_t>(i)] = it->second;
        }
        const bool reversed = face.Orientation() == TopAbs_REVERSED;
        for (int i = 1; i <= tri->NbTriangles(); ++i) {
            int a, b, c;
            tri->Triangle(i).Get(a, b, c);
            if (reversed) std::swap(b, c);
            tris->push_back({ids[static_cast<size_t>(a)], ids[static_cast<size_t>(b)],
                             ids[static_cast<size_t>(c)]});
        }
    }
    m.triangles = tris->size();
    m.open = open_edges(*tris);
    return m;
}

// Largest distance of the sample points of (at most about 2000 of) the
// triangles to their own face's surface.
double ruvane_deviation(const std::string& text, const ruvane::iges::ModelMesh& mesh) {
    ruvane::iges::Model model;
    std::string why;
    ruvane::iges::read_model(text.data(), text.size(), ruvane::iges::Limits{}, &model, &why);
    std::vector<Handle(Geom_Surface)> surfaces;
    for (const auto& f : model.faces) surfaces.push_back(as_occt(f.surface));
    const size_t step = std::max<size_t>(1, mesh.triangles.size() / 2000);
    double worst = 0;
    for (size_t t = 0; t < mesh.triangles.size(); t += step) {
        const Tri& k = mesh.triangles[t];
        for (const gp_Pnt& p :
             probes(mesh.vertices[k[0]], mesh.vertices[k[1]], mesh.vertices[k[2]]))
            worst =
                std::max(worst, distance(surfaces[static_cast<size_t>(mesh.triangle_face[t])], p));
    }
    return worst;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: iges-compare WORKDIR REPORT.md\n");
        return 2;
    }
    const std::string dir = argv[1];
    struct Model {
        const char* name;
        std::function<void(IgesBuilder*)> make;
    };
    using namespace ruvane::iges::testing;
    const Model models[] = {
        {"box (B-rep)",
         [](IgesBuilder* b) {
             box_brep(b, {40, 25, 10});
         }},
        {"box (sewn faces)",
         [](IgesBuilder* b) {
             box_sewn(b, {40, 25, 10});
         }},
        {"cylinder (B-rep)", [](IgesBuilder* b) { cylinder_brep(b, 12, 30); }},
        {"plate, 12 holes (sewn)", [](IgesBuilder* b) { plate_sewn(b, 60, 40, 8, 4, 3, 3); }},
        {"plate, 60 holes (sewn)", [](IgesBuilder* b) { plate_sewn(b, 120, 80, 10, 10, 6, 3); }},
    };
    ComponentServices table = {};
    table.table_version = 1;
    table.allocate = [](size_t size) { return std::malloc(size); };
    table.release = [](void* block) { std::free(block); };
    if (!component_client_init(&table)) return 1;
    std::ostringstream rep;
    rep << "| model | D / diag | faces | read ms ruvane / OCCT | mesh ms ruvane / OCCT | mesh time "
           "ratio | "
           "triangles ruvane / OCCT | ratio | open edges ruvane / OCCT | deviation / D ruvane | "
           "failed faces ruvane / OCCT |\n|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (const Model& md : models) {
        IgesBuilder b;
        md.make(&b);
        const std::string text = b.str();
        std::string file = dir + "/" + md.name;
        for (char& c : file)
            if (c == ' ' || c == ',' || c == '(' || c == ')') c = '_';
        file += ".igs";
        std::ofstream(file, std::ios::binary) << text;
        for (double rel : {1e-3, 1e-4}) {
            TopoDS_Shape shape;
            std::vector<P3> ov;
            std::vector<Tri> ot;
            // The diagonal of what OpenCASCADE read: the same for both.
            IGESControl_Reader probe;
            probe.ReadFile(file.c_str());
            probe.TransferRoots();
            Bnd_Box box;
            BRepBndLib::Add(probe.OneShape(), box);
            const double diag = std::sqrt(box.SquareExtent());
            const double D = rel * diag;
            const Measure o = run_occt(file, D, &shape, &ov, &ot);
            ruvane::iges::ModelMesh mesh;
            Measure r = run_ruvane(text, D, &mesh);
            r.deviation = ruvane_deviation(text, mesh);
            // OpenCASCADE's deviation is left out: measured against
            // BRep_Tool::Surface it gave 93 D on a box's planes, a fault of
            // this measure, not of the mesher, not yet found.
            const Measure oo = o;
            char line[640];
            std::snprintf(
                line, sizeof line,
                "| %s | %g | %d | %.2f / %.2f | %.2f / %.2f | %.2f | %zu / %zu | %.2f | %d / %d | "
                "%.2f | %d / %d |\n",
                md.name, rel, r.faces, r.read_ms, oo.read_ms, r.mesh_ms, oo.mesh_ms,
                oo.mesh_ms > 0 ? r.mesh_ms / oo.mesh_ms : 0.0, r.triangles, oo.triangles,
                oo.triangles ? static_cast<double>(r.triangles) / oo.triangles : 0.0, r.open,
                oo.open, r.deviation / D, r.failed, oo.failed);
            rep << line;
            std::fputs(line, stdout);
            std::fflush(stdout);
        }
    }
    component_client_shutdown();
    std::ofstream(argv[2]) << rep.str();
    return 0;
}
