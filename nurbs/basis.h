// The non-zero B-spline basis functions of one span: the triangular
// recurrence, in one place so that the general routine and the kept-curve
// evaluation compute the same bits.
#ifndef SX_NURBS_BASIS_H
#define SX_NURBS_BASIS_H

#include "nurbs/conventions.h"

namespace ruvane {

// N[0..p] at u in span s of U (U[s] <= u < U[s + 1], or the right end), for
// 1 <= p <= kMaxDegree.
inline void span_basis_loop(const double* U, int p, int s, double u, double* N) {
    double left[kMaxDegree + 1];
    double right[kMaxDegree + 1];
    N[0] = 1.0;
    for (int j = 1; j <= p; ++j) {
        left[j] = u - U[s + 1 - j];
        right[j] = U[s + j] - u;
        double saved = 0.0;
        for (int r = 0; r < j; ++r) {
            const double t = N[r] / (right[r + 1] + left[j - r]);
            N[r] = saved + right[r + 1] * t;
            saved = left[j - r] * t;
        }
        N[j] = saved;
    }
}

// The same steps with the degree a constant: unrolled, the small degrees keep
// everything in registers (about half the instructions of the loop).
template <int P>
inline void span_basis_fixed(const double* U, int s, double u, double* N) {
    double left[P + 1];
    double right[P + 1];
    N[0] = 1.0;
#pragma GCC unroll 8
    for (int j = 1; j <= P; ++j) {
        left[j] = u - U[s + 1 - j];
        right[j] = U[s + j] - u;
        double saved = 0.0;
#pragma GCC unroll 8
        for (int r = 0; r < j; ++r) {
            const double t = N[r] / (right[r + 1] + left[j - r]);
            N[r] = saved + right[r + 1] * t;
            saved = left[j - r] * t;
        }
        N[j] = saved;
    }
}

inline void span_basis(const double* U, int p, int s, double u, double* N) {
    switch (p) {
        case 1:
            span_basis_fixed<1>(U, s, u, N);
            break;
        case 2:
            span_basis_fixed<2>(U, s, u, N);
            break;
        case 3:
            span_basis_fixed<3>(U, s, u, N);
            break;
        case 4:
            span_basis_fixed<4>(U, s, u, N);
            break;
        case 5:
            span_basis_fixed<5>(U, s, u, N);
            break;
        default:
            span_basis_loop(U, p, s, u, N);
            break;
    }
}

struct KnotVector;

// N_KNTALB for a u its caller has range-checked already (N_SUREVN checks
// both parameters before it asks for either basis): the same results and
// error records, one range check fewer.
Status basis_in_range(const KnotVector& knt, int p, double u, int side, double* N, int* span);

}  // namespace ruvane

#endif
