// Planar faces: the fixed boundary polygons are moved into the plane's own
// frame (from their points in space, so that the triangles stay flat and
// unfolded whatever the parametrisation), the holes bridged to the outer
// loop and the one polygon left cut into ears, the best-shaped ear first.
#include "nurbs/tessellation/tess_planar.h"

#include <algorithm>
#include <cmath>

#include "nurbs/nurbs.h"
#include "nurbs/tessellation/tess_fixed.h"

namespace ruvane::tess {

namespace {

// Work allowed for the bridge searches, in segment tests per boundary point
// squared: a hostile outline gives up instead of running long.
constexpr double kBridgeWork = 8.0;

struct P2 {
    double x, y;
};

// Signed distance of c from the line through a and b (left positive); the
// caller has made sure a and b are apart.
double side(const P2& a, const P2& b, const P2& c) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    return to_double((dx * (c.y - a.y) - dy * (c.x - a.x)) / std::sqrt(dx * dx + dy * dy));
}

double point_segment(const P2& p, const P2& a, const P2& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
    double t = l2 > 0.0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / l2 : 0.0;
    t = std::fmin(1.0, std::fmax(0.0, t));
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

// Whether segments pq and rs cross or come within eps of each other.
bool touch(const P2& p, const P2& q, const P2& r, const P2& s, double eps) {
    const double d1 = side(r, s, p), d2 = side(r, s, q), d3 = side(p, q, r), d4 = side(p, q, s);
    if (((d1 > eps && d2 < -eps) || (d1 < -eps && d2 > eps)) &&
        ((d3 > eps && d4 < -eps) || (d3 < -eps && d4 > eps)))
        return true;
    return point_segment(p, r, s) <= eps || point_segment(q, r, s) <= eps ||
           point_segment(r, p, q) <= eps || point_segment(s, p, q) <= eps;
}

// Whether the direction from b to m lies strictly inside the region's angle
// at b, the region lying left of a -> b -> c.
bool in_wedge(const P2& a, const P2& b, const P2& c, const P2& m, double eps) {
    const double l = side(a, b, m), r = side(b, c, m);
    if (side(a, b, c) > eps) return l > eps && r > eps;
    return l > eps || r > eps;
}

// Signed area of one loop of the point table (counter-clockwise positive).
double loop_area(const Table<P2>& p, int first, int count) {
    double a = 0.0;
    for (int i = 0, j = count - 1; i < count; j = i++)
        a += p[first + j].x * p[first + i].y - p[first + i].x * p[first + j].y;
    return 0.5 * a;
}

bool inside_loop(const Table<P2>& p, int first, int count, const P2& q) {
    bool in = false;
    for (int i = 0, j = count - 1; i < count; j = i++) {
        const P2 &a = p[first + i], &b = p[first + j];
        if ((a.y > q.y) != (b.y > q.y) && q.x < a.x + (q.y - a.y) * (b.x - a.x) / (b.y - a.y))
            in = !in;
    }
    return in;
}

// The boundary in the plane's frame: every point, its loop, its segment
// (point k to its successor) and the bridges made so far.
struct Outline {
    Table<P2> p;
    Table<int> first, count;  // per loop
    Table<int> next;          // per point, its successor in its loop
    Table<int> bridge_a, bridge_b;
    double eps = 0.0;
    double work = 0.0, budget = 0.0;
    bool refused = false;  // the host refused storage: not a reason to decline
    bool room(bool got) {
        refused = refused || !got;
        return got;
    }
};

// No two segments of the loops cross or touch, none folds back on its
// predecessor. Segments are swept in order of their lowest x.
bool simple_outline(Scratch& s, Outline& o) {
    const int n = o.p.size;
    Table<int> order;
    if (!o.room(order.resize(s, n, 0))) return false;
    for (int k = 0; k < n; ++k) order[k] = k;
    auto lo = [&](int k) { return std::fmin(o.p[k].x, o.p[o.next[k]].x); };
    std::sort(order.data, order.data + n, [&](int a, int b) {
        const double la = lo(a), lb = lo(b);
        return la < lb || (la == lb && a < b);
    });
    for (int a = 0; a < n; ++a) {
        const int i = order[a], in = o.next[i];
        const P2 &p = o.p[i], &q = o.p[in];
        if (std::hypot(q.x - p.x, q.y - p.y) <= o.eps) return false;
        const P2& after = o.p[o.next[in]];
        if (std::fabs(side(p, q, after)) <= o.eps &&
            (q.x - p.x) * (after.x - q.x) + (q.y - p.y) * (after.y - q.y) < 0.0)
            return false;
        const double hi = std::fmax(p.x, q.x) + o.eps;
        for (int b = a + 1; b < n && lo(order[b]) <= hi; ++b) {
            const int j = order[b], jn = o.next[j];
            if (jn == i || in == j) continue;  // neighbours share a point
            if (touch(p, q, o.p[j], o.p[jn], o.eps)) return false;
        }
    }
    return true;
}

// Whether the bridge m - v meets no segment nor earlier bridge.
bool bridge_clear(Outline& o, int m, int v) {
    const P2 &a = o.p[m], &b = o.p[v];
    const int n = o.p.size;
    o.work += n + o.bridge_a.size;
    for (int k = 0; k < n; ++k) {
        const int kn = o.next[k];
        if (k == m || k == v || kn == m || kn == v) continue;
        if (touch(a, b, o.p[k], o.p[kn], o.eps)) return false;
    }
    for (int k = 0; k < o.bridge_a.size; ++k) {
        const int x = o.bridge_a[k], y = o.bridge_b[k];
        if (x == m || x == v || y == m || y == v) continue;
        if (touch(a, b, o.p[x], o.p[y], o.eps)) return false;
    }
    return true;
}

// Joins hole h to the chain (the outer loop and the holes joined before) by
// a bridge from its point of largest x to the nearest chain point it sees.
bool bridge_hole(Scratch& s, Outline& o, int h, Table<int>& chain) {
    const int f = o.first[h], c = o.count[h];
    int m = f;
    for (int k = f + 1; k < f + c; ++k)
        if (o.p[k].x > o.p[m].x) m = k;
    const int mp = m == f ? f + c - 1 : m - 1;
    Table<int> cand;
    if (!o.room(cand.resize(s, chain.size, 0))) return false;
    for (int k = 0; k < chain.size; ++k) cand[k] = k;
    auto d2 = [&](int k) {
        const P2& q = o.p[chain[k]];
        return (q.x - o.p[m].x) * (q.x - o.p[m].x) + (q.y - o.p[m].y) * (q.y - o.p[m].y);
    };
    std::sort(cand.data, cand.data + cand.size, [&](int a, int b) {
        const double da = d2(a), db = d2(b);
        return da < db || (da == db && a < b);
    });
    const int n = chain.size;
    for (int t = 0; t < n && o.work <= o.budget; ++t) {
        const int pos = cand[t], v = chain[pos];
        const P2& before = o.p[chain[(pos + n - 1) % n]];
        const P2& after = o.p[chain[(pos + 1) % n]];
        if (!in_wedge(before, o.p[v], after, o.p[m], o.eps)) continue;
        if (!in_wedge(o.p[mp], o.p[m], o.p[o.next[m]], o.p[v], o.eps)) continue;
        if (!bridge_clear(o, m, v)) continue;
        // chain[0..pos], m, the hole round to m again, v, chain[pos + 1..].
        Table<int> joined;
        if (!o.room(joined.reserve(s, n + c + 2))) return false;
        for (int k = 0; k <= pos; ++k) joined.push(s, chain[k]);
        for (int k = 0, at = m; k <= c; ++k, at = o.next[at]) joined.push(s, at);
        joined.push(s, v);
        for (int k = pos + 1; k < n; ++k) joined.push(s, chain[k]);
        s.put(chain.data);
        chain = joined;
        return o.room(o.bridge_a.push(s, m) && o.bridge_b.push(s, v));
    }
    return false;
}

// Ear clipping of the chain (points may repeat where bridges run).
struct Ears {
    const Outline& o;
    const Table<int>& chain;
    const double* u;  // metric-plane coordinates per point
    const double* v;
    Table<int> prev, next;

    // Counter-clockwise in the metric plane too: a plane parametrised
    // other than affinely bends straight lines of one plane in the other.
    bool turns_left(int a, int b, int c) const {
        return to_double((u[b] - u[a]) * (v[c] - v[a]) - (v[b] - v[a]) * (u[c] - u[a])) > 0.0;
    }

    // The ear's area over the sum of its squared sides (largest for an
    // equilateral one); -1 when k is no ear: not strictly convex, or some
    // other point of the chain inside or on its triangle.
    double quality(int k) const {
        const int ia = chain[prev[k]], ib = chain[k], ic = chain[next[k]];
        const P2 &a = o.p[ia], &b = o.p[ib], &c = o.p[ic];
        const double lab = std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y));
        const double lbc = std::sqrt((c.x - b.x) * (c.x - b.x) + (c.y - b.y) * (c.y - b.y));
        const double lca = std::sqrt((a.x - c.x) * (a.x - c.x) + (a.y - c.y) * (a.y - c.y));
        if (!(lab > o.eps) || !(lbc > o.eps) || !(lca > o.eps)) return -1.0;
        const double twice = to_double((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x));
        if (!(twice > o.eps * lab) || !turns_left(ia, ib, ic)) return -1.0;
        // x is outside when it lies more than eps to the right of a side.
        auto out = [&](const P2& p, const P2& q, double len, const P2& x) {
            return to_double((q.x - p.x) * (x.y - p.y) - (q.y - p.y) * (x.x - p.x)) < -o.eps * len;
        };
        for (int j = next[next[k]]; j != prev[k]; j = next[j]) {
            const int q = chain[j];
            if (q == ia || q == ib || q == ic) continue;
            const P2& x = o.p[q];
            if (!out(a, b, lab, x) && !out(b, c, lbc, x) && !out(c, a, lca, x)) return -1.0;
        }
        return 0.5 * twice / (lab * lab + lbc * lbc + lca * lca);
    }
};

