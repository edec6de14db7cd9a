// Cells against trim polygons: the classification that steers the
// subdivision and the even-odd region test of the triangulation.
#include <algorithm>
#include <cmath>

#include "nurbs/tessellation/tess_internal.h"

namespace ruvane::tess {

void update_box(Loop& loop) {
    if (loop.u.size == 0) {
        loop.umin = loop.umax = loop.vmin = loop.vmax = 0.0;
        return;
    }
    loop.umin = loop.umax = loop.u[0];
    loop.vmin = loop.vmax = loop.v[0];
    for (int i = 1; i < loop.u.size; ++i) {
        loop.umin = std::fmin(loop.umin, loop.u[i]);
        loop.umax = std::fmax(loop.umax, loop.u[i]);
        loop.vmin = std::fmin(loop.vmin, loop.v[i]);
        loop.vmax = std::fmax(loop.vmax, loop.v[i]);
    }
}

namespace {

// floor(x) clamped to [0, last], without the library's floor: below 0 (or
// NaN) is 0, at or beyond the last bucket (an integer) is the last, and
// between, truncation is the floor.
int bucket_of(double x, int last) {
    if (!(x >= 0.0)) return 0;
    return x >= last ? last : static_cast<int>(x);
}

}  // namespace

int SegmentIndex::column(double u) const { return bucket_of((u - u0) / du, nu - 1); }

int SegmentIndex::row(double v) const { return bucket_of((v - v0) / dv, nv - 1); }

bool index_loop(Scratch& s, Loop& loop, double pad) {
    SegmentIndex& x = loop.index;
    x.nu = x.nv = 0;
    const int n = loop.u.size;
    // Every cell of the subdivision is classified, and every piece clipped,
    // against each loop: from 16 segments on, the buckets pay (at 64 a
    // model's trimmed faces scanned their loops of 20 to 60 points whole for
    // every cell; at 8 the buckets cost more than they saved).
    if (n < 16) return true;
    update_box(loop);
    const int side = std::min(512, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n)))));
    const double wu = loop.umax - loop.umin, wv = loop.vmax - loop.vmin;
    if (!(wu > 0.0) || !(wv > 0.0)) return true;
    x.u0 = loop.umin;
    x.v0 = loop.vmin;
    x.du = wu / side;
    x.dv = wv / side;
    x.nu = x.nv = side;
    const int buckets = side * side;
    if (!x.start.resize(s, 0, 0) || !x.start.resize(s, buckets + 1, 0)) return false;
    // Two passes: count per bucket, then fill in segment order.
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < n; ++i) {
            const int j = i + 1 < n ? i + 1 : 0;
            const int c0 = x.column(std::fmin(loop.u[i], loop.u[j]) - pad);
            const int c1 = x.column(std::fmax(loop.u[i], loop.u[j]) + pad);
            const int r0 = x.row(std::fmin(loop.v[i], loop.v[j]) - pad);
            const int r1 = x.row(std::fmax(loop.v[i], loop.v[j]) + pad);
            for (int r = r0; r <= r1; ++r)
                for (int c = c0; c <= c1; ++c) {
                    const int b = r * side + c;
                    if (pass == 0)
                        ++x.start[b + 1];
                    else
                        x.items[x.start[b]++] = i;
                }
        }
        if (pass == 0) {
            for (int b = 0; b < buckets; ++b) x.start[b + 1] += x.start[b];
            if (!x.items.resize(s, 0, 0) || !x.items.resize(s, x.start[buckets], 0)) return false;
        } else {
            // Filling moved each offset to the next bucket's; shift back.
            for (int b = buckets; b > 0; --b) x.start[b] = x.start[b - 1];
            x.start[0] = 0;
        }
    }
    return true;
}

namespace {

// One side of the Liang-Barsky clip: the side's p and q (the segment's
// direction across it and the start's distance inside it). False when the
// segment lies wholly outside; else narrows [t0, t1], noting side m where a
// bound moves.
inline bool clip_side(double p, double q, int m, double& t0, double& t1, int& side0, int& side1) {
    if (p == 0.0) return !(q < 0.0);
    const double r = q / p;
    if (p < 0.0) {
        if (r > t1) return false;
        if (r > t0) {
            t0 = r;
            side0 = m;
        }
    } else {
        if (r < t0) return false;
        if (r < t1) {
            t1 = r;
            side1 = m;
        }
    }
    return true;
}

}  // namespace

// The four sides written out: cell classification and clipping ask for this
// for every polygon segment near every cell.
bool clip_to_box(double pu, double pv, double qu, double qv, double ua, double ub, double va,
                 double vb, int& side0, int& side1) {
    double t0 = 0.0, t1 = 1.0;
    const double du = qu - pu, dv = qv - pv;
    return clip_side(-du, pu - ua, 0, t0, t1, side0, side1) &&
           clip_side(du, ub - pu, 1, t0, t1, side0, side1) &&
           clip_side(-dv, pv - va, 2, t0, t1, side0, side1) &&
           clip_side(dv, vb - pv, 3, t0, t1, side0, side1) && t0 <= t1;
}

