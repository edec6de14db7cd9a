// Knot spans and B-spline basis functions with their derivatives.
#include <algorithm>

#include "nurbs/basis.h"
#include "nurbs/nurbs.h"

namespace ruvane {

namespace {

// N_KNTFSP for a u its caller has range-checked already.
Status span_in_range(const KnotVector& knt, int p, double u, int side, int* span) {
    if (side != 1 && side != 2) {
        set_error(kErrSelector, "N_KNTFSP");
        return kFail;
    }
    const double* U = knt.U;
    const int m = knt.m;
    // Only [U[p], U[m - p]] is covered by spans with p + 1 basis functions; an
    // unclamped vector has knots outside it, where no span exists (and where
    // the bisection below would never end).
    if (p < 0 || m - p - 1 < p || !(U[p] <= u && u <= U[m - p]) || !(U[p] < U[m - p])) {
        set_error(kErrRange, "N_KNTFSP");
        return kFail;
    }
    if (side == 1) {
        if (u == U[m - p]) {
            int s = m - p - 1;
            while (s > p && U[s] == U[s + 1]) --s;  // last non-empty span
            *span = s;
            return kOk;
        }
        int low = p;
        int high = m - p;
        int mid = m / 2;
        while (u < U[mid] || u >= U[mid + 1]) {
            if (u < U[mid]) {
                high = mid;
            } else {
                low = mid;
            }
            mid = (low + high) / 2;
        }
        *span = mid;
        return kOk;
    }
    if (u == U[p]) {
        int s = p;
        while (s < m - p - 1 && U[s] == U[s + 1]) ++s;  // first non-empty span
        *span = s;
        return kOk;
    }
    int low = p;
    int high = m - p;
    int mid = m / 2;
    while (u <= U[mid] || u > U[mid + 1]) {
        if (u <= U[mid]) {
            high = mid;
        } else {
            low = mid;
        }
        mid = (low + high) / 2;
    }
    *span = mid;
    return kOk;
}

}  // namespace

Status N_KNTFSP(const KnotVector& knt, int p, double u, int side, int* span) {
    if (side != 1 && side != 2) {
        set_error(kErrSelector, "N_KNTFSP");
        return kFail;
    }
    if (check_range(knt, "N_KNTFSP", u) != kOk) return kFail;
    return span_in_range(knt, p, u, side, span);
}

Status N_KNTFSM(const KnotVector& knt, int p, double u, int side, int* span, int* multiplicity) {
    if (N_KNTFSP(knt, p, u, side, span) != kOk) return kFail;
    int count = 0;
    for (int i = 0; i <= knt.m; ++i) {
        if (knt.U[i] == u) ++count;
    }
    *multiplicity = count;
    return kOk;
}

Status N_KNTALB(const KnotVector& knt, int p, double u, int side, double* N, int* span) {
    if (check_range(knt, "N_KNTALB", u) != kOk) return kFail;
    return basis_in_range(knt, p, u, side, N, span);
}

Status basis_in_range(const KnotVector& knt, int p, double u, int side, double* N, int* span) {
    if (p < 1 || p > kMaxDegree || knt.m < 2 * p + 1) {
        set_error(kErrRange, "N_KNTALB");
        return kFail;
    }
    const double* U = knt.U;
    const int m = knt.m;
    // The end shortcuts hold only where the knot vector is clamped; at the end
    // of an unclamped vector several functions are non-zero.
    if (u == U[p] && U[1] == U[p] && U[p] < U[p + 1]) {
        N[0] = 1.0;
        for (int k = 1; k <= p; ++k) N[k] = 0.0;
        *span = p;
        return kOk;
    }
    if (u == U[m - p] && U[m - 1] == U[m - p] && U[m - p - 1] < U[m - p]) {
        for (int k = 0; k < p; ++k) N[k] = 0.0;
        N[p] = 1.0;
        *span = m - p - 1;
        return kOk;
    }
    int s = 0;
    if (span_in_range(knt, p, u, side, &s) != kOk) return kFail;
    span_basis(U, p, s, u, N);
    *span = s;
    return kOk;
}

namespace {

// N_KNTABD's table and derivatives in span s, with the degree a constant
// for the usual degrees (PD > 0: the loops run unrolled) or read from p
// (PD 0), and the same for the count of derivatives (ND > 0, or nd). The
// same steps in the same order either way.
template <int PD, int ND = 0>
void basis_derivatives(const double* U, int p_runtime, int s, double u, int nd_runtime,
                       double* ders) {
    const int p = PD > 0 ? PD : p_runtime;
    const int nd = ND > 0 ? ND : nd_runtime;
    const int P = p + 1;
    // ndu: basis functions (upper triangle) and knot differences (lower).
    double ndu[kMaxDegree + 1][kMaxDegree + 1];
    double left[kMaxDegree + 1];
    double right[kMaxDegree + 1];
    ndu[0][0] = 1.0;
    for (int j = 1; j <= p; ++j) {
        left[j] = u - U[s + 1 - j];
        right[j] = U[s + j] - u;
        double saved = 0.0;
        for (int r = 0; r < j; ++r) {
            ndu[j][r] = right[r + 1] + left[j - r];
            const double temp = ndu[r][j - 1] / ndu[j][r];
            ndu[r][j] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        ndu[j][j] = saved;
    }
    for (int j = 0; j <= p; ++j) ders[j] = ndu[j][p];
    const int top = std::min(nd, p);
    double a[2][kMaxDegree + 1];
    for (int r = 0; r <= p; ++r) {
        int s1 = 0;
        int s2 = 1;
        a[0][0] = 1.0;
        for (int k = 1; k <= top; ++k) {
            double d = 0.0;
            const int rk = r - k;
            const int pk = p - k;
            if (r >= k) {
                a[s2][0] = a[s1][0] / ndu[pk + 1][rk];
                d = a[s2][0] * ndu[rk][pk];
            }
            const int j1 = rk >= -1 ? 1 : -rk;
            const int j2 = (r - 1 <= pk) ? k - 1 : p - r;
            for (int j = j1; j <= j2; ++j) {
                a[s2][j] = (a[s1][j] - a[s1][j - 1]) / ndu[pk + 1][rk + j];
                d += a[s2][j] * ndu[rk + j][pk];
            }
            if (r <= pk) {
                a[s2][k] = -a[s1][k - 1] / ndu[pk + 1][r];
                d += a[s2][k] * ndu[r][pk];
            }
            ders[k * P + r] = d;
            std::swap(s1, s2);
        }
    }
    double factor = p;
    for (int k = 1; k <= top; ++k) {
        for (int j = 0; j <= p; ++j) ders[k * P + j] *= factor;
        factor *= (p - k);
    }
    for (int k = top + 1; k <= nd; ++k) {
        for (int j = 0; j <= p; ++j) ders[k * P + j] = 0.0;
    }
}

}  // namespace

Status N_KNTABD(const KnotVector& knt, int p, double u, int side, int nd, double* ders, int* span) {
    if (check_range(knt, "N_KNTABD", u) != kOk) return kFail;
    if (p < 1 || p > kMaxDegree || nd < 0) {
        set_error(kErrRange, "N_KNTABD");
        return kFail;
    }
    int s = 0;
    if (span_in_range(knt, p, u, side, &s) != kOk) return kFail;
    // Surface normals ask for the first derivatives of degrees 1 to 3 by
    // the thousand.
    if (p == 1)
        basis_derivatives<1>(knt.U, p, s, u, nd, ders);
    else if (p == 2 && nd == 1)
        basis_derivatives<2, 1>(knt.U, p, s, u, nd, ders);
    else if (p == 2)
        basis_derivatives<2>(knt.U, p, s, u, nd, ders);
    else if (p == 3 && nd == 1)
        basis_derivatives<3, 1>(knt.U, p, s, u, nd, ders);
    else if (p == 3)
        basis_derivatives<3>(knt.U, p, s, u, nd, ders);
    else
        basis_derivatives<0>(knt.U, p, s, u, nd, ders);
    *span = s;
    return kOk;
}

namespace {

double binomial(int n, int k) {
    double b = 1.0;
    for (int i = 1; i <= k; ++i) b = b * (n - k + i) / i;
    return b;
}

}  // namespace

Status N_KNTASD(int p, int q, int f, int g, bool triangular, const double* du, const double* dv,
                const double* w, double* R) {
    if (p < 1 || q < 1 || f < 0 || g < 0) {
        set_error(kErrSelector, "N_KNTASD");
        return kFail;
    }
    const int P = p + 1;
    const int Q = q + 1;
    const int local = P * Q;
    auto table = [&](int k, int l) {
        return R + static_cast<std::size_t>(k * (g + 1) + l) * local;
    };
    auto wanted = [&](int k, int l) { return !triangular || k + l <= f; };
    // Weighted derivative sums W_kl, kept on the stack: orders are small.
    double Wkl[kMaxDegree + 1][kMaxDegree + 1];
    if (f > kMaxDegree || g > kMaxDegree) {
        set_error(kErrSelector, "N_KNTASD");
        return kFail;
    }
    for (int k = 0; k <= f; ++k) {
        for (int l = 0; l <= g; ++l) {
            if (!wanted(k, l)) continue;
            double* A = table(k, l);
            double sum = 0.0;
            for (int i = 0; i < P; ++i) {
                for (int j = 0; j < Q; ++j) {
                    const double value = w[i * Q + j] * du[k * P + i] * dv[l * Q + j];
                    A[i * Q + j] = value;
                    sum += value;
                }
            }
            Wkl[k][l] = sum;
        }
    }
    const double W00 = Wkl[0][0];
    if (guard_div(1.0, W00) != 0) {
        set_error(kErrRational, "N_KNTASD");
        return kFail;
    }
    const double inv = 1.0 / W00;
    // Leibniz: A_kl = sum_ab C(k,a) C(l,b) W_ab R_(k-a)(l-b); solve for R_kl
    // in order of increasing k + l.
    for (int total = 0; total <= f + g; ++total) {
        for (int k = 0; k <= f; ++k) {
            const int l = total - k;
            if (l < 0 || l > g || !wanted(k, l)) continue;
            double* Rkl = table(k, l);
            for (int a = 0; a <= k; ++a) {
                for (int b = 0; b <= l; ++b) {
                    if (a == 0 && b == 0) continue;
                    const double c = binomial(k, a) * binomial(l, b) * Wkl[a][b];
                    const double* lower = table(k - a, l - b);
                    for (int e = 0; e < local; ++e) Rkl[e] -= c * lower[e];
                }
            }
            for (int e = 0; e < local; ++e) Rkl[e] *= inv;
        }
    }
    return kOk;
}

}  // namespace ruvane
