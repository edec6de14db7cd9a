// libFuzzer target: any bytes through the model library's C interface, as a
// host would pass them: open, summary, every skipped kind, and for small
// models a coarse mesh read back to its last index. The deflection is in
// millimetres whatever the model's size, so a large model still makes a
// large mesh: run with a generous -timeout.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "include/ruvane_iges.h"

namespace {

bool start() {
    static ComponentServices host = {};
    host.table_version = 2;
    host.allocate = [](size_t size) { return std::malloc(size); };
    host.release = [](void* block) { std::free(block); };
    return component_client_init(&host);
}

void read_mesh(RuvaneIgesMesh* mesh) {
    RuvaneIgesMeshData m{};
    if (ruvane_iges_mesh_data(mesh, &m) != RUVANE_IGES_OK) std::abort();
    for (int32_t t = 0; t < m.triangle_count; ++t)
        if (m.triangles[3 * t + 2] >= m.vertex_count || m.triangle_face[t] >= m.face_count)
            std::abort();
    RuvaneIgesFaceOutcome o{};
    for (int32_t f = 0; f < m.face_count; ++f)
        if (ruvane_iges_face_outcome(mesh, f, &o) != RUVANE_IGES_OK || o.failure == nullptr)
            std::abort();
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
    if (s.faces <= 8 && ruvane_iges_mesh(model, 1.0, 1e-6, &mesh) == RUVANE_IGES_OK)
        read_mesh(mesh);
    ruvane_iges_free_mesh(&mesh);
    ruvane_iges_close(&model);
    return 0;
}
