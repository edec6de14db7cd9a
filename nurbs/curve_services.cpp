// The kept-curve services of the component.
#include <new>

#include "include/ruvane.h"
#include "nurbs/curve_desc.h"
#include "nurbs/fp_state.h"

// One curve kept for the caller: its pool and the curve record living in it.
struct CurveHandle {
    ruvane::Pool pool;
    ruvane::Curve curve;
};

namespace {

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
    *out = handle;
    return true;
}

RUVANE_API bool ruvane_evaluate_nurbs_curve(CurveHandle* const* handle, double u, double point[3]) {
    ruvane::FpStateGuard fp;
    if (handle == nullptr || *handle == nullptr || point == nullptr) return false;
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