bool clip_ears(Scratch& s, Outline& o, const Table<int>& chain, const PlanarMesh& m,
               Table<Tri>& tris) {
    const int n = chain.size;
    Ears e{o, chain, m.u.data, m.v.data, {}, {}};
    Table<double> q;
    if (!o.room(e.prev.resize(s, n, 0) && e.next.resize(s, n, 0) && q.resize(s, n, -1.0) &&
                tris.reserve(s, n)))
        return false;
    for (int k = 0; k < n; ++k) {
        e.prev[k] = (k + n - 1) % n;
        e.next[k] = (k + 1) % n;
    }
    for (int k = 0; k < n; ++k) q[k] = e.quality(k);
    int start = 0;
    for (int left = n; left > 3; --left) {
        int best = -1;
        int k = start;
        for (int i = 0; i < left; ++i, k = e.next[k])
            if (q[k] > 0.0 && (best < 0 || q[k] > q[best])) best = k;
        if (best < 0) return false;
        tris.push(s, {chain[e.prev[best]], chain[best], chain[e.next[best]]});
        const int a = e.prev[best], c = e.next[best];
        e.next[a] = c;
        e.prev[c] = a;
        start = a;
        q[a] = e.quality(a);
        q[c] = e.quality(c);
    }
    // The last three: a proper triangle, or the outline was degenerate.
    if (!(e.quality(start) > 0.0)) return false;
    tris.push(s, {chain[e.prev[start]], chain[start], chain[e.next[start]]});
    return true;
}

