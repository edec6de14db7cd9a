// The reader and the model mesher behind the library's C interface.
//
// What a host reads (summaries, texts, the mesh arrays) is laid out in one
// block per handle taken from the host's allocator, with the handle's own
// record at its front, and goes back through the release slot it came from.
// The reader's and the mesher's working containers are the standard ones
// and live on the library's heap for the length of a call (a model's parsed
// entities until it is closed): giving them the host's allocator would mean
// an allocator parameter through every structure the tool and the tests
// share, or replacing operator new for the whole library, which where the
// C++ runtime is shared would mix two heaps inside one string. Those
// containers are bounded by the reader's limits and never cross to the host.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "iges/iges_model.h"
#include "iges/model_mesh.h"
#include "include/ruvane_iges.h"
#include "nurbs/conventions.h"
#include "nurbs/fp_state.h"
#include "nurbs/host.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(RuvaneIgesSummary, faces) == 0 &&
              offsetof(RuvaneIgesSummary, entities) == 4);
static_assert(offsetof(RuvaneIgesSummary, skipped) == 8);
static_assert(offsetof(RuvaneIgesSummary, skipped_kinds) == 12);
static_assert(offsetof(RuvaneIgesSummary, blanked) == 16 &&
              offsetof(RuvaneIgesSummary, shells) == 20);
static_assert(offsetof(RuvaneIgesSummary, solids) == 24);
static_assert(offsetof(RuvaneIgesSummary, units_flag) == 28);
static_assert(offsetof(RuvaneIgesSummary, unit_to_mm) == 32);
static_assert(offsetof(RuvaneIgesSummary, tolerance_mm) == 40);
static_assert(offsetof(RuvaneIgesSummary, units_name) == 48);
static_assert(offsetof(RuvaneIgesSummary, reserved) == 52 && sizeof(RuvaneIgesSummary) == 56);
static_assert(offsetof(RuvaneIgesSkippedKind, type) == 0);
static_assert(offsetof(RuvaneIgesSkippedKind, count) == 4);
static_assert(offsetof(RuvaneIgesSkippedKind, reason) == 8 && sizeof(RuvaneIgesSkippedKind) == 12);
static_assert(offsetof(RuvaneIgesMeshData, vertex_count) == 0);
static_assert(offsetof(RuvaneIgesMeshData, triangle_count) == 4);
static_assert(offsetof(RuvaneIgesMeshData, face_count) == 8);
static_assert(offsetof(RuvaneIgesMeshData, failed_faces) == 12);
static_assert(offsetof(RuvaneIgesMeshData, free_edges) == 16);
static_assert(offsetof(RuvaneIgesMeshData, bad_edges) == 20);
static_assert(offsetof(RuvaneIgesMeshData, shared_edges) == 24);
static_assert(offsetof(RuvaneIgesMeshData, unmatched_edges) == 28);
static_assert(offsetof(RuvaneIgesMeshData, vertices) == 32);
static_assert(offsetof(RuvaneIgesMeshData, triangles) == 36);
static_assert(offsetof(RuvaneIgesMeshData, triangle_face) == 40);
static_assert(offsetof(RuvaneIgesMeshData, reserved) == 44 && sizeof(RuvaneIgesMeshData) == 48);
static_assert(offsetof(RuvaneIgesFaceOutcome, entity) == 0);
static_assert(offsetof(RuvaneIgesFaceOutcome, status) == 4);
static_assert(offsetof(RuvaneIgesFaceOutcome, triangles) == 8);
static_assert(offsetof(RuvaneIgesFaceOutcome, failure) == 12 &&
              sizeof(RuvaneIgesFaceOutcome) == 16);
#endif

// The opaque types are the front of these records, so a handle is the
// address of its record; it is followed only after it has been found among
// the live ones.
struct RuvaneIgesModel {
    RuvaneIgesModel* next_live = nullptr;
    ComponentReleaseFn release = nullptr;
    ruvane::iges::Model model;
    RuvaneIgesSummary summary{};
    const RuvaneIgesSkippedKind* kinds = nullptr;
};

struct RuvaneIgesMesh {
    RuvaneIgesMesh* next_live = nullptr;
    ComponentReleaseFn release = nullptr;
    RuvaneIgesMeshData data{};
    const RuvaneIgesFaceOutcome* faces = nullptr;
};

