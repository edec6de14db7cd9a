#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#if defined(__i386__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "include/ruvane.h"
#include "nurbs/curve_desc.h"
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

// A kept curve answers exactly what the general routine answers, whatever
// the order of the parameters: walking forwards and backwards through the
// spans, jumping, on every knot and at both ends; degrees past the unrolled
// ones, unclamped and rational curves and repeated knots included.
TEST_F(CurveServices, KeptCurveMatchesTheGeneralRoutineInAnyOrder) {
    std::mt19937 rng(28);
    const struct {
        int p;
        bool clamped, rational;
    } kinds[] = {{1, true, false},  {2, true, true}, {3, true, false},
                 {3, false, true},  {4, true, true}, {5, true, false},
                 {5, false, false}, {6, true, true}, {9, false, true}};
    for (const auto& kind : kinds) {
        for (int trial = 0; trial < 4; ++trial) {
            const auto c =
                sx::testing::random_curve(rng, kind.p, kind.clamped, kind.rational, false);
            SCOPED_TRACE(::testing::Message()
                         << "degree " << kind.p << " clamped " << kind.clamped << " rational "
                         << kind.rational << " trial " << trial);
            const CurveDesc desc = desc_of(c);
            CurveHandle* handle = nullptr;
            ASSERT_TRUE(ruvane_create_nurbs_curve(&desc, &handle));
            Pool pool;
            Curve general;
            ASSERT_EQ(copy_curve_desc(&desc, &general, &pool), DescCopy::kOk);
            const double a = general.knt->U[0];
            const double b = general.knt->U[general.knt->m];
            std::vector<double> us;
            for (int i = 0; i <= 200; ++i) us.push_back(a + (b - a) * i / 200.0);
            for (int i = 200; i >= 0; --i) us.push_back(a + (b - a) * i / 200.0 * 0.999);
            std::uniform_real_distribution<double> jump(a, b);
            for (int i = 0; i < 100; ++i) us.push_back(jump(rng));
            for (int i = 0; i <= general.knt->m; ++i) us.push_back(general.knt->U[i]);
            us.push_back(std::nextafter(b, a));
            us.push_back(std::nextafter(a, b));
            for (const double u : us) {
                double point[3] = {NAN, NAN, NAN};
                Point4 cw;
                set_error(0, " ");
                const bool expect_ok = N_CUREVN(general, 1, u, &cw) == kOk;
                const int expect_code = error_record().code;
                set_error(0, " ");
                ASSERT_EQ(ruvane_evaluate_nurbs_curve(&handle, u, point), expect_ok) << u;
                EXPECT_EQ(error_record().code, expect_code) << u;
                if (!expect_ok) continue;
                const Point3 want = project_point(cw);
                const double got[3] = {point[0], point[1], point[2]};
                const double expect[3] = {want.x, want.y, want.z};
                for (int k = 0; k < 3; ++k) {
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ == 0
                    EXPECT_EQ(got[k], expect[k]) << u << " coordinate " << k;
#else  // x87 intermediates depend on where values are spilled
                    EXPECT_NEAR(got[k], expect[k], 1e-12 * (1.0 + std::fabs(expect[k])))
                        << u << " coordinate " << k;
#endif
                }
            }
            pool_release_all(&pool);
            ruvane_destroy_nurbs_curve(&handle);
        }
    }
}

#if defined(__i386__) || defined(__x86_64__)
// Whatever state the host left, the point is the same and the host gets its
// state back exactly, sticky flags included: the flags our arithmetic raised
// are not left behind, the host's own are kept.
TEST_F(CurveServices, EvaluationGivesTheHostsFloatingPointStateBack) {
    std::mt19937 rng(29);
    const auto c = sx::testing::random_curve(rng, 3, true, true, false);
    const CurveDesc desc = desc_of(c);
    CurveHandle* handle = nullptr;
    ASSERT_TRUE(ruvane_create_nurbs_curve(&desc, &handle));
    double expect[3];
    ASSERT_TRUE(ruvane_evaluate_nurbs_curve(&handle, 0.37, expect));
    const struct {
        const char* name;
        std::uint32_t mxcsr;
        std::uint16_t x87;
    } states[] = {
        {"default, no flags", 0x1F80, 0x037F}, {"default, inexact raised", 0x1FA0, 0x037F},
        {"round up", 0x5F80, 0x037F},          {"ftz and daz", 0x9FC0, 0x037F},
        {"x87 24-bit", 0x1F80, 0x007F},        {"all at once", 0xDFC0, 0x0C7F},
    };
    const std::uint32_t saved_mxcsr = _mm_getcsr();
    std::uint16_t saved_x87 = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(saved_x87));
    for (const auto& s : states) {
        double point[3] = {NAN, NAN, NAN};
        std::uint16_t x87 = s.x87;
        _mm_setcsr(s.mxcsr);
        __asm__ __volatile__("fldcw %0" : : "m"(x87));
        const bool ok = ruvane_evaluate_nurbs_curve(&handle, 0.37, point);
        const std::uint32_t after_mxcsr = _mm_getcsr();
        __asm__ __volatile__("fnstcw %0" : "=m"(x87));
        _mm_setcsr(saved_mxcsr);
        __asm__ __volatile__("fldcw %0" : : "m"(saved_x87));
        EXPECT_TRUE(ok) << s.name;
        EXPECT_EQ(after_mxcsr, s.mxcsr) << s.name;
        EXPECT_EQ(x87, s.x87) << s.name;
        for (int k = 0; k < 3; ++k) EXPECT_EQ(point[k], expect[k]) << s.name << " " << k;
    }
    ruvane_destroy_nurbs_curve(&handle);
}
#endif

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
