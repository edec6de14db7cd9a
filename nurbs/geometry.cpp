#include "nurbs/geometry.h"

#include <cfloat>
#include <cmath>

#include "nurbs/storage.h"

namespace ruvane {

Status G_VECNIP(Point3* v) { return normalise_of_length(v, vec_length(*v)); }

Status normalise_of_length(Point3* v, double length) {
    // 1 / length is plainly safe between these bounds: no call to the guard.
    const bool plain = length >= 1e-200 && length <= 1e200;
    if (!plain && guard_div(1.0, length) != 0) {
        set_error(kErrDegenerate, "G_VECNIP");
        return kFail;
    }
    *v = vec_scale(*v, 1.0 / length);
    return kOk;
}

Status G_DISPAB(const Point3& p, const Point3& a, const Point3& b, double* distance) {
    return SegmentDistance(a, b).distance(p, distance);
}

Status SegmentDistance::refused() {
    set_error(kErrDivision, "G_DISPAB");
    return kFail;
}

Status G_DISQAB(const Point3& p, const Point3& a, const Point3& b, double* distance) {
    const Point3 ab = vec_sub(b, a);
    const double length = vec_length(ab);
    const double area = vec_length(vec_cross(ab, vec_sub(p, a)));
    if (guard_div(area, length) != 0) {
        set_error(kErrDivision, "G_DISQAB");
        return kFail;
    }
    *distance = area / length;
    return kOk;
}

Status B_ALLBER(int n, double t, double* values) {
    if (!(t >= 0.0 && t <= 1.0) || n < 0) {
        set_error(kErrRange, "B_ALLBER");
        return kFail;
    }
    // de Casteljau-style triangle: stable for every degree.
    const double s = 1.0 - t;
    values[0] = 1.0;
    for (int j = 1; j <= n; ++j) {
        double saved = 0.0;
        for (int k = 0; k < j; ++k) {
            const double temp = values[k];
            values[k] = saved + s * temp;
            saved = t * temp;
        }
        values[j] = saved;
    }
    return kOk;
}

Status M_LUDCMP(double** a, int size) {
    for (int k = 0; k < size; ++k) {
        const double pivot = a[k][k];
        if (!(std::fabs(pivot) >= kMinPivot)) {
            set_error(kErrDivision, "M_LUDCMP");
            return kFail;
        }
        for (int i = k + 1; i < size; ++i) {
            const double factor = a[i][k] / pivot;
            a[i][k] = factor;
            for (int j = k + 1; j < size; ++j) a[i][j] -= factor * a[k][j];
        }
    }
    return kOk;
}

Status M_FORBAC(double* const* a, int size, double* b) {
    if (size < 1) {
        set_error(kErrSelector, "M_FORBAC");
        return kFail;
    }
    for (int i = 1; i < size; ++i) {
        double sum = b[i];
        for (int j = 0; j < i; ++j) sum -= a[i][j] * b[j];
        b[i] = sum;
    }
    for (int i = size - 1; i >= 0; --i) {
        double sum = b[i];
        for (int j = i + 1; j < size; ++j) sum -= a[i][j] * b[j];
        if (guard_div(sum, a[i][i]) != 0) {
            set_error(kErrDivision, "M_FORBAC");
            return kFail;
        }
        b[i] = sum / a[i][i];
    }
    return kOk;
}

Status ordered_set_init(OrderedSet* set, double x0, double x1, int buckets, Pool* pool) {
    if (buckets < 1 || !(x0 <= x1)) {
        set_error(kErrOrderedSet, "M_UPRHAS");
        return kFail;
    }
    set->x0 = x0;
    set->x1 = x1;
    set->buckets = buckets;
    set->count = 0;
    set->pool = pool;
    set->bucket = S_GETR1P(buckets - 1, pool);
    if (set->bucket == nullptr) return kFail;
    set->bucket_size = S_GETI1D(buckets - 1, pool);
    if (set->bucket_size == nullptr) return kFail;
    for (int b = 0; b < buckets; ++b) {
        set->bucket[b] = nullptr;
        set->bucket_size[b] = 0;
    }
    return kOk;
}

namespace {

bool bucket_holds(const OrderedSet& set, int b, double x) {
    if (b < 0 || b >= set.buckets) return false;
    const double* values = set.bucket[b];
    for (int k = 0; k < set.bucket_size[b]; ++k) {
        if (std::fabs(values[k] - x) <= kZeroTest) return true;
    }
    return false;
}

}  // namespace

Status M_UPRHAS(OrderedSet* set, double x) {
    if (!(x >= set->x0 && x <= set->x1)) {
        set_error(kErrOrderedSet, "M_UPRHAS");
        return kFail;
    }
    int b = 0;
    const double span = set->x1 - set->x0;
    if (guard_div(x - set->x0, span) == 0) {
        b = static_cast<int>(std::floor((x - set->x0) / span * set->buckets));
    }
    if (b >= set->buckets) b = set->buckets - 1;
    if (b < 0) b = 0;
    // A value within the zero test may have landed just across a bucket border.
    if (bucket_holds(*set, b, x) || bucket_holds(*set, b - 1, x) || bucket_holds(*set, b + 1, x)) {
        return kOk;
    }
    const int size = set->bucket_size[b];
    double* grown = S_GETR1D(size + 1, set->pool);  // size + 1 values and the closing DBL_MAX
    if (grown == nullptr) return kFail;
    const double* old = set->bucket[b];
    int k = 0;
    for (; k < size && old[k] < x; ++k) grown[k] = old[k];
    grown[k] = x;
    for (; k < size; ++k) grown[k + 1] = old[k];
    grown[size + 1] = DBL_MAX;
    if (old != nullptr) pool_release_block(set->pool, kListR1D, old);
    set->bucket[b] = grown;
    set->bucket_size[b] = size + 1;
    ++set->count;
    return kOk;
}

void ordered_set_values(const OrderedSet& set, double* out) {
    int k = 0;
    for (int b = 0; b < set.buckets; ++b) {
        for (int i = 0; i < set.bucket_size[b]; ++i) out[k++] = set.bucket[b][i];
    }
}

}  // namespace ruvane