// The fixed loops in the metric plane (as the general path moves them) and
// their surface points; false on storage failure or a degenerate loop.
Planar gather(Scratch& s, const Surface& sur, const FixedLoops& fixed, double C, PlanarMesh& out,
              Outline& o) {
    SurfaceMeasures g{};
    if (take_measures(sur, g) != kOk) return Planar::kDeclined;
    for (int k = 0; k < fixed.loops; ++k) {
        Loop loop;
        if (!build_fixed_loop(fixed.at(k), s, loop)) return Planar::kNoStorage;
        finish_fixed_loop(g, loop, C);
        if (loop.u.size < 3) return Planar::kDeclined;
        if (!o.first.push(s, out.u.size) || !o.count.push(s, loop.u.size))
            return Planar::kNoStorage;
        for (int i = 0; i < loop.u.size; ++i) {
            const double u = loop.u[i] == g.Lu ? g.u_max : g.u_min + loop.u[i] / g.su;
            const double v = loop.v[i] == g.Lv ? g.v_max : g.v_min + loop.v[i] / g.sv;
            Point3 S;
            if (N_SUREVN(sur, 1, std::fmin(u, g.u_max), std::fmin(v, g.v_max), &S) != kOk)
                return Planar::kDeclined;
            const int next = i + 1 < loop.u.size ? out.u.size + 1 : o.first[k];
            if (!out.u.push(s, loop.u[i]) || !out.v.push(s, loop.v[i]) ||
                !out.id.push(s, loop.id[i]) || !out.at.push(s, S) || !o.next.push(s, next))
                return Planar::kNoStorage;
        }
        s.put(loop.u.data);
        s.put(loop.v.data);
        s.put(loop.id.data);
    }
    return Planar::kMeshed;
}

