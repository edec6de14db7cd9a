// The exports give bit-identical results whatever floating-point state the
// host left behind, give that state back, and run the host's sink under it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "nurbs/tessellation/tess_fixtures.h"
#include "nurbs/testing/ruvane_test_host.h"

#if defined(__i386__) || defined(__x86_64__)
#include <xmmintrin.h>
#define HOSTILE_FP_TESTS 1
#endif

namespace {

using namespace tess_fixtures;

#if HOSTILE_FP_TESTS
struct HostState {
    const char* name;
    std::uint32_t mxcsr;
    std::uint16_t x87;
};

std::uint16_t x87_control() {
    std::uint16_t cw = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}
void set_x87_control(std::uint16_t cw) { __asm__ __volatile__("fldcw %0" : : "m"(cw)); }

struct Seen {
    std::vector<TessTriangle> tris;
    std::uint32_t sink_mxcsr = 0;
    std::uint16_t sink_x87 = 0;
};

void collect(const TessTriangle* t, void* user) {
    Seen& s = *static_cast<Seen*>(user);
    s.tris.push_back(*t);
    s.sink_mxcsr = _mm_getcsr() & 0xFFC0u;
    s.sink_x87 = x87_control() & 0x0F3Fu;
}

// A doubly curved rational patch with a star-shaped spline hole: many
// flatness, side and crossing decisions, and libm calls in the metric plane.
Surface hostile_subject() {
    Surface s;
    s.u_order = s.v_order = 4;
    const int n = 6;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const double z =
                (i > 0 && i < n - 1 && j > 0 && j < n - 1) ? 0.7 * ((i * 7 + j * 3) % 5 - 2) : 0;
            s.points.insert(s.points.end(), {2.0 * i, 1.6 * j, z});
            s.weights.push_back((i + j) % 3 == 0 ? 1.3 : 1.0);
        }
    s.u_knots = clamped_knots(n, 4, 0, 1);
    s.v_knots = clamped_knots(n, 4, 0, 1);
    s.outer = circle(0.5, 0.5, 0.48, 0.45, true, true);
    s.holes.push_back(
        {star_spline(0.5, 0.5, {0.2, 0.12, 0.22, 0.1, 0.18, 0.13, 0.2}, 1, 1, false)});
    return s;
}

Seen tessellate_under(const HostState& h, int32_t* status) {
    const Surface subject = hostile_subject();
    Desc d(subject);
    Seen seen;
    const std::uint32_t saved_mxcsr = _mm_getcsr();
    const std::uint16_t saved_x87 = x87_control();
    _mm_setcsr(h.mxcsr);
    set_x87_control(h.x87);
    const bool ok = ruvane_tesselate_ruvane(collect, d.get(), status, 0.004, 0.004, 1e-6, &seen);
    const std::uint32_t after_mxcsr = _mm_getcsr();
    const std::uint16_t after_x87 = x87_control();
    _mm_setcsr(saved_mxcsr);
    set_x87_control(saved_x87);
    EXPECT_TRUE(ok) << h.name;
    // The host's controls come back (the sticky flags may have gained bits).
    EXPECT_EQ(after_mxcsr & 0xFFC0u, h.mxcsr & 0xFFC0u) << h.name;
    EXPECT_EQ(after_x87 & 0x0F3Fu, h.x87 & 0x0F3Fu) << h.name;
    EXPECT_EQ(seen.sink_mxcsr, h.mxcsr & 0xFFC0u) << h.name;
    EXPECT_EQ(seen.sink_x87, h.x87 & 0x0F3Fu) << h.name;
    return seen;
}

// Round up, down, towards zero; flush-to-zero with denormals-are-zero; the
// x87 at 24-bit precision as 3D drivers leave it; all of them at once.
const HostState kHostile[] = {
    {"sse round up", 0x5F80, 0x037F},      {"sse round down", 0x3F80, 0x037F},
    {"sse round to zero", 0x7F80, 0x037F}, {"ftz and daz", 0x9FC0, 0x037F},
    {"x87 24-bit", 0x1F80, 0x007F},        {"all at once", 0xDFC0, 0x0C7F},
};
#endif

TEST(TessFpState, ExportsGiveIdenticalResultsUnderHostileHostStates) {
#if HOSTILE_FP_TESTS
    sx::testing::install_counting_host();
    sx::testing::arm(0);
    int32_t status = -1;
    const Seen reference = tessellate_under({"default", 0x1F80, 0x037F}, &status);
    ASSERT_EQ(status, 0);
    ASSERT_GT(reference.tris.size(), 100u);
    for (const HostState& h : kHostile) {
        int32_t st = -1;
        const Seen got = tessellate_under(h, &st);
        EXPECT_EQ(st, status) << h.name;
        ASSERT_EQ(got.tris.size(), reference.tris.size()) << h.name;
        EXPECT_EQ(std::memcmp(got.tris.data(), reference.tris.data(),
                              got.tris.size() * sizeof(TessTriangle)),
                  0)
            << h.name;
    }
    // Kept curves likewise.
    const Curve c = star_spline(0, 0, {1, 0.6, 1.1, 0.5, 0.9}, 1, 1, true);
    const CurveDesc cd = curve_desc(c);
    // The parameters are formed before the host state is spoilt.
    std::vector<double> params;
    for (int k = 0; k <= 40; ++k) params.push_back(k / 41.0 + 1e-3 * (k % 3));
    auto sample = [&](const HostState& h) {
        std::vector<double> out;
        const std::uint32_t saved = _mm_getcsr();
        const std::uint16_t saved_x87 = x87_control();
        _mm_setcsr(h.mxcsr);
        set_x87_control(h.x87);
        CurveHandle* handle = nullptr;
        const bool made = ruvane_create_nurbs_curve(&cd, &handle);
        for (size_t k = 0; made && k < params.size(); ++k) {
            double p[3];
            if (ruvane_evaluate_nurbs_curve(&handle, params[k], p)) out.insert(out.end(), p, p + 3);
        }
        ruvane_destroy_nurbs_curve(&handle);
        _mm_setcsr(saved);
        set_x87_control(saved_x87);
        return out;
    };
    const std::vector<double> ref = sample({"default", 0x1F80, 0x037F});
    ASSERT_GT(ref.size(), 100u);
    for (const HostState& h : kHostile) {
        const std::vector<double> got = sample(h);
        ASSERT_EQ(got.size(), ref.size()) << h.name;
        EXPECT_EQ(std::memcmp(got.data(), ref.data(), ref.size() * sizeof(double)), 0) << h.name;
    }
    EXPECT_EQ(sx::testing::counters().live, 0);
#else
    GTEST_SKIP() << "no x86 floating-point controls on this processor";
#endif
}

}  // namespace
