// ruvane-tess: tessellates a trimmed NURBS surface described in a JSON file
// through the component's C interface, as a player would, and writes the
// mesh as OBJ or PLY. See README.md for the file format.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "include/ruvane.h"
#include "tools/ruvane_tess/loop_check.h"
#include "tools/ruvane_tess/mesh_writer.h"
#include "tools/ruvane_tess/model_mode.h"
#include "tools/ruvane_tess/surface_json.h"

namespace {

using ruvane_tess::kCannotWrite;
using ruvane_tess::kInitFailed;
using ruvane_tess::kLibraryFailed;

// Every text the tool prints.
constexpr const char* kUsage =
    "usage: ruvane-tess INPUT.json [-o OUTPUT.obj|OUTPUT.ply] [--format obj|ply]\n"
    "                  [--surface-tolerance X] [--trim-tolerance X] [--param-tolerance X]\n"
    "       ruvane-tess MODEL.igs [-o OUTPUT.obj|OUTPUT.ply|OUTPUT.stl] [--format obj|ply|stl]\n"
    "                  [--deflection MM | --relative-deflection X]\n";
constexpr const char* kCannotRead = "ruvane-tess: cannot read %s\n";
constexpr const char* kWrongUse = "ruvane-tess: %s (ruvane-tess --help shows the usage)\n";
constexpr const char* kBadInput = "ruvane-tess: %s: %s\n";
constexpr const char* kBadNumber = "ruvane-tess: %s needs a number\n";
constexpr const char* kResult = "status %d (%s), %zu triangles, %.3f ms\n";
constexpr const char* kNoMesh = "no triangles";
constexpr const char* kEveryOrientation = "the tessellator failed with every loop orientation";
constexpr const char* kRefused =
    "ruvane-tess: tolerance refused (surface %g, trim %g, param %g): surface and trim must be "
    "finite and at least 1e-7, param finite, positive and not denormal\n";
constexpr const char* kCornerLimit =
    "ruvane-tess: the subdivision reached its limit of %d cell corners; raise "
    "--surface-tolerance (now %g)\n";
constexpr const char* kFailedAt = "ruvane-tess: %s (error %d in %s)\n";
constexpr const char* kWarning = "ruvane-tess: warning: %s\n";
constexpr const char* kNotWritten = "ruvane-tess: nothing tessellated, %s not written\n";
constexpr const char* kStatusText[] = {
    "triangles delivered",         "surface rejected",
    "outer trim curve rejected",   "hole trim curve rejected",
    "triangle list not extracted", "some triangles skipped: vertex not evaluated",
};

void* host_allocate(size_t size) { return std::malloc(size); }
void host_release(void* block) { std::free(block); }

void collect(const TessTriangle* t, void* user) { static_cast<ruvane_tess::Mesh*>(user)->add(*t); }

// A wrong command line: one line saying what is wrong, exit code 2.
int wrong_use(const std::string& why) {
    std::fprintf(stderr, kWrongUse, why.c_str());
    return 2;
}

bool ends_with(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The cause of an empty result, from the status and the library's error
// record (fresh in this process, so it belongs to this call).
void explain_failure(int32_t status, int32_t error, const char* routine,
                     const ruvane_tess::Tolerances& t) {
    if (error == 19 && status == 0)
        std::fprintf(stderr, kRefused, t.surface, t.trim, t.param);
    else if (error == 9 && std::strcmp(routine, "N_TESSUB") == 0)
        std::fprintf(stderr, kCornerLimit, static_cast<int>(RUVANE_TESS_CORNER_LIMIT), t.surface);
    else if (error != 0)
        std::fprintf(stderr, kFailedAt,
                     status >= 1 && status <= 5 ? kStatusText[status] : kEveryOrientation, error,
                     routine);
}

}  // namespace

int main(int argc, char** argv) {
    std::string input, output, format;
    double overrides[3] = {0, 0, 0};
    ruvane_tess::ModelRun model;
    bool given[3] = {false, false, false};
    static const char* const kToleranceFlags[3] = {"--surface-tolerance", "--trim-tolerance",
                                                   "--param-tolerance"};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help" || a == "/?") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        int flag = -1;
        for (int k = 0; k < 3; ++k)
            if (a == kToleranceFlags[k]) flag = k;
        if (flag >= 0) {
            char* end = nullptr;
            if (i + 1 >= argc) {
                std::fprintf(stderr, kBadNumber, a.c_str());
                return 2;
            }
            overrides[flag] = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0') {
                std::fprintf(stderr, kBadNumber, a.c_str());
                return 2;
            }
            given[flag] = true;
        } else if (a == "--deflection" || a == "--relative-deflection") {
            char* end = nullptr;
            const double x = i + 1 < argc ? std::strtod(argv[++i], &end) : 0.0;
            if (end == nullptr || end == argv[i] || *end != '\0') {
                std::fprintf(stderr, kBadNumber, a.c_str());
                return 2;
            }
            (a == "--deflection" ? model.deflection : model.relative) = x;
        } else if ((a == "-o" || a == "--format") && i + 1 < argc) {
            (a == "-o" ? output : format) = argv[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            return wrong_use("unknown option " + a);
        } else if (input.empty()) {
            input = a;
        } else {
            return wrong_use("more than one input: " + a);
        }
    }
    if (input.empty()) return wrong_use("no input file");
    if (ruvane_tess::is_model_file(input)) {
        if (!format.empty() && format != "obj" && format != "ply" && format != "stl")
            return wrong_use("unknown format " + format);
        if (format.empty())
            format = ends_with(output, ".ply") ? "ply" : ends_with(output, ".stl") ? "stl" : "obj";
        if (!(model.relative > 0) || model.deflection < 0)
            return wrong_use("the deflection must be positive");
        model.input = input;
        model.output = output;
        model.format = format;
        return ruvane_tess::run_model(model);
    }
    if (!format.empty() && format != "obj" && format != "ply")
        return wrong_use("unknown format " + format);
    if (format.empty()) format = ends_with(output, ".ply") ? "ply" : "obj";