namespace {

bool inside_loop(const Loop& loop, double u, double v) {
    if (u < loop.umin || u > loop.umax || v < loop.vmin || v > loop.vmax) return false;
    bool in = false;
    const int n = loop.u.size;
    const SegmentIndex& index = loop.index;
    if (index.nu == 0) {
        for (int i = 0, j = n - 1; i < n; j = i++) {
            const double ui = loop.u[i], vi = loop.v[i], uj = loop.u[j], vj = loop.v[j];
            if ((vi > v) != (vj > v)) {
                const double x = ui + (v - vi) / (vj - vi) * (uj - ui);
                if (u < x) in = !in;
            }
        }
        return in;
    }
    // The ray's row of buckets, from the point's column on; a segment is
    // counted only in the bucket that holds its crossing, so once.
    const int row = index.row(v);
    for (int c = index.column(u); c < index.nu; ++c) {
        const int b = row * index.nu + c;
        for (int k = index.start[b]; k < index.start[b + 1]; ++k) {
            const int i = index.items[k], j = i + 1 < n ? i + 1 : 0;
            const double ui = loop.u[i], vi = loop.v[i], uj = loop.u[j], vj = loop.v[j];
            if ((vi > v) != (vj > v)) {
                const double x = ui + (v - vi) / (vj - vi) * (uj - ui);
                if (u < x && index.column(x) == c) in = !in;
            }
        }
    }
    return in;
}

int classify_one(const Loop& loop, double ua, double ub, double va, double vb, double t) {
    if (loop.umax + t < ua - t || loop.umin - t > ub + t || loop.vmax + t < va - t ||
        loop.vmin - t > vb + t)
        return -1;
    const int n = loop.u.size;
    if (n == 0) return 2;
    // The polygon crosses the cell when one of its edges comes within t of
    // the cell's boundary: it meets the enlarged box without lying strictly
    // inside the shrunk one.
    const double sa = ua + t, sb = ub - t, ta = va + t, tb = vb - t;
    auto strictly_inside = [&](double u, double v) { return u > sa && u < sb && v > ta && v < tb; };
    const double ea = ua - t, eb = ub + t, fa = va - t, fb = vb + t;
    auto crosses = [&](int i) {
        const int j = i + 1 < n ? i + 1 : 0;
        const double pu = loop.u[i], pv = loop.v[i], qu = loop.u[j], qv = loop.v[j];
        if (strictly_inside(pu, pv) && strictly_inside(qu, qv)) return false;
        int side0 = -1, side1 = -1;
        return clip_to_box(pu, pv, qu, qv, ea, eb, fa, fb, side0, side1);
    };
    bool crossed = false;
    if (loop.index.nu == 0) {
        // Unindexed: every segment in order, up to the first that crosses.
        for (int i = 0; i < n && !crossed; ++i) crossed = crosses(i);
    } else {
        for_segments_near(loop, ea, eb, fa, fb, [&](int i) { crossed = crossed || crosses(i); });
    }
    if (crossed) return 0;
    // No edge near the boundary: the polygon lies wholly inside or wholly
    // outside the cell, and all corners share one side of it.
    if (strictly_inside(loop.u[0], loop.v[0])) return 2;
    return inside_loop(loop, ua, va) ? 1 : -1;
}

}  // namespace

int classify_cell(const LoopSet& set, double ua, double ub, double va, double vb, double t) {
    bool any0 = false, any2 = false, outer1 = false;
    int group = -1;
    bool group_contains = false;
    for (int k = 0; k < set.loops.size; ++k) {
        const Loop& loop = set.loops[k];
        if (loop.group != group) {
            // The scan stops at the first group whose outer loop holds the cell.
            if (group_contains) break;
            group = loop.group;
        }
        const int c = classify_one(loop, ua, ub, va, vb, t);
        if (loop.outer) {
            if (c == 1) {
                outer1 = true;
                group_contains = true;
            }
        } else if (c == 1) {
            return -1;
        }
        if (c == 0) any0 = true;
        if (c == 2) any2 = true;
    }
    if (any0) return any2 ? 3 : 0;
    if (any2) return 2;
    if (outer1) return 1;
    return -1;
}

bool inside_region(const LoopSet& set, double u, double v) {
    // Inside a group's outer loop and outside all its holes; a hole that
    // strays outside its outer loop takes nothing away there and adds nothing.
    for (int k = 0; k < set.loops.size;) {
        const int group = set.loops[k].group;
        bool in = false, in_hole = false;
        for (; k < set.loops.size && set.loops[k].group == group; ++k) {
            if (set.loops[k].outer)
                in = in || inside_loop(set.loops[k], u, v);
            else
                in_hole = in_hole || inside_loop(set.loops[k], u, v);
        }
        if (in && !in_hole) return true;
    }
    return false;
}

}  // namespace ruvane::tess
