#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "include/ruvane.h"
#include "nurbs/nurbs.h"
#include "nurbs/ruvane_test_host.h"
#include "nurbs/ruvane_test_reference.h"

namespace {

using namespace ruvane;

CurveDesc desc_of(const ruvane_test::CurveData& c) {
    return CurveDesc{c.p + 1, c.count(), c.points.data(), c.weights.data(), 0, c.knots.data()};
}

const ruvane_test::CurveData kQuadratic{
    2, {0, 0, 0, 1, 1, 1}, {1, 1, 1}, {0, 0, 0, 1, 1, 0, 2, 0, 0}};

class CurveServices : public ::testing::Test {
protected:
    void SetUp() override {
        ruvane_test::install_counting_host();
        ruvane_test::arm(0);
    }
    void TearDown() override { EXPECT_EQ(ruvane_test::counters().live, 0); }
};

TEST_F(CurveServices, CreateEvaluateDestroy) {
    const CurveDesc desc = desc_of(kQuadratic);
    CurveHandle* handle = reinterpret_cast<CurveHandle*>(&handle);  // must be overwritten
    ASSERT_TRUE(ruvane_create_nurbs_curve(&desc, &handle));
    ASSERT_NE(handle, nullptr);
    struct Case {
        double u;
        bool ok;
        double x, y;
    } cases[] = {
        {0.0, true, 0, 0},        {0.5, true, 1, 0.5},   {1.0, true, 2, 0},
        {1.0000001, false, 0, 0}, {-1e-12, false, 0, 0}, {NAN, false, 0, 0},
    };
    for (const Case& c : cases) {
        double point[3] = {-7, -7, -7};
        EXPECT_EQ(ruvane_evaluate_nurbs_curve(&handle, c.u, point), c.ok) << c.u;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(point[0], c.x) << c.u;
            EXPECT_DOUBLE_EQ(point[1], c.y) << c.u;
            EXPECT_EQ(point[2], 0.0) << c.u;
        }
    }
    EXPECT_TRUE(ruvane_destroy_nurbs_curve(&handle));
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(ruvane_destroy_nurbs_curve(&handle));
    EXPECT_TRUE(ruvane_destroy_nurbs_curve(nullptr));
    double point[3];
    EXPECT_FALSE(ruvane_evaluate_nurbs_curve(&handle, 0.5, point));
    EXPECT_FALSE(ruvane_evaluate_nurbs_curve(nullptr, 0.5, point));
}

// Values strictly inside +-1e-9 are stored as 0: a curve whose z values are
// that small is planar, and knots that small count as 0. The bounds stay.
TEST_F(CurveServices, TinyValuesAreSnappedToZero) {
    struct Case {
        const char* name;
        std::vector<double> knots;
        std::vector<double> points;
        bool ok;
        double z_at_half;
    } cases[] = {
        {"tiny z", {0, 0, 0, 1, 1, 1}, {0, 0, 9e-10, 1, 1, -9e-10, 2, 0, 5e-10}, true, 0.0},
        {"bound kept", {0, 0, 0, 1, 1, 1}, {0, 0, 1e-9, 1, 1, 1e-9, 2, 0, 1e-9}, true, 1e-9},
        {"tiny knot", {0, 0, 5e-10, 1, 1, 1}, {0, 0, 0, 1, 1, 0, 2, 0, 0}, true, 0.0},
        {"knot at the bound", {0, 0, 1e-9, 1, 1, 1}, {0, 0, 0, 1, 1, 0, 2, 0, 0}, false, 0.0},
    };
    for (const Case& c : cases) {
        const std::vector<double> weights = {1, 1, 1};
        const CurveDesc desc{3, 3, c.points.data(), weights.data(), 0, c.knots.data()};
        CurveHandle* handle = nullptr;
        ASSERT_EQ(ruvane_create_nurbs_curve(&desc, &handle), c.ok) << c.name;
        if (!c.ok) {
            EXPECT_EQ(handle, nullptr);
            continue;
        }
        double point[3];
        ASSERT_TRUE(ruvane_evaluate_nurbs_curve(&handle, 0.5, point));
        EXPECT_DOUBLE_EQ(point[2], c.z_at_half) << c.name;
        ruvane_destroy_nurbs_curve(&handle);
    }
}