    std::ifstream in(input, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, kCannotRead, input.c_str());
        return 1;
    }
    ruvane_tess::SurfaceData surface;
    std::string error;
    if (!ruvane_tess::read_surface_description(text.str(), surface, error)) {
        std::fprintf(stderr, kBadInput, input.c_str(), error.c_str());
        return 1;
    }
    if (given[0]) surface.tolerances.surface = overrides[0];
    if (given[1]) surface.tolerances.trim = overrides[1];
    if (given[2]) surface.tolerances.param = overrides[2];

    // The player's side of the protocol: version, host table, work, shutdown.
    ComponentServices host{};
    host.table_version = 2;
    host.allocate = host_allocate;
    host.release = host_release;
    (void)component_client_interface_version();
    if (!component_client_init(&host)) {
        std::fputs(kInitFailed, stderr);
        return 2;
    }
    const ruvane_tess::SurfaceRecords records(surface);
    ruvane_tess::Mesh mesh;
    int32_t status = 0;
    const auto start = std::chrono::steady_clock::now();
    const bool ok =
        ruvane_tesselate_ruvane(collect, records.get(), &status, surface.tolerances.surface,
                                surface.tolerances.trim, surface.tolerances.param, &mesh);
    const auto stop = std::chrono::steady_clock::now();
    if (!ok) {
        component_client_shutdown();
        std::fputs(kLibraryFailed, stderr);
        return 2;
    }
    char routine[9] = "";
    const int32_t error_code = ruvane_last_error(routine);
    const double ms = std::chrono::duration<double, std::milli>(stop - start).count();
    const char* meaning = status >= 0 && status <= 5 ? kStatusText[status] : "?";
    if (status == 0 && mesh.faces.empty()) meaning = kNoMesh;
    std::printf(kResult, static_cast<int>(status), meaning, mesh.faces.size(), ms);
    if (mesh.faces.empty()) explain_failure(status, error_code, routine, surface.tolerances);
    for (const std::string& w : ruvane_tess::check_loops(surface))
        std::fprintf(stderr, kWarning, w.c_str());
    component_client_shutdown();
    if (!output.empty() && mesh.faces.empty()) {
        std::fprintf(stderr, kNotWritten, output.c_str());
    } else if (!output.empty()) {
        std::ofstream out(output, std::ios::binary);
        if (format == "ply")
            ruvane_tess::write_ply(mesh, out);
        else
            ruvane_tess::write_obj(mesh, out);
        out.flush();
        if (!out) {
            std::fprintf(stderr, kCannotWrite, output.c_str());
            return 1;
        }
    }
    return (status == 0 || status == 5) && !mesh.faces.empty() ? 0 : 2;
}
