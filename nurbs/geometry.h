// Points, 3-vectors, the G_ routines, Bernstein polynomials and the small
// linear-algebra and ordered-set routines (M_).
#pragma once

#include <cmath>

#include "nurbs/conventions.h"

namespace ruvane {

struct Point3 {
    double x, y, z;
};

// Homogeneous point (w*x, w*y, w*z, w), honouring kPlanarZ and kNonRationalW.
struct Point4 {
    double x, y, z, w;
};

inline double vec_dot(const Point3& a, const Point3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Point3 vec_cross(const Point3& a, const Point3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double vec_length(const Point3& a) { return std::sqrt(vec_dot(a, a)); }
inline Point3 vec_scale(const Point3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline Point3 vec_add(const Point3& a, const Point3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Point3 vec_sub(const Point3& a, const Point3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline double vec_distance(const Point3& a, const Point3& b) { return vec_length(vec_sub(a, b)); }

// Projection of a homogeneous point: divides by w unless non-rational; a
// planar z becomes 0.
inline Point3 project_point(const Point4& p) {
    Point3 r;
    if (p.w != kNonRationalW) {
        r = {p.x / p.w, p.y / p.w, p.z / p.w};
    } else {
        r = {p.x, p.y, p.z};
    }
    if (p.z == kPlanarZ) r.z = 0.0;
    return r;
}

// a*P + b*Q componentwise; a sentinel in either point is kept, not summed.
inline Point4 combine_points(double a, const Point4& p, double b, const Point4& q) {
    Point4 r;
    r.x = a * p.x + b * q.x;
    r.y = a * p.y + b * q.y;
    r.z = (p.z == kPlanarZ || q.z == kPlanarZ) ? kPlanarZ : a * p.z + b * q.z;
    r.w = (p.w == kNonRationalW || q.w == kNonRationalW) ? kNonRationalW : a * p.w + b * q.w;
    return r;
}

// Normalises v in place; code 17 and v unchanged when 1 / |v| is unsafe.
Status G_VECNIP(Point3* v);
// G_VECNIP for a caller that has |v| (vec_length(*v)) already: the same
// result and record, without working the length out again.
Status normalise_of_length(Point3* v, double length);
// Distance from P to the segment AB (code 11 on a refused division).
Status G_DISPAB(const Point3& p, const Point3& a, const Point3& b, double* distance);
// G_DISPAB for many points against one segment (a net line's inner points,
// the samples under a chord): the segment's vector and length are worked
// out once. Each distance is G_DISPAB's to the bit, with its error record.
class SegmentDistance {
public:
    SegmentDistance(const Point3& a, const Point3& b)
        : a_(a), b_(b), ab_(vec_sub(b, a)), mid_(vec_scale(vec_add(a, b), 0.5)) {
        length2_ = vec_dot(ab_, ab_);
        length_ = std::sqrt(length2_);
    }
    Status distance(const Point3& p, double* distance) const {
        if (length_ < kMinTolerance) {
            *distance = vec_distance(p, mid_);
            return kOk;
        }
        const Point3 ap = vec_sub(p, a_);
        const double along = vec_dot(ap, ab_);
        if (along >= 0.0 && along <= length2_) {
            const double area = vec_length(vec_cross(ab_, ap));
            if (!plainly_divisible(area) && guard_div(area, length_) != 0) return refused();
            *distance = area / length_;
            return kOk;
        }
        *distance = along < 0.0 ? vec_length(ap) : vec_distance(p, b_);
        return kOk;
    }

private:
    // A quotient guard_div is sure to let through (the length is at least
    // kMinTolerance here), so that the usual case asks for no call.
    bool plainly_divisible(double area) const {
        return (area == 0.0 || (area >= 1e-200 && area <= 1e200)) && length_ <= 1e100;
    }
    static Status refused();

    Point3 a_, b_, ab_, mid_;
    double length2_, length_;
};

// Distance from P to the line through A and B (code 11 when A and B coincide).
Status G_DISQAB(const Point3& p, const Point3& a, const Point3& b, double* distance);

// All n + 1 Bernstein polynomials of degree n at t in [0, 1] (code 6 outside).
Status B_ALLBER(int n, double t, double* values);

// LU decomposition without row exchanges of the size x size matrix a (rows
// a[0..size-1]), in place: unit lower part below the diagonal, upper part on
// and above it. A pivot below 1e-9 in magnitude fails with code 11.
Status M_LUDCMP(double** a, int size);
// Solves L U x = b in place in b after M_LUDCMP.
Status M_FORBAC(double* const* a, int size, double* b);

// Ordered set of distinct reals over [x0, x1] kept in `buckets` sorted bucket
// arrays, each closed by DBL_MAX. Storage comes from the pool given at
// creation; buckets grow by one value per insertion.
struct Pool;
struct OrderedSet {
    double x0 = 0.0;
    double x1 = 0.0;
    int buckets = 0;
    double** bucket = nullptr;  // bucket b: bucket_size[b] values then DBL_MAX
    int* bucket_size = nullptr;
    int count = 0;  // distinct values
    Pool* pool = nullptr;
};
Status ordered_set_init(OrderedSet* set, double x0, double x1, int buckets, Pool* pool);
// Inserts x unless a value within 1e-12 is present; code 14 when x is outside.
Status M_UPRHAS(OrderedSet* set, double x);
// Writes the sorted distinct values (set->count of them) to out.
void ordered_set_values(const OrderedSet& set, double* out);

}  // namespace ruvane
