#include "tools/ruvane_tess/model_mode.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace ruvane_tess {
namespace {

using ruvane::iges::ModelMesh;

// Every text model mode prints.
constexpr const char* kCannotRead = "ruvane-tess: cannot read %s\n";
constexpr const char* kNotModel = "ruvane-tess: %s: %s\n";
constexpr const char* kBadDeflection = "ruvane-tess: the deflection must be positive and finite\n";
constexpr const char* kProgress = "\rruvane-tess: meshing face %zu of %zu";
constexpr const char* kSummary =
    "%zu faces (%zu failed), %zu triangles, %d free edges, %d shared edges, %d unmatched "
    "boundary curves, deflection %g mm, read %.3f ms, meshed %.3f ms\n";
constexpr const char* kFailedFace = "failed face %d: %s\n";
constexpr const char* kSkipped = "skipped entity %d (type %d): %s\n";
constexpr const char* kProblem = "warning: %s\n";
constexpr const char* kNotWritten = "ruvane-tess: nothing meshed, %s not written\n";
// Long models get a progress line from this many faces on.
constexpr size_t kProgressFrom = 50;

void* host_allocate(size_t size) { return std::malloc(size); }
void host_release(void* block) { std::free(block); }

bool read_all(const std::string& path, std::vector<char>* out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

std::array<double, 3> normal_of(const ModelMesh& m, const std::array<int, 3>& t) {
    const auto& a = m.vertices[static_cast<size_t>(t[0])];
    const auto& b = m.vertices[static_cast<size_t>(t[1])];
    const auto& c = m.vertices[static_cast<size_t>(t[2])];
    const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const double v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    std::array<double, 3> n = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                               u[0] * v[1] - u[1] * v[0]};
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (len > 0)
        for (double& x : n) x /= len;
    return n;
}

}  // namespace

bool is_model_file(const std::string& path) {
    std::string tail;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    for (char c : path.substr(dot + 1))
        tail += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == "igs" || tail == "iges";
}

bool write_model_obj(const ModelMesh& mesh, std::FILE* out) {
    for (const auto& v : mesh.vertices)
        std::fprintf(out, "v %.17g %.17g %.17g\n", v[0], v[1], v[2]);
    int group = -1;
    for (size_t t = 0; t < mesh.triangles.size(); ++t) {
        const int face = mesh.triangle_face[t];
        if (face != group) {
            group = face;
            std::fprintf(out, "g face_%d\n", mesh.faces[static_cast<size_t>(face)].entity);
        }
        const auto& k = mesh.triangles[t];
        std::fprintf(out, "f %d %d %d\n", k[0] + 1, k[1] + 1, k[2] + 1);
    }
    return !std::ferror(out);
}

bool write_model_ply(const ModelMesh& mesh, std::FILE* out) {
    std::fprintf(out,
                 "ply\nformat ascii 1.0\nelement vertex %zu\nproperty double x\nproperty double "
                 "y\nproperty double z\nelement face %zu\nproperty list uchar int vertex_indices\n"
                 "end_header\n",
                 mesh.vertices.size(), mesh.triangles.size());
    for (const auto& v : mesh.vertices) std::fprintf(out, "%.17g %.17g %.17g\n", v[0], v[1], v[2]);
    for (const auto& k : mesh.triangles) std::fprintf(out, "3 %d %d %d\n", k[0], k[1], k[2]);
    return !std::ferror(out);
}

bool write_model_stl(const ModelMesh& mesh, std::FILE* out) {
    std::fprintf(out, "solid ruvane\n");
    for (const auto& k : mesh.triangles) {
        const auto n = normal_of(mesh, k);
        std::fprintf(out, "facet normal %.9g %.9g %.9g\nouter loop\n", n[0], n[1], n[2]);
        for (int v : k) {
            const auto& p = mesh.vertices[static_cast<size_t>(v)];
            std::fprintf(out, "vertex %.17g %.17g %.17g\n", p[0], p[1], p[2]);
        }
        std::fprintf(out, "endloop\nendfacet\n");
    }
    std::fprintf(out, "endsolid ruvane\n");
    return !std::ferror(out);
}

int run_model(const ModelRun& run) {
    std::vector<char> data;
    if (!read_all(run.input, &data)) {
        std::fprintf(stderr, kCannotRead, run.input.c_str());
        return 1;
    }
    const auto t0 = std::chrono::steady_clock::now();
    ruvane::iges::Model model;
    std::string why;
    if (!ruvane::iges::read_model(data.data(), data.size(), ruvane::iges::Limits{}, &model, &why)) {
        std::fprintf(stderr, kNotModel, run.input.c_str(), why.c_str());
        return 1;
    }
    const auto t1 = std::chrono::steady_clock::now();
    ruvane::iges::MeshOptions options;
    options.deflection = run.deflection > 0 ? run.deflection : run.relative * ruvane::iges::net_diagonal(model);
    if (!(options.deflection > 0) || !std::isfinite(options.deflection)) {
        std::fputs(kBadDeflection, stderr);
        return model.faces.empty() ? 2 : 1;
    }
    const size_t total = model.faces.size();
    size_t shown = 0;
    if (total >= kProgressFrom)
        options.progress = [&](size_t done, size_t all) {
            if (done * 50 / all != shown || done == all) {
                shown = done * 50 / all;
                std::fprintf(stderr, kProgress, done, all);
                if (done == all) std::fputc('\n', stderr);
            }
        };
    ComponentServices host{};
    host.table_version = 2;
    host.allocate = host_allocate;
    host.release = host_release;
    (void)component_client_interface_version();
    if (!component_client_init(&host)) {
        std::fputs(kInitFailed, stderr);
        return 2;
    }
    ModelMesh mesh;
    const bool ok = ruvane::iges::mesh_model(model, options, &mesh);
    component_client_shutdown();
    const auto t2 = std::chrono::steady_clock::now();
    if (!ok) {
        std::fputs(kLibraryFailed, stderr);
        return 2;
    }
    size_t failed = 0;
    for (const auto& f : mesh.faces) failed += !f.failure.empty();
    const ruvane::iges::EdgeCheck edges = ruvane::iges::check_edges(mesh);
    std::printf(kSummary, mesh.faces.size(), failed, mesh.triangles.size(), edges.free + edges.bad,
                mesh.shared_edges, mesh.unmatched_edges, options.deflection,
                std::chrono::duration<double, std::milli>(t1 - t0).count(),
                std::chrono::duration<double, std::milli>(t2 - t1).count());
    for (const auto& f : mesh.faces)
        if (!f.failure.empty()) std::printf(kFailedFace, f.entity, f.failure.c_str());
    for (const auto& s : model.skipped) std::printf(kSkipped, s.entity, s.type, s.reason.c_str());
    for (const auto& p : model.problems) std::printf(kProblem, p.c_str());
    if (mesh.triangles.empty()) {
        if (!run.output.empty()) std::fprintf(stderr, kNotWritten, run.output.c_str());
        return 2;
    }
    if (!run.output.empty()) {
        std::FILE* out = std::fopen(run.output.c_str(), "wb");
        bool written = out != nullptr;
        if (out) {
            if (run.format == "ply")
                written = write_model_ply(mesh, out);
            else if (run.format == "stl")
                written = write_model_stl(mesh, out);
            else
                written = write_model_obj(mesh, out);
            written = std::fclose(out) == 0 && written;
        }
        if (!written) {
            std::fprintf(stderr, kCannotWrite, run.output.c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace ruvane_tess
