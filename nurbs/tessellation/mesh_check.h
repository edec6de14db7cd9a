// An independent checker of tessellation results: what a valid triangulation
// of the trimmed region must satisfy, knowing nothing of how it was made.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace mesh_check {

struct P2 {
    double u, v;
};
using Poly = std::vector<P2>;

struct Mesh {
    std::vector<P2> vertex;
    std::vector<std::array<int, 3>> tri;
};

inline double cross(P2 a, P2 b, P2 c) {
    return (b.u - a.u) * (c.v - a.v) - (b.v - a.v) * (c.u - a.u);
}

inline double signed_area(const Poly& p) {
    double a = 0;
    for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
        a += p[j].u * p[i].v - p[i].u * p[j].v;
    return 0.5 * a;
}

// Sutherland-Hodgman against [0, lu] x [0, lv]: correct area for any simple
// subject polygon, since the clip region is convex.
inline Poly clip_to_box(const Poly& in, double lu, double lv) {
    Poly cur = in;
    for (int side = 0; side < 4 && !cur.empty(); ++side) {
        // How far inside the side's half-plane p is.
        auto depth = [&](P2 p) {
            const double d[4] = {p.u, lu - p.u, p.v, lv - p.v};
            return d[side];
        };
        Poly out;
        for (size_t i = 0; i < cur.size(); ++i) {
            const P2 a = cur[(i + cur.size() - 1) % cur.size()], b = cur[i];
            const double da = depth(a), db = depth(b);
            if ((da >= 0) != (db >= 0)) {
                const double t = da / (da - db);
                out.push_back({a.u + t * (b.u - a.u), a.v + t * (b.v - a.v)});
            }
            if (db >= 0) out.push_back(b);
        }
        cur = out;
    }
    return cur;
}

inline bool point_in(const std::vector<Poly>& loops, P2 p) {
    bool in = false;
    for (const Poly& l : loops)
        for (size_t i = 0, j = l.size() - 1; i < l.size(); j = i++)
            if ((l[i].v > p.v) != (l[j].v > p.v) &&
                p.u < l[i].u + (p.v - l[i].v) / (l[j].v - l[i].v) * (l[j].u - l[i].u))
                in = !in;
    return in;
}

inline double dist(P2 a, P2 b) { return std::hypot(a.u - b.u, a.v - b.v); }

inline double seg_distance(P2 p, P2 a, P2 b) {
    const double du = b.u - a.u, dv = b.v - a.v, l2 = du * du + dv * dv;
    const double t =
        l2 > 0 ? std::clamp(((p.u - a.u) * du + (p.v - a.v) * dv) / l2, 0.0, 1.0) : 0.0;
    return std::hypot(p.u - a.u - t * du, p.v - a.v - t * dv);
}

template <class... T>
std::string text(const T&... x) {
    std::ostringstream s;
    s.precision(12);
    (s << ... << x);
    return s.str();
}

// Returns an empty text when every property holds, else the first failures:
// the domain is [0, lu] x [0, lv], vertices on polygon edges lie within tol
// of them, the area balances to a relative 1e-6.
inline std::string check(const Mesh& m, const std::vector<Poly>& loops, double lu, double lv,
                         double tol) {
    std::string err;
    int failures = 0;
    auto fail = [&](const std::string& what) {
        if (failures++ < 5) err += what + "\n";
    };
    std::map<std::pair<int, int>, int> directed;
    double area = 0;
    for (size_t t = 0; t < m.tri.size(); ++t) {
        const auto& tr = m.tri[t];
        for (int k = 0; k < 3; ++k)
            if (tr[k] < 0 || tr[k] >= static_cast<int>(m.vertex.size()))
                return "triangle with a bad vertex index";
        const P2 a = m.vertex[tr[0]], b = m.vertex[tr[1]], c = m.vertex[tr[2]];
        const double ar = 0.5 * cross(a, b, c),
                     longest = std::max({dist(a, b), dist(b, c), dist(c, a)});
        if (!(ar > 1e-13 * longest * longest))
            fail(text("triangle ", t, " has area ", ar, " (not counter-clockwise or zero)"));
        area += ar;
        const P2 g{(a.u + b.u + c.u) / 3, (a.v + b.v + c.v) / 3};
        if (!point_in(loops, g))
            fail(text("triangle ", t, " centroid (", g.u, ", ", g.v, ") outside the region"));
        if (g.u < -tol || g.u > lu + tol || g.v < -tol || g.v > lv + tol)
            fail("triangle outside the domain");
        for (int k = 0; k < 3; ++k)
            if (++directed[{tr[k], tr[(k + 1) % 3]}] > 1)
                fail("an edge has two triangles on one side");
    }
    // The region's area inside the domain: holes count negative whatever
    // their orientation (loop 0 is the outer one).
    double expected = 0;
    for (size_t k = 0; k < loops.size(); ++k)
        expected += (k == 0 ? 1 : -1) * std::fabs(signed_area(clip_to_box(loops[k], lu, lv)));
    const double scale = std::max(lu, lv);
    if (std::fabs(area - expected) > 1e-6 * std::max(expected, 1e-300) + 1e-12 * scale * scale)
        fail(text("mesh area ", area, " differs from the region's ", expected));
    // Edges with a triangle on one side only must lie on a polygon or on the
    // domain boundary: anything else is a gap or a T-junction.
    for (const auto& [e, n] : directed) {
        if (directed.count({e.second, e.first})) continue;
        const P2 mid{(m.vertex[e.first].u + m.vertex[e.second].u) / 2,
                     (m.vertex[e.first].v + m.vertex[e.second].v) / 2};
        bool ok = std::fabs(mid.u) <= tol || std::fabs(mid.u - lu) <= tol ||
                  std::fabs(mid.v) <= tol || std::fabs(mid.v - lv) <= tol;
        for (size_t k = 0; k < loops.size() && !ok; ++k)
            for (size_t i = 0, j = loops[k].size() - 1; i < loops[k].size() && !ok; j = i++)
                ok = seg_distance(mid, loops[k][j], loops[k][i]) <= tol;
        if (!ok)
            fail(text("open edge ", e.first, "-", e.second, " at (", mid.u, ", ", mid.v,
                      ") lies on no trim edge: a crack"));
    }
    if (failures > 5) err += text("... ", failures, " failures in all\n");
    return err;
}

}  // namespace mesh_check