// The points in the plane's frame, turned so that the outer loop runs
// counter-clockwise (as it does in the parameter plane): false when the
// holes do not then run the other way or the outline is degenerate.
bool to_frame(Scratch& s, PlanarMesh& out, Outline& o) {
    Point3 n = out.normal;
    const Point3 axis = std::fabs(n.x) < 0.6 ? Point3{1, 0, 0} : Point3{0, 1, 0};
    Point3 e1 = vec_cross(axis, n);
    e1 = vec_scale(e1, 1.0 / vec_length(e1));
    Point3 e2 = vec_cross(n, e1);
    const Point3 origin = out.at[0];
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    for (int k = 0; k < out.at.size; ++k) {
        const Point3 d = vec_sub(out.at[k], origin);
        const P2 q{vec_dot(d, e1), vec_dot(d, e2)};
        if (!o.room(o.p.push(s, q))) return false;
        x0 = std::fmin(x0, q.x), x1 = std::fmax(x1, q.x);
        y0 = std::fmin(y0, q.y), y1 = std::fmax(y1, q.y);
    }
    o.eps = 1e-9 * std::hypot(x1 - x0, y1 - y0);
    if (loop_area(o.p, o.first[0], o.count[0]) < 0.0) {
        for (int k = 0; k < o.p.size; ++k) o.p[k].y = -o.p[k].y;
        out.normal = vec_scale(n, -1.0);
    }
    const double floor = o.eps * std::hypot(x1 - x0, y1 - y0);
    for (int h = 0; h < o.first.size; ++h) {
        const double a = loop_area(o.p, o.first[h], o.count[h]);
        if (h == 0 ? !(a > floor) : !(a < -floor)) return false;
    }
    return true;
}

// Every hole inside the outer loop and outside every other hole (the loops
// are known not to cross, so one point of each decides).
bool holes_placed(const Outline& o) {
    for (int h = 1; h < o.first.size; ++h) {
        const P2& q = o.p[o.first[h]];
        if (!inside_loop(o.p, o.first[0], o.count[0], q)) return false;
        for (int k = 1; k < o.first.size; ++k)
            if (k != h && inside_loop(o.p, o.first[k], o.count[k], q)) return false;
    }
    return true;
}

}  // namespace