TEST_F(CurveServices, UnsafeDescriptionsAreRefusedUnread) {
    static const double three[] = {0, 0, 0, 1, 1, 1, 2, 0, 0};
    static const double ones[] = {1, 1, 1};
    static const double knots[] = {0, 0, 0, 1, 1, 1};
    static const double nan_point[] = {0, 0, 0, NAN, 1, 1, 2, 0, 0};
    const CurveDesc cases[] = {
        {0, 3, three, ones, 0, knots},   {1, 3, three, ones, 0, knots},
        {30, 3, three, ones, 0, knots},  {INT_MAX, 3, three, ones, 0, knots},
        {-3, 3, three, ones, 0, knots},  {3, -1, three, ones, 0, knots},
        {3, 2, three, ones, 0, knots},   {3, INT_MAX, three, ones, 0, knots},
        {3, 3, nullptr, ones, 0, knots}, {3, 3, three, nullptr, 0, knots},
        {3, 3, three, ones, 0, nullptr}, {3, 3, nan_point, ones, 0, knots},
    };
    for (const CurveDesc& d : cases) {
        CurveHandle* handle = nullptr;
        EXPECT_FALSE(ruvane_create_nurbs_curve(&d, &handle)) << d.order << " " << d.count;
        EXPECT_EQ(handle, nullptr);
    }
    CurveHandle* handle = nullptr;
    EXPECT_FALSE(ruvane_create_nurbs_curve(nullptr, &handle));
    const CurveDesc good = desc_of(kQuadratic);
    EXPECT_FALSE(ruvane_create_nurbs_curve(&good, nullptr));
}

// A refused description records the first check it fails, in the order the
// curve is built: degree, weights, knots, points. A huge but finite knot span
// is accepted (code 0).
TEST_F(CurveServices, RefusalsRecordTheFirstFailedCheck) {
    static const double three[] = {0, 0, 0, 1, 1, 1, 2, 0, 0};
    static const double ones[] = {1, 1, 1};
    static const double light[] = {1, 0, 1};
    static const double knots[] = {0, 0, 0, 1, 1, 1};
    static const double huge[] = {-8e307, -8e307, 0, 8e307, 8e307, 8e307};
    const struct {
        CurveDesc desc;
        int code;
        const char* routine;
    } cases[] = {
        {{3, 2, three, light, 0, knots}, 5, "N_IGS126"},  // too few points and a bad weight
        {{3, 2, three, ones, 0, knots}, 4, "N_IGSVKB"},
        {{3, 3, three, nullptr, 0, knots}, 5, "N_IGS126"},
        {{3, 3, three, light, 0, nullptr}, 5, "N_IGS126"},
        {{3, 3, nullptr, ones, 0, knots}, 5, "N_IGS126"},
        {{3, 3, three, ones, 0, huge}, 0, " "},
    };
    for (const auto& c : cases) {
        set_error(0, " ");
        CurveHandle* handle = nullptr;
        EXPECT_EQ(ruvane_create_nurbs_curve(&c.desc, &handle), c.code == 0);
        ruvane_destroy_nurbs_curve(&handle);
        EXPECT_EQ(error_record().code, c.code) << c.desc.count << " " << c.desc.knots;
        EXPECT_STREQ(error_record().routine, c.routine) << c.desc.count << " " << c.desc.knots;
    }
}

