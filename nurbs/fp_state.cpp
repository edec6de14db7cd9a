#include "nurbs/fp_state.h"

#if defined(__i386__) || defined(__x86_64__)
#define RUVANE_FP_X86 1
#include <xmmintrin.h>
#else
#include <cfenv>
#endif

namespace ruvane {

namespace {

#if RUVANE_FP_X86
// MXCSR: all six exceptions masked, round to nearest, FTZ and DAZ off.
constexpr std::uint32_t kComputingMxcsr = 0x1F80;
// x87: all exceptions masked, round to nearest; precision control 10b is 53
// bits, 11b is 64 bits.
#if defined(_WIN32) && !defined(_WIN64)
constexpr std::uint16_t kComputingX87 = 0x027F;
#else
constexpr std::uint16_t kComputingX87 = 0x037F;
#endif

std::uint16_t read_x87() {
    std::uint16_t cw = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw) : : "memory");
    return cw;
}

void write_x87(std::uint16_t cw) { __asm__ __volatile__("fldcw %0" : : "m"(cw) : "memory"); }
#endif

}  // namespace

FpState read_fp_state() {
    FpState s;
#if RUVANE_FP_X86
    s.mxcsr = _mm_getcsr();
    s.x87_cw = read_x87();
#else
    s.rounding = std::fegetround();
#endif
    return s;
}

void write_fp_state(const FpState& state) {
#if RUVANE_FP_X86
    _mm_setcsr(state.mxcsr);
    write_x87(state.x87_cw);
    // Keeps the compiler from moving arithmetic across the switch.
    __asm__ __volatile__("" : : : "memory");
#else
    std::fesetround(state.rounding);
#endif
}

FpState computing_fp_state() {
    FpState s;
#if RUVANE_FP_X86
    // The host's sticky flags are kept; only the controls are ours.
    s.mxcsr = kComputingMxcsr | (_mm_getcsr() & 0x3Fu);
    s.x87_cw = kComputingX87;
#else
    s.rounding = FE_TONEAREST;
#endif
    return s;
}

// Loading a control register stalls the pipeline for longer than a short
// evaluation takes; most hosts already compute in our state, so the guard
// writes only what differs (the result is the same either way).
FpStateGuard::FpStateGuard() : host_(read_fp_state()) {
#if RUVANE_FP_X86
    const FpState ours = computing_fp_state();
    if (host_.mxcsr != ours.mxcsr) _mm_setcsr(ours.mxcsr);
    if (host_.x87_cw != ours.x87_cw) write_x87(ours.x87_cw);
    __asm__ __volatile__("" : : : "memory");
#else
    write_fp_state(computing_fp_state());
#endif
}

FpStateGuard::~FpStateGuard() {
#if RUVANE_FP_X86
    // Our arithmetic raised sticky flags the host had not: those are cleared.
    __asm__ __volatile__("" : : : "memory");
    if (_mm_getcsr() != host_.mxcsr) _mm_setcsr(host_.mxcsr);
    if (read_x87() != host_.x87_cw) write_x87(host_.x87_cw);
#else
    write_fp_state(host_);
#endif
}

HostFpScope::HostFpScope(const FpState& host) : ours_(read_fp_state()) { write_fp_state(host); }

HostFpScope::~HostFpScope() { write_fp_state(ours_); }

}  // namespace ruvane