namespace ruvane::iges {
namespace {

// The handles handed out and not yet freed. The library serves one thread
// at a time, as its other exports do.
RuvaneIgesModel* g_models = nullptr;
RuvaneIgesMesh* g_meshes = nullptr;

template <typename T>
bool is_live(T* head, const void* handle) {
    if (handle == nullptr) return false;
    for (const T* p = head; p != nullptr; p = p->next_live)
        if (p == handle) return true;
    return false;
}

template <typename T>
void unlink(T** head, T* object) {
    for (T** p = head; *p != nullptr; p = &(*p)->next_live)
        if (*p == object) {
            *p = object->next_live;
            return;
        }
}

// Offsets of the arrays in one block, each aligned, the total checked in
// 32 bits so that the same model fails the same way on both builds.
class BlockLayout {
public:
    explicit BlockLayout(size_t head) : bytes_(head) {}
    // Offset of `count` items of `size` bytes; 0 once the total overflowed.
    size_t add(size_t count, size_t size, size_t align) {
        if (!ok_) return 0;
        const size_t at = (bytes_ + align - 1) / align * align;
        if (at > kMax || (size != 0 && count > (kMax - at) / size)) {
            ok_ = false;
            return 0;
        }
        bytes_ = at + count * size;
        return at;
    }
    bool ok() const { return ok_; }
    size_t bytes() const { return bytes_; }

private:
    static constexpr size_t kMax = INT32_MAX;
    size_t bytes_;
    bool ok_ = true;
};

// Terminated texts packed at the end of a block: reserved while the layout
// is made, copied once the block exists.
class TextArea {
public:
    explicit TextArea(BlockLayout* layout) : layout_(layout), offset_(layout->bytes()) {}
    void reserve(const std::string& text) { layout_->add(text.size() + 1, 1, 1); }
    void start(char* base) { cursor_ = base + offset_; }
    const char* put(const std::string& text) {
        char* at = cursor_;
        std::memcpy(at, text.c_str(), text.size() + 1);
        cursor_ += text.size() + 1;
        return at;
    }

private:
    BlockLayout* layout_;
    size_t offset_;
    char* cursor_ = nullptr;
};

bool host_ready() {
    const ComponentServices& host = host_services();
    return host.allocate != nullptr && host.release != nullptr;
}

// One block from the host for a handle: its record first, then the arrays.
template <typename T>
T* take_block(const BlockLayout& layout, char** base) {
    const ComponentServices& host = host_services();
    void* block = host.allocate(layout.bytes());
    if (block == nullptr) return nullptr;
    std::memset(block, 0, layout.bytes());
    *base = static_cast<char*>(block);
    T* object = new (block) T();
    object->release = host.release;
    return object;
}

template <typename T>
void give_back(T* object) {
    const ComponentReleaseFn release = object->release;
    object->~T();
    release(object);
}

int32_t open_status(const char* data, size_t size) {
    // The reader said no: ask the file level which refusal it was. A file it
    // accepts there failed for memory.
    File file;
    try {
        switch (read_file(data, size, Limits{}, &file)) {
            case ReadStatus::kNotIges:
                return RUVANE_IGES_NOT_IGES;
            case ReadStatus::kTooLarge:
                return RUVANE_IGES_TOO_LARGE;
            case ReadStatus::kUnsupportedForm:
                return RUVANE_IGES_UNSUPPORTED;
            case ReadStatus::kOk:
                break;
        }
    } catch (const std::bad_alloc&) {
    }
    return RUVANE_IGES_NO_MEMORY;
}

struct Kind {
    int count = 0;
    const std::string* reason = nullptr;
};

int32_t publish_model(Model* model, RuvaneIgesModel** out) {
    std::map<int, Kind> kinds;
    for (const Skipped& s : model->skipped) {
        Kind& k = kinds[s.type];
        if (k.count++ == 0) k.reason = &s.reason;
    }
    BlockLayout layout(sizeof(RuvaneIgesModel));
    const size_t at_kinds =
        layout.add(kinds.size(), sizeof(RuvaneIgesSkippedKind), alignof(RuvaneIgesSkippedKind));
    TextArea texts(&layout);
    texts.reserve(model->global.units_name);
    for (const auto& [type, k] : kinds) texts.reserve(*k.reason);
    if (!layout.ok()) return RUVANE_IGES_TOO_LARGE;
    char* base = nullptr;
    RuvaneIgesModel* m = take_block<RuvaneIgesModel>(layout, &base);
    if (m == nullptr) return RUVANE_IGES_NO_MEMORY;
    texts.start(base);
    auto* kind = reinterpret_cast<RuvaneIgesSkippedKind*>(base + at_kinds);
    for (const auto& [type, k] : kinds) *kind++ = {type, k.count, texts.put(*k.reason)};
    m->kinds = reinterpret_cast<const RuvaneIgesSkippedKind*>(base + at_kinds);
    RuvaneIgesSummary& s = m->summary;
    s.faces = static_cast<int32_t>(model->faces.size());
    s.entities = model->entities;
    s.skipped = static_cast<int32_t>(model->skipped.size());
    s.skipped_kinds = static_cast<int32_t>(kinds.size());
    s.blanked = model->blanked;
    s.shells = model->shells;
    s.solids = model->solids;
    s.units_flag = model->global.units_flag;
    s.unit_to_mm = model->global.unit_to_mm;
    s.tolerance_mm = model->tolerance;
    s.units_name = texts.put(model->global.units_name);
    m->model = std::move(*model);
    m->next_live = g_models;
    g_models = m;
    *out = m;
    return RUVANE_IGES_OK;
}

int32_t open(const void* data, uint32_t size, RuvaneIgesModel** out) {
    if (out == nullptr || (data == nullptr && size != 0)) return RUVANE_IGES_BAD_ARGUMENT;
    if (!host_ready()) return RUVANE_IGES_NO_HOST;
    const char* bytes = data != nullptr ? static_cast<const char*>(data) : "";
    Model model;
    std::string why;
    if (!read_model(bytes, size, Limits{}, &model, &why)) return open_status(bytes, size);
    return publish_model(&model, out);
}

bool fits(size_t n) { return n <= static_cast<size_t>(INT32_MAX); }

int32_t publish_mesh(const ModelMesh& mesh, RuvaneIgesMesh** out) {
    const size_t nv = mesh.vertices.size(), nt = mesh.triangles.size(), nf = mesh.faces.size();
    if (!fits(nv) || !fits(nt) || !fits(nf)) return RUVANE_IGES_TOO_LARGE;
    BlockLayout layout(sizeof(RuvaneIgesMesh));
    const size_t at_vertices = layout.add(nv, 3 * sizeof(double), alignof(double));
    const size_t at_faces =
        layout.add(nf, sizeof(RuvaneIgesFaceOutcome), alignof(RuvaneIgesFaceOutcome));
    const size_t at_triangles = layout.add(nt, 3 * sizeof(int32_t), alignof(int32_t));
    const size_t at_owner = layout.add(nt, sizeof(int32_t), alignof(int32_t));
    TextArea texts(&layout);
    for (const FaceOutcome& f : mesh.faces) texts.reserve(f.failure);
    const EdgeCheck edges = check_edges(mesh);  // before the block: it may throw
    if (!layout.ok()) return RUVANE_IGES_TOO_LARGE;
    char* base = nullptr;
    RuvaneIgesMesh* m = take_block<RuvaneIgesMesh>(layout, &base);
    if (m == nullptr) return RUVANE_IGES_NO_MEMORY;
    texts.start(base);
    auto* vertices = reinterpret_cast<double*>(base + at_vertices);
    for (size_t i = 0; i < nv; ++i)
        for (size_t k = 0; k < 3; ++k) vertices[3 * i + k] = mesh.vertices[i][k];
    auto* triangles = reinterpret_cast<int32_t*>(base + at_triangles);
    auto* owner = reinterpret_cast<int32_t*>(base + at_owner);
    for (size_t t = 0; t < nt; ++t) {
        for (size_t k = 0; k < 3; ++k) triangles[3 * t + k] = mesh.triangles[t][k];
        owner[t] = mesh.triangle_face[t];
    }
    auto* faces = reinterpret_cast<RuvaneIgesFaceOutcome*>(base + at_faces);
    int32_t failed = 0;
    for (size_t f = 0; f < nf; ++f) {
        const FaceOutcome& o = mesh.faces[f];
        faces[f] = {o.entity, o.status, static_cast<int32_t>(o.triangles), texts.put(o.failure)};
        failed += !o.failure.empty();
    }
    m->data = {static_cast<int32_t>(nv),
               static_cast<int32_t>(nt),
               static_cast<int32_t>(nf),
               failed,
               edges.free,
               edges.bad,
               mesh.shared_edges,
               mesh.unmatched_edges,
               vertices,
               triangles,
               owner,
               0};
    m->faces = faces;
    m->next_live = g_meshes;
    g_meshes = m;
    *out = m;
    return RUVANE_IGES_OK;
}

int32_t mesh(const RuvaneIgesModel* model, double deflection, double param_tolerance,
             RuvaneIgesMesh** out) {
    if (!is_live(g_models, model)) return RUVANE_IGES_BAD_HANDLE;
    if (out == nullptr || !(deflection >= kMinTolerance) || !std::isfinite(deflection) ||
        !(param_tolerance > 0) || !std::isfinite(param_tolerance))
        return RUVANE_IGES_BAD_ARGUMENT;
    if (!host_ready()) return RUVANE_IGES_NO_HOST;
    MeshOptions options;
    options.deflection = deflection;
    options.param_tolerance = param_tolerance;
    ModelMesh result;
    // With a deflection it accepts and a host installed, the mesher stops
    // only when the tessellator finds no memory for a face.
    if (!mesh_model(model->model, options, &result)) return RUVANE_IGES_NO_MEMORY;
    return publish_mesh(result, out);
}

// Every entry point: the library's arithmetic state, and nothing thrown
// across to the host.
template <typename F>
int32_t guarded(F&& body) {
    FpStateGuard fp;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return RUVANE_IGES_NO_MEMORY;
    } catch (...) {
        return RUVANE_IGES_FAILED;
    }
}

}  // namespace
}  // namespace ruvane::iges