// A host allocator failing on its N-th call, for every N a creation makes:
// the creation fails cleanly and nothing stays allocated.
TEST_F(CurveServices, EveryAllocationFailureInCreationIsClean) {
    std::mt19937 rng(40);
    // Unclamped and rational, so clipping and its private pool are exercised.
    const auto c = ruvane_test::random_curve(rng, 3, false, true, false);
    const CurveDesc desc = desc_of(c);
    ruvane_test::arm(0);
    CurveHandle* handle = nullptr;
    ASSERT_TRUE(ruvane_create_nurbs_curve(&desc, &handle));
    const long needed = ruvane_test::counters().calls;
    ASSERT_GT(needed, 8);
    double expect[3];
    ASSERT_TRUE(ruvane_evaluate_nurbs_curve(&handle, 0.3, expect));
    ruvane_destroy_nurbs_curve(&handle);
    for (long n = 1; n <= needed + 1; ++n) {
        ruvane_test::arm(n);
        set_error(0, " ");
        handle = nullptr;
        const bool ok = ruvane_create_nurbs_curve(&desc, &handle);
        EXPECT_EQ(ok, n > needed) << "failing call " << n;
        if (!ok) {
            EXPECT_EQ(handle, nullptr);
            EXPECT_EQ(ruvane_test::counters().live, 0) << "failing call " << n;
            if (n > 1) {  // the first call is the handle itself, before any routine runs
                EXPECT_EQ(error_record().code, 15) << "failing call " << n;
            }
            continue;
        }
        // Evaluation needs no memory at all.
        ruvane_test::arm(1);
        double point[3];
        ASSERT_TRUE(ruvane_evaluate_nurbs_curve(&handle, 0.3, point));
        EXPECT_EQ(ruvane_test::counters().calls, 0);
        EXPECT_EQ(point[0], expect[0]);
        ruvane_destroy_nurbs_curve(&handle);
    }
}

// The same for a surface: every failing call in N_IGS128 and in the normal
// evaluation (whose working arrays come straight from the host).
TEST_F(CurveServices, EveryAllocationFailureInSurfaceWorkIsClean) {
    const double knots[] = {-1, 0, 0, 0, 0.5, 1, 1, 1, 2};  // unclamped ends: clipping
    const int nu = 5, nv = 5;
    std::vector<std::vector<Point3>> pts(nu, std::vector<Point3>(nv));
    std::vector<std::vector<double>> wts(nu, std::vector<double>(nv));
    std::vector<const Point3*> prow;
    std::vector<const double*> wrow;
    for (int i = 0; i < nu; ++i) {
        for (int j = 0; j < nv; ++j) {
            pts[i][j] = {double(i), double(j), std::sin(i + 2.0 * j)};
            wts[i][j] = 1.0 + 0.1 * ((i + j) % 3);
        }
        prow.push_back(pts[i].data());
        wrow.push_back(wts[i].data());
    }
    auto create = [&](Pool* pool, Surface* sur) {
        return N_IGS128(nu - 1, nv - 1, 3, 3, knots, knots, wrow.data(), prow.data(), 0.0, 1.0, 0.0,
                        1.0, sur, pool);
    };
    Pool pool;
    Surface sur;
    ruvane_test::arm(0);
    ASSERT_EQ(create(&pool, &sur), kOk);
    const long needed = ruvane_test::counters().calls;
    Point3 S, tu, tv, n0;
    ruvane_test::arm(0);
    ASSERT_EQ(N_SURNOR(sur, 1, 0.3, 0.6, &S, &tu, &tv, &n0), kOk);
    const long eval_needed = ruvane_test::counters().calls;
    EXPECT_EQ(eval_needed, 4);
    const long live = ruvane_test::counters().live;
    for (long n = 1; n <= eval_needed; ++n) {
        ruvane_test::arm(n);
        Point3 normal = {9, 9, 9};
        EXPECT_EQ(N_SURNOR(sur, 1, 0.3, 0.6, &S, &tu, &tv, &normal), kFail) << n;
        EXPECT_EQ(error_record().code, 15);
        EXPECT_STREQ(error_record().routine, "N_SURDER");
        EXPECT_EQ(normal.x, 9.0);
        EXPECT_EQ(ruvane_test::counters().live, live) << n;
    }
    pool_release_all(&pool);
    for (long n = 1; n <= needed; ++n) {
        Pool p;
        Surface s;
        ruvane_test::arm(n);
        set_error(0, " ");
        EXPECT_EQ(create(&p, &s), kFail) << "failing call " << n;
        EXPECT_EQ(error_record().code, 15) << "failing call " << n;
        pool_release_all(&p);
        EXPECT_EQ(ruvane_test::counters().live, 0) << "failing call " << n;
    }
}

