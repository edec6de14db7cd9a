// An independent checker of tessellation results, for the tests only. It
// knows nothing of how the tessellator works: it takes the vertices, the
// triangles, the trim polygons and the metric-plane domain and verifies what
// a valid triangulation of the trimmed region must satisfy.
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

// Sutherland-Hodgman against the rectangle: correct area for any simple
// subject polygon, since the clip region is convex.
inline Poly clip_to_box(const Poly& in, double u0, double u1, double v0, double v1) {
    Poly cur = in;
    for (int side = 0; side < 4 && !cur.empty(); ++side) {
        // How far inside the side's half-plane p is.
        auto depth = [&](P2 p) {
            const double d[4] = {p.u - u0, u1 - p.u, p.v - v0, v1 - p.v};
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

inline double seg_distance(P2 p, P2 a, P2 b) {
    const double du = b.u - a.u, dv = b.v - a.v, l2 = du * du + dv * dv;
    double t = l2 > 0 ? ((p.u - a.u) * du + (p.v - a.v) * dv) / l2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.u - a.u - t * du, p.v - a.v - t * dv);
}

struct Options {
    double lu = 1, lv = 1;   // metric-plane domain [0, lu] x [0, lv]
    double tol = 1e-9;       // coincidence distance for vertices on polygon edges
    double area_rel = 1e-6;  // relative tolerance of the area balance
    bool check_area = true;  // off for self-intersecting loops, whose area is not a sum
};

// Area of the trimmed region inside the domain, outer loops counted positive
// and holes negative whatever their orientation (loop 0 is the outer one).
inline double region_area(const std::vector<Poly>& loops, const Options& o) {
    double area = 0;
    for (size_t k = 0; k < loops.size(); ++k) {
        const double a = std::fabs(signed_area(clip_to_box(loops[k], 0, o.lu, 0, o.lv)));
        area += k == 0 ? a : -a;
    }
    return area;
}

// Returns an empty text when every property holds, else the first failures.
inline std::string check(const Mesh& m, const std::vector<Poly>& loops, const Options& o) {
    std::ostringstream err;
    int failures = 0;
    auto fail = [&](const std::string& what) {
        if (failures++ < 5) err << what << "\n";
    };
    const double scale = std::max(o.lu, o.lv);
    std::map<std::pair<int, int>, int> directed;
    double area = 0;
    for (size_t t = 0; t < m.tri.size(); ++t) {
        const auto& tr = m.tri[t];
        for (int k = 0; k < 3; ++k)
            if (tr[k] < 0 || tr[k] >= static_cast<int>(m.vertex.size())) {
                fail("triangle with a bad vertex index");
                return err.str();
            }
        const P2 a = m.vertex[tr[0]], b = m.vertex[tr[1]], c = m.vertex[tr[2]];
        const double ar = 0.5 * cross(a, b, c);
        double longest = 0;
        for (int k = 0; k < 3; ++k) {
            const P2 p = m.vertex[tr[k]], q = m.vertex[tr[(k + 1) % 3]];
            longest = std::max(longest, std::hypot(q.u - p.u, q.v - p.v));
        }
        if (!(ar > 1e-13 * longest * longest)) {
            std::ostringstream s;
            s << "triangle " << t << " has area " << ar << " (not counter-clockwise or zero)";
            fail(s.str());
        }
        area += ar;
        const P2 g{(a.u + b.u + c.u) / 3, (a.v + b.v + c.v) / 3};
        if (!point_in(loops, g)) {
            std::ostringstream s;
            s << "triangle " << t << " centroid (" << g.u << ", " << g.v << ") outside the region";
            fail(s.str());
        }
        if (g.u < -o.tol || g.u > o.lu + o.tol || g.v < -o.tol || g.v > o.lv + o.tol)
            fail("triangle outside the domain");
        for (int k = 0; k < 3; ++k)
            if (++directed[{tr[k], tr[(k + 1) % 3]}] > 1)
                fail("an edge has two triangles on one side");
    }
    const double expected = region_area(loops, o);
    if (o.check_area && std::fabs(area - expected) >
                            o.area_rel * std::max(expected, 1e-300) + 1e-12 * scale * scale) {
        std::ostringstream s;
        s.precision(12);
        s << "mesh area " << area << " differs from the region's " << expected;
        fail(s.str());
    }
    // Edges with a triangle on one side only must lie on a polygon or on the
    // domain boundary: anything else is a gap or a T-junction.
    for (const auto& [e, n] : directed) {
        (void)n;
        if (directed.count({e.second, e.first})) continue;
        const P2 a = m.vertex[e.first], b = m.vertex[e.second];
        const P2 mid{(a.u + b.u) / 2, (a.v + b.v) / 2};
        bool ok = std::fabs(mid.u) <= o.tol || std::fabs(mid.u - o.lu) <= o.tol ||
                  std::fabs(mid.v) <= o.tol || std::fabs(mid.v - o.lv) <= o.tol;
        for (size_t k = 0; k < loops.size() && !ok; ++k)
            for (size_t i = 0, j = loops[k].size() - 1; i < loops[k].size() && !ok; j = i++)
                ok = seg_distance(mid, loops[k][j], loops[k][i]) <= o.tol;
        if (!ok) {
            std::ostringstream s;
            s << "open edge " << e.first << "-" << e.second << " at (" << mid.u << ", " << mid.v
              << ") lies on no trim edge: a crack";
            fail(s.str());
        }
    }
    // Every trim edge inside the domain is a chain of mesh edges.
    std::vector<char> used(m.vertex.size(), 0);
    std::vector<std::vector<int>> adjacent(m.vertex.size());
    for (const auto& tr : m.tri)
        for (int k = 0; k < 3; ++k) {
            used[tr[k]] = 1;
            adjacent[tr[k]].push_back(tr[(k + 1) % 3]);
            adjacent[tr[(k + 1) % 3]].push_back(tr[k]);
        }
    for (size_t k = 0; k < loops.size(); ++k) {
        const Poly& l = loops[k];
        for (size_t i = 0; i < l.size(); ++i) {
            // The part of the edge inside the domain.
            const Poly piece = clip_to_box({l[i], l[(i + 1) % l.size()]}, 0, o.lu, 0, o.lv);
            if (piece.empty()) continue;
            const P2 ca = piece[0];
            P2 cb = ca;
            for (P2 p : piece)
                if (std::hypot(p.u - ca.u, p.v - ca.v) > std::hypot(cb.u - ca.u, cb.v - ca.v))
                    cb = p;
            if (std::hypot(cb.u - ca.u, cb.v - ca.v) <= 10 * o.tol) continue;
            // A path of mesh edges from one end to the other that keeps
            // within tol of the trim edge.
            const P2 ends[2] = {ca, cb};
            int endv[2] = {-1, -1};
            for (int e = 0; e < 2; ++e) {
                double best = o.tol;
                for (size_t x = 0; x < m.vertex.size(); ++x) {
                    if (!used[x]) continue;
                    const double d =
                        std::hypot(m.vertex[x].u - ends[e].u, m.vertex[x].v - ends[e].v);
                    if (d <= best) {
                        best = d;
                        endv[e] = static_cast<int>(x);
                    }
                }
            }
            bool ok = endv[0] >= 0 && endv[1] >= 0;
            if (ok) {
                std::vector<int> stack{endv[0]};
                std::vector<char> seen(m.vertex.size(), 0);
                seen[endv[0]] = 1;
                bool reached = endv[0] == endv[1];
                while (!stack.empty() && !reached) {
                    const int x = stack.back();
                    stack.pop_back();
                    for (int y : adjacent[x]) {
                        if (seen[y] || seg_distance(m.vertex[y], ca, cb) > o.tol) continue;
                        seen[y] = 1;
                        if (y == endv[1]) reached = true;
                        stack.push_back(y);
                    }
                }
                ok = reached;
            }
            if (!ok) {
                std::ostringstream s;
                s << "trim edge " << k << ":" << i << " (" << ca.u << ", " << ca.v << ")-(" << cb.u
                  << ", " << cb.v << ") is not a chain of mesh edges";
                fail(s.str());
            }
        }
    }
    if (failures > 5) err << "... " << failures << " failures in all\n";
    return err.str();
}

}  // namespace mesh_check
