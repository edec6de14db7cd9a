#include "tools/ruvane_tess/loop_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

namespace ruvane_tess {

namespace {

struct Pt {
    double u, v;
};

// Samples per curve: enough to see a crossing of two curved pieces, few
// enough that a loop of many thousand line pieces stays quick.
int samples_for(const CurveData& c) {
    const int n = static_cast<int>(c.weights.size());
    return c.order <= 2 ? std::max(1, n - 1) : std::min(64, 8 * n);
}

// The loop as a polyline, and the first and last point of every curve.
bool sample_loop(const std::vector<CurveData>& loop, std::vector<Pt>& line, std::vector<Pt>& ends) {
    for (const CurveData& c : loop) {
        const CurveDesc d{c.order,
                          static_cast<int32_t>(c.weights.size()),
                          c.points.data(),
                          c.weights.data(),
                          0,
                          c.knots.data()};
        CurveHandle* h = nullptr;
        if (!ruvane_create_nurbs_curve(&d, &h)) return false;
        const int n = samples_for(c);
        for (int k = 0; k <= n; ++k) {
            double p[3];
            if (!ruvane_evaluate_nurbs_curve(&h, static_cast<double>(k) / n, p)) {
                ruvane_destroy_nurbs_curve(&h);
                return false;
            }
            if (k == 0) ends.push_back({p[0], p[1]});
            if (k == n) ends.push_back({p[0], p[1]});
            if (k > 0 || line.empty()) line.push_back({p[0], p[1]});
        }
        ruvane_destroy_nurbs_curve(&h);
    }
    return true;
}

double cross(Pt o, Pt a, Pt b) { return (a.u - o.u) * (b.v - o.v) - (a.v - o.v) * (b.u - o.u); }

bool segments_cross(Pt a, Pt b, Pt c, Pt d) {
    const double d1 = cross(a, b, c), d2 = cross(a, b, d);
    const double d3 = cross(c, d, a), d4 = cross(c, d, b);
    return ((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0));
}

// A proper crossing of two non-adjacent segments of the closed polyline,
// found through a uniform grid of buckets so that long loops stay linear in
// practice. Returns the index of a crossing segment or -1.
int find_crossing(const std::vector<Pt>& p) {
    const int n = static_cast<int>(p.size()) - 1;  // segments p[k] -> p[k + 1]
    if (n < 3) return -1;
    double u0 = p[0].u, u1 = u0, v0 = p[0].v, v1 = v0;
    for (const Pt& q : p) {
        u0 = std::min(u0, q.u), u1 = std::max(u1, q.u);
        v0 = std::min(v0, q.v), v1 = std::max(v1, q.v);
    }
    const int side = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(n))));
    const double su = (u1 - u0) / side + 1e-300, sv = (v1 - v0) / side + 1e-300;
    auto cell = [&](double x, double lo, double s) {
        return std::clamp(static_cast<int>((x - lo) / s), 0, side - 1);
    };
    std::unordered_map<long long, std::vector<int>> buckets;
    for (int k = 0; k < n; ++k) {
        const int ia = cell(std::min(p[k].u, p[k + 1].u), u0, su);
        const int ib = cell(std::max(p[k].u, p[k + 1].u), u0, su);
        const int ja = cell(std::min(p[k].v, p[k + 1].v), v0, sv);
        const int jb = cell(std::max(p[k].v, p[k + 1].v), v0, sv);
        for (int i = ia; i <= ib; ++i)
            for (int j = ja; j <= jb; ++j) {
                std::vector<int>& b = buckets[static_cast<long long>(j) * side + i];
                for (int m : b) {
                    const bool adjacent = m + 1 == k || (m == 0 && k == n - 1);
                    if (!adjacent && segments_cross(p[m], p[m + 1], p[k], p[k + 1])) return k;
                }
                b.push_back(k);
            }
    }
    return -1;
}

void check_one(const std::vector<CurveData>& loop, const std::string& name,
               std::vector<std::string>& out) {
    std::vector<Pt> line, ends;
    if (loop.empty() || !sample_loop(loop, line, ends)) return;  // the library reports those
    double size = 0;
    for (const Pt& q : line) size = std::max({size, std::fabs(q.u), std::fabs(q.v)});
    const double gap_limit = 1e-6 * std::max(1.0, size);
    char text[200];
    const int count = static_cast<int>(loop.size());
    for (int c = 0; c < count; ++c) {
        const Pt end = ends[2 * c + 1], next = ends[2 * ((c + 1) % count)];
        const double gap = std::hypot(next.u - end.u, next.v - end.v);
        if (gap > gap_limit) {
            std::snprintf(text, sizeof text,
                          "%s is open: curve %d ends at (%g, %g), %g from the start of curve %d",
                          name.c_str(), c, end.u, end.v, gap, (c + 1) % count);
            out.push_back(text);
            return;
        }
    }
    const int k = find_crossing(line);
    if (k >= 0) {
        std::snprintf(text, sizeof text, "%s crosses itself near (%g, %g)", name.c_str(), line[k].u,
                      line[k].v);
        out.push_back(text);
    }
}

}  // namespace

std::vector<std::string> check_loops(const SurfaceData& surface) {
    std::vector<std::string> out;
    check_one(surface.outer, "the outer loop", out);
    for (size_t h = 0; h < surface.holes.size(); ++h)
        check_one(surface.holes[h], "hole " + std::to_string(h), out);
    return out;
}

}  // namespace ruvane_tess
