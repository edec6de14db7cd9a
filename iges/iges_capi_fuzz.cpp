// libFuzzer target: any bytes through the model library's C interface, as a
// host would pass them: open, summary, every skipped kind, and for small
// models two meshes read back to their last index. The first is coarse (a
// deflection of a metre: few points a side, the boundary-only paths); the
// second, made only when the first was small, is finer in proportion to
// the model (a 100th of its diagonal, never below a micrometre), so that
// fixed loops carry several points a side and seams settle in pairs. The
// caps keep one input from running for minutes: at most 32 faces, and the
// fine mesh only after a coarse one of at most 2000 vertices.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "include/ruvane_iges.h"

namespace {

constexpr int32_t kMostFaces = 32;
constexpr int32_t kMostCoarseVertices = 2000;
constexpr double kCoarse = 1000.0;        // mm
constexpr double kFineShare = 1.0 / 100;  // of the coarse mesh's diagonal
constexpr double kFinest = 1e-3;          // mm

bool start() {
    static ComponentServices host = {};
    host.table_version = 2;
    host.allocate = [](size_t size) { return std::malloc(size); };
    host.release = [](void* block) { std::free(block); };
    return component_client_init(&host);
}

// Reads the mesh back to its last index; the diagonal of its vertices' box
// (0 without vertices, not finite for far or broken ones).
double read_mesh(RuvaneIgesMesh* mesh, int32_t* vertices) {
    RuvaneIgesMeshData m{};
    if (ruvane_iges_mesh_data(mesh, &m) != RUVANE_IGES_OK) std::abort();
    for (int32_t t = 0; t < m.triangle_count; ++t)
        for (int c = 0; c < 3; ++c)
            if (m.triangles[3 * t + c] < 0 || m.triangles[3 * t + c] >= m.vertex_count ||
                m.triangle_face[t] < 0 || m.triangle_face[t] >= m.face_count)
                std::abort();
    RuvaneIgesFaceOutcome o{};
    for (int32_t f = 0; f < m.face_count; ++f)
        if (ruvane_iges_face_outcome(mesh, f, &o) != RUVANE_IGES_OK || o.failure == nullptr)
            std::abort();
    *vertices = m.vertex_count;
    if (m.vertex_count == 0) return 0.0;
    double low[3], high[3];
    for (int k = 0; k < 3; ++k) low[k] = high[k] = m.vertices[k];
    for (int32_t v = 0; v < m.vertex_count; ++v)
        for (int k = 0; k < 3; ++k) {
            low[k] = std::fmin(low[k], m.vertices[3 * v + k]);
            high[k] = std::fmax(high[k], m.vertices[3 * v + k]);
        }
    return std::hypot(high[0] - low[0], high[1] - low[1], high[2] - low[2]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = start();
    RuvaneIgesModel* model = nullptr;
    if (!started || ruvane_iges_open(data, static_cast<uint32_t>(size), &model) != RUVANE_IGES_OK)
        return 0;
    RuvaneIgesSummary s{};
    RuvaneIgesSkippedKind kind{};
    if (ruvane_iges_summary(model, &s) != RUVANE_IGES_OK) std::abort();
    for (int32_t k = 0; k < s.skipped_kinds; ++k)
        if (ruvane_iges_skipped_kind(model, k, &kind) != RUVANE_IGES_OK) std::abort();
    RuvaneIgesMesh* mesh = nullptr;
    double diagonal = 0.0;
    int32_t vertices = 0;
    if (s.faces <= kMostFaces && ruvane_iges_mesh(model, kCoarse, 1e-6, &mesh) == RUVANE_IGES_OK)
        diagonal = read_mesh(mesh, &vertices);
    ruvane_iges_free_mesh(&mesh);
    const double fine = std::fmax(diagonal * kFineShare, kFinest);
    if (vertices > 0 && vertices <= kMostCoarseVertices && std::isfinite(fine) &&
        ruvane_iges_mesh(model, fine, 1e-6, &mesh) == RUVANE_IGES_OK)
        read_mesh(mesh, &vertices);
    ruvane_iges_free_mesh(&mesh);
    ruvane_iges_close(&model);
    return 0;
}
