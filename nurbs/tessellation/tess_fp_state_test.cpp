// The exports give bit-identical results whatever floating-point state the
// host left behind, give that state back, and run the host's sink under it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "nurbs/tessellation/tess_fixtures.h"

#if defined(__i386__) || defined(__x86_64__)
#include <xmmintrin.h>

namespace {

using namespace tess_fixtures;

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

// What the exports gave, as raw doubles, and the controls the sink ran under
// (without the sticky flags).
struct Seen {
    std::vector<double> values;
    std::uint32_t sink_mxcsr = 0;
    std::uint16_t sink_x87 = 0;
};

void collect(const TessTriangle* t, void* user) {
    Seen& s = *static_cast<Seen*>(user);
    const double* d = reinterpret_cast<const double*>(t);
    s.values.insert(s.values.end(), d, d + sizeof(TessTriangle) / sizeof(double));
    s.sink_mxcsr = _mm_getcsr() & 0xFFC0u;
    s.sink_x87 = x87_control() & 0x0F3Fu;
}

// A doubly curved rational patch with a star-shaped spline hole: many
// flatness, side and crossing decisions, and libm calls in the metric plane.
Surface hostile_subject() {
    Surface s;
    s.u_order = s.v_order = 4;
    for (int j = 0; j < 6; ++j)
        for (int i = 0; i < 6; ++i) {
            const bool inner = i > 0 && i < 5 && j > 0 && j < 5;
            s.points.insert(s.points.end(),
                            {2.0 * i, 1.6 * j, inner ? 0.7 * ((i * 7 + j * 3) % 5 - 2) : 0});
            s.weights.push_back((i + j) % 3 == 0 ? 1.3 : 1.0);
        }
    s.u_knots = s.v_knots = clamped_knots(6, 4);
    s.outer = circle(0.5, 0.5, 0.48, 0.45, true, true);
    s.holes.push_back({star_spline(0.5, 0.5, {0.2, 0.12, 0.22, 0.1, 0.18, 0.13, 0.2}, false)});
    return s;
}

// Round up, down, towards zero; flush-to-zero with denormals-are-zero; the
// x87 at 24-bit precision as 3D drivers leave it; all of them at once.
const HostState kDefault{"default", 0x1F80, 0x037F};
const HostState kHostile[] = {
    {"sse round up", 0x5F80, 0x037F},      {"sse round down", 0x3F80, 0x037F},
    {"sse round to zero", 0x7F80, 0x037F}, {"ftz and daz", 0x9FC0, 0x037F},
    {"x87 24-bit", 0x1F80, 0x007F},        {"all at once", 0xDFC0, 0x0C7F},
};

TEST(TessFpState, ExportsGiveIdenticalResultsUnderHostileHostStates) {
    sx::testing::install_counting_host();
    sx::testing::arm(0);
    const Surface subject = hostile_subject();
    const Desc d(subject);
    const Curve star = star_spline(0, 0, {1, 0.6, 1.1, 0.5, 0.9}, true);
    const CurveDesc cd = curve_desc(star);
    // The parameters are formed before the host state is spoilt.
    std::vector<double> params;
    for (int k = 0; k <= 40; ++k) params.push_back(k / 41.0 + 1e-3 * (k % 3));
    // A tessellation, then the curve made and evaluated, under the state h.
    auto results = [&](const HostState& h) {
        Seen seen;
        int32_t status = -1;
        const std::uint32_t saved_mxcsr = _mm_getcsr();
        const std::uint16_t saved_x87 = x87_control();
        _mm_setcsr(h.mxcsr);
        set_x87_control(h.x87);
        bool ok = ruvane_tesselate_ruvane(collect, d.get(), &status, 0.004, 0.004, 1e-6, &seen);
        CurveHandle* handle = nullptr;
        ok = ruvane_create_nurbs_curve(&cd, &handle) && ok;
        for (double u : params) {
            double p[3] = {0, 0, 0};
            ok = ruvane_evaluate_nurbs_curve(&handle, u, p) && ok;
            seen.values.insert(seen.values.end(), p, p + 3);
        }
        ruvane_destroy_nurbs_curve(&handle);
        const std::uint32_t after_mxcsr = _mm_getcsr();
        const std::uint16_t after_x87 = x87_control();
        _mm_setcsr(saved_mxcsr);
        set_x87_control(saved_x87);
        EXPECT_TRUE(ok && status == 0) << h.name << ": status " << status;
        // The host's controls come back (the sticky flags may have gained bits).
        EXPECT_EQ(after_mxcsr & 0xFFC0u, h.mxcsr & 0xFFC0u) << h.name;
        EXPECT_EQ(after_x87 & 0x0F3Fu, h.x87 & 0x0F3Fu) << h.name;
        EXPECT_EQ(seen.sink_mxcsr, h.mxcsr & 0xFFC0u) << h.name;
        EXPECT_EQ(seen.sink_x87, h.x87 & 0x0F3Fu) << h.name;
        return seen.values;
    };
    const std::vector<double> reference = results(kDefault);
    ASSERT_GT(reference.size(), 100 * sizeof(TessTriangle) / sizeof(double));  // 100 triangles
    for (const HostState& h : kHostile) {
        const std::vector<double> got = results(h);
        ASSERT_EQ(got.size(), reference.size()) << h.name;
        EXPECT_EQ(std::memcmp(got.data(), reference.data(), got.size() * sizeof(double)), 0)
            << h.name;
    }
    EXPECT_EQ(sx::testing::counters().live, 0);
}

}  // namespace
#endif
