#include "nurbs/curve_desc.h"

#include <cmath>

namespace ruvane {

namespace {

double snap(double v) { return (v > -1e-9 && v < 1e-9) ? 0.0 : v; }

// A value of a caller's array, or NaN for an array the caller did not give:
// the checks of N_IGS126 then refuse it at the step that reads it, so a
// missing array is reported in the same order as a bad one.
double take(const double* values, int i) { return values == nullptr ? NAN : snap(values[i]); }

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
    if (count < 1 || count > kMaxDescCount) {  // no knot vector fits these
        set_error(kErrKnots, "N_IGSVKB");
        return DescCopy::kRejected;
    }
    double* knots = S_GETR1D(count + order - 1, pool);
    if (knots == nullptr) return DescCopy::kNoStorage;
    Point3* points = S_GETP1D(count - 1, pool);
    if (points == nullptr) return DescCopy::kNoStorage;
    double* weights = S_GETR1D(count - 1, pool);
    if (weights == nullptr) return DescCopy::kNoStorage;
    for (int i = 0; i < count + order; ++i) knots[i] = take(desc->knots, i);
    for (int i = 0; i < count; ++i) {
        points[i] = {take(desc->points, 3 * i), take(desc->points, 3 * i + 1),
                     take(desc->points, 3 * i + 2)};
        weights[i] = take(desc->weights, i);
    }
    if (N_IGS126(count - 1, order - 1, knots, weights, points, 0.0, 1.0, cur, pool) != kOk) {
        return DescCopy::kRejected;
    }
    return DescCopy::kOk;
}

}  // namespace ruvane
