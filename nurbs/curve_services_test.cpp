#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "include/ruvane.h"
#include "nurbs/nurbs.h"
#include "nurbs/testing/ruvane_test_host.h"
#include "nurbs/testing/ruvane_test_reference.h"
#include "platform/platform.h"
#include "platform/testing/test_support.h"

namespace {

using namespace ruvane;

CurveDesc desc_of(const sx::testing::CurveData& c) {
    return CurveDesc{c.p + 1, c.count(), c.points.data(), c.weights.data(), 0, c.knots.data()};
}

const sx::testing::CurveData kQuadratic{
    2, {0, 0, 0, 1, 1, 1}, {1, 1, 1}, {0, 0, 0, 1, 1, 0, 2, 0, 0}};

class CurveServices : public sx::testing::CountingHostTest {};

// Unsafe descriptions are refused before anything is read past what the
// counts promise; the error records the first check failed, in the order the
// curve is built: degree, weights, knots, points (code -1: not looked at).
// A huge but finite knot span is accepted.
TEST_F(CurveServices, UnsafeDescriptionsAreRefusedWithTheFirstFailedCheck) {
    static const double three[] = {0, 0, 0, 1, 1, 1, 2, 0, 0};
    static const double ones[] = {1, 1, 1};
    static const double light[] = {1, 0, 1};
    static const double knots[] = {0, 0, 0, 1, 1, 1};
    static const double huge[] = {-8e307, -8e307, 0, 8e307, 8e307, 8e307};
    static const double nan_point[] = {0, 0, 0, NAN, 1, 1, 2, 0, 0};
    const struct {
        CurveDesc desc;
        int code;
        const char* routine;
    } cases[] = {
        {{1, 3, three, ones, 0, knots}, -1, ""},
        {{30, 3, three, ones, 0, knots}, -1, ""},
        {{INT_MAX, 3, three, ones, 0, knots}, -1, ""},
        {{3, -1, three, ones, 0, knots}, -1, ""},
        {{3, INT_MAX, three, ones, 0, knots}, -1, ""},
        {{3, 3, nan_point, ones, 0, knots}, -1, ""},
        {{3, 2, three, light, 0, knots}, 5, "N_IGS126"},  // too few points and a bad weight
        {{3, 2, three, ones, 0, knots}, 4, "N_IGSVKB"},
        {{3, 3, three, nullptr, 0, knots}, 5, "N_IGS126"},
        {{3, 3, three, light, 0, nullptr}, 5, "N_IGS126"},
        {{3, 3, three, ones, 0, nullptr}, -1, ""},
        {{3, 3, nullptr, ones, 0, knots}, 5, "N_IGS126"},
        {{3, 3, three, ones, 0, huge}, 0, " "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.desc.order << " " << c.desc.count << " "
                                          << c.desc.knots << " " << c.desc.points);
        set_error(0, " ");
        CurveHandle* handle = nullptr;
        EXPECT_EQ(ruvane_create_nurbs_curve(&c.desc, &handle), c.code == 0);
        EXPECT_EQ(handle != nullptr, c.code == 0);
        ruvane_destroy_nurbs_curve(&handle);
        if (c.code >= 0) {
            EXPECT_EQ(error_record().code, c.code);
            EXPECT_STREQ(error_record().routine, c.routine);
        }
    }
    CurveHandle* handle = nullptr;
    EXPECT_FALSE(ruvane_create_nurbs_curve(nullptr, &handle));
    const CurveDesc good = desc_of(kQuadratic);
    EXPECT_FALSE(ruvane_create_nurbs_curve(&good, nullptr));
}

// A host allocator failing on its N-th call, for every N a creation makes:
// the creation fails cleanly and nothing stays allocated.
TEST_F(CurveServices, EveryAllocationFailureInCreationIsClean) {
    std::mt19937 rng(40);
    // Unclamped and rational, so clipping and its private pool are exercised.
    const auto c = sx::testing::random_curve(rng, 3, false, true, false);
    const CurveDesc desc = desc_of(c);
    sx::testing::arm(0);
    CurveHandle* handle = nullptr;
    ASSERT_TRUE(ruvane_create_nurbs_curve(&desc, &handle));
    const long needed = sx::testing::counters().calls;
    ASSERT_GT(needed, 8);
    double expect[3];
    ASSERT_TRUE(ruvane_evaluate_nurbs_curve(&handle, 0.3, expect));
    ruvane_destroy_nurbs_curve(&handle);
    for (long n = 1; n <= needed + 1; ++n) {
        sx::testing::arm(n);
        set_error(0, " ");
        handle = nullptr;
        const bool ok = ruvane_create_nurbs_curve(&desc, &handle);
        EXPECT_EQ(ok, n > needed) << "failing call " << n;
        if (!ok) {
            EXPECT_EQ(handle, nullptr);
            EXPECT_EQ(sx::testing::counters().live, 0) << "failing call " << n;
            if (n > 1) {  // the first call is the handle itself, before any routine runs
                EXPECT_EQ(error_record().code, 15) << "failing call " << n;
            }
            continue;
        }
        // Evaluation needs no memory at all.
        sx::testing::arm(1);
        double point[3];
        ASSERT_TRUE(ruvane_evaluate_nurbs_curve(&handle, 0.3, point));
        EXPECT_EQ(sx::testing::counters().calls, 0);
        EXPECT_EQ(point[0], expect[0]);
        ruvane_destroy_nurbs_curve(&handle);
    }
}

// The real shared library, loaded as the player loads it and driven through
// a host table: a curve made, evaluated inside and outside its domain, and
// destroyed.
TEST(RuvaneLibrary, LoadsAndServesCurvesThroughTheHost) {
    sx::Platform& os = sx::platform();
    const std::string path = sx::testing::host_to_windows_path(RUVANE_LIBRARY_PATH);
    sx::ModuleHandle lib = os.load_library(path.c_str());
    ASSERT_NE(lib, nullptr) << path;
#define SX_SYMBOL(name) reinterpret_cast<decltype(&name)>(os.find_symbol(lib, #name))
    auto version = SX_SYMBOL(component_client_interface_version);
    auto init = SX_SYMBOL(component_client_init);
    auto shutdown = SX_SYMBOL(component_client_shutdown);
    auto create = SX_SYMBOL(ruvane_create_nurbs_curve);
    auto evaluate = SX_SYMBOL(ruvane_evaluate_nurbs_curve);
    auto destroy = SX_SYMBOL(ruvane_destroy_nurbs_curve);
#undef SX_SYMBOL
    ASSERT_TRUE(version && init && shutdown && create && evaluate && destroy);

    EXPECT_EQ(version(), 1);  // before init
    const CurveDesc desc = desc_of(kQuadratic);
    CurveHandle* handle = nullptr;
    EXPECT_FALSE(create(&desc, &handle)) << "no host memory before init";

    sx::testing::arm(0);
    ComponentServices table = sx::testing::counting_table();
    ASSERT_TRUE(init(&table));
    table.allocate = nullptr;  // the library keeps its own copy
    const long live = sx::testing::counters().live;
    handle = reinterpret_cast<CurveHandle*>(&handle);  // must be overwritten
    ASSERT_TRUE(create(&desc, &handle));
    ASSERT_NE(handle, reinterpret_cast<CurveHandle*>(&handle));
    EXPECT_GT(sx::testing::counters().live, live);
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
        EXPECT_EQ(evaluate(&handle, c.u, point), c.ok) << c.u;
        EXPECT_TRUE(!c.ok || std::hypot(point[0] - c.x, point[1] - c.y, point[2]) < 1e-15) << c.u;
    }
    EXPECT_TRUE(destroy(&handle));
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(destroy(&handle));
    EXPECT_TRUE(destroy(nullptr));
    double point[3];
    EXPECT_FALSE(evaluate(&handle, 0.5, point));
    EXPECT_FALSE(evaluate(nullptr, 0.5, point));
    EXPECT_EQ(sx::testing::counters().live, live);
    shutdown();
    os.free_library(lib);
}

}  // namespace
