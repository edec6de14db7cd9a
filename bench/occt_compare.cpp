// occt-compare: meshes every face of generated models with ruvane (through
// its C interface, as a player does) and with BRepMesh at the same linear
// deflection, measures both meshes the same way against the true geometry,
// and writes the report.
//
//   occt-compare [--quick] [--out DIR] [--work DIR] [--revision TEXT] [--only MODEL,...]
//                [--first-calls DIR]   (DIR/first_call_<level>.md from ruvane-first-call)
//   occt-compare --picture MODEL:FACE:LEVEL:FILE.png ...   (level 0, 1, 2: the three D)
#include <sys/utsname.h>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepTools.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <Poly_HArray1OfTriangle.hxx>
#include <Poly_Triangulation.hxx>
#include <TColgp_HArray1OfPnt.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "bench/occt_export.h"
#include "bench/occt_measure.h"
#include "bench/occt_meshers.h"
#include "bench/occt_models.h"
#include "bench/occt_report.h"
#include "include/ruvane.h"

namespace fs = std::filesystem;
using namespace occt_bench;

namespace {

struct Options {
    bool quick = false;
    std::string out = "bench/results";
    std::string work = ".";
    std::string revision = "unknown";
    std::string only;  // comma-separated model names; empty for all
    // MODEL:FACE:LEVEL:FILE.png, each a picture of one face's two meshes
    // (ruvane | BRepMesh) at level 0, 1 or 2 instead of the report.
    std::vector<std::string> pictures;
    // Holds first_call_<0|1|2>.md, ruvane-first-call --summary per tolerance.
    std::string first_calls;
};

// Tolerances as fractions of the model's bounding-box diagonal.
constexpr double kFactors[3] = {1e-2, 3e-3, 1e-3};

void* host_allocate(size_t size) { return std::malloc(size); }
void host_release(void* block) { std::free(block); }

void score(Run& run, const Mesh& mesh, const SurfaceProbe& surface, const EdgeProbe& edges,
           double area) {
    run.triangles = static_cast<long>(mesh.triangles.size());
    if (mesh.triangles.empty()) return;
    run.edge_bound = edge_bound_triangles(mesh);
    const Quality q = measure(mesh, surface, edges);
    run.deviation = q.deviation;
    run.boundary = q.boundary;
    run.coverage = area > 0 ? q.area / area : 0;
}

const char* surface_kind(const TopoDS_Face& face) {
    static const char* const names[] = {"plane",     "cylinder", "cone",    "sphere",
                                        "torus",     "bezier",   "bspline", "revolution",
                                        "extrusion", "offset",   "other"};
    const int type = BRepAdaptor_Surface(face).GetType();
    return names[std::clamp(type, 0, 10)];
}

void run_face(const TopoDS_Face& original, const TopoDS_Face& face, const Options& options,
              FaceResult& result) {
    result.kind = surface_kind(original);
    FaceRecord record;
    if (!record.build(face, result.export_error)) return;
    result.holes = record.get()->inner_count;
    // Adaptive integration: the fixed rule misses area in crowded knot spans.
    GProp_GProps props;
    BRepGProp::SurfaceProperties(face, props, 1e-9);
    result.area = props.Mass();
    double u0, u1, v0, v1;
    BRepTools::UVBounds(face, u0, u1, v0, v1);
    const SurfaceProbe surface(BRep_Tool::Surface(face), u0, u1, v0, v1);
    const TopoDS_Face copy = TopoDS::Face(BRepBuilderAPI_Copy(face, true, false).Shape());
    const TopoDS_Face unconverted =
        TopoDS::Face(BRepBuilderAPI_Copy(original, true, false).Shape());
    for (int t = 0; t < 3; ++t) {
        const double d = result.tolerance[t];
        const EdgeProbe edges(face, d / 50);
        Mesh mesh;
        result.ruvane[t] = mesh_with_ruvane(record, d, mesh);
        score(result.ruvane[t], mesh, surface, edges, result.area);
        if (result.ruvane[t].failed) {
            // Kept for the tessellator's developers: ruvane-tess reads it.
            const fs::path dir = fs::path(options.work) / "failed_faces";
            fs::create_directories(dir);
            std::ofstream json(dir / (result.model + "_face" + std::to_string(result.face) +
                                      "_tol" + std::to_string(t) + ".json"));
            record.write_json(json, d, d);
        }
        result.occt[t] = mesh_with_brepmesh(copy, d, mesh);
        score(result.occt[t], mesh, surface, edges, result.area);
        // The same face before the conversion, as a user of the kernel
        // would mesh it; the geometry is the same, so are the measures.
        result.original[t] = mesh_with_brepmesh(unconverted, d, mesh);
        score(result.original[t], mesh, surface, edges, result.area);
    }
}

void run_model(const Model& model, const Options& options, Report& report) {
    Bnd_Box box;
    BRepBndLib::Add(model.shape, box);
    const double diagonal = std::sqrt(box.SquareExtent());
    // A broken model would measure the modeller rather than the meshers.
    if (!BRepCheck_Analyzer(model.shape).IsValid())
        std::printf("%s: the model is not a valid shape\n", model.name.c_str());
    BRepBuilderAPI_NurbsConvert convert(model.shape, true);
    TopTools_IndexedMapOfShape faces;
    TopExp::MapShapes(model.shape, TopAbs_FACE, faces);
    report.models.push_back(model.name);
    report.descriptions.push_back(model.what);
    report.diagonals.push_back(diagonal);
    for (int i = 1; i <= faces.Extent(); ++i) {
        const TopoDS_Face original = TopoDS::Face(faces(i));
        const TopoDS_Face converted = TopoDS::Face(convert.ModifiedShape(original));
        FaceResult result;
        result.model = model.name;
        result.face = i - 1;
        for (int t = 0; t < 3; ++t) result.tolerance[t] = kFactors[t] * diagonal;
        run_face(original, converted, options, result);
        const Run& r = result.ruvane[2];
        const Run& o = result.occt[2];
        std::printf(
            "%-18s face %3d %-10s holes %2d | ruvane %8.2f ms %7ld tri status %2d | "
            "BRepMesh %8.2f ms %7ld tri%s%s\n",
            model.name.c_str(), result.face, result.kind.c_str(), result.holes, r.ms, r.triangles,
            r.status, o.ms, o.triangles,
            result.export_error.empty() ? "" : " | not exported: ", result.export_error.c_str());
        std::fflush(stdout);
        report.faces.push_back(std::move(result));
    }
}

// Draws the pictures asked for with --picture; false when one cannot be made.
bool draw_pictures(const Options& options) {
    bool ok = true;
    for (const std::string& spec : options.pictures) {
        char model_name[64], file[512];
        int face = -1, level = -1;
        if (std::sscanf(spec.c_str(), "%63[^:]:%d:%d:%511s", model_name, &face, &level, file) !=
                4 ||
            level < 0 || level > 2) {
            std::fprintf(stderr, "occt-compare: bad picture %s\n", spec.c_str());
            ok = false;
            continue;
        }
        bool found = false;
        for (const Model& model : make_models(false)) {
            if (model.name != model_name) continue;
            TopTools_IndexedMapOfShape faces;
            TopExp::MapShapes(model.shape, TopAbs_FACE, faces);
            if (face < 0 || face >= faces.Extent()) break;
            Bnd_Box box;
            BRepBndLib::Add(model.shape, box);
            const double d = kFactors[level] * std::sqrt(box.SquareExtent());
            BRepBuilderAPI_NurbsConvert convert(model.shape, true);
            const TopoDS_Face converted =
                TopoDS::Face(convert.ModifiedShape(TopoDS::Face(faces(face + 1))));
            FaceRecord record;
            std::string why;
            if (!record.build(converted, why)) break;
            Mesh ours, theirs;
            mesh_with_ruvane(record, d, ours);
            const TopoDS_Face copy =
                TopoDS::Face(BRepBuilderAPI_Copy(converted, true, false).Shape());
            mesh_with_brepmesh(copy, d, theirs);
            found = draw_side_by_side(ours, theirs, file);
            std::printf("%s face %d D %g: ruvane %zu, BRepMesh %zu triangles -> %s\n", model_name,
                        face, d, ours.triangles.size(), theirs.triangles.size(), file);
        }
        if (!found) {
            std::fprintf(stderr, "occt-compare: no picture for %s\n", spec.c_str());
            ok = false;
        }
    }
    return ok;
}

std::string machine_text() {
    std::string cpu = "unknown processor";
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);)
        if (line.rfind("model name", 0) == 0) {
            cpu = line.substr(line.find(':') + 2);
            break;
        }
    utsname u{};
    uname(&u);
    return cpu + ", " + std::to_string(std::max(1u, std::thread::hardware_concurrency())) +
           " logical cores, " + u.sysname + " " + u.release + " " + u.machine;
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick")
            o.quick = true;
        else if ((a == "--out" || a == "--work" || a == "--revision") && i + 1 < argc)
            (a == "--out" ? o.out : a == "--work" ? o.work : o.revision) = argv[++i];
        else if (a == "--first-calls" && i + 1 < argc)
            o.first_calls = argv[++i];
        else if (a == "--picture" && i + 1 < argc)
            o.pictures.push_back(argv[++i]);
        else if (a == "--only" && i + 1 < argc)
            o.only = "," + std::string(argv[++i]) + ",";
        else
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fputs(
            "usage: occt-compare [--quick] [--out DIR] [--work DIR] [--revision TEXT]\n"
            "                    [--only MODEL,MODEL...] [--first-calls DIR]\n"
            "       occt-compare --picture MODEL:FACE:LEVEL:FILE.png...\n",
            stderr);
        return 1;
    }
    ComponentServices host{};
    host.table_version = 2;
    host.allocate = host_allocate;
    host.release = host_release;
    if (!component_client_init(&host)) return 2;

    if (!options.pictures.empty()) {
        const bool drawn = draw_pictures(options);
        component_client_shutdown();
        return drawn ? 0 : 1;
    }
    Report report;
    report.machine = machine_text();
    report.revision = options.revision;
    std::copy(std::begin(kFactors), std::end(kFactors), report.factors);
    if (!options.first_calls.empty())
        for (int t = 0; t < 3; ++t) {
            std::ifstream table(fs::path(options.first_calls) /
                                ("first_call_" + std::to_string(t) + ".md"));
            read_first_calls(table, report.first_call_ms[t]);
        }
    const std::time_t now = std::time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    report.date = date;
    for (const Model& model : make_models(options.quick))
        if (options.only.empty() || options.only.find("," + model.name + ",") != std::string::npos)
            run_model(model, options, report);
    component_client_shutdown();

    fs::create_directories(options.out);
    fs::create_directories(options.work);
    const std::string stem = options.quick ? "occt_compare_quick" : "occt_compare";
    std::ofstream md(fs::path(options.out) / (stem + ".md"));
    write_markdown(report, md);
    std::ofstream csv(fs::path(options.out) / (stem + "_faces.csv"));
    write_csv(report, csv);
    const std::string data = (fs::path(options.work) / (stem + "_chart.dat")).string();
    std::ofstream dat(data), gp(fs::path(options.work) / (stem + ".gp"));
    write_chart(report, data, dat, gp,
                fs::absolute(fs::path(options.out) / (stem + ".png")).string());
    return md && csv && dat && gp ? 0 : 1;
}