bool plane_of_net(const Surface& sur, double tol, Point3* n) {
    const ControlNet& net = *sur.net;
    Point3 sum{0, 0, 0}, mid{0, 0, 0};
    for (int i = 0; i <= net.n; ++i)
        for (int j = 0; j <= net.m; ++j) {
            const double w = net.Pw[i][j].w;
            if (w != kNonRationalW && !(w > 0.0)) return false;
            mid = vec_add(mid, project_point(net.Pw[i][j]));
            if (i == net.n || j == net.m) continue;
            const Point3 a = project_point(net.Pw[i][j]), b = project_point(net.Pw[i + 1][j]);
            const Point3 c = project_point(net.Pw[i + 1][j + 1]);
            const Point3 d = project_point(net.Pw[i][j + 1]);
            sum = vec_add(sum, vec_cross(vec_sub(c, a), vec_sub(d, b)));
        }
    const double len = vec_length(sum);
    if (!(len > 0.0) || !std::isfinite(len)) return false;
    const Point3 u = vec_scale(sum, 1.0 / len);
    mid = vec_scale(mid, 1.0 / ((net.n + 1.0) * (net.m + 1.0)));
    for (int i = 0; i <= net.n; ++i)
        for (int j = 0; j <= net.m; ++j)
            if (!(std::fabs(vec_dot(u, vec_sub(project_point(net.Pw[i][j]), mid))) <= tol))
                return false;
    *n = u;
    return true;
}

Planar mesh_planar(Scratch& s, const Surface& sur, const FixedLoops& fixed, double A, double C,
                   PlanarMesh& out) {
    int total = 0;
    for (int k = 0; k < fixed.loops; ++k) {
        if (fixed.count[k] < 3) return Planar::kDeclined;
        total += fixed.count[k];
        if (total > kPlanarMaxPoints) return Planar::kDeclined;
    }
    Point3 net_normal;
    if (!plane_of_net(sur, kPlanarShare * A, &net_normal)) return Planar::kDeclined;
    Outline o;
    const Planar got = gather(s, sur, fixed, C, out, o);
    if (got != Planar::kMeshed) return got;
    out.normal = net_normal;
    if (!to_frame(s, out, o)) return o.refused ? Planar::kNoStorage : Planar::kDeclined;
    // A net turned against its boundary: the parametrisation folds.
    if (vec_dot(out.normal, net_normal) < 0.0) return Planar::kDeclined;
    if (!simple_outline(s, o)) return o.refused ? Planar::kNoStorage : Planar::kDeclined;
    if (!holes_placed(o)) return Planar::kDeclined;
    // Holes in order of their largest x, each bridged to what is joined so far.
    Table<int> chain, order;
    if (!chain.reserve(s, o.p.size + 3 * o.first.size)) return Planar::kNoStorage;
    for (int k = 0; k < o.count[0]; ++k) chain.push(s, o.first[0] + k);
    for (int h = 1; h < o.first.size; ++h)
        if (!order.push(s, h)) return Planar::kNoStorage;
    auto right = [&](int h) {
        double x = o.p[o.first[h]].x;
        for (int k = 1; k < o.count[h]; ++k) x = std::fmax(x, o.p[o.first[h] + k].x);
        return x;
    };
    std::sort(order.data, order.data + order.size, [&](int a, int b) {
        const double ra = right(a), rb = right(b);
        return ra > rb || (ra == rb && a < b);
    });
    o.budget = kBridgeWork * static_cast<double>(o.p.size) * o.p.size;
    for (int k = 0; k < order.size; ++k)
        if (!bridge_hole(s, o, order[k], chain))
            return o.refused ? Planar::kNoStorage : Planar::kDeclined;
    if (!clip_ears(s, o, chain, out, out.tris))
        return o.refused ? Planar::kNoStorage : Planar::kDeclined;
    out.first = o.first;
    out.count = o.count;
    // Counter-clockwise in the plane must be so in the metric plane too.
    for (int t = 0; t < out.tris.size; ++t) {
        const Tri& r = out.tris[t];
        const double a = (out.u[r.b] - out.u[r.a]) * (out.v[r.c] - out.v[r.a]) -
                         (out.v[r.b] - out.v[r.a]) * (out.u[r.c] - out.u[r.a]);
        if (!(a > 0.0)) return Planar::kDeclined;
    }
    return Planar::kMeshed;
}

}  // namespace ruvane::tess
