// Evaluation: curve points, reversal, surface points, derivatives, normals,
// iso-curves and component access.
#include <cfloat>
#include <cmath>
#include <type_traits>

#include "nurbs/basis.h"
#include "nurbs/nurbs.h"

namespace ruvane {

namespace {

// sum_k N[k] * Pw[k], keeping the sentinels of the points.
Point4 weighted_sum(const double* N, const Point4* const* points, int count) {
    Point4 r = {0.0, 0.0, 0.0, 0.0};
    bool planar = false;
    bool nonrational = false;
    for (int k = 0; k < count; ++k) {
        const Point4& P = *points[k];
        r.x += N[k] * P.x;
        r.y += N[k] * P.y;
        if (P.z == kPlanarZ) {
            planar = true;
        } else {
            r.z += N[k] * P.z;
        }
        if (P.w == kNonRationalW) {
            nonrational = true;
        } else {
            r.w += N[k] * P.w;
        }
    }
    if (planar) r.z = kPlanarZ;
    if (nonrational) r.w = kNonRationalW;
    return r;
}

bool clamped_ends(const KnotVector& knt, int p) {
    const double* U = knt.U;
    for (int i = 1; i <= p; ++i) {
        if (U[i] != U[0] || U[knt.m - i] != U[knt.m]) return false;
    }
    return true;
}

// Doubles of N_SURDER's workspace kept on the stack: first derivatives of
// surfaces up to degree 5 in each direction, rational or not.
constexpr std::size_t kSurderWorkspace = 384;
static_assert(sizeof(Point4) == 4 * sizeof(double) && sizeof(Point3) == 3 * sizeof(double),
              "points are packed doubles");

// Local nets up to degree 5 in each direction take the first-derivative
// kernels below.
constexpr int kFirstLocal = 36;

// Calls f with the count of basis functions of degree p as a constant for
// the usual degrees (0 for any other: the kernels read it from p then), so
// that their loops run unrolled.
template <class F>
auto by_degree(int p, F f) {
    switch (p) {
        case 1:
            return f(std::integral_constant<int, 2>{});
        case 2:
            return f(std::integral_constant<int, 3>{});
        case 3:
            return f(std::integral_constant<int, 4>{});
        default:
            return f(std::integral_constant<int, 0>{});
    }
}

// sum_i c[i] * local[i * Q + j] over i < P, in that order (one net column).
template <int PC>
inline Point3 column_sum(const double* c, int P_in, int Q, const Point4* local, int j) {
    const int P = PC > 0 ? PC : P_in;
    Point3 s = {0.0, 0.0, 0.0};
    for (int i = 0; i < P; ++i) {
        s.x += c[i] * local[i * Q + j].x;
        s.y += c[i] * local[i * Q + j].y;
        s.z += c[i] * local[i * Q + j].z;
    }
    return s;
}

// sum_e c[e] * pts[e] over e < count, in that order.
template <int CC, class Pt>
inline Point3 weighted_points(const double* c, const Pt* pts, int count_in) {
    const int count = CC > 0 ? CC : count_in;
    Point3 s = {0.0, 0.0, 0.0};
    for (int e = 0; e < count; ++e) {
        s.x += c[e] * pts[e].x;
        s.y += c[e] * pts[e].y;
        s.z += c[e] * pts[e].z;
    }
    return s;
}

// N_SURDER's rational table for the point and first derivatives (f = g = 1,
// triangular: R00, R01, R10) and its sums over the local net, N_KNTASD's
// steps written out for that case: the same operations in the same order,
// so the same bits, without the general table's loops over orders and
// binomials (each of which is 1 here). Simplification and the driver's
// normals ask for this at every vertex. False, with N_KNTASD's record, where
// the weights sum to nothing usable. PC, QC: the counts of basis functions
// as constants for the usual degrees (0: read from P, Q).
template <int PC, int QC>
bool rational_first_derivatives(int P_in, int Q_in, const double* du, const double* dv,
                                const Point4* local, Point3** skl) {
    const int P = PC > 0 ? PC : P_in, Q = QC > 0 ? QC : Q_in;
    const int count = P * Q;
    double R00[kFirstLocal], R01[kFirstLocal], R10[kFirstLocal];
    double W00 = 0.0, W01 = 0.0, W10 = 0.0;
    for (int i = 0; i < P; ++i) {
        for (int j = 0; j < Q; ++j) {
            const int e = i * Q + j;
            const double w = local[e].w;
            const double v00 = w * du[i] * dv[j];
            const double v01 = w * du[i] * dv[Q + j];
            const double v10 = w * du[P + i] * dv[j];
            R00[e] = v00;
            R01[e] = v01;
            R10[e] = v10;
            W00 += v00;
            W01 += v01;
            W10 += v10;
        }
    }
    if (guard_div(1.0, W00) != 0) {
        set_error(kErrRational, "N_KNTASD");
        return false;
    }
    const double inv = 1.0 / W00;
    for (int e = 0; e < count; ++e) R00[e] *= inv;
    for (int e = 0; e < count; ++e) {
        R01[e] -= W01 * R00[e];
        R01[e] *= inv;
        R10[e] -= W10 * R00[e];
        R10[e] *= inv;
    }
    constexpr int kCount = PC * QC;
    skl[0][0] = weighted_points<kCount>(R00, local, count);
    skl[0][1] = weighted_points<kCount>(R01, local, count);
    skl[1][0] = weighted_points<kCount>(R10, local, count);
    return true;
}

// The same for a surface without weights: N_SURDER's sums over the net's
// columns, then along v, for the point and the first derivatives.
template <int PC, int QC>
void plain_first_derivatives(int P_in, int Q_in, const double* du, const double* dv,
                             const Point4* local, Point3** skl) {
    const int P = PC > 0 ? PC : P_in, Q = QC > 0 ? QC : Q_in;
    for (int k = 0; k <= 1; ++k) {
        Point3 temp[kMaxDegree + 1];
        for (int j = 0; j < Q; ++j) temp[j] = column_sum<PC>(du + k * P, P, Q, local, j);
        for (int l = 0; l + k <= 1; ++l) skl[k][l] = weighted_points<QC>(dv + l * Q, temp, Q);
    }
}

// The kernels above with the degrees as constants where they are usual.
bool first_derivatives(int p, int q, bool rational, const double* du, const double* dv,
                       const Point4* local, Point3** skl) {
    return by_degree(p, [&](auto PC) {
        return by_degree(q, [&](auto QC) {
            if (!rational) {
                plain_first_derivatives<PC, QC>(p + 1, q + 1, du, dv, local, skl);
                return true;
            }
            return rational_first_derivatives<PC, QC>(p + 1, q + 1, du, dv, local, skl);
        });
    });
}

}  // namespace

Status N_CUREVN(const Curve& cur, int side, double u, Point4* Cw) {
    if (check_range(*cur.knt, "N_CUREVN", u) != kOk) return kFail;
    const int p = cur.p;
    double N[kMaxDegree + 1];
    int s = 0;
    if (N_KNTALB(*cur.knt, p, u, side, N, &s) != kOk) return kFail;
    const Point4* pts[kMaxDegree + 1];
    for (int k = 0; k <= p; ++k) pts[k] = &cur.pol->Pw[s - p + k];
    *Cw = weighted_sum(N, pts, p + 1);
    return kOk;
}

Status N_CURREV(const Curve* src, Curve* dst, Pool* pool) {
    const int n = src->pol->n;
    const int m = src->knt->m;
    const int p = src->p;
    const double* U = src->knt->U;
    const double t = U[0] + U[m];
    // Clamped end runs stay untouched: t - U[m] need not give back U[0] exactly.
    const bool clamped = clamped_ends(*src->knt, p);
    if (src == dst) {
        Point4* Pw = dst->pol->Pw;
        for (int i = 0; i <= n / 2; ++i) {
            const Point4 tmp = Pw[i];
            Pw[i] = Pw[n - i];
            Pw[n - i] = tmp;
        }
        double* V = dst->knt->U;
        const int first = clamped ? p + 1 : 0;
        for (int i = first; i <= m / 2; ++i) {
            const double a = V[i];
            const double b = V[m - i];
            V[i] = t - b;
            V[m - i] = t - a;
        }
        return kOk;
    }
    if (curve_storage(dst, n, m, "N_CURREV", pool) != kOk) return kFail;
    dst->p = src->p;
    for (int i = 0; i <= n; ++i) dst->pol->Pw[i] = src->pol->Pw[n - i];
    double* V = dst->knt->U;
    if (clamped) {
        for (int i = 0; i <= p; ++i) {
            V[i] = U[i];
            V[m - i] = U[m - i];
        }
        for (int i = 1; i <= m - 2 * p - 1; ++i) V[m - p - i] = t - U[p + i];
    } else {
        for (int i = 0; i <= m; ++i) V[i] = t - U[m - i];
    }
    return kOk;
}

Status N_SURDER(const Surface& sur, int side, double u, double v, int f, int g, int selector,
                Point3** skl) {
    if (f < 0 || g < 0 || f > kMaxDegree || g > kMaxDegree) {
        set_error(kErrSelector, "N_SURDER");
        return kFail;
    }
    const int p = sur.p;
    const int q = sur.q;
    const int P = p + 1;
    const int Q = q + 1;
    const bool triangular = selector == 1 && f == g;
    const bool rational = sur.net->Pw[0][0].w != kNonRationalW;
    // One workspace of doubles: the basis derivatives along u and v, the
    // local net, and the rational table with its weights (or one row of
    // points). The usual degrees fit on the stack; only larger ones ask the
    // host, once.
    const std::size_t du_count = static_cast<std::size_t>(f + 1) * P;
    const std::size_t dv_count = static_cast<std::size_t>(g + 1) * Q;
    const std::size_t local_count = 4 * static_cast<std::size_t>(P) * Q;
    const std::size_t table_count =
        rational ? static_cast<std::size_t>(f + 1) * (g + 1) * P * Q + P * Q : 3 * Q;
    const std::size_t total = du_count + dv_count + local_count + table_count;
    // Bytes, so that it may hold points as well as doubles.
    alignas(double) unsigned char small[sizeof(double) * kSurderWorkspace];
    double* work = reinterpret_cast<double*>(small);
    if (total > kSurderWorkspace)
        work = static_cast<double*>(host_allocate(sizeof(double) * total));
    Status status = kOk;
    if (work == nullptr) {
        set_error(kErrStorage, "N_SURDER");
        return kFail;
    }
    double* du = work;
    double* dv = du + du_count;
    Point4* local = reinterpret_cast<Point4*>(dv + dv_count);
    double* table = dv + dv_count + local_count;
    int su = 0;
    int sv = 0;
    if (status == kOk && (N_KNTABD(*sur.uknt, p, u, side, f, du, &su) != kOk ||
                          N_KNTABD(*sur.vknt, q, v, side, g, dv, &sv) != kOk)) {
        status = kFail;
    }
    if (status == kOk) {
        // Derivatives are formed from differences to one reference point: the
        // derivative coefficients sum to zero, so control points that coincide
        // (a collapsed edge) give an exactly zero derivative.
        for (int i = 0; i < P; ++i) {
            for (int j = 0; j < Q; ++j) {
                const Point4& Pw = sur.net->Pw[su - p + i][sv - q + j];
                const Point3 c = project_point(Pw);
                local[i * Q + j] = {c.x, c.y, c.z, rational ? Pw.w : 1.0};
            }
        }
        // Rational points pass through a division, so coinciding points may
        // differ in their last bits; such differences are rounding, not shape.
        const Point3 ref = {local[0].x, local[0].y, local[0].z};
        auto difference = [](double value, double base) {
            const double d = value - base;
            return std::fabs(d) <= 8.0 * DBL_EPSILON * std::fabs(base) ? 0.0 : d;
        };
        for (int e = 0; e < P * Q; ++e) {
            local[e].x = difference(local[e].x, ref.x);
            local[e].y = difference(local[e].y, ref.y);
            local[e].z = difference(local[e].z, ref.z);
        }
        if (triangular && f == 1 && p >= 1 && q >= 1 && P * Q <= kFirstLocal) {
            if (!first_derivatives(p, q, rational, du, dv, local, skl)) status = kFail;
        } else if (rational) {
            double* R = table;
            double* weights = table + static_cast<std::size_t>(f + 1) * (g + 1) * P * Q;
            for (int e = 0; e < P * Q; ++e) weights[e] = local[e].w;
            if (N_KNTASD(p, q, f, g, triangular, du, dv, weights, R) != kOk) {
                status = kFail;
            } else {
                for (int k = 0; k <= f; ++k) {
                    for (int l = 0; l <= g; ++l) {
                        if (triangular && k + l > f) continue;
                        const double* Rkl = R + static_cast<std::size_t>(k * (g + 1) + l) * P * Q;
                        skl[k][l] = weighted_points<0>(Rkl, local, P * Q);
                    }
                }
            }
        } else {
            Point3* temp = reinterpret_cast<Point3*>(table);
            for (int k = 0; k <= f; ++k) {
                for (int j = 0; j < Q; ++j) temp[j] = column_sum<0>(du + k * P, P, Q, local, j);
                for (int l = 0; l <= g; ++l) {
                    if (triangular && k + l > f) continue;
                    skl[k][l] = weighted_points<0>(dv + l * Q, temp, Q);
                }
            }
        }
        if (status == kOk) skl[0][0] = vec_add(skl[0][0], ref);
    }
    if (total > kSurderWorkspace) host_release(work);
    return status;
}

namespace {

// N_SUREVN's steps, the basis functions of direction d (0: u, 1: v) found
// by basis(d, knots, degree, x, N, &span).
template <class Basis>
Status surface_point_with(const Surface& sur, double u, double v, Basis basis, Point3* S) {
    if (check_range(*sur.uknt, "N_SUREVN", u) != kOk) return kFail;
    if (check_range(*sur.vknt, "N_SUREVN", v) != kOk) return kFail;
    double Nu[kMaxDegree + 1];
    double Nv[kMaxDegree + 1];
    int su = 0;
    int sv = 0;
    if (basis(0, *sur.uknt, sur.p, u, Nu, &su) != kOk) return kFail;
    if (basis(1, *sur.vknt, sur.q, v, Nv, &sv) != kOk) return kFail;
    *S = surface_point_of_basis(sur, Nu, su, Nv, sv);
    return kOk;
}

// basis_in_range at side 1, skipping the span search where x lies strictly
// inside the hinted span (there the search finds that span, and neither end
// shortcut applies).
Status basis_near(const KnotVector& knt, int p, double x, int* hint, double* N, int* span) {
    const int h = *hint;
    if (h >= p && h < knt.m - p && p >= 1 && p <= kMaxDegree && knt.U[h] < x && x < knt.U[h + 1]) {
        span_basis(knt.U, p, h, x, N);
        *span = h;
        return kOk;
    }
    if (basis_in_range(knt, p, x, 1, N, span) != kOk) return kFail;
    *hint = *span;
    return kOk;
}

}  // namespace

Status N_SUREVN(const Surface& sur, int side, double u, double v, Point3* S) {
    const auto basis = [side](int, const KnotVector& knt, int p, double x, double* N, int* span) {
        return basis_in_range(knt, p, x, side, N, span);
    };
    return surface_point_with(sur, u, v, basis, S);
}

Status surface_point_near(const Surface& sur, double u, double v, int hint[2], Point3* S) {
    const auto basis = [hint](int d, const KnotVector& knt, int p, double x, double* N, int* span) {
        return basis_near(knt, p, x, &hint[d], N, span);
    };
    return surface_point_with(sur, u, v, basis, S);
}

namespace {

// Two coordinates of a point side by side: each lane is computed as the
// scalar code computes it (one rounding per operation, the same order), so
// the sums below are weighted_sum's to the bit, two coordinates at a time.
typedef double Pair __attribute__((vector_size(16)));
typedef long long PairMask __attribute__((vector_size(16)));

// Running sum of N * P as weighted_sum forms it, point by point in the same
// order. The sentinel coordinates (z of a two-dimensional point, w of an
// unweighted one) are summed as well and only flagged: a flag then replaces
// the whole sum, as weighted_sum's does, without a branch per point.
struct PairSum {
    Pair xy = {0.0, 0.0};
    Pair zw = {0.0, 0.0};
    PairMask flagged = {0, 0};

