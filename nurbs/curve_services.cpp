// The kept-curve services of the component.
#include <atomic>
#include <new>

#include "include/ruvane.h"
#include "nurbs/basis.h"
#include "nurbs/curve_desc.h"
#include "nurbs/fp_state.h"

namespace {

// What a kept curve's point evaluation can decide once, at creation: callers
// evaluate one curve many times at nearby parameters, so the span of the last
// point is tried first. Points strictly inside [U[p], U[m - p]] of a curve
// whose points agree on their sentinels take this way; the ends and every
// unusual curve take the general routine, with its checks and error codes.
struct PointPath {
    bool usable = false;
    bool rational = false;
    bool planar = false;
    int p = 0;
    int first_span = 0;
    int last_span = 0;
    double lo = 0.0;
    double hi = 0.0;
    // Only a guess: a stale value costs a search, never a wrong span.
    mutable std::atomic<int> hint{0};
};

}  // namespace

// One curve kept for the caller: its pool and the curve record living in it.
struct CurveHandle {
    ruvane::Pool pool;
    ruvane::Curve curve;
    PointPath path;
};

namespace {

void prepare_path(const ruvane::Curve& cur, PointPath* path) {
    const int p = cur.p;
    const int m = cur.knt->m;
    const double* U = cur.knt->U;
    if (p < 1 || p > ruvane::kMaxDegree || m < 2 * p + 1 || !(U[p] < U[m - p])) return;
    const ruvane::Point4* Pw = cur.pol->Pw;
    const bool planar = Pw[0].z == ruvane::kPlanarZ;
    const bool rational = Pw[0].w != ruvane::kNonRationalW;
    for (int i = 0; i <= cur.pol->n; ++i) {
        if ((Pw[i].z == ruvane::kPlanarZ) != planar) return;
        if ((Pw[i].w != ruvane::kNonRationalW) != rational) return;
    }
    path->p = p;
    path->first_span = p;
    path->last_span = m - p - 1;
    path->lo = U[p];
    path->hi = U[m - p];
    path->planar = planar;
    path->rational = rational;
    path->hint.store(p, std::memory_order_relaxed);
    path->usable = true;
}

// The span s with U[s] <= u < U[s + 1] for lo < u < hi: the hinted span or its
// successor, else a bisection. Knots are non-decreasing, so the span is unique
// and the same as the general search finds.
int find_span(const PointPath& path, const double* U, double u) {
    int s = path.hint.load(std::memory_order_relaxed);
    if (!(U[s] <= u && u < U[s + 1])) {
        if (s < path.last_span && U[s + 1] <= u && u < U[s + 2]) {
            ++s;
        } else {
            int low = path.first_span;
            int high = path.last_span + 1;  // U[low] <= u < U[high]
            while (high - low > 1) {
                const int mid = (low + high) / 2;
                if (u < U[mid]) {
                    high = mid;
                } else {
                    low = mid;
                }
            }
            s = low;
        }
        path.hint.store(s, std::memory_order_relaxed);
    }
    return s;
}

// The same sums as the general routine, without its per-point sentinel tests.
template <int P>
void inner_point(const CurveHandle& h, double u, double point[3]) {
    const PointPath& path = h.path;
    const double* U = h.curve.knt->U;
    const int p = P > 0 ? P : path.p;
    const int s = find_span(path, U, u);
    double N[ruvane::kMaxDegree + 1];
    if (P > 0) {
        ruvane::span_basis_fixed<P>(U, s, u, N);
    } else {
        ruvane::span_basis_loop(U, p, s, u, N);
    }
    const ruvane::Point4* Pw = h.curve.pol->Pw + (s - p);
    double x = 0.0, y = 0.0, z = 0.0, w = 0.0;
    for (int k = 0; k <= p; ++k) {
        x += N[k] * Pw[k].x;
        y += N[k] * Pw[k].y;
        if (!path.planar) z += N[k] * Pw[k].z;
        if (path.rational) w += N[k] * Pw[k].w;
    }
    if (path.rational) {
        x = x / w;
        y = y / w;
        z = z / w;
    }
    point[0] = x;
    point[1] = y;
    point[2] = path.planar ? 0.0 : z;
}

void release_handle(CurveHandle* handle) {
    ruvane::pool_release_all(&handle->pool);
    handle->~CurveHandle();
    ruvane::host_release(handle);
}

}  // namespace

extern "C" {

RUVANE_API bool ruvane_create_nurbs_curve(const CurveDesc* desc, CurveHandle** out) {
    ruvane::FpStateGuard fp;
    if (out == nullptr) return false;
    *out = nullptr;
    if (desc == nullptr) return false;
    void* raw = ruvane::host_allocate(sizeof(CurveHandle));
    if (raw == nullptr) return false;
    CurveHandle* handle = new (raw) CurveHandle();
    if (ruvane::copy_curve_desc(desc, &handle->curve, &handle->pool) != ruvane::DescCopy::kOk) {
        release_handle(handle);
        return false;
    }
    prepare_path(handle->curve, &handle->path);
    *out = handle;
    return true;
}

RUVANE_API bool ruvane_evaluate_nurbs_curve(CurveHandle* const* handle, double u, double point[3]) {
    ruvane::FpStateGuard fp;
    if (handle == nullptr || *handle == nullptr || point == nullptr) return false;
    const CurveHandle& h = **handle;
    if (h.path.usable && h.path.lo < u && u < h.path.hi) {
        switch (h.path.p) {
            case 1:
                inner_point<1>(h, u, point);
                break;
            case 2:
                inner_point<2>(h, u, point);
                break;
            case 3:
                inner_point<3>(h, u, point);
                break;
            case 4:
                inner_point<4>(h, u, point);
                break;
            case 5:
                inner_point<5>(h, u, point);
                break;
            default:
                inner_point<0>(h, u, point);
                break;
        }
        return true;
    }
    ruvane::Point4 cw;
    if (ruvane::N_CUREVN((*handle)->curve, 1, u, &cw) != ruvane::kOk) return false;
    const ruvane::Point3 c = ruvane::project_point(cw);
    point[0] = c.x;
    point[1] = c.y;
    point[2] = c.z;
    return true;
}

RUVANE_API bool ruvane_destroy_nurbs_curve(CurveHandle** handle) {
    ruvane::FpStateGuard fp;
    if (handle != nullptr && *handle != nullptr) {
        release_handle(*handle);
        *handle = nullptr;
    }
    return true;
}

}  // extern "C"
