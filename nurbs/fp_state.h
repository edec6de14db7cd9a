// The floating-point state the numerical routines compute under.
//
// A host may leave any state behind: 3D drivers set the x87 precision control
// to 24 bits, games switch on flush-to-zero, some code changes the rounding
// mode and never puts it back. Our geometric decisions (which side of a line,
// which cell is flat) must not change with it, so every exported entry point
// sets one known state and gives the host's back on every way out, including
// around the host's own callbacks.
#ifndef SX_NURBS_FP_STATE_H
#define SX_NURBS_FP_STATE_H

#include <cstdint>

namespace ruvane {

// The control registers that shape arithmetic results. Only the control bits
// are ours to decide; the sticky status flags of the host are given back too.
struct FpState {
    std::uint32_t mxcsr = 0;   // SSE control and status (x86 only)
    std::uint16_t x87_cw = 0;  // x87 control word (x86 only)
    int rounding = 0;          // <cfenv> rounding mode (other processors)
};

FpState read_fp_state();
void write_fp_state(const FpState& state);

// Round to nearest, no flush-to-zero, no denormals-are-zero, every exception
// masked; x87 precision control at the platform's own default (53 bits on
// 32-bit Windows, 64 bits elsewhere), which libm routines there expect.
FpState computing_fp_state();

// Sets the computing state for its lifetime and restores the host's after.
class FpStateGuard {
public:
    FpStateGuard();
    ~FpStateGuard();
    FpStateGuard(const FpStateGuard&) = delete;
    FpStateGuard& operator=(const FpStateGuard&) = delete;

    const FpState& host() const { return host_; }

private:
    FpState host_;
};

// The reverse, for the time a host callback runs inside a guarded call: the
// host's code sees its own state, and ours is back when it returns.
class HostFpScope {
public:
    explicit HostFpScope(const FpState& host);
    ~HostFpScope();
    HostFpScope(const HostFpScope&) = delete;
    HostFpScope& operator=(const HostFpScope&) = delete;

private:
    FpState ours_;
};

}  // namespace ruvane

#endif
