// Cells against trim polygons: the classification that steers the
// subdivision and the even-odd region test of the triangulation.
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

// Whether the segment PQ meets the closed box (Liang-Barsky).
bool segment_meets_box(double pu, double pv, double qu, double qv, double ua, double ub, double va,
                       double vb) {
    double t0 = 0.0, t1 = 1.0;
    const double du = qu - pu, dv = qv - pv;
    const double p[4] = {-du, du, -dv, dv};
    const double q[4] = {pu - ua, ub - pu, pv - va, vb - pv};
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0.0) {
            if (q[k] < 0.0) return false;
            continue;
        }
        const double r = q[k] / p[k];
        if (p[k] < 0.0) {
            if (r > t1) return false;
            if (r > t0) t0 = r;
        } else {
            if (r < t0) return false;
            if (r < t1) t1 = r;
        }
    }
    return t0 <= t1;
}

bool inside_loop(const Loop& loop, double u, double v) {
    if (u < loop.umin || u > loop.umax || v < loop.vmin || v > loop.vmax) return false;
    bool in = false;
    const int n = loop.u.size;
    for (int i = 0, j = n - 1; i < n; j = i++) {
        const double ui = loop.u[i], vi = loop.v[i], uj = loop.u[j], vj = loop.v[j];
        if ((vi > v) != (vj > v)) {
            const double x = ui + (v - vi) / (vj - vi) * (uj - ui);
            if (u < x) in = !in;
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
    for (int i = 0, j = n - 1; i < n; j = i++) {
        const double pu = loop.u[j], pv = loop.v[j], qu = loop.u[i], qv = loop.v[i];
        if (strictly_inside(pu, pv) && strictly_inside(qu, qv)) continue;
        if (segment_meets_box(pu, pv, qu, qv, ua - t, ub + t, va - t, vb + t)) return 0;
    }
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