    void add(double N, Pair xy_in, Pair zw_in) {
        const Pair n = {N, N};
        const Pair sentinel = {kPlanarZ, kNonRationalW};
        xy += n * xy_in;
        zw += n * zw_in;
        flagged |= zw_in == sentinel;
    }
    void add(double N, const Point4& P) { add(N, Pair{P.x, P.y}, Pair{P.z, P.w}); }
    // The sum with its flagged coordinates replaced by their sentinels.
    Pair zw_kept() const {
        if ((flagged[0] | flagged[1]) == 0) return zw;
        const Pair sentinel = {kPlanarZ, kNonRationalW};
        return reinterpret_cast<Pair>((reinterpret_cast<PairMask>(zw) & ~flagged) |
                                      (reinterpret_cast<PairMask>(sentinel) & flagged));
    }
};

// surface_point_of_basis with the degrees constants (0: read from p, q), so
// that the usual degrees run unrolled.
template <int P, int Q>
Point3 point_of_basis(const Point4* const* Pw, int p, int q, const double* Nu, int i0,
                      const double* Nv, int j0) {
    const int np = P > 0 ? P : p + 1;
    const int nq = Q > 0 ? Q : q + 1;
    PairSum r;
#pragma GCC unroll 6
    for (int j = 0; j < nq; ++j) {
        PairSum row;
#pragma GCC unroll 6
        for (int i = 0; i < np; ++i) row.add(Nu[i], Pw[i0 + i][j0 + j]);
        r.add(Nv[j], row.xy, row.zw_kept());
    }
    const Pair zw = r.zw_kept();
    return project_point(Point4{r.xy[0], r.xy[1], zw[0], zw[1]});
}

// The kernel for the degree in v once the one in u is fixed (called
// directly, so that the kernel runs inlined).
template <int P>
Point3 point_of_degree_v(const Point4* const* Pw, int p, int q, const double* Nu, int i0,
                         const double* Nv, int j0) {
    if (q == 1) return point_of_basis<P, 2>(Pw, p, q, Nu, i0, Nv, j0);
    if (q == 2) return point_of_basis<P, 3>(Pw, p, q, Nu, i0, Nv, j0);
    if (q == 3) return point_of_basis<P, 4>(Pw, p, q, Nu, i0, Nv, j0);
    return point_of_basis<0, 0>(Pw, p, q, Nu, i0, Nv, j0);
}

}  // namespace

Point3 surface_point_of_basis(const Surface& sur, const double* Nu, int su, const double* Nv,
                              int sv) {
    const int p = sur.p;
    const int q = sur.q;
    const Point4* const* Pw = sur.net->Pw;
    const int i0 = su - p, j0 = sv - q;
    return by_degree(p, [&](auto P) {
        if constexpr (P == 0)
            return point_of_basis<0, 0>(Pw, p, q, Nu, i0, Nv, j0);
        else
            return point_of_degree_v<P>(Pw, p, q, Nu, i0, Nv, j0);
    });
}

namespace {

// The column sums of point_of_basis's inner loop, one net column each.
template <int P>
void column_sums_of(const Point4* const* Pw, int p, const double* Nu, int i0, int j_first,
                    int count, ColumnSum* out) {
    const int np = P > 0 ? P : p + 1;
    for (int c = 0; c < count; ++c) {
        PairSum row;
#pragma GCC unroll 6
        for (int i = 0; i < np; ++i) row.add(Nu[i], Pw[i0 + i][j_first + c]);
        const Pair zw = row.zw_kept();
        out[c] = ColumnSum{row.xy[0], row.xy[1], zw[0], zw[1]};
    }
}

// point_of_basis's outer loop over sums formed before.
template <int Q>
Point3 point_of_sums(int q, const ColumnSum* sums, const double* Nv) {
    const int nq = Q > 0 ? Q : q + 1;
    PairSum r;
#pragma GCC unroll 6
    for (int j = 0; j < nq; ++j)
        r.add(Nv[j], Pair{sums[j].x, sums[j].y}, Pair{sums[j].z, sums[j].w});
    const Pair zw = r.zw_kept();
    return project_point(Point4{r.xy[0], r.xy[1], zw[0], zw[1]});
}

}  // namespace

void surface_column_sums(const Surface& sur, const double* Nu, int su, int j_first, int count,
                         ColumnSum* out) {
    const int p = sur.p;
    by_degree(p,
              [&](auto P) { column_sums_of<P>(sur.net->Pw, p, Nu, su - p, j_first, count, out); });
}

Point3 surface_point_of_sums(const Surface& sur, const ColumnSum* sums, const double* Nv) {
    return by_degree(sur.q, [&](auto Q) { return point_of_sums<Q>(sur.q, sums, Nv); });
}

Status N_SURNOR(const Surface& sur, int side, double u, double v, Point3* S, Point3* Su, Point3* Sv,
                Point3* normal) {
    if (check_range(*sur.uknt, "N_SURNOR", u) != kOk) return kFail;
    if (check_range(*sur.vknt, "N_SURNOR", v) != kOk) return kFail;
    Point3 row0[2];
    Point3 row1[2];
    Point3* skl[2] = {row0, row1};
    if (N_SURDER(sur, side, u, v, 1, 1, 1, skl) != kOk) return kFail;
    Point3 tu = row1[0];
    Point3 tv = row0[1];
    if (G_VECNIP(&tu) != kOk) return kFail;
    if (G_VECNIP(&tv) != kOk) return kFail;
    Point3 n = vec_cross(tu, tv);
    if (vec_length(n) < kMinTolerance * 0.01) {
        set_error(kErrDegenerate, "N_SURNOR");
        return kFail;
    }
    if (G_VECNIP(&n) != kOk) return kFail;
    *S = row0[0];
    *Su = tu;
    *Sv = tv;
    *normal = n;
    return kOk;
}

Status N_TOOSCX(const Surface& src, int direction, double t, Curve* dst, Pool* pool) {
    if (direction != 1 && direction != 2) {
        set_error(kErrSelector, "N_TOOSCX");
        return kFail;
    }
    const KnotVector& fixed = direction == 1 ? *src.uknt : *src.vknt;
    const KnotVector& along = direction == 1 ? *src.vknt : *src.uknt;
    const int pf = direction == 1 ? src.p : src.q;
    const int pa = direction == 1 ? src.q : src.p;
    const int count = direction == 1 ? src.net->m : src.net->n;  // highest index along
    if (check_range(fixed, "N_TOOSCX", t) != kOk) return kFail;
    double N[kMaxDegree + 1];
    int s = 0;
    if (N_KNTALB(fixed, pf, t, 1, N, &s) != kOk) return kFail;
    if (curve_storage(dst, count, along.m, "N_TOOSCX", pool) != kOk) return kFail;
    dst->p = static_cast<std::int16_t>(pa);
    for (int i = 0; i <= along.m; ++i) dst->knt->U[i] = along.U[i];
    const Point4* pts[kMaxDegree + 1];
    for (int j = 0; j <= count; ++j) {
        for (int k = 0; k <= pf; ++k) {
            pts[k] = direction == 1 ? &src.net->Pw[s - pf + k][j] : &src.net->Pw[j][s - pf + k];
        }
        dst->pol->Pw[j] = weighted_sum(N, pts, pf + 1);
    }
    return kOk;
}

Status U_CURCMP(const Curve& cur, int* n, int* p, int* m, Point4** Pw, double** U) {
    if (cur.pol == nullptr || cur.knt == nullptr) {
        set_error(kErrTool, "U_CURCMP");
        return kFail;
    }
    if (n) *n = cur.pol->n;
    if (p) *p = cur.p;
    if (m) *m = cur.knt->m;
    if (Pw) *Pw = cur.pol->Pw;
    if (U) *U = cur.knt->U;
    return kOk;
}

Status U_SURCMP(const Surface& sur, int* n, int* m, int* p, int* q, double** U, double** V,
                Point4*** Pw) {
    if (sur.net == nullptr || sur.uknt == nullptr || sur.vknt == nullptr) {
        set_error(kErrTool, "U_SURCMP");
        return kFail;
    }
    if (n) *n = sur.net->n;
    if (m) *m = sur.net->m;
    if (p) *p = sur.p;
    if (q) *q = sur.q;
    if (U) *U = sur.uknt->U;
    if (V) *V = sur.vknt->U;
    if (Pw) *Pw = sur.net->Pw;
    return kOk;
}

Status U_MAPCPL(const Surface& sur, const Curve& cur, Point3* out) {
    const double u0 = sur.uknt->U[0];
    const double u1 = sur.uknt->U[sur.uknt->m];
    const double v0 = sur.vknt->U[0];
    const double v1 = sur.vknt->U[sur.vknt->m];
    for (int i = 0; i <= cur.pol->n; ++i) {
        const Point3 c = project_point(cur.pol->Pw[i]);
        const double u = std::fmin(std::fmax(c.x, u0), u1);
        const double v = std::fmin(std::fmax(c.y, v0), v1);
        if (!(u == u) || !(v == v) || N_SUREVN(sur, 1, u, v, &out[i]) != kOk) {
            set_error(kErrTool, "U_MAPCPL");
            return kFail;
        }
    }
    return kOk;
}

}  // namespace ruvane