using ruvane::iges::g_meshes;
using ruvane::iges::g_models;
using ruvane::iges::guarded;
using ruvane::iges::is_live;

extern "C" {

RUVANE_API int32_t ruvane_iges_open(const void* data, uint32_t size, RuvaneIgesModel** model) {
    return guarded([&] { return ruvane::iges::open(data, size, model); });
}

RUVANE_API int32_t ruvane_iges_summary(const RuvaneIgesModel* model, RuvaneIgesSummary* out) {
    if (!is_live(g_models, model)) return RUVANE_IGES_BAD_HANDLE;
    if (out == nullptr) return RUVANE_IGES_BAD_ARGUMENT;
    *out = model->summary;
    return RUVANE_IGES_OK;
}

RUVANE_API int32_t ruvane_iges_skipped_kind(const RuvaneIgesModel* model, int32_t index,
                                            RuvaneIgesSkippedKind* out) {
    if (!is_live(g_models, model)) return RUVANE_IGES_BAD_HANDLE;
    if (out == nullptr || index < 0 || index >= model->summary.skipped_kinds)
        return RUVANE_IGES_BAD_ARGUMENT;
    *out = model->kinds[index];
    return RUVANE_IGES_OK;
}

RUVANE_API int32_t ruvane_iges_mesh(const RuvaneIgesModel* model, double deflection,
                                    double param_tolerance, RuvaneIgesMesh** mesh) {
    return guarded([&] { return ruvane::iges::mesh(model, deflection, param_tolerance, mesh); });
}

RUVANE_API int32_t ruvane_iges_mesh_data(const RuvaneIgesMesh* mesh, RuvaneIgesMeshData* out) {
    if (!is_live(g_meshes, mesh)) return RUVANE_IGES_BAD_HANDLE;
    if (out == nullptr) return RUVANE_IGES_BAD_ARGUMENT;
    *out = mesh->data;
    return RUVANE_IGES_OK;
}

RUVANE_API int32_t ruvane_iges_face_outcome(const RuvaneIgesMesh* mesh, int32_t face,
                                            RuvaneIgesFaceOutcome* out) {
    if (!is_live(g_meshes, mesh)) return RUVANE_IGES_BAD_HANDLE;
    if (out == nullptr || face < 0 || face >= mesh->data.face_count)
        return RUVANE_IGES_BAD_ARGUMENT;
    *out = mesh->faces[face];
    return RUVANE_IGES_OK;
}

RUVANE_API int32_t ruvane_iges_free_mesh(RuvaneIgesMesh** mesh) {
    if (mesh == nullptr || *mesh == nullptr) return RUVANE_IGES_OK;
    if (!is_live(g_meshes, *mesh)) return RUVANE_IGES_BAD_HANDLE;
    ruvane::iges::unlink(&g_meshes, *mesh);
    ruvane::iges::give_back(*mesh);
    *mesh = nullptr;
    return RUVANE_IGES_OK;
}

RUVANE_API int32_t ruvane_iges_close(RuvaneIgesModel** model) {
    if (model == nullptr || *model == nullptr) return RUVANE_IGES_OK;
    if (!is_live(g_models, *model)) return RUVANE_IGES_BAD_HANDLE;
    ruvane::iges::unlink(&g_models, *model);
    ruvane::iges::give_back(*model);
    *model = nullptr;
    return RUVANE_IGES_OK;
}

}  // extern "C"
