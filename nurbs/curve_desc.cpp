#include "nurbs/curve_desc.h"

namespace ruvane {

namespace {

double snap(double v) { return (v > -1e-9 && v < 1e-9) ? 0.0 : v; }

}  // namespace

DescCopy copy_curve_desc(const CurveDesc* desc, Curve* cur, Pool* pool) {
    if (desc == nullptr || cur == nullptr) return DescCopy::kRejected;
    const int order = desc->order;
    const int count = desc->count;
    // Refuse before reading the caller's arrays: their lengths follow from
    // count and order, so absurd values must never reach a loop.
    if (order < 2 || order > kMaxDegree + 1) {
        set_error(kErrDegree, "N_IGS126");
        return DescCopy::kRejected;
    }
    if (count < order || count > kMaxDescCount || desc->points == nullptr ||
        desc->weights == nullptr || desc->knots == nullptr) {
        set_error(kErrKnots, "N_IGSVKB");
        return DescCopy::kRejected;
    }
    double* knots = S_GETR1D(count + order - 1, pool);
    if (knots == nullptr) return DescCopy::kNoStorage;
    Point3* points = S_GETP1D(count - 1, pool);
    if (points == nullptr) return DescCopy::kNoStorage;
    double* weights = S_GETR1D(count - 1, pool);
    if (weights == nullptr) return DescCopy::kNoStorage;
    for (int i = 0; i < count + order; ++i) knots[i] = snap(desc->knots[i]);
    for (int i = 0; i < count; ++i) {
        points[i] = {snap(desc->points[3 * i]), snap(desc->points[3 * i + 1]),
                     snap(desc->points[3 * i + 2])};
        weights[i] = snap(desc->weights[i]);
    }
    if (N_IGS126(count - 1, order - 1, knots, weights, points, 0.0, 1.0, cur, pool) != kOk) {
        return DescCopy::kRejected;
    }
    return DescCopy::kOk;
}

}  // namespace ruvane