TEST(ComponentServicesCopy, TwelfthSlotOnlyFromVersionTwo) {
    int marker = 0;
    for (int version : {0, 1, 2, 3}) {
        // A table that really ends where its version says it does.
        const size_t size =
            version >= 2 ? sizeof(ComponentServices) : offsetof(ComponentServices, host_slot_2c);
        auto* table = static_cast<ComponentServices*>(std::malloc(size));
        std::memset(table, 0, size);
        table->table_version = version;
        table->allocate = ruvane_test::counting_allocate;
        table->host_slot_28 = &marker;
        if (version >= 2) table->host_slot_2c = &marker;
        ComponentServices copy;
        std::memset(&copy, 0xAB, sizeof copy);
        copy_component_services(table, &copy);
        EXPECT_EQ(copy.table_version, version);
        EXPECT_EQ(copy.allocate, ruvane_test::counting_allocate);
        EXPECT_EQ(copy.host_slot_28, &marker);
        EXPECT_EQ(copy.host_slot_2c, version >= 2 ? &marker : nullptr);
        std::free(table);
    }
    EXPECT_FALSE(component_client_init(nullptr));
}

// The real shared library, loaded as the player loads it and driven through
// a host table.
TEST(RuvaneLibrary, LoadsAndServesCurvesThroughTheHost) {
#if defined(_WIN32)
    std::string path = RUVANE_LIBRARY_PATH;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;  // Wine's view of the Linux root
    for (char& ch : path) {
        if (ch == '/') ch = '\\';
    }
    HMODULE lib = LoadLibraryA(path.c_str());
    ASSERT_NE(lib, nullptr) << path;
    auto sym = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(lib, name)); };
#else
    void* lib = dlopen(RUVANE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto sym = [&](const char* name) { return dlsym(lib, name); };
#endif
    using VersionFn = int32_t (*)();
    using InitFn = bool (*)(const ComponentServices*);
    using ShutdownFn = void (*)();
    using CreateFn = bool (*)(const CurveDesc*, CurveHandle**);
    using EvalFn = bool (*)(CurveHandle* const*, double, double*);
    using DestroyFn = bool (*)(CurveHandle**);
    auto version = reinterpret_cast<VersionFn>(sym("component_client_interface_version"));
    auto init = reinterpret_cast<InitFn>(sym("component_client_init"));
    auto shutdown = reinterpret_cast<ShutdownFn>(sym("component_client_shutdown"));
    auto create = reinterpret_cast<CreateFn>(sym("ruvane_create_nurbs_curve"));
    auto evaluate = reinterpret_cast<EvalFn>(sym("ruvane_evaluate_nurbs_curve"));
    auto destroy = reinterpret_cast<DestroyFn>(sym("ruvane_destroy_nurbs_curve"));
    ASSERT_TRUE(version && init && shutdown && create && evaluate && destroy);

    EXPECT_EQ(version(), 1);  // before init
    const CurveDesc desc = desc_of(kQuadratic);
    CurveHandle* handle = nullptr;
    EXPECT_FALSE(create(&desc, &handle)) << "no host memory before init";

    ruvane_test::arm(0);
    ComponentServices table = ruvane_test::counting_table();
    ASSERT_TRUE(init(&table));
    table.allocate = nullptr;  // the library keeps its own copy
    const long live = ruvane_test::counters().live;
    ASSERT_TRUE(create(&desc, &handle));
    EXPECT_GT(ruvane_test::counters().live, live);
    double point[3];
    ASSERT_TRUE(evaluate(&handle, 0.5, point));
    EXPECT_DOUBLE_EQ(point[0], 1.0);
    EXPECT_DOUBLE_EQ(point[1], 0.5);
    EXPECT_EQ(point[2], 0.0);
    EXPECT_FALSE(evaluate(&handle, 1.0000001, point));
    EXPECT_TRUE(destroy(&handle));
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(ruvane_test::counters().live, live);
    shutdown();
#if defined(_WIN32)
    FreeLibrary(lib);
#else
    dlclose(lib);
#endif
}

}  // namespace
