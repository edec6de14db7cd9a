// The model library loaded as a host loads it, driven only through its C
// interface and a counting host table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "include/ruvane_iges.h"
#include "nurbs/testing/ruvane_test_host.h"
#include "platform/platform.h"
#include "platform/testing/test_support.h"

namespace {

// The entry points, each found by name in the loaded library.
// clang-format off
#define MODEL_API(X)                                                                           \
    X(init, component_client_init) X(open, ruvane_iges_open) X(summary, ruvane_iges_summary)   \
    X(kind, ruvane_iges_skipped_kind) X(mesh, ruvane_iges_mesh) X(data, ruvane_iges_mesh_data) \
    X(outcome, ruvane_iges_face_outcome) X(free_mesh, ruvane_iges_free_mesh)                   \
    X(close, ruvane_iges_close)
// clang-format on

struct Api {
#define DECLARE(field, name) decltype(&name) field;
    MODEL_API(DECLARE)
#undef DECLARE
};

class ModelLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = sx::testing::host_to_windows_path(RUVANE_MODEL_PATH);
        lib_ = sx::platform().load_library(path.c_str());
        ASSERT_NE(lib_, nullptr) << path;
#define FIND(field, name)                                                                         \
    api_.field = reinterpret_cast<decltype(api_.field)>(sx::platform().find_symbol(lib_, #name)); \
    EXPECT_NE(api_.field, nullptr) << #name;
        MODEL_API(FIND)
#undef FIND
        ASSERT_FALSE(HasFailure());
    }
    void TearDown() override {
        if (lib_ != nullptr) sx::platform().free_library(lib_);
    }
    void init() {
        sx::testing::arm(0);
        ComponentServices table = sx::testing::counting_table();
        ASSERT_TRUE(api_.init(&table));
        base_ = sx::testing::counters().live;
    }
    static std::string sample(const char* name) {
        std::string bytes;
        EXPECT_TRUE(sx::testing::read_file(
            sx::testing::host_to_windows_path(std::string(IGES_SAMPLES) + "/" + name), &bytes))
            << name;
        return bytes;
    }
    int32_t open(const std::string& bytes, RuvaneIgesModel** model) {
        return api_.open(bytes.data(), static_cast<uint32_t>(bytes.size()), model);
    }
    sx::ModuleHandle lib_ = nullptr;
    Api api_{};
    long base_ = 0;
};

// The signed volume by the divergence theorem over that of the bounding box.
double volume_of_box(const RuvaneIgesMeshData& m) {
    double v = 0, lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (int32_t t = 0; t < m.triangle_count; ++t) {
        const double* a = m.vertices + 3 * m.triangles[3 * t];
        const double* b = m.vertices + 3 * m.triangles[3 * t + 1];
        const double* c = m.vertices + 3 * m.triangles[3 * t + 2];
        v += a[0] * (b[1] * c[2] - b[2] * c[1]) + a[1] * (b[2] * c[0] - b[0] * c[2]) +
             a[2] * (b[0] * c[1] - b[1] * c[0]);
    }
    for (int32_t i = 0; i < 3 * m.vertex_count; ++i) {
        lo[i % 3] = std::min(lo[i % 3], m.vertices[i]);
        hi[i % 3] = std::max(hi[i % 3], m.vertices[i]);
    }
    return v / 6 / ((hi[0] - lo[0]) * (hi[1] - lo[1]) * (hi[2] - lo[2]));
}

// The samples meshed through the interface: every face, closed and turned
// outwards, the right volume, and readable after its model is closed.
TEST_F(ModelLibrary, MeshesSamplesIntoClosedSolids) {
    RuvaneIgesModel* model = nullptr;
    EXPECT_EQ(open(sample("box_brep.igs"), &model), RUVANE_IGES_NO_HOST);
    init();
    const double pi = std::acos(-1.0);
    const struct {
        const char* name;
        double volume_of_box;  // 0: only positive
    } cases[] = {{"box_brep.igs", 1},
                 {"box_sewn.igs", 1},
                 {"cylinder_brep.igs", pi / 4},
                 {"plate_12_holes.igs", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(open(sample(c.name), &model), RUVANE_IGES_OK);
        RuvaneIgesSummary s{};
        ASSERT_EQ(api_.summary(model, &s), RUVANE_IGES_OK);
        EXPECT_GT(s.faces, 0);
        EXPECT_GE(s.entities, s.faces);
        EXPECT_EQ(s.unit_to_mm, 1.0);
        EXPECT_STREQ(s.units_name, "MM");
        RuvaneIgesMesh* mesh = nullptr;
        ASSERT_EQ(api_.mesh(model, 0.01, 1e-6, &mesh), RUVANE_IGES_OK);
        EXPECT_GT(sx::testing::counters().live, base_);
        ASSERT_EQ(api_.close(&model), RUVANE_IGES_OK);
        EXPECT_EQ(model, nullptr);
        RuvaneIgesMeshData m{};
        ASSERT_EQ(api_.data(mesh, &m), RUVANE_IGES_OK);
        EXPECT_EQ(m.face_count, s.faces);
        EXPECT_EQ(m.failed_faces, 0);
        int32_t triangles = 0;
        for (int32_t f = 0; f < m.face_count; ++f) {
            RuvaneIgesFaceOutcome o{};
            ASSERT_EQ(api_.outcome(mesh, f, &o), RUVANE_IGES_OK);
            EXPECT_STREQ(o.failure, "") << o.entity;
            triangles += o.triangles;
        }
        EXPECT_EQ(triangles, m.triangle_count);
        for (int32_t t = 0; t < m.triangle_count; ++t) {
            ASSERT_TRUE(m.triangle_face[t] >= 0 && m.triangle_face[t] < m.face_count);
            for (int k = 0; k < 3; ++k)
                ASSERT_TRUE(m.triangles[3 * t + k] >= 0 && m.triangles[3 * t + k] < m.vertex_count);
        }
        EXPECT_EQ(m.free_edges + m.bad_edges, 0);
        const double volume = volume_of_box(m);  // positive: turned outwards
        EXPECT_TRUE(c.volume_of_box > 0 ? std::fabs(volume - c.volume_of_box) < 0.005 : volume > 0)
            << volume;
        ASSERT_EQ(api_.free_mesh(&mesh), RUVANE_IGES_OK);
        EXPECT_EQ(sx::testing::counters().live, base_);
    }
}

// Files no reader should trust: each either refused or read with what was
// broken counted, never a crash; meshing what was read still works.
TEST_F(ModelLibrary, HostileBuffersAreRefusedOrCounted) {
    init();
    constexpr int32_t kRefused = -1;
    const std::string box = sample("box_brep.igs");
    std::string random(4000, '\0');
    std::mt19937 gen(7);
    for (char& ch : random) ch = static_cast<char>(gen());
    // One parameter rewritten in place; the field's padding gives way so
    // that the line keeps its 80 columns.
    auto patched = [&](const std::string& from, const std::string& to) {
        std::string s = box;
        const size_t at = s.find(from);
        s.replace(at, from.size(), to);
        s.erase(s.rfind('\n', at) + 1 + 64, to.size() - from.size());
        return s;
    };
    RuvaneIgesSummary whole{};
    RuvaneIgesModel* model = nullptr;
    ASSERT_EQ(open(box, &model), RUVANE_IGES_OK);
    api_.summary(model, &whole);
    api_.close(&model);
    const struct {
        const char* name;
        std::string bytes;
        int32_t status;        // kRefused: any status but OK
        int32_t skipped_type;  // a type the summary must name, 0: none skipped
    } cases[] = {
        {"empty", "", RUVANE_IGES_NOT_IGES, 0},
        {"random bytes", random, kRefused, 0},
        {"binary form", std::string(72, ' ') + "B      1\n", RUVANE_IGES_UNSUPPORTED, 0},
        {"cut in the parameter data", box.substr(0, box.find("128,1,1,1,1") + 20), RUVANE_IGES_OK,
         186},
        {"cut in the directory", box.substr(0, box.size() / 3), RUVANE_IGES_OK, 0},
        {"huge control point count", patched("128,1,1,", "128,999999,1,"), RUVANE_IGES_OK, 510},
        {"huge degree", patched("128,1,1,1,1,", "128,1,1,99999,1,"), RUVANE_IGES_OK, 510},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t status = open(c.bytes, &model);
        if (c.status != RUVANE_IGES_OK) {
            EXPECT_TRUE(c.status == kRefused ? status != RUVANE_IGES_OK : status == c.status)
                << status;
            EXPECT_EQ(model, nullptr);
            continue;
        }
        ASSERT_EQ(status, RUVANE_IGES_OK);
        RuvaneIgesSummary s{};
        ASSERT_EQ(api_.summary(model, &s), RUVANE_IGES_OK);
        EXPECT_LT(s.faces, whole.faces);
        EXPECT_EQ(s.skipped > 0, c.skipped_type != 0);
        bool named = c.skipped_type == 0;
        for (int32_t k = 0; k < s.skipped_kinds; ++k) {
            RuvaneIgesSkippedKind kind{};
            ASSERT_EQ(api_.kind(model, k, &kind), RUVANE_IGES_OK);
            EXPECT_GT(kind.count, 0);
            EXPECT_GT(std::string(kind.reason).size(), 0u);
            named = named || kind.type == c.skipped_type;
        }
        EXPECT_TRUE(named);
        RuvaneIgesMesh* mesh = nullptr;
        EXPECT_EQ(api_.mesh(model, 0.01, 1e-6, &mesh), RUVANE_IGES_OK);
        api_.free_mesh(&mesh);
        api_.close(&model);
    }
    EXPECT_EQ(sx::testing::counters().live, base_);
}

// Handles that are null, freed or never handed out, and arguments out of
// range: each refused with its status, nothing followed or freed twice.
TEST_F(ModelLibrary, RefusesBadHandlesAndArguments) {
    init();
    RuvaneIgesModel* model = nullptr;
    ASSERT_EQ(open(sample("box_brep.igs"), &model), RUVANE_IGES_OK);
    RuvaneIgesMesh* mesh = nullptr;
    ASSERT_EQ(api_.mesh(model, 0.05, 1e-6, &mesh), RUVANE_IGES_OK);
    RuvaneIgesModel* stale_model = nullptr;
    ASSERT_EQ(open(sample("box_brep.igs"), &stale_model), RUVANE_IGES_OK);
    RuvaneIgesModel* const stale = stale_model;
    ASSERT_EQ(api_.close(&stale_model), RUVANE_IGES_OK);
    double junk[16] = {};
    auto* forged = reinterpret_cast<RuvaneIgesModel*>(junk);
    auto* mesh_as_model = reinterpret_cast<RuvaneIgesModel*>(mesh);
    auto* model_as_mesh = reinterpret_cast<RuvaneIgesMesh*>(model);
    RuvaneIgesSummary s{};
    RuvaneIgesMeshData d{};
    RuvaneIgesFaceOutcome o{};
    RuvaneIgesSkippedKind k{};
    RuvaneIgesMesh* out = nullptr;
    const double nan = std::nan("");
    const struct {
        const char* name;
        int32_t got, want;
    } cases[] = {
        {"summary of null", api_.summary(nullptr, &s), RUVANE_IGES_BAD_HANDLE},
        {"summary of freed", api_.summary(stale, &s), RUVANE_IGES_BAD_HANDLE},
        {"summary of forged", api_.summary(forged, &s), RUVANE_IGES_BAD_HANDLE},
        {"summary of a mesh", api_.summary(mesh_as_model, &s), RUVANE_IGES_BAD_HANDLE},
        {"data of a model", api_.data(model_as_mesh, &d), RUVANE_IGES_BAD_HANDLE},
        {"mesh of freed", api_.mesh(stale, 0.1, 1e-6, &out), RUVANE_IGES_BAD_HANDLE},
        {"close freed", api_.close(&stale_model), RUVANE_IGES_OK},
        {"free a model", api_.free_mesh(&model_as_mesh), RUVANE_IGES_BAD_HANDLE},
        {"null summary", api_.summary(model, nullptr), RUVANE_IGES_BAD_ARGUMENT},
        {"kind -1", api_.kind(model, -1, &k), RUVANE_IGES_BAD_ARGUMENT},
        {"kind past end", api_.kind(model, 0, &k), RUVANE_IGES_BAD_ARGUMENT},
        {"face past end", api_.outcome(mesh, 6, &o), RUVANE_IGES_BAD_ARGUMENT},
        {"deflection 0", api_.mesh(model, 0, 1e-6, &out), RUVANE_IGES_BAD_ARGUMENT},
        {"deflection NaN", api_.mesh(model, nan, 1e-6, &out), RUVANE_IGES_BAD_ARGUMENT},
        {"deflection inf", api_.mesh(model, HUGE_VAL, 1e-6, &out), RUVANE_IGES_BAD_ARGUMENT},
        {"deflection 1e-8", api_.mesh(model, 1e-8, 1e-6, &out), RUVANE_IGES_BAD_ARGUMENT},
        {"param tolerance 0", api_.mesh(model, 0.1, 0, &out), RUVANE_IGES_BAD_ARGUMENT},
        {"null mesh out", api_.mesh(model, 0.1, 1e-6, nullptr), RUVANE_IGES_BAD_ARGUMENT},
        {"null data", api_.open(nullptr, 10, &stale_model), RUVANE_IGES_BAD_ARGUMENT},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(api_.outcome(mesh, 5, &o), RUVANE_IGES_OK);
    EXPECT_EQ(api_.free_mesh(&mesh), RUVANE_IGES_OK);
    EXPECT_EQ(api_.close(&model), RUVANE_IGES_OK);
    EXPECT_EQ(sx::testing::counters().live, base_);
}

// The host refusing memory at every point of an open and a mesh in turn:
// each call either succeeds or says so, and nothing is left behind.
TEST_F(ModelLibrary, HostRefusingMemoryLeavesNothingBehind) {
    init();
    const std::string box = sample("box_brep.igs");
    int refused = 0;
    for (long fail_at = 1;; ++fail_at) {
        sx::testing::arm(fail_at);
        RuvaneIgesModel* model = nullptr;
        RuvaneIgesMesh* mesh = nullptr;
        int32_t status = open(box, &model);
        if (status == RUVANE_IGES_OK) status = api_.mesh(model, 0.5, 1e-6, &mesh);
        ASSERT_TRUE(status == RUVANE_IGES_OK || status == RUVANE_IGES_NO_MEMORY) << status;
        refused += status == RUVANE_IGES_NO_MEMORY;
        api_.free_mesh(&mesh);
        api_.close(&model);
        ASSERT_EQ(sx::testing::counters().live, base_) << fail_at;
        if (sx::testing::counters().calls < fail_at) break;  // nothing was refused
        ASSERT_LT(fail_at, 20000);
    }
    EXPECT_GE(refused, 2);  // the model's block, then the mesh's
}

}  // namespace
